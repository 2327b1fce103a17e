// libFuzzer harness for the trivjpeg tool's image readers (PNG, BMP, PPM,
// PGM, chosen by the first bytes as the tool chooses): any file gives either
// an error message or an image the encoder can take whole. A lying header
// must not make a reader allocate far beyond the file (the run's malloc
// limit turns such an allocation into a failure).

#include <stdint.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "image_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> file(data, data + size);
    SourceImage image;
    std::string error;
    if (!ReadImage(std::move(file), &image, &error)) {
        if (error.empty()) abort();  // a refusal always says why
        return 0;
    }
    const uint16_t bits = image.bitsPerPixel;
    if (image.width == 0 || image.height == 0 || image.width > 65535 || image.height > 65535) {
        abort();
    }
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) abort();
    if (image.offset > image.bytes.size()) abort();
    // Every row the encoder reads lies inside the pixels: all but the top
    // row with their padding, the top row at least to its last pixel.
    const uint64_t need =
        RowStride(image.width, bits) * (image.height - 1) + (uint64_t{image.width} * bits + 7) / 8;
    if (image.pixelBytes() < need) abort();
    // Reading every pixel byte shows any that lies outside the allocation.
    uint32_t sum = 0;
    for (uint32_t i = 0; i < image.pixelBytes(); ++i) sum += image.pixels()[i];
    if (bits != 8) {
        ConvertToGrey(&image);
        if (image.bitsPerPixel != 8) abort();
    }
    return sum == 0xFFFFFFFFu;  // keeps the sum alive
}
