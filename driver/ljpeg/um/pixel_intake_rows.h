// The parts of pixel intake that the plain fetchers (pixel_intake.cpp) and
// their vector twins (pixel_intake_x86.cpp) share: where an MCU lies in the
// source, the pixel formats, the colour weights, FetchGrey, and FetchColour,
// the fetch of one colour MCU around a converter of whole rows.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "encoder_session.h"

namespace intake {

// Where the current MCU lies in the image.
struct McuPlace {
    uint32_t x0;             // first image column of the MCU
    uint32_t rowsInside;     // image rows from the MCU's top row to the bottom of the image
    uint32_t columnsInside;  // MCU columns inside the image, at most mcuWidth
};

// The scan asks for each MCU in turn, and for some twice (the flat probe,
// then the fetcher), so the last answer is kept and stepped on: a division
// per MCU costs more than a whole flat MCU of a page. Any other index is
// divided out.
inline bool LocateMcu(EncoderSession *s, McuPlace *place) {
    if (s->mcusPerRow == 0) return false;
    uint32_t column, row;
    if (s->mcuIndex == s->locatedIndex) {
        column = s->locatedColumn;
        row = s->locatedRow;
    } else if (s->mcuIndex - 1 == s->locatedIndex && s->locatedColumn + 1u < s->mcusPerRow) {
        column = s->locatedColumn + 1u;
        row = s->locatedRow;
    } else {
        column = s->mcuIndex % s->mcusPerRow;
        row = s->mcuIndex / s->mcusPerRow;
    }
    s->locatedIndex = s->mcuIndex;
    s->locatedColumn = static_cast<uint16_t>(column);
    s->locatedRow = row;
    uint64_t x0 = static_cast<uint64_t>(column) * s->mcuWidth;
    uint64_t y0 = static_cast<uint64_t>(row) * s->mcuHeight;
    if (x0 >= s->width || y0 >= s->height) return false;
    place->x0 = static_cast<uint32_t>(x0);
    place->rowsInside = s->height - static_cast<uint32_t>(y0);
    uint32_t rest = s->width - place->x0;
    place->columnsInside = rest < s->mcuWidth ? rest : s->mcuWidth;
    return true;
}

// Offset of the segment of MCU row i: image rows lie bottom-up, so the MCU's
// top row has the highest address and each further row is one stride lower.
inline uint64_t SegmentStart(const EncoderSession *s, const McuPlace &place, uint32_t i,
                             uint32_t bytesPerPixel) {
    return s->sourceStart + static_cast<uint64_t>(place.rowsInside - 1 - i) * s->stride +
           static_cast<uint64_t>(place.x0) * bytesPerPixel;
}

// An MCU reads 8 or 16 rows, each from its own place in the source, a few
// dozen bytes at a time: too little for the processor to foresee each row's
// next bytes, so every row's fetch asks for the cache line this far ahead
// (four to ten MCUs; measured best from 192 to 256 bytes, 3% to 5% of the
// whole encode of a large photograph). A prefetch never faults, so the
// address may lie past the source's end; it is reckoned as a number, since
// a pointer may not point there.
constexpr uint32_t kPrefetchAhead = 256;
__attribute__((always_inline)) inline void PrefetchAhead(const uint8_t *row) {
    __builtin_prefetch(
        reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(row) + kPrefetchAhead));
}

// Grey samples go straight into the one block of the MCU. A row segment
// wholly inside the source is copied at once, with the effects ReadByte
// would have had on the stream (position past the segment, no pending bits);
// one that runs past the end is read through ReadByte, sample by sample, so
// that the samples before the missing one are written and the read reports
// the bound, as a reader of the source byte by byte would.
__attribute__((always_inline)) inline int32_t FetchGrey(EncoderSession *s, uint8_t *samples) {
    if (s->mcuWidth != 8 || s->mcuHeight != 8) return 0;
    McuPlace place;
    if (!LocateMcu(s, &place)) return 0;

    ByteStream *source = s->source;
    const uint32_t count = place.columnsInside;
    // A whole MCU whose top row, the highest in the source, lies inside:
    // eight rows copied, and the stream left past the lowest.
    if (count == 8 && place.rowsInside >= 8) {
        const uint64_t top = SegmentStart(s, place, 0, 1);
        if (top + 8 <= source->size) {
            const uint8_t *row = source->buffer + top;
            // Unrolled: the loop's own steps were half its instructions.
#pragma GCC unroll 8
            for (uint32_t i = 0; i < 8; ++i, row -= s->stride) {
                PrefetchAhead(row);
                memcpy(samples + 8 * i, row, 8);
            }
            source->position = static_cast<uint32_t>(top - 7 * uint64_t{s->stride} + 8);
            source->bitCount = 0;
            return 1;
        }
    }
    for (uint32_t i = 0; i < 8; ++i) {
        uint8_t *row = samples + 8 * i;
        if (i >= place.rowsInside) {
            memcpy(row, row - 8, 8);
            continue;
        }
        uint64_t start = SegmentStart(s, place, i, 1);
        if (start >= source->size) return 0;
        source->position = static_cast<uint32_t>(start);
        if (source->size - start >= count) {
            // Of fixed length where it can be: a copy of variable length
            // measured slower than the calls of ReadByte it replaces.
            const uint8_t *from = source->buffer + start;
            if (count == 8) {
                memcpy(row, from, 8);
            } else {
                for (uint32_t j = 0; j < count; ++j) row[j] = from[j];
            }
            source->position += count;
            source->bitCount = 0;
        } else {
            for (uint32_t j = 0; j < count; ++j) {
                if (!source->ReadByte(source, row + j)) return 0;
            }
        }
        for (uint32_t j = count; j < 8; ++j) row[j] = row[j - 1];
    }
    return 1;
}

// --- Pixel formats: bytes per pixel and the red, green, blue of one pixel.

struct Rgb {
    int32_t r, g, b;
};

// 5-bit fields are widened by a plain shift: the largest value is 248.
inline uint32_t Word16(const uint8_t *p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }
inline int32_t Field5(uint32_t v, int at) { return static_cast<int32_t>((v >> at) & 0x1F) << 3; }

struct Rgb16 {
    static constexpr uint32_t kBytes = 2;
    static Rgb Unpack(const uint8_t *p) {
        uint32_t v = Word16(p);
        return {Field5(v, 0), Field5(v, 5), Field5(v, 10)};
    }
};
struct Bgr16 {
    static constexpr uint32_t kBytes = 2;
    static Rgb Unpack(const uint8_t *p) {
        uint32_t v = Word16(p);
        return {Field5(v, 10), Field5(v, 5), Field5(v, 0)};
    }
};
// The byte formats name where red and blue lie; green is always byte 1.
struct Rgb24 {
    static constexpr uint32_t kBytes = 3, kRed = 0, kBlue = 2;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};
struct Bgr24 {
    static constexpr uint32_t kBytes = 3, kRed = 2, kBlue = 0;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};
struct Rgb32 {
    static constexpr uint32_t kBytes = 4, kRed = 0, kBlue = 2;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};
struct Bgr32 {
    static constexpr uint32_t kBytes = 4, kRed = 2, kBlue = 0;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};

inline uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// The JFIF colour weights scaled by 256; each row sums to 256 (Y) or 0.
// clang-format off
constexpr int32_t kYRed  =   77, kYGreen  =  150, kYBlue  =  29;
constexpr int32_t kCbRed =  -43, kCbGreen =  -85, kCbBlue = 128;
constexpr int32_t kCrRed =  128, kCrGreen = -107, kCrBlue = -21;
// clang-format on
static_assert(kYRed + kYGreen + kYBlue == 256 && kCbRed + kCbGreen + kCbBlue == 0 &&
              kCrRed + kCrGreen + kCrBlue == 0);

// Integer colour conversion: the + 128 inside each shift rounds, the + 128
// outside is the chroma offset, and >> 8 of a negative sum rounds towards
// minus infinity. Y never exceeds 255; Cb reaches 256 for pure blue and Cr
// for pure red.
inline void Convert(Rgb c, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    *y = Clamp((kYRed * c.r + kYGreen * c.g + kYBlue * c.b + 128) >> 8);
    *cb = Clamp(((kCbBlue * c.b + kCbRed * c.r + kCbGreen * c.g + 128) >> 8) + 128);
    *cr = Clamp(((kCrRed * c.r + kCrGreen * c.g + kCrBlue * c.b + 128) >> 8) + 128);
}

template <class Format>
void ConvertPixels(const uint8_t *pixel, uint32_t count, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    for (uint32_t j = 0; j < count; ++j, pixel += Format::kBytes) {
        Convert(Format::Unpack(pixel), y + j, cb + j, cr + j);
    }
}

// Converts rows of the MCU that lie wholly inside the image, the first at
// top and each further one `stride` bytes lower, into planes `width` wide
// (8 or 16).
typedef void RowConverter(const uint8_t *top, uint32_t stride, uint32_t width, uint32_t rows,
                          uint8_t *y, uint8_t *cb, uint8_t *cr);

// Each row is one group of sixteen or eight pixels, converted and stored by
// Kernel. Always inlined, so that the groups are compiled with the caller's
// instruction set and the kernel's constants stay in registers across rows.
template <class Kernel, uint32_t kWidth>
__attribute__((always_inline)) inline void ConvertRowsOf(const uint8_t *top, uint32_t stride,
                                                         uint32_t rows, uint8_t *y, uint8_t *cb,
                                                         uint8_t *cr) {
    uint32_t i = 0;
    // A kernel that converts two rows at once takes them in pairs.
    if constexpr (kWidth == 16 && requires { &Kernel::TwoSixteens; }) {
        for (; i + 1 < rows; i += 2, y += 32, cb += 32, cr += 32) {
            const uint8_t *pixel = top - size_t{i} * stride;
            PrefetchAhead(pixel);
            PrefetchAhead(pixel - stride);
            Kernel::TwoSixteens(pixel, pixel - stride, y, cb, cr);
        }
    }
    if constexpr (kWidth == 8 && requires { &Kernel::TwoEights; }) {
        for (; i + 1 < rows; i += 2, y += 16, cb += 16, cr += 16) {
            const uint8_t *pixel = top - size_t{i} * stride;
            PrefetchAhead(pixel);
            PrefetchAhead(pixel - stride);
            Kernel::TwoEights(pixel, pixel - stride, y, cb, cr);
        }
    }
    for (; i < rows; ++i, y += kWidth, cb += kWidth, cr += kWidth) {
        // No wrap: row i's segment starts at or after the source's first byte.
        const uint8_t *pixel = top - size_t{i} * stride;
        PrefetchAhead(pixel);
        if constexpr (kWidth == 16) {
            Kernel::Sixteen(pixel, y, cb, cr);
        } else {
            Kernel::Eight(pixel, y, cb, cr);
        }
    }
}

template <class Kernel>
__attribute__((always_inline)) inline void ConvertRows(const uint8_t *top, uint32_t stride,
                                                       uint32_t width, uint32_t rows, uint8_t *y,
                                                       uint8_t *cb, uint8_t *cr) {
    if (width == 16) {
        ConvertRowsOf<Kernel, 16>(top, stride, rows, y, cb, cr);
    } else {
        ConvertRowsOf<Kernel, 8>(top, stride, rows, y, cb, cr);
    }
}

template <class Format>
struct PlainKernel {
    static constexpr uint32_t kBytes = Format::kBytes;
    static void Sixteen(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        ConvertPixels<Format>(pixel, 16, y, cb, cr);
    }
    static void Eight(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        ConvertPixels<Format>(pixel, 8, y, cb, cr);
    }
};

// WholeRows converts the rows whose segments cover the MCU's full width,
// where a vector twin can take eight or sixteen pixels at a time; rows cut
// by the right edge go one pixel at a time. Always inlined, so that a twin's
// loop is compiled with the twin's instruction set and can inline its
// converter.
template <class Format, RowConverter *WholeRows = ConvertRows<PlainKernel<Format>>>
__attribute__((always_inline)) inline int32_t FetchColour(EncoderSession *s, uint8_t *samples) {
    McuPlace place;
    if (!LocateMcu(s, &place)) return 0;

    uint8_t planes[3][256];
    uint8_t *const y = planes[0], *const cb = planes[1], *const cr = planes[2];
    const uint32_t width = s->mcuWidth;
    const uint32_t rows = place.rowsInside < s->mcuHeight ? place.rowsInside : s->mcuHeight;
    if (rows > 0) {
        // The MCU's rows lie at falling addresses, so the top row's segment
        // ends last: if it lies inside the source, they all do.
        ByteStream *source = s->source;
        const uint64_t top = SegmentStart(s, place, 0, Format::kBytes);
        const uint64_t length = uint64_t{place.columnsInside} * Format::kBytes;
        if (top + length > source->size) {
            *s->status |= StatusStreamBound;
            return 0;
        }
        const uint8_t *pixel = source->buffer + top;
        if (place.columnsInside == width && (width == 16 || width == 8)) {
            WholeRows(pixel, s->stride, width, rows, y, cb, cr);
        } else {
            const uint32_t last = place.columnsInside - 1;
            const uint32_t fill = width - place.columnsInside;
            for (uint32_t i = 0; i < rows; ++i) {
                const uint32_t at = i * width;
                ConvertPixels<Format>(pixel - size_t{i} * s->stride, place.columnsInside, y + at,
                                      cb + at, cr + at);
                // Right of the image: repeat the last column inside.
                memset(y + at + place.columnsInside, y[at + last], fill);
                memset(cb + at + place.columnsInside, cb[at + last], fill);
                memset(cr + at + place.columnsInside, cr[at + last], fill);
            }
        }
        // Where reading the rows in turn leaves the source: past the lowest.
        source->position =
            static_cast<uint32_t>(SegmentStart(s, place, rows - 1, Format::kBytes) + length);
    }
    // Below the image: repeat the row above.
    for (uint32_t i = rows; i < s->mcuHeight; ++i) {
        const uint32_t at = i * width;
        memcpy(y + at, y + at - width, width);
        memcpy(cb + at, cb + at - width, width);
        memcpy(cr + at, cr + at - width, width);
    }
    s->chromaReducer(samples, y, cb, cr);
    return 1;
}

}  // namespace intake
