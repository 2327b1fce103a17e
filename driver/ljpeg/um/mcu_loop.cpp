// The scan: SOS, then every MCU in raster order through the per-block
// pipeline (fetch, forward DCT, quantise, code), then the final bit flush.
// Failures travel up as 0; this stage adds no status code of its own and
// undoes nothing.

#include "mcu_loop.h"

#include "forward_dct.h"
#include "quantiser.h"
#include "simd_support.h"
#include "stream_headers.h"

namespace {

// The stages of one block in plain C++: DCT to 32-bit coefficients, then
// division.
void TransformScalar(const uint8_t *samples, const QuantTable *table, int16_t *quantised) {
    int32_t coefficients[64];
    ForwardDct(samples, coefficients);
    Quantise(coefficients, table, quantised);
}

#if TRIVJPEG_X86
// The same stages in SSE2: 16-bit coefficients, division by reciprocals.
TRIVJPEG_SSE2 void TransformSse2(const uint8_t *samples, const QuantTable *table,
                                 int16_t *quantised) {
    int16_t coefficients[64];
    ForwardDctSse2(samples, coefficients);
    QuantiseSse2(coefficients, table, quantised);
}
#endif

int32_t EncodeMcus(EncoderSession *s) {
    for (ComponentSpec &c : s->components) c.dcPredictor = 0;
    // The headers end on a whole byte, so bitCount is already 0.
    s->output->bitBuffer = 0;

    uint8_t samples[kMcuSampleBufferSize];
    int16_t quantised[64];
    for (uint32_t n = 0; n < s->mcuCount; ++n) {
        if (!s->fetcher(s, samples)) return 0;
        const uint8_t *block = samples;
        for (uint32_t m = 0; m < s->componentCount; ++m) {
            ComponentSpec *c = &s->components[m];
            for (uint32_t b = 0; b < uint32_t{c->hSampling} * c->vSampling; ++b, block += 64) {
                s->blockTransform(block, c->quantTable, quantised);
                if (!s->blockCoder(s, c, quantised)) return 0;
            }
        }
        ++s->mcuIndex;
    }
    return s->output->FlushBits(s->output);
}

}  // namespace

int32_t EncodeScan(EncoderSession *session) {
    if (!WriteSos(session)) return 0;
    SetMcuGeometry(session);
    return EncodeMcus(session);
}

BlockTransform ChooseTransform(uint32_t simdLevel) {
#if TRIVJPEG_X86
    if (simdLevel >= SimdSse2) return TransformSse2;
#endif
    (void)simdLevel;
    return TransformScalar;
}
