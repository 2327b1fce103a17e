// The scan: SOS, then every MCU in raster order through the per-block
// pipeline (fetch, forward DCT, quantise, code), then the final bit flush.
// MCUs of one source pixel value skip the fetch, and flat blocks the
// transform and AC coding (flat_blocks.h).
// Failures travel up as 0; this stage adds no status code of its own and
// undoes nothing.

#include "mcu_loop.h"

#include "entropy_coder.h"
#include "flat_blocks.h"
#include "session_setup.h"
#include "stream_headers.h"

namespace {

// The blocks of one MCU: the component of each in coding order, and what
// the loop needs of each component for flat blocks.
struct McuBlocks {
    ComponentSpec *owner[kMcuSampleBufferSize / 64];
    uint8_t component[kMcuSampleBufferSize / 64];  // index of owner in the session
    uint32_t count;
};

// The flat blocks of a fetched MCU, as a mask (bit i for block i), each
// given its DC.
uint32_t FindFlatBlocks(const uint8_t *samples, const McuBlocks &blocks, int16_t (*quantised)[64]) {
    uint32_t flat = 0;
    for (uint32_t i = 0; i < blocks.count; ++i) {
        if (IsFlatBlock(samples + 64 * i)) {
            flat |= 1u << i;
            quantised[i][0] = FlatBlockDc(samples[64 * i], blocks.owner[i]->quantTable);
        }
    }
    return flat;
}

// Transforms the blocks of one MCU but the flat ones; four neighbours that
// share a quantisation table (the Y of 4:2:0) go through the four-block
// transform where there is one, two (Y with Y, Cb with Cr) through the pair
// transform. The order of transforms does not matter, only that of coding.
// kSomeFlat false: the mask is 0, and the loop as short as before flat
// blocks had a path of their own.
template <bool kSomeFlat>
void TransformMcu(const EncoderSession *s, const uint8_t *samples, const McuBlocks &blocks,
                  uint32_t flat, int16_t (*quantised)[64]) {
    uint32_t i = 0;
    while (i < blocks.count) {
        if (kSomeFlat && (flat >> i & 1)) {
            i += 1;
            continue;
        }
        const QuantTable *table = blocks.owner[i]->quantTable;
        if (s->blockQuadTransform && i + 3 < blocks.count && !(kSomeFlat && (flat >> i & 0xF)) &&
            blocks.owner[i + 1]->quantTable == table && blocks.owner[i + 2]->quantTable == table &&
            blocks.owner[i + 3]->quantTable == table) {
            s->blockQuadTransform(samples + 64 * i, table, quantised[i]);
            i += 4;
            continue;
        }
        if (s->blockPairTransform && i + 1 < blocks.count &&
            !(kSomeFlat && (flat >> (i + 1) & 1)) && blocks.owner[i + 1]->quantTable == table) {
            s->blockPairTransform(samples + 64 * i, table, quantised[i]);
            i += 2;
        } else {
            s->blockTransform(samples + 64 * i, table, quantised[i]);
            i += 1;
        }
    }
}

// Blocks in a row, none flat: through the run coder where the level has
// one, else one by one.
int32_t CodeBlocks(EncoderSession *s, ComponentSpec *const *owner, const int16_t (*quantised)[64],
                   uint32_t count) {
    if (count > 1 && s->blockRunCoder) return s->blockRunCoder(s, owner, quantised, count);
    for (uint32_t i = 0; i < count; ++i) {
        if (!s->blockCoder(s, owner[i], quantised[i])) return 0;
    }
    return 1;
}

template <bool kSomeFlat>
int32_t CodeMcu(EncoderSession *s, const McuBlocks &blocks, uint32_t flat,
                const int16_t (*quantised)[64]) {
    // No flat block: the whole MCU is one run.
    if (!kSomeFlat) return CodeBlocks(s, blocks.owner, quantised, blocks.count);
    uint32_t i = 0;
    while (i < blocks.count) {
        if (flat >> i & 1) {
            // Neighbouring flat blocks (Cb and Cr of black print) in one call.
            int16_t dc[kMcuSampleBufferSize / 64] = {};
            uint32_t n = 0;
            for (; i + n < blocks.count && (flat >> (i + n) & 1); ++n) dc[n] = quantised[i + n][0];
            if (!CodeFlatBlocks(s, &blocks.owner[i], dc, n)) return 0;
            i += n;
        } else {
            // The blocks up to the next flat one.
            uint32_t n = 1;
            while (i + n < blocks.count && !(flat >> (i + n) & 1)) ++n;
            if (!CodeBlocks(s, &blocks.owner[i], quantised + i, n)) return 0;
            i += n;
        }
    }
    return 1;
}

// A fetched MCU, whose flat blocks (the mask) have their DCs already:
// transformed, and coded.
__attribute__((always_inline)) inline void TransformFetched(const EncoderSession *s,
                                                            const uint8_t *samples,
                                                            const McuBlocks &blocks, uint32_t flat,
                                                            int16_t (*quantised)[64]) {
    if (flat == 0) {
        TransformMcu<false>(s, samples, blocks, 0, quantised);
    } else {
        TransformMcu<true>(s, samples, blocks, flat, quantised);
    }
}

__attribute__((always_inline)) inline int32_t CodeFetched(EncoderSession *s,
                                                          const McuBlocks &blocks, uint32_t flat,
                                                          const int16_t (*quantised)[64]) {
    return flat == 0 ? CodeMcu<false>(s, blocks, 0, quantised)
                     : CodeMcu<true>(s, blocks, flat, quantised);
}

// An MCU whose source pixels are all one value: every block flat, with the
// samples of that pixel. Most such MCUs of a page have the colour of the one
// before (the paper), so the DCs of the last colour are kept; and while the
// predictors hold them, every DC difference is zero and the MCU's bits are
// always the same: each block's code of category 0 and EOB.
struct FlatMcu {
    uint32_t colour;  // the samples, packed; above 24 bits: none yet
    int16_t dc[kMcuSampleBufferSize / 64];
    uint64_t repeatBits;  // right-aligned
    uint32_t repeatLength;
};

void StartFlatMcus(const McuBlocks &blocks, FlatMcu *flat) {
    flat->colour = 0xFFFFFFFFu;
    flat->repeatBits = 0;
    flat->repeatLength = 0;
    for (uint32_t i = 0; i < blocks.count; ++i) {
        const HuffmanCodeTable *dc = blocks.owner[i]->dcTable, *ac = blocks.owner[i]->acTable;
        const uint32_t length = dc->codeLength[0] + ac->codeLength[0];
        flat->repeatBits =
            flat->repeatBits << length | (uint32_t{dc->code[0]} << ac->codeLength[0] | ac->code[0]);
        flat->repeatLength += length;
    }
}

// `run` neighbouring MCUs, each of one pixel value throughout, the same.
int32_t CodeFlatMcus(EncoderSession *s, const McuBlocks &blocks, const uint8_t *samples,
                     uint32_t run, FlatMcu *last) {
    uint32_t colour = samples[0];
    if (s->componentCount == 3) colour |= uint32_t{samples[1]} << 8 | uint32_t{samples[2]} << 16;
    if (colour != last->colour) {
        last->colour = colour;
        for (uint32_t i = 0; i < blocks.count; ++i) {
            last->dc[i] = FlatBlockDc(samples[blocks.component[i]], blocks.owner[i]->quantTable);
        }
    }
    bool repeat = true;
    for (uint32_t i = 0; i < blocks.count; ++i) {
        repeat = repeat && blocks.owner[i]->dcPredictor == last->dc[i];
    }
    // The first MCU sets the predictors, if they differ; the rest repeat.
    if (!repeat) {
        if (!CodeFlatBlocks(s, blocks.owner, last->dc, blocks.count)) return 0;
        --run;
    }
    if (run == 0) return 1;
    if (last->repeatLength <= 32 &&
        PutRepeatedBits(s, static_cast<uint32_t>(last->repeatBits), last->repeatLength, run)) {
        return 1;
    }
    for (; run > 0; --run) {
        if (!CodeFlatBlocks(s, blocks.owner, last->dc, blocks.count)) return 0;
    }
    return 1;
}

// Whether two busy MCUs in a row should share a pair transform: where an
// MCU has an odd number of blocks, its first (grey's one block, the Y of
// 4:4:4) has no partner of its own table inside it, and the next MCU's
// first is one.
bool PairsAcrossMcus(const EncoderSession *s, const McuBlocks &blocks) {
    return s->blockPairTransform && blocks.count % 2 == 1 &&
           2 * blocks.count <= kMcuSampleBufferSize / 64;
}

// The blocks of an MCU from the second on.
McuBlocks AfterFirst(const McuBlocks &blocks) {
    McuBlocks rest{};
    for (uint32_t i = 1; i < blocks.count; ++i) {
        rest.owner[rest.count] = blocks.owner[i];
        rest.component[rest.count++] = blocks.component[i];
    }
    return rest;
}

// The blocks of two MCUs, one after the other.
McuBlocks Twice(const McuBlocks &blocks) {
    McuBlocks twice = blocks;
    for (uint32_t i = 0; i < blocks.count; ++i) {
        twice.owner[twice.count] = blocks.owner[i];
        twice.component[twice.count++] = blocks.component[i];
    }
    return twice;
}

// The first blocks of two fetched MCUs (the first one's not flat), as one
// pair where the second's is not flat either. The second MCU's samples and
// coefficients follow the first's (an odd count of at most 3 blocks each
// fits the buffers of one MCU of 6): grey's two blocks lie side by side,
// 4:4:4's Y blocks apart, each pair transformed where it lies. The other
// blocks (`rest`, AfterFirst) as TransformMcu does.
void TransformTwoMcus(const EncoderSession *s, const uint8_t *samples, const McuBlocks &blocks,
                      const McuBlocks &rest, uint32_t nextFlat, int16_t (*quantised)[64]) {
    const uint32_t n = blocks.count;
    const uint8_t *next = samples + 64 * n;
    int16_t(*nextQuantised)[64] = quantised + n;
    const QuantTable *table = blocks.owner[0]->quantTable;
    if (nextFlat & 1) {
        s->blockTransform(samples, table, quantised[0]);
    } else if (n == 1) {
        s->blockPairTransform(samples, table, quantised[0]);
    } else {
        s->blockPairApart(samples, next, table, quantised[0], nextQuantised[0]);
    }
    if (n == 1) return;
    TransformMcu<false>(s, samples + 64, rest, 0, quantised + 1);
    TransformFetched(s, next + 64, rest, nextFlat >> 1, nextQuantised + 1);
}

int32_t EncodeMcus(EncoderSession *s) {
    for (ComponentSpec &c : s->components) c.dcPredictor = 0;
    // The headers end on a whole byte, so bitCount is already 0.
    s->output->bitBuffer = 0;

    McuBlocks blocks;
    blocks.count = 0;
    for (uint32_t m = 0; m < s->componentCount; ++m) {
        ComponentSpec *c = &s->components[m];
        for (uint32_t b = 0; b < uint32_t{c->hSampling} * c->vSampling; ++b) {
            blocks.owner[blocks.count] = c;
            blocks.component[blocks.count++] = static_cast<uint8_t>(m);
        }
    }

    uint8_t samples[kMcuSampleBufferSize];
    int16_t quantised[kMcuSampleBufferSize / 64][64];
    const bool pairs = PairsAcrossMcus(s, blocks);
    const McuBlocks rest = AfterFirst(blocks);
    const McuBlocks two = pairs ? Twice(blocks) : blocks;
    FlatMcu lastFlat;
    StartFlatMcus(blocks, &lastFlat);
    // A photograph has few flat blocks, a page many: the probe looks at an
    // MCU only after one that was flat or had a flat block, so that it costs
    // photographs next to nothing, and a page at most a fetch where paper
    // follows print. The blocks of a fetched colour MCU are looked at after
    // such an MCU and at every fourth (print in colour has flat chroma
    // blocks, so a page stays looked at); a grey MCU's one block always.
    bool probe = true;
    auto look = [&](uint32_t n) {
        return s->flatProbe && (probe || blocks.count == 1 || n % 4 == 0);
    };
    for (uint32_t n = 0; n < s->mcuCount;) {
        uint32_t run = probe && s->flatProbe ? s->flatProbe(s, samples) : 0;
        if (run > 0) {
            if (!CodeFlatMcus(s, blocks, samples, run, &lastFlat)) return 0;
        } else {
            if (!s->fetcher(s, samples)) return 0;
            const uint32_t flat = look(n) ? FindFlatBlocks(samples, blocks, quantised) : 0;
            probe = flat != 0;
            // After a busy MCU the next is fetched without a probe: the two
            // go together where their first blocks can pair.
            if (pairs && flat == 0 && n + 1 < s->mcuCount) {
                uint8_t *next = samples + 64 * blocks.count;
                int16_t(*nextQuantised)[64] = quantised + blocks.count;
                s->mcuIndex += 1;
                if (!s->fetcher(s, next)) {
                    // What the failing fetch leaves undone: the first MCU,
                    // coded as it would have been alone.
                    TransformFetched(s, samples, blocks, 0, quantised);
                    CodeFetched(s, blocks, 0, quantised);
                    return 0;
                }
                const uint32_t nextFlat =
                    look(n + 1) ? FindFlatBlocks(next, blocks, nextQuantised) : 0;
                TransformTwoMcus(s, samples, blocks, rest, nextFlat, quantised);
                // Coded as one MCU of twice the blocks, so that a run of
                // blocks goes on into the second.
                if (!CodeFetched(s, two, nextFlat << blocks.count, quantised)) return 0;
                probe = nextFlat != 0;
                n += 2;
                s->mcuIndex += 1;
                continue;
            }
            TransformFetched(s, samples, blocks, flat, quantised);
            if (!CodeFetched(s, blocks, flat, quantised)) return 0;
            run = 1;
        }
        n += run;
        s->mcuIndex += run;
    }
    return s->output->FlushBits(s->output);
}

}  // namespace

int32_t EncodeScan(EncoderSession *session) {
    if (!WriteSos(session)) return 0;
    SetMcuGeometry(session);
    return EncodeMcus(session);
}
