// The parts of the flat-MCU probe that the plain probe (flat_blocks.cpp)
// and its vector twins (flat_blocks_x86.cpp) share: the pattern a one-value
// MCU's rows repeat, the rows cut by the right edge, the samples of the one
// pixel, and ProbeFlatMcus, the probe around a test of whole rows.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "encoder_session.h"
#include "pixel_intake_rows.h"

namespace flat {

using namespace intake;

inline uint64_t Load64(const uint8_t *p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return v;
}

// A whole row of an MCU is 8 or 16 pixels, a multiple of 8 bytes. Its
// first 24 bytes (3-byte pixels) or 8 bytes (the others) are the words every
// row of a one-pixel MCU repeats, if they hold one pixel repeated; the
// words are taken from the row itself, which needs no pixel assembled.
template <uint32_t kBytes>
inline bool RepeatsOnePixel(const uint8_t *row, uint64_t *words) {
    words[0] = Load64(row);
    if constexpr (kBytes == 3) {
        words[1] = Load64(row + 8);
        words[2] = Load64(row + 16);
        // Byte i + 3 equals byte i for i from 0 to 7, 8 to 15 and 13 to 20.
        return Load64(row + 3) == words[0] && Load64(row + 11) == words[1] &&
               Load64(row + 16) == Load64(row + 13);
    } else {
        constexpr uint64_t kPixel = (uint64_t{1} << (8 * kBytes)) - 1;
        constexpr uint64_t kRepeat = 0xFFFFFFFFFFFFFFFFu / kPixel;  // 0x0101..., 0x00010001..., ...
        return words[0] == (words[0] & kPixel) * kRepeat;
    }
}

// Counts how many of `most` neighbouring whole MCUs (rows of kLength bytes,
// the first MCU's top row at top, each further row `stride` bytes lower)
// repeat the words throughout: word k of a row is words[k % 3] for 3-byte
// pixels, words[0] for the others. Stops at the first row that does not: in
// a photograph that is nearly always the first MCU's first. The rows are
// read left to right, each its own stream of a few bytes per MCU, so each
// kernel asks for the lines four MCUs on early.
typedef uint32_t McusTest(const uint64_t *words, const uint8_t *top, uint32_t stride, uint32_t rows,
                          uint32_t most);

// Rows cut by the right edge, of any length: byte by byte against the first
// pixel.
template <uint32_t kBytes>
bool CutRowsHold(const uint8_t *top, uint32_t stride, uint32_t rows, uint32_t length) {
    for (uint32_t i = 0; i < rows; ++i) {
        const uint8_t *row = top - size_t{i} * stride;
        for (uint32_t j = 0; j < length; ++j) {
            if (row[j] != top[j % kBytes]) return false;
        }
    }
    return true;
}

// Grey samples are the source bytes.
struct Grey8 {
    static constexpr uint32_t kBytes = 1;
};

template <class Format>
void SamplesOf(const uint8_t *pixel, uint8_t *samples) {
    if constexpr (Format::kBytes == 1) {
        samples[0] = pixel[0];
    } else {
        Convert(Format::Unpack(pixel), samples, samples + 1, samples + 2);
    }
}

// Kernel::Hold<kBytes, kLength> is the McusTest of whole rows of kLength
// bytes.
template <class Format, class Kernel>
__attribute__((always_inline)) inline uint32_t ProbeFlatMcus(EncoderSession *s, uint8_t *samples) {
    constexpr uint32_t kBytes = Format::kBytes;
    McuPlace place;
    if (!LocateMcu(s, &place)) return 0;
    const uint32_t rows = place.rowsInside < s->mcuHeight ? place.rowsInside : s->mcuHeight;
    // The top row lies highest in the source: if it lies inside, all do.
    ByteStream *source = s->source;
    const uint64_t top = SegmentStart(s, place, 0, kBytes);
    const uint32_t length = place.columnsInside * kBytes;
    if (top + length > source->size) return 0;

    const uint8_t *pixel = source->buffer + top;
    uint32_t run;
    if (place.columnsInside == s->mcuWidth) {
        // Most MCUs of a photograph fail here, on their first row.
        uint64_t words[3];
        if (!RepeatsOnePixel<kBytes>(pixel, words)) return 0;
        // The whole MCUs from here to the right edge whose top rows lie
        // inside the source (the first does).
        uint32_t most = (s->width - place.x0) >> (s->mcuWidth == 16 ? 4 : 3);
        if (top + uint64_t{most} * length > source->size) {
            most = static_cast<uint32_t>((source->size - top) / length);
        }
        run = s->mcuWidth == 16
                  ? Kernel::template Hold<kBytes, 16 * kBytes>(words, pixel, s->stride, rows, most)
                  : Kernel::template Hold<kBytes, 8 * kBytes>(words, pixel, s->stride, rows, most);
    } else {
        run = CutRowsHold<kBytes>(pixel, s->stride, rows, length) ? 1 : 0;
    }
    if (run == 0) return 0;

    SamplesOf<Format>(pixel, samples);
    // Where the fetcher of the last leaves the source: past the lowest row
    // it read. The next MCU is located from the last.
    const uint64_t last = uint64_t{run - 1} * length;
    source->position =
        static_cast<uint32_t>(SegmentStart(s, place, rows - 1, kBytes) + last + length);
    if (kBytes == 1) source->bitCount = 0;
    s->locatedIndex += run - 1;
    s->locatedColumn = static_cast<uint16_t>(s->locatedColumn + run - 1);
    return run;
}

// The probe of a source format, Probes::kProbe<Format>, for a depth and
// pixel order; grey's is null where kGrey is false.
template <class Probes, bool kGrey = true>
FlatMcuProbe ProbeOfFormat(uint16_t bitsPerPixel, uint8_t pixelOrder) {
    const bool blueFirst = pixelOrder == PixelOrderBlueFirst;
    switch (bitsPerPixel) {
        case 8:
            if constexpr (kGrey) return Probes::template kProbe<Grey8>;
            return nullptr;
        case 16: return blueFirst ? Probes::template kProbe<Bgr16> : Probes::template kProbe<Rgb16>;
        case 24: return blueFirst ? Probes::template kProbe<Bgr24> : Probes::template kProbe<Rgb24>;
        default: return blueFirst ? Probes::template kProbe<Bgr32> : Probes::template kProbe<Rgb32>;
    }
}

}  // namespace flat
