// Validation of the caller's job and the two mode routines.
#pragma once

#include <stdint.h>

#include "encoder_session.h"

// The largest width and height a baseline frame header can carry.
constexpr uint32_t kMaxDimension = 65535;

int32_t ValidateJob(const JpegEncodeJob *job, EncodeSetup *setup, uint16_t *status);
uint32_t EncodeSizeOnly(const JpegEncodeJob *job, EncodeSetup *setup, uint16_t *status);
uint32_t EncodeToMemory(const JpegEncodeJob *job, EncodeSetup *setup, uint16_t *status);
