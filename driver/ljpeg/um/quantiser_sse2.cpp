// Quantisation in SSE2: eight lanes at a time, each the arithmetic of
// QuantiseByReciprocal (quantiser.h), by the table PrepareQuantTable fills.
// Signed products round towards minus infinity, which is what lets the
// lanes divide without taking magnitudes and signs apart.

#include <emmintrin.h>

#include "quantiser.h"

#if TRIVJPEG_X86

TRIVJPEG_SSE2 void QuantiseSse2(const int16_t *coefficients, const QuantTable *table,
                                int16_t *quantised) {
    const __m128i *in = reinterpret_cast<const __m128i *>(coefficients);
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m128i *out = reinterpret_cast<__m128i *>(quantised);
    const __m128i one = _mm_set1_epi16(1);
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        __m128i x = _mm_loadu_si128(in + i);
        __m128i p = _mm_adds_epi16(_mm_mulhi_epi16(x, _mm_loadu_si128(reciprocal + i)), x);
        __m128i y = _mm_mulhi_epi16(p, _mm_loadu_si128(shiftFactor + i));
        _mm_storeu_si128(out + i, _mm_srai_epi16(_mm_add_epi16(y, one), 1));
    }
}

#endif
