// The quantiser's x86 twins, row by row the arithmetic of
// quantiser_vector.h, on coefficients in memory. The block transforms
// (forward_dct_x86.cpp) quantise their rows in the registers the DCT leaves
// them in; these kernels are that arithmetic as the tests pin it to the
// plain quantiser, value by value.

#include <immintrin.h>

#include "quantiser_vector.h"

TRIVJPEG_SSE2 void QuantiseSse2(const int16_t *coefficients, const QuantTable *table,
                                int16_t *quantised) {
    const __m128i *in = reinterpret_cast<const __m128i *>(coefficients);
    __m128i *out = reinterpret_cast<__m128i *>(quantised);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        _mm_storeu_si128(out + r, QuantiseRowSse2(_mm_loadu_si128(in + r), table, r));
    }
}

// Coefficients come in and quotients go out 16 bytes (one row of one block)
// at a time.
TRIVJPEG_AVX2 void QuantisePairAvx2(const int16_t *coefficients, const QuantTable *table,
                                    int16_t *quantisedFirst, int16_t *quantisedSecond) {
    const __m128i *in0 = reinterpret_cast<const __m128i *>(coefficients);
    const __m128i *in1 = reinterpret_cast<const __m128i *>(coefficients + 64);
    __m128i *out0 = reinterpret_cast<__m128i *>(quantisedFirst);
    __m128i *out1 = reinterpret_cast<__m128i *>(quantisedSecond);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(in0 + r)),
                                            _mm_loadu_si128(in1 + r), 1);
        __m256i y = QuantiseRowPairAvx2(x, table, r);
        _mm_storeu_si128(out0 + r, _mm256_castsi256_si128(y));
        _mm_storeu_si128(out1 + r, _mm256_extracti128_si256(y, 1));
    }
}
