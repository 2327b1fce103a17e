// The choice of stage functions: without vector instructions every call
// gets the plain stages for its depth, pixel order and subsampling, and at
// every level this processor has, the block transforms the encoder chooses
// give the plain transform's quotients. (The fetchers, reducers, coders and
// kernels are pinned to their plain originals by their own stage tests,
// which take them from the same choice.)

#include <gtest/gtest.h>

#include <string.h>

#include <random>

#include "chroma_reduction.h"
#include "encoder_stages.h"
#include "entropy_coder.h"
#include "flat_blocks.h"
#include "pixel_intake.h"
#include "quantiser.h"
#include "session_fixture.h"

namespace {

// The plain fetcher of each depth, red first and blue first.
struct PlainFetchers {
    uint16_t bits;
    McuFetcher redFirst, blueFirst;
};
const PlainFetchers kPlain[] = {{8, FetchGray8, FetchGray8},
                                {16, FetchRgb16, FetchBgr16},
                                {24, FetchRgb24, FetchBgr24},
                                {32, FetchRgb32, FetchBgr32}};
constexpr uint8_t kOrders[] = {0, 1, 2, 255};
constexpr uint8_t kSubsamplings[] = {Sub2x2, Sub2x1, SubNone};

TEST(ChooseStages, PlainStagesWithoutVectorInstructions) {
    const ChromaReducer reducers[] = {Reduce2x2, Reduce2x1, ReduceNone};
    for (const PlainFetchers &p : kPlain) {
        for (uint8_t order : kOrders) {
            for (uint8_t subsampling : kSubsamplings) {
                EncoderStages s = ChooseStages(SimdNone, p.bits, order, subsampling);
                SCOPED_TRACE(testing::Message() << p.bits << " bpp, order " << int{order});
                EXPECT_EQ(s.fetcher, order == 1 ? p.blueFirst : p.redFirst);
                EXPECT_EQ(s.chromaReducer, p.bits == 8 ? nullptr : reducers[subsampling]);
                EXPECT_EQ(s.blockTransform, &TransformBlock);
                EXPECT_EQ(s.blockPairTransform, nullptr);
                EXPECT_EQ(s.blockQuadTransform, nullptr);
                EXPECT_EQ(s.blockCoder, &CodeBlock);
                EXPECT_EQ(s.blockRunCoder, nullptr);
                EXPECT_EQ(s.flatProbe, ChooseFlatProbe(p.bits, order));
            }
        }
    }
}

// The 16-bit formats have no vector fetcher; grey never a reducer and no
// vector flat probe.
TEST(ChooseStages, EveryLevelKeepsWhatHasNoTwin) {
    for (uint32_t level : jpegtest::kSimdLevels) {
        for (uint8_t order : kOrders) {
            EXPECT_EQ(ChooseStages(level, 8, order, Sub2x2).chromaReducer, nullptr);
            EXPECT_EQ(ChooseStages(level, 8, order, Sub2x2).flatProbe, ChooseFlatProbe(8, order));
            EXPECT_EQ(ChooseStages(level, 16, order, SubNone).fetcher,
                      order == 1 ? &FetchBgr16 : &FetchRgb16);
        }
    }
}

// The chosen transforms, one block or two neighbours at a time, against the
// plain one at qualities whose divisors run from 8 (every bit of the
// coefficient kept) to 2040.
TEST(ChooseStages, ChosenTransformsGiveThePlainQuotients) {
    std::mt19937 random(5);
    for (uint32_t level : jpegtest::kSimdLevels) {
        if (!jpegtest::SimdLevelAvailable(level)) continue;
        SCOPED_TRACE(jpegtest::SimdLevelName(level));
        EncoderStages s = ChooseStages(level, 24, 0, Sub2x2);
        for (int entry : {1, 2, 16, 99, 255}) {
            QuantTable table{};
            for (int i = 0; i < 64; ++i) {
                table.divisors[i] = static_cast<uint16_t>(8 * (1 + (entry + 37 * i) % 255));
            }
            PrepareQuantTable(&table);
            for (int round = 0; round < 500; ++round) {
                // Odd rounds of 0 and 255 only, which push every pass furthest.
                uint8_t samples[256];
                for (uint8_t &v : samples) {
                    v = static_cast<uint8_t>(round & 1 ? (random() & 1) * 255 : random());
                }
                int16_t want[256], got[128];
                for (int b = 0; b < 4; ++b) TransformBlock(samples + 64 * b, &table, want + 64 * b);
                s.blockTransform(samples, &table, got);
                s.blockTransform(samples + 64, &table, got + 64);
                ASSERT_EQ(memcmp(got, want, sizeof got), 0) << "divisor entry " << entry;
                if (!s.blockPairTransform) continue;
                s.blockPairTransform(samples, &table, got);
                ASSERT_EQ(memcmp(got, want, sizeof got), 0) << "pair, divisor entry " << entry;
                // The same blocks where they do not lie side by side, each
                // coefficient written where it belongs and nowhere else.
                uint8_t apart[256];
                memcpy(apart + 128, samples, 64);
                memcpy(apart + 8, samples + 64, 64);
                int16_t out[3][64];
                memset(out, 0x5A, sizeof out);
                s.blockPairApart(apart + 128, apart + 8, &table, out[2], out[0]);
                ASSERT_EQ(memcmp(out[2], want, sizeof out[2]), 0)
                    << "apart, divisor entry " << entry;
                ASSERT_EQ(memcmp(out[0], want + 64, sizeof out[0]), 0)
                    << "apart, divisor entry " << entry;
                for (int16_t v : out[1]) ASSERT_EQ(v, 0x5A5A);
                if (!s.blockQuadTransform) continue;
                int16_t four[256];
                s.blockQuadTransform(samples, &table, four);
                ASSERT_EQ(memcmp(four, want, sizeof four), 0) << "four, divisor entry " << entry;
            }
        }
    }
}

}  // namespace
