// Forward DCT of one 8x8 block of samples.
#pragma once

#include <stdint.h>

#include "simd_support.h"

// The Loeffler-Ligtenberg-Moschytz factors scaled by 2^13, ak = cos(k pi / 16).
// The vector transforms regroup their products from these.
// clang-format off
constexpr int32_t FIX_0_298631336 = 2446;   // sqrt2 (a3 + a5 - a1 - a7)
constexpr int32_t FIX_0_390180644 = 3196;   // sqrt2 (a3 - a5)
constexpr int32_t FIX_0_541196100 = 4433;   // sqrt2 a6
constexpr int32_t FIX_0_765366865 = 6270;   // sqrt2 (a2 - a6)
constexpr int32_t FIX_0_899976223 = 7373;   // sqrt2 (a3 - a7)
constexpr int32_t FIX_1_175875602 = 9633;   // sqrt2 a3
constexpr int32_t FIX_1_501321110 = 12299;  // sqrt2 (a1 + a3 - a5 - a7)
constexpr int32_t FIX_1_847759065 = 15137;  // sqrt2 (a2 + a6)
constexpr int32_t FIX_1_961570560 = 16069;  // sqrt2 (a3 + a5)
constexpr int32_t FIX_2_053119869 = 16819;  // sqrt2 (a1 + a3 - a5 + a7)
constexpr int32_t FIX_2_562915447 = 20995;  // sqrt2 (a1 + a3)
constexpr int32_t FIX_3_072711026 = 25172;  // sqrt2 (a1 + a3 + a5 - a7)
// clang-format on

// The row pass keeps two fractional guard bits: it descales products by
// 13 - 2 bits and shifts the unmultiplied even sums (E0, E4) up by 2. The
// column pass removes the constant bits and the guard bits together.
constexpr int kDctGuardBits = 2;
constexpr int kDctRowShift = 13 - kDctGuardBits;
constexpr int kDctColumnShift = 13 + kDctGuardBits;

// Integer separable DCT-II, level shift included. Output in natural order,
// scaled by 8: out[0] is the sum of the 64 level-shifted samples.
void ForwardDct(const uint8_t *samples, int32_t *coefficients);

#if TRIVJPEG_X86
// The same transform in SSE2, bit for bit: 16-bit lanes, the products as
// 16 x 16 -> 32-bit multiply-adds, descaled at the same points.
void ForwardDctSse2(const uint8_t *samples, int16_t *coefficients);

// Two blocks at once in AVX2, each bit for bit ForwardDctSse2: samples holds
// block 0 then block 1 (64 bytes each, row-major), coefficients receives
// their 128 results in the same order.
void ForwardDctPairAvx2(const uint8_t *samples, int16_t *coefficients);
#endif
