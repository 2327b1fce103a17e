// Jobs for the hardening tests: every format, valid and failing, each with
// the result, length and bytes a lone call produces.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "trivjpeg.h"

namespace hardening {

struct Case {
    JpegEncodeJob job;                 // destData/destSize filled per call
    std::vector<uint8_t> source;
    uint32_t mode = ModeEncode;
    uint32_t capacity = 0;             // destination bytes for the call
    uint16_t expectedStatus = 0;
    uint32_t expectedDestSize = 0;
    std::vector<uint8_t> expectedBytes;  // the destination after the call

    // Runs the case into dest (resized to capacity); returns the status and
    // leaves the job's destSize in *destSize.
    uint16_t Run(std::vector<uint8_t> *dest, uint32_t *destSize) const;
};

// Every depth, pixel order and subsampling at a few qualities, plus jobs
// that fail in validation, on SOI, in the headers, in the scan (output full
// and source short) and with a bad mode byte. The expectations come from
// running each case alone.
std::vector<Case> MakeCases();

}  // namespace hardening
