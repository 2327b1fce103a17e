// The forward DCT in SSE2, bit for bit the transform of forward_dct.cpp.
//
// Eight 16-bit lanes carry eight rows (or columns) through the butterfly at
// once. Every product the scalar code forms is regrouped as a sum of two
// 16-bit inputs times constants, so one _mm_madd_epi16 on interleaved pairs
// gives it as the exact 32-bit sum the scalar code has before it descales:
//   E2 = tmp12 x 4433 + tmp13 x (4433 + 6270)
//   E6 = tmp12 x (4433 - 15137) + tmp13 x 4433
// and in the odd part, with z3 = tmp4 + tmp6 and z4 = tmp5 + tmp7,
//   Z3 = z3 x (9633 - 16069) + z4 x 9633     (z3 x -FIX_1_961570560 + z5)
//   Z4 = z3 x 9633 + z4 x (9633 - 3196)      (z4 x -FIX_0_390180644 + z5)
//   O7 = tmp4 x (2446 - 7373) + tmp7 x -7373 + Z3
//   O1 = tmp4 x -7373 + tmp7 x (12299 - 7373) + Z4
//   O5 = tmp5 x (16819 - 20995) + tmp6 x -20995 + Z4
//   O3 = tmp5 x -20995 + tmp6 x (25172 - 20995) + Z3
// The column pass adds its rounding term to E2, E6, Z3 and Z4, and so to
// all six products.
//
// The row pass rounds by offsets instead. It adds 1024 to tmp13 and to z4:
// every constant that multiplies them is odd, so each product sum gains
// 1024 modulo 2048, and after the shift by 11 each row result is the scalar
// one plus (c - 1) / 2 for the odd constant c. The samples also go in
// unshifted (0..255), which adds 4 x 8 x 128 = 4096 to each row's DC. These
// offsets are the same in every row: in the column pass they cancel in
// every difference and only move the DC sums, by eight times the offset,
// which the DC's rounding term takes back off, modulo 2^16.
//
// Ranges (each value is linear in the samples and descaling is monotonic,
// so the bounds are reached by 0/255 blocks):
// - Row pass: no lane exceeds 2040 in magnitude before the products, whose
//   sums stay below 2^25. Row results, offsets included, lie within -4080..9120;
//   without them, within -4096..4080.
// - Column pass: the sums that carry offsets (tmp0-tmp3, tmp10, tmp11, the
//   DC) may wrap in 16 bits, but they are only ever subtracted from one
//   another, which cancels the offsets exactly, or corrected as above. Every
//   other value, and so everything a product or a shift reads, is the
//   scalar one, at most 8 x 4080 = 32640 in magnitude; the DC plus its
//   rounding term runs from -32766 (all samples 0) to 32514 (all 255). The
//   32-bit sums stay below 2^28 and every coefficient within +-8192, so the
//   final narrowing never saturates.

#include <emmintrin.h>

#include "forward_dct.h"

#if TRIVJPEG_X86

namespace {

// A pair of 16-bit constants for _mm_madd_epi16: lo multiplies the first
// interleaved input, hi the second.
TRIVJPEG_SSE2 inline __m128i Pair(int16_t lo, int16_t hi) {
    return _mm_setr_epi16(lo, hi, lo, hi, lo, hi, lo, hi);
}

// Shifts the 32-bit sums of lanes 0-3 (lo) and 4-7 (hi) right by n and
// narrows them to one register of 16-bit lanes.
template <int n>
TRIVJPEG_SSE2 inline __m128i Narrow(__m128i lo, __m128i hi) {
    return _mm_packs_epi32(_mm_srai_epi32(lo, n), _mm_srai_epi32(hi, n));
}

// What the row pass adds to each row result k (see above).
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
TRIVJPEG_SSE2 inline __m128i Rounded(__m128i sum) {
    if constexpr (rows) return sum;
    return _mm_add_epi32(sum, _mm_set1_epi32(1 << (n - 1)));
}

// One 8-point butterfly across eight registers, v[k] in and out (lane by
// lane). Leaves E0 and E4 unscaled for the caller; the products come out
// descaled by n bits, rounded by offsets for the row pass (rows = true) and
// by rounding terms for the column pass.
template <int n, bool rows>
TRIVJPEG_SSE2 inline void Butterfly(__m128i *v) {
    __m128i tmp0 = _mm_add_epi16(v[0], v[7]), tmp7 = _mm_sub_epi16(v[0], v[7]);
    __m128i tmp1 = _mm_add_epi16(v[1], v[6]), tmp6 = _mm_sub_epi16(v[1], v[6]);
    __m128i tmp2 = _mm_add_epi16(v[2], v[5]), tmp5 = _mm_sub_epi16(v[2], v[5]);
    __m128i tmp3 = _mm_add_epi16(v[3], v[4]), tmp4 = _mm_sub_epi16(v[3], v[4]);

    __m128i tmp10 = _mm_add_epi16(tmp0, tmp3), tmp13 = _mm_sub_epi16(tmp0, tmp3);
    __m128i tmp11 = _mm_add_epi16(tmp1, tmp2), tmp12 = _mm_sub_epi16(tmp1, tmp2);
    v[0] = _mm_add_epi16(tmp10, tmp11);
    v[4] = _mm_sub_epi16(tmp10, tmp11);

    if constexpr (rows) tmp13 = _mm_add_epi16(tmp13, _mm_set1_epi16(1 << (n - 1)));
    __m128i lo = _mm_unpacklo_epi16(tmp12, tmp13), hi = _mm_unpackhi_epi16(tmp12, tmp13);
    const __m128i e2 = Pair(4433, 4433 + 6270), e6 = Pair(4433 - 15137, 4433);
    v[2] = Narrow<n>(Rounded<n, rows>(_mm_madd_epi16(lo, e2)),
                     Rounded<n, rows>(_mm_madd_epi16(hi, e2)));
    v[6] = Narrow<n>(Rounded<n, rows>(_mm_madd_epi16(lo, e6)),
                     Rounded<n, rows>(_mm_madd_epi16(hi, e6)));

    __m128i z3 = _mm_add_epi16(tmp4, tmp6), z4 = _mm_add_epi16(tmp5, tmp7);
    if constexpr (rows) z4 = _mm_add_epi16(z4, _mm_set1_epi16(1 << (n - 1)));
    lo = _mm_unpacklo_epi16(z3, z4);
    hi = _mm_unpackhi_epi16(z3, z4);
    const __m128i cz3 = Pair(9633 - 16069, 9633), cz4 = Pair(9633, 9633 - 3196);
    __m128i z3lo = Rounded<n, rows>(_mm_madd_epi16(lo, cz3));
    __m128i z3hi = Rounded<n, rows>(_mm_madd_epi16(hi, cz3));
    __m128i z4lo = Rounded<n, rows>(_mm_madd_epi16(lo, cz4));
    __m128i z4hi = Rounded<n, rows>(_mm_madd_epi16(hi, cz4));

    lo = _mm_unpacklo_epi16(tmp4, tmp7);
    hi = _mm_unpackhi_epi16(tmp4, tmp7);
    const __m128i o7 = Pair(2446 - 7373, -7373), o1 = Pair(-7373, 12299 - 7373);
    v[7] = Narrow<n>(_mm_add_epi32(_mm_madd_epi16(lo, o7), z3lo),
                     _mm_add_epi32(_mm_madd_epi16(hi, o7), z3hi));
    v[1] = Narrow<n>(_mm_add_epi32(_mm_madd_epi16(lo, o1), z4lo),
                     _mm_add_epi32(_mm_madd_epi16(hi, o1), z4hi));

    lo = _mm_unpacklo_epi16(tmp5, tmp6);
    hi = _mm_unpackhi_epi16(tmp5, tmp6);
    const __m128i o5 = Pair(16819 - 20995, -20995), o3 = Pair(-20995, 25172 - 20995);
    v[5] = Narrow<n>(_mm_add_epi32(_mm_madd_epi16(lo, o5), z4lo),
                     _mm_add_epi32(_mm_madd_epi16(hi, o5), z4hi));
    v[3] = Narrow<n>(_mm_add_epi32(_mm_madd_epi16(lo, o3), z3lo),
                     _mm_add_epi32(_mm_madd_epi16(hi, o3), z3hi));
}

// Transposes the 8x8 matrix of 16-bit values whose rows are v[0..7].
TRIVJPEG_SSE2 inline void Transpose(__m128i *v) {
    __m128i a0 = _mm_unpacklo_epi16(v[0], v[1]), a1 = _mm_unpackhi_epi16(v[0], v[1]);
    __m128i a2 = _mm_unpacklo_epi16(v[2], v[3]), a3 = _mm_unpackhi_epi16(v[2], v[3]);
    __m128i a4 = _mm_unpacklo_epi16(v[4], v[5]), a5 = _mm_unpackhi_epi16(v[4], v[5]);
    __m128i a6 = _mm_unpacklo_epi16(v[6], v[7]), a7 = _mm_unpackhi_epi16(v[6], v[7]);
    __m128i b0 = _mm_unpacklo_epi32(a0, a2), b1 = _mm_unpackhi_epi32(a0, a2);
    __m128i b2 = _mm_unpacklo_epi32(a1, a3), b3 = _mm_unpackhi_epi32(a1, a3);
    __m128i b4 = _mm_unpacklo_epi32(a4, a6), b5 = _mm_unpackhi_epi32(a4, a6);
    __m128i b6 = _mm_unpacklo_epi32(a5, a7), b7 = _mm_unpackhi_epi32(a5, a7);
    v[0] = _mm_unpacklo_epi64(b0, b4);
    v[1] = _mm_unpackhi_epi64(b0, b4);
    v[2] = _mm_unpacklo_epi64(b1, b5);
    v[3] = _mm_unpackhi_epi64(b1, b5);
    v[4] = _mm_unpacklo_epi64(b2, b6);
    v[5] = _mm_unpackhi_epi64(b2, b6);
    v[6] = _mm_unpacklo_epi64(b3, b7);
    v[7] = _mm_unpackhi_epi64(b3, b7);
}

// Loads the block transposed: v[x] holds sample x of rows 0..7, widened to
// 16 bits. Three rounds of interleaving 16-bit units leave each register
// with two columns whose bytes alternate, row by row; masking and shifting
// then widens them without another shuffle.
TRIVJPEG_SSE2 inline void LoadColumns(const uint8_t *samples, __m128i *v) {
    const __m128i *in = reinterpret_cast<const __m128i *>(samples);
    __m128i r01 = _mm_loadu_si128(in), r23 = _mm_loadu_si128(in + 1);
    __m128i r45 = _mm_loadu_si128(in + 2), r67 = _mm_loadu_si128(in + 3);
    // Rows 0 and 4, 1 and 5, ...: byte pairs of columns (0, 1), (2, 3), ...
    __m128i a04 = _mm_unpacklo_epi16(r01, r45), a15 = _mm_unpackhi_epi16(r01, r45);
    __m128i a26 = _mm_unpacklo_epi16(r23, r67), a37 = _mm_unpackhi_epi16(r23, r67);
    // Rows 0, 2, 4, 6 (1, 3, 5, 7) of columns 0-3 and of columns 4-7.
    __m128i b0 = _mm_unpacklo_epi16(a04, a26), b1 = _mm_unpackhi_epi16(a04, a26);
    __m128i b2 = _mm_unpacklo_epi16(a15, a37), b3 = _mm_unpackhi_epi16(a15, a37);
    // Rows 0-7 of columns (0, 1), (2, 3), (4, 5), (6, 7).
    __m128i c01 = _mm_unpacklo_epi16(b0, b2), c23 = _mm_unpackhi_epi16(b0, b2);
    __m128i c45 = _mm_unpacklo_epi16(b1, b3), c67 = _mm_unpackhi_epi16(b1, b3);
    const __m128i low = _mm_set1_epi16(0x00FF);
    v[0] = _mm_and_si128(c01, low);
    v[1] = _mm_srli_epi16(c01, 8);
    v[2] = _mm_and_si128(c23, low);
    v[3] = _mm_srli_epi16(c23, 8);
    v[4] = _mm_and_si128(c45, low);
    v[5] = _mm_srli_epi16(c45, 8);
    v[6] = _mm_and_si128(c67, low);
    v[7] = _mm_srli_epi16(c67, 8);
}

constexpr int kRowShift = 13 - 2;     // keep two guard bits
constexpr int kColumnShift = 13 + 2;  // drop the constant bits and the guard bits

}  // namespace

TRIVJPEG_SSE2 void ForwardDctSse2(const uint8_t *samples, int16_t *coefficients) {
    __m128i v[8];
    LoadColumns(samples, v);

    // Rows: lane r of v[k] becomes row result k of row r.
    Butterfly<kRowShift, true>(v);
    v[0] = _mm_slli_epi16(v[0], 2);
    v[4] = _mm_slli_epi16(v[4], 2);
    Transpose(v);

    // Columns: lane u of v[k] becomes coefficient (k, u), natural order.
    Butterfly<kColumnShift, false>(v);
    const __m128i dc = _mm_setr_epi16(DcTerm(0), DcTerm(1), DcTerm(2), DcTerm(3), DcTerm(4),
                                      DcTerm(5), DcTerm(6), DcTerm(7));
    v[0] = _mm_srai_epi16(_mm_add_epi16(v[0], dc), 2);
    v[4] = _mm_srai_epi16(_mm_add_epi16(v[4], _mm_set1_epi16(2)), 2);

    __m128i *out = reinterpret_cast<__m128i *>(coefficients);
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(out + k, v[k]);
}

#endif
