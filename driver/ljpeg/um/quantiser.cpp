// Quantisation. Quotients of 8-bit samples lie within -1024 to +1016, so the
// 16-bit store never truncates.

#include "quantiser.h"

namespace {

inline int16_t QuantiseOne(int32_t x, int32_t q) {
    int32_t half = q >> 1;
    if (x >= 0) {
        int32_t t = x + half;
        return static_cast<int16_t>(t < q ? 0 : t / q);
    }
    int32_t t = half - x;
    return static_cast<int16_t>(t < q ? 0 : -(t / q));
}

}  // namespace

void Quantise(const int32_t *coefficients, const QuantTable *table, int16_t *quantised) {
    for (int i = 0; i < 64; ++i) quantised[i] = QuantiseOne(coefficients[i], table->divisors[i]);
}

// The vector quantiser needs no magnitudes and no sign fix-up. With
// D = d / 2 and a multiplier m = floor(2^J / D) + 1, so that
// e = m D - 2^J lies in 1..D, and 2^J >= 2^15 D (so 32768 e <= 2^J):
// - for 0 <= x <= 32767, Y = floor(x m / 2^J) = floor(x / D), since
//   x m / 2^J = x / D + x e / (D 2^J) and x e < 32768 e <= 2^J;
// - for x = -a, 1 <= a <= 32768, a m / 2^J exceeds a / D by more than 0
//   and at most 1 / D, so it lies in (n, n + 1] for n = floor(a / D), and
//   Y = -floor(a / D) - 1.
// Then (Y + 1) >> 1 is the quotient rounded half away from zero:
// floor((floor(2x / d) + 1) / 2) = floor((x + d/2) / d) for x >= 0, and
// floor(-floor(2a / d) / 2) = -floor((a + d/2) / d) for x = -a < 0.
//
// In 16-bit lanes: J = 16 + k for the least k >= 2 with 2^(k+1) >= D, so
// that 2^J >= 2^15 D, and
//   P = floor(x m / 2^16) = mulhi(x, m - 2^16) + x   (signed, saturating),
//   Y = floor(P / 2^k) = mulhi(P, 2^(16 - k)),
// the shift being a product because the vector code has one shift count
// per register, not per lane. For d from 8 to 2040 (D from 4 to 1020),
// m - 2^16 lies within -32767..1 and 2^(16 - k) within 2^7..2^14, both
// 16-bit signed values. P fits 16 bits (|x m| <= 2^31 when m <= 2^16) except
// for x = -32768 at d = 8 (m = 2^16 + 1), where the saturated -32768 gives
// Y = -8192 for -8193, which rounds to the same -4096.
void PrepareQuantTable(QuantTable *table) {
    for (int i = 0; i < 64; ++i) {
        uint32_t half = table->divisors[i] >> 1;
        uint32_t k = 2;
        while ((2u << k) < half) ++k;
        // m - 2^16 as a 16-bit two's complement value.
        table->reciprocal[i] = static_cast<uint16_t>((1u << (16 + k)) / half + 1);
        table->shiftFactor[i] = static_cast<uint16_t>(1u << (16 - k));
    }
}
