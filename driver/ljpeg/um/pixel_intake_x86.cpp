// The vector twins of pixel intake: the 24- and 32-bit formats' rows that
// lie wholly inside the image, eight (SSE2, SSSE3) or sixteen (AVX2) pixels
// at a time, into the same samples as the plain fetchers.

#include <immintrin.h>

#include "pixel_intake.h"
#include "pixel_intake_rows.h"

using namespace intake;

namespace {

// Eight converted pixels, one per 16-bit lane: Y in 0-255, Cb and Cr as the
// shifted sums before the chroma offset (-128 to 128).
struct Ycc8 {
    __m128i y, cb, cr;
};

// Cb or Cr of sixteen pixels as bytes: the signed pack clamps to -128..127
// and flipping the top bit adds 128 modulo 256; together that is the scalar
// clamp of v + 128 for every lane (128, from pure blue or red, gives 255).
TRIVJPEG_SSE2 inline __m128i OffsetChroma(__m128i first, __m128i second) {
    return _mm_xor_si128(_mm_packs_epi16(first, second), _mm_set1_epi8(static_cast<char>(0x80)));
}

TRIVJPEG_SSE2 inline void StoreSixteen(const Ycc8 &a, const Ycc8 &b, uint8_t *y, uint8_t *cb,
                                       uint8_t *cr) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(y), _mm_packus_epi16(a.y, b.y));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(cb), OffsetChroma(a.cb, b.cb));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(cr), OffsetChroma(a.cr, b.cr));
}

TRIVJPEG_SSE2 inline void StoreEight(const Ycc8 &a, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    _mm_storel_epi64(reinterpret_cast<__m128i *>(y), _mm_packus_epi16(a.y, a.y));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(cb), OffsetChroma(a.cb, a.cb));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(cr), OffsetChroma(a.cr, a.cr));
}

// Two signed 16-bit weights for pmaddwd, the first for the even lane.
TRIVJPEG_SSE2 inline __m128i WordWeights(int even, int odd) {
    return _mm_set1_epi32(static_cast<int32_t>(static_cast<uint32_t>(odd) << 16 |
                                               (static_cast<uint32_t>(even) & 0xFFFF)));
}

// Four 32-bit pixels of a byte format, SSE2 only. Each pixel is two 16-bit
// lanes; masking keeps its bytes 0 and 2 (red and blue in some order), the
// shift its bytes 1 and 3 (green and the unused byte, which gets weight 0).
// pmaddwd then forms each weighted sum in 32 bits, where the + 128 of Cb for
// pure blue (32768) and of Cr for pure red cannot overflow.
template <class Format>
TRIVJPEG_SSE2 inline void MaskFour(__m128i v, __m128i *y, __m128i *cb, __m128i *cr) {
    constexpr bool redFirst = Format::kRed == 0;
    __m128i outer = _mm_and_si128(v, _mm_set1_epi16(0x00FF));
    __m128i inner = _mm_srli_epi16(v, 8);
    __m128i round = _mm_set1_epi32(128);
    __m128i sum = _mm_add_epi32(
        _mm_madd_epi16(outer, redFirst ? WordWeights(kYRed, kYBlue) : WordWeights(kYBlue, kYRed)),
        _mm_madd_epi16(inner, WordWeights(kYGreen, 0)));
    *y = _mm_srli_epi32(_mm_add_epi32(sum, round), 8);
    sum = _mm_add_epi32(_mm_madd_epi16(outer, redFirst ? WordWeights(kCbRed, kCbBlue)
                                                       : WordWeights(kCbBlue, kCbRed)),
                        _mm_madd_epi16(inner, WordWeights(kCbGreen, 0)));
    *cb = _mm_srai_epi32(_mm_add_epi32(sum, round), 8);
    sum = _mm_add_epi32(_mm_madd_epi16(outer, redFirst ? WordWeights(kCrRed, kCrBlue)
                                                       : WordWeights(kCrBlue, kCrRed)),
                        _mm_madd_epi16(inner, WordWeights(kCrGreen, 0)));
    *cr = _mm_srai_epi32(_mm_add_epi32(sum, round), 8);
}

// Four 24-bit pixels, one to a 32-bit lane, from the bytes of v that start at
// byte `first`, without pshufb: each lane is the low word of v shifted by
// whole bytes. The fourth byte of a lane, the next pixel's first, sits where
// MaskFour gives the unused byte weight 0.
template <int first>
TRIVJPEG_SSE2 inline __m128i SpreadFour(__m128i v) {
    const __m128i a = _mm_srli_si128(v, first), b = _mm_srli_si128(v, first + 3);
    const __m128i c = _mm_srli_si128(v, first + 6), d = _mm_srli_si128(v, first + 9);
    return _mm_unpacklo_epi64(_mm_unpacklo_epi32(a, b), _mm_unpacklo_epi32(c, d));
}

// Eight pixels are read as two 16-byte loads, the second starting at
// kSecond: byte 8 for 24-bit pixels, so that both loads end within the
// group's 24 bytes, and byte 16 for 32-bit ones.
template <class Format>
constexpr uint32_t kSecond = Format::kBytes == 3 ? 8 : 16;

template <class Format>
TRIVJPEG_SSE2 inline Ycc8 MaskEight(const uint8_t *pixel) {
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixel));
    __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixel + kSecond<Format>));
    if constexpr (Format::kBytes == 3) {
        first = SpreadFour<0>(first);
        second = SpreadFour<4>(second);
    }
    __m128i y0, cb0, cr0, y1, cb1, cr1;
    MaskFour<Format>(first, &y0, &cb0, &cr0);
    MaskFour<Format>(second, &y1, &cb1, &cr1);
    return {_mm_packs_epi32(y0, y1), _mm_packs_epi32(cb0, cb1), _mm_packs_epi32(cr0, cr1)};
}

template <class Format>
struct MaskKernel {
    static constexpr uint32_t kBytes = Format::kBytes;
    TRIVJPEG_SSE2 static void Sixteen(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreSixteen(MaskEight<Format>(pixel), MaskEight<Format>(pixel + 8 * kBytes), y, cb, cr);
    }
    TRIVJPEG_SSE2 static void Eight(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreEight(MaskEight<Format>(pixel), y, cb, cr);
    }
};

// pshufb masks that gather eight pixels, loaded as MaskEight loads them,
// into (red, green) and (blue, green) byte pairs. Each mask takes from its
// own load and zeroes (-128) the bytes the other one supplies.
struct PairMasks {
    alignas(16) int8_t redFirst[16], redSecond[16], blueFirst[16], blueSecond[16];
};

template <class Format>
constexpr PairMasks MakePairMasks() {
    PairMasks m{};
    for (uint32_t k = 0; k < 16; ++k) {
        uint32_t pixel = k / 2 * Format::kBytes;
        uint32_t red = pixel + (k % 2 ? 1 : Format::kRed);
        uint32_t blue = pixel + (k % 2 ? 1 : Format::kBlue);
        m.redFirst[k] = static_cast<int8_t>(red < 16 ? red : -128);
        m.redSecond[k] = static_cast<int8_t>(red < 16 ? -128 : red - kSecond<Format>);
        m.blueFirst[k] = static_cast<int8_t>(blue < 16 ? blue : -128);
        m.blueSecond[k] = static_cast<int8_t>(blue < 16 ? -128 : blue - kSecond<Format>);
    }
    return m;
}

template <class Format>
constexpr PairMasks kPairMasks = MakePairMasks<Format>();

// Y's green weight split between the (red, green) and the (blue, green)
// byte pairs, so that each pair's weights sum to at most 128 (see below).
constexpr int32_t kYGreenBesideRed = 128 - kYRed;
constexpr int32_t kYGreenBesideBlue = kYGreen - kYGreenBesideRed;
static_assert(kYBlue + kYGreenBesideBlue <= 128 && kYGreenBesideBlue < 128);

// Two signed byte weights for pmaddubsw, the first for the even byte.
TRIVJPEG_SSE2 inline __m128i ByteWeights(int even, int odd) {
    return _mm_set1_epi16(static_cast<int16_t>((odd & 0xFF) << 8 | (even & 0xFF)));
}

// Eight pixels as (red, green) and (blue, green) byte pairs. pmaddubsw sums
// each pair in a signed 16-bit lane with saturation, so the weights of a
// pair must fit a signed byte and sum to at most 128 in magnitude
// (128 x 255 = 32640): green's weight in Y is split 51 + 99, and Cb and Cr are
// formed negated, 128 - (43r + 85g - 128b) and 128 - (107g + 21b - 128r).
// Y's two halves add up to at most 65280 + 128, which fits an unsigned lane.
// 128 - m reaches 32768 only for pure blue (Cb) or pure red (Cr); the
// saturating subtraction gives 32767 there, which shifts to 127 instead of
// 128, and both clamp to 255 in OffsetChroma.
TRIVJPEG_SSSE3 inline Ycc8 ConvertPairs(__m128i rg, __m128i bg) {
    __m128i round = _mm_set1_epi16(128);
    __m128i y = _mm_add_epi16(_mm_maddubs_epi16(rg, ByteWeights(kYRed, kYGreenBesideRed)),
                              _mm_maddubs_epi16(bg, ByteWeights(kYBlue, kYGreenBesideBlue)));
    __m128i cb = _mm_add_epi16(_mm_maddubs_epi16(rg, ByteWeights(-kCbRed, -kCbGreen)),
                               _mm_maddubs_epi16(bg, ByteWeights(-kCbBlue, 0)));
    __m128i cr = _mm_add_epi16(_mm_maddubs_epi16(rg, ByteWeights(-kCrRed, 0)),
                               _mm_maddubs_epi16(bg, ByteWeights(-kCrBlue, -kCrGreen)));
    return {_mm_srli_epi16(_mm_add_epi16(y, round), 8),
            _mm_srai_epi16(_mm_subs_epi16(round, cb), 8),
            _mm_srai_epi16(_mm_subs_epi16(round, cr), 8)};
}

TRIVJPEG_SSSE3 inline __m128i Gather(__m128i first, __m128i second, const int8_t *firstMask,
                                     const int8_t *secondMask) {
    return _mm_or_si128(
        _mm_shuffle_epi8(first, _mm_load_si128(reinterpret_cast<const __m128i *>(firstMask))),
        _mm_shuffle_epi8(second, _mm_load_si128(reinterpret_cast<const __m128i *>(secondMask))));
}

template <class Format>
TRIVJPEG_SSSE3 inline Ycc8 ShuffleEight(const uint8_t *pixel) {
    const PairMasks &m = kPairMasks<Format>;
    __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixel));
    __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pixel + kSecond<Format>));
    return ConvertPairs(Gather(first, second, m.redFirst, m.redSecond),
                        Gather(first, second, m.blueFirst, m.blueSecond));
}

template <class Format>
struct ShuffleKernel {
    static constexpr uint32_t kBytes = Format::kBytes;
    TRIVJPEG_SSSE3 static void Sixteen(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreSixteen(ShuffleEight<Format>(pixel), ShuffleEight<Format>(pixel + 8 * kBytes), y, cb,
                     cr);
    }
    TRIVJPEG_SSSE3 static void Eight(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreEight(ShuffleEight<Format>(pixel), y, cb, cr);
    }
};

// --- AVX2: sixteen pixels at a time ------------------------------------------
//
// The two 128-bit lanes hold the two groups of eight pixels, each loaded as
// ShuffleEight loads it; vpshufb gathers within a lane, so the same masks
// serve both. The sums are ConvertPairs', sixteen lanes wide.

TRIVJPEG_AVX2 inline __m256i LoadLanes(const uint8_t *low, const uint8_t *high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low))),
        _mm_loadu_si128(reinterpret_cast<const __m128i *>(high)), 1);
}

TRIVJPEG_AVX2 inline __m256i Gather(__m256i first, __m256i second, const int8_t *firstMask,
                                    const int8_t *secondMask) {
    __m256i one =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(firstMask)));
    __m256i other =
        _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(secondMask)));
    return _mm256_or_si256(_mm256_shuffle_epi8(first, one), _mm256_shuffle_epi8(second, other));
}

TRIVJPEG_AVX2 inline __m256i ByteWeights256(int even, int odd) {
    return _mm256_set1_epi16(static_cast<int16_t>((odd & 0xFF) << 8 | (even & 0xFF)));
}

// Sixteen converted pixels, one per 16-bit lane, as Ycc8 has them: the
// first eight in the low 128 bits, the next eight in the high.
struct Ycc16 {
    __m256i y, cb, cr;
};

// Two groups of eight pixels, each loaded as ShuffleEight loads it: the
// sixteen of a row, or eight of two rows.
template <class Format>
TRIVJPEG_AVX2 inline Ycc16 ShuffleSixteen(const uint8_t *low, const uint8_t *high) {
    const PairMasks &m = kPairMasks<Format>;
    __m256i first = LoadLanes(low, high);
    __m256i second = LoadLanes(low + kSecond<Format>, high + kSecond<Format>);
    __m256i rg = Gather(first, second, m.redFirst, m.redSecond);
    __m256i bg = Gather(first, second, m.blueFirst, m.blueSecond);

    __m256i round = _mm256_set1_epi16(128);
    __m256i y =
        _mm256_add_epi16(_mm256_maddubs_epi16(rg, ByteWeights256(kYRed, kYGreenBesideRed)),
                         _mm256_maddubs_epi16(bg, ByteWeights256(kYBlue, kYGreenBesideBlue)));
    __m256i cb = _mm256_add_epi16(_mm256_maddubs_epi16(rg, ByteWeights256(-kCbRed, -kCbGreen)),
                                  _mm256_maddubs_epi16(bg, ByteWeights256(-kCbBlue, 0)));
    __m256i cr = _mm256_add_epi16(_mm256_maddubs_epi16(rg, ByteWeights256(-kCrRed, 0)),
                                  _mm256_maddubs_epi16(bg, ByteWeights256(-kCrBlue, -kCrGreen)));
    return {_mm256_srli_epi16(_mm256_add_epi16(y, round), 8),
            _mm256_srai_epi16(_mm256_subs_epi16(round, cb), 8),
            _mm256_srai_epi16(_mm256_subs_epi16(round, cr), 8)};
}

// StoreSixteen's bytes from 256-bit lanes: the packs work within each
// 128-bit half, so Cb and Cr go through one signed pack and one permute
// together (Cb's bytes in the low half, Cr's in the high), and Y through
// its own; 8 instructions where the halves apart take 14.
TRIVJPEG_AVX2 inline void StoreSixteenAvx2(const Ycc16 &v, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    const __m256i luma = _mm256_permute4x64_epi64(_mm256_packus_epi16(v.y, v.y), 0xD8);
    const __m256i chroma =
        _mm256_xor_si256(_mm256_permute4x64_epi64(_mm256_packs_epi16(v.cb, v.cr), 0xD8),
                         _mm256_set1_epi8(static_cast<char>(0x80)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(y), _mm256_castsi256_si128(luma));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(cb), _mm256_castsi256_si128(chroma));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(cr), _mm256_extracti128_si256(chroma, 1));
}

template <class Format>
struct ShuffleKernelAvx2 {
    static constexpr uint32_t kBytes = Format::kBytes;
    TRIVJPEG_AVX2 static void Sixteen(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreSixteenAvx2(ShuffleSixteen<Format>(pixel, pixel + 8 * kBytes), y, cb, cr);
    }
    // Two rows of an MCU eight wide, whose planes hold them one after the
    // other: the sixteen pixels' work for the two.
    TRIVJPEG_AVX2 static void TwoEights(const uint8_t *top, const uint8_t *below, uint8_t *y,
                                        uint8_t *cb, uint8_t *cr) {
        StoreSixteenAvx2(ShuffleSixteen<Format>(top, below), y, cb, cr);
    }
    TRIVJPEG_AVX2 static void Eight(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreEight(ShuffleEight<Format>(pixel), y, cb, cr);
    }
};

#if defined(__x86_64__)
// --- AVX-512: two rows of sixteen at a time ------------------------------------
//
// One two-source byte permute (VBMI) gathers the (red, green) pairs of the
// 32 pixels of two rows in row order, another their (blue, green) pairs;
// the sums are ConvertPairs', 32 lanes wide, and the narrowing moves keep
// the lanes in order, so each plane's two rows leave by one 32-byte store.

// A row's sixteen pixels in one register: a 32-bit row whole, a 24-bit row
// (48 bytes) as its bytes 0 to 31, then 16 to 47, each load inside the row.
template <class Format>
TRIVJPEG_AVX512 inline __m512i LoadRowAvx512(const uint8_t *row) {
    if constexpr (Format::kBytes == 4) {
        return _mm512_loadu_si512(row);
    } else {
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + 16));
        return _mm512_mask_broadcast_i64x4(_mm512_castsi256_si512(low), 0xF0, high);
    }
}

// The permutes' indices: for byte pair p (pixel p of the two rows, the top
// row first), the channel's byte as LoadRowAvx512 places it, in the first
// source for the top row and the second (64 on) for the row below.
struct RowPairIndices {
    alignas(64) uint8_t red[64], blue[64];
};
template <class Format>
constexpr RowPairIndices MakeRowPairIndices() {
    RowPairIndices t{};
    for (uint32_t j = 0; j < 64; ++j) {
        const uint32_t pixel = j / 2, row = pixel / 16;
        auto at = [&](uint32_t channel) {
            const uint32_t byte = pixel % 16 * Format::kBytes + channel;
            const uint32_t place = Format::kBytes == 3 && byte >= 32 ? byte + 16 : byte;
            return static_cast<uint8_t>(64 * row + place);
        };
        t.red[j] = at(j % 2 ? 1 : Format::kRed);
        t.blue[j] = at(j % 2 ? 1 : Format::kBlue);
    }
    return t;
}
template <class Format>
constexpr RowPairIndices kRowPairIndices = MakeRowPairIndices<Format>();

TRIVJPEG_AVX512 inline __m512i ByteWeights512(int even, int odd) {
    return _mm512_set1_epi16(static_cast<int16_t>((odd & 0xFF) << 8 | (even & 0xFF)));
}

template <class Format>
struct ShuffleKernelAvx512 : ShuffleKernelAvx2<Format> {
    // Two rows of an MCU sixteen wide, whose planes hold them one after the
    // other.
    TRIVJPEG_AVX512 static void TwoSixteens(const uint8_t *top, const uint8_t *below, uint8_t *y,
                                            uint8_t *cb, uint8_t *cr) {
        const RowPairIndices &index = kRowPairIndices<Format>;
        const __m512i a = LoadRowAvx512<Format>(top), b = LoadRowAvx512<Format>(below);
        const __m512i rg = _mm512_permutex2var_epi8(a, _mm512_load_si512(index.red), b);
        const __m512i bg = _mm512_permutex2var_epi8(a, _mm512_load_si512(index.blue), b);
        const __m512i round = _mm512_set1_epi16(128);
        const __m512i luma =
            _mm512_add_epi16(_mm512_maddubs_epi16(rg, ByteWeights512(kYRed, kYGreenBesideRed)),
                             _mm512_maddubs_epi16(bg, ByteWeights512(kYBlue, kYGreenBesideBlue)));
        const __m512i blue =
            _mm512_add_epi16(_mm512_maddubs_epi16(rg, ByteWeights512(-kCbRed, -kCbGreen)),
                             _mm512_maddubs_epi16(bg, ByteWeights512(-kCbBlue, 0)));
        const __m512i red =
            _mm512_add_epi16(_mm512_maddubs_epi16(rg, ByteWeights512(-kCrRed, 0)),
                             _mm512_maddubs_epi16(bg, ByteWeights512(-kCrBlue, -kCrGreen)));
        // Y fits a byte; the chroma's signed saturation and top bit flipped
        // are OffsetChroma's clamp.
        const __m256i flip = _mm256_set1_epi8(static_cast<char>(0x80));
        const __m512i y16 = _mm512_srli_epi16(_mm512_add_epi16(luma, round), 8);
        const __m512i cb16 = _mm512_srai_epi16(_mm512_subs_epi16(round, blue), 8);
        const __m512i cr16 = _mm512_srai_epi16(_mm512_subs_epi16(round, red), 8);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(y),
                            _mm512_maskz_cvtepi16_epi8(0xFFFFFFFFu, y16));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(cb),
                            _mm256_xor_si256(_mm512_maskz_cvtsepi16_epi8(0xFFFFFFFFu, cb16), flip));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(cr),
                            _mm256_xor_si256(_mm512_maskz_cvtsepi16_epi8(0xFFFFFFFFu, cr16), flip));
    }
};
#endif
}  // namespace

TRIVJPEG_SSE2 int32_t FetchGray8Sse2(EncoderSession *s, uint8_t *samples) {
    return FetchGrey(s, samples);
}
TRIVJPEG_SSE2 int32_t FetchRgb32Sse2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb32, ConvertRows<MaskKernel<Rgb32>>>(s, samples);
}
TRIVJPEG_SSE2 int32_t FetchBgr32Sse2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr32, ConvertRows<MaskKernel<Bgr32>>>(s, samples);
}
TRIVJPEG_SSE2 int32_t FetchRgb24Sse2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb24, ConvertRows<MaskKernel<Rgb24>>>(s, samples);
}
TRIVJPEG_SSE2 int32_t FetchBgr24Sse2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr24, ConvertRows<MaskKernel<Bgr24>>>(s, samples);
}
TRIVJPEG_SSSE3 int32_t FetchRgb24Ssse3(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb24, ConvertRows<ShuffleKernel<Rgb24>>>(s, samples);
}
TRIVJPEG_SSSE3 int32_t FetchBgr24Ssse3(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr24, ConvertRows<ShuffleKernel<Bgr24>>>(s, samples);
}
TRIVJPEG_SSSE3 int32_t FetchRgb32Ssse3(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb32, ConvertRows<ShuffleKernel<Rgb32>>>(s, samples);
}
TRIVJPEG_SSSE3 int32_t FetchBgr32Ssse3(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr32, ConvertRows<ShuffleKernel<Bgr32>>>(s, samples);
}
TRIVJPEG_AVX2 int32_t FetchRgb24Avx2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb24, ConvertRows<ShuffleKernelAvx2<Rgb24>>>(s, samples);
}
TRIVJPEG_AVX2 int32_t FetchBgr24Avx2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr24, ConvertRows<ShuffleKernelAvx2<Bgr24>>>(s, samples);
}
TRIVJPEG_AVX2 int32_t FetchRgb32Avx2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb32, ConvertRows<ShuffleKernelAvx2<Rgb32>>>(s, samples);
}
TRIVJPEG_AVX2 int32_t FetchBgr32Avx2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr32, ConvertRows<ShuffleKernelAvx2<Bgr32>>>(s, samples);
}
#if defined(__x86_64__)
TRIVJPEG_AVX512 int32_t FetchRgb24Avx512(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb24, ConvertRows<ShuffleKernelAvx512<Rgb24>>>(s, samples);
}
TRIVJPEG_AVX512 int32_t FetchBgr24Avx512(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr24, ConvertRows<ShuffleKernelAvx512<Bgr24>>>(s, samples);
}
TRIVJPEG_AVX512 int32_t FetchRgb32Avx512(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb32, ConvertRows<ShuffleKernelAvx512<Rgb32>>>(s, samples);
}
TRIVJPEG_AVX512 int32_t FetchBgr32Avx512(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr32, ConvertRows<ShuffleKernelAvx512<Bgr32>>>(s, samples);
}
#endif
