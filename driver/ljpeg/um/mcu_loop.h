// The scan: SOS, every MCU through the per-block pipeline, the final flush.
#pragma once

#include "encoder_session.h"

int32_t EncodeScan(EncoderSession *session);

// The forward DCT and quantiser pair for a SimdLevel.
BlockTransform ChooseTransform(uint32_t simdLevel);

// The transform of two neighbouring blocks at once for a SimdLevel, or null
// where the level has none.
BlockTransform ChoosePairTransform(uint32_t simdLevel);
