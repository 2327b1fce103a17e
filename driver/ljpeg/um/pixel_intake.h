// Pixel intake: one McuFetcher per source pixel format.
#pragma once

#include "encoder_session.h"

int32_t FetchGray8(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb16(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr16(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb24(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr24(EncoderSession *session, uint8_t *samples);
int32_t FetchRgb32(EncoderSession *session, uint8_t *samples);
int32_t FetchBgr32(EncoderSession *session, uint8_t *samples);

// The fetcher for a source format (bits per pixel 8, 16, 24 or 32; pixel
// order 1 for blue first), its vector twin where the level allows one.
McuFetcher ChooseFetcher(uint16_t bitsPerPixel, uint8_t pixelOrder, uint32_t simdLevel);
