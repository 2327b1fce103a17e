// Flat blocks and MCUs. A rendered page is mostly blank paper: most of its
// MCUs hold one colour, and many blocks of the others one sample value. The
// forward DCT of a block of 64 equal samples v has every AC coefficient
// exactly zero and DC 64 (v - 128), so such a block needs neither transform
// nor quantiser nor AC coding: its quantised DC follows from v and the
// table, and it codes as a DC difference and EOB. An MCU whose visible
// source pixels are all one value needs no fetch either: every block of it
// is flat, with the samples of that one pixel (chroma averages of equal
// samples are that sample, and the edge padding repeats it).
#pragma once

#include <stdint.h>
#include <string.h>

#include "encoder_session.h"
#include "quantiser.h"
#include "simd_support.h"

// The probe for a source format: depth 8, 16, 24 or 32 bits, and pixel
// order (PixelOrderBlueFirst or not), which the samples depend on.
FlatMcuProbe ChooseFlatProbe(uint16_t bitsPerPixel, uint8_t pixelOrder);

#if TRIVJPEG_X86
// The same probes testing whole rows 16 (SSE2) or 32 (AVX2) bytes at a
// time; none for grey, whose 8-byte rows the plain probe tests as one word.
FlatMcuProbe FlatProbeSse2(uint16_t bitsPerPixel, uint8_t pixelOrder);
FlatMcuProbe FlatProbeAvx2(uint16_t bitsPerPixel, uint8_t pixelOrder);
#endif

// Whether the 64 samples of a block are all equal.
inline bool IsFlatBlock(const uint8_t *samples) {
    uint64_t first, last;
    memcpy(&first, samples, 8);
    memcpy(&last, samples + 56, 8);
    // The first row must be one byte repeated, and the last the same; most
    // busy blocks, smooth ones too, fail here.
    if (first != (first & 0xFF) * 0x0101010101010101u || last != first) return false;
    uint64_t difference = 0;
    for (int k = 1; k < 7; ++k) {
        uint64_t row;
        memcpy(&row, samples + 8 * k, 8);
        difference |= row ^ first;
    }
    return difference == 0;
}

// The quantised DC of a block of 64 samples equal to `sample`, as the
// transform and quantiser give it: the DCT's DC is the sum of the 64
// level-shifted samples, within -8192..8128, where the scalar lane of the
// vector quantiser gives the quotient the divisions do.
inline int16_t FlatBlockDc(uint8_t sample, const QuantTable *table) {
    return static_cast<int16_t>(QuantiseByReciprocal(64 * (int32_t{sample} - 128), table, 0));
}

// Whether calls may take the short paths (the default). Tests and the
// encoder fuzzer turn them off for the whole process, to compare every
// stream with the one the full path gives.
void EnableFlatShortcuts(bool enabled);
bool FlatShortcutsEnabled();
