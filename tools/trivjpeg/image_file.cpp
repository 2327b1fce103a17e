// BMP, PPM and PGM intake for the trivjpeg tool (PNG: png_file.cpp).
// Bottom-up BMP rows already have the encoder's layout and are passed on
// where they lie in the file; everything else is rearranged into that layout
// once.

#include "image_file.h"

#include <string.h>

namespace {

constexpr uint32_t kMaxDimension = 65535;

uint32_t Le16(const uint8_t *p) { return p[0] | p[1] << 8; }
uint32_t Le32(const uint8_t *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

bool Fail(std::string *error, std::string what) {
    *error = std::move(what);
    return false;
}

}  // namespace

bool CheckDimensions(uint64_t width, uint64_t height, std::string *error) {
    if (width == 0 || height == 0) return Fail(error, "the image has no pixels");
    if (width > kMaxDimension || height > kMaxDimension) {
        return Fail(error, "dimensions " + std::to_string(width) + "x" + std::to_string(height) +
                               " exceed the JPEG limit of 65535");
    }
    return true;
}

uint64_t RowStride(uint32_t width, uint32_t bitsPerPixel) {
    return (static_cast<uint64_t>(width) * bitsPerPixel + 31) / 32 * 4;
}

bool ReadBmp(std::vector<uint8_t> file, SourceImage *image, std::string *error) {
    if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M') {
        return Fail(error, "not a BMP file, or truncated header");
    }
    const uint8_t *h = file.data() + 14;
    uint32_t headerSize = Le32(h);
    if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
        headerSize != 124) {
        return Fail(error, "unsupported BMP header (" + std::to_string(headerSize) + " bytes)");
    }
    if (file.size() < 14 + uint64_t{headerSize}) return Fail(error, "truncated BMP header");

    int32_t width = static_cast<int32_t>(Le32(h + 4));
    int32_t height = static_cast<int32_t>(Le32(h + 8));
    uint32_t bits = Le16(h + 14);
    uint32_t compression = Le32(h + 16);
    uint32_t paletteCount = Le32(h + 32);
    uint32_t dataOffset = Le32(file.data() + 10);
    bool topDown = height < 0;
    uint64_t rows = topDown ? -static_cast<int64_t>(height) : height;
    if (width <= 0) return Fail(error, "the image has no pixels");
    if (!CheckDimensions(static_cast<uint64_t>(width), rows, error)) return false;

    // Bit-field masks follow a 40-byte header, or sit inside a larger one.
    uint32_t masks[3] = {0, 0, 0};
    if (compression == 3) {
        if (file.size() < 14 + 40 + 12) return Fail(error, "truncated BMP bit-field masks");
        for (int i = 0; i < 3; ++i) masks[i] = Le32(h + 40 + 4 * i);
    } else if (compression != 0) {
        return Fail(error, "compressed BMPs (RLE, JPEG, PNG) are not supported");
    }

    switch (bits) {
        case 8: {
            if (compression != 0) return Fail(error, "8-bit BMP with bit fields");
            uint64_t entries = paletteCount == 0 ? 256 : paletteCount;
            uint64_t paletteAt = 14 + uint64_t{headerSize};
            if (entries > 256 || paletteAt + 4 * entries > file.size()) {
                return Fail(error, "truncated or oversized BMP palette");
            }
            // Only grey palettes make sense for a one-component stream.
            uint8_t grey[256];
            bool identity = true;
            for (uint32_t i = 0; i < 256; ++i) {
                if (i >= entries) {
                    grey[i] = 0;
                    identity = false;
                    continue;
                }
                const uint8_t *e = file.data() + paletteAt + 4 * i;
                if (e[0] != e[1] || e[1] != e[2]) {
                    return Fail(error, "paletted colour BMPs are not supported (8-bit BMPs must "
                                       "have a greyscale palette)");
                }
                grey[i] = e[0];
                identity = identity && e[0] == i;
            }
            image->bitsPerPixel = 8;
            if (!identity) {
                // Map the indices through the palette once the rows are in place.
                uint64_t stride = RowStride(static_cast<uint32_t>(width), 8);
                if (dataOffset > file.size() || file.size() - dataOffset < stride * rows) {
                    return Fail(error, "truncated pixel data");
                }
                for (uint64_t i = 0; i < stride * rows; ++i) {
                    file[dataOffset + i] = grey[file[dataOffset + i]];
                }
            }
            break;
        }
        case 16:
            if (compression == 3 && !(masks[0] == 0x7C00 && masks[1] == 0x03E0 && masks[2] == 0x1F)) {
                return Fail(error, "16-bit BMP bit fields other than 5-5-5 (such as 5-6-5) are "
                                   "not supported");
            }
            image->bitsPerPixel = 16;
            break;
        case 24:
            if (compression != 0) return Fail(error, "24-bit BMP with bit fields");
            image->bitsPerPixel = 24;
            break;
        case 32:
            if (compression == 3 &&
                !(masks[0] == 0xFF0000 && masks[1] == 0xFF00 && masks[2] == 0xFF)) {
                return Fail(error, "32-bit BMP bit fields other than 8-8-8 are not supported");
            }
            image->bitsPerPixel = 32;
            break;
        default:
            return Fail(error, std::to_string(bits) + "-bit BMPs are not supported");
    }

    uint64_t stride = RowStride(static_cast<uint32_t>(width), image->bitsPerPixel);
    if (dataOffset > file.size() || file.size() - dataOffset < stride * rows) {
        return Fail(error, "truncated pixel data");
    }
    image->width = static_cast<uint32_t>(width);
    image->height = static_cast<uint32_t>(rows);
    image->pixelOrder = 1;
    if (!topDown) {
        image->bytes = std::move(file);
        image->offset = dataOffset;
        return true;
    }
    image->bytes.resize(stride * rows);
    for (uint64_t r = 0; r < rows; ++r) {
        memcpy(image->bytes.data() + (rows - 1 - r) * stride, file.data() + dataOffset + r * stride,
               stride);
    }
    image->offset = 0;
    return true;
}

namespace {

// Reads the next header number of a PNM file, skipping blanks and comments.
bool PnmNumber(const std::vector<uint8_t> &file, size_t *at, uint64_t *value) {
    size_t i = *at;
    for (;;) {
        while (i < file.size() && (file[i] == ' ' || file[i] == '\t' || file[i] == '\n' ||
                                   file[i] == '\r' || file[i] == '\v' || file[i] == '\f')) {
            ++i;
        }
        if (i < file.size() && file[i] == '#') {
            while (i < file.size() && file[i] != '\n') ++i;
            continue;
        }
        break;
    }
    if (i >= file.size() || file[i] < '0' || file[i] > '9') return false;
    uint64_t v = 0;
    while (i < file.size() && file[i] >= '0' && file[i] <= '9') {
        v = v * 10 + (file[i++] - '0');
        if (v > 0xFFFFFFFFu) return false;
    }
    *value = v;
    *at = i;
    return true;
}

}  // namespace

bool ReadPnm(const std::vector<uint8_t> &file, SourceImage *image, std::string *error) {
    if (file.size() < 2 || file[0] != 'P') return Fail(error, "not a PNM file");
    char kind = static_cast<char>(file[1]);
    if (kind != '5' && kind != '6') {
        return Fail(error, std::string("PNM type P") + kind +
                               " is not supported (only binary PGM P5 and PPM P6)");
    }
    size_t at = 2;
    uint64_t width, height, maxval;
    if (!PnmNumber(file, &at, &width) || !PnmNumber(file, &at, &height) ||
        !PnmNumber(file, &at, &maxval)) {
        return Fail(error, "malformed or truncated PNM header");
    }
    if (maxval == 0 || maxval > 255) {
        return Fail(error, "PNM maximum value " + std::to_string(maxval) +
                               " is not supported (1 to 255)");
    }
    if (at >= file.size()) return Fail(error, "truncated pixel data");
    ++at;  // the single blank after maxval
    if (!CheckDimensions(width, height, error)) return false;

    uint32_t channels = kind == '5' ? 1 : 3;
    uint64_t rowBytes = width * channels;
    if (file.size() - at < rowBytes * height) return Fail(error, "truncated pixel data");

    image->width = static_cast<uint32_t>(width);
    image->height = static_cast<uint32_t>(height);
    image->bitsPerPixel = static_cast<uint16_t>(8 * channels);
    image->pixelOrder = 0;
    uint64_t stride = RowStride(image->width, image->bitsPerPixel);
    image->bytes.assign(stride * height, 0);
    image->offset = 0;
    // PNM rows run top-down; the encoder takes them bottom-up. At the usual
    // maximum value of 255 the samples need neither a check nor scaling.
    for (uint64_t r = 0; r < height; ++r) {
        const uint8_t *in = file.data() + at + r * rowBytes;
        uint8_t *out = image->bytes.data() + (height - 1 - r) * stride;
        if (maxval == 255) {
            memcpy(out, in, rowBytes);
            continue;
        }
        for (uint64_t i = 0; i < rowBytes; ++i) {
            if (in[i] > maxval) {
                return Fail(error, "sample value " + std::to_string(in[i]) +
                                       " exceeds the maximum value " + std::to_string(maxval));
            }
            out[i] = static_cast<uint8_t>((in[i] * 255u + maxval / 2) / maxval);
        }
    }
    return true;
}

bool ReadImage(std::vector<uint8_t> file, SourceImage *image, std::string *error) {
    if (file.size() >= 2 && file[0] == 'B' && file[1] == 'M') return ReadBmp(std::move(file), image, error);
    if (file.size() >= 2 && file[0] == 'P') return ReadPnm(file, image, error);
    if (file.size() >= 8 && memcmp(file.data(), "\x89PNG\r\n\x1a\n", 8) == 0) {
        return ReadPng(file, image, error);
    }
    return Fail(error, "unrecognised format (expected PNG, BMP, binary PPM or binary PGM)");
}

void ConvertToGrey(SourceImage *image) {
    if (image->bitsPerPixel == 8) return;
    uint64_t inStride = RowStride(image->width, image->bitsPerPixel);
    uint64_t outStride = RowStride(image->width, 8);
    std::vector<uint8_t> grey(outStride * image->height, 0);
    const uint8_t *rows = image->pixels();
    bool blueFirst = image->pixelOrder == 1;
    for (uint64_t y = 0; y < image->height; ++y) {
        const uint8_t *in = rows + y * inStride;
        for (uint64_t x = 0; x < image->width; ++x) {
            int r, g, b;
            if (image->bitsPerPixel == 16) {
                uint32_t v = in[2 * x] | in[2 * x + 1] << 8;
                int lo = (v & 0x1F) << 3, mid = ((v >> 5) & 0x1F) << 3, hi = ((v >> 10) & 0x1F) << 3;
                r = blueFirst ? hi : lo;
                g = mid;
                b = blueFirst ? lo : hi;
            } else {
                const uint8_t *p = in + x * (image->bitsPerPixel / 8);
                r = blueFirst ? p[2] : p[0];
                g = p[1];
                b = blueFirst ? p[0] : p[2];
            }
            int v = (77 * r + 150 * g + 29 * b + 128) >> 8;
            grey[y * outStride + x] = static_cast<uint8_t>(v > 255 ? 255 : v);
        }
    }
    image->bytes = std::move(grey);
    image->offset = 0;
    image->bitsPerPixel = 8;
}
