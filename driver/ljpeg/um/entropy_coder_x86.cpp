// The block coder's x86 twins: the nonzero coefficients found with SSE2,
// and at the AVX2 level put in zig-zag order by byte shuffles, with BMI1/BMI2
// shifts and bit scans and the categories of busy blocks computed sixteen at
// a time. The same bytes as CodeBlock.

#include <immintrin.h>

#include "entropy_coder.h"
#include "entropy_coder_direct.h"

using namespace coder;

namespace {

// The same with SSE2: each compare of a row with zero, packed two rows to a
// register, gives 16 mask bits at once.
TRIVJPEG_SSE2 inline uint64_t NonzeroAcSse2(const int16_t *block) {
    const __m128i zero = _mm_setzero_si128();
    uint64_t natural = 0;
#pragma GCC unroll 4
    for (int r = 0; r < 8; r += 2) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * r));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(block + 8 * r + 8));
        __m128i zeros = _mm_packs_epi16(_mm_cmpeq_epi16(a, zero), _mm_cmpeq_epi16(b, zero));
        uint32_t bits = static_cast<uint32_t>(_mm_movemask_epi8(zeros)) ^ 0xFFFFu;
        natural |= uint64_t{bits} << 8 * r;
    }
    return ToZigZag(natural);
}

// The byte shuffles that put a block's zero flags in zig-zag order. After
// the packs in NonzeroAcAvx2, each 128-bit lane holds the flags of two rows:
// source 0 rows 0 and 2, source 1 rows 1 and 3, source 2 rows 4 and 6,
// source 3 rows 5 and 7. Output o holds zig-zag positions 32o to 32o + 31;
// the shuffle of source s takes the flags that source holds and zeros
// (0x80) elsewhere.
struct ZigZagShuffles {
    alignas(32) uint8_t index[2][4][32];
};
constexpr ZigZagShuffles MakeZigZagShuffles() {
    constexpr uint8_t kSource[8] = {0, 1, 0, 1, 2, 3, 2, 3};
    ZigZagShuffles t{};
    for (int o = 0; o < 2; ++o) {
        for (int s = 0; s < 4; ++s) {
            for (int j = 0; j < 32; ++j) {
                const int n = ZigZagOrder[32 * o + j], row = n / 8;
                t.index[o][s][j] =
                    kSource[row] == s ? static_cast<uint8_t>((row & 2) * 4 + n % 8) : uint8_t{0x80};
            }
        }
    }
    return t;
}
inline constexpr ZigZagShuffles kZigZagShuffles = MakeZigZagShuffles();

// The same at the AVX2 level, without the table lookups: the zero flags of
// all 64 coefficients as bytes, shuffled into zig-zag order, 32 to a mask.
TRIVJPEG_AVX2 inline __m256i ZeroFlagsAvx2(const int16_t *block, int i) {
    return _mm256_cmpeq_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + 16 * i)),
                              _mm256_setzero_si256());
}
TRIVJPEG_AVX2 inline __m256i TakeAvx2(__m256i source, const uint8_t *index) {
    return _mm256_shuffle_epi8(source, _mm256_load_si256(reinterpret_cast<const __m256i *>(index)));
}
// The sources of the shuffles, from 64 bytes in block order as packus
// leaves them in two registers: each 128-bit half in both halves.
TRIVJPEG_AVX2 inline void ZigZagSourcesAvx2(__m256i low, __m256i high, __m256i (&sources)[4]) {
    sources[0] = _mm256_permute4x64_epi64(low, 0x44);
    sources[1] = _mm256_permute4x64_epi64(low, 0xEE);
    sources[2] = _mm256_permute4x64_epi64(high, 0x44);
    sources[3] = _mm256_permute4x64_epi64(high, 0xEE);
}
// Zig-zag positions 32o to 32o + 31 of those 64 bytes.
TRIVJPEG_AVX2 inline __m256i ZigZagPartAvx2(const __m256i (&sources)[4], int o) {
    const auto &index = kZigZagShuffles.index[o];
    return _mm256_or_si256(
        _mm256_or_si256(TakeAvx2(sources[0], index[0]), TakeAvx2(sources[1], index[1])),
        _mm256_or_si256(TakeAvx2(sources[2], index[2]), TakeAvx2(sources[3], index[3])));
}
TRIVJPEG_AVX2 inline uint32_t NonzeroAtAvx2(const __m256i (&sources)[4], int o) {
    return ~static_cast<uint32_t>(_mm256_movemask_epi8(ZigZagPartAvx2(sources, o)));
}
TRIVJPEG_AVX2 inline uint64_t NonzeroAcAvx2(const int16_t *block) {
    const __m256i low = _mm256_packs_epi16(ZeroFlagsAvx2(block, 0), ZeroFlagsAvx2(block, 1));
    const __m256i high = _mm256_packs_epi16(ZeroFlagsAvx2(block, 2), ZeroFlagsAvx2(block, 3));
    __m256i sources[4];
    ZigZagSourcesAvx2(low, high, sources);
    return (uint64_t{NonzeroAtAvx2(sources, 1)} << 32 | NonzeroAtAvx2(sources, 0)) & ~uint64_t{1};
}

// The categories of sixteen magnitudes: a magnitude converted to float has
// the exponent 127 + floor(log2 m) for m >= 1 and 0 for m = 0, so exponent
// - 126, saturated at 0, is the number of significant bits.
TRIVJPEG_AVX2 inline __m256i CategoriesOfAvx2(__m256i m) {
    __m256i lo = _mm256_cvtepu16_epi32(_mm256_castsi256_si128(m));
    __m256i hi = _mm256_cvtepu16_epi32(_mm256_extracti128_si256(m, 1));
    lo = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(lo)), 23);
    hi = _mm256_srli_epi32(_mm256_castps_si256(_mm256_cvtepi32_ps(hi)), 23);
    // packus works within 128-bit halves; the permute restores order.
    __m256i e = _mm256_permute4x64_epi64(_mm256_packus_epi32(lo, hi), 0xD8);
    return _mm256_subs_epu16(e, _mm256_set1_epi16(126));
}
// The magnitudes of a block's first sixteen coefficients without the DC's
// (lane 0), which is coded as a difference and checked by the coder.
TRIVJPEG_AVX2 inline __m256i WithoutDcAvx2(__m256i m) {
    return _mm256_and_si256(
        m, _mm256_setr_epi16(0, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1));
}
// Whether the AC magnitudes ORed into `magnitudes` all have categories the
// tables code. abs(-32768) stays 0x8000, which the mask catches like every
// other.
TRIVJPEG_AVX2 inline bool AcCategoriesFitAvx2(__m256i magnitudes) {
    return _mm256_testz_si256(magnitudes,
                              _mm256_set1_epi16(static_cast<int16_t>(~kMaxAcMagnitude)));
}

// The categories of sixteen coefficients at a time (CategoriesOfAvx2). The
// value bits are y for y >= 0 and the low bits of y - 1 otherwise. False
// when an AC magnitude has a category the tables cannot code.
TRIVJPEG_AVX2 bool CategoriseAvx2(const int16_t *block, CoefficientBits *bits) {
    // The bitwise OR of the AC magnitudes.
    __m256i magnitudes = _mm256_setzero_si256();
#pragma GCC unroll 2
    for (int i = 0; i < 64; i += 32) {
        __m256i categories[2];
        for (int j = 0; j < 2; ++j) {
            __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + i + 16 * j));
            __m256i value = _mm256_add_epi16(y, _mm256_srai_epi16(y, 15));
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(bits->value + i + 16 * j), value);
            __m256i m = _mm256_abs_epi16(y);
            magnitudes = _mm256_or_si256(magnitudes, i + j == 0 ? WithoutDcAvx2(m) : m);
            categories[j] = CategoriesOfAvx2(m);
        }
        __m256i packed =
            _mm256_permute4x64_epi64(_mm256_packus_epi16(categories[0], categories[1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(bits->category + i), packed);
    }
    return AcCategoriesFitAvx2(magnitudes);
}

// MovePacked 32 bytes at a time: a compare with 0xFF finds the bytes to
// stuff in each, and the last part goes by one store of the packed bytes
// blended over what lay past them. A valid block packs at most 209 bytes,
// 418 stuffed, so the 32 bytes read and stored at the last part stay inside
// the stream's reserve (kMaxBlockBytes); its room holds 32 bytes past them.
TRIVJPEG_AVX2 inline __m256i Load32(const uint8_t *p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}
// The bytes of 32 that equal 0xFF, as bits.
TRIVJPEG_AVX2 inline uint32_t FfMarks(const uint8_t *p) {
    return static_cast<uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(Load32(p), _mm256_set1_epi8(-1))));
}

// The bytes 0 to 31 (a constant the compiler folds where it can).
TRIVJPEG_AVX2 inline __m256i IotaAvx2() {
    return _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19,
                            20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31);
}

template <bool kStore>
TRIVJPEG_AVX2 void MovePackedAvx2(ByteStream *out, const uint8_t *packed, uint32_t n) {
    // Two words or fewer: in a 64-bit build's encode mode, only those with a
    // 0xFF come here (MoveTwoWords takes the rest).
    if (n <= 2 * kWordBytes) return MovePacked<kStore>(out, packed, n);
    if (!kStore) {
        uint32_t bytes = n;
        for (uint32_t i = 0; i < n; i += 32) {
            const uint32_t inside = n - i < 32 ? (1u << (n - i)) - 1 : 0xFFFFFFFFu;
            bytes += static_cast<uint32_t>(std::popcount(FfMarks(packed + i) & inside));
        }
        out->position += bytes;
        if (out->size < out->position) out->size = out->position;
        return;
    }
    uint8_t *const start = out->buffer + out->position;
    uint8_t *to = start;
    uint32_t i = 0;
    for (; i + 32 <= n; i += 32) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to), Load32(packed + i));
        if (__builtin_expect(FfMarks(packed + i) == 0, 1)) {
            to += 32;
            continue;
        }
        for (uint32_t j = i; j < i + 32; ++j) to = PutStuffed(to, packed[j]);
    }
    if (i < n) {
        const uint32_t rest = n - i;  // 1 to 31
        if (__builtin_expect((FfMarks(packed + i) & ((1u << rest) - 1)) == 0, 1)) {
            const __m256i packedPart =
                _mm256_cmpgt_epi8(_mm256_set1_epi8(static_cast<char>(rest)), IotaAvx2());
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(to),
                                _mm256_blendv_epi8(Load32(to), Load32(packed + i), packedPart));
            to += rest;
        } else {
            for (uint32_t j = i; j < n; ++j) to = PutStuffed(to, packed[j]);
        }
    }
    out->position += static_cast<uint32_t>(to - start);
}

#if defined(__i386__)
// A dense block's coefficients as the 32-bit coder's entries walk takes
// them, made for the whole block at once in vector registers: for each
// zig-zag index, the category s (bits 0 to 4), the number of ZRL codes that
// go first (bits 5 to 7: 16 zeros or more before the coefficient), the
// symbol (bits 8 to 15) and the value bits (16 to 31). Only the entries of
// nonzero coefficients are read.
struct CodeEntries {
    uint32_t entry[64];
};

// 64 bytes of a block in block order, as packus leaves rows 0 to 3 and rows
// 4 to 7 (rows 0 and 2, 1 and 3 in the halves of the first 32), put in
// zig-zag order in place by the shuffles of NonzeroAcAvx2. (A call of its
// own, so that no caller holds the eight shuffles.)
TRIVJPEG_AVX2 __attribute__((noinline)) void ZigZagBytesAvx2(uint8_t *bytes) {
    __m256i sources[4];
    ZigZagSourcesAvx2(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes)),
                      _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bytes + 32)), sources);
    for (int o = 0; o < 2; ++o) {
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(bytes + 32 * o),
                            ZigZagPartAvx2(sources, o));
    }
}

// Byte 15 of each 128-bit half of v, in every byte of that half.
TRIVJPEG_AVX2 inline __m256i LastBytesAvx2(__m256i v) {
    return _mm256_shuffle_epi8(v, _mm256_set1_epi8(15));
}

// The low and high bytes of a block's value bits before their cut (y, less
// one where y is negative), 64 bytes each in zig-zag order from `to`.
TRIVJPEG_AVX2 __attribute__((always_inline)) inline void ValueBytesAvx2(const int16_t *block,
                                                                        uint8_t *to) {
#pragma GCC unroll 2
    for (int i = 0; i < 2; ++i) {
        __m256i lo[2], hi[2];
#pragma GCC unroll 2
        for (int j = 0; j < 2; ++j) {
            const __m256i y =
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(block + 32 * i + 16 * j));
            const __m256i value = _mm256_add_epi16(y, _mm256_srai_epi16(y, 15));
            lo[j] = _mm256_and_si256(value, _mm256_set1_epi16(0xFF));
            hi[j] = _mm256_srli_epi16(value, 8);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 32 * i),
                            _mm256_packus_epi16(lo[0], lo[1]));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(to + 64 + 32 * i),
                            _mm256_packus_epi16(hi[0], hi[1]));
    }
    ZigZagBytesAvx2(to);
    ZigZagBytesAvx2(to + 64);
}

// Tables of 32 bytes for MakeEntriesAvx2. For pshufb, the same 16 in both
// halves: the significant bits of a nibble, plus `up` where nonzero (for
// the nibble `up` bits up in a magnitude); the low bits of a category as
// masks of the low byte of its value bits and of the high byte. And every
// byte set but the first, the DC's.
struct ByteTable {
    alignas(32) uint8_t byte[32];
};
enum class TableOf { kNibbleBits, kLowByteBits, kHighByteBits, kAcBytes };
constexpr ByteTable MakeByteTable(TableOf of, int up = 0) {
    ByteTable t{};
    for (int i = 0; i < 32; ++i) {
        const int n = i % 16;
        int bits = n ? std::bit_width(static_cast<unsigned>(n)) + up : 0;
        if (of == TableOf::kLowByteBits) bits = n < 8 ? (1 << n) - 1 : 0xFF;
        if (of == TableOf::kHighByteBits) bits = n > 8 ? (1 << (n - 8)) - 1 : 0;
        if (of == TableOf::kAcBytes) bits = i ? 0xFF : 0;
        t.byte[i] = static_cast<uint8_t>(bits);
    }
    return t;
}
inline constexpr ByteTable kNibbleBits[3] = {MakeByteTable(TableOf::kNibbleBits, 0),
                                             MakeByteTable(TableOf::kNibbleBits, 4),
                                             MakeByteTable(TableOf::kNibbleBits, 8)};
inline constexpr ByteTable kLowByteBits = MakeByteTable(TableOf::kLowByteBits);
inline constexpr ByteTable kHighByteBits = MakeByteTable(TableOf::kHighByteBits);
inline constexpr ByteTable kAcBytes = MakeByteTable(TableOf::kAcBytes);
TRIVJPEG_AVX2 inline __m256i LoadAvx2(const ByteTable &table) {
    return _mm256_load_si256(reinterpret_cast<const __m256i *>(table.byte));
}
TRIVJPEG_AVX2 inline __m256i LookUpAvx2(const ByteTable &table, __m256i index) {
    return _mm256_shuffle_epi8(LoadAvx2(table), index);
}

// The categories of 32 coefficients from the low and high bytes of their
// value bits before the cut (ValueBytesAvx2), and those bytes cut to the
// category: the magnitude is the value bits, inverted where y is negative
// (the high byte's top bit), and its category the significant bits of its
// highest nonzero nibble. The high bytes of the magnitudes are ORed into
// `highs`: a magnitude the tables code has at most 10 bits, a high byte of
// at most 3 (the DC's, any, is neither checked nor read).
TRIVJPEG_AVX2 inline __m256i CategoriesOfBytesAvx2(__m256i *low, __m256i *high, __m256i *highs) {
    const __m256i negative = _mm256_cmpgt_epi8(_mm256_setzero_si256(), *high);
    const __m256i mlo = _mm256_xor_si256(*low, negative);
    const __m256i mhi = _mm256_xor_si256(*high, negative);
    *highs = _mm256_or_si256(*highs, mhi);
    const __m256i nibble = _mm256_set1_epi8(15);
    const __m256i category = _mm256_max_epu8(
        _mm256_max_epu8(
            LookUpAvx2(kNibbleBits[0], _mm256_and_si256(mlo, nibble)),
            LookUpAvx2(kNibbleBits[1], _mm256_and_si256(_mm256_srli_epi16(mlo, 4), nibble))),
        LookUpAvx2(kNibbleBits[2], mhi));
    *low = _mm256_and_si256(*low, LookUpAvx2(kLowByteBits, category));
    *high = _mm256_and_si256(*high, LookUpAvx2(kHighByteBits, category));
    return category;
}

// False, making nothing, when an AC magnitude has a category the tables
// cannot code. `scratch` (128 bytes) holds the value bytes the entries are
// made from.
TRIVJPEG_AVX2 bool MakeEntriesAvx2(const int16_t *block, CodeEntries *entries, uint8_t *scratch) {
    uint8_t *const lows = scratch, *const highs = scratch + 64;
    ValueBytesAvx2(block, scratch);
    // The categories, and the value bytes cut in place.
    __m256i category[2], magnitudes = _mm256_setzero_si256();
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        __m256i *const low = reinterpret_cast<__m256i *>(lows + 32 * h);
        __m256i *const high = reinterpret_cast<__m256i *>(highs + 32 * h);
        __m256i l = _mm256_loadu_si256(low), g = _mm256_loadu_si256(high);
        category[h] = CategoriesOfBytesAvx2(&l, &g, &magnitudes);
        // Byte 0, the DC's, left out before zig-zag 32 joins it.
        if (h == 0) magnitudes = _mm256_and_si256(magnitudes, LoadAvx2(kAcBytes));
        _mm256_storeu_si256(low, l);
        _mm256_storeu_si256(high, g);
    }
    const __m256i over = _mm256_set1_epi8(static_cast<char>(~(kMaxAcMagnitude >> 8)));
    if (!_mm256_testz_si256(magnitudes, over)) return false;

    // The index of the nonzero coefficient before each (the DC's, 0, where
    // none is): the index where nonzero, else 0, carried forward by a
    // running maximum, then taken one place on.
    const __m256i iota = IotaAvx2();
    __m256i last[2];
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        const __m256i index = _mm256_add_epi8(iota, _mm256_set1_epi8(static_cast<char>(32 * h)));
        __m256i v = _mm256_and_si256(_mm256_cmpgt_epi8(category[h], _mm256_setzero_si256()), index);
        v = _mm256_max_epu8(v, _mm256_slli_si256(v, 1));
        v = _mm256_max_epu8(v, _mm256_slli_si256(v, 2));
        v = _mm256_max_epu8(v, _mm256_slli_si256(v, 4));
        v = _mm256_max_epu8(v, _mm256_slli_si256(v, 8));
        const __m256i ends = LastBytesAvx2(v);
        last[h] = _mm256_max_epu8(v, _mm256_permute2x128_si256(ends, ends, 0x08));
    }
    last[1] = _mm256_max_epu8(last[1], _mm256_permute4x64_epi64(LastBytesAvx2(last[0]), 0xFF));
    const __m256i before[2] = {
        _mm256_alignr_epi8(last[0], _mm256_permute2x128_si256(last[0], last[0], 0x08), 15),
        _mm256_alignr_epi8(last[1], _mm256_permute2x128_si256(last[1], last[0], 0x03), 15)};
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        const __m256i index = _mm256_add_epi8(iota, _mm256_set1_epi8(static_cast<char>(32 * h)));
        const __m256i run = _mm256_sub_epi8(_mm256_sub_epi8(index, before[h]), _mm256_set1_epi8(1));
        // The symbol, (run mod 16) x 16 + s (at most 0xFA: inside the
        // table); the category with (run / 16) x 32 added, the ZRL codes.
        const __m256i symbol = _mm256_or_si256(
            _mm256_slli_epi16(_mm256_and_si256(run, _mm256_set1_epi8(15)), 4), category[h]);
        const __m256i zeros = _mm256_and_si256(run, _mm256_set1_epi8(0x30));
        const __m256i first = _mm256_add_epi8(category[h], _mm256_add_epi8(zeros, zeros));
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(lows + 32 * h));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(highs + 32 * h));
        // Unpacking works within the halves of a register: a holds indices
        // 0 to 7 and 16 to 23, b 8 to 15 and 24 to 31, and so on.
        const __m256i a = _mm256_unpacklo_epi8(first, symbol);
        const __m256i b = _mm256_unpackhi_epi8(first, symbol);
        const __m256i fa = _mm256_unpacklo_epi8(low, high);
        const __m256i fb = _mm256_unpackhi_epi8(low, high);
        const __m256i e0 = _mm256_unpacklo_epi16(a, fa);  // 0-3, 16-19
        const __m256i e1 = _mm256_unpackhi_epi16(a, fa);  // 4-7, 20-23
        const __m256i e2 = _mm256_unpacklo_epi16(b, fb);  // 8-11, 24-27
        const __m256i e3 = _mm256_unpackhi_epi16(b, fb);  // 12-15, 28-31
        __m256i *to = reinterpret_cast<__m256i *>(entries->entry + 32 * h);
        _mm256_storeu_si256(to, _mm256_permute2x128_si256(e0, e1, 0x20));
        _mm256_storeu_si256(to + 1, _mm256_permute2x128_si256(e2, e3, 0x20));
        _mm256_storeu_si256(to + 2, _mm256_permute2x128_si256(e0, e1, 0x31));
        _mm256_storeu_si256(to + 3, _mm256_permute2x128_si256(e2, e3, 0x31));
    }
    return true;
}

// The codes of a block for the 32-bit AVX2 coder, by hand. Compiled, the
// loop over the nonzero coefficients keeps its writer's count and pointer
// and the mask on the stack (i386 has seven registers, six where a function
// realigns its stack for vector spills), some 60 instructions a
// coefficient; here the seven hold the bits, their count, the packed
// pointer, the mask and three temporaries (ebp saved and restored around
// the loop), and the rest sits on the loop's own stack: about 47 where the
// loop finds each category itself, 42 where CoefficientBits hold them, 28
// where CodeEntries hold each run, symbol and value bits. The whole bytes are
// packed as the narrow packed writer packs them; a code that does not fit
// with the bits pending is split where the writer would not split it
// (between the code and its value bits), but the bytes packed depend on the
// sequence of bits alone, so they are the same. Needs BMI1, BMI2 (tzcnt,
// blsr, bzhi, shlx) and MOVBE: AVX2 callers only.
//
// The frame, pushed as the loop's stack (from esp): the coefficients (the
// block, its CoefficientBits or its CodeEntries), the AC table, the zig-zag
// order (32 on in the high half), the magnitudes' OR, the last index coded
// (relative to the half), the high half's mask (0 once taken), the low
// half's, the DC table, the DC difference and whether the block ends in
// zeros; then the frame's address and ebp.
struct WalkFrame {
    const void *coefficients;
    const HuffmanCodeTable *ac;
    const uint8_t *zigzag;
    uint32_t magnitudes;
    int32_t last;
    uint32_t high;
    uint32_t low;
    const HuffmanCodeTable *dc;
    int32_t difference;
    uint32_t endsInZeros;
};
static_assert(sizeof(WalkFrame) == 40);

// clang-format off
// The whole bytes of the count (bl) bits pending in esi packed by one
// store at edi, left-aligned; edi moves on past them, 7 bits or fewer stay
// (and the count's upper bytes, which the entries walk fills, cleared).
#define TRIVJPEG_PACK_WHOLE     \
    "mov %%ebx, %%eax\n\t"      \
    "neg %%eax\n\t"             \
    "shlx %%eax, %%esi, %%eax\n\t" \
    "movbe %%eax, (%%edi)\n\t"  \
    "movzbl %%bl, %%eax\n\t"    \
    "shr $3, %%eax\n\t"         \
    "add %%eax, %%edi\n\t"      \
    "and $7, %%ebx\n\t"

// From the natural index in eax, the coefficients in edx and (run + 1) x 16
// in ecx: the value bits before their cut in eax (y, less one where y is
// negative), the category s in edx and the symbol run x 16 + s in ecx (not
// yet cut to the table). Computed from the block, or looked up in its
// CoefficientBits.
#define TRIVJPEG_CATEGORISE                                                  \
    "movswl (%%edx,%%eax,2), %%eax\n\t" /* y */                             \
    "mov %%eax, %%edx\n\t"                                                   \
    "sar $31, %%edx\n\t"                                                     \
    "add %%edx, %%eax\n\t"              /* y, less one where negative */     \
    "xor %%eax, %%edx\n\t"              /* |y| */                            \
    "or %%edx, 12(%%esp)\n\t"                                                \
    "bsr %%edx, %%edx\n\t"                                                   \
    "lea -15(%%ecx,%%edx), %%ecx\n\t"   /* run x 16 + s */                   \
    "inc %%edx\n\t"
#define TRIVJPEG_LOOK_UP_CATEGORY                                            \
    "add %%eax, %%edx\n\t"                                                   \
    "movswl (%%edx,%%eax), %%eax\n\t"   /* value[at] */                      \
    "movzbl %c[category](%%edx), %%edx\n\t"                                  \
    "lea -16(%%ecx,%%edx), %%ecx\n\t"   /* run x 16 + s */

// eax: index, then table address and length; ecx: run, symbol, code;
// edx: category, with the value bits above it (shlx takes the low 5 bits
// of a count, the category); esi: bits; ebx: their count; edi: packed
// pointer; ebp: mask.
// The frame pushed, then the DC.
#define TRIVJPEG_WALK_ENTER \
    "push %%ebp\n\t" \
    "push %%eax\n\t" \
    "pushl 36(%%eax)\n\t" \
    "pushl 32(%%eax)\n\t" \
    "pushl 28(%%eax)\n\t" \
    "pushl 24(%%eax)\n\t" \
    "pushl 20(%%eax)\n\t" \
    "pushl 16(%%eax)\n\t" \
    "pushl 12(%%eax)\n\t" \
    "pushl 8(%%eax)\n\t" \
    "pushl 4(%%eax)\n\t" \
    "pushl 0(%%eax)\n\t" \
 /* The DC: its code, then its value bits, packed between them where */ \
 /* more than 32 bits would be pending (a DC code is short in the */ \
 /* tables the stream has, but any length up to 16 is coded right). */ \
    "mov 32(%%esp), %%eax\n\t" \
    "mov %%eax, %%edx\n\t" \
    "sar $31, %%edx\n\t" \
    "add %%edx, %%eax\n\t" \
    "xor %%eax, %%edx\n\t" \
    "lea 1(%%edx,%%edx), %%edx\n\t" \
    "bsr %%edx, %%edx\n\t" /* the category, 0 for a difference of 0 */ \
    "bzhi %%edx, %%eax, %%eax\n\t" \
    "mov 28(%%esp), %%ecx\n\t" \
    "movzwl %c[code](%%ecx,%%edx,2), %%ebp\n\t" \
    "movzbl %c[length](%%ecx,%%edx), %%ecx\n\t" \
    "add %%ecx, %%ebx\n\t" \
    "shlx %%ecx, %%esi, %%esi\n\t" \
    "or %%ebp, %%esi\n\t" \
    "lea (%%ebx,%%edx), %%ecx\n\t" \
    "cmp $32, %%ecx\n\t" \
    "jbe .Ldc%=\n\t" \
    "mov %%eax, %%ebp\n\t" /* the value bits, kept from the packing */ \
    TRIVJPEG_PACK_WHOLE \
    "mov %%ebp, %%eax\n\t" \
    ".Ldc%=:\n\t" \
    "add %%edx, %%ebx\n\t" \
    "shlx %%edx, %%esi, %%esi\n\t" \
    "or %%eax, %%esi\n\t" \
    TRIVJPEG_PACK_WHOLE

// EOB where the block ends in zeros; the loop's stack dropped, the
// magnitudes' OR stored back in the frame, ebp restored.
#define TRIVJPEG_WALK_LEAVE \
    ".Ldone%=:\n\t" \
    "cmpl $0, 36(%%esp)\n\t" \
    "je .Lexit%=\n\t" \
    "mov 4(%%esp), %%eax\n\t" /* EOB */ \
    "movzwl %c[code](%%eax), %%edx\n\t" \
    "movzbl %c[length](%%eax), %%eax\n\t" \
    "add %%eax, %%ebx\n\t" \
    "shlx %%eax, %%esi, %%esi\n\t" \
    "or %%edx, %%esi\n\t" \
    TRIVJPEG_PACK_WHOLE \
    ".Lexit%=:\n\t" \
    "mov 12(%%esp), %%ecx\n\t" \
    "add $40, %%esp\n\t" \
    "pop %%eax\n\t" \
    "mov %%ecx, 12(%%eax)\n\t" \
    "pop %%ebp\n\t"

// The walks' start: the low half's mask in ebp, or the high half's once
// the low one is done (NEXT_HALF moves the walk's pointers on by 32
// coefficients); past both, the block's end.
#define TRIVJPEG_WALK_HALVES(NEXT_HALF) \
    "mov 24(%%esp), %%ebp\n\t" \
    "test %%ebp, %%ebp\n\t" \
    "jnz .Lnext%=\n" \
    ".Lhalf%=:\n\t" \
    "mov 20(%%esp), %%ebp\n\t" \
    "test %%ebp, %%ebp\n\t" \
    "jz .Ldone%=\n\t" \
    "movl $0, 20(%%esp)\n\t" \
    NEXT_HALF

// The walks' step: the code word of the symbol in ecx and its length
// looked up, then appended with the category's value bits (the category in
// the low 5 bits of edx, the value bits from bit FIELD_AT), to .Llong where
// they do not fit; the whole bytes packed, then the next coefficient of
// the half, or the next half.
#define TRIVJPEG_WALK_STEP(FIELD_AT) \
    "mov 4(%%esp), %%eax\n\t" \
    "add %%ecx, %%eax\n\t" \
    "movzwl %c[code](%%eax,%%ecx), %%ecx\n\t" \
    "movzbl %c[length](%%eax), %%eax\n\t" \
    "add %%eax, %%ebx\n\t" \
    "cmp $32, %%bl\n\t" \
    "ja .Llong%=\n\t" \
    "shlx %%eax, %%esi, %%esi\n\t" \
    "or %%ecx, %%esi\n\t" \
    "shlx %%edx, %%esi, %%esi\n\t" \
    "shr $" FIELD_AT ", %%edx\n\t" \
    "or %%edx, %%esi\n\t" \
    ".Lpack%=:\n\t" \
    TRIVJPEG_PACK_WHOLE \
    "test %%ebp, %%ebp\n\t" \
    "jnz .Lnext%=\n\t" \
    "jmp .Lhalf%=\n"

// The walk that finds each coefficient's run and symbol itself.
#define TRIVJPEG_WALK(LOOK_UP) \
    TRIVJPEG_WALK_ENTER \
    TRIVJPEG_WALK_HALVES("addl $32, 8(%%esp)\n\t" /* the zig-zag order */ \
                         "subl $32, 16(%%esp)\n") /* the last index */ \
    ".Lnext%=:\n\t" \
    "tzcnt %%ebp, %%eax\n\t" \
    "blsr %%ebp, %%ebp\n\t" \
    "mov %%eax, %%ecx\n\t" \
    "sub 16(%%esp), %%ecx\n\t" /* run + 1 */ \
    "mov %%eax, 16(%%esp)\n\t" \
    "cmp $16, %%ecx\n\t" \
    "ja .Lzeros%=\n" \
    ".Lcode%=:\n\t" \
    "mov 8(%%esp), %%edx\n\t" \
    "movzbl (%%edx,%%eax), %%eax\n\t" /* natural index */ \
    "mov 0(%%esp), %%edx\n\t" \
    "shl $4, %%ecx\n\t" \
    LOOK_UP \
    "movzbl %%cl, %%ecx\n\t" /* the symbol, inside the table */ \
    "bzhi %%edx, %%eax, %%eax\n\t" \
    "add %%edx, %%ebx\n\t" \
    "shl $5, %%eax\n\t" \
    "or %%eax, %%edx\n\t" \
    TRIVJPEG_WALK_STEP("5") \
 /* 16 zeros or more before the coefficient: a ZRL code for each */ \
 /* 16, each packed at once. */ \
    ".Lzeros%=:\n\t" \
    "mov 4(%%esp), %%eax\n\t" \
    "movzwl %c[zrlCode](%%eax), %%edx\n\t" \
    "movzbl %c[zrlLength](%%eax), %%eax\n\t" \
    "add %%eax, %%ebx\n\t" \
    "shlx %%eax, %%esi, %%esi\n\t" \
    "or %%edx, %%esi\n\t" \
    TRIVJPEG_PACK_WHOLE \
    "sub $16, %%ecx\n\t" \
    "cmp $16, %%ecx\n\t" \
    "ja .Lzeros%=\n\t" \
    "mov 16(%%esp), %%eax\n\t" \
    "jmp .Lcode%=\n" \
 /* More than 32 bits with those pending (rare: a long code with */ \
 /* a large value): the code packed, then the value bits. */ \
    ".Llong%=:\n\t" \
    "shlx %%eax, %%esi, %%esi\n\t" \
    "or %%ecx, %%esi\n\t" \
    "mov %%edx, %%ecx\n\t" \
    "and $31, %%ecx\n\t" \
    "sub %%ecx, %%ebx\n\t" \
    TRIVJPEG_PACK_WHOLE \
    "add %%ecx, %%ebx\n\t" \
    "shlx %%edx, %%esi, %%esi\n\t" \
    "shr $5, %%edx\n\t" \
    "or %%edx, %%esi\n\t" \
    "jmp .Lpack%=\n" \
    TRIVJPEG_WALK_LEAVE

// The operands: the writer's bits, count and pointer in esi, ebx and edi,
// the frame's address in eax; the tables' offsets.
#define TRIVJPEG_WALK_OPERANDS                                                         \
    : "+S"(w->bits), "+b"(w->count), "+D"(w->next), "+a"(f)                           \
    : [code] "i"(offsetof(HuffmanCodeTable, code)),                                    \
      [length] "i"(offsetof(HuffmanCodeTable, codeLength)),                            \
      [zrlCode] "i"(offsetof(HuffmanCodeTable, code) + 2 * 0xF0),                      \
      [zrlLength] "i"(offsetof(HuffmanCodeTable, codeLength) + 0xF0),                  \
      [category] "i"(offsetof(CoefficientBits, category))                              \
    : "ecx", "edx", "memory", "cc"

// The walk over a block's CodeEntries, its runs and symbols made already:
// 28 instructions a coefficient. The whole entry is added to the count:
// its low byte, the category with the ZRL codes' number times 32 above it,
// so that a coefficient with ZRL codes first leaves the loop at the same
// compare as a code that does not fit (more than 32 bits with those
// pending: the code packed, then the value bits); its upper bytes land in
// the count's, which the compare (of bl) and the packing (the low bits of
// the count's negation, then bl) do not read and the packing clears.
#define TRIVJPEG_WALK_ENTRIES \
    TRIVJPEG_WALK_ENTER \
    TRIVJPEG_WALK_HALVES("addl $128, 0(%%esp)\n") /* the entries */ \
    ".p2align 4\n" /* where the code before left it, up to 3% slower */ \
    ".Lnext%=:\n\t" \
    "tzcnt %%ebp, %%eax\n\t" \
    "blsr %%ebp, %%ebp\n\t" \
    "mov 0(%%esp), %%edx\n\t" \
    "mov (%%edx,%%eax,4), %%edx\n" \
    ".Lcode%=:\n\t" \
    "movzbl %%dh, %%ecx\n\t" /* the symbol */ \
    "add %%edx, %%ebx\n\t" /* s, ZRL codes x 32 */ \
    TRIVJPEG_WALK_STEP("16") \
    ".Llong%=:\n\t" \
    "sub %%eax, %%ebx\n\t" \
    "sub %%edx, %%ebx\n\t" \
    "test $0xE0, %%dl\n\t" \
    "jnz .Lzeros%=\n\t" \
    "add %%eax, %%ebx\n\t" \
    "shlx %%eax, %%esi, %%esi\n\t" \
    "or %%ecx, %%esi\n\t" \
    TRIVJPEG_PACK_WHOLE \
    "add %%edx, %%ebx\n\t" \
    "shlx %%edx, %%esi, %%esi\n\t" \
    "shr $16, %%edx\n\t" \
    "or %%edx, %%esi\n\t" \
    "jmp .Lpack%=\n" \
 /* ZRL codes first, counted down in the frame's last index (edx, the */ \
 /* entry, is left as it is by the ZRL codes and their packing). */ \
    ".Lzeros%=:\n\t" \
    "movzbl %%dl, %%eax\n\t" \
    "shr $5, %%eax\n\t" \
    "mov %%eax, 16(%%esp)\n\t" \
    "and $0xFFFFFF1F, %%edx\n" \
    ".Lzrl%=:\n\t" \
    "mov 4(%%esp), %%eax\n\t" \
    "movzwl %c[zrlCode](%%eax), %%ecx\n\t" \
    "movzbl %c[zrlLength](%%eax), %%eax\n\t" \
    "add %%eax, %%ebx\n\t" \
    "shlx %%eax, %%esi, %%esi\n\t" \
    "or %%ecx, %%esi\n\t" \
    TRIVJPEG_PACK_WHOLE \
    "decl 16(%%esp)\n\t" \
    "jnz .Lzrl%=\n\t" \
    "jmp .Lcode%=\n" \
    TRIVJPEG_WALK_LEAVE

// clang-format on

// (No target attribute on these: each is inlined into the generic body,
// which is inlined into CodeBlockAvx2 only.)
__attribute__((always_inline)) inline WalkFrame MakeWalkFrame(const ComponentSpec *component,
                                                              const void *coefficients,
                                                              int32_t difference,
                                                              uint64_t nonzero) {
    return {coefficients,
            component->acTable,
            ZigZagOrder,
            0,
            0,
            static_cast<uint32_t>(nonzero >> 32),
            static_cast<uint32_t>(nonzero),
            component->dcTable,
            difference,
            static_cast<uint32_t>(nonzero >> 63) ^ 1};
}
// kEntries: the walk over CodeEntries (whose magnitudes were checked when
// they were made).
template <bool kEntries = false>
struct AsmWalkAvx2 {
    template <bool kTabled, class Writer>
    __attribute__((always_inline)) static inline uint32_t Run(Writer *w,
                                                              const ComponentSpec *component,
                                                              const void *coefficients,
                                                              int32_t difference,
                                                              uint64_t nonzero) {
        WalkFrame frame = MakeWalkFrame(component, coefficients, difference, nonzero);
        WalkFrame *f = &frame;
        if constexpr (kEntries) {
            asm volatile(TRIVJPEG_WALK_ENTRIES TRIVJPEG_WALK_OPERANDS);
            return 0;  // checked when the entries were made
        } else if constexpr (kTabled) {
            asm volatile(TRIVJPEG_WALK(TRIVJPEG_LOOK_UP_CATEGORY) TRIVJPEG_WALK_OPERANDS);
        } else {
            asm volatile(TRIVJPEG_WALK(TRIVJPEG_CATEGORISE) TRIVJPEG_WALK_OPERANDS);
        }
        return frame.magnitudes;
    }
};

// IotaAvx2 in memory, for the inline assembly below (whose body has no
// vector target to hold it in a register).
alignas(32) inline constexpr uint8_t kIota32[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                                    11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                                    22, 23, 24, 25, 26, 27, 28, 29, 30, 31};

// The packed bytes of a block of up to 32 moved (encode mode) by one store
// of 32 blended over the bytes that lay there, or counted (size mode) by
// the 0xFF bytes among them: most blocks, without the word loop's steps
// (4 bytes each in a 32-bit build) or a call. By hand, for the generic
// body it is inlined into has no vector target; it ends with vzeroupper,
// for the compiler does not know that it leaves the upper halves in use
// (the SSE code after it would pay for them). Longer blocks, or a 0xFF to
// stuff, go to MovePackedAvx2.
template <bool kStore>
__attribute__((always_inline)) inline void MoveShortAvx2(ByteStream *out, const uint8_t *packed,
                                                         uint32_t n) {
    if (n <= 32) {
        uint32_t marks;
        if (kStore) {
            asm("vmovdqu (%[packed]), %%ymm0\n\t"
                "vpcmpeqb %%ymm1, %%ymm1, %%ymm1\n\t"
                "vpcmpeqb %%ymm0, %%ymm1, %%ymm1\n\t"
                "vpmovmskb %%ymm1, %[marks]\n\t"
                "bzhi %[n], %[marks], %[marks]\n\t"
                "jnz 1f\n\t"
                "vmovd %[n], %%xmm1\n\t"
                "vpbroadcastb %%xmm1, %%ymm1\n\t"
                "vpcmpgtb %[iota], %%ymm1, %%ymm1\n\t"  // the bytes packed
                "vmovdqu (%[to]), %%ymm2\n\t"
                "vpblendvb %%ymm1, %%ymm0, %%ymm2, %%ymm0\n\t"
                "vmovdqu %%ymm0, (%[to])\n"
                "1:\n\t"
                "vzeroupper"
                : [marks] "=&r"(marks)
                : [packed] "r"(packed), [to] "r"(out->buffer + out->position), [n] "r"(n),
                  [iota] "m"(kIota32)
                : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "memory", "cc");
            if (marks == 0) {
                out->position += n;
                return;
            }
        } else {
            asm("vmovdqu (%[packed]), %%ymm0\n\t"
                "vpcmpeqb %%ymm1, %%ymm1, %%ymm1\n\t"
                "vpcmpeqb %%ymm0, %%ymm1, %%ymm1\n\t"
                "vpmovmskb %%ymm1, %[marks]\n\t"
                "bzhi %[n], %[marks], %[marks]\n\t"
                "popcnt %[marks], %[marks]\n\t"
                "vzeroupper"
                : [marks] "=&r"(marks)
                : [packed] "r"(packed), [n] "r"(n)
                : "xmm0", "xmm1", "xmm2", "xmm3", "xmm4", "xmm5", "xmm6", "xmm7", "memory", "cc");
            out->position += n + marks;
            if (out->size < out->position) out->size = out->position;
            return;
        }
    }
    MovePackedAvx2<kStore>(out, packed, n);
}

// Below this many nonzero coefficients, categorising them one by one is
// cheaper than all 64 at once.
constexpr int kTableFrom = 12;
// From this many, a 32-bit build makes their runs and symbols at once too.
constexpr int kEntriesFrom = 20;

// AppendBlock's work with one of the hand loops, which append the code and
// value bits of the DC difference (of category kMaxDcCategory or less),
// then those of every nonzero AC coefficient (coefficients: the block, its
// CoefficientBits or its CodeEntries), ZRL codes included, and EOB where
// the block ends in zeros. Run returns the bitwise OR of the AC magnitudes
// where it finds them (0 otherwise).
template <class Walk, bool kTabled = false, class Writer>
__attribute__((always_inline)) inline bool AppendWalked(Writer *w, ComponentSpec *component,
                                                        const void *coefficients,
                                                        int32_t difference, uint64_t nonzero) {
    // Category kMaxDcCategory or less: |difference| < 2^11.
    constexpr uint32_t kBound = (1u << kMaxDcCategory) - 1;
    if (static_cast<uint32_t>(difference) + kBound > 2 * kBound) return false;
    return Walk::template Run<kTabled>(w, component, coefficients, difference, nonzero) <=
           kMaxAcMagnitude;
}

// A block's codes at the AVX2 level in a 32-bit build: the hand loops, the
// categories of blocks of kTableFrom or more from CategoriseAvx2, and from
// kEntriesFrom on their runs and symbols too, from MakeEntriesAvx2.
template <class Writer>
TRIVJPEG_AVX2 __attribute__((always_inline)) inline bool AppendBlockAvx2(Writer *w,
                                                                         ComponentSpec *component,
                                                                         const int16_t *block,
                                                                         int32_t difference) {
    const uint64_t nonzero = NonzeroAcAvx2(block);
    if (std::popcount(nonzero) >= kTableFrom) {
        if (std::popcount(nonzero) >= kEntriesFrom) {
            CodeEntries entries;
            uint8_t scratch[128];
            return MakeEntriesAvx2(block, &entries, scratch) &&
                   AppendWalked<AsmWalkAvx2<true>, true>(w, component, &entries, difference,
                                                         nonzero);
        }
        CoefficientBits bits;
        return CategoriseAvx2(block, &bits) &&
               AppendWalked<AsmWalkAvx2<>, true>(w, component, &bits, difference, nonzero);
    }
    return AppendWalked<AsmWalkAvx2<>>(w, component, block, difference, nonzero);
}

// Blocks alone and runs of blocks take the same writer, which packs each
// code as it goes.
template <bool kStore>
using RunWriterAvx2 = NarrowPackedWriter<kStore, MoveShortAvx2<kStore>>;

template <bool kStore>
TRIVJPEG_AVX2 __attribute__((always_inline)) inline int32_t CodeBlockDirectAvx2(
    ByteStream *out, ComponentSpec *component, const int16_t *block, int32_t difference) {
    using Writer = RunWriterAvx2<kStore>;
    uint8_t room[Writer::kRoom];
    Writer w;
    w.Start(out, room);
    if (!AppendBlockAvx2(&w, component, block, difference)) return 0;
    w.Finish(out);
    return 1;
}
#else
// Below this many nonzero coefficients, categorising them one by one is
// cheaper than all 64 at once.
constexpr int kTableFrom = 12;

// The same code at the AVX2 level: shifts by a register count without the
// count register (shlx), tzcnt, bzhi, and the categories of busy blocks from
// CategoriseAvx2.
template <bool kStore>
TRIVJPEG_AVX2 __attribute__((always_inline)) inline int32_t CodeBlockDirectAvx2(
    ByteStream *out, ComponentSpec *component, const int16_t *block, int32_t difference) {
    const uint64_t nonzero = NonzeroAcAvx2(block);
    if (std::popcount(nonzero) >= kTableFrom) {
        CoefficientBits bits;
        if (!CategoriseAvx2(block, &bits)) return 0;
        return CodeBlockDirectBody<BusyWriter<kStore, MovePackedAvx2<kStore>>, true>(
            out, component, block, difference, nonzero, &bits);
    }
    return CodeBlockDirect<kStore>(out, component, block, difference, nonzero);
}

// A block's codes appended to a run's writer, which packs them all.
template <class Writer>
TRIVJPEG_AVX2 __attribute__((always_inline)) inline bool AppendBlockAvx2(Writer *w,
                                                                         ComponentSpec *component,
                                                                         const int16_t *block,
                                                                         int32_t difference) {
    const uint64_t nonzero = NonzeroAcAvx2(block);
    if (std::popcount(nonzero) >= kTableFrom) {
        CoefficientBits bits;
        return CategoriseAvx2(block, &bits) &&
               AppendBlock<Writer, true>(w, component, block, difference, nonzero, &bits);
    }
    return AppendBlock(w, component, block, difference, nonzero);
}

template <bool kStore>
using RunWriterAvx2 = PackedWriter<kStore, MovePackedAvx2<kStore>>;
#endif

// A run of blocks with one packed writer, which completes each block's
// bytes in its room and keeps the few bits left over in its registers for
// the next: the stream's bits are read once and the bytes moved once for
// the run (more often only when the room fills), where a block alone pays
// for both (in a 64-bit build some 45 of the 230 instructions a block of
// one coefficient takes; moving more often, from 32, 64 or 96 bytes on,
// measured slower at quality 100). The room holds a block's most past the
// point where it is moved.
// Not inlined, so that its frame and that of a block coded alone, short of
// room, are never on the stack together.
template <bool kStore>
TRIVJPEG_AVX2 __attribute__((noinline)) int32_t CodeBlocksDirectAvx2(ByteStream *out,
                                                                     ComponentSpec *const *owner,
                                                                     const int16_t (*blocks)[64],
                                                                     uint32_t count) {
    using Writer = RunWriterAvx2<kStore>;
    uint8_t room[kMaxPackedBytes + Writer::kRoom];
    Writer w;
    w.Start(out, room);
    for (uint32_t i = 0; i < count; ++i) {
        const int16_t *block = blocks[i];
        const int32_t difference = TakeDcDifference(owner[i], block);
        const Writer before = w;
        if (!AppendBlockAvx2(&w, owner[i], block, difference)) {
            // The blocks before it complete, as they would have one by one.
            before.MoveOut(out);
            return 0;
        }
        w.Complete();
        if (static_cast<uint32_t>(w.next - w.packed) > kMaxPackedBytes) {
            w.MoveOut(out);
            w.next = w.packed;
        }
    }
    w.MoveOut(out);
    return 1;
}

#if defined(__x86_64__)
// --- The AVX-512 level ------------------------------------------------------
// Two word permutes put a block in zig-zag order, and 32 coefficients at a
// time give the mask of the nonzero ones, their categories and their value
// bits already cut. The walk then finds each run as the count of zeros at
// the bottom of the mask, which it shifts past the coefficient: no zig-zag
// lookup, no index of the last one coded, no category to find, no cut. At
// 4:2:0 quality 75 that took 5% (the calmest photograph) to 16% (the
// busiest) off the encode against the AVX2 coder.

// The natural index of each zig-zag position, as the permutes take them:
// indices 32 to 63 name the second source register.
struct ZigZagWords {
    alignas(64) uint16_t index[2][32];
};
constexpr ZigZagWords MakeZigZagWords() {
    ZigZagWords t{};
    for (int k = 0; k < 64; ++k) t.index[k / 32][k % 32] = ZigZagOrder[k];
    return t;
}
inline constexpr ZigZagWords kZigZagWords = MakeZigZagWords();

// A block's AC coefficients in zig-zag order: the value bits to send, and
// their number (the category, at most 15: a larger one, which only a block
// the tables cannot code has, is cut to 15 so that every symbol stays
// inside the table; such a block fails).
struct ZigZagCodes {
    alignas(64) uint16_t field[64];
    alignas(32) uint8_t category[64];
};

// The number of significant bits of each 16-bit magnitude, from the leading
// zeros of each 32-bit lane: of its low word alone, 16 more than the word's
// own; of the lane with the low word's bits set, those of its high word
// (16 for 0). The high word's count moves up by a byte shift of two, which
// carries only zeros into the next lane's low word. (Shifts of this kind
// rather than the per-lane ones, which GCC 12 warns of wrongly.)
TRIVJPEG_AVX512 inline __m512i CategoriesOfWordsAvx512(__m512i m) {
    const __m512i lowBits = _mm512_set1_epi32(0xFFFF);
    const __m512i low =
        _mm512_sub_epi32(_mm512_set1_epi32(32), _mm512_lzcnt_epi32(_mm512_and_si512(m, lowBits)));
    const __m512i high =
        _mm512_sub_epi32(_mm512_set1_epi32(16), _mm512_lzcnt_epi32(_mm512_or_si512(m, lowBits)));
    return _mm512_or_si512(low, _mm512_bslli_epi128(high, 2));
}

// The codes of a block's AC coefficients and the mask of the nonzero ones
// (bit k for zig-zag index k; bit 0, the DC, never set). False when an AC
// magnitude has a category the tables cannot code (abs(-32768) stays
// 0x8000, which the test catches like every other).
TRIVJPEG_AVX512 inline bool ZigZagCodesAvx512(const int16_t *block, ZigZagCodes *codes,
                                              uint64_t *nonzero) {
    const __m512i a = _mm512_loadu_si512(block), b = _mm512_loadu_si512(block + 32);
    __m512i magnitudes = _mm512_setzero_si512();
    uint64_t mask = 0;
#pragma GCC unroll 2
    for (int h = 0; h < 2; ++h) {
        const __m512i y = _mm512_permutex2var_epi16(a, _mm512_load_si512(kZigZagWords.index[h]), b);
        mask |= uint64_t{_mm512_test_epi16_mask(y, y)} << 32 * h;
        // The DC's lane is left out: it is coded as a difference.
        const __m512i m = _mm512_maskz_abs_epi16(h == 0 ? 0xFFFFFFFEu : 0xFFFFFFFFu, y);
        magnitudes = _mm512_or_si512(magnitudes, m);
        const __m512i s = _mm512_min_epu16(CategoriesOfWordsAvx512(m), _mm512_set1_epi16(15));
        // y, less one where negative, cut to its category: a word of ones
        // shifted right by 16 - s.
        const __m512i value = _mm512_add_epi16(y, _mm512_srai_epi16(y, 15));
        const __m512i keep =
            _mm512_srlv_epi16(_mm512_set1_epi16(-1), _mm512_sub_epi16(_mm512_set1_epi16(16), s));
        _mm512_store_si512(codes->field + 32 * h, _mm512_and_si512(value, keep));
        _mm256_store_si256(reinterpret_cast<__m256i *>(codes->category + 32 * h),
                           _mm512_maskz_cvtepi16_epi8(0xFFFFFFFFu, s));
    }
    *nonzero = mask & ~uint64_t{1};
    const __m512i over = _mm512_set1_epi16(static_cast<int16_t>(~kMaxAcMagnitude));
    return _mm512_test_epi16_mask(magnitudes, over) == 0;
}

// AppendBlock's work from a block's ZigZagCodes: the same codes, two
// appended between completions, the DC with the first.
template <class Writer>
__attribute__((always_inline)) inline bool AppendZigZag(Writer *writer, ComponentSpec *component,
                                                        const ZigZagCodes &codes,
                                                        int32_t difference, uint64_t nonzero) {
    Writer &w = *writer;
    const uint32_t s = CategoryOf(difference);
    if (s > kMaxDcCategory) return false;
    AppendDc(&w, component->dcTable, difference, s);
    const HuffmanCodeTable *ac = component->acTable;
    // Bit 0 of `rest` stands for zig-zag index k.
    uint64_t rest = nonzero >> 1;
    uint32_t k = 1;
    auto append = [&]() __attribute__((always_inline)) {
        uint32_t run = static_cast<uint32_t>(std::countr_zero(rest));
        rest = rest >> run >> 1;
        k += run;
        if (__builtin_expect(run > 15, 0)) {
            w.Complete();
            for (; run > 15; run -= 16) {
                w.Append(ac->code[0xF0], ac->codeLength[0xF0]);
                w.Complete();
            }
        }
        const uint32_t category = codes.category[k];
        const uint32_t symbol = run * 16 + category;
        w.Append(uint32_t{ac->code[symbol]} << category | codes.field[k],
                 ac->codeLength[symbol] + category);
        ++k;
    };
    while (rest != 0) {
        append();
        w.Complete();
        if (rest == 0) break;
        append();
    }
    // k is one past the last nonzero coefficient.
    if (k != 64) w.Append(ac->code[0x00], ac->codeLength[0x00]);
    return true;
}

template <class Writer>
TRIVJPEG_AVX512 __attribute__((always_inline)) inline bool AppendBlockAvx512(
    Writer *w, ComponentSpec *component, const int16_t *block, int32_t difference) {
    ZigZagCodes codes;
    uint64_t nonzero;
    return ZigZagCodesAvx512(block, &codes, &nonzero) &&
           AppendZigZag(w, component, codes, difference, nonzero);
}

// One block, with the writer CodeBlockDirect would choose for it.
template <bool kStore>
TRIVJPEG_AVX512 __attribute__((always_inline)) inline int32_t CodeBlockDirectAvx512(
    ByteStream *out, ComponentSpec *component, const int16_t *block, int32_t difference) {
    ZigZagCodes codes;
    uint64_t nonzero;
    if (!ZigZagCodesAvx512(block, &codes, &nonzero)) return 0;
    auto code = [&](auto writer) __attribute__((always_inline)) {
        using Writer = decltype(writer);
        uint8_t room[Writer::kRoom];
        Writer &w = writer;
        w.Start(out, room);
        if (!AppendZigZag(&w, component, codes, difference, nonzero)) return 0;
        w.Finish(out);
        return 1;
    };
    return Busy(nonzero) ? code(PackedWriter<kStore, MovePackedAvx2<kStore>>{})
                         : code(WordWriter<kStore>{});
}

// CodeBlocksDirectAvx2 with this level's blocks.
template <bool kStore>
TRIVJPEG_AVX512 __attribute__((noinline)) int32_t CodeBlocksDirectAvx512(
    ByteStream *out, ComponentSpec *const *owner, const int16_t (*blocks)[64], uint32_t count) {
    using Writer = PackedWriter<kStore, MovePackedAvx2<kStore>>;
    uint8_t room[kMaxPackedBytes + Writer::kRoom];
    Writer w;
    w.Start(out, room);
    for (uint32_t i = 0; i < count; ++i) {
        const int32_t difference = TakeDcDifference(owner[i], blocks[i]);
        const Writer before = w;
        if (!AppendBlockAvx512(&w, owner[i], blocks[i], difference)) {
            before.MoveOut(out);
            return 0;
        }
        w.Complete();
        if (static_cast<uint32_t>(w.next - w.packed) > kMaxPackedBytes) {
            w.MoveOut(out);
            w.next = w.packed;
        }
    }
    w.MoveOut(out);
    return 1;
}
#endif
}  // namespace

// CodeBlock's shape, in one function with the mask and the direct coder: in
// a 32-bit build the calls and their arguments on the stack cost some 25
// instructions a block.
TRIVJPEG_SSE2 int32_t CodeBlockSse2(EncoderSession *session, ComponentSpec *component,
                                    const int16_t *block) {
    const int32_t difference = TakeDcDifference(component, block);
    if (!DirectFits(session)) return CodeBlockStaged(session, component, block, difference);
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlockDirect<true>(out, component, block, difference, NonzeroAcSse2(block))
               : CodeBlockDirect<false>(out, component, block, difference, NonzeroAcSse2(block));
}

// The same at the AVX2 level.
TRIVJPEG_AVX2 int32_t CodeBlockAvx2(EncoderSession *session, ComponentSpec *component,
                                    const int16_t *block) {
    const int32_t difference = TakeDcDifference(component, block);
    if (!DirectFits(session)) return CodeBlockStaged(session, component, block, difference);
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlockDirectAvx2<true>(out, component, block, difference)
               : CodeBlockDirectAvx2<false>(out, component, block, difference);
}

TRIVJPEG_AVX2 int32_t CodeBlocksAvx2(EncoderSession *session, ComponentSpec *const *owner,
                                     const int16_t (*blocks)[64], uint32_t count) {
    // Valid blocks pack at most 209 bytes each (418 stuffed), so the run
    // with the move's 32-byte store at its end fits this reserve, as one
    // block fits its own. Short of it, block by block, so that the room
    // runs out exactly where it would.
    if (!DirectFits(session, count * kMaxBlockBytes)) {
        for (uint32_t i = 0; i < count; ++i) {
            if (!CodeBlockAvx2(session, owner[i], blocks[i])) return 0;
        }
        return 1;
    }
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlocksDirectAvx2<true>(out, owner, blocks, count)
               : CodeBlocksDirectAvx2<false>(out, owner, blocks, count);
}

#if defined(__x86_64__)
TRIVJPEG_AVX512 int32_t CodeBlockAvx512(EncoderSession *session, ComponentSpec *component,
                                        const int16_t *block) {
    const int32_t difference = TakeDcDifference(component, block);
    if (!DirectFits(session)) return CodeBlockStaged(session, component, block, difference);
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlockDirectAvx512<true>(out, component, block, difference)
               : CodeBlockDirectAvx512<false>(out, component, block, difference);
}

TRIVJPEG_AVX512 int32_t CodeBlocksAvx512(EncoderSession *session, ComponentSpec *const *owner,
                                         const int16_t (*blocks)[64], uint32_t count) {
    // The reserve of CodeBlocksAvx2, for the same reason.
    if (!DirectFits(session, count * kMaxBlockBytes)) {
        for (uint32_t i = 0; i < count; ++i) {
            if (!CodeBlockAvx512(session, owner[i], blocks[i])) return 0;
        }
        return 1;
    }
    ByteStream *out = session->output;
    return session->outputKind & OutputStoresBytes
               ? CodeBlocksDirectAvx512<true>(out, owner, blocks, count)
               : CodeBlocksDirectAvx512<false>(out, owner, blocks, count);
}
#endif
