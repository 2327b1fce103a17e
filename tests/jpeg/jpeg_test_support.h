// Small helpers shared by the TRIVJPEG unit tests: source images with the
// library's row layout, and byte-vector views of a memory stream.
#pragma once

#include <stdint.h>

#include <vector>

#include "byte_stream.h"
#include "simd_support.h"
#include "trivjpeg.h"

namespace jpegtest {

// Bytes per source row: rows are padded to a multiple of 4 bytes.
inline uint32_t RowStride(uint32_t width, uint32_t bitsPerPixel) {
    return (width * bitsPerPixel + 31) / 32 * 4;
}

// A job over its own source pixels and destination buffer. The source holds a
// smooth ramp so that any later stage has real data to read; the destination
// is filled with a sentinel so that tests can see what was written and what
// was not.
struct JobRig {
    static constexpr uint8_t kSentinel = 0xA5;

    std::vector<uint8_t> source;
    std::vector<uint8_t> dest;
    JpegEncodeJob job{};

    JobRig(uint32_t width, uint32_t height, uint16_t bitsPerPixel, uint8_t quality = 75,
           uint8_t subsampling = Sub2x2, uint32_t destCapacity = 1 << 16) {
        source.resize(size_t{RowStride(width, bitsPerPixel)} * height);
        for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 7 + i / 13);
        dest.assign(destCapacity, kSentinel);
        job.sourceData = source.data();
        job.sourceSize = static_cast<uint32_t>(source.size());
        job.destData = dest.data();
        job.destSize = destCapacity;
        job.width = width;
        job.height = height;
        job.bitsPerPixel = bitsPerPixel;
        job.quality = quality;
        job.subsampling = subsampling;
        job.pixelOrder = 0;
    }
};

// The bytes a memory stream holds below its position.
inline std::vector<uint8_t> Written(const ByteStream &s) {
    return std::vector<uint8_t>(s.buffer, s.buffer + s.position);
}

// Caps the vector level for the life of the object: the stages then run as
// they would on a processor that has no more than `level`.
class SimdLimit {
public:
    explicit SimdLimit(uint32_t level) { LimitSimdLevel(level); }
    ~SimdLimit() { LimitSimdLevel(SimdHighest); }
    SimdLimit(const SimdLimit &) = delete;
    SimdLimit &operator=(const SimdLimit &) = delete;
};

}  // namespace jpegtest
