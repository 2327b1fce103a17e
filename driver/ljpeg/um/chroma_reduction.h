// Chroma reduction: the three ChromaReducers that turn the Y, Cb and Cr MCU
// planes into the blocks of the McuSampleBuffer, in coding order.
#pragma once

#include <stdint.h>

#include "encoder_session.h"
#include "simd_support.h"

// Planes of 16 x 16: four Y blocks, then one averaged Cb and one Cr block.
void Reduce2x2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
// Planes of 16 wide and 8 high: two Y blocks, then Cb and Cr.
void Reduce2x1(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
// Planes of 8 x 8, copied unchanged: Y, Cb, Cr.
void ReduceNone(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);

#if TRIVJPEG_X86
// The same reductions in SSE2 (chroma_reduction_x86.cpp), writing the same
// bytes.
void Reduce2x2Sse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
void Reduce2x1Sse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
void ReduceNoneSse2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
// 4:2:0 and 4:2:2 in AVX2: Cb and Cr averaged side by side.
void Reduce2x2Avx2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
void Reduce2x1Avx2(uint8_t *samples, const uint8_t *y, const uint8_t *cb, const uint8_t *cr);
#endif
