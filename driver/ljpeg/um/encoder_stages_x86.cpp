// The block transforms of the x86 levels: the vector DCT and quantiser of
// one level, called back to back, so that the coefficients between them
// stay 16 bits wide.

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
// register, so neither these calls nor the SSE2 code around them pay for a
// switch between SSE and AVX states.
TRIVJPEG_AVX2 void TransformPairAvx2(const uint8_t *samples, const QuantTable *table,
                                     int16_t *quantised) {
    int16_t coefficients[128];
    ForwardDctPairAvx2(samples, coefficients);
    QuantisePairAvx2(coefficients, table, quantised);
}
