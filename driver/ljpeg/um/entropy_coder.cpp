// Block entropy coding: baseline Huffman coding of one quantised block (the
// DC difference, then the AC run/size symbols in zig-zag order), packed
// onto the output stream's bitBuffer and bitCount.
//
// Two ways to the same bytes. While the room left can take the largest block
// there is, a block is coded straight into the output (or only counted):
// 32 bits at a time, stuffing byte by byte only in a word that holds 0xFF.
// Near the end of the room, each CodeDc or CodeAc call assembles its
// completed bytes, with 0x00 after every 0xFF, in a staging area, then makes
// one capacity check and one copy (encode mode) or one count (size mode), so
// a block that does not fit fails exactly where it runs out. Both modes
// complete exactly the same bytes, so size-only mode predicts encode mode to
// the byte.

#include "entropy_coder.h"

#include <string.h>
#include <bit>

#include "stream_headers.h"

#if TRIVJPEG_X86
#include <immintrin.h>
#endif

namespace {

// Worst case of one call. An AC call codes at most 63 nonzero values, each a
// code of at most 16 bits and at most 10 value bits (|value| <= 1020); a
// zero run only replaces 16 values by one ZRL code, and EOB follows only a
// block with a zero, so 63 x 26 = 1638 bits is the most. With up to 7 bits
// pending on entry that completes at most (7 + 1638) / 8 = 205 bytes, and
// each may be followed by a stuffed 0x00: 410 bytes. A DC call needs far less
// (7 + 16 + 11 bits: 4 bytes, 8 with stuffing).
constexpr uint32_t kMaxCallBits = 7 + 63 * (16 + 10);
constexpr uint32_t kStagingSize = 2 * (kMaxCallBits / 8);
static_assert(kStagingSize == 410);

// The bits of one call, left-aligned in a 64-bit register: bit 63 is the
// next bit of the byte being assembled. Holding at most 7 + 16 bits between
// flushes, it never fills.
struct BitPacker {
    uint64_t bits;
    uint32_t count;
    uint8_t staged[kStagingSize];
    uint32_t stagedCount;
};

void StartCall(BitPacker *p, const ByteStream *out) {
    p->bits = static_cast<uint64_t>(out->bitBuffer & 0xFF) << 56;
    p->count = out->bitCount;
    p->stagedCount = 0;
}

// Appends the low n bits of field (n from 0 to 16), most significant first.
inline void Emit(BitPacker *p, uint32_t field, uint32_t n) {
    if (n == 0) return;
    field &= (1u << n) - 1;
    p->bits |= static_cast<uint64_t>(field) << (64 - p->count - n);
    p->count += n;
    while (p->count >= 8) {
        uint8_t byte = static_cast<uint8_t>(p->bits >> 56);
        p->staged[p->stagedCount++] = byte;
        // A decoder would take 0xFF followed by anything else for a marker.
        if (byte == 0xFF) p->staged[p->stagedCount++] = 0x00;
        p->bits <<= 8;
        p->count -= 8;
    }
}

// Copies (or counts) what the call completed, then stores the pending bits
// back. A call that does not fit leaves position beyond size, copies
// nothing and keeps the stream's bits as they were before it.
int32_t FinishCall(EncoderSession *session, const BitPacker *p) {
    ByteStream *out = session->output;
    uint32_t n = p->stagedCount;
    if (session->outputKind & 1) {
        if (n != 0) {
            uint32_t at = out->position;
            // A position that would wrap past 2^32 - 1 is as full as one
            // past size.
            if (n > 0xFFFFFFFFu - at) {
                out->position = 0xFFFFFFFFu;
                return 0;
            }
            out->position = at + n;
            if (out->position > out->size) return 0;
            memcpy(out->buffer + at, p->staged, n);
        }
    } else {
        // A length past 2^32 - 1 cannot be reported; fail rather than wrap.
        if (n > 0xFFFFFFFFu - out->position) {
            *session->status |= StatusStreamBound;
            return 0;
        }
        out->position += n;
        if (out->size < out->position) out->size = out->position;
    }
    out->bitBuffer = static_cast<uint32_t>(p->bits >> 56);
    out->bitCount = p->count;
    return 1;
}

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

int32_t CodeDc(EncoderSession *session, const HuffmanCodeTable *table, int32_t difference) {
    BitPacker p;
    StartCall(&p, session->output);
    uint32_t s = CategoryOf(difference);
    Emit(&p, table->code[s], table->codeLength[s]);
    Emit(&p, ValueField(difference, s), s);
    return FinishCall(session, &p);
}

int32_t CodeAc(EncoderSession *session, const HuffmanCodeTable *table, const int16_t *block) {
    BitPacker p;
    StartCall(&p, session->output);
    uint32_t run = 0;
    for (int k = 1; k < 64; ++k) {
        int32_t y = block[ZigZagOrder[k]];
        if (y == 0) {
            ++run;
            continue;
        }
        for (; run > 15; run -= 16) Emit(&p, table->code[0xF0], table->codeLength[0xF0]);
        uint32_t s = CategoryOfNonzero(y);
        uint32_t symbol = run * 16 + s;
        Emit(&p, table->code[symbol], table->codeLength[symbol]);
        Emit(&p, ValueField(y, s), s);
        run = 0;
    }
    // A block ending in zeros ends with EOB, however long the final run.
    if (block[63] == 0) Emit(&p, table->code[0x00], table->codeLength[0x00]);
    return FinishCall(session, &p);
}

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
constexpr auto kZigZagPosition = [] {
    struct {
        uint8_t at[64];
    } t{};
    for (uint8_t k = 0; k < 64; ++k) t.at[ZigZagOrder[k]] = k;
    return t;
}();

// For row r of a block and the byte whose bit c says that column c is
// nonzero: the same coefficients as bits at their zig-zag positions. Eight
// lookups turn a natural-order mask into a zig-zag one (16 KiB of constants).
constexpr auto kRowToZigZag = [] {
    struct {
        uint64_t mask[8][256];
    } t{};
    for (int r = 0; r < 8; ++r) {
        for (int b = 0; b < 256; ++b) {
            for (int c = 0; c < 8; ++c) {
                if (b >> c & 1) t.mask[r][b] |= uint64_t{1} << kZigZagPosition.at[8 * r + c];
            }
        }
    }
    return t;
}();

// The AC coefficients that are nonzero, as bit k for zig-zag index k (bit
// 0, the DC, never set), from a natural-order mask with bit i for index i.
inline uint64_t ToZigZag(uint64_t natural) {
    uint64_t mask = 0;
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) mask |= kRowToZigZag.mask[r][(natural >> 8 * r) & 0xFF];
    return mask & ~uint64_t{1};
}

uint64_t NonzeroAc(const int16_t *block) {
    uint64_t natural = 0;
    for (int i = 0; i < 64; ++i) natural |= static_cast<uint64_t>(block[i] != 0) << i;
    return ToZigZag(natural);
}

#if TRIVJPEG_X86
// The same with SSE2: each compare of a row with zero, packed two rows to a
// register, gives 16 mask bits at once.
TRIVJPEG_SSE2 uint64_t NonzeroAcSse2(const int16_t *block) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t natural = 0;
#pragma GCC unroll 4
    for (int r = 0; r < 8; r += 2) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * r));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * r + 8));
        __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(zeros)) ^ 0xFFFFu;
        natural |= uint64_t{bits} << 8 * r;
    }
    return ToZigZag(natural);
}
#endif

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

#if TRIVJPEG_X86
// The categories of sixteen coefficients at a time: a magnitude converted to
// float has the exponent 127 + floor(log2 m) for m >= 1 and 0 for m = 0, so
// exponent - 126, saturated at 0, is the number of significant bits. The
// value bits are y for y >= 0 and the low bits of y - 1 otherwise.
TRIVJPEG_AVX2 void CategoriseAvx2(const int16_t *block, CoefficientBits *bits) {
    const __m256i bias = _mm256_set1_epi16(126);
#pragma GCC unroll 2
    for (int i = 0; i < 64; i += 32) {
        __m256i categories[2];
        for (int j = 0; j < 2; ++j) {
            __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + i + 16 * j));
            __m256i value = _mm256_add_epi16(y, _mm256_srai_epi16(y, 15));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(bits->value + i + 16 * j), value);
            __m256i m = _mm256_abs_epi16(y);
            __m256i lo = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(m));
            __m256i hi = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(m, 1));
            lo = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(lo)), 23);
            hi = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(hi)), 23);
            // packus works within 128-bit halves; the permute restores order.
            __m256i e = _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
            categories[j] = _mm256_subs_epu16(e, bias);
        }
        __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packus_epi16(categories[0], categories[1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(bits->category + i), packed);
    }
}

// Below this many nonzero coefficients, categorising them one by one is
// cheaper than all 64 at once.
constexpr int kTableFrom = 12;

// The same code at the AVX2 level: shifts by a register count without the
// count register (shlx), tzcnt, bzhi, and the categories of busy blocks from
// CategoriseAvx2.
template <bool kStore>
TRIVJPEG_AVX2 void CodeBlockDirectAvx2(ByteStream *out, ComponentSpec *component,
                                       const int16_t *block, int32_t difference, uint64_t nonzero) {
    if (std::popcount(nonzero) >= kTableFrom) {
        CoefficientBits bits;
        CategoriseAvx2(block, &bits);
        CodeBlockDirectBody<kStore, true>(out, component, block, difference, nonzero, &bits);
    } else {
        CodeBlockDirectBody<kStore>(out, component, block, difference, nonzero);
    }
}
#endif

typedef void (*DirectCoder)(ByteStream *out, ComponentSpec *component, const int16_t *block,
                            int32_t difference, uint64_t nonzero);

// Codes the block directly when the room left can take the largest block,
// through the staged calls otherwise.
template <uint64_t (*kNonzeroAc)(const int16_t *), DirectCoder kEncode, DirectCoder kCount>
int32_t CodeBlockWith(EncoderSession *session, ComponentSpec *component, const int16_t *block) {
    int32_t difference = int32_t{block[0]} - component->dcPredictor;
    component->dcPredictor = block[0];
    ByteStream *out = session->output;
    if (session->outputKind & 1) {
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

}  // namespace

int32_t CodeBlock(EncoderSession *session, ComponentSpec *component, const int16_t *block) {
    return CodeBlockWith<NonzeroAc, CodeBlockDirect<true>, CodeBlockDirect<false>>(
        session, component, block);
}

#if TRIVJPEG_X86
int32_t CodeBlockSse2(EncoderSession *session, ComponentSpec *component, const int16_t *block) {
    return CodeBlockWith<NonzeroAcSse2, CodeBlockDirect<true>, CodeBlockDirect<false>>(
        session, component, block);
}

int32_t CodeBlockAvx2(EncoderSession *session, ComponentSpec *component, const int16_t *block) {
    return CodeBlockWith<NonzeroAcSse2, CodeBlockDirectAvx2<true>, CodeBlockDirectAvx2<false>>(
        session, component, block);
}
#endif

BlockCoder ChooseBlockCoder(uint32_t simdLevel) {
#if TRIVJPEG_X86
    if (simdLevel >= SimdAvx2) return CodeBlockAvx2;
    if (simdLevel >= SimdSse2) return CodeBlockSse2;
#endif
    (void)simdLevel;
    return CodeBlock;
}
