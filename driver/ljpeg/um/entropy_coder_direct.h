// The parts of the block coder that the plain coder (entropy_coder.cpp) and
// its vector twins (entropy_coder_x86.cpp) share: categories and value
// bits, the direct coder that codes a whole block while the room allows,
// and the staged calls for when it does not.
#pragma once

#include <stdint.h>
#include <string.h>

#include <bit>
#include <type_traits>

#include "encoder_session.h"
#include "stream_headers.h"

namespace coder {

// Magnitude category (the number of significant bits of |y|) and value
// bits, without branches: negative values send the low bits of y - 1, the
// one's complement of their magnitude. The category is the index of the top
// bit of 2|y| + 1, which is never 0, so the bit scan needs no test for a
// zero y (a DC difference of 0 is common, and a branch on it foreseen
// badly); |y| is below 2^31 (an int16 coefficient or a difference of two).
inline uint32_t CategoryOf(int32_t y) {
    uint32_t sign = static_cast<uint32_t>(y >> 31);
    const uint32_t m = (static_cast<uint32_t>(y) ^ sign) - sign;
    return static_cast<uint32_t>(__builtin_clz(2 * m + 1)) ^ 31;
}
inline uint32_t MagnitudeOf(int32_t y) {
    uint32_t sign = static_cast<uint32_t>(y >> 31);
    return (static_cast<uint32_t>(y) ^ sign) - sign;
}
// The category of a nonzero magnitude (no test for zero): 31 - clz is the
// index of the top bit (one instruction, bsr).
inline uint32_t CategoryOfMagnitude(uint32_t m) {
    return (static_cast<uint32_t>(__builtin_clz(m)) ^ 31) + 1;
}
inline uint32_t CategoryOfNonzero(int32_t y) { return CategoryOfMagnitude(MagnitudeOf(y)); }
inline uint32_t ValueField(int32_t y, uint32_t category) {
    return (static_cast<uint32_t>(y) + static_cast<uint32_t>(y >> 31)) & ((1u << category) - 1);
}

// The coders' bounds hold for any block whatever its values, so that no
// coefficient can take them outside their buffers:
// - every code length is at most 16, and 0 for a symbol no table lists
//   (WriteDht fills every entry);
// - an int16 coefficient, or the difference of two, has a category of at
//   most 16, and the symbol (run x 16 + category) is taken modulo 256, so
//   every lookup stays inside the 256 entries.
// A block whose coefficients the tables cannot code (a category above
// theirs, which a quantised block of 8-bit samples never has: |AC| <= 1020,
// |DC difference| <= 2040) fails its call, with nothing completed.
constexpr uint32_t kMaxCodeLength = 16;
constexpr uint32_t kMaxCategory = 16;
constexpr uint32_t kMaxAcCategory = 10;
constexpr uint32_t kMaxDcCategory = 11;
// The AC magnitudes of categories up to 10: their bitwise OR stays within
// it too, so one OR per coefficient and one test per block find any other.
constexpr uint32_t kMaxAcMagnitude = (1u << kMaxAcCategory) - 1;

// The symbol of a run of zeros and a category, inside the table.
inline uint32_t AcSymbol(uint32_t run, uint32_t category) { return (run * 16 + category) & 0xFF; }

// The staged calls (entropy_coder.cpp): one DC difference, the AC
// coefficients of one block; each fails, writing nothing, where it does not
// fit.
int32_t CodeDc(EncoderSession *session, const HuffmanCodeTable *table, int32_t difference);
int32_t CodeAc(EncoderSession *session, const HuffmanCodeTable *table, const int16_t *block);

// --- Direct coding ---------------------------------------------------------

// The most one block can complete, whatever its values: 7 pending bits, then
// a code and value bits for the DC and each of the 63 AC coefficients, each
// at most 16 + 16 bits (a ZRL or EOB code stands for zeros, which have no
// code of their own); each byte possibly stuffed. Valid blocks need less
// (418 bytes), but the reserve does not rest on the values being valid.
constexpr uint32_t kMaxPackedBytes = (7 + 64 * (kMaxCodeLength + kMaxCategory)) / 8;
constexpr uint32_t kMaxBlockBytes = 2 * kMaxPackedBytes;
static_assert(kMaxBlockBytes == 512);

// The word the packed bytes are moved by: the widest a register holds.
using Word = std::conditional_t<sizeof(void *) == 4, uint32_t, uint64_t>;
constexpr uint32_t kWordBytes = sizeof(Word);
constexpr Word kOnes = static_cast<Word>(~Word{0}) / 0xFF;  // 0x0101...
constexpr Word kTops = kOnes * 0x80;                         // 0x8080...

template <class T = Word>
inline T LoadWord(const uint8_t *p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

// Bytes of w that equal 0xFF, each marked by its top bit (exact, no false
// marks from carries).
inline Word FfBytes(Word w) {
    const Word t = ~w;
    return ~(((t & (kOnes * 0x7F)) + kOnes * 0x7F) | t) & kTops;
}

// Whether any byte of w equals 0xFF (exact for "any", not for which).
template <class T = Word>
inline bool HasFfByte(T w) {
    constexpr T ones = static_cast<T>(~T{0}) / 0xFF;
    return ((~w - ones) & w & (ones * 0x80)) != 0;
}

// One byte, and a stuffed 0x00 after 0xFF.
inline uint8_t *PutStuffed(uint8_t *to, uint8_t byte) {
    *to++ = byte;
    if (byte == 0xFF) *to++ = 0x00;
    return to;
}

// The low k bytes of a word set, for k from 0 to kWordBytes.
struct LowBytes {
    Word mask[kWordBytes + 1];
};
constexpr LowBytes MakeLowBytes() {
    LowBytes t{};
    for (uint32_t k = 1; k <= kWordBytes; ++k) t.mask[k] = t.mask[k - 1] << 8 | 0xFF;
    return t;
}
inline constexpr LowBytes kLowBytes = MakeLowBytes();

// Up to two 8-byte words of packed bytes without 0xFF (most blocks) moved
// as two words stored over the bytes that lay there, the bytes past n
// written back as they were read: no loop whose length the processor cannot
// foresee. False, storing nothing, for more bytes or a 0xFF among them.
// Inlined into the coder, it spares most busy blocks a call. It reads two
// words of the packed room whatever n is. (A 32-bit build's two words hold
// too few bytes to pay.)
inline bool MoveTwoWords(ByteStream *out, const uint8_t *packed, uint32_t n) {
    if (kWordBytes != 8 || n > 2 * kWordBytes) return false;
    const uint32_t first = n < kWordBytes ? n : kWordBytes;
    const Word low = kLowBytes.mask[first], high = kLowBytes.mask[n - first];
    const Word a = LoadWord(packed) & low, b = LoadWord(packed + kWordBytes) & high;
    if (__builtin_expect(HasFfByte(a) || HasFfByte(b), 0)) return false;
    uint8_t *const to = out->buffer + out->position;
    const Word x = a | (LoadWord(to) & ~low);
    const Word y = b | (LoadWord(to + kWordBytes) & ~high);
    memcpy(to, &x, kWordBytes);
    memcpy(to + kWordBytes, &y, kWordBytes);
    out->position += n;
    return true;
}

// Moves (encode mode) or counts (size mode) n packed bytes with their
// stuffing, word by word; a word with a 0xFF, stored whole all the same,
// is then stored again byte by byte with its stuffing. The last part word
// goes as the word ending the block where it holds no 0xFF (the bytes it
// repeats lie at the same distance), else byte by byte. Nothing past the
// block's last byte changes. The packed room holds a word past n, the
// stream's reserve far more.
template <bool kStore>
inline void MovePacked(ByteStream *out, const uint8_t *packed, uint32_t n) {
    uint32_t bytes = n;
    if (kStore) {
        uint8_t *const start = out->buffer + out->position;
        uint8_t *to = start;
        uint32_t i = 0;
        for (; i + kWordBytes <= n; i += kWordBytes) {
            const Word v = LoadWord(packed + i);
            memcpy(to, &v, kWordBytes);
            if (__builtin_expect(!HasFfByte(v), 1)) {
                to += kWordBytes;
                continue;
            }
            for (uint32_t j = i; j < i + kWordBytes; ++j) to = PutStuffed(to, packed[j]);
        }
        if (i < n && n >= kWordBytes && !HasFfByte(LoadWord(packed + n - kWordBytes))) {
            memcpy(to + (n - i) - kWordBytes, packed + n - kWordBytes, kWordBytes);
            to += n - i;
            i = n;
        }
        for (; i < n; ++i) to = PutStuffed(to, packed[i]);
        bytes = static_cast<uint32_t>(to - start);
    } else {
        // The marks summed by a multiply (no popcount call in plain code);
        // the last word cut to the bytes packed.
        for (uint32_t i = 0; i < n; i += kWordBytes) {
            Word v = LoadWord(packed + i);
            if (i + kWordBytes > n) v &= static_cast<Word>(~Word{0}) >> (8 * (i + kWordBytes - n));
            bytes += static_cast<uint32_t>(((FfBytes(v) >> 7) * kOnes) >> (8 * kWordBytes - 8));
        }
    }
    out->position += bytes;
    if (!kStore && out->size < out->position) out->size = out->position;
}

// A mask of coefficients, as wide as a register.
using Mask = std::conditional_t<sizeof(void *) == 4, uint32_t, uint64_t>;

// Two writers of a block's bits with one interface: Start continues the
// stream's pending bits, Append adds a code (at most 32 bits), Complete
// marks where the bytes pending may be completed, Finish completes the
// last whole bytes and stores the fewer than 8 bits left pending back in
// the stream. Both keep the bits right-aligned in `bits`: the low `count`
// are pending, the oldest highest.

// WordWriter completes 32 bits whenever 32 are pending, straight into the
// stream (encode mode) or only counted (size mode), stuffing byte by byte
// only in a word that holds 0xFF. A put adds at most 32 bits to fewer than
// 32, so nothing pending is ever shifted out. Its test after every code
// costs little where there are few codes: sparse blocks, flat blocks.
template <bool kStore>
struct WordWriter {
    static constexpr uint32_t kRoom = 1;  // needs no room of its own
    uint64_t bits;
    uint32_t count;
    uint8_t *next;   // encode mode: where the next byte goes
    uint32_t bytes;  // both modes: bytes completed so far

    void Start(const ByteStream *out, uint8_t *) {
        count = out->bitCount;
        bits = (out->bitBuffer & 0xFF) >> (8 - count);
        next = kStore ? out->buffer + out->position : nullptr;
        bytes = 0;
    }
    void PutByte(uint8_t byte) {
        if (kStore) next = PutStuffed(next, byte);
        bytes += byte == 0xFF ? 2 : 1;
    }
    void Append(uint32_t field, uint32_t n) {
        bits = bits << n | field;
        count += n;
        if (count < 32) return;
        count -= 32;
        const uint32_t word = static_cast<uint32_t>(bits >> count);
        if (!HasFfByte<uint32_t>(word)) {
            if (kStore) {
                const uint32_t be = __builtin_bswap32(word);
                memcpy(next, &be, 4);
                next += 4;
            }
            bytes += 4;
            return;
        }
        for (int shift = 24; shift >= 0; shift -= 8) PutByte(static_cast<uint8_t>(word >> shift));
    }
    void Complete() {}
    // The whole bytes pending (at most three) leave by one 4-byte store,
    // unless one of them is 0xFF (the loop below takes that rare case): a
    // loop over them costs a misprediction in most blocks. The store writes
    // back the bytes past them as it read them (inside the room the caller
    // reserved), so nothing past the stream changes.
    void Finish(ByteStream *out) {
        const uint32_t whole = count >> 3;
        const uint32_t word = static_cast<uint32_t>(bits << (63 - count) << 1 >> 32);
        const uint32_t done = static_cast<uint32_t>(uint64_t{0xFFFFFFFF} << (32 - 8 * whole));
        if (__builtin_expect(!HasFfByte<uint32_t>(word & done), 1)) {
            if (kStore) {
                const uint32_t keep = ~__builtin_bswap32(done);
                const uint32_t be =
                    __builtin_bswap32(word & done) | (LoadWord<uint32_t>(next) & keep);
                memcpy(next, &be, 4);
                next += whole;
            }
            bytes += whole;
            count &= 7;
        }
        while (count >= 8) {
            count -= 8;
            PutByte(static_cast<uint8_t>(bits >> count));
        }
        out->position += bytes;
        if (!kStore && out->size < out->position) out->size = out->position;
        out->bitBuffer = static_cast<uint32_t>(bits << (8 - count)) & 0xFF;
        out->bitCount = count;
    }
};

// PackedWriter appends codes without completing anything; Complete then
// packs every whole byte into a room of the caller's at once, with one
// 8-byte store and no branch on how many there are, so that code lengths
// the processor cannot foresee cost no mispredictions: busy blocks, whose
// codes are many. Between completions at most 63 bits may be pending: 7
// left over and two codes of a valid block with their value bits (16 + 10
// each), or a DC difference (16 + 11) and one such code. Finish then moves
// the packed bytes to the stream word by word, stuffing a 0x00 after each
// 0xFF (rare, so looked for a word at a time). The room lies apart from the
// writer, so that the compiler can hold the writer in registers. kMove
// moves the packed bytes (a vector twin may bring its own); it may read up
// to 32 bytes past them.
using PackedMover = void (*)(ByteStream *out, const uint8_t *packed, uint32_t n);
template <bool kStore, class Bits, PackedMover kMove>
struct PackedState {
    static constexpr uint32_t kRoom = kMaxPackedBytes + 32;
    Bits bits;
    uint32_t count;
    uint8_t *next;  // in packed
    uint8_t *packed;

    void Start(const ByteStream *out, uint8_t *room) {
        count = out->bitCount;
        bits = static_cast<Bits>((out->bitBuffer & 0xFF) >> (8 - count));
        next = packed = room;
    }
    void Add(uint32_t field, uint32_t n) {
        bits = bits << n | field;
        count += n;
    }
    // Packs the whole bytes pending with one store of the accumulator,
    // left-aligned: the completed bytes, then the pending bits and zeros.
    // (Nothing needs aligning at 0 pending: no byte counts then, and the
    // bytes stored past the packed ones are stored over later or never
    // moved.)
    void PackWhole() {
        constexpr uint32_t kBits = 8 * sizeof(Bits);
        const uint32_t whole = count >> 3;
        const Bits top = bits << ((kBits - count) & (kBits - 1));
        count &= 7;
        Bits be;
        if constexpr (kBits == 64) {
            be = __builtin_bswap64(top);
        } else {
            be = __builtin_bswap32(top);
        }
        memcpy(next, &be, sizeof be);
        next += whole;
    }
    // Once every whole byte is packed.
    void MoveOut(ByteStream *out) const {
        const uint32_t n = static_cast<uint32_t>(next - packed);
        if (!kStore || !MoveTwoWords(out, packed, n)) kMove(out, packed, n);
        out->bitBuffer = static_cast<uint32_t>(bits << (8 - count)) & 0xFF;
        out->bitCount = count;
    }
};

template <bool kStore, PackedMover kMove = MovePacked<kStore>>
struct PackedWriter : PackedState<kStore, uint64_t, kMove> {
    void Append(uint32_t field, uint32_t n) { this->Add(field, n); }
    // A block the tables cannot code may pend more than 63 bits: its bytes
    // are then wrong, but every shift stays defined and, its bits counted
    // all the same, no more than kMaxPackedBytes are packed; the block
    // fails.
    void Complete() { this->PackWhole(); }
    void Finish(ByteStream *out) {
        Complete();
        this->MoveOut(out);
    }
};

// The same for a 32-bit build, where every shift of the 64-bit writer takes
// a register pair: 32 bits, and each code completed as it is appended. At
// most 7 bits are pending before a code, so a code of up to 25 bits with
// its value bits fits at once; a longer one (rare: a long code with a large
// value) goes in two parts.
template <bool kStore, PackedMover kMove = MovePacked<kStore>>
struct NarrowPackedWriter : PackedState<kStore, uint32_t, kMove> {
    void Put(uint32_t field, uint32_t n) {
        this->Add(field, n);
        this->PackWhole();
    }
    void Append(uint32_t field, uint32_t n) {
        if (__builtin_expect(n > 25, 0)) {  // two parts of at most 16 bits
            Put(field >> 16, n - 16);
            Put(field & 0xFFFF, 16);
            return;
        }
        Put(field, n);
    }
    void Complete() {}
    void Finish(ByteStream *out) { this->MoveOut(out); }
};

// The writer of busy blocks, and of sparse ones: in a 32-bit build the
// narrow packed writer takes both.
template <bool kStore, PackedMover kMove = MovePacked<kStore>>
using BusyWriter = std::conditional_t<sizeof(void *) == 4, NarrowPackedWriter<kStore, kMove>,
                                      PackedWriter<kStore, kMove>>;
template <bool kStore>
using SparseWriter =
    std::conditional_t<sizeof(void *) == 4, NarrowPackedWriter<kStore>, WordWriter<kStore>>;

// The code of a DC difference of category s (at most kMaxDcCategory) and
// its value bits, appended.
template <class Writer>
inline void AppendDc(Writer *w, const HuffmanCodeTable *dc, int32_t difference, uint32_t s) {
    w->Append(uint32_t{dc->code[s]} << s | ValueField(difference, s), dc->codeLength[s] + s);
}

// Zig-zag position of each natural index.
struct ZigZagPositions {
    uint8_t at[64];
};
constexpr ZigZagPositions MakeZigZagPositions() {
    ZigZagPositions t{};
    for (uint8_t k = 0; k < 64; ++k) t.at[ZigZagOrder[k]] = k;
    return t;
}
inline constexpr ZigZagPositions kZigZagPosition = MakeZigZagPositions();

// For row r of a block and the byte whose bit c says that column c is
// nonzero: the same coefficients as bits at their zig-zag positions. Eight
// lookups turn a natural-order mask into a zig-zag one (16 KiB of constants).
struct RowMasks {
    uint64_t mask[8][256];
};
constexpr RowMasks MakeRowToZigZag() {
    RowMasks t{};
    for (int r = 0; r < 8; ++r) {
        for (int b = 0; b < 256; ++b) {
            for (int c = 0; c < 8; ++c) {
                if (b >> c & 1) t.mask[r][b] |= uint64_t{1} << kZigZagPosition.at[8 * r + c];
            }
        }
    }
    return t;
}
inline constexpr RowMasks kRowToZigZag = MakeRowToZigZag();

// The AC coefficients that are nonzero, as bit k for zig-zag index k (bit
// 0, the DC, never set), from a natural-order mask with bit i for index i.
inline uint64_t ToZigZag(uint64_t natural) {
    uint64_t mask = 0;
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) mask |= kRowToZigZag.mask[r][(natural >> 8 * r) & 0xFF];
    return mask & ~uint64_t{1};
}

// Category and value bits of each coefficient of a block (natural order):
// the low `category` bits of `value` are the bits to send.
struct CoefficientBits {
    int16_t value[64];
    uint8_t category[64];
};

// A block's codes appended to a started writer, the last not yet
// completed. Inlined into each instruction-set variant below; kTabled takes
// the categories from a CoefficientBits instead of computing them one by
// one, whose maker has checked them. False for a block the tables cannot
// code, whose bits the writer then holds in part.
template <class Writer, bool kTabled = false>
__attribute__((always_inline)) inline bool AppendBlock(Writer *writer, ComponentSpec *component,
                                                       const int16_t *block, int32_t difference,
                                                       uint64_t nonzero,
                                                       const CoefficientBits *bits = nullptr) {
    Writer &w = *writer;
    uint32_t s = CategoryOf(difference);
    if (s > kMaxDcCategory) return false;
    AppendDc(&w, component->dcTable, difference, s);

    const HuffmanCodeTable *ac = component->acTable;
    uint32_t last = 0;
    uint32_t magnitudes = 0;
    // The mask is walked a register at a time: in a 32-bit build, as two
    // halves, so that no step takes a register pair.
    Mask mask;
    uint32_t base;
    // Appends the next nonzero coefficient's code and value bits, after a
    // ZRL code for each 16 zeros before it (each completed at once: such
    // runs are rare in a busy block).
    auto append = [&]() __attribute__((always_inline)) {
        uint32_t k = base + static_cast<uint32_t>(std::countr_zero(mask));
        mask &= mask - 1;
        uint32_t run = k - last - 1;
        last = k;
        if (run > 15) {
            w.Complete();
            for (; run > 15; run -= 16) {
                w.Append(ac->code[0xF0], ac->codeLength[0xF0]);
                w.Complete();
            }
        }
        uint32_t at = ZigZagOrder[k];
        uint32_t field;
        if (kTabled) {
            s = bits->category[at];
            field = static_cast<uint32_t>(bits->value[at]) & ((1u << s) - 1);
        } else {
            int32_t y = block[at];
            uint32_t m = MagnitudeOf(y);
            magnitudes |= m;
            s = CategoryOfMagnitude(m);
            field = ValueField(y, s);
        }
        uint32_t symbol = AcSymbol(run, s);
        w.Append(uint32_t{ac->code[symbol]} << s | field, ac->codeLength[symbol] + s);
    };
    // Two codes, then their bytes completed; the DC pairs with the first.
    // (A half ending after one code leaves at most 7 + 26 bits for the next
    // half's first to join.) A 32-bit build's two halves are two loops, so
    // that the base is a constant, not one more value for its few registers
    // to hold (3% fewer instructions at q75 and q90). Unrolling the one
    // pass of a 64-bit build shapes its loop worse, so it is left as it is.
#if UINTPTR_MAX == 0xFFFFFFFFu
#pragma GCC unroll 2
#endif
    for (base = 0; base < 64; base += 8 * sizeof(Mask)) {
        mask = static_cast<Mask>(nonzero >> base);
        while (mask != 0) {
            append();
            w.Complete();
            if (mask == 0) break;
            append();
        }
    }
    // A block ending in zeros ends with EOB, however long the final run.
    if (last != 63) w.Append(ac->code[0x00], ac->codeLength[0x00]);
    return magnitudes <= kMaxAcMagnitude;
}

// One block with a writer of its own. Returns 0, completing nothing, for a
// block the tables cannot code; the bytes it stored lie within the reserve,
// beyond the stream's position.
template <class Writer, bool kTabled = false>
__attribute__((always_inline)) inline int32_t CodeBlockDirectBody(
    ByteStream *out, ComponentSpec *component, const int16_t *block, int32_t difference,
    uint64_t nonzero, const CoefficientBits *bits = nullptr) {
    uint8_t room[Writer::kRoom];
    Writer w;
    w.Start(out, room);
    if (!AppendBlock<Writer, kTabled>(&w, component, block, difference, nonzero, bits)) return 0;
    w.Finish(out);
    return 1;
}

// Whether a block has codes enough that packing pays: three or more. With
// fewer, the word writer's test after each code is nearly always foreseen;
// with more, the misses cost more than the packing (measured: 3% to 8% of
// the encode at q75 and q90 against a threshold of the last nonzero
// coefficient at zig-zag 24). Two lowest bits cleared, no popcount, which
// the plain code has no instruction for.
inline bool Busy(uint64_t nonzero) {
    const uint64_t rest = nonzero & (nonzero - 1);
    return (rest & (rest - 1)) != 0;
}

template <bool kStore>
__attribute__((always_inline)) inline int32_t CodeBlockDirect(ByteStream *out,
                                                              ComponentSpec *component,
                                                              const int16_t *block,
                                                              int32_t difference,
                                                              uint64_t nonzero) {
    // In a 32-bit build both kinds take the same writer: one body.
    if (std::is_same_v<BusyWriter<kStore>, SparseWriter<kStore>> || Busy(nonzero)) {
        return CodeBlockDirectBody<BusyWriter<kStore>>(out, component, block, difference, nonzero);
    }
    return CodeBlockDirectBody<SparseWriter<kStore>>(out, component, block, difference, nonzero);
}

// Whether the room left (encode mode) or the length that can still be
// reported (size mode) takes `reserve` bytes (at least the largest block).
inline bool DirectFits(const EncoderSession *session, uint32_t reserve = kMaxBlockBytes) {
    const ByteStream *out = session->output;
    if (session->outputKind & OutputStoresBytes) {
        return out->position <= out->size && out->size - out->position >= reserve;
    }
    return 0xFFFFFFFFu - out->position >= reserve;
}

// The DC difference of a block, the predictor moved on to its DC.
inline int32_t TakeDcDifference(ComponentSpec *component, const int16_t *block) {
    const int32_t difference = int32_t{block[0]} - component->dcPredictor;
    component->dcPredictor = block[0];
    return difference;
}

// A block through the staged calls, where the room left is too small to
// code it directly.
inline int32_t CodeBlockStaged(EncoderSession *session, ComponentSpec *component,
                               const int16_t *block, int32_t difference) {
    if (!CodeDc(session, component->dcTable, difference)) return 0;
    return CodeAc(session, component->acTable, block);
}

}  // namespace coder
