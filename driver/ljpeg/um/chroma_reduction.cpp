// Chroma reduction. The averages truncate (no rounding term): an average of
// 0-255 samples stays in 0-255, so nothing needs clamping. Each reducer
// writes only the bytes of the sample buffer its MCU uses.

#include "chroma_reduction.h"

#include <string.h>

#if TRIVJPEG_X86
#include <emmintrin.h>
#endif

namespace {

// Block b of the buffer takes row `row` of a plane `width` samples wide,
// starting at column `column`: one 8-sample half row.
inline void MoveHalfRow(uint8_t *samples, int block, int blockRow, const uint8_t *plane, int width,
                        int row, int column) {
    memcpy(samples + 64 * block + 8 * blockRow, plane + width * row + column, 8);
}

}  // namespace

void Reduce2x2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    uint8_t *outCb = samples + 256;
    uint8_t *outCr = samples + 320;
    for (int row = 0; row < 8; ++row) {
        const uint8_t *cb0 = cb + 32 * row;
        const uint8_t *cr0 = cr + 32 * row;
        for (int x = 0; x < 8; ++x) {
            // Four samples of at most 255 sum to at most 1020.
            outCb[8 * row + x] = static_cast<uint8_t>(
                (cb0[2 * x] + cb0[2 * x + 1] + cb0[16 + 2 * x] + cb0[16 + 2 * x + 1]) >> 2);
            outCr[8 * row + x] = static_cast<uint8_t>(
                (cr0[2 * x] + cr0[2 * x + 1] + cr0[16 + 2 * x] + cr0[16 + 2 * x + 1]) >> 2);
        }
    }
    for (int i = 0; i < 16; ++i) {
        int top = i < 8 ? 0 : 2;
        MoveHalfRow(samples, top, i & 7, y, 16, i, 0);
        MoveHalfRow(samples, top + 1, i & 7, y, 16, i, 8);
    }
}

void Reduce2x1(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    uint8_t *outCb = samples + 128;
    uint8_t *outCr = samples + 192;
    for (int row = 0; row < 8; ++row) {
        const uint8_t *cb0 = cb + 16 * row;
        const uint8_t *cr0 = cr + 16 * row;
        for (int x = 0; x < 8; ++x) {
            outCb[8 * row + x] = static_cast<uint8_t>((cb0[2 * x] + cb0[2 * x + 1]) >> 1);
            outCr[8 * row + x] = static_cast<uint8_t>((cr0[2 * x] + cr0[2 * x + 1]) >> 1);
        }
    }
    for (int i = 0; i < 8; ++i) {
        MoveHalfRow(samples, 0, i, y, 16, i, 0);
        MoveHalfRow(samples, 1, i, y, 16, i, 8);
    }
}

void ReduceNone(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    memcpy(samples, y, 64);
    memcpy(samples + 64, cb, 64);
    memcpy(samples + 128, cr, 64);
}

#if TRIVJPEG_X86

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

#endif

ChromaReducer ChooseReducer(uint8_t subsampling, uint32_t simdLevel) {
#if TRIVJPEG_X86
    if (simdLevel >= SimdSse2 && subsampling == Sub2x2) return Reduce2x2Sse2;
    if (simdLevel >= SimdSse2 && subsampling == Sub2x1) return Reduce2x1Sse2;
#endif
    (void)simdLevel;
    switch (subsampling) {
        case Sub2x2: return Reduce2x2;
        case Sub2x1: return Reduce2x1;
        default: return ReduceNone;
    }
}
