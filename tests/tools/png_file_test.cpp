// The trivjpeg tool's PNG intake: files of every colour type and bit depth,
// written by libpng here (plain and interlaced), must arrive in the encoder's
// layout with the samples the test computes on its own; broken and lying
// files are refused, lying headers before anything is allocated for them.

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <string.h>

#include <string>
#include <vector>

#include "image_file.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Format {
    int colour, depth;
};

int Channels(int colour) {
    return colour == 0 || colour == 3 ? 1 : colour == 4 ? 2 : colour == 2 ? 3 : 4;
}

// Writes one PNG of the samples (one per channel, top row first, each up to
// 2^depth - 1); palette images use the palette and transparency given.
Bytes WritePng(uint32_t w, uint32_t h, Format f, bool interlaced,
               const std::vector<uint16_t> &samples, const std::vector<png_color> &palette = {},
               const Bytes &alpha = {}) {
    Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, size_t n) {
            Bytes *o = static_cast<Bytes *>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, w, h, f.depth, f.colour,
                 interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!alpha.empty())
        png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
    png_write_info(png, info);
    // Rows packed as the file holds them: big-endian, several samples per
    // byte below 8 bits.
    size_t perRow = size_t{w} * Channels(f.colour);
    std::vector<Bytes> rows(h, Bytes((perRow * f.depth + 7) / 8));
    std::vector<png_bytep> pointers;
    for (uint32_t y = 0; y < h; ++y) {
        for (size_t i = 0; i < perRow; ++i) {
            uint16_t v = samples[y * perRow + i];
            if (f.depth == 16) {
                rows[y][2 * i] = static_cast<uint8_t>(v >> 8);
                rows[y][2 * i + 1] = static_cast<uint8_t>(v);
            } else {
                size_t bit = i * f.depth;
                rows[y][bit / 8] |= static_cast<uint8_t>(v << (8 - f.depth - bit % 8));
            }
        }
        pointers.push_back(rows[y].data());
    }
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint16_t> Samples(size_t n, int depth, uint32_t seed) {
    std::vector<uint16_t> s(n);
    for (uint16_t &v : s) {
        seed = seed * 1664525 + 1013904223;
        v = static_cast<uint16_t>((seed >> 8) & ((1u << depth) - 1));
    }
    return s;
}

// What a sample of the given depth becomes at 8 bits: the nearest value.
uint8_t To8(uint16_t v, int depth) {
    uint32_t max = (1u << depth) - 1;
    return static_cast<uint8_t>((v * 255u + max / 2) / max);
}

TEST(PngFile, EveryColourTypeAndDepthArrivesBottomUpInBgrOrGrey) {
    const Format formats[] = {{0, 1},  {0, 2}, {0, 4},  {0, 8}, {0, 16}, {4, 8}, {4, 16}, {2, 8},
                              {2, 16}, {6, 8}, {6, 16}, {3, 1}, {3, 2},  {3, 4}, {3, 8}};
    const uint32_t w = 13, h = 7;
    for (Format f : formats) {
        for (bool interlaced : {false, true}) {
            SCOPED_TRACE("colour type " + std::to_string(f.colour) + ", depth " +
                         std::to_string(f.depth) + (interlaced ? ", interlaced" : ""));
            int channels = Channels(f.colour);
            std::vector<uint16_t> s =
                Samples(size_t{w} * h * channels, f.depth, w * f.colour + f.depth);
            std::vector<png_color> palette;
            Bytes alpha;
            if (f.colour == 3) {
                for (int i = 0; i < (1 << f.depth); ++i) {
                    palette.push_back({static_cast<png_byte>(i * 37),
                                       static_cast<png_byte>(255 - i),
                                       static_cast<png_byte>(i * 11 + 3)});
                }
                alpha.assign(palette.size() / 2 + 1, 0);  // transparency is dropped
            }
            SourceImage image;
            std::string error;
            ASSERT_TRUE(ReadImage(WritePng(w, h, f, interlaced, s, palette, alpha), &image, &error))
                << error;
            bool grey = f.colour == 0 || f.colour == 4;
            ASSERT_EQ(image.width, w);
            ASSERT_EQ(image.height, h);
            ASSERT_EQ(image.bitsPerPixel, grey ? 8 : 24);
            ASSERT_EQ(image.pixelBytes(), RowStride(w, image.bitsPerPixel) * h);
            for (uint32_t y = 0; y < h; ++y) {
                const uint8_t *row =
                    image.pixels() + (h - 1 - y) * RowStride(w, image.bitsPerPixel);
                for (uint32_t x = 0; x < w; ++x) {
                    const uint16_t *in = &s[(size_t{y} * w + x) * channels];
                    uint8_t want[3];
                    if (f.colour == 3) {
                        png_color c = palette[in[0]];
                        want[0] = c.blue, want[1] = c.green, want[2] = c.red;
                    } else if (grey) {
                        want[0] = To8(in[0], f.depth);
                    } else {
                        for (int c = 0; c < 3; ++c) want[c] = To8(in[2 - c], f.depth);
                    }
                    ASSERT_EQ(memcmp(row + x * (grey ? 1 : 3), want, grey ? 1 : 3), 0)
                        << "pixel " << x << "," << y;
                }
            }
        }
    }
}

// PNG chunks written by hand, for files no PNG writer would make.
void PutBe32(Bytes *b, uint32_t v) {
    for (int i = 3; i >= 0; --i) b->push_back(static_cast<uint8_t>(v >> 8 * i));
}
void Chunk(Bytes *file, const char *type, const Bytes &data) {
    PutBe32(file, static_cast<uint32_t>(data.size()));
    size_t start = file->size();
    file->insert(file->end(), type, type + 4);
    file->insert(file->end(), data.begin(), data.end());
    PutBe32(file, static_cast<uint32_t>(
                      crc32(0, file->data() + start, static_cast<uInt>(file->size() - start))));
}
// A grey 8-bit w x h file whose image data holds only the given rows.
Bytes HandMade(uint32_t w, uint32_t h, uint32_t rowsStored, int depth = 8, int colour = 0) {
    Bytes file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header,
          raw(rowsStored * (w + 1), 0);
    PutBe32(&header, w);
    PutBe32(&header, h);
    header.insert(header.end(),
                  {static_cast<uint8_t>(depth), static_cast<uint8_t>(colour), 0, 0, 0});
    Chunk(&file, "IHDR", header);
    Bytes packed(compressBound(static_cast<uLong>(raw.size())));
    uLongf n = static_cast<uLongf>(packed.size());
    compress(packed.data(), &n, raw.data(), static_cast<uLong>(raw.size()));
    packed.resize(n);
    Chunk(&file, "IDAT", packed);
    Chunk(&file, "IEND", {});
    return file;
}

TEST(PngFile, RefusesBrokenAndLyingFiles) {
    Bytes good = HandMade(40, 30, 30);
    SourceImage image;
    std::string error;
    ASSERT_TRUE(ReadImage(good, &image, &error)) << error;
    Bytes badCrc = good;
    badCrc[29] ^= 1;  // inside IHDR's CRC
    struct Case {
        const char *what;
        Bytes file;
        const char *says;
    } cases[] = {
        {"signature only", Bytes(good.begin(), good.begin() + 8), "truncated PNG header"},
        {"no pixels", HandMade(0, 30, 0), "no pixels"},
        {"wider than JPEG allows", HandMade(100000, 100000, 1), "exceed the JPEG limit"},
        {"more pixels than the data can hold", HandMade(65535, 65535, 1), "too short"},
        {"cut inside the image data", Bytes(good.begin(), good.end() - 20), "PNG: "},
        {"image data for fewer rows", HandMade(40, 30, 29), "PNG: "},
        {"header checksum wrong", badCrc, "PNG: "},
        {"RGB at 4 bits", HandMade(40, 30, 30, 4, 2), "PNG: "},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(ReadImage(c.file, &image, &error));
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

}  // namespace
