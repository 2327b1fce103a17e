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
// pixel by pixel in every fetcher. Grey's twin is its own body compiled for
// SSE2, the least a processor needs for the prefetch.

#include "pixel_intake.h"

#include <string.h>

#include "pixel_intake_rows.h"

using namespace intake;

int32_t FetchGray8(EncoderSession *s, uint8_t *samples) { return FetchGrey(s, samples); }
int32_t FetchRgb16(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb16>(s, samples); }
int32_t FetchBgr16(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr16>(s, samples); }
int32_t FetchRgb24(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb24>(s, samples); }
int32_t FetchBgr24(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr24>(s, samples); }
int32_t FetchRgb32(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb32>(s, samples); }
int32_t FetchBgr32(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr32>(s, samples); }
