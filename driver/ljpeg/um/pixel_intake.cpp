// Pixel intake. Each McuFetcher reads the MCU that the session's mcuIndex
// designates from the bottom-up source rows, converts it to Y, Cb and Cr,
// replicates the last column and row inside the image into the part of the
// MCU beyond the right and bottom edges, and leaves the samples in the
// McuSampleBuffer (colour through the session's ChromaReducer).
//
// The seven fetchers differ only in how one pixel is unpacked. Every byte
// they read lies inside the source stream: offsets are computed in 64 bits,
// so a hostile job cannot wrap them back into range.
//
// The 24- and 32-bit formats also have vector twins (pixel_intake_x86.cpp),
// which convert the MCU rows lying wholly inside the image eight or sixteen
// pixels at a time into the same samples; rows cut by the right edge go
// pixel by pixel in every fetcher.

#include "pixel_intake.h"

#include <string.h>

#include "pixel_intake_rows.h"

using namespace intake;

// Grey samples go straight into the one block of the MCU. A row segment
// wholly inside the source is copied at once, with the effects ReadByte
// would have had on the stream (position past the segment, no pending bits);
// one that runs past the end is read through ReadByte, sample by sample, so
// that the samples before the missing one are written and the read reports
// the bound, as a reader of the source byte by byte would.
int32_t FetchGray8(EncoderSession *s, uint8_t *samples) {
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

int32_t FetchRgb16(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb16>(s, samples); }
int32_t FetchBgr16(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr16>(s, samples); }
int32_t FetchRgb24(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb24>(s, samples); }
int32_t FetchBgr24(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr24>(s, samples); }
int32_t FetchRgb32(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb32>(s, samples); }
int32_t FetchBgr32(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr32>(s, samples); }
