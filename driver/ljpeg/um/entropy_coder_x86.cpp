// The block coder's x86 twins: the nonzero coefficients found with SSE2,
// and at the AVX2 level put in zig-zag order by byte shuffles, with BMI1/BMI2
// shifts and bit scans and the categories of busy blocks computed sixteen at
// a time. The same bytes as CodeBlock.

#include <immintrin.h>

#include "entropy_coder.h"
#include "entropy_coder_direct.h"

using namespace coder;

namespace {

// The same with SSE2: each compare of a row with zero, packed two rows to a
// register, gives 16 mask bits at once.
TRIVJPEG_SSE2 inline uint64_t NonzeroAcSse2(const int16_t *block) {
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

// The byte shuffles that put a block's zero flags in zig-zag order. After
// the packs in NonzeroAcAvx2, each 128-bit lane holds the flags of two rows:
// source 0 rows 0 and 2, source 1 rows 1 and 3, source 2 rows 4 and 6,
// source 3 rows 5 and 7. Output o holds zig-zag positions 32o to 32o + 31;
// the shuffle of source s takes the flags that source holds and zeros
// (0x80) elsewhere.
struct ZigZagShuffles {
    alignas(32) uint8_t index[2][4][32];
};
constexpr ZigZagShuffles MakeZigZagShuffles() {
    constexpr uint8_t kSource[8] = {0, 1, 0, 1, 2, 3, 2, 3};
    ZigZagShuffles t{};
    for (int o = 0; o < 2; ++o) {
        for (int s = 0; s < 4; ++s) {
            for (int j = 0; j < 32; ++j) {
                const int n = ZigZagOrder[32 * o + j], row = n / 8;
                t.index[o][s][j] =
                    kSource[row] == s ? static_cast<uint8_t>((row & 2) * 4 + n % 8) : uint8_t{0x80};
            }
        }
    }
    return t;
}
inline constexpr ZigZagShuffles kZigZagShuffles = MakeZigZagShuffles();

// The same at the AVX2 level, without the table lookups: the zero flags of
// all 64 coefficients as bytes, shuffled into zig-zag order, 32 to a mask.
TRIVJPEG_AVX2 inline __m256i ZeroFlagsAvx2(const int16_t *block, int i) {
    return _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + 16 * i)),
                              _mm256_setzero_si256());
}
TRIVJPEG_AVX2 inline __m256i TakeAvx2(__m256i source, const uint8_t *index) {
    return _mm256_shuffle_epi8(source, _mm256_load_si256(reinterpret_cast<const __m256i *>(index)));
}
TRIVJPEG_AVX2 inline uint32_t NonzeroAtAvx2(const __m256i (&sources)[4], int o) {
    const auto &index = kZigZagShuffles.index[o];
    const __m256i flags = _mm256_or_si256(
        _mm256_or_si256(TakeAvx2(sources[0], index[0]), TakeAvx2(sources[1], index[1])),
        _mm256_or_si256(TakeAvx2(sources[2], index[2]), TakeAvx2(sources[3], index[3])));
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(flags));
}
TRIVJPEG_AVX2 inline uint64_t NonzeroAcAvx2(const int16_t *block) {
    const __m256i low = _mm256_packs_epi16(ZeroFlagsAvx2(block, 0), ZeroFlagsAvx2(block, 1));
    const __m256i high = _mm256_packs_epi16(ZeroFlagsAvx2(block, 2), ZeroFlagsAvx2(block, 3));
    const __m256i sources[4] = {
        _mm256_permute4x64_epi64(low, 0x44), _mm256_permute4x64_epi64(low, 0xEE),
        _mm256_permute4x64_epi64(high, 0x44), _mm256_permute4x64_epi64(high, 0xEE)};
    return (uint64_t{NonzeroAtAvx2(sources, 1)} << 32 | NonzeroAtAvx2(sources, 0)) & ~uint64_t{1};
}

// The categories of sixteen coefficients at a time: a magnitude converted to
// float has the exponent 127 + floor(log2 m) for m >= 1 and 0 for m = 0, so
// exponent - 126, saturated at 0, is the number of significant bits. The
// value bits are y for y >= 0 and the low bits of y - 1 otherwise. False
// when an AC magnitude has a category the tables cannot code.
TRIVJPEG_AVX2 bool CategoriseAvx2(const int16_t *block, CoefficientBits *bits) {
    const __m256i bias = _mm256_set1_epi16(126);
    // The bitwise OR of the AC magnitudes (the DC, lane 0, is coded as a
    // difference and checked by the coder).
    __m256i magnitudes = _mm256_setzero_si256();
#pragma GCC unroll 2
    for (int i = 0; i < 64; i += 32) {
        __m256i categories[2];
        for (int j = 0; j < 2; ++j) {
            __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + i + 16 * j));
            __m256i value = _mm256_add_epi16(y, _mm256_srai_epi16(y, 15));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(bits->value + i + 16 * j), value);
            __m256i m = _mm256_abs_epi16(y);
            __m256i ac = m;
            if (i + j == 0) {
                ac = _mm256_and_si256(m, _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                                           -1, -1, -1, -1, -1, -1));
            }
            magnitudes = _mm256_or_si256(magnitudes, ac);
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
    // abs(-32768) stays 0x8000, which the mask catches like every other.
    return _mm256_testz_si256(magnitudes,
                              _mm256_set1_epi16(static_cast<int16_t>(~kMaxAcMagnitude)));
}

// MovePacked 32 bytes at a time: a compare with 0xFF finds the bytes to
// stuff in each, and the last part goes by one store of the packed bytes
// blended over what lay past them. A valid block packs at most 209 bytes,
// 418 stuffed, so the 32 bytes read and stored at the last part stay inside
// the stream's reserve (kMaxBlockBytes); its room holds 32 bytes past them.
TRIVJPEG_AVX2 inline __m256i Load32(const uint8_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
// The bytes of 32 that equal 0xFF, as bits.
TRIVJPEG_AVX2 inline uint32_t FfMarks(const uint8_t *p) {
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(Load32(p), _mm256_set1_epi8(-1))));
}

template <bool kStore>
TRIVJPEG_AVX2 void MovePackedAvx2(ByteStream *out, const uint8_t *packed, uint32_t n) {
    // Two words or fewer: in a 64-bit build's encode mode, only those with a
    // 0xFF come here (MoveTwoWords takes the rest).
    if (n <= 2 * kWordBytes) return MovePacked<kStore>(out, packed, n);
    if (!kStore) {
        uint32_t bytes = n;
        for (uint32_t i = 0; i < n; i += 32) {
            const uint32_t inside = n - i < 32 ? (1u << (n - i)) - 1 : 0xFFFFFFFFu;
            bytes += static_cast<uint32_t>(std::popcount(FfMarks(packed + i) & inside));
        }
        out->position += bytes;
        if (out->size < out->position) out->size = out->position;
        return;
    }
    uint8_t *const start = out->buffer + out->position;
    uint8_t *to = start;
    uint32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), Load32(packed + i));
        if (__builtin_expect(FfMarks(packed + i) == 0, 1)) {
            to += 32;
            continue;
        }
        for (uint32_t j = i; j < i + 32; ++j) to = PutStuffed(to, packed[j]);
    }
    if (i < n) {
        const uint32_t rest = n - i;  // 1 to 31
        if (__builtin_expect((FfMarks(packed + i) & ((1u << rest) - 1)) == 0, 1)) {
            const __m256i iota =
                _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18,
                                 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
            const __m256i packedPart =
                _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(rest)), iota);
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(to),
                                _mm256_blendv_epi8(Load32(to), Load32(packed + i), packedPart));
            to += rest;
        } else {
            for (uint32_t j = i; j < n; ++j) to = PutStuffed(to, packed[j]);
        }
    }
    out->position += static_cast<uint32_t>(to - start);
}

// Below this many nonzero coefficients, categorising them one by one is
// cheaper than all 64 at once.
constexpr int kTableFrom = 12;

// The same code at the AVX2 level: shifts by a register count without the
// count register (shlx), tzcnt, bzhi, and the categories of busy blocks from
// CategoriseAvx2.
template <bool kStore>
TRIVJPEG_AVX2 __attribute__((always_inline)) inline int32_t CodeBlockDirectAvx2(
    ByteStream *out, ComponentSpec *component, const int16_t *block, int32_t difference,
    uint64_t nonzero) {
    if (std::popcount(nonzero) >= kTableFrom) {
        CoefficientBits bits;
        if (!CategoriseAvx2(block, &bits)) return 0;
        return CodeBlockDirectBody<BusyWriter<kStore, MovePackedAvx2<kStore>>, true>(
            out, component, block, difference, nonzero, &bits);
    }
    return CodeBlockDirect<kStore>(out, component, block, difference, nonzero);
}

}  // namespace

// CodeBlock's shape, in one function with the mask and the direct coder: in
// a 32-bit build the calls and their arguments on the stack cost some 25
// instructions a block.
TRIVJPEG_SSE2 int32_t CodeBlockSse2(EncoderSession *session, ComponentSpec *component,
                                    const int16_t *block) {
    const int32_t difference = TakeDcDifference(component, block);
    if (!DirectFits(session)) return CodeBlockStaged(session, component, block, difference);
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlockDirect<true>(out, component, block, difference, NonzeroAcSse2(block))
               : CodeBlockDirect<false>(out, component, block, difference, NonzeroAcSse2(block));
}

// The same at the AVX2 level.
TRIVJPEG_AVX2 int32_t CodeBlockAvx2(EncoderSession *session, ComponentSpec *component,
                                    const int16_t *block) {
    const int32_t difference = TakeDcDifference(component, block);
    if (!DirectFits(session)) return CodeBlockStaged(session, component, block, difference);
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlockDirectAvx2<true>(out, component, block, difference, NonzeroAcAvx2(block))
               : CodeBlockDirectAvx2<false>(out, component, block, difference,
                                            NonzeroAcAvx2(block));
}
