// A hand-built encoder session for the pixel fetchers: a bottom-up source
// image that owns exactly the bytes it needs (so AddressSanitizer reports any
// read past its end), the session fields the fetchers read, and a sample
// buffer filled with a canary so that a test can see which bytes a fetch
// wrote. Also the SIMD levels at which the fetchers and reducers are tested.
#pragma once

#include <stdint.h>
#include <string.h>

#include <vector>

#include "byte_stream.h"
#include "encoder_session.h"
#include "encoder_stages.h"
#include "jpeg_test_support.h"
#include "simd_support.h"
#include "session_setup.h"
#include "stream_headers.h"
#include "trivjpeg.h"

namespace jpegtest {

// Every level the encoder can choose; a test skips those above what this
// processor has.
constexpr uint32_t kSimdLevels[] = {SimdNone, SimdSse2, SimdSsse3, SimdAvx2, SimdAvx512};

inline const char *SimdLevelName(uint32_t level) {
    const char *names[] = {"Plain", "Sse2", "Ssse3", "Avx2", "Avx512"};
    return level < 5 ? names[level] : "Unknown";
}

inline bool SimdLevelAvailable(uint32_t level) { return level <= SimdLevelInUse(); }

// Each distinct transform kernel (a member of TransformKernels) that the
// encoder offers at the levels this processor has; none on other targets.
template <class Kernel>
std::vector<Kernel> OfferedKernels(Kernel TransformKernels::*member) {
    std::vector<Kernel> kernels;
    for (uint32_t level : kSimdLevels) {
        if (!SimdLevelAvailable(level)) continue;
        Kernel k = ChooseTransformKernels(level).*member;
        bool known = false;
        for (Kernel seen : kernels) known = known || seen == k;
        if (k && !known) kernels.push_back(k);
    }
    return kernels;
}

// The fetcher and the reducer the encoder chooses at a level.
inline McuFetcher FetcherAt(uint32_t level, uint32_t bitsPerPixel, uint8_t pixelOrder) {
    return ChooseStages(level, static_cast<uint16_t>(bitsPerPixel), pixelOrder, SubNone).fetcher;
}
inline ChromaReducer ReducerAt(uint32_t level, uint8_t subsampling) {
    return ChooseStages(level, 24, 0, subsampling).chromaReducer;
}

struct FetchRig {
    static constexpr uint8_t kCanary = 0x5A;

    std::vector<uint8_t> source;
    ByteStream stream{};
    EncoderSession session{};
    uint16_t status = StatusBase;
    uint8_t samples[kMcuSampleBufferSize];

    // A grey session passes no reducer; its MCU must be 8 x 8.
    FetchRig(uint32_t width, uint32_t height, uint32_t bitsPerPixel, uint8_t mcuWidth,
             uint8_t mcuHeight, ChromaReducer reducer)
        : source(size_t{RowStride(width, bitsPerPixel)} * height),
          bytesPerPixel_(bitsPerPixel / 8) {
        session.componentCount = bitsPerPixel == 8 ? 1 : 3;
        session.width = width;
        session.height = height;
        session.frameWidth = static_cast<uint16_t>(width);
        session.frameHeight = static_cast<uint16_t>(height);
        session.stride = RowStride(width, bitsPerPixel);
        session.sourceStart = 0;
        session.mcuWidth = mcuWidth;
        session.mcuHeight = mcuHeight;
        session.chromaReducer = reducer;
        session.source = &stream;
        session.status = &status;
        SetMcuGeometry(&session);
        Attach();
        memset(samples, kCanary, sizeof samples);
    }
    FetchRig(const FetchRig &) = delete;
    FetchRig &operator=(const FetchRig &) = delete;

    // Keeps the first n source bytes, in a new allocation of exactly n bytes.
    void Truncate(size_t n) {
        source = std::vector<uint8_t>(source.begin(), source.begin() + n);
        Attach();
    }

    // First byte of pixel (x, y) of the picture, y = 0 being its top row,
    // which the caller stores last.
    uint8_t *Pixel(uint32_t x, uint32_t y) {
        return source.data() + size_t{session.height - 1 - y} * session.stride +
               size_t{x} * bytesPerPixel_;
    }

    int32_t Fetch(McuFetcher fetcher, uint32_t mcuIndex) {
        session.mcuIndex = mcuIndex;
        return fetcher(&session, samples);
    }

private:
    void Attach() {
        InitMemoryStream(&stream, static_cast<uint32_t>(source.size()), source.data(), &status);
    }

    uint32_t bytesPerPixel_;
};

}  // namespace jpegtest
