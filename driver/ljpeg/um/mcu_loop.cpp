// The scan: SOS, then every MCU in raster order through the per-block
// pipeline (fetch, forward DCT, quantise, code), then the final bit flush.
// Failures travel up as 0; this stage adds no status code of its own and
// undoes nothing.

#include "mcu_loop.h"

#include "session_setup.h"
#include "stream_headers.h"

namespace {

// Transforms the blocks of one MCU; two neighbours that share a quantisation
// table (Y with Y, Cb with Cr) go through the pair transform where there is
// one. The order of transforms does not matter, only that of coding.
void TransformMcu(const EncoderSession *s, const uint8_t *samples, ComponentSpec *const *owner,
                  uint32_t blockCount, int16_t (*quantised)[64]) {
    uint32_t i = 0;
    while (i < blockCount) {
        const QuantTable *table = owner[i]->quantTable;
        if (s->blockPairTransform && i + 1 < blockCount && owner[i + 1]->quantTable == table) {
            s->blockPairTransform(samples + 64 * i, table, quantised[i]);
            i += 2;
        } else {
            s->blockTransform(samples + 64 * i, table, quantised[i]);
            i += 1;
        }
    }
}

int32_t EncodeMcus(EncoderSession *s) {
    for (ComponentSpec &c : s->components) c.dcPredictor = 0;
    // The headers end on a whole byte, so bitCount is already 0.
    s->output->bitBuffer = 0;

    // The component of each block of an MCU, in coding order.
    ComponentSpec *owner[kMcuSampleBufferSize / 64];
    uint32_t blockCount = 0;
    for (uint32_t m = 0; m < s->componentCount; ++m) {
        ComponentSpec *c = &s->components[m];
        for (uint32_t b = 0; b < uint32_t{c->hSampling} * c->vSampling; ++b)
            owner[blockCount++] = c;
    }

    uint8_t samples[kMcuSampleBufferSize];
    int16_t quantised[kMcuSampleBufferSize / 64][64];
    for (uint32_t n = 0; n < s->mcuCount; ++n) {
        if (!s->fetcher(s, samples)) return 0;
        TransformMcu(s, samples, owner, blockCount, quantised);
        for (uint32_t i = 0; i < blockCount; ++i) {
            if (!s->blockCoder(s, owner[i], quantised[i])) return 0;
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
