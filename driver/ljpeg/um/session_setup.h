// Session set-up: the EncoderSession of one call, filled from the job and
// its EncodeSetup before the first segment is written.
#pragma once

#include <stdint.h>

#include "encoder_session.h"
#include "trivjpeg.h"

// Fills the session (stage functions, byte orders, geometry, frame size,
// component sampling, row stride) and writes the whole stream through
// WriteJpegStream. Returns nonzero on success.
int32_t SetUpSession(const JpegEncodeJob *job, const EncodeSetup *setup, EncoderSession *session);

// The MCU grid of the session's frame size and MCU size, and the first MCU
// as the next one to code.
void SetMcuGeometry(EncoderSession *session);
