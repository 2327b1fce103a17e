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
// The same for a value known to be nonzero (no test for zero).
inline uint32_t CategoryOfNonzero(int32_t y) {
    uint32_t sign = static_cast<uint32_t>(y >> 31);
    // 31 - clz is the index of the top bit (one instruction, bsr).
    return (static_cast<uint32_t>(__builtin_clz((static_cast<uint32_t>(y) ^ sign) - sign)) ^ 31) +
           1;
}
inline uint32_t ValueField(int32_t y, uint32_t category) {
    return (static_cast<uint32_t>(y) + static_cast<uint32_t>(y >> 31)) & ((1u << category) - 1);
}

// The staged calls (entropy_coder.cpp): one DC difference, the AC
// coefficients of one block; each fails, writing nothing, where it does not
// fit.
int32_t CodeDc(EncoderSession *session, const HuffmanCodeTable *table, int32_t difference);
int32_t CodeAc(EncoderSession *session, const HuffmanCodeTable *table, const int16_t *block);

// --- Direct coding ---------------------------------------------------------

// The most one block can complete: 7 pending bits, a DC code and value of at
// most 16 + 11 bits, the AC calls' 1638 bits; each byte possibly stuffed.
constexpr uint32_t kMaxBlockBytes = 2 * ((7 + 27 + 63 * (16 + 10)) / 8);
static_assert(kMaxBlockBytes == 418);

// The bits of one block, right-aligned: the low `count` bits of `bits` are
// pending, the oldest highest. A put adds at most 27 bits to fewer than 32,
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
// categories from a CoefficientBits instead of computing them one by one.
template <bool kStore, bool kTabled = false>
__attribute__((always_inline)) inline void CodeBlockDirectBody(
    ByteStream *out, ComponentSpec *component, const int16_t *block, int32_t difference,
    uint64_t nonzero, const CoefficientBits *bits = nullptr) {
    DirectWriter w;
    w.count = out->bitCount;
    w.bits = (out->bitBuffer & 0xFF) >> (8 - w.count);
    w.next = kStore ? out->buffer + out->position : nullptr;
    w.bytes = 0;

    const HuffmanCodeTable *dc = component->dcTable;
    uint32_t s = CategoryOf(difference);
    Put<kStore>(&w, uint32_t{dc->code[s]} << s | ValueField(difference, s), dc->codeLength[s] + s);

    const HuffmanCodeTable *ac = component->acTable;
    uint32_t last = 0;
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
            s = CategoryOfNonzero(y);
            field = ValueField(y, s);
        }
        uint32_t symbol = run * 16 + s;
        Put<kStore>(&w, uint32_t{ac->code[symbol]} << s | field, ac->codeLength[symbol] + s);
    }
    // A block ending in zeros ends with EOB, however long the final run.
    if (last != 63) Put<kStore>(&w, ac->code[0x00], ac->codeLength[0x00]);

    // Completes the last whole bytes; fewer than 8 bits stay pending.
    while (w.count >= 8) {
        w.count -= 8;
        PutByte<kStore>(&w, static_cast<uint8_t>(w.bits >> w.count));
    }
    out->position += w.bytes;
    if (!kStore && out->size < out->position) out->size = out->position;
    out->bitBuffer = static_cast<uint32_t>(w.bits << (8 - w.count)) & 0xFF;
    out->bitCount = w.count;
}

template <bool kStore>
void CodeBlockDirect(ByteStream *out, ComponentSpec *component, const int16_t *block,
                     int32_t difference, uint64_t nonzero) {
    CodeBlockDirectBody<kStore>(out, component, block, difference, nonzero);
}

typedef void (*DirectCoder)(ByteStream *out, ComponentSpec *component, const int16_t *block,
                            int32_t difference, uint64_t nonzero);

// Codes the block directly when the room left can take the largest block,
// through the staged calls otherwise.
template <uint64_t (*kNonzeroAc)(const int16_t *), DirectCoder kEncode, DirectCoder kCount>
int32_t CodeBlockWith(EncoderSession *session, ComponentSpec *component, const int16_t *block) {
    int32_t difference = int32_t{block[0]} - component->dcPredictor;
    component->dcPredictor = block[0];
    ByteStream *out = session->output;
    if (session->outputKind & OutputStoresBytes) {
        if (out->position <= out->size && out->size - out->position >= kMaxBlockBytes) {
            kEncode(out, component, block, difference, kNonzeroAc(block));
            return 1;
        }
    } else if (0xFFFFFFFFu - out->position >= kMaxBlockBytes) {
        kCount(out, component, block, difference, kNonzeroAc(block));
        return 1;
    }
    if (!CodeDc(session, component->dcTable, difference)) return 0;
    return CodeAc(session, component->acTable, block);
}

}  // namespace coder
