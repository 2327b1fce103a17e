// The scan: SOS, then every MCU in raster order through the per-block
// pipeline (fetch, forward DCT, quantise, code), then the final bit flush.
// Failures travel up as 0; this stage adds no status code of its own and
// undoes nothing.

#include "mcu_loop.h"

#include "forward_dct.h"
#include "stream_headers.h"

namespace {

// Divides by the divisor (8 x the DQT entry, matching the DCT's scale) and
// rounds to nearest, halves away from zero. Quotients of 8-bit samples lie
// within -1024 to +1016, so the 16-bit store never truncates.
inline int16_t QuantiseOne(int32_t x, int32_t q) {
    int32_t half = q >> 1;
    if (x >= 0) {
        int32_t t = x + half;
        return static_cast<int16_t>(t < q ? 0 : t / q);
    }
    int32_t t = half - x;
    return static_cast<int16_t>(t < q ? 0 : -(t / q));
}

void Quantise(const int32_t *coefficients, const QuantTable *table, int16_t *quantised) {
    for (int i = 0; i < 64; ++i) quantised[i] = QuantiseOne(coefficients[i], table->divisors[i]);
}

int32_t EncodeMcus(EncoderSession *s) {
    for (ComponentSpec &c : s->components) c.dcPredictor = 0;
    // The headers end on a whole byte, so bitCount is already 0.
    s->output->bitBuffer = 0;

    uint8_t samples[kMcuSampleBufferSize];
    int32_t coefficients[64];
    int16_t quantised[64];
    for (uint32_t n = 0; n < s->mcuCount; ++n) {
        if (!s->fetcher(s, samples)) return 0;
        const uint8_t *block = samples;
        for (uint32_t m = 0; m < s->componentCount; ++m) {
            ComponentSpec *c = &s->components[m];
            for (uint32_t b = 0; b < uint32_t{c->hSampling} * c->vSampling; ++b, block += 64) {
                ForwardDct(block, coefficients);
                Quantise(coefficients, c->quantTable, quantised);
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
