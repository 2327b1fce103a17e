// The block transforms of the x86 levels: the vector DCT and quantiser of
// one level, called back to back, so that the coefficients between them
// stay 16 bits wide.

#include <immintrin.h>

#include "encoder_stages.h"
#include "forward_dct.h"
#include "quantiser.h"

TRIVJPEG_SSE2 void TransformSse2(const uint8_t *samples, const QuantTable *table,
                                 int16_t *quantised) {
    int16_t coefficients[64];
    ForwardDctSse2(samples, coefficients);
    QuantiseSse2(coefficients, table, quantised);
}

// Each stage clears the upper halves of the vector registers before it
// returns (the compiler's vzeroupper), and nothing here touches a vector
// register but the copy, so neither these calls nor the SSE2 code around
// them pay for a switch between SSE and AVX states.
TRIVJPEG_AVX2 void TransformPairAvx2(const uint8_t *samples, const QuantTable *table,
                                     int16_t *quantised) {
    int16_t coefficients[128];
    ForwardDctPairAvx2(samples, coefficients);
    QuantisePairAvx2(coefficients, table, quantised, quantised + 64);
}

// Blocks apart are brought together by 32-byte moves, which a 32-bit
// build's plain code would make 4 bytes at a time; the quantiser stores each
// block where it goes.
TRIVJPEG_AVX2 void TransformPairApartAvx2(const uint8_t *first, const uint8_t *second,
                                          const QuantTable *table, int16_t *quantisedFirst,
                                          int16_t *quantisedSecond) {
    alignas(32) uint8_t pair[128];
    const __m256i *from[2] = {reinterpret_cast<const __m256i *>(first),
                              reinterpret_cast<const __m256i *>(second)};
    __m256i *to = reinterpret_cast<__m256i *>(pair);
    for (int i = 0; i < 4; ++i) _mm256_store_si256(to + i, _mm256_loadu_si256(from[i / 2] + i % 2));
    int16_t coefficients[128];
    ForwardDctPairAvx2(pair, coefficients);
    QuantisePairAvx2(coefficients, table, quantisedFirst, quantisedSecond);
}
