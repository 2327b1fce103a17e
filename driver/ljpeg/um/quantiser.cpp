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

// Division by a constant d as a multiplication (Granlund and Montgomery):
// with l = ceil(log2 d) and m = floor(2^16 (2^l - d) / d) + 1,
//   t1 = (t m) >> 16,  floor(t / d) = (t1 + ((t - t1) >> 1)) >> (l - 1)
// for every 16-bit t. The vector code has one shift count per register, not
// per lane, so the final shift is a multiplication by 2^(17 - l), keeping the
// high half. For d from 8 to 2040, l lies in 3..11: m < 2^16 and the factor
// between 2^6 and 2^14 both fit 16 bits.
void PrepareQuantTable(QuantTable *table) {
    for (int i = 0; i < 64; ++i) {
        uint32_t d = table->divisors[i];
        uint32_t l = 0;
        while ((1u << l) < d) ++l;
        table->reciprocal[i] = static_cast<uint16_t>((65536u * ((1u << l) - d)) / d + 1);
        table->shiftFactor[i] = static_cast<uint16_t>(1u << (17 - l));
    }
}
