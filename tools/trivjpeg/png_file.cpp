// PNG intake for the trivjpeg tool, through libpng: every colour type and bit
// depth, interlaced or not, into the encoder's layout (bottom-up rows padded
// to 4 bytes). Grey stays grey (8 bits per pixel); everything else becomes
// 24-bit BGR. 16-bit samples are rounded to 8 bits; alpha, and the
// transparency of palette and grey images, is dropped, not blended.

#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include "image_file.h"

#ifndef TRIVJPEG_HAVE_PNG

bool ReadPng(const std::vector<uint8_t> &, SourceImage *, std::string *error) {
    *error = "PNG input is not supported by this build of trivjpeg (built without libpng)";
    return false;
}

#else

#include <png.h>

namespace {

// The largest factor by which deflate shrinks data: a 258-byte match coded in
// 2 bits. Image data that would need more than this from the bytes the file
// holds is a lie, refused before anything is allocated for it.
constexpr uint64_t kMaxDeflateRatio = 1032;

// One decode: libpng's state, the file, and the message of the error that
// ended it. libpng returns from an error by longjmp, so the functions that
// call it (ReadHeader, ReadRows) hold nothing with a destructor and touch no
// C++ object after their setjmp; the allocations happen between them.
struct PngDecode {
    png_structp png;
    png_infop info;
    const uint8_t *data;
    size_t size, at;
    char error[160];
};

[[noreturn]] void OnError(png_structp png, png_const_charp message) {
    PngDecode *d = static_cast<PngDecode *>(png_get_error_ptr(png));
    snprintf(d->error, sizeof d->error, "%s", message);
    png_longjmp(png, 1);
}

void OnWarning(png_structp, png_const_charp) {}

void OnRead(png_structp png, png_bytep out, size_t n) {
    PngDecode *d = static_cast<PngDecode *>(png_get_io_ptr(png));
    if (d->size - d->at < n) png_error(png, "truncated PNG data");
    memcpy(out, d->data + d->at, n);
    d->at += n;
}

// Reads the chunks before the image data and sets the conversions: grey to
// 8-bit grey, everything else to 8-bit BGR, alpha dropped.
bool ReadHeader(PngDecode *d, uint32_t *width, uint32_t *height, bool *grey) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    png_structp png = d->png;
    png_set_read_fn(png, d, OnRead);
    png_set_user_limits(png, 65535, 65535);
    png_read_info(png, d->info);
    png_uint_32 w, h;
    int depth, colour, interlace;
    png_get_IHDR(png, d->info, &w, &h, &depth, &colour, &interlace, nullptr, nullptr);
    *width = w;
    *height = h;
    *grey = (colour & PNG_COLOR_MASK_COLOR) == 0;
    if (colour == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (*grey && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (depth == 16) png_set_scale_16(png);
    png_set_strip_alpha(png);
    if (!*grey) png_set_bgr(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, d->info);
    if (png_get_rowbytes(png, d->info) != uint64_t{w} * (*grey ? 1 : 3)) {
        png_error(png, "unexpected row layout after conversion");
    }
    return true;
}

bool ReadRows(PngDecode *d, png_bytepp rows) {
    if (setjmp(png_jmpbuf(d->png))) return false;
    png_read_image(d->png, rows);
    return true;
}

uint32_t Be32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The header as the file states it, checked before libpng allocates
// anything: the dimensions within JPEG's limit, and image data that the
// file's size can hold.
bool CheckHeader(const std::vector<uint8_t> &file, std::string *error) {
    if (file.size() < 33 || memcmp(file.data() + 12, "IHDR", 4) != 0) {
        *error = "truncated PNG header";
        return false;
    }
    uint64_t width = Be32(file.data() + 16), height = Be32(file.data() + 20);
    if (!CheckDimensions(width, height, error)) return false;
    static constexpr uint8_t kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    uint32_t depth = file[24], colour = file[25];
    uint64_t bits = colour < 7 ? kChannels[colour] * depth : 0;
    uint64_t rowBytes = (width * bits + 7) / 8;
    if (rowBytes * height > kMaxDeflateRatio * file.size()) {
        *error = "the file is too short to hold " + std::to_string(width) + "x" +
                 std::to_string(height) + " pixels";
        return false;
    }
    return true;
}

}  // namespace

bool ReadPng(const std::vector<uint8_t> &file, SourceImage *image, std::string *error) {
    if (!CheckHeader(file, error)) return false;
    PngDecode d{nullptr, nullptr, file.data(), file.size(), 0, "out of memory"};
    d.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, OnError, OnWarning);
    d.info = d.png ? png_create_info_struct(d.png) : nullptr;
    uint32_t width = 0, height = 0;
    bool grey = false;
    bool ok = d.info && ReadHeader(&d, &width, &height, &grey);
    uint32_t bits = grey ? 8 : 24;
    if (ok) {
        uint64_t stride = RowStride(width, bits);
        image->bytes.assign(stride * height, 0);
        image->offset = 0;
        std::vector<png_bytep> rows(height);
        for (uint32_t r = 0; r < height; ++r) {
            rows[r] = image->bytes.data() + (height - 1 - r) * stride;  // bottom-up
        }
        ok = ReadRows(&d, rows.data());
    }
    png_destroy_read_struct(&d.png, &d.info, nullptr);
    if (!ok) {
        *error = std::string("PNG: ") + d.error;
        return false;
    }
    image->width = width;
    image->height = height;
    image->bitsPerPixel = static_cast<uint16_t>(bits);
    image->pixelOrder = grey ? 0 : 1;
    return true;
}

#endif
