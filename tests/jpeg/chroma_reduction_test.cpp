// Chroma reduction: where each Y sample lands in the McuSampleBuffer, the
// truncating chroma averages, and the bytes each reducer must leave alone,
// for the reducer the encoder chooses at every SIMD level.

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "chroma_reduction.h"
#include "encoder_session.h"
#include "session_fixture.h"

namespace {

using jpegtest::SimdLevelAvailable;
using jpegtest::SimdLevelName;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kCanary = 0x5A;

struct Shape {
    const char *name;
    uint8_t subsampling;
    int width, height;  // of each plane
};

// Planes of exactly width x height samples, so that AddressSanitizer reports
// a reducer reading past the samples its MCU shape has.
struct Planes {
    int width, height;
    Bytes y, cb, cr;

    Planes(int w, int h) : width(w), height(h), y(w * h), cb(w * h), cr(w * h) {}
    uint8_t &Y(int i, int j) { return y[i * width + j]; }
    uint8_t &Cb(int i, int j) { return cb[i * width + j]; }
    uint8_t &Cr(int i, int j) { return cr[i * width + j]; }
};

Bytes Reduce(ChromaReducer reduce, const Planes &p) {
    Bytes out(kMcuSampleBufferSize, kCanary);
    reduce(out.data(), p.y.data(), p.cb.data(), p.cr.data());
    return out;
}

// The buffer by its definition: Y cut into 8 x 8 blocks in raster order, then
// one Cb and one Cr block, each sample the truncated mean of the group of
// plane samples it covers; the rest of the buffer untouched.
Bytes Expected(const Planes &p) {
    const int hs = p.width / 8, vs = p.height / 8;
    Bytes out(kMcuSampleBufferSize, kCanary);
    for (int i = 0; i < p.height; ++i) {
        for (int j = 0; j < p.width; ++j) {
            out[64 * (i / 8 * hs + j / 8) + 8 * (i % 8) + j % 8] = p.y[i * p.width + j];
        }
    }
    for (int y = 0; y < 8; ++y) {
        for (int x = 0; x < 8; ++x) {
            int cb = 0, cr = 0;
            for (int dy = 0; dy < vs; ++dy) {
                for (int dx = 0; dx < hs; ++dx) {
                    cb += p.cb[(y * vs + dy) * p.width + x * hs + dx];
                    cr += p.cr[(y * vs + dy) * p.width + x * hs + dx];
                }
            }
            out[64 * hs * vs + 8 * y + x] = static_cast<uint8_t>(cb / (hs * vs));
            out[64 * hs * vs + 64 + 8 * y + x] = static_cast<uint8_t>(cr / (hs * vs));
        }
    }
    return out;
}

void PrintTo(const Shape &s, std::ostream *os) { *os << s.name; }

class EveryReducer : public ::testing::TestWithParam<std::tuple<Shape, uint32_t>> {};

TEST_P(EveryReducer, MatchesDefinitionAndLeavesUnusedBytes) {
    const auto &[s, level] = GetParam();
    if (!SimdLevelAvailable(level)) GTEST_SKIP() << "no " << SimdLevelName(level);
    const ChromaReducer reduce = jpegtest::ReducerAt(level, s.subsampling);
    uint32_t state = 5;
    for (int round = 0; round < 200; ++round) {
        Planes p(s.width, s.height);
        for (Bytes *plane : {&p.y, &p.cb, &p.cr}) {
            for (uint8_t &b : *plane) {
                state = state * 1664525u + 1013904223u;
                // Every fourth round uses only 254 and 255, where sums carry.
                b = static_cast<uint8_t>(round % 4 == 3 ? 254 + (state >> 31) : state >> 24);
            }
        }
        ASSERT_EQ(Reduce(reduce, p), Expected(p)) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, EveryReducer,
                         ::testing::Combine(::testing::Values(Shape{"Reduce2x2", Sub2x2, 16, 16},
                                                              Shape{"Reduce2x1", Sub2x1, 16, 8},
                                                              Shape{"ReduceNone", SubNone, 8, 8}),
                                            ::testing::ValuesIn(jpegtest::kSimdLevels)),
                         [](const ::testing::TestParamInfo<std::tuple<Shape, uint32_t>> &info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    SimdLevelName(std::get<1>(info.param));
                         });

TEST(Reduce2x2, PlacesLumaQuartersInRasterOrder) {
    Planes p(16, 16);
    for (int i = 0; i < 256; ++i) p.y[i] = static_cast<uint8_t>(i);  // Y(i, j) = 16 i + j
    p.Cb(0, 0) = 10, p.Cb(0, 1) = 20, p.Cb(1, 0) = 30, p.Cb(1, 1) = 41;
    Bytes out = Reduce(Reduce2x2, p);
    EXPECT_EQ(out[8], p.Y(1, 0));
    EXPECT_EQ(out[64], p.Y(0, 8));     // top right
    EXPECT_EQ(out[128], p.Y(8, 0));    // bottom left
    EXPECT_EQ(out[255], p.Y(15, 15));  // bottom right, last sample
    EXPECT_EQ(out[256], 101 / 4);
}

// No rounding term: 7 / 4 gives 1 and 1019 / 4 gives 254.
TEST(Reduce2x2, AveragesTruncate) {
    Planes p(16, 16);
    const uint8_t groups[3][4] = {{1, 2, 2, 2}, {255, 255, 255, 254}, {255, 255, 255, 255}};
    for (int g = 0; g < 3; ++g) {
        p.Cb(0, 2 * g) = groups[g][0], p.Cb(0, 2 * g + 1) = groups[g][1];
        p.Cb(1, 2 * g) = groups[g][2], p.Cb(1, 2 * g + 1) = groups[g][3];
        p.Cr(14, 2 * g) = groups[g][3], p.Cr(14, 2 * g + 1) = groups[g][2];
        p.Cr(15, 2 * g) = groups[g][1], p.Cr(15, 2 * g + 1) = groups[g][0];
    }
    Bytes out = Reduce(Reduce2x2, p);
    const uint8_t want[3] = {1, 254, 255};
    for (int g = 0; g < 3; ++g) {
        EXPECT_EQ(out[256 + g], want[g]) << "Cb group " << g;
        EXPECT_EQ(out[320 + 56 + g], want[g]) << "Cr group " << g;
    }
}

TEST(Reduce2x1, PlacesLumaHalvesAndAveragesPairsTruncating) {
    Planes p(16, 8);
    for (int i = 0; i < 128; ++i) p.y[i] = static_cast<uint8_t>(i);
    p.Cb(0, 0) = 254, p.Cb(0, 1) = 255;
    p.Cb(0, 2) = 0, p.Cb(0, 3) = 1;
    p.Cr(7, 14) = 255, p.Cr(7, 15) = 255;
    Bytes out = Reduce(Reduce2x1, p);
    EXPECT_EQ(out[64], p.Y(0, 8));
    EXPECT_EQ(out[127], p.Y(7, 15));
    EXPECT_EQ(out[128], 254);
    EXPECT_EQ(out[129], 0);
    EXPECT_EQ(out[255], 255);
}

}  // namespace
