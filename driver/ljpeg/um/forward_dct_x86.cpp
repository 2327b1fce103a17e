// The forward DCT in x86 vector registers, bit for bit the transform of
// forward_dct.cpp: ForwardDctSse2 on one block in 128-bit registers,
// ForwardDctPairAvx2 on two blocks in 256-bit ones. Both compile the one
// body of forward_dct_vector.h; this file proves its arithmetic. The block
// transforms of the encoder's stages (TransformSse2, TransformPairAvx2,
// TransformPairApartAvx2) compile it too, and quantise each row in the
// register it comes out in: the coefficients are never stored and loaded
// back (3% of a 4:4:4 photograph's encode).
//
// Eight 16-bit lanes carry eight rows (or columns) through the butterfly at
// once. Every product the plain code forms is regrouped as a sum of two
// 16-bit inputs times constants, so one multiply-add (pmaddwd) on
// interleaved pairs gives it as the exact 32-bit sum the plain code has
// before it descales:
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
// 1024 modulo 2048, and after the shift by 11 each row result is the plain
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
//   plain one, at most 8 x 4080 = 32640 in magnitude; the DC plus its
//   rounding term runs from -32766 (all samples 0) to 32514 (all 255). The
//   32-bit sums stay below 2^28 and every coefficient within +-8192, so the
//   final narrowing never saturates.

// GCC 12 reports the undefined pass-through operand inside some AVX-512
// intrinsics as uninitialised (its bug 105593, mended in 13): warnings about
// the header, silenced for the header alone.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "encoder_stages.h"
#include "forward_dct.h"
#include "quantiser_vector.h"

namespace {

// The pairs of constants of the regrouped products above, named for the
// output and the input each multiplies.
constexpr int kE2Tmp12 = FIX_0_541196100;
constexpr int kE2Tmp13 = FIX_0_541196100 + FIX_0_765366865;
constexpr int kE6Tmp12 = FIX_0_541196100 - FIX_1_847759065;
constexpr int kE6Tmp13 = FIX_0_541196100;
constexpr int kZ3z3 = FIX_1_175875602 - FIX_1_961570560;
constexpr int kZ3z4 = FIX_1_175875602;
constexpr int kZ4z3 = FIX_1_175875602;
constexpr int kZ4z4 = FIX_1_175875602 - FIX_0_390180644;
constexpr int kO7Tmp4 = FIX_0_298631336 - FIX_0_899976223;
constexpr int kO7Tmp7 = -FIX_0_899976223;
constexpr int kO1Tmp4 = -FIX_0_899976223;
constexpr int kO1Tmp7 = FIX_1_501321110 - FIX_0_899976223;
constexpr int kO5Tmp5 = FIX_2_053119869 - FIX_2_562915447;
constexpr int kO5Tmp6 = -FIX_2_562915447;
constexpr int kO3Tmp5 = -FIX_2_562915447;
constexpr int kO3Tmp6 = FIX_3_072711026 - FIX_2_562915447;

// What the row pass adds to each row result k: (c - 1) / 2 for the odd
// constant c that multiplies tmp13 or z4, and the level shift left in the DC.
constexpr int kRowOffsetE2 = (kE2Tmp13 - 1) / 2;
constexpr int kRowOffsetE6 = (kE6Tmp13 - 1) / 2;
constexpr int kRowOffsetZ3 = (kZ3z4 - 1) / 2;  // O7 and O3
constexpr int kRowOffsetZ4 = (kZ4z4 - 1) / 2;  // O1 and O5
constexpr int kRowOffsetDc = (1 << kDctGuardBits) * 8 * 128;
static_assert(kE2Tmp13 % 2 == 1 && kE6Tmp13 % 2 == 1 && kZ3z4 % 2 == 1 && kZ4z4 % 2 == 1,
              "the row offsets need odd constants");
// clang-format off
constexpr int kRowOffsets[8] = {kRowOffsetDc, kRowOffsetZ4, kRowOffsetE2, kRowOffsetZ3,
                                0,            kRowOffsetZ4, kRowOffsetE6, kRowOffsetZ3};
// clang-format on

// The column pass's DC rounding term less eight times the row offset of
// each column, modulo 2^16.
constexpr int16_t DcTerm(int k) {
    return static_cast<int16_t>((1 << (kDctGuardBits - 1)) - 8 * kRowOffsets[k]);
}
alignas(16) constexpr int16_t kDcTerms[8] = {DcTerm(0), DcTerm(1), DcTerm(2), DcTerm(3),
                                             DcTerm(4), DcTerm(5), DcTerm(6), DcTerm(7)};

// The lane-wise operations of the transform, the same for either register
// width: W is empty or 256 in the intrinsic's name, S 128 or 256 in its
// type. The loads and stores, which differ, each width defines itself.
// clang-format off
#define TRIVJPEG_DCT_LANE_OPERATIONS(W, S)                                                  \
    using V = __m##S##i;                                                                    \
    [[gnu::always_inline]] inline V Add16(V a, V b) { return _mm##W##_add_epi16(a, b); }    \
    [[gnu::always_inline]] inline V Sub16(V a, V b) { return _mm##W##_sub_epi16(a, b); }    \
    [[gnu::always_inline]] inline V Add32(V a, V b) { return _mm##W##_add_epi32(a, b); }    \
    [[gnu::always_inline]] inline V MAdd16(V a, V b) { return _mm##W##_madd_epi16(a, b); }  \
    [[gnu::always_inline]] inline V Pack32(V a, V b) { return _mm##W##_packs_epi32(a, b); } \
    [[gnu::always_inline]] inline V And(V a, V b) { return _mm##W##_and_si##S(a, b); }      \
    [[gnu::always_inline]] inline V UnpackLo16(V a, V b) {                                  \
        return _mm##W##_unpacklo_epi16(a, b);                                               \
    }                                                                                       \
    [[gnu::always_inline]] inline V UnpackHi16(V a, V b) {                                  \
        return _mm##W##_unpackhi_epi16(a, b);                                               \
    }                                                                                       \
    [[gnu::always_inline]] inline V UnpackLo32(V a, V b) {                                  \
        return _mm##W##_unpacklo_epi32(a, b);                                               \
    }                                                                                       \
    [[gnu::always_inline]] inline V UnpackHi32(V a, V b) {                                  \
        return _mm##W##_unpackhi_epi32(a, b);                                               \
    }                                                                                       \
    [[gnu::always_inline]] inline V UnpackLo64(V a, V b) {                                  \
        return _mm##W##_unpacklo_epi64(a, b);                                               \
    }                                                                                       \
    [[gnu::always_inline]] inline V UnpackHi64(V a, V b) {                                  \
        return _mm##W##_unpackhi_epi64(a, b);                                               \
    }                                                                                       \
    template <int n>                                                                        \
    [[gnu::always_inline]] inline V ShiftRight32(V a) {                                     \
        return _mm##W##_srai_epi32(a, n);                                                   \
    }                                                                                       \
    template <int n>                                                                        \
    [[gnu::always_inline]] inline V ShiftRight16(V a) {                                     \
        return _mm##W##_srai_epi16(a, n);                                                   \
    }                                                                                       \
    template <int n>                                                                        \
    [[gnu::always_inline]] inline V ShiftRightLogical16(V a) {                              \
        return _mm##W##_srli_epi16(a, n);                                                   \
    }                                                                                       \
    template <int n>                                                                        \
    [[gnu::always_inline]] inline V ShiftLeft16(V a) {                                      \
        return _mm##W##_slli_epi16(a, n);                                                   \
    }                                                                                       \
    [[gnu::always_inline]] inline V Splat16(int x) {                                        \
        return _mm##W##_set1_epi16(static_cast<int16_t>(x));                                \
    }                                                                                       \
    [[gnu::always_inline]] inline V Splat32(int x) { return _mm##W##_set1_epi32(x); }       \
    /* Two 16-bit constants for the multiply-add: lo multiplies the first */                \
    /* interleaved input, hi the second. */                                                 \
    [[gnu::always_inline]] inline V Pair(int lo, int hi) {                                  \
        return Splat32(static_cast<int32_t>(static_cast<uint16_t>(lo) |                     \
                                            uint32_t{static_cast<uint16_t>(hi)} << 16));    \
    }
// clang-format on

// --- 128-bit registers, SSE2: one block.
TRIVJPEG_TARGET_BEGIN("sse2")
namespace xmm {
TRIVJPEG_DCT_LANE_OPERATIONS(, 128)

// Rows 2k and 2k + 1 of the block, at byte offset 16k.
[[gnu::always_inline]] inline V LoadRows(const uint8_t *samples, int offset) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + offset));
}
[[gnu::always_inline]] inline V LoadRow16(const int16_t *row) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(row));
}
[[gnu::always_inline]] inline void StoreRow(int16_t *coefficients, int k, V v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients) + k, v);
}

#include "forward_dct_vector.h"
}  // namespace xmm
TRIVJPEG_TARGET_END

// --- 256-bit registers, AVX2: block 0 in the low halves, block 1 in the high.
TRIVJPEG_TARGET_BEGIN("avx2")
namespace ymm {
TRIVJPEG_DCT_LANE_OPERATIONS(256, 256)

// The same 16 bytes of both blocks, block 0's in the low half. The insert
// from memory needs no shuffle unit.
[[gnu::always_inline]] inline V LoadRows(const uint8_t *samples, int offset) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + offset))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples + 64 + offset)), 1);
}
// Two blocks that do not lie side by side (the Y blocks of two 4:4:4 MCUs).
struct Apart {
    const uint8_t *first, *second;
};
[[gnu::always_inline]] inline V LoadRows(Apart samples, int offset) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples.first + offset))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(samples.second + offset)), 1);
}
[[gnu::always_inline]] inline V LoadRow16(const int16_t *row) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(row)));
}
// Row by row, as the quantiser reads them back: a 16-byte store per half, so
// each later 16-byte load is forwarded from one store.
[[gnu::always_inline]] inline void StoreRow(int16_t *coefficients, int k, V v) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients) + k, _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(coefficients + 64) + k,
                     _mm256_extracti128_si256(v, 1));
}

#include "forward_dct_vector.h"
}  // namespace ymm
TRIVJPEG_TARGET_END

#if defined(__x86_64__)
// --- 512-bit registers, AVX-512: four blocks, block b in 128-bit lane b
// (the halves as the 256-bit registers have them).
TRIVJPEG_TARGET_BEGIN("avx2,avx512f,avx512bw,avx512vl")
namespace zmm {
TRIVJPEG_DCT_LANE_OPERATIONS(512, 512)

[[gnu::always_inline]] inline V LoadRows(const uint8_t *samples, int offset) {
    const __m512i two = _mm512_castsi256_si512(ymm::LoadRows(samples, offset));
    return _mm512_mask_broadcast_i64x4(two, 0xF0, ymm::LoadRows(samples + 128, offset));
}
[[gnu::always_inline]] inline V LoadRow16(const int16_t *row) {
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i *>(row)));
}
[[gnu::always_inline]] inline void StoreRow(int16_t *coefficients, int k, V v) {
    ymm::StoreRow(coefficients, k, _mm512_castsi512_si256(v));
    ymm::StoreRow(coefficients + 128, k, _mm512_extracti64x4_epi64(v, 1));
}

#include "forward_dct_vector.h"
}  // namespace zmm
TRIVJPEG_TARGET_END
#endif

#undef TRIVJPEG_DCT_LANE_OPERATIONS

// Two blocks of one table: each row quantised, each block's 16 bytes of it
// stored where the block goes, as the block coder reads them.
template <typename Source>
TRIVJPEG_AVX2 __attribute__((always_inline)) inline void TransformPair(Source samples,
                                                                       const QuantTable *table,
                                                                       int16_t *quantisedFirst,
                                                                       int16_t *quantisedSecond) {
    __m256i v[8];
    ymm::TransformRows(samples, v);
    __m128i *out0 = reinterpret_cast<__m128i *>(quantisedFirst);
    __m128i *out1 = reinterpret_cast<__m128i *>(quantisedSecond);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m256i y = QuantiseRowPairAvx2(v[r], table, r);
        _mm_storeu_si128(out0 + r, _mm256_castsi256_si128(y));
        _mm_storeu_si128(out1 + r, _mm256_extracti128_si256(y, 1));
    }
}

}  // namespace

TRIVJPEG_SSE2 void ForwardDctSse2(const uint8_t *samples, int16_t *coefficients) {
    xmm::Transform(samples, coefficients);
}

TRIVJPEG_AVX2 void ForwardDctPairAvx2(const uint8_t *samples, int16_t *coefficients) {
    ymm::Transform(samples, coefficients);
}

TRIVJPEG_SSE2 void TransformSse2(const uint8_t *samples, const QuantTable *table,
                                 int16_t *quantised) {
    __m128i v[8];
    xmm::TransformRows(samples, v);
    __m128i *out = reinterpret_cast<__m128i *>(quantised);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) _mm_storeu_si128(out + r, QuantiseRowSse2(v[r], table, r));
}

// Each stage clears the upper halves of the vector registers before it
// returns (the compiler's vzeroupper), so neither these calls nor the SSE2
// code around them pay for a switch between SSE and AVX states.
TRIVJPEG_AVX2 void TransformPairAvx2(const uint8_t *samples, const QuantTable *table,
                                     int16_t *quantised) {
    TransformPair(samples, table, quantised, quantised + 64);
}

TRIVJPEG_AVX2 void TransformPairApartAvx2(const uint8_t *first, const uint8_t *second,
                                          const QuantTable *table, int16_t *quantisedFirst,
                                          int16_t *quantisedSecond) {
    TransformPair(ymm::Apart{first, second}, table, quantisedFirst, quantisedSecond);
}

#if defined(__x86_64__)
TRIVJPEG_AVX512 void TransformQuadAvx512(const uint8_t *samples, const QuantTable *table,
                                         int16_t *quantised) {
    __m512i v[8];
    zmm::TransformRows(samples, v);
    __m128i *out = reinterpret_cast<__m128i *>(quantised);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m512i y = QuantiseRowQuadAvx512(v[r], table, r);
        _mm_storeu_si128(out + r, _mm512_castsi512_si128(y));
        _mm_storeu_si128(out + 8 + r, _mm512_extracti32x4_epi32(y, 1));
        _mm_storeu_si128(out + 16 + r, _mm512_extracti32x4_epi32(y, 2));
        _mm_storeu_si128(out + 24 + r, _mm512_extracti32x4_epi32(y, 3));
    }
}
#endif
