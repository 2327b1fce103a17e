// The scan: SOS, every MCU in raster order, and the final bit flush.
#pragma once

#include "encoder_session.h"

int32_t EncodeScan(EncoderSession *session);
