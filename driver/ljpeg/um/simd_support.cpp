// The vector level of each call: what the processor offers (detected once,
// simd_support_x86.cpp on x86), capped by the tests' limit.

#include "simd_support.h"

#include <atomic>

namespace {

constexpr uint32_t kUnknown = 0xFFFFFFFFu;

// Both are plain words: every thread that detects writes the same value.
std::atomic<uint32_t> detectedLevel{kUnknown};
std::atomic<uint32_t> levelLimit{SimdHighest};

}  // namespace

uint32_t SimdLevelInUse() {
    uint32_t level = detectedLevel.load(std::memory_order_relaxed);
    if (level == kUnknown) {
        level = DetectSimdLevel();
        detectedLevel.store(level, std::memory_order_relaxed);
    }
    uint32_t limit = levelLimit.load(std::memory_order_relaxed);
    return level < limit ? level : limit;
}

void LimitSimdLevel(uint32_t level) { levelLimit.store(level, std::memory_order_relaxed); }

#if !TRIVJPEG_X86
// Elsewhere the plain stages are all there is.
uint32_t DetectSimdLevel() { return SimdNone; }
#endif
