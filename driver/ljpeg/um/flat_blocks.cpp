// Flat MCUs: the plain probe on the source rows, and the switch that tests
// and the encoder fuzzer use to send every block the full way.

#include "flat_blocks.h"

#include <atomic>

#include "flat_blocks_rows.h"

using namespace flat;

namespace {

std::atomic<bool> shortcutsEnabled{true};

// Whole rows a 64-bit word at a time.
template <uint32_t kBytes, uint32_t kLength>
uint32_t McusHold(const uint64_t *words, const uint8_t *top, uint32_t stride, uint32_t rows,
                  uint32_t most) {
    constexpr uint32_t kPeriod = kBytes == 3 ? 3 : 1;
    for (uint32_t n = 0; n < most; ++n) {
        const uint8_t *mcu = top + size_t{n} * kLength;
        for (uint32_t i = 0; i < rows; ++i) {
            const uint8_t *row = mcu - size_t{i} * stride;
            __builtin_prefetch(row + 4 * kLength);
            uint64_t difference = 0;
#pragma GCC unroll 8
            for (uint32_t k = 0; k < kLength / 8; ++k) {
                difference |= Load64(row + 8 * k) ^ words[k % kPeriod];
            }
            if (difference != 0) return n;
        }
    }
    return most;
}

struct PlainRows {
    template <uint32_t kBytes, uint32_t kLength>
    static constexpr McusTest *Hold = McusHold<kBytes, kLength>;
};

template <class Format>
uint32_t ProbePlain(EncoderSession *s, uint8_t *samples) {
    return ProbeFlatMcus<Format, PlainRows>(s, samples);
}

struct PlainProbes {
    template <class Format>
    static constexpr FlatMcuProbe kProbe = ProbePlain<Format>;
};

}  // namespace

FlatMcuProbe ChooseFlatProbe(uint16_t bitsPerPixel, uint8_t pixelOrder) {
    return ProbeOfFormat<PlainProbes>(bitsPerPixel, pixelOrder);
}

void EnableFlatShortcuts(bool enabled) {
    shortcutsEnabled.store(enabled, std::memory_order_relaxed);
}
bool FlatShortcutsEnabled() { return shortcutsEnabled.load(std::memory_order_relaxed); }
