// Pixel intake: where each fetcher finds an MCU in the bottom-up source, how
// it unpacks and converts the pixels, how it fills the part of an MCU beyond
// the picture, and that it never reads outside the source, whatever the
// session holds. Each check runs on the fetcher (and reducer) the encoder
// chooses at every SIMD level, the plain originals included.

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "chroma_reduction.h"
#include "pixel_intake.h"
#include "session_fixture.h"

namespace {

using jpegtest::FetchRig;
using jpegtest::SimdLevelAvailable;
using jpegtest::SimdLevelName;
using Bytes = std::vector<uint8_t>;

struct Format {
    const char *name;
    uint32_t bitsPerPixel;
    bool bgr;  // blue in the first byte or the low bits
};

const Format kGray8{"Gray8", 8, false};
const Format kRgb16{"Rgb16", 16, false};
const Format kBgr16{"Bgr16", 16, true};
const Format kRgb24{"Rgb24", 24, false};
const Format kBgr24{"Bgr24", 24, true};
const Format kRgb32{"Rgb32", 32, false};
const Format kBgr32{"Bgr32", 32, true};

// The fetcher the encoder chooses for the format at a SIMD level.
McuFetcher FetcherAt(const Format &f, uint32_t level) {
    return jpegtest::FetcherAt(level, f.bitsPerPixel, f.bgr ? 1 : 0);
}

struct Layout {
    uint8_t mcuWidth, mcuHeight, subsampling;
};
const Layout kLayouts[] = {{16, 16, Sub2x2}, {16, 8, Sub2x1}, {8, 8, SubNone}};

// A grey session has no reducer and always an 8 x 8 MCU.
ChromaReducer ReducerFor(const Format &f, ChromaReducer colour) {
    return f.bitsPerPixel == 8 ? nullptr : colour;
}

uint8_t NextByte(uint32_t &state) {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
}

struct Ycc {
    uint8_t y, cb, cr;
};

// The conversion as the JFIF weights scaled by 256 define it. Division by 256
// rounds towards minus infinity; it is spelt out rather than shifted so that
// the reference does not borrow the library's arithmetic.
int FloorDiv256(int n) { return n >= 0 ? n / 256 : -((255 - n) / 256); }
uint8_t Clamp255(int v) { return static_cast<uint8_t>(std::clamp(v, 0, 255)); }

Ycc Reference(int r, int g, int b) {
    return {Clamp255(FloorDiv256(77 * r + 150 * g + 29 * b + 128)),
            Clamp255(FloorDiv256(128 * b - 43 * r - 85 * g + 128) + 128),
            Clamp255(FloorDiv256(128 * r - 107 * g - 21 * b + 128) + 128)};
}

// The samples one stored pixel should give. Grey has only Y.
Ycc SampleOf(const Format &f, const uint8_t *p) {
    if (f.bitsPerPixel == 8) return {p[0], 0, 0};
    int c0, c1, c2;  // channels in storage order
    if (f.bitsPerPixel == 16) {
        int word = p[0] | p[1] << 8;
        c0 = (word & 31) * 8, c1 = (word >> 5 & 31) * 8, c2 = (word >> 10 & 31) * 8;
    } else {
        c0 = p[0], c1 = p[1], c2 = p[2];
    }
    return f.bgr ? Reference(c2, c1, c0) : Reference(c0, c1, c2);
}

// The McuSampleBuffer that MCU `index` should leave: each position the MCU
// covers samples the picture at the nearest pixel inside it; Y is cut into
// 8 x 8 blocks in raster order, Cb and Cr are averaged (truncating) over the
// samples each chroma sample stands for; unused bytes keep the canary.
Bytes ExpectedMcu(FetchRig &rig, const Format &f, uint32_t index) {
    const EncoderSession &s = rig.session;
    const uint32_t hs = s.mcuWidth / 8, vs = s.mcuHeight / 8;
    const uint32_t x0 = index % s.mcusPerRow * s.mcuWidth;
    const uint32_t y0 = index / s.mcusPerRow * s.mcuHeight;
    Bytes out(kMcuSampleBufferSize, FetchRig::kCanary);
    uint32_t sum[2][64] = {};
    for (uint32_t i = 0; i < s.mcuHeight; ++i) {
        for (uint32_t j = 0; j < s.mcuWidth; ++j) {
            Ycc c = SampleOf(
                f, rig.Pixel(std::min(x0 + j, s.width - 1), std::min(y0 + i, s.height - 1)));
            out[64 * (i / 8 * hs + j / 8) + 8 * (i % 8) + j % 8] = c.y;
            sum[0][8 * (i / vs) + j / hs] += c.cb;
            sum[1][8 * (i / vs) + j / hs] += c.cr;
        }
    }
    if (f.bitsPerPixel != 8) {
        for (int k = 0; k < 64; ++k) {
            out[64 * hs * vs + k] = static_cast<uint8_t>(sum[0][k] / (hs * vs));
            out[64 * hs * vs + 64 + k] = static_cast<uint8_t>(sum[1][k] / (hs * vs));
        }
    }
    return out;
}

// A ChromaReducer that keeps the planes it is handed, so that a test can look
// at them before any reduction. It writes nothing to the sample buffer.
struct PlaneCapture {
    int calls;
    const uint8_t *samples;
    uint8_t plane[3][256];
};
PlaneCapture capture;

void CapturePlanes(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr) {
    ++capture.calls;
    capture.samples = samples;
    memcpy(capture.plane[0], y, 256);
    memcpy(capture.plane[1], cb, 256);
    memcpy(capture.plane[2], cr, 256);
}

void ResetCapture() { memset(&capture, 0, sizeof capture); }

bool AllCanary(const FetchRig &rig) {
    return std::all_of(rig.samples, rig.samples + kMcuSampleBufferSize,
                       [](uint8_t b) { return b == FetchRig::kCanary; });
}

void PrintTo(const Format &f, std::ostream *os) { *os << f.name; }

// A format at a SIMD level; levels this processor lacks are skipped.
class FetcherAtLevel : public ::testing::TestWithParam<std::tuple<Format, uint32_t>> {
protected:
    void SetUp() override {
        if (!SimdLevelAvailable(level())) GTEST_SKIP() << "no " << SimdLevelName(level());
    }
    const Format &format() const { return std::get<0>(GetParam()); }
    uint32_t level() const { return std::get<1>(GetParam()); }
    McuFetcher fetcher() const { return FetcherAt(format(), level()); }
    ChromaReducer reducer(uint8_t subsampling) const {
        return ReducerFor(format(), jpegtest::ReducerAt(level(), subsampling));
    }
};

std::string ParamName(const ::testing::TestParamInfo<std::tuple<Format, uint32_t>> &info) {
    return std::string(std::get<0>(info.param).name) + "_" + SimdLevelName(std::get<1>(info.param));
}

class AnyFetcher : public FetcherAtLevel {};
class ColourFetcher : public FetcherAtLevel {};
class ByteFetcher : public FetcherAtLevel {};

// Every MCU of pictures whose edges cut the MCUs in every way, for every MCU
// shape, byte for byte (unused bytes included). A 1 x 1 picture must give
// its one pixel in every sample of every block; one 15 wide leaves all but
// one column inside, where the row padding must not stand in for it.
TEST_P(AnyFetcher, MatchesClampToEdgeModelForEveryMcu) {
    const Format &f = format();
    const uint32_t sizes[][2] = {{1, 1}, {21, 19}, {37, 9}, {16, 16}, {8, 24}, {3, 40}, {15, 17}};
    uint32_t seed = 1;
    for (const Layout &layout : kLayouts) {
        if (f.bitsPerPixel == 8 && layout.mcuWidth != 8) continue;
        for (const auto &size : sizes) {
            FetchRig rig(size[0], size[1], f.bitsPerPixel, layout.mcuWidth, layout.mcuHeight,
                         reducer(layout.subsampling));
            for (uint8_t &b : rig.source) b = NextByte(seed);
            for (uint32_t m = 0; m < rig.session.mcuCount; ++m) {
                SCOPED_TRACE(::testing::Message()
                             << size[0] << "x" << size[1] << ", MCU " << int{layout.mcuWidth} << "x"
                             << int{layout.mcuHeight} << " #" << m);
                ASSERT_EQ(rig.Fetch(fetcher(), m), 1);
                EXPECT_EQ(Bytes(rig.samples, rig.samples + kMcuSampleBufferSize),
                          ExpectedMcu(rig, f, m));
                EXPECT_EQ(rig.session.mcuIndex, m);
                EXPECT_EQ(rig.status, StatusBase);
            }
        }
    }
}

// The picture's top row is the last row in the buffer. The rows are written
// at literal offsets here, not through FetchRig::Pixel, so the layout is
// pinned independently of the model above.
TEST(BottomUpRows, TopRowOfPictureIsLastInBuffer) {
    for (const Format &f : {kGray8, kRgb24}) {
        SCOPED_TRACE(f.name);
        FetchRig rig(8, 12, f.bitsPerPixel, 8, 8, ReducerFor(f, ReduceNone));
        const McuFetcher fetch = FetcherAt(f, SimdLevelInUse());
        const uint32_t stride = rig.session.stride;
        for (uint32_t row = 0; row < 12; ++row) {
            // A grey level per buffer row: Y equals the level.
            memset(rig.source.data() + row * stride, 10 + row, stride);
        }
        ASSERT_EQ(rig.Fetch(fetch, 0), 1);
        for (int i = 0; i < 8; ++i) EXPECT_EQ(rig.samples[8 * i + 3], 10 + 11 - i) << "row " << i;
        // The second MCU row holds picture rows 8..11 (buffer rows 3..0), then
        // repeats buffer row 0.
        ASSERT_EQ(rig.Fetch(fetch, 1), 1);
        for (int i = 0; i < 8; ++i) {
            EXPECT_EQ(rig.samples[8 * i + 3], 10 + std::max(3 - i, 0)) << "row " << i;
        }
    }
}

// Replication happens on the converted planes, before reduction: a picture
// 21 wide leaves 5 columns inside the second 16-wide MCU column, one 19 high
// leaves 3 rows inside the second 16-high MCU row.
TEST(EdgeReplication, RepeatsLastColumnAndRowInsideThePicture) {
    FetchRig rig(21, 19, 24, 16, 16, CapturePlanes);
    uint32_t seed = 7;
    for (uint8_t &b : rig.source) b = NextByte(seed);
    for (uint32_t m : {1u, 2u, 3u}) {
        SCOPED_TRACE(m);
        ResetCapture();
        ASSERT_EQ(rig.Fetch(FetcherAt(kRgb24, SimdLevelInUse()), m), 1);
        ASSERT_EQ(capture.calls, 1);
        EXPECT_EQ(capture.samples, rig.samples);
        const int columns = m & 1 ? 5 : 16, rows = m >= 2 ? 3 : 16;
        for (const auto &plane : capture.plane) {
            for (int i = 0; i < 16; ++i) {
                for (int j = 0; j < 16; ++j) {
                    int from = 16 * std::min(i, rows - 1) + std::min(j, columns - 1);
                    ASSERT_EQ(plane[16 * i + j], plane[from]) << "(" << i << ", " << j << ")";
                }
            }
        }
    }
    EXPECT_TRUE(AllCanary(rig));
}

TEST(EdgeReplication, GreyRepeatsLastColumnAndRow) {
    // 13 x 11: 5 columns inside the second MCU column, 3 rows inside the second MCU row.
    FetchRig rig(13, 11, 8, 8, 8, nullptr);
    uint32_t seed = 11;
    for (uint8_t &b : rig.source) b = NextByte(seed);
    ASSERT_EQ(rig.Fetch(FetchGray8, 3), 1);
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 8; ++j) {
            EXPECT_EQ(rig.samples[8 * i + j], *rig.Pixel(8 + std::min(j, 4), 8 + std::min(i, 2)));
        }
    }
}

TEST_P(ByteFetcher, ConvertsPrimariesAndSecondaries) {
    const Format &f = format();
    struct Named {
        const char *name;
        uint8_t r, g, b;
        Ycc expected;
    };
    const Named colours[8] = {
        {"white", 255, 255, 255, {255, 128, 128}}, {"black", 0, 0, 0, {0, 128, 128}},
        {"red", 255, 0, 0, {77, 85, 255}},         {"green", 0, 255, 0, {149, 43, 21}},
        {"blue", 0, 0, 255, {29, 255, 107}},       {"cyan", 0, 255, 255, {178, 171, 1}},
        {"magenta", 255, 0, 255, {106, 213, 235}}, {"yellow", 255, 255, 0, {226, 1, 149}},
    };
    FetchRig rig(8, 1, f.bitsPerPixel, 8, 8, reducer(SubNone));
    for (int x = 0; x < 8; ++x) {
        uint8_t *p = rig.Pixel(x, 0);
        p[f.bgr ? 2 : 0] = colours[x].r;
        p[1] = colours[x].g;
        p[f.bgr ? 0 : 2] = colours[x].b;
    }
    ASSERT_EQ(rig.Fetch(fetcher(), 0), 1);
    for (int x = 0; x < 8; ++x) {
        SCOPED_TRACE(colours[x].name);
        EXPECT_EQ(rig.samples[x], colours[x].expected.y);
        EXPECT_EQ(rig.samples[64 + x], colours[x].expected.cb);
        EXPECT_EQ(rig.samples[128 + x], colours[x].expected.cr);
    }
}

// Every 15-bit colour, stored in both 16-bit orders, with bit 15 clear and
// set: both orders give the reference samples, and bit 15 changes nothing.
TEST(SixteenBitPixels, EveryColourInBothOrdersMatchesReference) {
    for (uint32_t top : {0u, 0x8000u}) {
        SCOPED_TRACE(top);
        FetchRig rgb(1024, 32, 16, 8, 8, ReduceNone);
        FetchRig bgr(1024, 32, 16, 8, 8, ReduceNone);
        for (uint32_t c = 0; c < 32768; ++c) {
            uint32_t r = c & 31, g = c >> 5 & 31, b = c >> 10;
            uint32_t inRgb = r | g << 5 | b << 10 | top, inBgr = b | g << 5 | r << 10 | top;
            uint8_t *p = rgb.Pixel(c % 1024, c / 1024);
            uint8_t *q = bgr.Pixel(c % 1024, c / 1024);
            p[0] = static_cast<uint8_t>(inRgb), p[1] = static_cast<uint8_t>(inRgb >> 8);
            q[0] = static_cast<uint8_t>(inBgr), q[1] = static_cast<uint8_t>(inBgr >> 8);
        }
        for (uint32_t m = 0; m < rgb.session.mcuCount; ++m) {
            ASSERT_EQ(rgb.Fetch(FetchRgb16, m), 1);
            ASSERT_EQ(bgr.Fetch(FetchBgr16, m), 1);
            for (uint32_t k = 0; k < 64; ++k) {
                uint32_t c = (m / 128 * 8 + k / 8) * 1024 + m % 128 * 8 + k % 8;
                Ycc want = Reference((c & 31) * 8, (c >> 5 & 31) * 8, (c >> 10) * 8);
                ASSERT_EQ(rgb.samples[k], want.y) << "colour " << c;
                ASSERT_EQ(rgb.samples[64 + k], want.cb) << "colour " << c;
                ASSERT_EQ(rgb.samples[128 + k], want.cr) << "colour " << c;
            }
            ASSERT_EQ(Bytes(rgb.samples, rgb.samples + 192), Bytes(bgr.samples, bgr.samples + 192))
                << "MCU " << m;
        }
        // Fields widen by a plain shift: all fifteen bits give 248, not 255.
        EXPECT_EQ(rgb.samples[63], 248);
        EXPECT_EQ(rgb.samples[64 + 63], 128);
        EXPECT_EQ(rgb.samples[128 + 63], 128);
    }
}

// 24 x 11 pixels: rows of 16 wholly inside in the first MCU column, rows cut
// by the edge in the second.
TEST(ThirtyTwoBitPixels, FourthByteHasNoInfluence) {
    for (const Format &f : {kRgb32, kBgr32}) {
        for (uint32_t level : jpegtest::kSimdLevels) {
            if (!SimdLevelAvailable(level)) continue;
            SCOPED_TRACE(::testing::Message() << f.name << " " << SimdLevelName(level));
            const McuFetcher fetch = FetcherAt(f, level);
            FetchRig zero(24, 11, 32, 16, 16, Reduce2x2), noise(24, 11, 32, 16, 16, Reduce2x2);
            uint32_t seed = 3;
            for (size_t i = 0; i < zero.source.size(); ++i) {
                uint8_t b = NextByte(seed);
                zero.source[i] = i % 4 == 3 ? 0 : b;
                noise.source[i] = b;
            }
            for (uint32_t m = 0; m < zero.session.mcuCount; ++m) {
                ASSERT_EQ(zero.Fetch(fetch, m), 1);
                ASSERT_EQ(noise.Fetch(fetch, m), 1);
                EXPECT_EQ(Bytes(zero.samples, zero.samples + kMcuSampleBufferSize),
                          Bytes(noise.samples, noise.samples + kMcuSampleBufferSize));
            }
        }
    }
}

// --- Bounds ------------------------------------------------------------------
//
// A 9 x 3 picture has two MCU columns; the second one's top-row segment is the
// last pixel of the buffer's last row.

TEST_P(AnyFetcher, AcceptsSourceEndingAtTopRowsLastPixel) {
    const Format &f = format();
    FetchRig rig(9, 3, f.bitsPerPixel, 8, 8, reducer(SubNone));
    rig.Truncate(size_t{2} * rig.session.stride + 9 * f.bitsPerPixel / 8);
    EXPECT_EQ(rig.Fetch(fetcher(), 0), 1);
    EXPECT_EQ(rig.Fetch(fetcher(), 1), 1);
    EXPECT_EQ(rig.status, StatusBase);
}

TEST_P(ColourFetcher, FailsWithStreamBoundWhenSourceIsOneByteShort) {
    const Format &f = format();
    FetchRig rig(9, 3, f.bitsPerPixel, 8, 8, CapturePlanes);
    rig.Truncate(size_t{2} * rig.session.stride + 9 * f.bitsPerPixel / 8 - 1);
    ResetCapture();
    EXPECT_EQ(rig.Fetch(fetcher(), 1), 0);
    EXPECT_EQ(rig.status, StatusBase | StatusStreamBound);
    EXPECT_EQ(capture.calls, 0);
    EXPECT_TRUE(AllCanary(rig));
    // The first MCU column still lies wholly inside.
    rig.status = StatusBase;
    EXPECT_EQ(rig.Fetch(fetcher(), 0), 1);
    EXPECT_EQ(rig.status, StatusBase);
}

// The grey fetchers: the plain one and its twin, the same body.
class GreyFetcher : public ::testing::TestWithParam<McuFetcher> {};
INSTANTIATE_TEST_SUITE_P(PlainAndTwin, GreyFetcher,
                         ::testing::Values(&FetchGray8, FetcherAt(kGray8, SimdLevelInUse())));

// Grey reads as if sample by sample through ReadByte, which reports a sample
// beyond the end, having written the ones before it; a row segment that
// would start at or beyond the end fails silently.
TEST_P(GreyFetcher, OneByteShortFailsInTheReadOrBeforeTheSegment) {
    {
        SCOPED_TRACE("width 10: the segment starts inside, its second byte is missing");
        FetchRig rig(10, 3, 8, 8, 8, nullptr);
        const size_t size = size_t{2} * rig.session.stride + 10 - 1;
        rig.Truncate(size);
        rig.source.back() = 0x17;
        EXPECT_EQ(rig.Fetch(GetParam(), 1), 0);
        EXPECT_EQ(rig.status, StatusBase | StatusStreamBound);
        EXPECT_EQ(rig.stream.position, size);
        EXPECT_EQ(rig.samples[0], 0x17);
        EXPECT_TRUE(std::all_of(rig.samples + 1, rig.samples + kMcuSampleBufferSize,
                                [](uint8_t b) { return b == FetchRig::kCanary; }));
    }
    {
        SCOPED_TRACE("width 9: the segment would start at the end");
        FetchRig rig(9, 3, 8, 8, 8, nullptr);
        rig.Truncate(size_t{2} * rig.session.stride + 9 - 1);
        EXPECT_EQ(rig.Fetch(GetParam(), 1), 0);
        EXPECT_EQ(rig.status, StatusBase);
        EXPECT_EQ(rig.stream.position, 0u);
        EXPECT_TRUE(AllCanary(rig));
        EXPECT_EQ(rig.Fetch(GetParam(), 0), 1);
    }
    {
        SCOPED_TRACE("empty source");
        FetchRig rig(1, 1, 8, 8, 8, nullptr);
        rig.Truncate(0);
        EXPECT_EQ(rig.Fetch(GetParam(), 0), 0);
    }
}

// After a fetch the source stands where reading the MCU's samples one by one
// would leave it: past the last sample of its lowest row inside the picture,
// with no bits pending.
TEST_P(GreyFetcher, LeavesSourceAfterLastSampleRead) {
    FetchRig rig(13, 11, 8, 8, 8, nullptr);
    const uint32_t stride = rig.session.stride;
    for (uint32_t m = 0; m < 4; ++m) {
        SCOPED_TRACE(m);
        rig.stream.position = 77;
        rig.stream.bitCount = 3;
        ASSERT_EQ(rig.Fetch(GetParam(), m), 1);
        const uint32_t x0 = m % 2 * 8, lowest = m < 2 ? 7 : 10, count = m % 2 ? 5 : 8;
        EXPECT_EQ(rig.stream.position, (11 - 1 - lowest) * stride + x0 + count);
        EXPECT_EQ(rig.stream.bitCount, 0u);
    }
}

TEST_P(GreyFetcher, RequiresEightByEightMcu) {
    for (auto [w, h] : {std::pair<uint8_t, uint8_t>{16, 16}, {16, 8}, {8, 16}}) {
        FetchRig rig(32, 32, 8, w, h, nullptr);
        EXPECT_EQ(rig.Fetch(GetParam(), 0), 0) << int{w} << "x" << int{h};
        EXPECT_EQ(rig.status, StatusBase);
        EXPECT_TRUE(AllCanary(rig));
    }
}

// An MCU the session places outside the picture is refused before anything
// is touched. 2^30 with two MCUs per row is MCU row 2^29, whose first picture
// row (2^32) would wrap to row 0 in 32-bit arithmetic.
TEST_P(AnyFetcher, RefusesMcuOutsideThePicture) {
    const Format &f = format();
    for (uint32_t index : {2u, 3u, 1u << 30, 0xFFFFFFFFu, 0u}) {
        SCOPED_TRACE(index);
        FetchRig rig(9, 3, f.bitsPerPixel, 8, 8, ReducerFor(f, CapturePlanes));
        if (index == 0) rig.session.mcusPerRow = 0;
        rig.stream.position = 5;
        ResetCapture();
        EXPECT_EQ(rig.Fetch(fetcher(), index), 0);
        EXPECT_EQ(rig.status, StatusBase);
        EXPECT_EQ(rig.stream.position, 5u);
        EXPECT_EQ(capture.calls, 0);
        EXPECT_TRUE(AllCanary(rig));
    }
}

// Sessions no caller of the set-up could build, each chosen so that an offset
// computed in 32 bits wraps back into the 8 x 8 source: the fetch must fail
// (colour with the bound code) and read nothing. Under AddressSanitizer a
// wrapped offset past the buffer is reported as well.
TEST_P(AnyFetcher, HostileGeometryNeverReadsOutsideTheSource) {
    const Format &f = format();
    const uint32_t bpp = f.bitsPerPixel / 8;
    struct Hostile {
        const char *what;
        uint32_t width, height, stride, sourceStart, mcuIndex;
    };
    const Hostile cases[] = {
        // A stride of 2^32 - row: wrapped, row i of the MCU would start i rows
        // above the start, and the start is 7 rows up.
        {"stride 2^32 - row", 8, 8, 0u - 8 * bpp, 7 * 8 * bpp, 0},
        // Row i lies 2^31 + 7 - i rows up, which wraps to 7 - i rows.
        {"height 2^31 + 8", 8, 0x80000008, 8 * bpp, 0, 0},
        {"start 2^32 - 1", 8, 1, 8 * bpp, 0xFFFFFFFF, 0},
        // Start + x0 x bytes per pixel = 2^32, with x0 = 65528 (MCU 8191).
        {"start + column = 2^32", 0xFFFFFFFF, 1, 0x100, 0u - 65528 * bpp, 8191},
    };
    for (const Hostile &h : cases) {
        SCOPED_TRACE(h.what);
        FetchRig rig(8, 8, f.bitsPerPixel, 8, 8, ReducerFor(f, CapturePlanes));
        rig.session.width = h.width;
        rig.session.height = h.height;
        rig.session.frameWidth = static_cast<uint16_t>(h.width);
        rig.session.frameHeight = static_cast<uint16_t>(h.height);
        SetMcuGeometry(&rig.session);
        rig.session.stride = h.stride;
        rig.session.sourceStart = h.sourceStart;
        ResetCapture();
        EXPECT_EQ(rig.Fetch(fetcher(), h.mcuIndex), 0);
        EXPECT_EQ(capture.calls, 0);
        if (f.bitsPerPixel == 8) {
            EXPECT_EQ(rig.status, StatusBase);  // the segment starts beyond the end
        } else {
            EXPECT_EQ(rig.status, StatusBase | StatusStreamBound);
            EXPECT_TRUE(AllCanary(rig));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, AnyFetcher,
                         ::testing::Combine(::testing::Values(kGray8, kRgb16, kBgr16, kRgb24,
                                                              kBgr24, kRgb32, kBgr32),
                                            ::testing::ValuesIn(jpegtest::kSimdLevels)),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Formats, ColourFetcher,
                         ::testing::Combine(::testing::Values(kRgb16, kBgr16, kRgb24, kBgr24,
                                                              kRgb32, kBgr32),
                                            ::testing::ValuesIn(jpegtest::kSimdLevels)),
                         ParamName);
INSTANTIATE_TEST_SUITE_P(Formats, ByteFetcher,
                         ::testing::Combine(::testing::Values(kRgb24, kBgr24, kRgb32, kBgr32),
                                            ::testing::ValuesIn(jpegtest::kSimdLevels)),
                         ParamName);

}  // namespace
