// The forward DCT of two blocks at once in AVX2, bit for bit ForwardDctSse2
// on each.
//
// A 256-bit register holds the same row (or column) of both blocks: block 0
// in its low 128 bits, block 1 in its high 128 bits. Every instruction used
// here (add, subtract, shift, multiply-add, and the unpacks and packs)
// works on the two 128-bit halves apart, exactly as its SSE2 counterpart
// works on one register, so each half runs the SSE2 transform step for
// step: the same regrouped products, the same row offsets and column
// rounding terms, the same 16-bit ranges. forward_dct_sse2.cpp proves that
// arithmetic equal to the scalar transform; nothing here departs from it.
// Only the loads and stores cross between the halves.

#include <immintrin.h>

#include "forward_dct.h"

#if TRIVJPEG_X86

namespace {

// A pair of 16-bit constants for _mm256_madd_epi16: lo multiplies the first
// interleaved input, hi the second.
TRIVJPEG_AVX2 inline __m256i Pair(int16_t lo, int16_t hi) {
    uint32_t both = static_cast<uint16_t>(lo) | uint32_t{static_cast<uint16_t>(hi)} << 16;
    return _mm256_set1_epi32(static_cast<int32_t>(both));
}

// Shifts the 32-bit sums of lanes 0-3 (lo) and 4-7 (hi) of each half right
// by n and narrows them to one register of 16-bit lanes.
template <int n>
TRIVJPEG_AVX2 inline __m256i Narrow(__m256i lo, __m256i hi) {
    return _mm256_packs_epi32(_mm256_srai_epi32(lo, n), _mm256_srai_epi32(hi, n));
}

// What the row pass adds to each row result k (forward_dct_sse2.cpp
// explains these offsets).
constexpr int kRowOffsetE2 = (4433 + 6270 - 1) / 2;  // tmp13 in E2
constexpr int kRowOffsetE6 = (4433 - 1) / 2;         // tmp13 in E6
constexpr int kRowOffsetZ3 = (9633 - 1) / 2;         // z4 in Z3: O7 and O3
constexpr int kRowOffsetZ4 = (9633 - 3196 - 1) / 2;  // z4 in Z4: O1 and O5
constexpr int kRowOffsets[8] = {4 * 8 * 128, kRowOffsetZ4, kRowOffsetE2, kRowOffsetZ3,
                                0,           kRowOffsetZ4, kRowOffsetE6, kRowOffsetZ3};

// The column pass's DC rounding term, 2, less eight times the row offset of
// each column, modulo 2^16.
constexpr int16_t DcTerm(int k) { return static_cast<int16_t>(2 - 8 * kRowOffsets[k]); }

// The column pass's rounding term on a 32-bit sum; the row pass has its
// offsets instead.
template <int n, bool rows>
TRIVJPEG_AVX2 inline __m256i Rounded(__m256i sum) {
    if constexpr (rows) return sum;
    return _mm256_add_epi32(sum, _mm256_set1_epi32(1 << (n - 1)));
}

// One 8-point butterfly across eight registers, v[k] in and out (lane by
// lane), the Butterfly of forward_dct_sse2.cpp on both halves.
template <int n, bool rows>
TRIVJPEG_AVX2 inline void Butterfly(__m256i *v) {
    __m256i tmp0 = _mm256_add_epi16(v[0], v[7]), tmp7 = _mm256_sub_epi16(v[0], v[7]);
    __m256i tmp1 = _mm256_add_epi16(v[1], v[6]), tmp6 = _mm256_sub_epi16(v[1], v[6]);
    __m256i tmp2 = _mm256_add_epi16(v[2], v[5]), tmp5 = _mm256_sub_epi16(v[2], v[5]);
    __m256i tmp3 = _mm256_add_epi16(v[3], v[4]), tmp4 = _mm256_sub_epi16(v[3], v[4]);

    __m256i tmp10 = _mm256_add_epi16(tmp0, tmp3), tmp13 = _mm256_sub_epi16(tmp0, tmp3);
    __m256i tmp11 = _mm256_add_epi16(tmp1, tmp2), tmp12 = _mm256_sub_epi16(tmp1, tmp2);
    v[0] = _mm256_add_epi16(tmp10, tmp11);
    v[4] = _mm256_sub_epi16(tmp10, tmp11);

    if constexpr (rows) tmp13 = _mm256_add_epi16(tmp13, _mm256_set1_epi16(1 << (n - 1)));
    __m256i lo = _mm256_unpacklo_epi16(tmp12, tmp13), hi = _mm256_unpackhi_epi16(tmp12, tmp13);
    const __m256i e2 = Pair(4433, 4433 + 6270), e6 = Pair(4433 - 15137, 4433);
    v[2] = Narrow<n>(Rounded<n, rows>(_mm256_madd_epi16(lo, e2)),
                     Rounded<n, rows>(_mm256_madd_epi16(hi, e2)));
    v[6] = Narrow<n>(Rounded<n, rows>(_mm256_madd_epi16(lo, e6)),
                     Rounded<n, rows>(_mm256_madd_epi16(hi, e6)));

    __m256i z3 = _mm256_add_epi16(tmp4, tmp6), z4 = _mm256_add_epi16(tmp5, tmp7);
    if constexpr (rows) z4 = _mm256_add_epi16(z4, _mm256_set1_epi16(1 << (n - 1)));
    lo = _mm256_unpacklo_epi16(z3, z4);
    hi = _mm256_unpackhi_epi16(z3, z4);
    const __m256i cz3 = Pair(9633 - 16069, 9633), cz4 = Pair(9633, 9633 - 3196);
    __m256i z3lo = Rounded<n, rows>(_mm256_madd_epi16(lo, cz3));
    __m256i z3hi = Rounded<n, rows>(_mm256_madd_epi16(hi, cz3));
    __m256i z4lo = Rounded<n, rows>(_mm256_madd_epi16(lo, cz4));
    __m256i z4hi = Rounded<n, rows>(_mm256_madd_epi16(hi, cz4));

    lo = _mm256_unpacklo_epi16(tmp4, tmp7);
    hi = _mm256_unpackhi_epi16(tmp4, tmp7);
    const __m256i o7 = Pair(2446 - 7373, -7373), o1 = Pair(-7373, 12299 - 7373);
    v[7] = Narrow<n>(_mm256_add_epi32(_mm256_madd_epi16(lo, o7), z3lo),
                     _mm256_add_epi32(_mm256_madd_epi16(hi, o7), z3hi));
    v[1] = Narrow<n>(_mm256_add_epi32(_mm256_madd_epi16(lo, o1), z4lo),
                     _mm256_add_epi32(_mm256_madd_epi16(hi, o1), z4hi));

    lo = _mm256_unpacklo_epi16(tmp5, tmp6);
    hi = _mm256_unpackhi_epi16(tmp5, tmp6);
    const __m256i o5 = Pair(16819 - 20995, -20995), o3 = Pair(-20995, 25172 - 20995);
    v[5] = Narrow<n>(_mm256_add_epi32(_mm256_madd_epi16(lo, o5), z4lo),
                     _mm256_add_epi32(_mm256_madd_epi16(hi, o5), z4hi));
    v[3] = Narrow<n>(_mm256_add_epi32(_mm256_madd_epi16(lo, o3), z3lo),
                     _mm256_add_epi32(_mm256_madd_epi16(hi, o3), z3hi));
}

// Transposes, in each half, the 8x8 matrix of 16-bit values whose rows are
// v[0..7].
TRIVJPEG_AVX2 inline void Transpose(__m256i *v) {
    __m256i a0 = _mm256_unpacklo_epi16(v[0], v[1]), a1 = _mm256_unpackhi_epi16(v[0], v[1]);
    __m256i a2 = _mm256_unpacklo_epi16(v[2], v[3]), a3 = _mm256_unpackhi_epi16(v[2], v[3]);
    __m256i a4 = _mm256_unpacklo_epi16(v[4], v[5]), a5 = _mm256_unpackhi_epi16(v[4], v[5]);
    __m256i a6 = _mm256_unpacklo_epi16(v[6], v[7]), a7 = _mm256_unpackhi_epi16(v[6], v[7]);
    __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    v[0] = _mm256_unpacklo_epi64(b0, b4);
    v[1] = _mm256_unpackhi_epi64(b0, b4);
    v[2] = _mm256_unpacklo_epi64(b1, b5);
    v[3] = _mm256_unpackhi_epi64(b1, b5);
    v[4] = _mm256_unpacklo_epi64(b2, b6);
    v[5] = _mm256_unpackhi_epi64(b2, b6);
    v[6] = _mm256_unpacklo_epi64(b3, b7);
    v[7] = _mm256_unpackhi_epi64(b3, b7);
}

// The same 16 bytes of both blocks, block 0's in the low half. The insert
// from memory needs no shuffle unit.
TRIVJPEG_AVX2 inline __m256i LoadBoth(const uint8_t *block0, const uint8_t *block1) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(block0))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(block1)), 1);
}

// Loads both blocks transposed: v[x] holds sample x of rows 0..7 of each,
// widened to 16 bits, by the interleaving of LoadColumns in
// forward_dct_sse2.cpp.
TRIVJPEG_AVX2 inline void LoadColumns(const uint8_t *samples, __m256i *v) {
    __m256i r01 = LoadBoth(samples, samples + 64), r23 = LoadBoth(samples + 16, samples + 80);
    __m256i r45 = LoadBoth(samples + 32, samples + 96), r67 = LoadBoth(samples + 48, samples + 112);
    // Rows 0 and 4, 1 and 5, ...: byte pairs of columns (0, 1), (2, 3), ...
    __m256i a04 = _mm256_unpacklo_epi16(r01, r45), a15 = _mm256_unpackhi_epi16(r01, r45);
    __m256i a26 = _mm256_unpacklo_epi16(r23, r67), a37 = _mm256_unpackhi_epi16(r23, r67);
    // Rows 0, 2, 4, 6 (1, 3, 5, 7) of columns 0-3 and of columns 4-7.
    __m256i b0 = _mm256_unpacklo_epi16(a04, a26), b1 = _mm256_unpackhi_epi16(a04, a26);
    __m256i b2 = _mm256_unpacklo_epi16(a15, a37), b3 = _mm256_unpackhi_epi16(a15, a37);
    // Rows 0-7 of columns (0, 1), (2, 3), (4, 5), (6, 7).
    __m256i c01 = _mm256_unpacklo_epi16(b0, b2), c23 = _mm256_unpackhi_epi16(b0, b2);
    __m256i c45 = _mm256_unpacklo_epi16(b1, b3), c67 = _mm256_unpackhi_epi16(b1, b3);
    const __m256i low = _mm256_set1_epi16(0x00FF);
    v[0] = _mm256_and_si256(c01, low);
    v[1] = _mm256_srli_epi16(c01, 8);
    v[2] = _mm256_and_si256(c23, low);
    v[3] = _mm256_srli_epi16(c23, 8);
    v[4] = _mm256_and_si256(c45, low);
    v[5] = _mm256_srli_epi16(c45, 8);
    v[6] = _mm256_and_si256(c67, low);
    v[7] = _mm256_srli_epi16(c67, 8);
}

constexpr int kRowShift = 13 - 2;     // keep two guard bits
constexpr int kColumnShift = 13 + 2;  // drop the constant bits and the guard bits

}  // namespace

TRIVJPEG_AVX2 void ForwardDctPairAvx2(const uint8_t *samples, int16_t *coefficients) {
    __m256i v[8];
    LoadColumns(samples, v);

    // Rows: lane r of v[k] becomes row result k of row r.
    Butterfly<kRowShift, true>(v);
    v[0] = _mm256_slli_epi16(v[0], 2);
    v[4] = _mm256_slli_epi16(v[4], 2);
    Transpose(v);

    // Columns: lane u of v[k] becomes coefficient (k, u), natural order.
    Butterfly<kColumnShift, false>(v);
    const __m256i dc = _mm256_broadcastsi128_si256(_mm_setr_epi16(
        DcTerm(0), DcTerm(1), DcTerm(2), DcTerm(3), DcTerm(4), DcTerm(5), DcTerm(6), DcTerm(7)));
    v[0] = _mm256_srai_epi16(_mm256_add_epi16(v[0], dc), 2);
    v[4] = _mm256_srai_epi16(_mm256_add_epi16(v[4], _mm256_set1_epi16(2)), 2);

    // Row by row, as the quantiser reads them back: a 16-byte store per
    // half, so each later 16-byte load is forwarded from one store.
    __m128i *out0 = reinterpret_cast<__m128i *>(coefficients);
    __m128i *out1 = reinterpret_cast<__m128i *>(coefficients + 64);
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) {
        _mm_storeu_si128(out0 + k, _mm256_castsi256_si128(v[k]));
        _mm_storeu_si128(out1 + k, _mm256_extracti128_si256(v[k], 1));
    }
}

#endif
