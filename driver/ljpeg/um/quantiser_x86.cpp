// The quantiser's x86 twins, each lane the arithmetic of
// QuantiseByReciprocal (quantiser.h) by the table PrepareQuantTable fills.

#include <immintrin.h>

#include "quantiser.h"

// SSE2: eight lanes at a time. Signed products round towards minus infinity,
// which is what lets the lanes divide without taking magnitudes and signs
// apart.
TRIVJPEG_SSE2 void QuantiseSse2(const int16_t *coefficients, const QuantTable *table,
                                int16_t *quantised) {
    const __m128i *in = reinterpret_cast<const __m128i *>(coefficients);
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m128i *out = reinterpret_cast<__m128i *>(quantised);
    const __m128i one = _mm_set1_epi16(1);
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        __m128i x = _mm_loadu_si128(in + i);
        __m128i p = _mm_adds_epi16(_mm_mulhi_epi16(x, _mm_loadu_si128(reciprocal + i)), x);
        __m128i y = _mm_mulhi_epi16(p, _mm_loadu_si128(shiftFactor + i));
        _mm_storeu_si128(out + i, _mm_srai_epi16(_mm_add_epi16(y, one), 1));
    }
}

// AVX2: two blocks of one table, bit for bit QuantiseSse2 on each, sixteen
// lanes at a time.
//
// Its last three steps (multiply by f, add 1, halve) take one rounding
// multiply here. With f = 2^(16 - k), k >= 2 (PrepareQuantTable never makes
// it smaller), and Y = floor(P f / 2^16), flooring twice being flooring once:
//   (Y + 1) >> 1 = floor((P f / 2^16 + 1) / 2) = floor((P g + 2^14) / 2^15)
// for g = f / 4, and _mm256_mulhrs_epi16(P, g), ((P g >> 14) + 1) >> 1 on
// the exact 32-bit product, is the same floor. With g <= 2^12 the result
// lies within -4096..4096 for every 16-bit P, so its lane holds it. That
// makes four vector steps per row instead of five, the shift of f included.
//
// A register holds the same row of both blocks, block 0 in its low 128 bits,
// so both halves divide by the same table row, which one broadcast load
// fetches. Coefficients come in and quotients go out 16 bytes (one row of
// one block) at a time: that is how the pair DCT stores its rows and how the
// block coder reads them, so every load is forwarded from a single store.

TRIVJPEG_AVX2 void QuantisePairAvx2(const int16_t *coefficients, const QuantTable *table,
                                    int16_t *quantisedFirst, int16_t *quantisedSecond) {
    const __m128i *in0 = reinterpret_cast<const __m128i *>(coefficients);
    const __m128i *in1 = reinterpret_cast<const __m128i *>(coefficients + 64);
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m128i *out0 = reinterpret_cast<__m128i *>(quantisedFirst);
    __m128i *out1 = reinterpret_cast<__m128i *>(quantisedSecond);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(in0 + r)),
                                            _mm_loadu_si128(in1 + r), 1);
        __m256i m = _mm256_broadcastsi128_si256(_mm_loadu_si128(reciprocal + r));
        __m256i f = _mm256_broadcastsi128_si256(_mm_loadu_si128(shiftFactor + r));
        __m256i p = _mm256_adds_epi16(_mm256_mulhi_epi16(x, m), x);
        __m256i y = _mm256_mulhrs_epi16(p, _mm256_srli_epi16(f, 2));
        _mm_storeu_si128(out0 + r, _mm256_castsi256_si128(y));
        _mm_storeu_si128(out1 + r, _mm256_extracti128_si256(y, 1));
    }
}
