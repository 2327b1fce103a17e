// Forward DCT of one 8x8 block of samples.
#pragma once

#include <stdint.h>

#include "simd_support.h"

// Integer separable DCT-II (Loeffler-Ligtenberg-Moschytz), level shift
// included. Output in natural order, scaled by 8: out[0] is the sum of the
// 64 level-shifted samples.
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
