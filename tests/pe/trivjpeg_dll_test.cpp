// TRIVJPEG.DLL as it ships, run by the PE host, against the i386 Linux build
// of the same sources linked into this program: every job, valid or not,
// must give the same result, the same destSize and the same bytes, and leave
// the rest of the job and of the buffer as the Linux build does. Every call
// into the DLL is checked to pop its 8 bytes of arguments (__stdcall), from a
// 16-byte and a 4-byte aligned stack.

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "pe_test_support.h"
#include "simd_support.h"
#include "trivjpeg.h"

namespace pe_test {
namespace {

constexpr uint8_t kSentinel = 0xA5;
constexpr int32_t kEncodeStartPops = 8;

// A source image with the library's row layout: bottom-up rows padded to 4
// bytes. Smooth ramps with a little noise, so that every quality codes
// different coefficients.
struct Image {
    uint32_t width, height;
    uint16_t bitsPerPixel;
    Bytes pixels;

    Image(uint32_t w, uint32_t h, uint16_t bits) : width(w), height(h), bitsPerPixel(bits) {
        uint32_t stride = (w * bits + 31) / 32 * 4;
        pixels.resize(size_t{stride} * h);
        uint32_t noise = 0x2545F491u ^ (w * 131 + h * 7 + bits);
        for (uint32_t y = 0; y < h; ++y) {
            for (uint32_t x = 0; x < stride; ++x) {
                noise = noise * 1103515245u + 12345u;
                pixels[size_t{y} * stride + x] =
                    static_cast<uint8_t>(x * 5 + y * 3 + (x % 3) * 40 + (noise >> 28));
            }
        }
    }
};

JpegEncodeJob JobFor(const Image &image, uint8_t quality, uint8_t subsampling, uint8_t order) {
    JpegEncodeJob job = {};
    job.sourceData = image.pixels.data();
    job.sourceSize = static_cast<uint32_t>(image.pixels.size());
    job.width = image.width;
    job.height = image.height;
    job.reserved = 0x5A5A5A5A;  // never read or written: must come back as it went
    job.bitsPerPixel = image.bitsPerPixel;
    job.quality = quality;
    job.subsampling = subsampling;
    job.pixelOrder = order;
    return job;
}

// What one call did: its result, the job afterwards, the whole buffer.
struct Outcome {
    uint16_t status;
    JpegEncodeJob job;
    Bytes dest;
};

class TrivjpegDll : public StandinTest {
protected:
    static void SetUpTestSuite() { dll = new LoadedDll(Win32File("TRIVJPEG.DLL")); }
    static void TearDownTestSuite() {
        delete dll;
        dll = nullptr;
    }
    void SetUp() override {
        StandinTest::SetUp();
        ASSERT_NE(dll->module(), nullptr) << dll->error();
        encode = dll->Export("Jpeg_EncodeStart");
        ASSERT_NE(encode, nullptr);
    }

    // The same job through each build: destData points into the outcome's
    // own buffer of `capacity` bytes (none: a null destData), destSize is the
    // capacity unless the job says otherwise.
    static Outcome Prepare(const JpegEncodeJob &job, size_t capacity) {
        Outcome o{0, job, Bytes(capacity, kSentinel)};
        o.job.destData = capacity ? o.dest.data() : nullptr;
        if (o.job.destSize == 0) o.job.destSize = static_cast<uint32_t>(capacity);
        return o;
    }
    static Outcome Linux(const JpegEncodeJob &job, size_t capacity, uint32_t mode) {
        Outcome o = Prepare(job, capacity);
        o.status = Jpeg_EncodeStart(&o.job, mode);
        return o;
    }
    Outcome Dll(const JpegEncodeJob &job, size_t capacity, uint32_t mode, int32_t offset) const {
        Outcome o = Prepare(job, capacity);
        // The result is a uint16_t: what is left in eax's upper half is not
        // part of it.
        o.status = static_cast<uint16_t>(
            CallChecked(encode, {Arg(&o.job), mode}, offset, kEncodeStartPops));
        return o;
    }

    // Both builds, every stack alignment: the same result, destSize, bytes
    // and untouched remainder. Returns the Linux build's outcome.
    Outcome ExpectAlike(const JpegEncodeJob &job, size_t capacity, uint32_t mode,
                        const std::string &what) const {
        Outcome expected = Linux(job, capacity, mode);
        for (int32_t offset : kStackOffsets) {
            Outcome got = Dll(job, capacity, mode, offset);
            SCOPED_TRACE(what + ", mode " + std::to_string(mode) + ", stack offset " +
                         std::to_string(offset));
            EXPECT_EQ(got.status, expected.status);
            EXPECT_EQ(got.job.destSize, expected.job.destSize);
            EXPECT_TRUE(got.dest == expected.dest) << "the buffers differ";
            // Everything else in the job is as it was.
            got.job.destData = expected.job.destData;
            EXPECT_EQ(memcmp(&got.job, &expected.job, sizeof got.job), 0) << "other job fields";
        }
        return expected;
    }

    static LoadedDll *dll;
    const void *encode = nullptr;
};

LoadedDll *TrivjpegDll::dll = nullptr;

// --- Every format ------------------------------------------------------------------

struct Format {
    uint16_t bitsPerPixel;
    uint8_t pixelOrder;
    uint8_t subsampling;
};

void PrintTo(const Format &f, std::ostream *os) {
    *os << f.bitsPerPixel << "bpp order " << int{f.pixelOrder} << " sub " << int{f.subsampling};
}

class TrivjpegDllFormat : public TrivjpegDll, public ::testing::WithParamInterface<Format> {};

// Sizes with whole and partial MCUs (8x8 for 4:4:4 and grey, 16x8 for 4:2:2,
// 16x16 for 4:2:0) and odd row padding.
constexpr uint32_t kSizes[][2] = {{1, 1}, {7, 5}, {16, 16}, {17, 9}, {33, 31}, {64, 17}};
constexpr uint8_t kQualities[] = {1, 50, 75, 90, 100};

TEST_P(TrivjpegDllFormat, EncodesByteForByteAsTheLinuxBuild) {
    const Format f = GetParam();
    for (const auto &size : kSizes) {
        Image image(size[0], size[1], f.bitsPerPixel);
        for (uint8_t quality : kQualities) {
            JpegEncodeJob job = JobFor(image, quality, f.subsampling, f.pixelOrder);
            std::string what = std::to_string(size[0]) + "x" + std::to_string(size[1]) + " q" +
                               std::to_string(quality);
            Outcome sized = ExpectAlike(job, 0, ModeSizeOnly, what);
            ASSERT_EQ(sized.status, 0) << what;
            // A buffer of exactly the predicted length takes the whole stream.
            Outcome encoded = ExpectAlike(job, sized.job.destSize, ModeEncode, what);
            ASSERT_EQ(encoded.status, 0) << what;
            EXPECT_EQ(encoded.job.destSize, sized.job.destSize) << what << ": size-only disagrees";
            ASSERT_GE(encoded.dest.size(), 4u);
            EXPECT_EQ(encoded.dest[0], 0xFF);
            EXPECT_EQ(encoded.dest[1], 0xD8);
        }
    }
}

std::vector<Format> AllFormats() {
    std::vector<Format> formats;
    for (uint16_t bits : {8, 16, 24, 32}) {
        for (uint8_t order : {0, 1}) {
            for (uint8_t sub : {Sub2x2, Sub2x1, SubNone}) formats.push_back({bits, order, sub});
        }
    }
    return formats;
}

std::string FormatName(const ::testing::TestParamInfo<Format> &info) {
    static const char *const kSubsampling[] = {"420", "422", "444"};
    return std::to_string(info.param.bitsPerPixel) + "bpp_" +
           (info.param.pixelOrder == 1 ? "BlueFirst_" : "RedFirst_") +
           kSubsampling[info.param.subsampling];
}

INSTANTIATE_TEST_SUITE_P(Formats, TrivjpegDllFormat, ::testing::ValuesIn(AllFormats()), FormatName);

// --- Failing jobs ------------------------------------------------------------------

// Run under an emulated processor model, the test is told which level the
// model's cpuid must give; the DLL detects with the same code as the Linux
// build linked here, so both then run the same path (the plain one on a
// processor without SSE2).
TEST(TrivjpegDllProcessor, ReportsTheExpectedVectorLevel) {
    const char *expected = getenv("TRIVJPEG_EXPECT_SIMD_LEVEL");
    if (expected == nullptr) GTEST_SKIP() << "no processor model given";
    EXPECT_EQ(SimdLevelInUse(), static_cast<uint32_t>(atoi(expected)));
}

TEST_F(TrivjpegDll, RejectsInvalidJobsAlike) {
    Image image(24, 16, 24);
    const JpegEncodeJob good = JobFor(image, 75, Sub2x2, 1);
    struct Case {
        const char *what;
        void (*change)(JpegEncodeJob &);
        uint16_t status;
    };
    const Case cases[] = {
        {"width 0", [](JpegEncodeJob &j) { j.width = 0; }, 0x2030},
        {"height 0", [](JpegEncodeJob &j) { j.height = 0; }, 0x2030},
        {"width 65536", [](JpegEncodeJob &j) { j.width = 65536; }, 0x2030},
        {"height 2^32-1", [](JpegEncodeJob &j) { j.height = 0xFFFFFFFF; }, 0x2030},
        {"depth 12", [](JpegEncodeJob &j) { j.bitsPerPixel = 12; }, 0x21A0},
        {"depth 0", [](JpegEncodeJob &j) { j.bitsPerPixel = 0; }, 0x21A0},
        {"quality 0", [](JpegEncodeJob &j) { j.quality = 0; }, 0x2F00},
        {"quality 101", [](JpegEncodeJob &j) { j.quality = 101; }, 0x2F00},
        {"subsampling 3", [](JpegEncodeJob &j) { j.subsampling = 3; }, 0x2F00},
    };
    for (const Case &c : cases) {
        JpegEncodeJob job = good;
        c.change(job);
        for (uint32_t mode : {0u, 1u}) {
            Outcome o = ExpectAlike(job, 4096, mode, c.what);
            EXPECT_EQ(o.status, c.status) << c.what;
        }
    }
}

TEST_F(TrivjpegDll, TakesOnlyTheModesLowestByte) {
    Image image(20, 12, 32);
    JpegEncodeJob job = JobFor(image, 90, SubNone, 0);
    for (uint32_t mode : {2u, 0xFFu, 0x100u, 0x101u, 0xFFFFFF01u}) {
        Outcome o = ExpectAlike(job, 4096, mode, "mode " + std::to_string(mode));
        EXPECT_EQ(o.status, (mode & 0xFF) <= 1 ? 0 : 0x2F00) << mode;
    }
}

TEST_F(TrivjpegDll, ANullJobFailsAlike) {
    uint16_t expected = Jpeg_EncodeStart(nullptr, ModeEncode);
    EXPECT_EQ(expected, 0x2F00);
    for (int32_t offset : kStackOffsets) {
        for (uint32_t mode : {0u, 1u}) {
            uint32_t status = CallChecked(encode, {0, mode}, offset, kEncodeStartPops);
            EXPECT_EQ(static_cast<uint16_t>(status), expected);
        }
    }
}

// Every capacity from none to one byte short fails at the step that runs
// out of room, with the same status and the same partial bytes in each build.
TEST_F(TrivjpegDll, FailsAlikeAtEveryOutputCapacityBelowTheStream) {
    Image image(17, 9, 24);
    JpegEncodeJob job = JobFor(image, 75, Sub2x1, 1);
    Outcome sized = Linux(job, 0, ModeSizeOnly);
    ASSERT_EQ(sized.status, 0);
    const uint32_t exact = sized.job.destSize;
    for (uint32_t capacity = 1; capacity < exact; ++capacity) {
        JpegEncodeJob short_ = job;
        short_.destSize = capacity;
        Outcome o = ExpectAlike(short_, exact, ModeEncode, "capacity " + std::to_string(capacity));
        EXPECT_NE(o.status, 0) << capacity;
        if (::testing::Test::HasFailure()) break;  // one capacity's report is enough
    }
    JpegEncodeJob oneShort = job;
    oneShort.destSize = exact - 1;
    EXPECT_EQ(Linux(oneShort, exact, ModeEncode).status, 0x2005) << "a buffer one byte short";
}

TEST_F(TrivjpegDll, FailsAlikeOnATruncatedSourceOrAMissingBuffer) {
    for (uint16_t bits : {8, 16, 24, 32}) {
        Image image(19, 11, bits);
        JpegEncodeJob job = JobFor(image, 50, Sub2x2, 1);
        // The last row's padding need not be there; one byte of its pixels
        // must.
        const uint32_t whole = static_cast<uint32_t>(image.pixels.size());
        const uint32_t padding = whole / 11 - (19 * bits + 7) / 8;
        for (uint32_t cut : {padding, padding + 1, whole / 11, whole}) {
            JpegEncodeJob truncated = job;
            truncated.sourceSize -= cut;
            std::string what = std::to_string(bits) + "bpp source short by " + std::to_string(cut);
            for (uint32_t mode : {0u, 1u}) {
                Outcome o = ExpectAlike(truncated, 8192, mode, what);
                if (cut == padding) {
                    EXPECT_EQ(o.status, 0) << what;
                } else {
                    EXPECT_NE(o.status, 0) << what;
                }
            }
        }
        // Encode mode with no buffer at all.
        JpegEncodeJob noBuffer = job;
        noBuffer.destSize = 8192;
        ExpectAlike(noBuffer, 0, ModeEncode, std::to_string(bits) + "bpp, null destData");
    }
}

}  // namespace
}  // namespace pe_test
