// The scan: SOS, every MCU through the per-block pipeline, the final flush.
#pragma once

#include "encoder_session.h"

int32_t EncodeScan(EncoderSession *session);
