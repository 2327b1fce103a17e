// Pixel intake: one McuFetcher per source pixel format.
#pragma once

#include "encoder_session.h"
#include "simd_support.h"

int32_t FetchGray8(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb16(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr16(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb24(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr24(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb32(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr32(EncoderSession *session, uint8_t *samples);


#if TRIVJPEG_X86
// Vector twins of the byte formats, sample for sample: rows wholly inside
// the image are converted eight (AVX2: sixteen) pixels at a time. The
// 16-bit formats have none; grey's SSE2 twin copies as FetchGray8 does, and
// prefetches, which plain i686 code cannot.
int32_t FetchGray8Sse2(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb24Sse2(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr24Sse2(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb32Sse2(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr32Sse2(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb24Ssse3(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr24Ssse3(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb32Ssse3(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr32Ssse3(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb24Avx2(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr24Avx2(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb32Avx2(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr32Avx2(EncoderSession *session, uint8_t *samples);
#if defined(__x86_64__)
// The same at the SimdAvx512 level: an MCU sixteen wide two rows at a time.
int32_t FetchRgb24Avx512(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr24Avx512(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb32Avx512(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr32Avx512(EncoderSession *session, uint8_t *samples);
#endif
#endif
