// Flat blocks and MCUs: the probe sees one-value MCUs and nothing else, with
// the samples and source position the fetchers give; a flat block's DC is
// the transform's; and whole encodes with the short paths equal those
// forced down the full path, byte for byte, in every format, at every level,
// and where the output runs out.

#include <gtest/gtest.h>

#include "encoder_stages.h"
#include "flat_blocks.h"
#include "quantiser.h"
#include "session_fixture.h"

namespace {

using namespace jpegtest;

// Sends every block the full way for the life of the object.
class FullPathOnly {
public:
    FullPathOnly() { EnableFlatShortcuts(false); }
    ~FullPathOnly() { EnableFlatShortcuts(true); }
    FullPathOnly(const FullPathOnly &) = delete;
    FullPathOnly &operator=(const FullPathOnly &) = delete;
};

struct Shape {
    uint8_t subsampling, mcuWidth, mcuHeight, yBlocks;
};
constexpr Shape kShapes[] = {{Sub2x2, 16, 16, 4}, {Sub2x1, 16, 8, 2}, {SubNone, 8, 8, 1}};
constexpr uint16_t kDepths[] = {8, 16, 24, 32};

uint8_t NextByte(uint32_t &seed) {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
}

// At every level: every MCU of a one-value picture whose edges cut MCUs
// both ways is flat, in a run with the whole MCUs to its right, with the
// samples the fetcher puts in each block and the source position it leaves
// after the run's last; a change of any byte of any visible pixel makes it
// busy and leaves the source as it was; and an MCU whose top row runs past
// the source is not taken, so the fetcher reports the bound.
TEST(FlatProbe, SeesExactlyTheOneValueMcus) {
    for (uint32_t level : kSimdLevels) {
        if (!SimdLevelAvailable(level)) continue;
        for (uint16_t depth : kDepths) {
            for (uint8_t order : {uint8_t{0}, PixelOrderBlueFirst}) {
                for (const Shape &shape : kShapes) {
                    if (depth == 8 && shape.mcuWidth != 8) continue;
                    SCOPED_TRACE(::testing::Message()
                                 << SimdLevelName(level) << ", " << depth << " bpp, order "
                                 << int{order} << ", MCU " << int{shape.mcuWidth} << "x"
                                 << int{shape.mcuHeight});
                    const EncoderStages stages =
                        ChooseStages(level, depth, order, shape.subsampling);
                    FetchRig rig(21, 19, depth, shape.mcuWidth, shape.mcuHeight,
                                 stages.chromaReducer);
                    const uint32_t bytes = depth / 8;
                    const uint8_t pixel[4] = {0x9C, 0x3B, 0xE1, 0x47};
                    for (uint32_t y = 0; y < 19; ++y) {
                        for (uint32_t x = 0; x < 21; ++x) memcpy(rig.Pixel(x, y), pixel, bytes);
                    }
                    const uint32_t across = rig.session.mcusPerRow, whole = 21 / shape.mcuWidth;
                    for (uint32_t m = 0; m < rig.session.mcuCount; ++m) {
                        SCOPED_TRACE(m);
                        // A run of the whole MCUs to the right edge; a cut one alone.
                        const uint32_t column = m % across;
                        rig.session.mcuIndex = m;
                        uint8_t flat[3];
                        ASSERT_EQ(stages.flatProbe(&rig.session, flat),
                                  column < whole ? whole - column : 1u);
                        const uint32_t probed = rig.stream.position;
                        const uint32_t lastOfRun = column < whole ? m - column + whole - 1 : m;
                        ASSERT_EQ(rig.Fetch(stages.fetcher, lastOfRun), 1);
                        EXPECT_EQ(rig.stream.position, probed);
                        for (uint32_t c = 0; c < rig.session.componentCount; ++c) {
                            const uint8_t *block =
                                rig.samples + 64 * (c == 0 ? 0 : shape.yBlocks + c - 1);
                            EXPECT_TRUE(IsFlatBlock(block));
                            EXPECT_EQ(block[0], flat[c]) << "component " << c;
                        }
                        rig.session.mcuIndex = m;

                        const uint32_t x0 = m % rig.session.mcusPerRow * shape.mcuWidth;
                        const uint32_t y0 = m / rig.session.mcusPerRow * shape.mcuHeight;
                        for (uint32_t y = y0; y < std::min(19u, y0 + shape.mcuHeight); ++y) {
                            for (uint32_t x = x0; x < std::min(21u, x0 + shape.mcuWidth); ++x) {
                                for (uint32_t b = 0; b < bytes; ++b) {
                                    rig.stream.position = 7;
                                    rig.Pixel(x, y)[b] ^= 0x10;
                                    EXPECT_EQ(stages.flatProbe(&rig.session, flat), 0)
                                        << "pixel " << x << "," << y << " byte " << b;
                                    EXPECT_EQ(rig.stream.position, 7u);
                                    rig.Pixel(x, y)[b] ^= 0x10;
                                }
                            }
                        }
                    }
                    // A source ending one byte before the top row's last pixel ends.
                    rig.Truncate(size_t{18} * rig.session.stride + 21 * bytes - 1);
                    uint8_t flat[3];
                    rig.session.mcuIndex = rig.session.mcusPerRow - 1;
                    EXPECT_EQ(stages.flatProbe(&rig.session, flat), 0);
                }
            }
        }
    }
}

// A block of 64 equal samples: the DC the short path computes is the one
// the plain transform and quantiser give, every AC is zero, at every DC
// divisor; and IsFlatBlock sees a change of any sample.
TEST(FlatBlock, DcIsTheTransformsAtEveryValueAndDivisor) {
    for (uint32_t entry = 1; entry <= 255; ++entry) {
        QuantTable table{};
        for (uint16_t &d : table.divisors) d = static_cast<uint16_t>(8 * (256 - entry));
        table.divisors[0] = static_cast<uint16_t>(8 * entry);
        PrepareQuantTable(&table);
        for (uint32_t v = 0; v < 256; ++v) {
            uint8_t samples[64];
            memset(samples, static_cast<int>(v), sizeof samples);
            int16_t quantised[64];
            TransformBlock(samples, &table, quantised);
            ASSERT_EQ(quantised[0], FlatBlockDc(static_cast<uint8_t>(v), &table))
                << "sample " << v << ", DC entry " << entry;
            for (int k = 1; k < 64; ++k) ASSERT_EQ(quantised[k], 0);
        }
    }
    uint8_t samples[64];
    memset(samples, 200, sizeof samples);
    EXPECT_TRUE(IsFlatBlock(samples));
    for (int i = 0; i < 64; ++i) {
        samples[i] = 201;
        EXPECT_FALSE(IsFlatBlock(samples)) << i;
        samples[i] = 200;
    }
}

// A picture of MCU-sized tiles: runs of flat ones of changing colours (DC
// differences), noise, white tiles with grey ink on one half (flat blocks
// inside busy MCUs, chroma blocks flat as on a printed page), and flat
// tiles with one pixel changed at a place that walks through the tile. Its
// size cuts the last tiles both ways.
std::vector<uint8_t> TiledPicture(uint32_t width, uint32_t height, uint16_t depth, uint32_t tile) {
    const uint32_t bytes = depth / 8, stride = RowStride(width, depth);
    std::vector<uint8_t> source(size_t{stride} * height);
    uint32_t seed = 7;
    const uint32_t across = (width + tile - 1) / tile;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            // Tiles come in fives of a kind and colour: runs of flat MCUs.
            const uint32_t tiles = y / tile * across + x / tile, t = tiles / 5;
            const uint32_t u = x % tile, v = y % tile;
            uint8_t *p = source.data() + size_t{height - 1 - y} * stride + x * bytes;
            uint8_t flat[4] = {static_cast<uint8_t>(40 * (t % 5)), static_cast<uint8_t>(t * 29),
                               static_cast<uint8_t>(255 - 16 * (t % 7)), 0xFF};
            // Grey ink on the busy half leaves the chroma blocks flat.
            const uint8_t ink = NextByte(seed);
            for (uint32_t b = 0; b < bytes; ++b) {
                switch (t % 4) {
                    case 0: p[b] = flat[b]; break;
                    case 1: p[b] = NextByte(seed); break;
                    case 2: p[b] = u < tile / 2 && v >= 4 ? ink : 0xFF; break;
                    default: p[b] = flat[b] ^ (u + v * tile == tiles % (tile * tile) ? 1 << b : 0);
                }
            }
        }
    }
    return source;
}

struct Encoded {
    uint16_t status;
    uint32_t destSize;
    std::vector<uint8_t> bytes;
};

Encoded Encode(JpegEncodeJob job, uint32_t mode, uint32_t capacity) {
    std::vector<uint8_t> dest(capacity, 0xA5);
    job.destData = dest.data();
    job.destSize = capacity;
    uint16_t status = Jpeg_EncodeStart(&job, mode);
    return {status, job.destSize, dest};
}

TEST(FlatPaths, EncodeAsTheFullPathDoes) {
    for (uint32_t level : kSimdLevels) {
        if (!SimdLevelAvailable(level)) continue;
        SimdLimit limit(level);
        for (uint16_t depth : kDepths) {
            for (const Shape &shape : kShapes) {
                if (depth == 8 && shape.subsampling != SubNone) continue;
                for (uint8_t order : {uint8_t{0}, PixelOrderBlueFirst}) {
                    SCOPED_TRACE(::testing::Message()
                                 << SimdLevelName(level) << ", " << depth << " bpp, subsampling "
                                 << int{shape.subsampling} << ", order " << int{order});
                    std::vector<uint8_t> source =
                        TiledPicture(150, 90, depth, std::max(shape.mcuWidth, shape.mcuHeight));
                    JpegEncodeJob job{};
                    job.sourceData = source.data();
                    job.sourceSize = static_cast<uint32_t>(source.size());
                    job.width = 150;
                    job.height = 90;
                    job.bitsPerPixel = depth;
                    job.quality = 50;  // Y and chroma tables differ in DC
                    job.subsampling = shape.subsampling;
                    job.pixelOrder = order;
                    const Encoded shortcut = Encode(job, ModeEncode, 1 << 16);
                    ASSERT_EQ(shortcut.status, 0);
                    Encoded full;
                    {
                        FullPathOnly only;
                        full = Encode(job, ModeEncode, 1 << 16);
                    }
                    ASSERT_EQ(shortcut.destSize, full.destSize);
                    ASSERT_EQ(shortcut.bytes, full.bytes);
                    EXPECT_EQ(Encode(job, ModeSizeOnly, 0).destSize, full.destSize);
                    // Running out inside the scan, where the staged calls
                    // code the last blocks that fit.
                    for (uint32_t cut : {1u, 37u, 600u}) {
                        const uint32_t capacity = full.destSize - cut;
                        const Encoded a = Encode(job, ModeEncode, capacity);
                        FullPathOnly only;
                        const Encoded b = Encode(job, ModeEncode, capacity);
                        EXPECT_EQ(a.status, b.status) << cut;
                        EXPECT_EQ(a.bytes, b.bytes) << cut;
                    }
                }
            }
        }
    }
}

// Grey and 4:4:4 MCUs go two at a time where their first blocks can share a
// pair transform. A source that runs out inside such a pair, at its first
// or its second MCU, must leave exactly the bytes and the status that one
// MCU at a time leaves: the plain level, which has no pair transform.
TEST(PairedMcus, SourceRunningOutKeepsWhatOneAtATimeKeeps) {
    for (uint16_t depth : {uint16_t{8}, uint16_t{24}}) {
        const std::vector<uint8_t> source = TiledPicture(150, 90, depth, 8);
        // Rows lie bottom-up, so a short source cuts the top row's right
        // end (past its 2 bytes of padding): the MCU that fails is the
        // last, the last but one, ... of the first MCU row, first and second
        // MCUs of pairs.
        for (uint32_t j = 0; j < 4; ++j) {
            const uint32_t cut = 2 + depth / 8 * (8 * j + 1);
            SCOPED_TRACE(::testing::Message() << depth << " bpp, short by " << cut);
            JpegEncodeJob job{};
            job.sourceData = source.data();
            job.sourceSize = static_cast<uint32_t>(source.size()) - cut;
            job.width = 150;
            job.height = 90;
            job.bitsPerPixel = depth;
            job.quality = 90;
            job.subsampling = SubNone;
            Encoded one;
            {
                SimdLimit limit(SimdNone);
                one = Encode(job, ModeEncode, 1 << 16);
            }
            ASSERT_NE(one.status, 0);
            for (uint32_t level : kSimdLevels) {
                if (!SimdLevelAvailable(level)) continue;
                SimdLimit limit(level);
                const Encoded paired = Encode(job, ModeEncode, 1 << 16);
                EXPECT_EQ(paired.status, one.status) << SimdLevelName(level);
                EXPECT_EQ(paired.bytes, one.bytes) << SimdLevelName(level);
            }
        }
    }
}

}  // namespace
