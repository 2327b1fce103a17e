// Pixel intake. Each McuFetcher reads the MCU that the session's mcuIndex
// designates from the bottom-up source rows, converts it to Y, Cb and Cr,
// replicates the last column and row inside the image into the part of the
// MCU beyond the right and bottom edges, and leaves the samples in the
// McuSampleBuffer (colour through the session's ChromaReducer).
//
// The seven fetchers differ only in how one pixel is unpacked. Every byte
// they read lies inside the source stream: offsets are computed in 64 bits,
// so a hostile job cannot wrap them back into range.
//
// The 24- and 32-bit formats also have vector twins, which convert the MCU
// rows lying wholly inside the image eight or sixteen pixels at a time into
// the same samples; rows cut by the right edge go pixel by pixel in every
// fetcher.

#include "pixel_intake.h"

#include <string.h>

#if TRIVJPEG_X86
#include <immintrin.h>
#endif

namespace {

// Where the current MCU lies in the image.
struct McuPlace {
    uint32_t x0;             // first image column of the MCU
    uint32_t rowsInside;     // image rows from the MCU's top row to the bottom of the image
    uint32_t columnsInside;  // MCU columns inside the image, at most mcuWidth
};

bool LocateMcu(const EncoderSession *s, McuPlace *place) {
    if (s->mcusPerRow == 0) return false;
    uint32_t column = s->mcuIndex % s->mcusPerRow;
    uint32_t row = s->mcuIndex / s->mcusPerRow;
    uint64_t x0 = static_cast<uint64_t>(column) * s->mcuWidth;
    uint64_t y0 = static_cast<uint64_t>(row) * s->mcuHeight;
    if (x0 >= s->width || y0 >= s->height) return false;
    place->x0 = static_cast<uint32_t>(x0);
    place->rowsInside = s->height - static_cast<uint32_t>(y0);
    uint32_t rest = s->width - place->x0;
    place->columnsInside = rest < s->mcuWidth ? rest : s->mcuWidth;
    return true;
}

// Offset of the segment of MCU row i: image rows lie bottom-up, so the MCU's
// top row has the highest address and each further row is one stride lower.
uint64_t SegmentStart(const EncoderSession *s, const McuPlace &place, uint32_t i,
                      uint32_t bytesPerPixel) {
    return s->sourceStart + static_cast<uint64_t>(place.rowsInside - 1 - i) * s->stride +
           static_cast<uint64_t>(place.x0) * bytesPerPixel;
}

// --- Pixel formats: bytes per pixel and the red, green, blue of one pixel.

struct Rgb {
    int32_t r, g, b;
};

// 5-bit fields are widened by a plain shift: the largest value is 248.
inline uint32_t Word16(const uint8_t *p) { return p[0] | static_cast<uint32_t>(p[1]) << 8; }
inline int32_t Field5(uint32_t v, int at) { return static_cast<int32_t>((v >> at) & 0x1F) << 3; }

struct Rgb16 {
    static constexpr uint32_t kBytes = 2;
    static Rgb Unpack(const uint8_t *p) {
        uint32_t v = Word16(p);
        return {Field5(v, 0), Field5(v, 5), Field5(v, 10)};
    }
};
struct Bgr16 {
    static constexpr uint32_t kBytes = 2;
    static Rgb Unpack(const uint8_t *p) {
        uint32_t v = Word16(p);
        return {Field5(v, 10), Field5(v, 5), Field5(v, 0)};
    }
};
// The byte formats name where red and blue lie; green is always byte 1.
struct Rgb24 {
    static constexpr uint32_t kBytes = 3, kRed = 0, kBlue = 2;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};
struct Bgr24 {
    static constexpr uint32_t kBytes = 3, kRed = 2, kBlue = 0;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};
struct Rgb32 {
    static constexpr uint32_t kBytes = 4, kRed = 0, kBlue = 2;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};
struct Bgr32 {
    static constexpr uint32_t kBytes = 4, kRed = 2, kBlue = 0;
    static Rgb Unpack(const uint8_t *p) { return {p[kRed], p[1], p[kBlue]}; }
};

inline uint8_t Clamp(int32_t v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Integer colour conversion. The weights are the JFIF ones scaled by 256;
// the + 128 inside each shift rounds, the + 128 outside is the chroma
// offset, and >> 8 of a negative sum rounds towards minus infinity. Y never
// exceeds 255; Cb reaches 256 for pure blue and Cr for pure red.
inline void Convert(Rgb c, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    *y = Clamp((77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8);
    *cb = Clamp(((128 * c.b - 43 * c.r - 85 * c.g + 128) >> 8) + 128);
    *cr = Clamp(((128 * c.r - 107 * c.g - 21 * c.b + 128) >> 8) + 128);
}

template <class Format>
void ConvertPixels(const uint8_t *pixel, uint32_t count, uint8_t *y, uint8_t *cb, uint8_t *cr) {
    for (uint32_t j = 0; j < count; ++j, pixel += Format::kBytes) {
        Convert(Format::Unpack(pixel), y + j, cb + j, cr + j);
    }
}

// Converts rows of the MCU that lie wholly inside the image, the first at
// top and each further one `stride` bytes lower, into planes `width` wide
// (8 or 16).
typedef void RowConverter(const uint8_t *top, uint32_t stride, uint32_t width, uint32_t rows,
                          uint8_t *y, uint8_t *cb, uint8_t *cr);

// Each row is one group of sixteen or eight pixels, converted and stored by
// Kernel. Always inlined, so that the groups are compiled with the caller's
// instruction set and the kernel's constants stay in registers across rows.
template <class Kernel, uint32_t kWidth>
__attribute__((always_inline)) inline void ConvertRowsOf(const uint8_t *top, uint32_t stride,
                                                         uint32_t rows, uint8_t *y, uint8_t *cb,
                                                         uint8_t *cr) {
    for (uint32_t i = 0; i < rows; ++i, y += kWidth, cb += kWidth, cr += kWidth) {
        // No wrap: row i's segment starts at or after the source's first byte.
        const uint8_t *pixel = top - size_t{i} * stride;
        if constexpr (kWidth == 16) {
            Kernel::Sixteen(pixel, y, cb, cr);
        } else {
            Kernel::Eight(pixel, y, cb, cr);
        }
    }
}

template <class Kernel>
__attribute__((always_inline)) inline void ConvertRows(const uint8_t *top, uint32_t stride,
                                                       uint32_t width, uint32_t rows, uint8_t *y,
                                                       uint8_t *cb, uint8_t *cr) {
    if (width == 16) {
        ConvertRowsOf<Kernel, 16>(top, stride, rows, y, cb, cr);
    } else {
        ConvertRowsOf<Kernel, 8>(top, stride, rows, y, cb, cr);
    }
}

template <class Format>
struct PlainKernel {
    static constexpr uint32_t kBytes = Format::kBytes;
    static void Sixteen(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        ConvertPixels<Format>(pixel, 16, y, cb, cr);
    }
    static void Eight(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        ConvertPixels<Format>(pixel, 8, y, cb, cr);
    }
};

// WholeRows converts the rows whose segments cover the MCU's full width,
// where a vector twin can take eight or sixteen pixels at a time; rows cut
// by the right edge go one pixel at a time. Always inlined, so that a twin's
// loop is compiled with the twin's instruction set and can inline its
// converter.
template <class Format, RowConverter *WholeRows = ConvertRows<PlainKernel<Format>>>
__attribute__((always_inline)) inline int32_t FetchColour(EncoderSession *s, uint8_t *samples) {
    McuPlace place;
    if (!LocateMcu(s, &place)) return 0;

    uint8_t planes[3][256];
    uint8_t *const y = planes[0], *const cb = planes[1], *const cr = planes[2];
    const uint32_t width = s->mcuWidth;
    const uint32_t rows = place.rowsInside < s->mcuHeight ? place.rowsInside : s->mcuHeight;
    if (rows > 0) {
        // The MCU's rows lie at falling addresses, so the top row's segment
        // ends last: if it lies inside the source, they all do.
        ByteStream *source = s->source;
        const uint64_t top = SegmentStart(s, place, 0, Format::kBytes);
        const uint64_t length = uint64_t{place.columnsInside} * Format::kBytes;
        if (top + length > source->size) {
            *s->status |= StatusStreamBound;
            return 0;
        }
        const uint8_t *pixel = source->buffer + top;
        if (place.columnsInside == width && (width == 16 || width == 8)) {
            WholeRows(pixel, s->stride, width, rows, y, cb, cr);
        } else {
            const uint32_t last = place.columnsInside - 1;
            const uint32_t fill = width - place.columnsInside;
            for (uint32_t i = 0; i < rows; ++i) {
                const uint32_t at = i * width;
                ConvertPixels<Format>(pixel - size_t{i} * s->stride, place.columnsInside, y + at,
                                      cb + at, cr + at);
                // Right of the image: repeat the last column inside.
                memset(y + at + place.columnsInside, y[at + last], fill);
                memset(cb + at + place.columnsInside, cb[at + last], fill);
                memset(cr + at + place.columnsInside, cr[at + last], fill);
            }
        }
        // Where reading the rows in turn leaves the source: past the lowest.
        source->position =
            static_cast<uint32_t>(SegmentStart(s, place, rows - 1, Format::kBytes) + length);
    }
    // Below the image: repeat the row above.
    for (uint32_t i = rows; i < s->mcuHeight; ++i) {
        const uint32_t at = i * width;
        memcpy(y + at, y + at - width, width);
        memcpy(cb + at, cb + at - width, width);
        memcpy(cr + at, cr + at - width, width);
    }
    s->chromaReducer(samples, y, cb, cr);
    return 1;
}

}  // namespace

// Grey samples go straight into the one block of the MCU. A row segment
// wholly inside the source is copied at once, with the effects ReadByte
// would have had on the stream (position past the segment, no pending bits);
// one that runs past the end is read through ReadByte, sample by sample, so
// that the samples before the missing one are written and the read reports
// the bound, as a reader of the source byte by byte would.
int32_t FetchGray8(EncoderSession *s, uint8_t *samples) {
    if (s->mcuWidth != 8 || s->mcuHeight != 8) return 0;
    McuPlace place;
    if (!LocateMcu(s, &place)) return 0;

    ByteStream *source = s->source;
    const uint32_t count = place.columnsInside;
    for (uint32_t i = 0; i < 8; ++i) {
        uint8_t *row = samples + 8 * i;
        if (i >= place.rowsInside) {
            memcpy(row, row - 8, 8);
            continue;
        }
        uint64_t start = SegmentStart(s, place, i, 1);
        if (start >= source->size) return 0;
        source->position = static_cast<uint32_t>(start);
        if (source->size - start >= count) {
            // Of fixed length where it can be: a copy of variable length
            // measured slower than the calls of ReadByte it replaces.
            const uint8_t *from = source->buffer + start;
            if (count == 8) {
                memcpy(row, from, 8);
            } else {
                for (uint32_t j = 0; j < count; ++j) row[j] = from[j];
            }
            source->position += count;
            source->bitCount = 0;
        } else {
            for (uint32_t j = 0; j < count; ++j) {
                if (!source->ReadByte(source, row + j)) return 0;
            }
        }
        for (uint32_t j = count; j < 8; ++j) row[j] = row[j - 1];
    }
    return 1;
}

int32_t FetchRgb16(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb16>(s, samples); }
int32_t FetchBgr16(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr16>(s, samples); }
int32_t FetchRgb24(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb24>(s, samples); }
int32_t FetchBgr24(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr24>(s, samples); }
int32_t FetchRgb32(EncoderSession *s, uint8_t *samples) { return FetchColour<Rgb32>(s, samples); }
int32_t FetchBgr32(EncoderSession *s, uint8_t *samples) { return FetchColour<Bgr32>(s, samples); }

#if TRIVJPEG_X86

// --- Vector twins ------------------------------------------------------------

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
    __m128i sum =
        _mm_add_epi32(_mm_madd_epi16(outer, redFirst ? WordWeights(77, 29) : WordWeights(29, 77)),
                      _mm_madd_epi16(inner, WordWeights(150, 0)));
    *y = _mm_srli_epi32(_mm_add_epi32(sum, round), 8);
    sum = _mm_add_epi32(
        _mm_madd_epi16(outer, redFirst ? WordWeights(-43, 128) : WordWeights(128, -43)),
        _mm_madd_epi16(inner, WordWeights(-85, 0)));
    *cb = _mm_srai_epi32(_mm_add_epi32(sum, round), 8);
    sum = _mm_add_epi32(
        _mm_madd_epi16(outer, redFirst ? WordWeights(128, -21) : WordWeights(-21, 128)),
        _mm_madd_epi16(inner, WordWeights(-107, 0)));
    *cr = _mm_srai_epi32(_mm_add_epi32(sum, round), 8);
}

template <class Format>
TRIVJPEG_SSE2 inline Ycc8 MaskEight(const uint8_t *pixel) {
    __m128i y0, cb0, cr0, y1, cb1, cr1;
    MaskFour<Format>(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pixel)), &y0, &cb0, &cr0);
    MaskFour<Format>(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pixel + 16)), &y1, &cb1,
                     &cr1);
    return {_mm_packs_epi32(y0, y1), _mm_packs_epi32(cb0, cb1), _mm_packs_epi32(cr0, cr1)};
}

template <class Format>
struct MaskKernel {
    static constexpr uint32_t kBytes = Format::kBytes;
    TRIVJPEG_SSE2 static void Sixteen(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreSixteen(MaskEight<Format>(pixel), MaskEight<Format>(pixel + 32), y, cb, cr);
    }
    TRIVJPEG_SSE2 static void Eight(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreEight(MaskEight<Format>(pixel), y, cb, cr);
    }
};

// pshufb masks that gather eight pixels into (red, green) and (blue, green)
// byte pairs. The eight pixels are read as two 16-byte loads, the second
// starting at kSecond: byte 8 for 24-bit pixels, so that both loads end
// within the group's 24 bytes, and byte 16 for 32-bit ones. Each mask takes
// from its own load and zeroes (-128) the bytes the other one supplies.
struct PairMasks {
    alignas(16) int8_t redFirst[16], redSecond[16], blueFirst[16], blueSecond[16];
};

template <class Format>
constexpr uint32_t kSecond = Format::kBytes == 3 ? 8 : 16;

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

// Two signed byte weights for pmaddubsw, the first for the even byte.
TRIVJPEG_SSE2 inline __m128i ByteWeights(int even, int odd) {
    return _mm_set1_epi16(static_cast<int16_t>((odd & 0xFF) << 8 | (even & 0xFF)));
}

// Eight pixels as (red, green) and (blue, green) byte pairs. pmaddubsw sums
// each pair in a signed 16-bit lane with saturation, so the weights of a
// pair must fit a signed byte and sum to at most 128 in magnitude
// (128 x 255 = 32640): green's 150 in Y is split 51 + 99, and Cb and Cr are
// formed negated, 128 - (43r + 85g - 128b) and 128 - (107g + 21b - 128r).
// Y's two halves add up to at most 65280 + 128, which fits an unsigned lane.
// 128 - m reaches 32768 only for pure blue (Cb) or pure red (Cr); the
// saturating subtraction gives 32767 there, which shifts to 127 instead of
// 128, and both clamp to 255 in OffsetChroma.
TRIVJPEG_SSSE3 inline Ycc8 ConvertPairs(__m128i rg, __m128i bg) {
    __m128i round = _mm_set1_epi16(128);
    __m128i y = _mm_add_epi16(_mm_maddubs_epi16(rg, ByteWeights(77, 51)),
                              _mm_maddubs_epi16(bg, ByteWeights(29, 99)));
    __m128i cb = _mm_add_epi16(_mm_maddubs_epi16(rg, ByteWeights(43, 85)),
                               _mm_maddubs_epi16(bg, ByteWeights(-128, 0)));
    __m128i cr = _mm_add_epi16(_mm_maddubs_epi16(rg, ByteWeights(-128, 0)),
                               _mm_maddubs_epi16(bg, ByteWeights(21, 107)));
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

template <class Format>
TRIVJPEG_AVX2 inline void ShuffleSixteen(const uint8_t *pixel, Ycc8 *low, Ycc8 *high) {
    constexpr uint32_t group = 8 * Format::kBytes;
    const PairMasks &m = kPairMasks<Format>;
    __m256i first = LoadLanes(pixel, pixel + group);
    __m256i second = LoadLanes(pixel + kSecond<Format>, pixel + group + kSecond<Format>);
    __m256i rg = Gather(first, second, m.redFirst, m.redSecond);
    __m256i bg = Gather(first, second, m.blueFirst, m.blueSecond);

    __m256i round = _mm256_set1_epi16(128);
    __m256i y = _mm256_add_epi16(_mm256_maddubs_epi16(rg, ByteWeights256(77, 51)),
                                 _mm256_maddubs_epi16(bg, ByteWeights256(29, 99)));
    __m256i cb = _mm256_add_epi16(_mm256_maddubs_epi16(rg, ByteWeights256(43, 85)),
                                  _mm256_maddubs_epi16(bg, ByteWeights256(-128, 0)));
    __m256i cr = _mm256_add_epi16(_mm256_maddubs_epi16(rg, ByteWeights256(-128, 0)),
                                  _mm256_maddubs_epi16(bg, ByteWeights256(21, 107)));
    y = _mm256_srli_epi16(_mm256_add_epi16(y, round), 8);
    cb = _mm256_srai_epi16(_mm256_subs_epi16(round, cb), 8);
    cr = _mm256_srai_epi16(_mm256_subs_epi16(round, cr), 8);
    *low = {_mm256_castsi256_si128(y), _mm256_castsi256_si128(cb), _mm256_castsi256_si128(cr)};
    *high = {_mm256_extracti128_si256(y, 1), _mm256_extracti128_si256(cb, 1),
             _mm256_extracti128_si256(cr, 1)};
}

template <class Format>
struct ShuffleKernelAvx2 {
    static constexpr uint32_t kBytes = Format::kBytes;
    TRIVJPEG_AVX2 static void Sixteen(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        Ycc8 low, high;
        ShuffleSixteen<Format>(pixel, &low, &high);
        StoreSixteen(low, high, y, cb, cr);
    }
    TRIVJPEG_AVX2 static void Eight(const uint8_t *pixel, uint8_t *y, uint8_t *cb, uint8_t *cr) {
        StoreEight(ShuffleEight<Format>(pixel), y, cb, cr);
    }
};

}  // namespace

TRIVJPEG_SSE2 int32_t FetchRgb32Sse2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Rgb32, ConvertRows<MaskKernel<Rgb32>>>(s, samples);
}
TRIVJPEG_SSE2 int32_t FetchBgr32Sse2(EncoderSession *s, uint8_t *samples) {
    return FetchColour<Bgr32, ConvertRows<MaskKernel<Bgr32>>>(s, samples);
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

#endif

McuFetcher ChooseFetcher(uint16_t bitsPerPixel, uint8_t pixelOrder, uint32_t simdLevel) {
    bool blueFirst = pixelOrder == 1;
#if TRIVJPEG_X86
    if (simdLevel >= SimdAvx2 && bitsPerPixel == 24) {
        return blueFirst ? FetchBgr24Avx2 : FetchRgb24Avx2;
    }
    if (simdLevel >= SimdAvx2 && bitsPerPixel == 32) {
        return blueFirst ? FetchBgr32Avx2 : FetchRgb32Avx2;
    }
    if (simdLevel >= SimdSsse3 && bitsPerPixel == 24) {
        return blueFirst ? FetchBgr24Ssse3 : FetchRgb24Ssse3;
    }
    if (simdLevel >= SimdSsse3 && bitsPerPixel == 32) {
        return blueFirst ? FetchBgr32Ssse3 : FetchRgb32Ssse3;
    }
    if (simdLevel >= SimdSse2 && bitsPerPixel == 32) {
        return blueFirst ? FetchBgr32Sse2 : FetchRgb32Sse2;
    }
#endif
    (void)simdLevel;
    switch (bitsPerPixel) {
        case 8: return FetchGray8;
        case 16: return blueFirst ? FetchBgr16 : FetchRgb16;
        case 24: return blueFirst ? FetchBgr24 : FetchRgb24;
        default: return blueFirst ? FetchBgr32 : FetchRgb32;
    }
}
