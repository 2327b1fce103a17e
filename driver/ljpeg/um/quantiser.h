// Quantisation of DCT coefficients by the scaled DQT divisors.
#pragma once

#include "encoder_session.h"

// Divides by the divisor (8 x the DQT entry, matching the DCT's scale) and
// rounds to nearest, halves away from zero.
void Quantise(const int32_t *coefficients, const QuantTable *table, int16_t *quantised);

// Fills reciprocal and shiftFactor from the divisors (8 to 2040).
void PrepareQuantTable(QuantTable *table);

// The division the vector quantiser does, one lane of it: floor(t / d) for
// any 16-bit t, from the table's reciprocal and shiftFactor at index i.
inline uint32_t DivideByReciprocal(uint32_t t, const QuantTable *table, int i) {
    uint32_t t1 = (t * table->reciprocal[i]) >> 16;
    return ((t1 + ((t - t1) >> 1)) * table->shiftFactor[i]) >> 16;
}

#include "simd_support.h"

#if TRIVJPEG_X86
// Quantise in SSE2 over 16-bit coefficients, by the reciprocals.
void QuantiseSse2(const int16_t *coefficients, const QuantTable *table, int16_t *quantised);
#endif
