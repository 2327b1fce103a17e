// Quantisation of two blocks of one table in AVX2, bit for bit QuantiseSse2
// on each: the same five steps per lane (QuantiseByReciprocal in
// quantiser.h), sixteen lanes at a time.
//
// A register holds the same row of both blocks, block 0 in its low 128 bits,
// so both halves divide by the same table row, which one broadcast load
// fetches. Coefficients come in and quotients go out 16 bytes (one row of
// one block) at a time: that is how the pair DCT stores its rows and how the
// block coder reads them, so every load is forwarded from a single store.

#include <immintrin.h>

#include "quantiser.h"

#if TRIVJPEG_X86

TRIVJPEG_AVX2 void QuantisePairAvx2(const int16_t *coefficients, const QuantTable *table,
                                    int16_t *quantised) {
    const __m128i *in0 = reinterpret_cast<const __m128i *>(coefficients);
    const __m128i *in1 = reinterpret_cast<const __m128i *>(coefficients + 64);
    const __m128i *reciprocal = reinterpret_cast<const __m128i *>(table->reciprocal);
    const __m128i *shiftFactor = reinterpret_cast<const __m128i *>(table->shiftFactor);
    __m128i *out0 = reinterpret_cast<__m128i *>(quantised);
    __m128i *out1 = reinterpret_cast<__m128i *>(quantised + 64);
    const __m256i one = _mm256_set1_epi16(1);
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        __m256i x = _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(in0 + r)),
                                            _mm_loadu_si128(in1 + r), 1);
        __m256i m = _mm256_broadcastsi128_si256(_mm_loadu_si128(reciprocal + r));
        __m256i f = _mm256_broadcastsi128_si256(_mm_loadu_si128(shiftFactor + r));
        __m256i p = _mm256_adds_epi16(_mm256_mulhi_epi16(x, m), x);
        __m256i y = _mm256_srai_epi16(_mm256_add_epi16(_mm256_mulhi_epi16(p, f), one), 1);
        _mm_storeu_si128(out0 + r, _mm256_castsi256_si128(y));
        _mm_storeu_si128(out1 + r, _mm256_extracti128_si256(y, 1));
    }
}

#endif
