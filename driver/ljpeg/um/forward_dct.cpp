// Forward DCT: an 8-point integer DCT over each row, then over each column
// of the row results, with the Loeffler-Ligtenberg-Moschytz factorisation
// (twelve multiplications per 8 points).
//
// The constants are the real factors scaled by 2^13 (forward_dct.h). The row
// pass keeps two fractional guard bits (it descales products by 13 - 2 = 11
// bits and shifts the unmultiplied even sums up by 2); the column pass
// removes them with the constant bits (15 bits, and 2 for the even sums).
//
// 32 bits suffice for 8-bit samples: level-shifted inputs are at most 128 in
// magnitude, so a row result is at most 8 x 128 x sqrt2 x 4 (guard bits)
// = 5793, a column butterfly difference at most 11586, and the largest
// column sum, O3 = tmp6 x 25172 + z2 + z3, at most 292M + 487M + 818M, about
// 1.6 x 10^9 < 2^31.

#include "forward_dct.h"

namespace {

// The butterfly both passes share: even outputs E0, E4 (unscaled sums) and
// E2, E6, odd outputs O1, O3, O5, O7 (scaled by 2^13).
struct Outputs {
    int32_t e0, e2, e4, e6, o1, o3, o5, o7;
};

inline Outputs Butterfly(int32_t s0, int32_t s1, int32_t s2, int32_t s3, int32_t s4, int32_t s5,
                         int32_t s6, int32_t s7) {
    int32_t tmp0 = s0 + s7, tmp7 = s0 - s7;
    int32_t tmp1 = s1 + s6, tmp6 = s1 - s6;
    int32_t tmp2 = s2 + s5, tmp5 = s2 - s5;
    int32_t tmp3 = s3 + s4, tmp4 = s3 - s4;

    Outputs out;
    int32_t tmp10 = tmp0 + tmp3, tmp13 = tmp0 - tmp3;
    int32_t tmp11 = tmp1 + tmp2, tmp12 = tmp1 - tmp2;
    int32_t z1 = (tmp12 + tmp13) * FIX_0_541196100;
    out.e0 = tmp10 + tmp11;
    out.e4 = tmp10 - tmp11;
    out.e2 = z1 + tmp13 * FIX_0_765366865;
    out.e6 = z1 - tmp12 * FIX_1_847759065;

    z1 = tmp4 + tmp7;
    int32_t z2 = tmp5 + tmp6;
    int32_t z3 = tmp4 + tmp6;
    int32_t z4 = tmp5 + tmp7;
    int32_t z5 = (z3 + z4) * FIX_1_175875602;
    z1 *= -FIX_0_899976223;
    z2 *= -FIX_2_562915447;
    z3 = z3 * -FIX_1_961570560 + z5;
    z4 = z4 * -FIX_0_390180644 + z5;
    out.o7 = tmp4 * FIX_0_298631336 + z1 + z3;
    out.o5 = tmp5 * FIX_2_053119869 + z2 + z4;
    out.o3 = tmp6 * FIX_3_072711026 + z2 + z3;
    out.o1 = tmp7 * FIX_1_501321110 + z1 + z4;
    return out;
}

// Rounds x / 2^n to the nearest integer, halves up (>> of a negative value
// rounds towards minus infinity).
inline int32_t Descale(int32_t x, int n) { return (x + (1 << (n - 1))) >> n; }

}  // namespace

void ForwardDct(const uint8_t *samples, int32_t *coefficients) {
    int32_t work[64];
    for (int r = 0; r < 8; ++r) {
        const uint8_t *in = samples + 8 * r;
        Outputs o = Butterfly(in[0] - 128, in[1] - 128, in[2] - 128, in[3] - 128, in[4] - 128,
                              in[5] - 128, in[6] - 128, in[7] - 128);
        int32_t *w = work + 8 * r;
        w[0] = o.e0 * (1 << kDctGuardBits);
        w[4] = o.e4 * (1 << kDctGuardBits);
        w[2] = Descale(o.e2, kDctRowShift);
        w[6] = Descale(o.e6, kDctRowShift);
        w[7] = Descale(o.o7, kDctRowShift);
        w[5] = Descale(o.o5, kDctRowShift);
        w[3] = Descale(o.o3, kDctRowShift);
        w[1] = Descale(o.o1, kDctRowShift);
    }
    for (int j = 0; j < 8; ++j) {
        const int32_t *w = work + j;
        Outputs o = Butterfly(w[0], w[8], w[16], w[24], w[32], w[40], w[48], w[56]);
        int32_t *out = coefficients + j;
        out[0] = Descale(o.e0, kDctGuardBits);
        out[32] = Descale(o.e4, kDctGuardBits);
        out[16] = Descale(o.e2, kDctColumnShift);
        out[48] = Descale(o.e6, kDctColumnShift);
        out[56] = Descale(o.o7, kDctColumnShift);
        out[40] = Descale(o.o5, kDctColumnShift);
        out[24] = Descale(o.o3, kDctColumnShift);
        out[8] = Descale(o.o1, kDctColumnShift);
    }
}
