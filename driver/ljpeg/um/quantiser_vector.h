// One row of the vector quantiser, for the files that divide in vector
// registers (quantiser_x86.cpp, forward_dct_x86.cpp, which quantises its
// rows before they leave the registers). This is no ordinary header: it
// needs the intrinsics of immintrin.h, which its includers, compiled only
// for x86, include first. Each lane is the arithmetic of
// QuantiseByReciprocal (quantiser.h) by the table PrepareQuantTable fills.
#pragma once

#include "quantiser.h"

// SSE2: row r of one block, eight lanes. Signed products round towards
// minus infinity, which is what lets the lanes divide without taking
// magnitudes and signs apart.
TRIVJPEG_SSE2 __attribute__((always_inline)) inline __m128i QuantiseRowSse2(__m128i x,
                                                                            const QuantTable *table,
                                                                            int r) {
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m128i p = _mm_adds_epi16(_mm_mulhi_epi16(x, _mm_loadu_si128(reciprocal + r)), x);
    __m128i y = _mm_mulhi_epi16(p, _mm_loadu_si128(shiftFactor + r));
    return _mm_srai_epi16(_mm_add_epi16(y, _mm_set1_epi16(1)), 1);
}

// AVX2: row r of two blocks of one table, block 0 in the low 128 bits, bit
// for bit QuantiseRowSse2 on each half.
//
// Its last three steps (multiply by f, add 1, halve) take one rounding
// multiply here. With f = 2^(16 - k), k >= 2 (PrepareQuantTable never makes
// it smaller), and Y = floor(P f / 2^16), flooring twice being flooring once:
//   (Y + 1) >> 1 = floor((P f / 2^16 + 1) / 2) = floor((P g + 2^14) / 2^15)
// for g = f / 4, and _mm256_mulhrs_epi16(P, g), ((P g >> 14) + 1) >> 1 on
// the exact 32-bit product, is the same floor. With g <= 2^12 the result
// lies within -4096..4096 for every 16-bit P, so its lane holds it. That
// makes four vector steps per row instead of five, the shift of f included.
// Both halves divide by the same table row, which one broadcast load
// fetches.
TRIVJPEG_AVX2 __attribute__((always_inline)) inline __m256i QuantiseRowPairAvx2(
    __m256i x, const QuantTable *table, int r) {
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m256i m = _mm256_broadcastsi128_si256(_mm_loadu_si128(reciprocal + r));
    __m256i f = _mm256_broadcastsi128_si256(_mm_loadu_si128(shiftFactor + r));
    __m256i p = _mm256_adds_epi16(_mm256_mulhi_epi16(x, m), x);
    return _mm256_mulhrs_epi16(p, _mm256_srli_epi16(f, 2));
}

#if defined(__x86_64__)
// AVX-512: row r of four blocks of one table, block b in 128-bit lane b, as
// QuantiseRowPairAvx2 has two.
TRIVJPEG_AVX512 __attribute__((always_inline)) inline __m512i QuantiseRowQuadAvx512(
    __m512i x, const QuantTable *table, int r) {
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m512i m = _mm512_broadcast_i32x4(_mm_loadu_si128(reciprocal + r));
    __m512i f = _mm512_broadcast_i32x4(_mm_loadu_si128(shiftFactor + r));
    __m512i p = _mm512_adds_epi16(_mm512_mulhi_epi16(x, m), x);
    return _mm512_mulhrs_epi16(p, _mm512_srli_epi16(f, 2));
}
#endif
