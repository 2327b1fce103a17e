// The one table of which function serves which stage of a call. The plain
// stages come first; on x86 each twin replaces its plain original from the
// level that offers its instructions.

#include "encoder_stages.h"

#include "chroma_reduction.h"
#include "entropy_coder.h"
#include "flat_blocks.h"
#include "forward_dct.h"
#include "pixel_intake.h"
#include "quantiser.h"
#include "simd_support.h"
#include "trivjpeg.h"

void TransformBlock(const uint8_t *samples, const QuantTable *table, int16_t *quantised) {
    int32_t coefficients[64];
    ForwardDct(samples, coefficients);
    Quantise(coefficients, table, quantised);
}

namespace {

McuFetcher PlainFetcher(uint16_t bitsPerPixel, bool blueFirst) {
    switch (bitsPerPixel) {
        case 8: return FetchGray8;
        case 16: return blueFirst ? FetchBgr16 : FetchRgb16;
        case 24: return blueFirst ? FetchBgr24 : FetchRgb24;
        default: return blueFirst ? FetchBgr32 : FetchRgb32;
    }
}

ChromaReducer PlainReducer(uint16_t bitsPerPixel, uint8_t subsampling) {
    if (bitsPerPixel == 8) return nullptr;
    switch (subsampling) {
        case Sub2x2: return Reduce2x2;
        case Sub2x1: return Reduce2x1;
        default: return ReduceNone;
    }
}

#if TRIVJPEG_X86
// The twins of the fetchers, best level first; the 16-bit formats have
// none.
struct FetcherTwin {
    uint32_t level;
    uint16_t bitsPerPixel;
    McuFetcher redFirst, blueFirst;
};
constexpr FetcherTwin kFetcherTwins[] = {
#if defined(__x86_64__)
    {SimdAvx512, 24, FetchRgb24Avx512, FetchBgr24Avx512},
    {SimdAvx512, 32, FetchRgb32Avx512, FetchBgr32Avx512},
#endif
    {SimdAvx2, 24, FetchRgb24Avx2, FetchBgr24Avx2},
    {SimdAvx2, 32, FetchRgb32Avx2, FetchBgr32Avx2},
    {SimdSsse3, 24, FetchRgb24Ssse3, FetchBgr24Ssse3},
    {SimdSsse3, 32, FetchRgb32Ssse3, FetchBgr32Ssse3},
    {SimdSse2, 24, FetchRgb24Sse2, FetchBgr24Sse2},
    {SimdSse2, 32, FetchRgb32Sse2, FetchBgr32Sse2},
    {SimdSse2, 8, FetchGray8Sse2, FetchGray8Sse2},
};

void ChooseTwins(EncoderStages *stages, uint32_t level, uint16_t bitsPerPixel, uint8_t pixelOrder) {
    const bool blueFirst = pixelOrder == PixelOrderBlueFirst;
    for (const FetcherTwin &twin : kFetcherTwins) {
        if (level >= twin.level && bitsPerPixel == twin.bitsPerPixel) {
            stages->fetcher = blueFirst ? twin.blueFirst : twin.redFirst;
            break;
        }
    }
    if (level >= SimdSse2) {
        if (FlatMcuProbe probe = FlatProbeSse2(bitsPerPixel, pixelOrder)) stages->flatProbe = probe;
        if (stages->chromaReducer == Reduce2x2) stages->chromaReducer = Reduce2x2Sse2;
        if (stages->chromaReducer == Reduce2x1) stages->chromaReducer = Reduce2x1Sse2;
        if (stages->chromaReducer == ReduceNone) stages->chromaReducer = ReduceNoneSse2;
        stages->blockTransform = TransformSse2;
        stages->blockCoder = CodeBlockSse2;
    }
    if (level >= SimdAvx2) {
        if (FlatMcuProbe probe = FlatProbeAvx2(bitsPerPixel, pixelOrder)) stages->flatProbe = probe;
        stages->blockPairTransform = TransformPairAvx2;
        stages->blockPairApart = TransformPairApartAvx2;
        stages->blockCoder = CodeBlockAvx2;
        stages->blockRunCoder = CodeBlocksAvx2;
        if (stages->chromaReducer == Reduce2x2Sse2) stages->chromaReducer = Reduce2x2Avx2;
        if (stages->chromaReducer == Reduce2x1Sse2) stages->chromaReducer = Reduce2x1Avx2;
    }
#if defined(__x86_64__)
    if (level >= SimdAvx512) {
        stages->blockQuadTransform = TransformQuadAvx512;
        stages->blockCoder = CodeBlockAvx512;
        stages->blockRunCoder = CodeBlocksAvx512;
    }
#endif
}
#endif

}  // namespace

EncoderStages ChooseStages(uint32_t simdLevel, uint16_t bitsPerPixel, uint8_t pixelOrder,
                           uint8_t subsampling) {
    const bool blueFirst = pixelOrder == PixelOrderBlueFirst;
    EncoderStages stages;
    stages.fetcher = PlainFetcher(bitsPerPixel, blueFirst);
    stages.chromaReducer = PlainReducer(bitsPerPixel, subsampling);
    stages.blockTransform = TransformBlock;
    stages.blockPairTransform = nullptr;
    stages.blockPairApart = nullptr;
    stages.blockQuadTransform = nullptr;
    stages.blockCoder = CodeBlock;
    stages.blockRunCoder = nullptr;
    stages.flatProbe = ChooseFlatProbe(bitsPerPixel, pixelOrder);
#if TRIVJPEG_X86
    ChooseTwins(&stages, simdLevel, bitsPerPixel, pixelOrder);
#else
    (void)simdLevel;
#endif
    return stages;
}

TransformKernels ChooseTransformKernels(uint32_t simdLevel) {
    TransformKernels kernels{};
#if TRIVJPEG_X86
    if (simdLevel >= SimdSse2) {
        kernels.forwardDct = ForwardDctSse2;
        kernels.quantise = QuantiseSse2;
    }
    if (simdLevel >= SimdAvx2) {
        kernels.forwardDctPair = ForwardDctPairAvx2;
        kernels.quantisePair = QuantisePairAvx2;
    }
#else
    (void)simdLevel;
#endif
    return kernels;
}
