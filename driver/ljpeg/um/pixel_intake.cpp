// Pixel intake. The fetchers arrive with the colour conversion; until then
// each one reports that it could not fetch its MCU.

#include "pixel_intake.h"

int32_t FetchGray8(EncoderSession *, uint8_t *) { return 0; }
int32_t FetchRgb16(EncoderSession *, uint8_t *) { return 0; }
int32_t FetchBgr16(EncoderSession *, uint8_t *) { return 0; }
int32_t FetchRgb24(EncoderSession *, uint8_t *) { return 0; }
int32_t FetchBgr24(EncoderSession *, uint8_t *) { return 0; }
int32_t FetchRgb32(EncoderSession *, uint8_t *) { return 0; }
int32_t FetchBgr32(EncoderSession *, uint8_t *) { return 0; }
