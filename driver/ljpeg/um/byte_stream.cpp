// Byte streams. A MemoryStream reads and writes caller memory of fixed
// capacity; a SizeCounter stores nothing and counts exactly the bytes a
// MemoryStream writer would store, so size-only mode predicts encode mode to
// the byte.
//
// Every capacity check is written so that it cannot wrap: "position + n <=
// size" becomes "size - position >= n" after "position <= size".

#include "byte_stream.h"

#include "trivjpeg.h"

namespace {

// --- MemoryStream ----------------------------------------------------------

bool HasRoom(const ByteStream *s, uint32_t n) {
    return s->position <= s->size && s->size - s->position >= n;
}

// Stores one byte, or fails; only the callers decide whether a failure is
// reported in the status (WriteBits does not report it).
bool StoreByte(ByteStream *s, uint32_t byte) {
    if (!HasRoom(s, 1)) return false;
    s->buffer[s->position++] = static_cast<uint8_t>(byte);
    return true;
}

// The completed bit byte goes out, followed by 0x00 when it is 0xFF so that a
// decoder never mistakes entropy-coded data for a marker.
bool EmitBitByte(ByteStream *s) {
    uint32_t byte = s->bitBuffer & 0xFF;
    if (!StoreByte(s, byte)) return false;
    s->bitCount = 0;
    return byte != 0xFF || StoreByte(s, 0x00);
}

// One bit as WriteBit and WriteBits take it. After a store that found no
// room bitCount stays at 8 and every further bit fails: the stream is not
// used again after a failure.
bool PutBit(ByteStream *s, uint32_t bit) {
    if (s->bitCount > 7) return false;
    s->bitBuffer = (s->bitBuffer | (bit << (7 - s->bitCount))) & 0xFF;
    if (++s->bitCount < 8) return true;
    if (!EmitBitByte(s)) return false;
    s->bitBuffer = 0;
    return true;
}

int32_t Fail(ByteStream *s) {
    *s->status |= StatusStreamBound;
    return 0;
}

uint32_t MemTell(ByteStream *s) { return s->position; }

int32_t MemSeek(ByteStream *s, int32_t offset, uint32_t whence) {
    uint32_t base;
    switch (whence) {
        case 0: base = 0; break;
        case 1: base = s->position; break;
        case 2: base = s->size; break;
        default: return 0;
    }
    // Wrap-around is intended: whence 2 reaches back with negative offsets.
    uint32_t target = base + static_cast<uint32_t>(offset);
    if (target >= s->size) return Fail(s);
    s->position = target;
    return 1;
}

int32_t MemReadByte(ByteStream *s, uint8_t *byte) {
    s->bitCount = 0;  // bits left over from ReadBit are dropped
    if (!HasRoom(s, 1)) return Fail(s);
    *byte = s->buffer[s->position++];
    return 1;
}

int32_t MemReadBit(ByteStream *s, uint16_t *bit) {
    if (s->bitCount > 0) {
        --s->bitCount;
        *bit = (s->bitBuffer >> (s->bitCount & 31)) & 1;
        return 1;
    }
    if (!HasRoom(s, 1)) return Fail(s);
    s->bitBuffer = s->buffer[s->position++];
    s->bitCount = 7;
    *bit = (s->bitBuffer >> 7) & 1;
    if (s->bitBuffer != 0xFF) return 1;
    // 0xFF in entropy-coded data must be followed by a stuffed 0x00; anything
    // else is a marker, and the data ends before it.
    if (!HasRoom(s, 1)) return Fail(s);
    if (s->buffer[s->position++] != 0x00) return Fail(s);
    return 1;
}

int32_t MemReadWordLe(ByteStream *s, uint16_t *word) {
    s->bitCount = 0;
    if (!HasRoom(s, 2)) return Fail(s);
    const uint8_t *p = s->buffer + s->position;
    *word = static_cast<uint16_t>(p[0] | p[1] << 8);
    s->position += 2;
    return 1;
}

int32_t MemReadWordBe(ByteStream *s, uint16_t *word) {
    s->bitCount = 0;
    if (!HasRoom(s, 2)) return Fail(s);
    const uint8_t *p = s->buffer + s->position;
    *word = static_cast<uint16_t>(p[0] << 8 | p[1]);
    s->position += 2;
    return 1;
}

int32_t MemReadDwordLe(ByteStream *s, uint32_t *dword) {
    if (!HasRoom(s, 4)) return Fail(s);
    const uint8_t *p = s->buffer + s->position;
    *dword = p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    s->position += 4;
    return 1;
}

int32_t MemReadDwordBe(ByteStream *s, uint32_t *dword) {
    if (!HasRoom(s, 4)) return Fail(s);
    const uint8_t *p = s->buffer + s->position;
    *dword = static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
    s->position += 4;
    return 1;
}

int32_t MemWriteBit(ByteStream *s, uint32_t bit) { return PutBit(s, bit) ? 1 : Fail(s); }

int32_t MemWriteBits(ByteStream *s, uint32_t count, uint32_t value) {
    count &= 0xFF;
    value &= 0xFFFF;
    for (uint32_t i = count; i-- > 0;) {
        uint32_t bit = i < 16 ? (value >> i) & 1 : 0;
        if (!PutBit(s, bit)) return 0;
    }
    return 1;
}

// Pending bits go out as they are: no padding and no stuffing. Markers and
// segment headers are written this way.
int32_t MemWriteByte(ByteStream *s, uint32_t byte) {
    if (s->bitCount != 0) {
        if (!StoreByte(s, s->bitBuffer)) return Fail(s);
        s->bitCount = 0;
    }
    return StoreByte(s, byte) ? 1 : Fail(s);
}

int32_t MemWriteWordLe(ByteStream *s, uint32_t word) {
    return MemWriteByte(s, word & 0xFF) && MemWriteByte(s, (word >> 8) & 0xFF);
}

int32_t MemWriteWordBe(ByteStream *s, uint32_t word) {
    return MemWriteByte(s, (word >> 8) & 0xFF) && MemWriteByte(s, word & 0xFF);
}

int32_t MemWriteDwordLe(ByteStream *s, uint32_t dword) {
    return MemWriteWordLe(s, dword & 0xFFFF) && MemWriteWordLe(s, dword >> 16);
}

int32_t MemWriteDwordBe(ByteStream *s, uint32_t dword) {
    return MemWriteWordBe(s, dword >> 16) && MemWriteWordBe(s, dword & 0xFFFF);
}

// The pad bits are ones, so a decoder reading past the end of the data sees
// the prefix of no short code.
uint32_t PadMask(uint32_t bitCount) { return bitCount < 8 ? 0xFFu >> bitCount : 0; }

int32_t MemFlushBits(ByteStream *s) {
    if (s->bitCount == 0) return 1;
    s->bitBuffer |= PadMask(s->bitCount);
    return EmitBitByte(s) ? 1 : Fail(s);
}

void MemSetReadOrder(ByteStream *s, uint32_t order) {
    s->ReadWord = order == 1 ? MemReadWordLe : MemReadWordBe;
    s->ReadDword = order == 1 ? MemReadDwordLe : MemReadDwordBe;
}

void MemSetWriteOrder(ByteStream *s, uint32_t order) {
    s->WriteWord = order == 1 ? MemWriteWordLe : MemWriteWordBe;
    s->WriteDword = order == 1 ? MemWriteDwordLe : MemWriteDwordBe;
}

// --- SizeCounter -----------------------------------------------------------

// Counts one byte. A count that would pass 2^32 - 1 cannot be reported in
// destSize, so it fails rather than wrap to a small, wrong length.
bool CountByte(ByteStream *s) {
    if (s->position == 0xFFFFFFFFu) return false;
    ++s->position;
    if (s->size < s->position) s->size = s->position;
    return true;
}

bool CountBitByte(ByteStream *s) {
    uint32_t byte = s->bitBuffer & 0xFF;
    if (!CountByte(s)) return false;
    s->bitCount = 0;
    return byte != 0xFF || CountByte(s);
}

bool CountBit(ByteStream *s, uint32_t bit) {
    if (s->bitCount < 8) s->bitBuffer = (s->bitBuffer | ((bit & 1) << (7 - s->bitCount))) & 0xFF;
    if (++s->bitCount < 8) return true;
    if (!CountBitByte(s)) return false;
    s->bitBuffer = 0;
    return true;
}

void CountSetOrder(ByteStream *, uint32_t) {}

int32_t CountSeek(ByteStream *s, int32_t offset, uint32_t whence) {
    uint32_t base;
    switch (whence) {
        case 0: base = 0; break;
        case 1: base = s->position; break;
        case 2: base = s->size; break;
        default: return 0;
    }
    int32_t target = static_cast<int32_t>(base + static_cast<uint32_t>(offset));
    if (target < 0) return 0;
    s->position = static_cast<uint32_t>(target);
    return 1;
}

int32_t CountReadBit(ByteStream *, uint16_t *) { return 0; }
int32_t CountReadByte(ByteStream *, uint8_t *) { return 0; }
int32_t CountReadWord(ByteStream *, uint16_t *) { return 0; }
int32_t CountReadDword(ByteStream *, uint32_t *) { return 0; }

int32_t CountWriteBit(ByteStream *s, uint32_t bit) { return CountBit(s, bit) ? 1 : Fail(s); }

int32_t CountWriteBits(ByteStream *s, uint32_t count, uint32_t value) {
    count &= 0xFF;
    value &= 0xFFFF;
    for (uint32_t i = count; i-- > 0;) {
        uint32_t bit = i < 16 ? (value >> i) & 1 : 0;
        if (!CountBit(s, bit)) return Fail(s);
    }
    return 1;
}

int32_t CountWriteByte(ByteStream *s, uint32_t) {
    if (s->bitCount != 0) {
        if (!CountByte(s)) return Fail(s);
        s->bitCount = 0;
    }
    return CountByte(s) ? 1 : Fail(s);
}

int32_t CountWriteWord(ByteStream *s, uint32_t) {
    return CountWriteByte(s, 0) && CountWriteByte(s, 0);
}

int32_t CountWriteDword(ByteStream *s, uint32_t) {
    return CountWriteWord(s, 0) && CountWriteWord(s, 0);
}

int32_t CountFlushBits(ByteStream *s) {
    if (s->bitCount == 0) return 1;
    s->bitBuffer |= PadMask(s->bitCount);
    return CountBitByte(s) ? 1 : Fail(s);
}

}  // namespace

ByteStream *InitMemoryStream(ByteStream *s, uint32_t capacity, uint8_t *buffer, uint16_t *status) {
    s->SetReadOrder = MemSetReadOrder;
    s->SetWriteOrder = MemSetWriteOrder;
    s->Tell = MemTell;
    s->Seek = MemSeek;
    s->ReadBit = MemReadBit;
    s->ReadByte = MemReadByte;
    s->ReadWord = MemReadWordLe;
    s->ReadDword = MemReadDwordLe;
    s->WriteBit = MemWriteBit;
    s->WriteByte = MemWriteByte;
    s->WriteWord = MemWriteWordLe;
    s->WriteDword = MemWriteDwordLe;
    s->FlushBits = MemFlushBits;
    s->WriteBits = MemWriteBits;
    s->bitBuffer = 0;
    s->bitCount = 0;
    s->buffer = buffer;
    s->size = capacity;
    s->position = 0;
    s->status = status;
    s->SetReadOrder(s, 1);
    s->SetWriteOrder(s, 1);
    return s;
}

ByteStream *InitSizeCounter(ByteStream *s, uint16_t *status) {
    s->SetReadOrder = CountSetOrder;
    s->SetWriteOrder = CountSetOrder;
    s->Tell = MemTell;
    s->Seek = CountSeek;
    s->ReadBit = CountReadBit;
    s->ReadByte = CountReadByte;
    s->ReadWord = CountReadWord;
    s->ReadDword = CountReadDword;
    s->WriteBit = CountWriteBit;
    s->WriteByte = CountWriteByte;
    s->WriteWord = CountWriteWord;
    s->WriteDword = CountWriteDword;
    s->FlushBits = CountFlushBits;
    s->WriteBits = CountWriteBits;
    s->bitBuffer = 0;
    s->bitCount = 0;
    s->buffer = nullptr;
    s->size = 0;
    s->position = 0;
    s->status = status;
    return s;
}
