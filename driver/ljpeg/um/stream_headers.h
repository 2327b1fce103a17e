// The JFIF stream: SOI, APP0, DHT, DQT, SOF0, the scan and EOI, with the
// built-in tables they are derived from. The segment writers only write:
// what they need of the session, SetUpSession (session_setup.h) has set.
#pragma once

#include <stdint.h>

#include "encoder_session.h"

// Four DHT table specifications, as the segment carries them: class and id
// byte, 16 counts, symbols. DC 0, AC 0, DC 1, AC 1 (T.81 Tables K.3, K.5,
// K.4, K.6).
extern const uint8_t HuffmanSpec[416];
// Two DQT tables, each its table byte and 64 entries in natural order
// (T.81 Tables K.1 and K.2).
extern const uint8_t QuantBase[130];
// Natural index of the k-th coefficient in zig-zag order (T.81 Figure A.6).
// clang-format off
inline constexpr uint8_t ZigZagOrder[64] = {
     0,  1,  8, 16,  9,  2,  3, 10,
    17, 24, 32, 25, 18, 11,  4,  5,
    12, 19, 26, 33, 40, 48, 41, 34,
    27, 20, 13,  6,  7, 14, 21, 28,
    35, 42, 49, 56, 57, 50, 43, 36,
    29, 22, 15, 23, 30, 37, 44, 51,
    58, 59, 52, 45, 38, 31, 39, 46,
    53, 60, 61, 54, 47, 55, 62, 63,
};
// clang-format on

int32_t WriteJpegStream(EncoderSession *session);
int32_t WriteApp0(EncoderSession *session);
int32_t WriteDht(EncoderSession *session, HuffmanCodeTable tables[4]);
// Appends one size per code, then a 0; sizes needs room for 257 entries.
uint16_t GenerateCodeSizes(uint8_t *sizes, const uint8_t counts[16]);
void GenerateCodeWords(uint16_t *codes, const uint8_t *sizes);
int32_t WriteDqt(EncoderSession *session, QuantTable tables[2]);
int32_t WriteSof0(EncoderSession *session);
int32_t WriteSos(EncoderSession *session);
