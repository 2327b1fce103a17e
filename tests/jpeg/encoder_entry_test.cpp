// Jpeg_EncodeStart and its helpers: validation order and results, the
// fetcher choice, the mode byte, what the call writes back into the job, size
// mode predicting encode mode, and a status that belongs to each call.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "encoder_entry.h"
#include "encoder_stages.h"
#include "entropy_coder.h"
#include "jpeg_test_support.h"
#include "pixel_intake.h"
#include "trivjpeg.h"

namespace {

using Bytes = std::vector<uint8_t>;
using jpegtest::JobRig;

bool Untouched(const Bytes &b, size_t from = 0) {
    return std::all_of(b.begin() + static_cast<long>(from), b.end(),
                       [](uint8_t x) { return x == JobRig::kSentinel; });
}

// ---------------------------------------------------------------------------
// Validation, through the export

struct JobCase {
    const char *name;
    uint32_t width;
    uint32_t height;
    uint16_t bitsPerPixel;
    uint8_t quality;
    uint8_t subsampling;
    uint16_t result;
};

// A one-byte destination makes an accepted job fail at once on SOI with
// 0x2005 and destSize 0, without reading a single pixel, so even the largest
// accepted dimensions need no source image. A rejected job must leave
// destSize at 1 and the buffer untouched.
class Validation : public testing::TestWithParam<JobCase> {};

TEST_P(Validation, ReportsTheFirstFaultOnly) {
    const JobCase &c = GetParam();
    JobRig j(1, 1, 8, 75, Sub2x2, 4);
    j.job.width = c.width;
    j.job.height = c.height;
    j.job.bitsPerPixel = c.bitsPerPixel;
    j.job.quality = c.quality;
    j.job.subsampling = c.subsampling;
    j.job.destSize = 1;
    EXPECT_EQ(Jpeg_EncodeStart(&j.job, ModeEncode), c.result);
    if (c.result == 0x2005) {
        EXPECT_EQ(j.job.destSize, 0u);
        EXPECT_EQ(j.dest[0], 0xFF);
    } else {
        EXPECT_EQ(j.job.destSize, 1u);
        EXPECT_TRUE(Untouched(j.dest));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Validation,
    testing::Values(JobCase{"WidthZero", 0, 16, 24, 75, Sub2x2, 0x2030},
                    JobCase{"HeightZero", 16, 0, 24, 75, Sub2x2, 0x2030},
                    JobCase{"ZeroSizeBeforeQuality", 0, 16, 24, 0, Sub2x2, 0x2030},
                    JobCase{"ZeroSizeBeforeSubsampling", 16, 0, 24, 75, 3, 0x2030},
                    JobCase{"ZeroSizeBeforeDepth", 0, 0, 15, 75, Sub2x2, 0x2030},
                    JobCase{"WidthAboveFrameLimit", 65536, 16, 24, 75, Sub2x2, 0x2030},
                    JobCase{"HeightAboveFrameLimit", 16, 65536, 24, 75, Sub2x2, 0x2030},
                    JobCase{"WidthFarAboveFrameLimit", 0xFFFFFFFF, 16, 24, 75, Sub2x2, 0x2030},
                    JobCase{"TooLargeBeforeQuality", 65536, 16, 24, 0, Sub2x2, 0x2030},
                    JobCase{"TooLargeBeforeDepth", 16, 0x10000, 15, 75, Sub2x2, 0x2030},
                    JobCase{"FrameLimitAccepted", 65535, 65535, 24, 75, Sub2x2, 0x2005},
                    JobCase{"QualityZero", 16, 16, 24, 0, Sub2x2, 0x2F00},
                    JobCase{"Quality101", 16, 16, 24, 101, Sub2x2, 0x2F00},
                    JobCase{"Quality255", 16, 16, 24, 255, Sub2x2, 0x2F00},
                    JobCase{"QualityOneAccepted", 16, 16, 24, 1, Sub2x2, 0x2005},
                    JobCase{"Quality100Accepted", 16, 16, 24, 100, Sub2x2, 0x2005},
                    JobCase{"SubsamplingThreeAtColour", 16, 16, 24, 75, 3, 0x2F00},
                    JobCase{"SubsamplingThreeEvenAtGrey", 16, 16, 8, 75, 3, 0x2F00},
                    JobCase{"Subsampling255", 16, 16, 24, 75, 255, 0x2F00},
                    JobCase{"QualityBeforeDepth", 16, 16, 15, 0, Sub2x2, 0x2F00},
                    JobCase{"SubsamplingBeforeDepth", 16, 16, 15, 75, 3, 0x2F00},
                    JobCase{"Depth15", 16, 16, 15, 75, Sub2x2, 0x21A0},
                    JobCase{"Depth0", 16, 16, 0, 75, Sub2x2, 0x21A0},
                    JobCase{"Depth1", 16, 16, 1, 75, Sub2x2, 0x21A0},
                    JobCase{"Depth12", 16, 16, 12, 75, Sub2x2, 0x21A0},
                    JobCase{"Depth48", 16, 16, 48, 75, Sub2x2, 0x21A0},
                    JobCase{"Depth64", 16, 16, 64, 75, Sub2x2, 0x21A0},
                    JobCase{"DepthWithEightInTheLowByte", 16, 16, 0x108, 75, Sub2x2, 0x21A0}),
    [](const testing::TestParamInfo<JobCase> &info) { return std::string(info.param.name); });

TEST(Validation, AcceptsEveryDepthWithEverySubsampling) {
    for (uint16_t bpp : {8, 16, 24, 32}) {
        for (uint8_t sub : {Sub2x2, Sub2x1, SubNone}) {
            SCOPED_TRACE("bpp " + std::to_string(bpp) + " sub " + std::to_string(sub));
            JobRig j(16, 16, bpp, 75, sub, 4);
            j.job.destSize = 1;
            EXPECT_EQ(Jpeg_EncodeStart(&j.job, ModeEncode), 0x2005);
        }
    }
}

TEST(ValidateJob, OrsItsCodeIntoTheStatus) {
    JobRig j(0, 16, 24);
    uint16_t status = 0x2005;  // whatever was there stays
    EncodeSetup setup{};
    EXPECT_EQ(ValidateJob(&j.job, &setup, &status), 0);
    EXPECT_EQ(status, 0x2035);
}

TEST(ValidateJob, CopiesTheChoicesIntoTheSetup) {
    JobRig j(16, 16, 24, 42, Sub2x1);
    uint16_t status = StatusBase;
    EncodeSetup setup{};
    ASSERT_EQ(ValidateJob(&j.job, &setup, &status), 1);
    EXPECT_EQ(status, StatusBase);
    EXPECT_EQ(setup.quality, 42);
    EXPECT_EQ(setup.subsampling, Sub2x1);
    EXPECT_EQ(setup.simdLevel, SimdLevelInUse());
    EXPECT_EQ(setup.blockCoder, ChooseStages(SimdLevelInUse(), 24, 0, Sub2x1).blockCoder);
    EXPECT_EQ(setup.blockRunCoder, ChooseStages(SimdLevelInUse(), 24, 0, Sub2x1).blockRunCoder);
    EXPECT_EQ(setup.blockQuadTransform,
              ChooseStages(SimdLevelInUse(), 24, 0, Sub2x1).blockQuadTransform);
}

TEST(ValidateJob, ChoosesThePlainStagesWithoutVectorInstructions) {
    jpegtest::SimdLimit scalar(SimdNone);
    JobRig j(16, 16, 24, 42, Sub2x1);
    j.job.pixelOrder = 1;
    uint16_t status = StatusBase;
    EncodeSetup setup{};
    ASSERT_EQ(ValidateJob(&j.job, &setup, &status), 1);
    EXPECT_EQ(setup.simdLevel, SimdNone);
    EXPECT_EQ(setup.blockCoder, &CodeBlock);
    EXPECT_EQ(setup.fetcher, &FetchBgr24);
}

struct FetcherCase {
    uint16_t bitsPerPixel;
    uint8_t pixelOrder;
    McuFetcher fetcher;
};

class FetcherChoice : public testing::TestWithParam<FetcherCase> {};

// 1 selects the blue-first layouts; every other value the red-first ones.
// Grey ignores the order.
TEST_P(FetcherChoice, FollowsDepthAndPixelOrder) {
    const FetcherCase &c = GetParam();
    JobRig j(16, 16, c.bitsPerPixel);
    j.job.pixelOrder = c.pixelOrder;
    uint16_t status = StatusBase;
    EncodeSetup setup{};
    ASSERT_EQ(ValidateJob(&j.job, &setup, &status), 1);
    EXPECT_EQ(setup.fetcher,
              ChooseStages(SimdLevelInUse(), c.bitsPerPixel, c.pixelOrder, SubNone).fetcher);
    jpegtest::SimdLimit scalar(SimdNone);
    ASSERT_EQ(ValidateJob(&j.job, &setup, &status), 1);
    EXPECT_EQ(setup.fetcher, c.fetcher);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FetcherChoice,
    testing::Values(FetcherCase{8, 0, FetchGray8}, FetcherCase{8, 1, FetchGray8},
                    FetcherCase{8, 2, FetchGray8}, FetcherCase{8, 255, FetchGray8},
                    FetcherCase{16, 1, FetchBgr16}, FetcherCase{16, 0, FetchRgb16},
                    FetcherCase{16, 2, FetchRgb16}, FetcherCase{16, 255, FetchRgb16},
                    FetcherCase{24, 1, FetchBgr24}, FetcherCase{24, 0, FetchRgb24},
                    FetcherCase{24, 2, FetchRgb24}, FetcherCase{24, 255, FetchRgb24},
                    FetcherCase{32, 1, FetchBgr32}, FetcherCase{32, 0, FetchRgb32},
                    FetcherCase{32, 2, FetchRgb32}, FetcherCase{32, 255, FetchRgb32}),
    [](const testing::TestParamInfo<FetcherCase> &info) {
        return "Bpp" + std::to_string(info.param.bitsPerPixel) + "Order" +
               std::to_string(info.param.pixelOrder);
    });

// ---------------------------------------------------------------------------
// The mode routines

TEST(EncodeModes, SetTheirOutputKind) {
    JobRig j(17, 9, 24);
    uint16_t status = StatusBase;
    EncodeSetup setup{};
    ASSERT_EQ(ValidateJob(&j.job, &setup, &status), 1);

    setup.outputKind = 0xBEEF;
    const uint32_t counted = EncodeSizeOnly(&j.job, &setup, &status);
    EXPECT_EQ(setup.outputKind, OutputCount);
    EXPECT_TRUE(Untouched(j.dest));

    setup.outputKind = 0xBEEF;
    const uint32_t written = EncodeToMemory(&j.job, &setup, &status);
    EXPECT_EQ(setup.outputKind, OutputMemory);

    EXPECT_GT(counted, 607u);
    EXPECT_EQ(written, counted);
    EXPECT_EQ(status, StatusBase);
    EXPECT_EQ(j.dest[written], JobRig::kSentinel);
}

// ---------------------------------------------------------------------------
// The mode byte

TEST(EncodeStart, NullJobIsABadParameter) {
    EXPECT_EQ(Jpeg_EncodeStart(nullptr, ModeSizeOnly), 0x2F00);
    EXPECT_EQ(Jpeg_EncodeStart(nullptr, ModeEncode), 0x2F00);
    EXPECT_EQ(Jpeg_EncodeStart(nullptr, 2), 0x2F00);
}

TEST(EncodeStart, ValidationComesBeforeTheModeCheck) {
    JobRig j(0, 16, 24);
    j.job.destSize = 777;
    EXPECT_EQ(Jpeg_EncodeStart(&j.job, 2), 0x2030);
    EXPECT_EQ(j.job.destSize, 777u);
}

enum class Acts { SizeOnly, Encode, Rejected };

struct ModeCase {
    uint32_t mode;
    Acts acts;
};

class ModeByte : public testing::TestWithParam<ModeCase> {};

// Only the lowest byte of the mode argument counts.
TEST_P(ModeByte, DecidesTheMode) {
    const ModeCase &c = GetParam();
    JobRig reference(17, 9, 24);
    ASSERT_EQ(Jpeg_EncodeStart(&reference.job, ModeEncode), 0);
    const uint32_t length = reference.job.destSize;

    JobRig j(17, 9, 24);
    j.job.destSize = static_cast<uint32_t>(j.dest.size());
    const uint16_t result = Jpeg_EncodeStart(&j.job, c.mode);
    switch (c.acts) {
        case Acts::SizeOnly:
            EXPECT_EQ(result, 0);
            EXPECT_EQ(j.job.destSize, length);
            EXPECT_TRUE(Untouched(j.dest));
            break;
        case Acts::Encode:
            EXPECT_EQ(result, 0);
            EXPECT_EQ(j.job.destSize, length);
            EXPECT_EQ(j.dest, reference.dest);
            break;
        case Acts::Rejected:
            EXPECT_EQ(result, 0x2F00);
            EXPECT_EQ(j.job.destSize, j.dest.size());
            EXPECT_TRUE(Untouched(j.dest));
            break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ModeByte,
    testing::Values(ModeCase{0, Acts::SizeOnly}, ModeCase{0x100, Acts::SizeOnly},
                    ModeCase{0xFFFFFF00, Acts::SizeOnly}, ModeCase{1, Acts::Encode},
                    ModeCase{0x101, Acts::Encode}, ModeCase{0xABCDEF01, Acts::Encode},
                    ModeCase{2, Acts::Rejected}, ModeCase{3, Acts::Rejected},
                    ModeCase{0xFF, Acts::Rejected}, ModeCase{0x102, Acts::Rejected}),
    [](const testing::TestParamInfo<ModeCase> &info) {
        char name[16];
        std::snprintf(name, sizeof name, "Mode%X", info.param.mode);
        return std::string(name);
    });

// ---------------------------------------------------------------------------
// What the call writes back

// The caller's record is read-only except destSize; reserved is never
// touched.
TEST(EncodeStart, WritesOnlyDestSizeIntoTheJob) {
    for (uint32_t mode : {0u, 1u}) {
        SCOPED_TRACE(mode);
        JobRig j(17, 9, 24, 75, Sub2x1);
        j.job.reserved = 0xDEADBEEF;
        j.job.pixelOrder = 7;
        const JpegEncodeJob before = j.job;
        ASSERT_EQ(Jpeg_EncodeStart(&j.job, mode), 0);
        EXPECT_NE(j.job.destSize, before.destSize);
        EXPECT_EQ(j.job.sourceData, before.sourceData);
        EXPECT_EQ(j.job.sourceSize, before.sourceSize);
        EXPECT_EQ(j.job.destData, before.destData);
        EXPECT_EQ(j.job.width, before.width);
        EXPECT_EQ(j.job.height, before.height);
        EXPECT_EQ(j.job.reserved, before.reserved);
        EXPECT_EQ(j.job.bitsPerPixel, before.bitsPerPixel);
        EXPECT_EQ(j.job.quality, before.quality);
        EXPECT_EQ(j.job.subsampling, before.subsampling);
        EXPECT_EQ(j.job.pixelOrder, before.pixelOrder);
    }
}

TEST(EncodeStart, SizeModeIgnoresTheDestination) {
    JobRig reference(17, 9, 24);
    ASSERT_EQ(Jpeg_EncodeStart(&reference.job, ModeSizeOnly), 0);

    JobRig j(17, 9, 24);
    j.job.destData = nullptr;
    j.job.destSize = 5;
    EXPECT_EQ(Jpeg_EncodeStart(&j.job, ModeSizeOnly), 0);
    EXPECT_EQ(j.job.destSize, reference.job.destSize);

    JobRig k(17, 9, 24);
    k.job.destSize = 1;  // would fail SOI if it were the capacity
    EXPECT_EQ(Jpeg_EncodeStart(&k.job, ModeSizeOnly), 0);
    EXPECT_EQ(k.job.destSize, reference.job.destSize);
    EXPECT_TRUE(Untouched(k.dest));
}

TEST(EncodeStart, EncodeModeWithNoRoomForSoiFails) {
    for (uint32_t capacity : {0u, 1u}) {
        SCOPED_TRACE(capacity);
        JobRig j(17, 9, 24);
        j.job.destSize = capacity;
        EXPECT_EQ(Jpeg_EncodeStart(&j.job, ModeEncode), 0x2005);
        EXPECT_EQ(j.job.destSize, 0u);
        EXPECT_TRUE(Untouched(j.dest, capacity));
    }
}

TEST(EncodeStart, RejectedJobLeavesDestSizeAlone) {
    JobRig j(16, 16, 24, 0);
    for (uint32_t mode : {0u, 1u}) {
        j.job.destSize = 12345;
        EXPECT_EQ(Jpeg_EncodeStart(&j.job, mode), 0x2F00);
        EXPECT_EQ(j.job.destSize, 12345u);
    }
    EXPECT_TRUE(Untouched(j.dest));
}

// The source may end right after the top row's last pixel, without that
// row's padding. One byte less fails the scan in both modes: with the bound
// code from the colour fetchers and from a grey read that runs out, without
// it when the grey fetcher finds its row segment starting at the end.
TEST(EncodeStart, SourceMayOmitTheTopRowsPaddingButNoMore) {
    struct {
        uint16_t bpp;
        uint32_t width;
        uint16_t result;
    } cases[] = {{24, 17, 0x2085}, {16, 17, 0x2085}, {32, 17, 0x2085},
                 {24, 16, 0x2085}, {8, 16, 0x2085},  {8, 17, 0x2080}};
    for (const auto &c : cases) {
        for (uint32_t mode : {0u, 1u}) {
            SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " width " + std::to_string(c.width) +
                         " mode " + std::to_string(mode));
            JobRig j(c.width, 9, c.bpp);
            const uint32_t tight = 8 * jpegtest::RowStride(c.width, c.bpp) + c.width * c.bpp / 8;
            j.job.sourceSize = tight;
            EXPECT_EQ(Jpeg_EncodeStart(&j.job, mode), 0);
            j.job.sourceSize = tight - 1;
            j.job.destSize = static_cast<uint32_t>(j.dest.size());
            EXPECT_EQ(Jpeg_EncodeStart(&j.job, mode), c.result);
            EXPECT_EQ(j.job.destSize, 0u);
        }
    }
}

// ---------------------------------------------------------------------------
// Size mode predicts encode mode to the byte

struct ImageCase {
    uint32_t width, height;
    uint16_t bitsPerPixel;
    uint8_t subsampling;
    uint8_t quality;
};

class SizeThenEncode : public testing::TestWithParam<ImageCase> {};

TEST_P(SizeThenEncode, CountedLengthIsExactlyEnough) {
    const ImageCase &c = GetParam();
    JobRig sized(c.width, c.height, c.bitsPerPixel, c.quality, c.subsampling);
    sized.job.destData = nullptr;
    ASSERT_EQ(Jpeg_EncodeStart(&sized.job, ModeSizeOnly), 0);
    const uint32_t length = sized.job.destSize;
    ASSERT_GT(length, c.bitsPerPixel == 8 ? 326u : 609u);

    JobRig exact(c.width, c.height, c.bitsPerPixel, c.quality, c.subsampling);
    exact.job.destSize = length;
    ASSERT_EQ(Jpeg_EncodeStart(&exact.job, ModeEncode), 0);
    EXPECT_EQ(exact.job.destSize, length);
    EXPECT_EQ(exact.dest[length - 2], 0xFF);
    EXPECT_EQ(exact.dest[length - 1], 0xD9);
    EXPECT_TRUE(Untouched(exact.dest, length));

    // The scan data ends two bytes before the end, so a buffer one or two
    // bytes short has room for all of it and fails on EOI, which has no step
    // code.
    for (uint32_t shortBy : {1u, 2u}) {
        SCOPED_TRACE(shortBy);
        JobRig tight(c.width, c.height, c.bitsPerPixel, c.quality, c.subsampling);
        tight.job.destSize = length - shortBy;
        EXPECT_EQ(Jpeg_EncodeStart(&tight.job, ModeEncode), 0x2005);
        EXPECT_EQ(tight.job.destSize, 0u);
        EXPECT_TRUE(std::equal(tight.dest.begin(), tight.dest.begin() + (length - shortBy),
                               exact.dest.begin()));
        EXPECT_TRUE(Untouched(tight.dest, length - shortBy));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Images, SizeThenEncode,
    testing::Values(ImageCase{1, 1, 8, Sub2x2, 75}, ImageCase{1, 1, 24, Sub2x2, 75},
                    ImageCase{17, 9, 24, Sub2x2, 50}, ImageCase{33, 17, 16, Sub2x1, 90},
                    ImageCase{16, 16, 32, SubNone, 100}, ImageCase{16, 16, 24, Sub2x2, 1},
                    ImageCase{23, 5, 8, SubNone, 10}, ImageCase{40, 24, 32, Sub2x1, 99}));

// ---------------------------------------------------------------------------
// Failures inside the scan, pinned to their results and to what the buffer
// keeps: exactly the stream's bytes that completed before the failure, and
// nothing after them.

// Where the scan's entropy-coded data starts: after the SOS segment.
size_t ScanStart(const Bytes &stream) {
    for (size_t i = 0; i + 3 < stream.size(); ++i) {
        if (stream[i] == 0xFF && stream[i + 1] == 0xDA) {
            return i + 2 + (size_t{stream[i + 2]} << 8 | stream[i + 3]);
        }
    }
    return stream.size();
}

TEST(EncodeStart, FailuresInTheScanKeepExactlyWhatCompleted) {
    struct Failure {
        const char *what;
        uint32_t width, height;
        uint16_t bpp;
        uint8_t subsampling;
        int destShort;    // capacity: the whole stream less this (-1: half of it)
        int sourceShort;  // bytes cut off the source's end (its top row's last pixels)
        uint16_t result;
        size_t keptShort;  // how far short of the capacity the kept bytes may end
    };
    const Failure failures[] = {
        // The staged coder call that does not fit completes nothing and
        // reports no bound of its own: 0x80 alone.
        {"output runs out in the scan", 48, 40, 24, Sub2x2, -1, 0, 0x2080, 504},
        // Every block fits; the final flush of the scan's last bits does not.
        {"final flush", 16, 16, 8, SubNone, 3, 0, 0x2085, 0},
        // MCUs 0 and 1 are coded; MCU 2 finds its pixels missing.
        {"later MCU's source", 48, 40, 24, Sub2x2, 0, 3, 0x2085, SIZE_MAX},
    };
    for (const Failure &f : failures) {
        SCOPED_TRACE(f.what);
        JobRig whole(f.width, f.height, f.bpp, 100, f.subsampling);
        uint32_t noise = 99;
        for (uint8_t &b : whole.source)
            b = static_cast<uint8_t>((noise = noise * 1103515245u + 12345u) >> 23);
        ASSERT_EQ(Jpeg_EncodeStart(&whole.job, ModeEncode), 0);
        const Bytes stream(whole.dest.begin(), whole.dest.begin() + whole.job.destSize);

        JobRig cut(f.width, f.height, f.bpp, 100, f.subsampling);
        cut.source = whole.source;
        cut.job.sourceData = cut.source.data();
        cut.job.sourceSize = whole.job.sourceSize - f.sourceShort;
        const size_t capacity = f.destShort < 0 ? stream.size() / 2 : stream.size() - f.destShort;
        cut.job.destSize = static_cast<uint32_t>(capacity);
        EXPECT_EQ(Jpeg_EncodeStart(&cut.job, ModeEncode), f.result);
        EXPECT_EQ(cut.job.destSize, 0u);

        size_t kept = 0;
        while (kept < capacity && cut.dest[kept] == stream[kept]) ++kept;
        while (kept > 0 && cut.dest[kept - 1] == JobRig::kSentinel &&
               Untouched(cut.dest, kept - 1)) {
            --kept;  // a stream byte that happens to equal the sentinel
        }
        EXPECT_TRUE(Untouched(cut.dest, kept)) << "kept " << kept;
        EXPECT_GT(kept, ScanStart(stream)) << "the headers and some blocks stay";
        if (f.keptShort != SIZE_MAX) EXPECT_LE(capacity - kept, f.keptShort);
    }
}

// ---------------------------------------------------------------------------
// The status belongs to the call

// Failing calls on several threads at once each get exactly their own code;
// a status shared between calls would mix them (0x2F05, 0x2F80, ...).
TEST(EncodeStart, StatusIsPerCall) {
    constexpr int kCalls = 20000;
    std::atomic<int> ready{0};
    std::atomic<int> wrong[3] = {0, 0, 0};

    auto run = [&](int id, JpegEncodeJob job, uint32_t mode, uint16_t expected) {
        ready.fetch_add(1);
        while (ready.load() < 3) {
        }
        const uint32_t destSize = job.destSize;
        for (int i = 0; i < kCalls; ++i) {
            job.destSize = destSize;
            if (Jpeg_EncodeStart(&job, mode) != expected) wrong[id].fetch_add(1);
        }
    };

    JobRig badQuality(16, 16, 24, 0);
    JobRig noRoom(16, 16, 24);
    noRoom.job.destSize = 1;
    JobRig shortSource(16, 16, 24);
    shortSource.job.sourceSize = 10;

    std::thread a(run, 0, badQuality.job, ModeSizeOnly, uint16_t{0x2F00});
    std::thread b(run, 1, noRoom.job, ModeEncode, uint16_t{0x2005});
    std::thread c(run, 2, shortSource.job, ModeSizeOnly, uint16_t{0x2085});
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(wrong[0].load(), 0);
    EXPECT_EQ(wrong[1].load(), 0);
    EXPECT_EQ(wrong[2].load(), 0);
}

}  // namespace
