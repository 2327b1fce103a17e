// Session set-up and the JFIF stream: SOI, APP0, DHT, DQT, SOF0, the scan
// and EOI, with the built-in tables they are derived from.
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
extern const uint8_t ZigZagOrder[64];

int32_t SetUpSession(const JpegEncodeJob *job, const EncodeSetup *setup, EncoderSession *session);
int32_t WriteJpegStream(EncoderSession *session);
int32_t WriteApp0(EncoderSession *session);
int32_t WriteDht(EncoderSession *session, HuffmanCodeTable tables[4]);
// Appends one size per code, then a 0; sizes needs room for 257 entries.
uint16_t GenerateCodeSizes(uint8_t *sizes, const uint8_t counts[16]);
void GenerateCodeWords(uint16_t *codes, const uint8_t *sizes);
int32_t WriteDqt(EncoderSession *session, QuantTable tables[2]);
int32_t WriteSof0(EncoderSession *session);
int32_t WriteSos(EncoderSession *session);
void SetMcuGeometry(EncoderSession *session);
