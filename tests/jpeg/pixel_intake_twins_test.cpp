// The vector twins of the pixel fetchers against their plain originals: for
// every colour, for MCUs cut by the picture's edges in every way, and for
// sources that end exactly at, or one byte before, the last pixel read, a
// twin must do what the original does: the same result, status, source
// position, planes and sample bytes (untouched ones included). And whatever
// level a call may use, the encoder writes the same stream.

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "chroma_reduction.h"
#include "pixel_intake.h"
#include "session_fixture.h"
#include "simd_support.h"
#include "trivjpeg.h"

namespace {

using jpegtest::FetcherAt;
using jpegtest::ReducerAt;
using jpegtest::FetchRig;
using jpegtest::SimdLevelAvailable;
using jpegtest::SimdLevelName;
using Bytes = std::vector<uint8_t>;

// A format and the lowest level at which the encoder chooses a new twin
// for it.
struct Twin {
    const char *name;
    uint16_t bitsPerPixel;
    uint8_t pixelOrder;
    McuFetcher plain;
    uint32_t level;
};

const Twin kTwins[] = {
    {"Rgb24", 24, 0, FetchRgb24, SimdSse2},   {"Bgr24", 24, 1, FetchBgr24, SimdSse2},
    {"Rgb24", 24, 0, FetchRgb24, SimdSsse3},  {"Bgr24", 24, 1, FetchBgr24, SimdSsse3},
    {"Rgb32", 32, 0, FetchRgb32, SimdSse2},   {"Bgr32", 32, 1, FetchBgr32, SimdSse2},
    {"Rgb32", 32, 0, FetchRgb32, SimdSsse3},  {"Bgr32", 32, 1, FetchBgr32, SimdSsse3},
    {"Rgb24", 24, 0, FetchRgb24, SimdAvx2},   {"Bgr24", 24, 1, FetchBgr24, SimdAvx2},
    {"Rgb32", 32, 0, FetchRgb32, SimdAvx2},   {"Bgr32", 32, 1, FetchBgr32, SimdAvx2},
#if defined(__x86_64__)
    {"Rgb24", 24, 0, FetchRgb24, SimdAvx512}, {"Bgr24", 24, 1, FetchBgr24, SimdAvx512},
    {"Rgb32", 32, 0, FetchRgb32, SimdAvx512}, {"Bgr32", 32, 1, FetchBgr32, SimdAvx512},
#endif
};

// The planes a fetch hands to its reducer, kept whole (a reduction averages
// chroma, which could hide a wrong sample) and then reduced as usual. Only
// the MCU's samples are kept: the rest of the fetcher's planes is never
// written.
struct Planes {
    int calls;
    uint8_t plane[3][256];
};
Planes planes;
uint32_t samplesPerPlane;
ChromaReducer reduceAfterCapture;

void CaptureThenReduce(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    ++planes.calls;
    memcpy(planes.plane[0], y, samplesPerPlane);
    memcpy(planes.plane[1], cb, samplesPerPlane);
    memcpy(planes.plane[2], cr, samplesPerPlane);
    reduceAfterCapture(samples, y, cb, cr);
}

// Everything a fetch leaves behind.
struct Outcome {
    int32_t result;
    uint16_t status;
    uint32_t position;
    Bytes samples;
    int calls;
    Bytes planes;

    bool operator==(const Outcome &) const = default;
};

void PrintTo(const Outcome &o, std::ostream *os) {
    *os << "result " << o.result << ", status " << o.status << ", position " << o.position
        << ", reducer calls " << o.calls;
}

Outcome FetchOnce(FetchRig &rig, McuFetcher fetch, uint32_t mcu) {
    memset(rig.samples, FetchRig::kCanary, sizeof rig.samples);
    memset(&planes, FetchRig::kCanary, sizeof planes);
    planes.calls = 0;
    samplesPerPlane = uint32_t{rig.session.mcuWidth} * rig.session.mcuHeight;
    rig.status = StatusBase;
    rig.stream.position = 3;
    Outcome o;
    o.result = rig.Fetch(fetch, mcu);
    o.status = rig.status;
    o.position = rig.stream.position;
    o.samples.assign(rig.samples, rig.samples + kMcuSampleBufferSize);
    o.calls = planes.calls;
    o.planes.assign(&planes.plane[0][0], &planes.plane[0][0] + sizeof planes.plane);
    return o;
}

uint8_t NextByte(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
}

void PrintTo(const Twin &t, std::ostream *os) { *os << t.name << " " << SimdLevelName(t.level); }

class TwinFetcher : public ::testing::TestWithParam<Twin> {
protected:
    void SetUp() override {
        if (!SimdLevelAvailable(level())) GTEST_SKIP() << "no " << SimdLevelName(level());
        // Otherwise the original would be compared with itself.
        ASSERT_NE(twin(), format().plain);
    }
    const Twin &format() const { return GetParam(); }
    uint32_t level() const { return GetParam().level; }
    McuFetcher twin() const {
        return FetcherAt(level(), format().bitsPerPixel, format().pixelOrder);
    }

    // Compares every MCU of the rig's picture.
    void ExpectSameOnEveryMcu(FetchRig &rig) {
        for (uint32_t m = 0; m < rig.session.mcuCount; ++m) {
            Outcome plain = FetchOnce(rig, format().plain, m);
            ASSERT_EQ(FetchOnce(rig, twin(), m), plain) << "MCU " << m;
        }
    }
};

struct Layout {
    uint8_t mcuWidth, mcuHeight, subsampling;
};
const Layout kLayouts[] = {{16, 16, Sub2x2}, {16, 8, Sub2x1}, {8, 8, SubNone}};

const uint32_t kSizes[][2] = {{1, 1}, {15, 15}, {16, 16}, {17, 17}, {37, 9}, {33, 31}};

// Channel values at and next to the ends of the range and the middle, where
// the sums of Y, Cb and Cr are largest or smallest.
const uint8_t kExtremes[] = {0, 1, 2, 127, 128, 129, 253, 254, 255};

void IgnorePlanes(uint8_t *, const uint8_t *, const uint8_t *, const uint8_t *) {}

// Every 24-bit colour, 65536 at a time (green across, blue up), each one a
// sample of the planes, through every twin this processor can run, against
// the plain conversion (the same for every format). The 32-bit formats
// carry a random fourth byte.
TEST(TwinFetchers, EveryColourGivesThePlainPlanes) {
    std::vector<const Twin *> twins;
    for (const Twin &t : kTwins) {
        if (SimdLevelAvailable(t.level)) twins.push_back(&t);
    }
    if (twins.empty()) GTEST_SKIP() << "no vector twins on this processor";
    FetchRig plainRig(256, 256, 24, 16, 16, CaptureThenReduce);
    std::vector<std::unique_ptr<FetchRig>> rigs;
    for (const Twin *t : twins) {
        rigs.push_back(
            std::make_unique<FetchRig>(256, 256, t->bitsPerPixel, 16, 16, CaptureThenReduce));
    }
    reduceAfterCapture = IgnorePlanes;
    samplesPerPlane = 256;
    // Green and blue (and the fourth byte) once; then red for each round.
    auto paint = [](FetchRig &rig, uint32_t bytes, bool bgr, uint32_t red, uint32_t &seed) {
        for (uint32_t blue = 0; blue < 256; ++blue) {
            uint8_t *p = rig.Pixel(0, blue);
            for (uint32_t green = 0; green < 256; ++green, p += bytes) {
                p[bgr ? 2 : 0] = static_cast<uint8_t>(red);
                if (red > 0) continue;
                p[1] = static_cast<uint8_t>(green);
                p[bgr ? 0 : 2] = static_cast<uint8_t>(blue);
                if (bytes == 4) p[3] = NextByte(seed);
            }
        }
    };
    uint32_t seed = 9;
    for (uint32_t red = 0; red < 256; ++red) {
        paint(plainRig, 3, false, red, seed);
        for (size_t k = 0; k < twins.size(); ++k) {
            paint(*rigs[k], twins[k]->bitsPerPixel / 8, twins[k]->pixelOrder == 1, red, seed);
        }
        for (uint32_t m = 0; m < plainRig.session.mcuCount; ++m) {
            ASSERT_EQ(plainRig.Fetch(FetchRgb24, m), 1);
            const Planes plain = planes;
            for (size_t k = 0; k < twins.size(); ++k) {
                const Twin &t = *twins[k];
                ASSERT_EQ(rigs[k]->Fetch(FetcherAt(t.level, t.bitsPerPixel, t.pixelOrder), m),
                          1);
                ASSERT_EQ(memcmp(plain.plane, planes.plane, sizeof planes.plane), 0)
                    << t.name << " " << SimdLevelName(t.level) << ", red " << red << ", MCU " << m;
            }
        }
    }
}

TEST_P(TwinFetcher, MatchesPlainOnEveryMcuOfRandomPictures) {
    uint32_t seed = 1;
    for (const Layout &layout : kLayouts) {
        reduceAfterCapture = ReducerAt(level(), layout.subsampling);
        for (const auto &size : kSizes) {
            SCOPED_TRACE(::testing::Message()
                         << size[0] << "x" << size[1] << ", MCU " << int{layout.mcuWidth} << "x"
                         << int{layout.mcuHeight});
            FetchRig rig(size[0], size[1], format().bitsPerPixel, layout.mcuWidth, layout.mcuHeight,
                         CaptureThenReduce);
            for (uint8_t &b : rig.source) b = NextByte(seed);
            ExpectSameOnEveryMcu(rig);
            // Channels only from the extremes: sums at their limits, in
            // both halves of every row.
            for (uint8_t &b : rig.source) b = kExtremes[NextByte(seed) % sizeof kExtremes];
            ExpectSameOnEveryMcu(rig);
        }
    }
}

// The source ends at the last byte of the picture's top-right pixel, or one
// byte before it: the MCU that reads it fails with the bound code, touching
// no sample, and every other MCU still succeeds, exactly as in the original.
TEST_P(TwinFetcher, MatchesPlainWhenSourceEndsAtOrBeforeLastPixel) {
    const uint32_t bytes = format().bitsPerPixel / 8;
    uint32_t seed = 5;
    for (const Layout &layout : kLayouts) {
        reduceAfterCapture = ReducerAt(level(), layout.subsampling);
        for (const auto &size : kSizes) {
            for (uint32_t shortBy : {0u, 1u}) {
                SCOPED_TRACE(::testing::Message()
                             << size[0] << "x" << size[1] << ", MCU " << int{layout.mcuWidth} << "x"
                             << int{layout.mcuHeight} << ", short by " << shortBy);
                FetchRig rig(size[0], size[1], format().bitsPerPixel, layout.mcuWidth,
                             layout.mcuHeight, CaptureThenReduce);
                for (uint8_t &b : rig.source) b = NextByte(seed);
                rig.Truncate(size_t{size[1] - 1} * rig.session.stride + size[0] * bytes - shortBy);
                ExpectSameOnEveryMcu(rig);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Twins, TwinFetcher, ::testing::ValuesIn(kTwins),
                         [](const ::testing::TestParamInfo<Twin> &info) {
                             return std::string(info.param.name) + "_" +
                                    SimdLevelName(info.param.level);
                         });

// --- The whole encoder at every level ----------------------------------------

Bytes Encode(jpegtest::JobRig &j, uint32_t level) {
    jpegtest::SimdLimit limit(level);
    j.job.destSize = static_cast<uint32_t>(j.dest.size());
    if (Jpeg_EncodeStart(&j.job, ModeEncode) != 0) return {};
    return Bytes(j.dest.begin(), j.dest.begin() + j.job.destSize);
}

// A photograph-like picture (smooth ramps plus noise, saturated corners) in
// every depth, order and subsampling: the same stream at every level.
TEST(EncodeAtEveryLevel, WritesTheSameStream) {
    for (uint16_t bits : {8, 16, 24, 32}) {
        for (uint8_t order : {0, 1}) {
            for (uint8_t sub : {Sub2x2, Sub2x1, SubNone}) {
                SCOPED_TRACE(::testing::Message() << bits << " bits, order " << int{order}
                                                  << ", subsampling " << int{sub});
                jpegtest::JobRig j(53, 37, bits, 90, sub);
                j.job.pixelOrder = order;
                uint32_t seed = 11;
                for (size_t i = 0; i < j.source.size(); ++i) {
                    uint8_t noise = NextByte(seed) % 16;
                    j.source[i] =
                        i % 97 < 5 ? (i % 2 ? 255 : 0) : static_cast<uint8_t>(i / 7 + noise);
                }
                const Bytes plain = Encode(j, SimdNone);
                ASSERT_FALSE(plain.empty());
                for (uint32_t level : {SimdSse2, SimdSsse3, SimdAvx2, SimdAvx512}) {
                    if (!SimdLevelAvailable(level)) continue;
                    EXPECT_EQ(Encode(j, level), plain) << SimdLevelName(level);
                }
            }
        }
    }
}

}  // namespace
