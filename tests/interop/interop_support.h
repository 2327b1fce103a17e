// Helpers for proving streams against libjpeg-turbo: encoding a job in both
// modes, decoding with TurboJPEG, the encoder's own padded Y/Cb/Cr planes,
// and the segments of a JFIF stream.
#pragma once

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "trivjpeg.h"

namespace interop {

// A source image in the encoder's layout (bottom-up, rows padded to 4).
struct Image {
    uint32_t width = 0, height = 0;
    uint16_t bitsPerPixel = 24;
    uint8_t pixelOrder = 1;
    std::vector<uint8_t> bytes;
};

uint32_t Stride(uint32_t width, uint32_t bitsPerPixel);

// A smooth, noisy test picture; deterministic for a seed.
Image Synthetic(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint8_t pixelOrder,
                uint32_t seed);

// The red, green, blue of picture pixel (x, y), y from the top, as the
// encoder's fetchers read them (5-bit fields shifted up by 3).
void PixelRgb(const Image &image, uint32_t x, uint32_t y, int *r, int *g, int *b);

JpegEncodeJob MakeJob(const Image &image, uint8_t quality, uint8_t subsampling);

// Size-only, then encode into a buffer of exactly that size. Fails the
// current test (and returns empty) if either call fails or they disagree.
std::vector<uint8_t> Encode(const Image &image, uint8_t quality, uint8_t subsampling);

// Decodes with TurboJPEG to packed RGB (or grey), top-down. Returns false
// with a message on an error or a warning.
bool Decode(const std::vector<uint8_t> &jpeg, int components, std::vector<uint8_t> *pixels,
            int *width, int *height, std::string *error);

// This encoder's padded planes: every MCU fetched (conversion, replication
// and chroma reduction included) and laid out as whole planes.
struct Planes {
    int width = 0, height = 0;          // Y, rounded up to whole MCUs
    int chromaWidth = 0, chromaHeight = 0;
    std::vector<uint8_t> plane[3];
};
Planes EncoderPlanes(const Image &image, uint8_t quality, uint8_t subsampling);

// The same planes compressed by TurboJPEG (accurate DCT, same quality).
std::vector<uint8_t> OracleStream(const Planes &planes, bool grey, uint8_t subsampling,
                                  uint8_t quality);

// Segments of a stream: DHT tables keyed by class/id byte, DQT tables by
// table byte, and the entropy-coded data between SOS and EOI.
struct Segments {
    std::map<int, std::vector<uint8_t>> huffman;
    std::map<int, std::vector<uint8_t>> quant;
    std::vector<uint8_t> scan;
    bool ok = false;
};
Segments Split(const std::vector<uint8_t> &jpeg);

}  // namespace interop
