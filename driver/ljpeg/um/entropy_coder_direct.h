// The parts of the block coder that the plain coder (entropy_coder.cpp) and
// its vector twins (entropy_coder_x86.cpp) share: categories and value
// bits, the direct coder that codes a whole block while the room allows,
// and CodeBlockWith, which picks between it and the staged calls.
#pragma once

#include <stdint.h>
#include <string.h>

#include <bit>

#include "encoder_session.h"
#include "stream_headers.h"

namespace coder {

// Magnitude category (the number of significant bits of |y|) and value
// bits, without branches: negative values send the low bits of y - 1, the
// one's complement of their magnitude.
inline uint32_t CategoryOf(int32_t y) {
    uint32_t sign = static_cast<uint32_t>(y >> 31);
    return static_cast<uint32_t>(std::bit_width((static_cast<uint32_t>(y) ^ sign) - sign));
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
constexpr uint32_t kMaxBlockBytes = 2 * ((7 + 64 * (kMaxCodeLength + kMaxCategory)) / 8);
static_assert(kMaxBlockBytes == 512);

// The bits of one block, right-aligned: the low `count` bits of `bits` are
// pending, the oldest highest. A put adds at most 32 bits to fewer than 32,
// so nothing pending is ever shifted out.
struct DirectWriter {
    uint64_t bits;
    uint32_t count;
    uint8_t *next;   // encode mode: where the next byte goes
    uint32_t bytes;  // both modes: bytes completed so far
};

// Bytes of w that equal 0xFF, each marked by its top bit (exact, no false
// marks from carries).
inline uint32_t FfBytes(uint32_t w) {
    uint32_t t = ~w;
    return ~(((t & 0x7F7F7F7Fu) + 0x7F7F7F7Fu) | t) & 0x80808080u;
}

// One completed byte, and a stuffed 0x00 after 0xFF.
template <bool kStore>
inline void PutByte(DirectWriter *w, uint8_t byte) {
    if (kStore) {
        *w->next++ = byte;
        if (byte == 0xFF) *w->next++ = 0x00;
    }
    w->bytes += byte == 0xFF ? 2 : 1;
}

template <bool kStore>
inline void PutWord(DirectWriter *w, uint32_t word) {
    if (FfBytes(word) == 0) {
        if (kStore) {
            uint8_t be[4] = {static_cast<uint8_t>(word >> 24), static_cast<uint8_t>(word >> 16),
                             static_cast<uint8_t>(word >> 8), static_cast<uint8_t>(word)};
            memcpy(w->next, be, 4);
            w->next += 4;
        }
        w->bytes += 4;
        return;
    }
    for (int shift = 24; shift >= 0; shift -= 8)
        PutByte<kStore>(w, static_cast<uint8_t>(word >> shift));
}

template <bool kStore>
inline void Put(DirectWriter *w, uint32_t field, uint32_t n) {
    w->bits = (w->bits << n) | field;
    w->count += n;
    if (w->count >= 32) {
        w->count -= 32;
        PutWord<kStore>(w, static_cast<uint32_t>(w->bits >> w->count));
    }
}

// A writer that continues the stream's pending bits.
template <bool kStore>
inline DirectWriter StartDirect(const ByteStream *out) {
    DirectWriter w;
    w.count = out->bitCount;
    w.bits = (out->bitBuffer & 0xFF) >> (8 - w.count);
    w.next = kStore ? out->buffer + out->position : nullptr;
    w.bytes = 0;
    return w;
}

// Completes the last whole bytes and stores the fewer than 8 bits left
// pending back in the stream.
template <bool kStore>
inline void FinishDirect(ByteStream *out, DirectWriter *w) {
    while (w->count >= 8) {
        w->count -= 8;
        PutByte<kStore>(w, static_cast<uint8_t>(w->bits >> w->count));
    }
    out->position += w->bytes;
    if (!kStore && out->size < out->position) out->size = out->position;
    out->bitBuffer = static_cast<uint32_t>(w->bits << (8 - w->count)) & 0xFF;
    out->bitCount = w->count;
}

// The code of a DC difference of category s (at most kMaxDcCategory) and
// its value bits.
template <bool kStore>
inline void PutDc(DirectWriter *w, const HuffmanCodeTable *dc, int32_t difference, uint32_t s) {
    Put<kStore>(w, uint32_t{dc->code[s]} << s | ValueField(difference, s), dc->codeLength[s] + s);
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

// Inlined into each instruction-set variant below; kTabled takes the
// categories from a CoefficientBits instead of computing them one by one,
// whose maker has checked them. Returns 0, completing nothing, for a block
// the tables cannot code; the bytes it stored lie within the reserve,
// beyond the stream's position.
template <bool kStore, bool kTabled = false>
__attribute__((always_inline)) inline int32_t CodeBlockDirectBody(
    ByteStream *out, ComponentSpec *component, const int16_t *block, int32_t difference,
    uint64_t nonzero, const CoefficientBits *bits = nullptr) {
    DirectWriter w = StartDirect<kStore>(out);
    uint32_t s = CategoryOf(difference);
    if (s > kMaxDcCategory) return 0;
    PutDc<kStore>(&w, component->dcTable, difference, s);

    const HuffmanCodeTable *ac = component->acTable;
    uint32_t last = 0;
    uint32_t magnitudes = 0;
    while (nonzero != 0) {
        uint32_t k = static_cast<uint32_t>(std::countr_zero(nonzero));
        nonzero &= nonzero - 1;
        uint32_t run = k - last - 1;
        last = k;
        for (; run > 15; run -= 16) Put<kStore>(&w, ac->code[0xF0], ac->codeLength[0xF0]);
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
        Put<kStore>(&w, uint32_t{ac->code[symbol]} << s | field, ac->codeLength[symbol] + s);
    }
    // A block ending in zeros ends with EOB, however long the final run.
    if (last != 63) Put<kStore>(&w, ac->code[0x00], ac->codeLength[0x00]);
    if (magnitudes > kMaxAcMagnitude) return 0;
    FinishDirect<kStore>(out, &w);
    return 1;
}

template <bool kStore>
int32_t CodeBlockDirect(ByteStream *out, ComponentSpec *component, const int16_t *block,
                        int32_t difference, uint64_t nonzero) {
    return CodeBlockDirectBody<kStore>(out, component, block, difference, nonzero);
}

typedef int32_t (*DirectCoder)(ByteStream *out, ComponentSpec *component, const int16_t *block,
                               int32_t difference, uint64_t nonzero);

// Whether the room left (encode mode) or the length that can still be
// reported (size mode) takes `reserve` bytes (at least the largest block).
inline bool DirectFits(const EncoderSession *session, uint32_t reserve = kMaxBlockBytes) {
    const ByteStream *out = session->output;
    if (session->outputKind & OutputStoresBytes) {
        return out->position <= out->size && out->size - out->position >= reserve;
    }
    return 0xFFFFFFFFu - out->position >= reserve;
}

// Codes the block directly when the room left can take the largest block,
// through the staged calls otherwise.
template <uint64_t (*kNonzeroAc)(const int16_t *), DirectCoder kEncode, DirectCoder kCount>
int32_t CodeBlockWith(EncoderSession *session, ComponentSpec *component, const int16_t *block) {
    int32_t difference = int32_t{block[0]} - component->dcPredictor;
    component->dcPredictor = block[0];
    ByteStream *out = session->output;
    if (DirectFits(session)) {
        return session->outputKind & OutputStoresBytes
                   ? kEncode(out, component, block, difference, kNonzeroAc(block))
                   : kCount(out, component, block, difference, kNonzeroAc(block));
    }
    if (!CodeDc(session, component->dcTable, difference)) return 0;
    return CodeAc(session, component->acTable, block);
}

}  // namespace coder
