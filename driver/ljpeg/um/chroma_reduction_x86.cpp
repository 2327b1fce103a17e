// Chroma reduction in SSE2 and AVX2: the same averages, writing the same
// bytes.

#include <immintrin.h>

#include "chroma_reduction.h"

namespace {

// Sixteen samples in, the eight sums of neighbouring pairs out, one per
// 16-bit lane: the even sample is the low byte of the lane, the odd one the
// high byte. A sum is at most 510, so two rows of them (1020) still fit.
TRIVJPEG_SSE2 inline __m128i PairSums(const uint8_t *row) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(row));
    return _mm_add_epi16(_mm_and_si128(v, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(v, 8));
}

// Two output rows of one chroma block from four plane rows 16 wide.
TRIVJPEG_SSE2 inline void AverageQuads(uint8_t *out, const uint8_t *rows) {
    __m128i upper = _mm_add_epi16(PairSums(rows), PairSums(rows + 16));
    __m128i lower = _mm_add_epi16(PairSums(rows + 32), PairSums(rows + 48));
    __m128i both = _mm_packus_epi16(_mm_srli_epi16(upper, 2), _mm_srli_epi16(lower, 2));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), both);
}

// Two output rows of one chroma block from two plane rows 16 wide.
TRIVJPEG_SSE2 inline void AveragePairs(uint8_t *out, const uint8_t *rows) {
    __m128i upper = _mm_srli_epi16(PairSums(rows), 1);
    __m128i lower = _mm_srli_epi16(PairSums(rows + 16), 1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_packus_epi16(upper, lower));
}

// Two Y rows 16 wide become two rows of the left block and two of the right.
TRIVJPEG_SSE2 inline void SplitLumaRows(uint8_t *left, uint8_t *right, const uint8_t *rows) {
    __m128i upper = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows));
    __m128i lower = _mm_loadu_si128(reinterpret_cast<const __m128i *>(rows + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(left), _mm_unpacklo_epi64(upper, lower));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(right), _mm_unpackhi_epi64(upper, lower));
}

}  // namespace

TRIVJPEG_SSE2 void Reduce2x2Sse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb,
                                 const uint8_t *cr) {
    for (int row = 0; row < 8; row += 2) {
        AverageQuads(samples + 256 + 8 * row, cb + 32 * row);
        AverageQuads(samples + 320 + 8 * row, cr + 32 * row);
    }
    for (int i = 0; i < 16; i += 2) {
        uint8_t *left = samples + (i < 8 ? 0 : 128) + 8 * (i & 7);
        SplitLumaRows(left, left + 64, y + 16 * i);
    }
}

TRIVJPEG_SSE2 void Reduce2x1Sse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb,
                                 const uint8_t *cr) {
    for (int row = 0; row < 8; row += 2) {
        AveragePairs(samples + 128 + 8 * row, cb + 16 * row);
        AveragePairs(samples + 192 + 8 * row, cr + 16 * row);
        SplitLumaRows(samples + 8 * row, samples + 64 + 8 * row, y + 16 * row);
    }
}

// 4:4:4 has nothing to reduce, but the plain copy of the three blocks takes
// 4-byte moves in a 32-bit build: 16-byte ones here, unrolled.
static TRIVJPEG_SSE2 inline void CopyBlockSse2(uint8_t *to, const uint8_t *from) {
    const __m128i *in = reinterpret_cast<const __m128i *>(from);
    __m128i *out = reinterpret_cast<__m128i *>(to);
    const __m128i a = _mm_loadu_si128(in), b = _mm_loadu_si128(in + 1);
    const __m128i c = _mm_loadu_si128(in + 2), d = _mm_loadu_si128(in + 3);
    _mm_storeu_si128(out, a);
    _mm_storeu_si128(out + 1, b);
    _mm_storeu_si128(out + 2, c);
    _mm_storeu_si128(out + 3, d);
}

TRIVJPEG_SSE2 void ReduceNoneSse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb,
                                  const uint8_t *cr) {
    CopyBlockSse2(samples, y);
    CopyBlockSse2(samples + 64, cb);
    CopyBlockSse2(samples + 128, cr);
}

// AVX2: Cb in the low 128 bits, Cr in the high, so each step averages both;
// the Y rows two at a time, split by one permutation.
namespace {

// The sixteen samples of row `offset` of Cb and of Cr.
TRIVJPEG_AVX2 inline __m256i ChromaRows(const uint8_t *cb, const uint8_t *cr, int offset) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(cb + offset))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(cr + offset)), 1);
}

// PairSums in one instruction: each unsigned byte times 1, neighbours added.
TRIVJPEG_AVX2 inline __m256i PairSumsAvx2(__m256i v) {
    return _mm256_maddubs_epi16(v, _mm256_set1_epi8(1));
}

// Y rows i and i + 1 (16 wide) to the two blocks side by side from `left`:
// their left halves, then their right halves.
TRIVJPEG_AVX2 inline void SplitLumaRowsAvx2(uint8_t *left, const uint8_t *rows) {
    const __m256i both =
        _mm256_permute4x64_epi64(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(rows)), 0xD8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(left), _mm256_castsi256_si128(both));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(left + 64), _mm256_extracti128_si256(both, 1));
}

}  // namespace

// Both loops unrolled, so that every address is a constant offset (the
// luma loop's block arithmetic took 10 instructions a step).
TRIVJPEG_AVX2 void Reduce2x2Avx2(uint8_t *samples, const uint8_t *y, const uint8_t *cb,
                                 const uint8_t *cr) {
#pragma GCC unroll 4
    for (int row = 0; row < 8; row += 2) {
        const int at = 32 * row;
        __m256i upper = _mm256_add_epi16(PairSumsAvx2(ChromaRows(cb, cr, at)),
                                         PairSumsAvx2(ChromaRows(cb, cr, at + 16)));
        __m256i lower = _mm256_add_epi16(PairSumsAvx2(ChromaRows(cb, cr, at + 32)),
                                         PairSumsAvx2(ChromaRows(cb, cr, at + 48)));
        __m256i both =
            _mm256_packus_epi16(_mm256_srli_epi16(upper, 2), _mm256_srli_epi16(lower, 2));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + 256 + 8 * row),
                         _mm256_castsi256_si128(both));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + 320 + 8 * row),
                         _mm256_extracti128_si256(both, 1));
    }
#pragma GCC unroll 8
    for (int i = 0; i < 16; i += 2)
        SplitLumaRowsAvx2(samples + (i < 8 ? 0 : 128) + 8 * (i & 7), y + 16 * i);
}

// Each chroma row's pairs averaged; Y as in 4:2:0, its one row of blocks.
TRIVJPEG_AVX2 void Reduce2x1Avx2(uint8_t *samples, const uint8_t *y, const uint8_t *cb,
                                 const uint8_t *cr) {
#pragma GCC unroll 4
    for (int row = 0; row < 8; row += 2) {
        const int at = 16 * row;
        const __m256i upper = _mm256_srli_epi16(PairSumsAvx2(ChromaRows(cb, cr, at)), 1);
        const __m256i lower = _mm256_srli_epi16(PairSumsAvx2(ChromaRows(cb, cr, at + 16)), 1);
        const __m256i both = _mm256_packus_epi16(upper, lower);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + 128 + 8 * row),
                         _mm256_castsi256_si128(both));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(samples + 192 + 8 * row),
                         _mm256_extracti128_si256(both, 1));
    }
#pragma GCC unroll 4
    for (int i = 0; i < 8; i += 2) SplitLumaRowsAvx2(samples + 8 * i, y + 16 * i);
}
