// The flat-MCU probe's vector twins: whole rows tested 16 (SSE2) or 32
// (AVX2) bytes at a time against the repeated pixel, with the same answer
// as the plain test of 64-bit words.

#include <immintrin.h>

#include "flat_blocks.h"
#include "flat_blocks_rows.h"

using namespace flat;

namespace {

// The words of a row that repeats `words`, to load patterns from: the 8 of
// the longest row, and 2 more that the loads of a pattern past its end may
// touch.
template <uint32_t kBytes>
struct Repeated {
    uint64_t word[10];
    explicit Repeated(const uint64_t *words) {
#pragma GCC unroll 10
        for (uint32_t k = 0; k < 10; ++k) word[k] = words[kBytes == 3 ? k % 3 : 0];
    }
};

TRIVJPEG_TARGET_BEGIN("sse2")

template <uint32_t kBytes, uint32_t kLength>
uint32_t McusHoldSse2(const uint64_t *words, const uint8_t *top, uint32_t stride, uint32_t rows,
                      uint32_t most) {
    constexpr uint32_t kChunks = kLength / 16;  // and 8 bytes more where kLength % 16
    const Repeated<kBytes> repeated(words);
    __m128i pattern[kChunks + 1];
    for (uint32_t c = 0; c < kChunks; ++c) {
        pattern[c] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(repeated.word + 2 * c));
    }
    pattern[kChunks] =
        _mm_loadl_epi64(reinterpret_cast<const __m128i *>(repeated.word + 2 * kChunks));
    for (uint32_t n = 0; n < most; ++n) {
        // Every row's difference gathered, one test per MCU: a page's
        // busy MCUs are fetched next anyway, and a photograph's MCUs end at
        // the probe's first-row check.
        const uint8_t *row = top + size_t{n} * kLength;
        __m128i difference = _mm_setzero_si128();
#pragma GCC unroll 2
        for (uint32_t i = 0; i < rows; ++i, row -= stride) {
            __builtin_prefetch(row + 4 * kLength);
            for (uint32_t c = 0; c < kChunks; ++c) {
                const __m128i bytes =
                    _mm_loadu_si128(reinterpret_cast<const __m128i *>(row + 16 * c));
                difference = _mm_or_si128(difference, _mm_xor_si128(bytes, pattern[c]));
            }
            if constexpr (kLength % 16 != 0) {
                const __m128i bytes =
                    _mm_loadl_epi64(reinterpret_cast<const __m128i *>(row + 16 * kChunks));
                difference = _mm_or_si128(difference, _mm_xor_si128(bytes, pattern[kChunks]));
            }
        }
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(difference, _mm_setzero_si128())) != 0xFFFF) {
            return n;
        }
    }
    return most;
}

struct Sse2Rows {
    template <uint32_t kBytes, uint32_t kLength>
    static constexpr McusTest *Hold = McusHoldSse2<kBytes, kLength>;
};

template <class Format>
uint32_t ProbeSse2(EncoderSession *s, uint8_t *samples) {
    return ProbeFlatMcus<Format, Sse2Rows>(s, samples);
}

struct Sse2Probes {
    template <class Format>
    static constexpr FlatMcuProbe kProbe = ProbeSse2<Format>;
};

TRIVJPEG_TARGET_END

TRIVJPEG_TARGET_BEGIN("sse2,ssse3,avx2,bmi,bmi2,popcnt")

template <uint32_t kBytes, uint32_t kLength>
uint32_t McusHoldAvx2(const uint64_t *words, const uint8_t *top, uint32_t stride, uint32_t rows,
                      uint32_t most) {
    constexpr uint32_t kWide = kLength / 32;          // 32-byte chunks,
    constexpr uint32_t kRest = kLength - 32 * kWide;  // then 16 and 8 bytes
    const Repeated<kBytes> repeated(words);
    __m256i wide[kWide + 1];
    for (uint32_t c = 0; c < kWide; ++c) {
        wide[c] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(repeated.word + 4 * c));
    }
    const uint64_t *restWords = repeated.word + 4 * kWide;
    const __m128i half = _mm_loadu_si128(reinterpret_cast<const __m128i *>(restWords));
    const __m128i quarter =
        _mm_loadl_epi64(reinterpret_cast<const __m128i *>(restWords + (kRest >= 16 ? 2 : 0)));
    for (uint32_t n = 0; n < most; ++n) {
        // One test per MCU, as McusHoldSse2.
        const uint8_t *row = top + size_t{n} * kLength;
        __m256i difference = _mm256_setzero_si256();
        __m128i rest = _mm_setzero_si128();
#pragma GCC unroll 2
        for (uint32_t i = 0; i < rows; ++i, row -= stride) {
            __builtin_prefetch(row + 4 * kLength);
            for (uint32_t c = 0; c < kWide; ++c) {
                const __m256i bytes =
                    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + 32 * c));
                difference = _mm256_or_si256(difference, _mm256_xor_si256(bytes, wide[c]));
            }
            const uint8_t *tail = row + 32 * kWide;
            if constexpr (kRest >= 16) {
                rest = _mm_or_si128(
                    rest,
                    _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i *>(tail)), half));
                tail += 16;
            }
            if constexpr (kRest % 16 != 0) {
                rest = _mm_or_si128(
                    rest, _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(tail)),
                                        quarter));
            }
        }
        if (!_mm256_testz_si256(difference, difference) || !_mm_testz_si128(rest, rest)) {
            return n;
        }
    }
    return most;
}

struct Avx2Rows {
    template <uint32_t kBytes, uint32_t kLength>
    static constexpr McusTest *Hold = McusHoldAvx2<kBytes, kLength>;
};

template <class Format>
uint32_t ProbeAvx2(EncoderSession *s, uint8_t *samples) {
    return ProbeFlatMcus<Format, Avx2Rows>(s, samples);
}

struct Avx2Probes {
    template <class Format>
    static constexpr FlatMcuProbe kProbe = ProbeAvx2<Format>;
};

TRIVJPEG_TARGET_END

}  // namespace

FlatMcuProbe FlatProbeSse2(uint16_t bitsPerPixel, uint8_t pixelOrder) {
    return ProbeOfFormat<Sse2Probes, false>(bitsPerPixel, pixelOrder);
}

FlatMcuProbe FlatProbeAvx2(uint16_t bitsPerPixel, uint8_t pixelOrder) {
    return ProbeOfFormat<Avx2Probes, false>(bitsPerPixel, pixelOrder);
}
