// The vector forward DCT, written once for every register width. This is no
// ordinary header: forward_dct_x86.cpp includes it once per width, each time
// inside a namespace that provides the register type V and the operations
// below (Add16, MAdd16, Pack32, LoadRows, StoreRows, ...), under that
// width's target instructions. A register holds one row (or column) of
// eight 16-bit lanes per block; a 256-bit register holds the same row of
// two blocks, one in each 128-bit half, and every operation here works on
// the halves apart, so each half runs the 128-bit transform step for step.
// forward_dct_x86.cpp proves that arithmetic equal to the plain transform.
//
// No include guard: each inclusion defines the functions anew.

// Shifts the 32-bit sums of lanes 0-3 (lo) and 4-7 (hi) right by n and
// narrows them to one register of 16-bit lanes.
template <int n>
[[gnu::always_inline]] inline V Narrow(V lo, V hi) {
    return Pack32(ShiftRight32<n>(lo), ShiftRight32<n>(hi));
}

// The column pass's rounding term on a 32-bit sum; the row pass has its
// offsets instead.
template <int n, bool rows>
[[gnu::always_inline]] inline V Rounded(V sum) {
    if constexpr (rows) return sum;
    return Add32(sum, Splat32(1 << (n - 1)));
}

// One 8-point butterfly across eight registers, v[k] in and out (lane by
// lane). Leaves E0 and E4 unscaled for the caller; the products come out
// descaled by n bits, rounded by offsets for the row pass (rows = true) and
// by rounding terms for the column pass.
template <int n, bool rows>
[[gnu::always_inline]] inline void Butterfly(V *v) {
    V tmp0 = Add16(v[0], v[7]), tmp7 = Sub16(v[0], v[7]);
    V tmp1 = Add16(v[1], v[6]), tmp6 = Sub16(v[1], v[6]);
    V tmp2 = Add16(v[2], v[5]), tmp5 = Sub16(v[2], v[5]);
    V tmp3 = Add16(v[3], v[4]), tmp4 = Sub16(v[3], v[4]);

    V tmp10 = Add16(tmp0, tmp3), tmp13 = Sub16(tmp0, tmp3);
    V tmp11 = Add16(tmp1, tmp2), tmp12 = Sub16(tmp1, tmp2);
    v[0] = Add16(tmp10, tmp11);
    v[4] = Sub16(tmp10, tmp11);

    if constexpr (rows) tmp13 = Add16(tmp13, Splat16(1 << (n - 1)));
    V lo = UnpackLo16(tmp12, tmp13), hi = UnpackHi16(tmp12, tmp13);
    const V e2 = Pair(kE2Tmp12, kE2Tmp13), e6 = Pair(kE6Tmp12, kE6Tmp13);
    v[2] = Narrow<n>(Rounded<n, rows>(MAdd16(lo, e2)), Rounded<n, rows>(MAdd16(hi, e2)));
    v[6] = Narrow<n>(Rounded<n, rows>(MAdd16(lo, e6)), Rounded<n, rows>(MAdd16(hi, e6)));

    V z3 = Add16(tmp4, tmp6), z4 = Add16(tmp5, tmp7);
    if constexpr (rows) z4 = Add16(z4, Splat16(1 << (n - 1)));
    lo = UnpackLo16(z3, z4);
    hi = UnpackHi16(z3, z4);
    const V cz3 = Pair(kZ3z3, kZ3z4), cz4 = Pair(kZ4z3, kZ4z4);
    V z3lo = Rounded<n, rows>(MAdd16(lo, cz3));
    V z3hi = Rounded<n, rows>(MAdd16(hi, cz3));
    V z4lo = Rounded<n, rows>(MAdd16(lo, cz4));
    V z4hi = Rounded<n, rows>(MAdd16(hi, cz4));

    lo = UnpackLo16(tmp4, tmp7);
    hi = UnpackHi16(tmp4, tmp7);
    const V o7 = Pair(kO7Tmp4, kO7Tmp7), o1 = Pair(kO1Tmp4, kO1Tmp7);
    v[7] = Narrow<n>(Add32(MAdd16(lo, o7), z3lo), Add32(MAdd16(hi, o7), z3hi));
    v[1] = Narrow<n>(Add32(MAdd16(lo, o1), z4lo), Add32(MAdd16(hi, o1), z4hi));

    lo = UnpackLo16(tmp5, tmp6);
    hi = UnpackHi16(tmp5, tmp6);
    const V o5 = Pair(kO5Tmp5, kO5Tmp6), o3 = Pair(kO3Tmp5, kO3Tmp6);
    v[5] = Narrow<n>(Add32(MAdd16(lo, o5), z4lo), Add32(MAdd16(hi, o5), z4hi));
    v[3] = Narrow<n>(Add32(MAdd16(lo, o3), z3lo), Add32(MAdd16(hi, o3), z3hi));
}

// Transposes the 8x8 matrix of 16-bit values whose rows are v[0..7].
[[gnu::always_inline]] inline void Transpose(V *v) {
    V a0 = UnpackLo16(v[0], v[1]), a1 = UnpackHi16(v[0], v[1]);
    V a2 = UnpackLo16(v[2], v[3]), a3 = UnpackHi16(v[2], v[3]);
    V a4 = UnpackLo16(v[4], v[5]), a5 = UnpackHi16(v[4], v[5]);
    V a6 = UnpackLo16(v[6], v[7]), a7 = UnpackHi16(v[6], v[7]);
    V b0 = UnpackLo32(a0, a2), b1 = UnpackHi32(a0, a2);
    V b2 = UnpackLo32(a1, a3), b3 = UnpackHi32(a1, a3);
    V b4 = UnpackLo32(a4, a6), b5 = UnpackHi32(a4, a6);
    V b6 = UnpackLo32(a5, a7), b7 = UnpackHi32(a5, a7);
    v[0] = UnpackLo64(b0, b4);
    v[1] = UnpackHi64(b0, b4);
    v[2] = UnpackLo64(b1, b5);
    v[3] = UnpackHi64(b1, b5);
    v[4] = UnpackLo64(b2, b6);
    v[5] = UnpackHi64(b2, b6);
    v[6] = UnpackLo64(b3, b7);
    v[7] = UnpackHi64(b3, b7);
}

// Loads the block transposed: v[x] holds sample x of rows 0..7, widened to
// 16 bits. Source is whatever the width's LoadRows reads: a block, or two
// apart. Three rounds of interleaving 16-bit units leave each register
// with two columns whose bytes alternate, row by row; masking and shifting
// then widens them without another shuffle.
template <typename Source>
[[gnu::always_inline]] inline void LoadColumns(Source samples, V *v) {
    V r01 = LoadRows(samples, 0), r23 = LoadRows(samples, 16);
    V r45 = LoadRows(samples, 32), r67 = LoadRows(samples, 48);
    // Rows 0 and 4, 1 and 5, ...: byte pairs of columns (0, 1), (2, 3), ...
    V a04 = UnpackLo16(r01, r45), a15 = UnpackHi16(r01, r45);
    V a26 = UnpackLo16(r23, r67), a37 = UnpackHi16(r23, r67);
    // Rows 0, 2, 4, 6 (1, 3, 5, 7) of columns 0-3 and of columns 4-7.
    V b0 = UnpackLo16(a04, a26), b1 = UnpackHi16(a04, a26);
    V b2 = UnpackLo16(a15, a37), b3 = UnpackHi16(a15, a37);
    // Rows 0-7 of columns (0, 1), (2, 3), (4, 5), (6, 7).
    V c01 = UnpackLo16(b0, b2), c23 = UnpackHi16(b0, b2);
    V c45 = UnpackLo16(b1, b3), c67 = UnpackHi16(b1, b3);
    const V low = Splat16(0x00FF);
    v[0] = And(c01, low);
    v[1] = ShiftRightLogical16<8>(c01);
    v[2] = And(c23, low);
    v[3] = ShiftRightLogical16<8>(c23);
    v[4] = And(c45, low);
    v[5] = ShiftRightLogical16<8>(c45);
    v[6] = And(c67, low);
    v[7] = ShiftRightLogical16<8>(c67);
}

// The whole transform: samples in, coefficients in natural order out, row
// k in v[k] (for the quantiser to take from there).
template <typename Source>
[[gnu::always_inline]] inline void TransformRows(Source samples, V *v) {
    LoadColumns(samples, v);

    // Rows: lane r of v[k] becomes row result k of row r.
    Butterfly<kDctRowShift, true>(v);
    v[0] = ShiftLeft16<kDctGuardBits>(v[0]);
    v[4] = ShiftLeft16<kDctGuardBits>(v[4]);
    Transpose(v);

    // Columns: lane u of v[k] becomes coefficient (k, u), natural order.
    Butterfly<kDctColumnShift, false>(v);
    v[0] = ShiftRight16<kDctGuardBits>(Add16(v[0], LoadRow16(kDcTerms)));
    v[4] = ShiftRight16<kDctGuardBits>(Add16(v[4], Splat16(1 << (kDctGuardBits - 1))));
}

// The same, stored row by row.
[[gnu::always_inline]] inline void Transform(const uint8_t *samples, int16_t *coefficients) {
    V v[8];
    TransformRows(samples, v);
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) StoreRow(coefficients, k, v[k]);
}
