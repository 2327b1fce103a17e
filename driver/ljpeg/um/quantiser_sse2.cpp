// Quantisation in SSE2: the division of quantiser.cpp, eight lanes at a
// time, by the reciprocals PrepareQuantTable derives.
//
// Each lane works on the magnitude, as the scalar code does, so the
// rounding stays half away from zero: with s = x >> 15 (0 or -1),
// |x| = (x ^ s) - s as an unsigned 16-bit value (-32768 gives 0x8000), and
// t = |x| + divisor / 2 is at most 32768 + 1020, still within 16 bits, as
// DivideByReciprocal requires. Its quotient q is at most 4096, and
// (q ^ s) - s puts the sign back.

#include <emmintrin.h>

#include "quantiser.h"

#if TRIVJPEG_X86

TRIVJPEG_SSE2 void QuantiseSse2(const int16_t *coefficients, const QuantTable *table,
                                int16_t *quantised) {
    const __m128i *in = reinterpret_cast<const __m128i *>(coefficients);
    const __m128i *divisors = reinterpret_cast<const __m128i *>(table->divisors);
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m128i *out = reinterpret_cast<__m128i *>(quantised);
    for (int i = 0; i < 8; ++i) {
        __m128i x = _mm_loadu_si128(in + i);
        __m128i s = _mm_srai_epi16(x, 15);
        __m128i t = _mm_sub_epi16(_mm_xor_si128(x, s), s);
        t = _mm_add_epi16(t, _mm_srli_epi16(_mm_loadu_si128(divisors + i), 1));
        __m128i t1 = _mm_mulhi_epu16(t, _mm_loadu_si128(reciprocal + i));
        __m128i q = _mm_add_epi16(t1, _mm_srli_epi16(_mm_sub_epi16(t, t1), 1));
        q = _mm_mulhi_epu16(q, _mm_loadu_si128(shiftFactor + i));
        _mm_storeu_si128(out + i, _mm_sub_epi16(_mm_xor_si128(q, s), s));
    }
}

#endif
