// Pixel intake. Each McuFetcher reads the MCU that the session's mcuIndex
// designates from the bottom-up source rows, converts it to Y, Cb and Cr,
// replicates the last column and row inside the image into the part of the
// MCU beyond the right and bottom edges, and leaves the samples in the
// McuSampleBuffer (colour through the session's ChromaReducer).
//
// The seven fetchers differ only in how one pixel is unpacked. Every byte
// they read lies inside the source stream: offsets are computed in 64 bits,
// so a hostile job cannot wrap them back into range.

#include "pixel_intake.h"

#include <string.h>

namespace {

// Where the current MCU lies in the image.
struct McuPlace {
    uint32_t x0;             // first image column of the MCU
    uint32_t rowsInside;     // image rows from the MCU's top row to the bottom of the image
    uint32_t columnsInside;  // MCU columns inside the image, at most mcuWidth
};

bool LocateMcu(const EncoderSession *s, McuPlace *place) {
    if (s->mcusPerRow == 0) return false;
    uint32_t column = s->mcuIndex % s->mcusPerRow;
    uint32_t row = s->mcuIndex / s->mcusPerRow;
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
uint64_t SegmentStart(const EncoderSession *s, const McuPlace &place, uint32_t i,
                      uint32_t bytesPerPixel) {
    return s->sourceStart + static_cast<uint64_t>(place.rowsInside - 1 - i) * s->stride +
           static_cast<uint64_t>(place.x0) * bytesPerPixel;
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
struct Rgb24 {
    static constexpr uint32_t kBytes = 3;
    static Rgb Unpack(const uint8_t *p) { return {p[0], p[1], p[2]}; }
};
struct Bgr24 {
    static constexpr uint32_t kBytes = 3;
    static Rgb Unpack(const uint8_t *p) { return {p[2], p[1], p[0]}; }
};
struct Rgb32 {
    static constexpr uint32_t kBytes = 4;
    static Rgb Unpack(const uint8_t *p) { return {p[0], p[1], p[2]}; }
};
struct Bgr32 {
    static constexpr uint32_t kBytes = 4;
    static Rgb Unpack(const uint8_t *p) { return {p[2], p[1], p[0]}; }
};

inline uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Integer colour conversion. The weights are the JFIF ones scaled by 256;
// the + 128 inside each shift rounds, the + 128 outside is the chroma
// offset, and >> 8 of a negative sum rounds towards minus infinity. Y never
// exceeds 255; Cb reaches 256 for pure blue and Cr for pure red.
inline void Convert(Rgb c, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    *y = Clamp((77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8);
    *cb = Clamp(((128 * c.b - 43 * c.r - 85 * c.g + 128) >> 8) + 128);
    *cr = Clamp(((128 * c.r - 107 * c.g - 21 * c.b + 128) >> 8) + 128);
}

template <class Format>
int32_t FetchColour(EncoderSession *s, uint8_t *samples) {
    McuPlace place;
    if (!LocateMcu(s, &place)) return 0;

    uint8_t planes[3][256];
    const uint32_t width = s->mcuWidth;
    ByteStream *source = s->source;
    for (uint32_t i = 0; i < s->mcuHeight; ++i) {
        uint8_t *y = planes[0] + i * width;
        uint8_t *cb = planes[1] + i * width;
        uint8_t *cr = planes[2] + i * width;
        if (i >= place.rowsInside) {
            // Below the image: repeat the row above.
            memcpy(y, y - width, width);
            memcpy(cb, cb - width, width);
            memcpy(cr, cr - width, width);
            continue;
        }
        uint64_t start = SegmentStart(s, place, i, Format::kBytes);
        uint64_t end = start + static_cast<uint64_t>(place.columnsInside) * Format::kBytes;
        if (end > source->size) {
            *s->status |= StatusStreamBound;
            return 0;
        }
        source->position = static_cast<uint32_t>(end);
        const uint8_t *pixel = source->buffer + start;
        for (uint32_t j = 0; j < place.columnsInside; ++j, pixel += Format::kBytes) {
            Convert(Format::Unpack(pixel), y + j, cb + j, cr + j);
        }
        // Right of the image: repeat the last column inside.
        uint32_t last = place.columnsInside - 1;
        uint32_t fill = width - place.columnsInside;
        memset(y + place.columnsInside, y[last], fill);
        memset(cb + place.columnsInside, cb[last], fill);
        memset(cr + place.columnsInside, cr[last], fill);
    }
    s->chromaReducer(samples, planes[0], planes[1], planes[2]);
    return 1;
}

}  // namespace

// Grey samples go straight into the one block of the MCU, each read through
// ReadByte, which checks it against the end of the source.
int32_t FetchGray8(EncoderSession *s, uint8_t *samples) {
    if (s->mcuWidth != 8 || s->mcuHeight != 8) return 0;
    McuPlace place;
    if (!LocateMcu(s, &place)) return 0;

    ByteStream *source = s->source;
    for (uint32_t i = 0; i < 8; ++i) {
        uint8_t *row = samples + 8 * i;
        if (i >= place.rowsInside) {
            memcpy(row, row - 8, 8);
            continue;
        }
        uint64_t start = SegmentStart(s, place, i, 1);
        if (start >= source->size) return 0;
        source->position = static_cast<uint32_t>(start);
        for (uint32_t j = 0; j < 8; ++j) {
            if (j < place.columnsInside) {
                if (!source->ReadByte(source, row + j)) return 0;
            } else {
                row[j] = row[j - 1];
            }
        }
    }
    return 1;
}

int32_t FetchRgb16(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb16>(s, samples); }
int32_t FetchBgr16(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr16>(s, samples); }
int32_t FetchRgb24(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb24>(s, samples); }
int32_t FetchBgr24(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr24>(s, samples); }
int32_t FetchRgb32(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb32>(s, samples); }
int32_t FetchBgr32(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr32>(s, samples); }

McuFetcher ChooseFetcher(uint16_t bitsPerPixel, uint8_t pixelOrder, uint32_t /*simdLevel*/) {
    bool blueFirst = pixelOrder == 1;
    switch (bitsPerPixel) {
        case 8: return FetchGray8;
        case 16: return blueFirst ? FetchBgr16 : FetchRgb16;
        case 24: return blueFirst ? FetchBgr24 : FetchRgb24;
        default: return blueFirst ? FetchBgr32 : FetchRgb32;
    }
}
