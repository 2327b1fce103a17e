// The trivjpeg tool's image intake: BMP, PPM and PGM files written in memory
// by a small writer below, read into the encoder's layout (bottom-up rows,
// each padded to 4 bytes), and hostile files that must be refused without a
// read past their end. Every file is held in a vector of exactly its size,
// so AddressSanitizer (the sanitize preset) reports any such read.

#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "image_file.h"
#include "test_card.h"

namespace {

using Bytes = std::vector<uint8_t>;

// BMP header fields, as offsets from the start of the file.
constexpr size_t kDataOffsetAt = 10, kHeaderSizeAt = 14, kWidthAt = 18, kHeightAt = 22;
constexpr size_t kColoursUsedAt = 46;

void Put16(Bytes *f, size_t at, uint32_t v) {
    for (int i = 0; i < 2; ++i) (*f)[at + i] = static_cast<uint8_t>(v >> 8 * i);
}
void Put32(Bytes *f, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*f)[at + i] = static_cast<uint8_t>(v >> 8 * i);
}
Bytes With32(Bytes f, size_t at, uint32_t v) {
    Put32(&f, at, v);
    return f;
}
Bytes Text(const std::string &s) { return Bytes(s.begin(), s.end()); }
Bytes Cat(Bytes a, const Bytes &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

uint32_t Stride(uint32_t width, uint32_t bits) { return (width * bits + 31) / 32 * 4; }

// A picture as a viewer shows it: rows top first, unpadded.
struct Picture {
    uint32_t width, height, bytesPerPixel;
    Bytes data;
    const uint8_t *Row(uint32_t y) const { return data.data() + y * width * bytesPerPixel; }
};

Picture Noise(uint32_t width, uint32_t height, uint32_t bytesPerPixel) {
    Picture p{width, height, bytesPerPixel, Bytes(width * height * bytesPerPixel)};
    uint32_t state = width * 977 + height * 131 + bytesPerPixel;
    for (uint8_t &b : p.data) {
        state = state * 1664525 + 1013904223;
        b = static_cast<uint8_t>(state >> 24);
    }
    return p;
}

Bytes GreyPalette(uint32_t entries, uint8_t (*grey)(uint32_t)) {
    Bytes pal(4 * entries, 0);
    for (uint32_t i = 0; i < entries; ++i) pal[4 * i] = pal[4 * i + 1] = pal[4 * i + 2] = grey(i);
    return pal;
}
uint8_t Same(uint32_t i) { return static_cast<uint8_t>(i); }
uint8_t Reversed(uint32_t i) { return static_cast<uint8_t>(255 - i); }

struct BmpOptions {
    bool topDown = false;
    uint32_t headerSize = 40;
    uint32_t compression = 0;
    std::vector<uint32_t> masks;  // after a 40-byte header, else inside the header
    Bytes palette;                // B, G, R, 0 per entry
    uint32_t coloursUsed = 0;
};

Bytes WriteBmp(const Picture &p, uint32_t bits, const BmpOptions &o = {}) {
    size_t masksAfter = o.headerSize == 40 ? 4 * o.masks.size() : 0;
    size_t dataOffset = 14 + o.headerSize + masksAfter + o.palette.size();
    uint32_t stride = Stride(p.width, bits);
    Bytes f(dataOffset + stride * p.height, 0);
    f[0] = 'B';
    f[1] = 'M';
    Put32(&f, 2, static_cast<uint32_t>(f.size()));
    Put32(&f, kDataOffsetAt, static_cast<uint32_t>(dataOffset));
    Put32(&f, kHeaderSizeAt, o.headerSize);
    Put32(&f, kWidthAt, p.width);
    Put32(&f, kHeightAt,
          o.topDown ? static_cast<uint32_t>(-static_cast<int32_t>(p.height)) : p.height);
    Put16(&f, 26, 1);
    Put16(&f, 28, bits);
    Put32(&f, 30, o.compression);
    Put32(&f, kColoursUsedAt, o.coloursUsed);
    for (size_t i = 0; i < o.masks.size(); ++i) Put32(&f, 54 + 4 * i, o.masks[i]);
    std::copy(o.palette.begin(), o.palette.end(), f.begin() + 14 + o.headerSize + masksAfter);
    for (uint32_t s = 0; s < p.height; ++s) {
        uint32_t y = o.topDown ? s : p.height - 1 - s;
        std::copy_n(p.Row(y), p.width * p.bytesPerPixel, f.begin() + dataOffset + s * stride);
    }
    return f;
}

Bytes WritePnm(const Picture &p, const std::string &header) { return Cat(Text(header), p.data); }
Bytes WritePnm(const Picture &p) {
    return WritePnm(p, (p.bytesPerPixel == 1 ? "P5\n" : "P6\n") + std::to_string(p.width) + " " +
                           std::to_string(p.height) + "\n255\n");
}

// The image holds the picture in the encoder's layout: picture row y is
// buffer row height - 1 - y, rows a multiple of 4 bytes apart.
void ExpectLayout(const SourceImage &image, const Picture &p, uint32_t bits) {
    ASSERT_EQ(image.width, p.width);
    ASSERT_EQ(image.height, p.height);
    ASSERT_EQ(image.bitsPerPixel, bits);
    uint32_t stride = Stride(p.width, bits);
    ASSERT_GE(image.pixelBytes(), stride * p.height);
    for (uint32_t y = 0; y < p.height; ++y) {
        const uint8_t *row = image.pixels() + (p.height - 1 - y) * stride;
        ASSERT_EQ(Bytes(row, row + p.width * p.bytesPerPixel),
                  Bytes(p.Row(y), p.Row(y) + p.width * p.bytesPerPixel))
            << p.width << "x" << p.height << ", picture row " << y;
    }
}

std::string Refusal(const Bytes &file) {
    SourceImage image;
    std::string error;
    if (ReadImage(file, &image, &error)) return "(accepted)";
    return error.empty() ? "(empty message)" : error;
}

TEST(RowStride, IsTheRowRoundedUpToFourBytes) {
    for (uint32_t bits : {8u, 16u, 24u, 32u}) {
        for (uint32_t w = 1; w <= 64; ++w) {
            uint64_t s = RowStride(w, bits);
            EXPECT_EQ(s % 4, 0u);
            EXPECT_GE(s, w * bits / 8);
            EXPECT_LT(s, w * bits / 8 + 4) << w << " pixels of " << bits << " bits";
        }
    }
    EXPECT_EQ(RowStride(65535, 32), 262140u);
}

// --- BMP ----------------------------------------------------------------------

struct BmpCase {
    uint32_t bits;
    bool topDown;
};
void PrintTo(const BmpCase &c, std::ostream *os) {
    *os << c.bits << (c.topDown ? "-bit top-down" : "-bit bottom-up");
}

class BmpLayout : public ::testing::TestWithParam<BmpCase> {};

// Bottom-up rows are handed on where they lie in the file (the file's buffer
// moves into the image); top-down rows are copied in reverse order.
TEST_P(BmpLayout, RowsEndUpBottomUpAndPadded) {
    const BmpCase c = GetParam();
    BmpOptions o;
    o.topDown = c.topDown;
    if (c.bits == 8) o.palette = GreyPalette(256, Same);
    for (uint32_t w = 1; w <= 9; ++w) {
        for (uint32_t h = 1; h <= 3; ++h) {
            Picture p = Noise(w, h, c.bits / 8);
            Bytes file = WriteBmp(p, c.bits, o);
            const size_t size = file.size();
            const uint32_t dataOffset = 54 + static_cast<uint32_t>(o.palette.size());
            const uint8_t *buffer = file.data();
            SourceImage image;
            std::string error;
            ASSERT_TRUE(ReadBmp(std::move(file), &image, &error)) << error;
            ExpectLayout(image, p, c.bits);
            EXPECT_EQ(image.pixelOrder, 1);
            if (c.topDown) {
                EXPECT_EQ(image.offset, 0u);
                EXPECT_EQ(image.bytes.size(), Stride(w, c.bits) * h);
            } else {
                EXPECT_EQ(image.offset, dataOffset);
                EXPECT_EQ(image.bytes.size(), size);
                EXPECT_EQ(image.pixels(), buffer + dataOffset) << "bottom-up rows were copied";
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(EveryDepth, BmpLayout,
                         ::testing::Values(BmpCase{8, false}, BmpCase{8, true}, BmpCase{16, false},
                                           BmpCase{16, true}, BmpCase{24, false}, BmpCase{24, true},
                                           BmpCase{32, false}, BmpCase{32, true}));

TEST(BmpGreyPalette, IndicesBecomeTheirGreyValues) {
    Picture indices = Noise(7, 3, 1);
    Picture grey = indices;
    for (uint8_t &v : grey.data) v = Reversed(v);
    for (bool topDown : {false, true}) {
        for (uint32_t headerSize : {40u, 124u}) {
            BmpOptions o;
            o.topDown = topDown;
            o.headerSize = headerSize;
            o.palette = GreyPalette(256, Reversed);
            SourceImage image;
            std::string error;
            ASSERT_TRUE(ReadBmp(WriteBmp(indices, 8, o), &image, &error)) << error;
            ExpectLayout(image, grey, 8);
        }
    }
}

TEST(BmpGreyPalette, ShortPaletteIsReadFromItsOwnLength) {
    BmpOptions o;
    o.palette = GreyPalette(4, [](uint32_t i) { return static_cast<uint8_t>(85 * i); });
    o.coloursUsed = 4;
    Picture indices{4, 1, 1, {3, 2, 1, 0}};
    SourceImage image;
    std::string error;
    ASSERT_TRUE(ReadBmp(WriteBmp(indices, 8, o), &image, &error)) << error;
    ExpectLayout(image, Picture{4, 1, 1, {255, 170, 85, 0}}, 8);
}

// 5-5-5 is the default 16-bit layout; bit fields that say so are accepted,
// and so are 8-8-8 fields on 32 bits, after a 40-byte header or inside a
// larger one.
TEST(BmpBitFields, AcceptsTheDefaultLayoutsSpelledOut) {
    struct {
        uint32_t bits, headerSize;
        std::vector<uint32_t> masks;
    } cases[] = {
        {16, 40, {0x7C00, 0x03E0, 0x001F}},
        {16, 108, {0x7C00, 0x03E0, 0x001F}},
        {32, 40, {0xFF0000, 0xFF00, 0xFF}},
        {32, 124, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}},
    };
    for (const auto &c : cases) {
        BmpOptions o;
        o.compression = 3;
        o.headerSize = c.headerSize;
        o.masks = c.masks;
        Picture p = Noise(3, 2, c.bits / 8);
        SourceImage image;
        std::string error;
        ASSERT_TRUE(ReadBmp(WriteBmp(p, c.bits, o), &image, &error))
            << c.bits << " bits, header " << c.headerSize << ": " << error;
        ExpectLayout(image, p, c.bits);
    }
}

// --- PNM ----------------------------------------------------------------------

TEST(PnmLayout, RowsAreFlippedAndPadded) {
    for (uint32_t channels : {1u, 3u}) {
        for (uint32_t w = 1; w <= 9; ++w) {
            for (uint32_t h = 1; h <= 3; ++h) {
                Picture p = Noise(w, h, channels);
                SourceImage image;
                std::string error;
                ASSERT_TRUE(ReadPnm(WritePnm(p), &image, &error)) << error;
                ExpectLayout(image, p, 8 * channels);
                EXPECT_EQ(image.pixelOrder, 0);
                EXPECT_EQ(image.offset, 0u);
                EXPECT_EQ(image.bytes.size(), Stride(w, 8 * channels) * h);
            }
        }
    }
}

// Blanks and comments may sit between header numbers; exactly one blank
// follows the maximum value, and the next byte is a pixel even if it looks
// like a blank or a comment.
TEST(PnmHeader, CommentsAndBlanksBetweenNumbersOnly) {
    Picture p{3, 1, 1, {'\n', ' ', '#'}};
    SourceImage image;
    std::string error;
    ASSERT_TRUE(ReadPnm(WritePnm(p, "P5# made by hand\r\n 3\t# width\n\n1\v255\n"), &image, &error))
        << error;
    ExpectLayout(image, p, 8);
}

// Samples scale to 0..255 by v * 255 / maxval, rounded to nearest: every
// maximum value, every sample.
TEST(PnmMaxval, ScalesEverySampleToNearest) {
    for (uint32_t maxval = 1; maxval <= 255; ++maxval) {
        Picture p{maxval + 1, 1, 1, Bytes(maxval + 1)};
        for (uint32_t v = 0; v <= maxval; ++v) p.data[v] = static_cast<uint8_t>(v);
        Bytes file =
            WritePnm(p, "P5 " + std::to_string(maxval + 1) + " 1 " + std::to_string(maxval) + "\n");
        SourceImage image;
        std::string error;
        ASSERT_TRUE(ReadPnm(file, &image, &error)) << error;
        for (uint32_t v = 0; v <= maxval; ++v) {
            ASSERT_EQ(image.pixels()[v], (2 * v * 255 + maxval) / (2 * maxval))
                << v << " of " << maxval;
        }
    }
}

// A sample above the maximum value makes the file invalid; it is refused
// rather than wrapped into a wrong (dark) 8-bit value.
TEST(PnmMaxval, RefusesSamplesAboveTheMaximum) {
    Picture p{4, 1, 1, {100, 101, 200, 255}};
    SourceImage image;
    std::string error;
    EXPECT_FALSE(ReadPnm(WritePnm(p, "P5 4 1 100\n"), &image, &error));
    EXPECT_NE(error.find("exceeds the maximum"), std::string::npos) << error;
}

// --- Dispatch -----------------------------------------------------------------

TEST(ReadImage, ChoosesTheReaderByTheFirstBytes) {
    Picture p = Noise(2, 2, 3);
    Bytes bmp = WriteBmp(p, 24);
    const uint8_t *buffer = bmp.data();
    SourceImage image;
    std::string error;
    ASSERT_TRUE(ReadImage(std::move(bmp), &image, &error)) << error;
    EXPECT_EQ(image.pixelOrder, 1);
    EXPECT_EQ(image.pixels(), buffer + 54) << "bottom-up rows were copied";

    ASSERT_TRUE(ReadImage(WritePnm(p), &image, &error)) << error;
    EXPECT_EQ(image.pixelOrder, 0);
    ExpectLayout(image, p, 24);

    for (const char *other : {"", "B", "GIF89a", "\x89PNG\r\n", "\xFF\xD8\xFF\xE0", "MB"}) {
        EXPECT_NE(Refusal(Text(other)).find("unrecognised"), std::string::npos) << other;
    }
}

// --- Refusals -------------------------------------------------------------------

struct Refused {
    const char *name;
    Bytes file;
    const char *says;  // a word the message must contain
};
void PrintTo(const Refused &r, std::ostream *os) { *os << r.name; }

std::vector<Refused> RefusedFiles() {
    Picture rgb = Noise(4, 2, 3), idx = Noise(4, 2, 1), px16 = Noise(4, 2, 2);
    Picture px32 = Noise(4, 2, 4);
    Bytes bmp = WriteBmp(rgb, 24);
    BmpOptions grey;
    grey.palette = GreyPalette(256, Reversed);  // not the identity: indices are remapped
    Bytes bmp8 = WriteBmp(idx, 8, grey);
    BmpOptions colour = grey;
    colour.palette[4 * 200 + 2] ^= 1;  // one entry off grey, even if unused
    auto compressed = [&](uint32_t bits, uint32_t compression) {
        BmpOptions o = bits == 8 ? grey : BmpOptions{};
        o.compression = compression;
        return WriteBmp(Noise(4, 2, bits < 8 ? 1 : bits / 8), bits, o);
    };
    auto fields = [&](const Picture &p, uint32_t bits, std::vector<uint32_t> masks) {
        BmpOptions o;
        o.compression = 3;
        o.masks = masks;
        return WriteBmp(p, bits, o);
    };
    Bytes p6 = WritePnm(rgb);
    auto pnm = [&](const std::string &header) { return WritePnm(rgb, header); };
    return {
        {"Rle8", compressed(8, 1), "compressed"},
        {"Rle4", compressed(4, 2), "compressed"},
        {"EmbeddedJpeg", compressed(24, 4), "compressed"},
        {"EmbeddedPng", compressed(24, 5), "compressed"},
        {"BitFields565", fields(px16, 16, {0xF800, 0x07E0, 0x001F}), "not supported"},
        {"BitFields32Swapped", fields(px32, 32, {0xFF, 0xFF00, 0xFF0000}), "not supported"},
        {"BitFields24", fields(rgb, 24, {0xFF0000, 0xFF00, 0xFF}), "bit fields"},
        {"BitFields8", compressed(8, 3), "bit fields"},
        {"BitFieldsCutOff", With32(Bytes(bmp.begin(), bmp.begin() + 60), 30, 3), "truncated"},
        {"ColourPalette", WriteBmp(idx, 8, colour), "palette"},
        {"OneBit", WriteBmp(Noise(4, 2, 1), 1), "not supported"},
        {"FourBit", WriteBmp(Noise(4, 2, 1), 4), "not supported"},
        {"CoreHeader", With32(bmp, kHeaderSizeAt, 12), "header"},
        {"Os2v2Header", With32(bmp, kHeaderSizeAt, 64), "header"},
        {"V5HeaderCutOff", With32(Bytes(bmp8.begin(), bmp8.begin() + 114), kHeaderSizeAt, 124),
         "truncated"},
        {"OnlyFileHeader", Bytes(bmp.begin(), bmp.begin() + 14), "truncated"},
        {"WidthOver65535", With32(bmp, kWidthAt, 65536), "65535"},
        {"HeightOver65535", With32(bmp, kHeightAt, 65536), "65535"},
        {"TopDownOver65535", With32(bmp, kHeightAt, static_cast<uint32_t>(-65536)), "65535"},
        {"HeightMostNegative", With32(bmp, kHeightAt, 0x80000000), "65535"},
        {"WidthNegative", With32(bmp, kWidthAt, static_cast<uint32_t>(-4)), "pixels"},
        {"WidthZero", With32(bmp, kWidthAt, 0), "pixels"},
        {"HeightZero", With32(bmp, kHeightAt, 0), "pixels"},
        {"Largest", With32(With32(bmp, kWidthAt, 65535), kHeightAt, 65535), "truncated"},
        {"TopDownLargest",
         With32(With32(bmp, kWidthAt, 65535), kHeightAt, static_cast<uint32_t>(-65535)),
         "truncated"},
        {"DataOffsetPastEnd", With32(bmp, kDataOffsetAt, static_cast<uint32_t>(bmp.size() + 1)),
         "truncated"},
        {"DataOffsetWraps", With32(bmp, kDataOffsetAt, 0xFFFFFFF0), "truncated"},
        {"GreyDataOffsetPastEnd", With32(bmp8, kDataOffsetAt, 0xFFFFFFF0), "truncated"},
        {"Palette257", With32(bmp8, kColoursUsedAt, 257), "palette"},
        {"PaletteHuge", With32(bmp8, kColoursUsedAt, 0xFFFFFFFF), "palette"},
        {"PaletteCutOff", Bytes(bmp8.begin(), bmp8.begin() + 54 + 1000), "palette"},
        {"LastRowShort", Bytes(bmp.begin(), bmp.end() - 1), "truncated"},
        {"P1", pnm("P1 4 2 1\n"), "P1"},
        {"P2", pnm("P2 4 2 255\n"), "P2"},
        {"P3", pnm("P3 4 2 255\n"), "P3"},
        {"P4", pnm("P4 4 2\n"), "P4"},
        {"P7", pnm("P7\nWIDTH 4\n"), "P7"},
        {"Maxval256", pnm("P6 4 2 256\n"), "256"},
        {"Maxval65535", pnm("P6 4 2 65535\n"), "65535"},
        {"Maxval0", pnm("P6 4 2 0\n"), "maximum"},
        {"NoMaxval", Text("P6 4 2"), "header"},
        {"LetterForWidth", pnm("P6 x 2 255\n"), "header"},
        {"NumberTooLong", pnm("P6 99999999999999999999 2 255\n"), "header"},
        {"PnmWidthOver65535", pnm("P6 65536 2 255\n"), "65535"},
        {"PnmHeightZero", pnm("P6 4 0 255\n"), "pixels"},
        {"PnmLargest", pnm("P5 65535 65535 255\n"), "truncated"},
        {"PnmNoBlankAfterMaxval", Text("P5 1 1 255"), "truncated"},
        {"PnmLastRowShort", Bytes(p6.begin(), p6.end() - 1), "truncated"},
    };
}

class Refusals : public ::testing::TestWithParam<Refused> {};

TEST_P(Refusals, SayWhatIsWrong) {
    std::string error = Refusal(GetParam().file);
    EXPECT_NE(error.find(GetParam().says), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(Files, Refusals, ::testing::ValuesIn(RefusedFiles()),
                         [](const auto &info) { return std::string(info.param.name); });

// Every proper prefix of a good file is refused; the whole file, and the
// file with bytes after it, are accepted.
TEST(Truncation, EveryPrefixIsRefused) {
    BmpOptions greyTopDown, fields, v5;
    greyTopDown.topDown = true;
    greyTopDown.palette = GreyPalette(256, Reversed);
    fields.compression = 3;
    fields.masks = {0x7C00, 0x03E0, 0x001F};
    v5.headerSize = 124;
    Picture upTo100 = Noise(5, 3, 3);
    for (auto &v : upTo100.data) v = static_cast<uint8_t>(v % 101);  // within the maximum value
    const Bytes files[] = {
        WriteBmp(Noise(5, 3, 3), 24),
        WriteBmp(Noise(5, 3, 1), 8, greyTopDown),
        WriteBmp(Noise(5, 3, 2), 16, fields),
        WriteBmp(Noise(5, 3, 4), 32, v5),
        WritePnm(Noise(5, 3, 1), "P5\n# comment\n5 3\n255\n"),
        WritePnm(upTo100, "P6 5 3 100\n"),
    };
    for (const Bytes &file : files) {
        for (size_t n = 0; n < file.size(); ++n) {
            ASSERT_NE(Refusal(Bytes(file.begin(), file.begin() + n))[0], '(')
                << n << " of " << file.size() << " bytes";
        }
        EXPECT_EQ(Refusal(file), "(accepted)");
        EXPECT_EQ(Refusal(Cat(file, {0, 0, 0})), "(accepted)");
    }
}

// --- Greyscale conversion ---------------------------------------------------------

// Grey is the encoder's Y: 0.299 R + 0.587 G + 0.114 B, within rounding.
int Luma(int r, int g, int b) { return static_cast<int>(0.299 * r + 0.587 * g + 0.114 * b + 0.5); }

TEST(ConvertToGrey, WeighsRedGreenBlueInTheirOrder) {
    struct {
        uint32_t bits;
        uint8_t order;
    } formats[] = {{24, 1}, {24, 0}, {32, 1}};
    for (const auto &f : formats) {
        Picture p = Noise(9, 3, f.bits / 8);
        SourceImage image;
        image.width = 9;
        image.height = 3;
        image.bitsPerPixel = static_cast<uint16_t>(f.bits);
        image.pixelOrder = f.order;
        image.offset = 5;  // rows start after unrelated bytes, as in a BMP file
        image.bytes.assign(5 + Stride(9, f.bits) * 3, 0xEE);
        for (uint32_t y = 0; y < 3; ++y) {
            memcpy(image.bytes.data() + 5 + (2 - y) * Stride(9, f.bits), p.Row(y), 9 * f.bits / 8);
        }
        ConvertToGrey(&image);
        ASSERT_EQ(image.bitsPerPixel, 8);
        ASSERT_EQ(image.offset, 0u);
        ASSERT_EQ(image.bytes.size(), Stride(9, 8) * 3);
        for (uint32_t y = 0; y < 3; ++y) {
            for (uint32_t x = 0; x < 9; ++x) {
                const uint8_t *px = p.Row(y) + x * f.bits / 8;
                int r = f.order ? px[2] : px[0], g = px[1], b = f.order ? px[0] : px[2];
                EXPECT_NEAR(image.pixels()[(2 - y) * Stride(9, 8) + x], Luma(r, g, b), 1)
                    << f.bits << " bits, order " << int{f.order} << ", pixel " << x << "," << y;
            }
        }
    }
}

// Every 5-5-5 pixel, with each field widened by three zero bits as the
// encoder's own 16-bit intake does.
TEST(ConvertToGrey, EveryFiveFiveFivePixel) {
    SourceImage image;
    image.width = 32768;
    image.height = 1;
    image.bitsPerPixel = 16;
    image.pixelOrder = 1;
    for (uint32_t v = 0; v < 32768; ++v)
        image.bytes.insert(image.bytes.end(), {uint8_t(v), uint8_t(v >> 8)});
    ConvertToGrey(&image);
    for (uint32_t v = 0; v < 32768; ++v) {
        int r = (v >> 10 & 31) << 3, g = (v >> 5 & 31) << 3, b = (v & 31) << 3;
        ASSERT_NEAR(image.pixels()[v], Luma(r, g, b), 1) << std::hex << v;
    }
}

TEST(ConvertToGrey, LeavesGreyImagesAlone) {
    BmpOptions o;
    o.palette = GreyPalette(256, Same);
    Bytes file = WriteBmp(Noise(5, 2, 1), 8, o);
    SourceImage image;
    std::string error;
    ASSERT_TRUE(ReadBmp(file, &image, &error)) << error;
    ConvertToGrey(&image);
    EXPECT_EQ(image.bytes, file);
    EXPECT_EQ(image.offset, 54u + 1024u);
}

// --- Test card ------------------------------------------------------------------------

TEST(TestCard, IsABottomUpBlueFirstImageWithBarsOnTop) {
    SourceImage card = MakeTestCard();
    ASSERT_EQ(card.width, 1003u);
    ASSERT_EQ(card.height, 601u);
    EXPECT_EQ(card.bitsPerPixel, 24);
    EXPECT_EQ(card.pixelOrder, 1);
    ASSERT_EQ(card.pixelBytes(), Stride(1003, 24) * 601);
    // The top picture row is the last buffer row: white, then yellow (no
    // blue), ..., black across.
    const uint8_t *top = card.pixels() + 600 * Stride(1003, 24);
    EXPECT_EQ(Bytes(top, top + 3), (Bytes{255, 255, 255}));
    EXPECT_EQ(Bytes(top + 3 * 188, top + 3 * 189), (Bytes{0, 255, 255}));
    EXPECT_EQ(Bytes(top + 3 * 1002, top + 3 * 1003), (Bytes{0, 0, 0}));
}

}  // namespace
