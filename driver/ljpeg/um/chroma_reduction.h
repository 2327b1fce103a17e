// Chroma reduction: the three ChromaReducers that turn the Y, Cb and Cr MCU
// planes into the blocks of the McuSampleBuffer, in coding order.
#pragma once

#include <stdint.h>

#include "encoder_session.h"

// Planes of 16 x 16: four Y blocks, then one averaged Cb and one Cr block.
void Reduce2x2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
// Planes of 16 wide and 8 high: two Y blocks, then Cb and Cr.
void Reduce2x1(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
// Planes of 8 x 8, copied unchanged: Y, Cb, Cr.
void ReduceNone(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);

#include "simd_support.h"

#if TRIVJPEG_X86
// The same reductions in SSE2, byte for byte, writing the same bytes.
void Reduce2x2Sse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
void Reduce2x1Sse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
#endif

// The reducer for a subsampling (Sub2x2, Sub2x1, SubNone), its vector twin
// where the level allows one.
ChromaReducer ChooseReducer(uint8_t subsampling, uint32_t simdLevel);
