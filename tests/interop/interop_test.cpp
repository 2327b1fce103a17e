// Proof against a real decoder and a real encoder. Every stream made here
// must decode with TurboJPEG without error or warning, have the length that
// size-only mode predicted, and carry exactly the entropy-coded data, DHT
// and DQT tables that libjpeg-turbo's accurate-DCT encoder produces from the
// same Y, Cb and Cr planes.

#include <gtest/gtest.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "image_file.h"
#include "interop_support.h"

namespace interop {
namespace {

constexpr uint8_t kQualities[] = {1, 10, 50, 75, 90, 100};
constexpr const char *kSubsamplingNames[] = {"420", "422", "444"};

// Checks one image at one setting against the oracle, byte for byte.
void ExpectMatchesOracle(const Image &image, uint8_t quality, uint8_t subsampling) {
    SCOPED_TRACE(testing::Message() << image.width << "x" << image.height << " at "
                                    << image.bitsPerPixel << " bpp, order "
                                    << int(image.pixelOrder) << ", quality " << int(quality)
                                    << ", subsampling " << int(subsampling));
    std::vector<uint8_t> ours = Encode(image, quality, subsampling);
    ASSERT_FALSE(ours.empty());
    bool grey = image.bitsPerPixel == 8;
    Planes planes = EncoderPlanes(image, quality, subsampling);
    std::vector<uint8_t> theirs = OracleStream(planes, grey, subsampling, quality);
    ASSERT_FALSE(theirs.empty());

    Segments a = Split(ours), b = Split(theirs);
    ASSERT_TRUE(a.ok) << "our stream does not parse";
    ASSERT_TRUE(b.ok) << "the oracle's stream does not parse";
    EXPECT_EQ(a.huffman, b.huffman) << "DHT tables differ";
    EXPECT_EQ(a.quant, b.quant) << "DQT tables differ";
    ASSERT_EQ(a.scan.size(), b.scan.size()) << "entropy-coded data differ in length";
    EXPECT_TRUE(a.scan == b.scan) << "entropy-coded data differ";
}

using GridParam = std::tuple<uint16_t, uint8_t, uint8_t>;  // bits per pixel, subsampling, quality

class OracleGrid : public testing::TestWithParam<GridParam> {};

// One size a multiple of every MCU, one that is a multiple of none.
TEST_P(OracleGrid, EntropyCodedDataEqualsLibjpegTurbo) {
    auto [bits, subsampling, quality] = GetParam();
    for (auto [w, h] : {std::pair{64u, 48u}, std::pair{37u, 23u}}) {
        for (uint8_t order : {0, 1}) {
            ExpectMatchesOracle(Synthetic(w, h, bits, order, w * 31 + quality), quality, subsampling);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Colour, OracleGrid,
    testing::Combine(testing::Values<uint16_t>(16, 24, 32), testing::Values<uint8_t>(0, 1, 2),
                     testing::ValuesIn(kQualities)),
    [](const testing::TestParamInfo<GridParam> &info) {
        return std::to_string(std::get<0>(info.param)) + "bpp_" +
               kSubsamplingNames[std::get<1>(info.param)] + "_q" +
               std::to_string(std::get<2>(info.param));
    });
INSTANTIATE_TEST_SUITE_P(
    Grey, OracleGrid,
    testing::Combine(testing::Values<uint16_t>(8), testing::Values<uint8_t>(0),
                     testing::ValuesIn(kQualities)),
    [](const testing::TestParamInfo<GridParam> &info) {
        return "8bpp_q" + std::to_string(std::get<2>(info.param));
    });

// Partial MCUs at every offset: widths 1 to 33 against heights around the
// MCU boundaries, each decoded, each of its predicted length, and a buffer
// one byte short failing on EOI.
TEST(Decoder, DecodesEveryEdgeGeometryAtPredictedLength) {
    for (uint16_t bits : {8, 24}) {
        for (uint8_t subsampling : {0, 1, 2}) {
            if (bits == 8 && subsampling != 0) continue;
            for (uint32_t w = 1; w <= 33; ++w) {
                for (uint32_t h : {1u, 7u, 8u, 9u, 16u, 17u}) {
                    SCOPED_TRACE(testing::Message() << w << "x" << h << " " << bits << " bpp sub "
                                                    << int(subsampling));
                    Image image = Synthetic(w, h, bits, 1, w + 100 * h);
                    std::vector<uint8_t> jpeg = Encode(image, 75, subsampling);
                    ASSERT_FALSE(jpeg.empty());
                    std::vector<uint8_t> pixels;
                    int dw, dh;
                    std::string error;
                    ASSERT_TRUE(Decode(jpeg, bits == 8 ? 1 : 3, &pixels, &dw, &dh, &error)) << error;
                    EXPECT_EQ(uint32_t(dw), w);
                    EXPECT_EQ(uint32_t(dh), h);

                    JpegEncodeJob job = MakeJob(image, 75, subsampling);
                    std::vector<uint8_t> shortBuffer(jpeg.size() - 1);
                    job.destData = shortBuffer.data();
                    job.destSize = static_cast<uint32_t>(shortBuffer.size());
                    EXPECT_EQ(Jpeg_EncodeStart(&job, ModeEncode), 0x2005);
                    EXPECT_EQ(job.destSize, 0u);
                }
            }
        }
    }
}

// The largest frames, one pixel thin each way, at every depth, each at the
// length size-only mode predicted (Encode checks both modes agree).
// TurboJPEG decodes up to 65500 pixels a side; at 65535, the most a
// baseline header carries, the stream is checked as far as that allows:
// the frame header's size, stuffed entropy-coded data, and EOI at the end.
TEST(Decoder, EncodesTheWidestAndTallestFrames) {
    for (uint16_t bits : {8, 16, 24, 32}) {
        for (uint32_t longSide : {65500u, 65535u}) {
            for (bool wide : {true, false}) {
                const uint32_t w = wide ? longSide : 1, h = wide ? 1 : longSide;
                SCOPED_TRACE(testing::Message() << w << "x" << h << " " << bits << " bpp");
                Image image = Synthetic(w, h, bits, 1, bits + w);
                std::vector<uint8_t> jpeg = Encode(image, 90, bits == 8 ? 0 : 1);
                ASSERT_FALSE(jpeg.empty());
                if (longSide <= 65500) {
                    std::vector<uint8_t> pixels;
                    int dw, dh;
                    std::string error;
                    ASSERT_TRUE(Decode(jpeg, bits == 8 ? 1 : 3, &pixels, &dw, &dh, &error))
                        << error;
                    EXPECT_EQ(uint32_t(dw), w);
                    EXPECT_EQ(uint32_t(dh), h);
                    continue;
                }
                size_t sof = 0, sos = 0;
                for (size_t i = 0; i + 1 < jpeg.size() && !sos; ++i) {
                    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) sof = i;
                    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) sos = i;
                }
                ASSERT_TRUE(sof && sos);
                EXPECT_EQ(jpeg[sof + 5] << 8 | jpeg[sof + 6], int(h));
                EXPECT_EQ(jpeg[sof + 7] << 8 | jpeg[sof + 8], int(w));
                const size_t data = sos + 2 + (jpeg[sos + 2] << 8 | jpeg[sos + 3]);
                ASSERT_GE(jpeg.size(), data + 2);
                EXPECT_EQ(jpeg[jpeg.size() - 2], 0xFF);
                EXPECT_EQ(jpeg[jpeg.size() - 1], 0xD9);
                for (size_t i = data; i + 2 < jpeg.size(); ++i) {
                    if (jpeg[i] == 0xFF) ASSERT_EQ(jpeg[i + 1], 0x00) << "at " << i;
                }
            }
        }
    }
}

double Psnr(const Image &image, const std::vector<uint8_t> &jpeg) {
    bool grey = image.bitsPerPixel == 8;
    std::vector<uint8_t> pixels;
    int w, h;
    std::string error;
    EXPECT_TRUE(Decode(jpeg, grey ? 1 : 3, &pixels, &w, &h, &error)) << error;
    if (pixels.empty()) return 0;
    double sum = 0;
    for (uint32_t y = 0; y < image.height; ++y) {
        for (uint32_t x = 0; x < image.width; ++x) {
            int rgb[3];
            PixelRgb(image, x, y, &rgb[0], &rgb[1], &rgb[2]);
            for (int c = 0; c < (grey ? 1 : 3); ++c) {
                double d = rgb[c] - pixels[(size_t(y) * w + x) * (grey ? 1 : 3) + c];
                sum += d * d;
            }
        }
    }
    double mse = sum / (double(image.width) * image.height * (grey ? 1 : 3));
    return mse == 0 ? 99 : 10 * log10(255.0 * 255.0 / mse);
}

// Quality 100 without subsampling keeps a picture close to its source, and
// quality orders fidelity.
TEST(Decoder, FidelityGrowsWithQuality) {
    Image image = Synthetic(96, 64, 24, 1, 7);
    double low = Psnr(image, Encode(image, 10, SubNone));
    double mid = Psnr(image, Encode(image, 75, SubNone));
    double high = Psnr(image, Encode(image, 100, SubNone));
    EXPECT_LT(low, mid);
    EXPECT_LT(mid, high);
    EXPECT_GT(high, 40.0);
}

// --- Real photographs and pages ---------------------------------------------

Image FromSource(const SourceImage &s) {
    Image image;
    image.width = s.width;
    image.height = s.height;
    image.bitsPerPixel = s.bitsPerPixel;
    image.pixelOrder = s.pixelOrder;
    image.bytes.assign(s.pixels(), s.pixels() + size_t{Stride(s.width, s.bitsPerPixel)} * s.height);
    return image;
}

// The same picture at another depth: 5-5-5 or BGRX from 24-bit BGR.
Image Repack(const Image &bgr, uint16_t bits) {
    Image out = bgr;
    out.bitsPerPixel = bits;
    uint32_t inStride = Stride(bgr.width, 24), outStride = Stride(bgr.width, bits);
    out.bytes.assign(size_t{outStride} * bgr.height, 0);
    for (uint32_t y = 0; y < bgr.height; ++y) {
        for (uint32_t x = 0; x < bgr.width; ++x) {
            const uint8_t *p = bgr.bytes.data() + size_t{y} * inStride + 3 * x;
            uint8_t *q = out.bytes.data() + size_t{y} * outStride + x * (bits / 8);
            if (bits == 16) {
                uint32_t v = (p[2] >> 3) << 10 | (p[1] >> 3) << 5 | (p[0] >> 3);
                q[0] = v & 0xFF;
                q[1] = v >> 8;
            } else {
                q[0] = p[0];
                q[1] = p[1];
                q[2] = p[2];
                q[3] = 0x5A;  // ignored by the encoder
            }
        }
    }
    return out;
}

constexpr const char *kPhotos[] = {
    "/usr/share/backgrounds/mate/nature/LadyBird.jpg",
    "/usr/share/backgrounds/mate/nature/Storm.jpg",
    "/usr/share/backgrounds/mate/abstract/Elephants.jpg",
};

// Runs a command that writes an image file, then reads and removes it.
bool ReadMadeImage(const std::string &command, const std::string &path, SourceImage *source) {
    if (system(command.c_str()) != 0) return false;
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    fclose(f);
    remove(path.c_str());
    std::string error;
    return ReadImage(std::move(bytes), source, &error);
}

bool LoadPhoto(const char *path, Image *image) {
    std::string bmp = testing::TempDir() + "trivjpeg_photo.bmp";
    // Scaled down so the suite stays quick; djpeg keeps the photo's detail.
    std::string command = std::string("djpeg -scale 1/4 -bmp -outfile '") + bmp + "' '" + path + "'";
    SourceImage source;
    if (!ReadMadeImage(command, bmp, &source)) return false;
    *image = FromSource(source);
    return image->bitsPerPixel == 24;
}

// Every depth, at qualities 75 and 90 and every subsampling: the oracle's
// bytes, and a fidelity a photograph or a page should have.
void ExpectVariantsMatchOracle(const char *name, const Image &bgr) {
    SourceImage greySource;
    greySource.width = bgr.width;
    greySource.height = bgr.height;
    greySource.bitsPerPixel = 24;
    greySource.pixelOrder = 1;
    greySource.bytes = bgr.bytes;
    ConvertToGrey(&greySource);
    Image variants[] = {FromSource(greySource), Repack(bgr, 16), bgr, Repack(bgr, 32)};
    for (const Image &image : variants) {
        for (uint8_t quality : {75, 90}) {
            for (uint8_t subsampling : {0, 1, 2}) {
                if (image.bitsPerPixel == 8 && subsampling != 0) continue;
                ExpectMatchesOracle(image, quality, subsampling);
                double psnr = Psnr(image, Encode(image, quality, subsampling));
                const char *mode =
                    image.bitsPerPixel == 8 ? "grey" : kSubsamplingNames[subsampling];
                printf("PSNR %-12s %4ux%-4u %2u bpp q%-3d %-4s %6.2f dB\n", name, image.width,
                       image.height, image.bitsPerPixel, quality, mode, psnr);
                EXPECT_GT(psnr, 28.0);
            }
        }
    }
}

TEST(Photographs, MatchOracleAtEveryDepthAndReportPsnr) {
    int loaded = 0;
    for (const char *path : kPhotos) {
        Image bgr;
        if (!LoadPhoto(path, &bgr)) continue;
        ++loaded;
        ExpectVariantsMatchOracle(strrchr(path, '/') + 1, bgr);
    }
    if (loaded == 0)
        GTEST_SKIP() << "no photographs: install mate-backgrounds (scripts/setup does)";
}

// Document pages as a printer gets them, mostly paper: a manual's title
// page and a text page, rendered at 100 dpi (most of their MCUs are one
// colour and take the encoder's short paths).
bool LoadPage(int number, Image *image) {
    const std::string base = testing::TempDir() + "trivjpeg_page";
    const std::string command = "pdftoppm -r 100 -f " + std::to_string(number) + " -l " +
                                std::to_string(number) + " -singlefile " +
                                "/usr/share/doc/libtasn1-doc/libtasn1.pdf '" + base + "'";
    SourceImage source;
    if (!ReadMadeImage(command, base + ".ppm", &source) || source.bitsPerPixel != 24) return false;
    // PPM rows are red first; the variants are made from blue-first rows.
    const uint64_t stride = RowStride(source.width, 24);
    for (uint32_t y = 0; y < source.height; ++y) {
        uint8_t *p = source.bytes.data() + source.offset + y * stride;
        for (uint32_t x = 0; x < source.width; ++x, p += 3) std::swap(p[0], p[2]);
    }
    source.pixelOrder = 1;
    *image = FromSource(source);
    return true;
}

TEST(Pages, MatchOracleAtEveryDepthAndReportPsnr) {
    int loaded = 0;
    for (int number : {1, 6}) {
        Image bgr;
        if (!LoadPage(number, &bgr)) continue;
        ++loaded;
        ExpectVariantsMatchOracle(number == 1 ? "title page" : "text page", bgr);
    }
    if (loaded == 0)
        GTEST_SKIP() << "no pages: install poppler-utils and libtasn1-doc (scripts/setup does)";
}

}  // namespace
}  // namespace interop
