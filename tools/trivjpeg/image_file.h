// Reading PNG, BMP, PPM and PGM files into the source layout the encoder takes:
// bottom-up rows, each padded to a multiple of 4 bytes.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

struct SourceImage {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bitsPerPixel = 0;  // 8, 16, 24 or 32
    uint8_t pixelOrder = 0;     // 1: blue first (BMP), 0: red first (PNM)
    // The file's bytes, or rows built from them; pixels start at offset.
    std::vector<uint8_t> bytes;
    size_t offset = 0;

    const uint8_t *pixels() const { return bytes.data() + offset; }
    uint32_t pixelBytes() const { return static_cast<uint32_t>(bytes.size() - offset); }
};

// Bytes per bottom-up row: width x bits, rounded up to 4 bytes.
uint64_t RowStride(uint32_t width, uint32_t bitsPerPixel);

// Parses a whole file held in memory. On failure returns false and sets
// error to a short description of the problem (without the file name).
bool ReadBmp(std::vector<uint8_t> file, SourceImage *image, std::string *error);
bool ReadPnm(const std::vector<uint8_t> &file, SourceImage *image, std::string *error);
bool ReadPng(const std::vector<uint8_t> &file, SourceImage *image, std::string *error);
// Refuses an image without pixels or beyond JPEG's 65535 in either direction.
bool CheckDimensions(uint64_t width, uint64_t height, std::string *error);

// Chooses the reader by the file's first bytes.
bool ReadImage(std::vector<uint8_t> file, SourceImage *image, std::string *error);

// Converts a colour image to 8-bit grey in place (same weights as the encoder's Y).
void ConvertToGrey(SourceImage *image);
