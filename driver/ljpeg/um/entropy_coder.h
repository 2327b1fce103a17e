// Huffman coding of quantised blocks straight onto the output stream.
#pragma once

#include "encoder_session.h"
#include "simd_support.h"

int32_t CodeBlock(EncoderSession *session, ComponentSpec *component, const int16_t *block);
// Codes `count` blocks whose AC coefficients are all zero, in coding order:
// block i of component owner[i], with quantised DC dc[i]. The same bits as
// any coder gives for them: each a DC difference, then EOB.
int32_t CodeFlatBlocks(EncoderSession *session, ComponentSpec *const *owner, const int16_t *dc,
                       uint32_t count);
// Puts `times` copies of `count` bits (at most 32, right-aligned in `bits`;
// times at most 65535) onto the output when the room left takes them all;
// returns 0, changing nothing, when it does not, for the caller to code the
// same bits through the calls that complete what fits.
int32_t PutRepeatedBits(EncoderSession *session, uint32_t bits, uint32_t count, uint32_t times);
#if TRIVJPEG_X86
// The same coder; finds the nonzero coefficients with SSE2.
int32_t CodeBlockSse2(EncoderSession *session, ComponentSpec *component, const int16_t *block);
// The same again at the SimdAvx2 level: BMI1/BMI2 shifts and bit scans, and
// blocks with many nonzero coefficients categorised sixteen at a time.
int32_t CodeBlockAvx2(EncoderSession *session, ComponentSpec *component, const int16_t *block);
// Blocks in a row at the same level, with one writer: the stream's state is
// read and stored, and the bytes moved, once for the run rather than once a
// block.
int32_t CodeBlocksAvx2(EncoderSession *session, ComponentSpec *const *owner,
                       const int16_t (*blocks)[64], uint32_t count);
#endif
#if defined(__x86_64__)
// Both again at the SimdAvx512 level: a block put in zig-zag order and its
// categories and value bits made 32 at a time, for a walk that takes each
// run straight from the mask.
int32_t CodeBlockAvx512(EncoderSession *session, ComponentSpec *component, const int16_t *block);
int32_t CodeBlocksAvx512(EncoderSession *session, ComponentSpec *const *owner,
                         const int16_t (*blocks)[64], uint32_t count);
#endif
