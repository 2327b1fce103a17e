// Quantisation of DCT coefficients by the scaled DQT divisors.
#pragma once

#include "encoder_session.h"
#include "simd_support.h"

// Divides by the divisor (8 x the DQT entry, matching the DCT's scale) and
// rounds to nearest, halves away from zero.
void Quantise(const int32_t *coefficients, const QuantTable *table, int16_t *quantised);

// Fills reciprocal and shiftFactor from the divisors (multiples of 8, from
// 8 to 2040).
void PrepareQuantTable(QuantTable *table);

// One lane of the vector quantiser, in scalar code: x divided by the
// divisor at index i by the table's reciprocal and shiftFactor, rounded
// half away from zero (PrepareQuantTable explains why it equals Quantise).
inline int32_t QuantiseByReciprocal(int32_t x, const QuantTable *table, int i) {
    int32_t p = ((x * static_cast<int16_t>(table->reciprocal[i])) >> 16) + x;
    if (p < -32768) p = -32768;  // the vector add saturates
    int32_t y = (p * table->shiftFactor[i]) >> 16;
    return (y + 1) >> 1;
}


#if TRIVJPEG_X86
// Quantise in SSE2 over 16-bit coefficients, by the reciprocals.
void QuantiseSse2(const int16_t *coefficients, const QuantTable *table, int16_t *quantised);

// Two blocks of the same table at once in AVX2, each bit for bit
// QuantiseSse2: 128 coefficients in, block 0 then block 1, and each block's
// 64 out where it goes.
void QuantisePairAvx2(const int16_t *coefficients, const QuantTable *table,
                      int16_t *quantisedFirst, int16_t *quantisedSecond);
#endif
