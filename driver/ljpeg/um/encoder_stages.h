// The stage functions one call uses, chosen in one place from the vector
// level, the source depth and pixel order, and the subsampling.
//
// Every stage exists in plain C++ (STAGE.cpp) and runs on every target. On
// x86 some stages also have vector twins (STAGE_x86.cpp, compiled only
// there), each producing the same bytes as its plain original; a twin
// serves a call only when the processor and the operating system offer its
// instructions. ChooseStages is the only place that names the twins.
#pragma once

#include <stdint.h>

#include "encoder_session.h"
#include "simd_support.h"

struct EncoderStages {
    McuFetcher fetcher;
    ChromaReducer chromaReducer;        // null for grey
    BlockTransform blockTransform;      // forward DCT and quantisation of one block
    BlockTransform blockPairTransform;  // two blocks of one table at once; may be null
    BlockPairTransform blockPairApart;  // the same for two blocks apart; with the above
    BlockTransform blockQuadTransform;  // four blocks of one table in a row; may be null
    BlockCoder blockCoder;
    BlockRunCoder blockRunCoder;  // may be null
    FlatMcuProbe flatProbe;
};

// bitsPerPixel is 8, 16, 24 or 32; pixelOrder PixelOrderBlueFirst puts blue first;
// subsampling is Sub2x2, Sub2x1 or SubNone (ignored for grey).
EncoderStages ChooseStages(uint32_t simdLevel, uint16_t bitsPerPixel, uint8_t pixelOrder,
                           uint8_t subsampling);

// The vector kernels whose bodies a level's block transforms compile, which
// the tests pin to the plain DCT and quantiser bit for bit; null where the
// level has none. A pair kernel takes two blocks, 128 values in, and 128
// out (the quantiser's two blocks each where it goes).
struct TransformKernels {
    void (*forwardDct)(const uint8_t *samples, int16_t *coefficients);
    void (*forwardDctPair)(const uint8_t *samples, int16_t *coefficients);
    void (*quantise)(const int16_t *coefficients, const QuantTable *table, int16_t *quantised);
    void (*quantisePair)(const int16_t *coefficients, const QuantTable *table,
                         int16_t *quantisedFirst, int16_t *quantisedSecond);
};
TransformKernels ChooseTransformKernels(uint32_t simdLevel);

// The plain block transform: the forward DCT to 32-bit coefficients, then
// division.
void TransformBlock(const uint8_t *samples, const QuantTable *table, int16_t *quantised);

#if TRIVJPEG_X86
// The vector block transforms (forward_dct_x86.cpp): the vector DCT's
// 16-bit coefficients divided by reciprocals in the registers they come out
// in. The same in SSE2:
void TransformSse2(const uint8_t *samples, const QuantTable *table, int16_t *quantised);
// Two neighbouring blocks of one table at once in AVX2: samples and
// quantised hold 128 values each.
void TransformPairAvx2(const uint8_t *samples, const QuantTable *table, int16_t *quantised);
void TransformPairApartAvx2(const uint8_t *first, const uint8_t *second, const QuantTable *table,
                            int16_t *quantisedFirst, int16_t *quantisedSecond);
#endif
#if defined(__x86_64__)
// Four neighbouring blocks of one table at once in AVX-512 (the Y blocks of
// a 4:2:0 MCU): samples and quantised hold 256 values each.
void TransformQuadAvx512(const uint8_t *samples, const QuantTable *table, int16_t *quantised);
#endif
