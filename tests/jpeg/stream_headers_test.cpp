// The JFIF headers: the built-in tables, the segment writers one by one over
// a hand-built session, the code derivation, the MCU geometry, session set-up,
// and the whole header as Jpeg_EncodeStart writes it (including where it
// stops when the caller's buffer is too small).

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "chroma_reduction.h"
#include "encoder_entry.h"
#include "encoder_stages.h"
#include "encoder_session.h"
#include "jpeg_test_support.h"
#include "mcu_loop.h"
#include "session_setup.h"
#include "stream_headers.h"
#include "trivjpeg.h"

namespace {

using Bytes = std::vector<uint8_t>;
using jpegtest::JobRig;

// T.81 Table K.1, luminance quantisation, natural order.
constexpr uint8_t kLumaQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,   //
    12, 12, 14, 19, 26,  58,  60,  55,   //
    14, 13, 16, 24, 40,  57,  69,  56,   //
    14, 17, 22, 29, 51,  87,  80,  62,   //
    18, 22, 37, 56, 68,  109, 103, 77,   //
    24, 35, 55, 64, 81,  104, 113, 92,   //
    49, 64, 78, 87, 103, 121, 120, 101,  //
    72, 92, 95, 98, 112, 100, 103, 99,   //
};

// T.81 Table K.2, chrominance quantisation, natural order.
constexpr uint8_t kChromaQuant[64] = {
    17, 18, 24, 47, 99, 99, 99, 99,  //
    18, 21, 26, 66, 99, 99, 99, 99,  //
    24, 26, 56, 99, 99, 99, 99, 99,  //
    47, 66, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
    99, 99, 99, 99, 99, 99, 99, 99,  //
};

// BITS of T.81 Tables K.3, K.5, K.4, K.6 (counts of codes of length 1 to 16),
// in the order the DHT segment carries them.
constexpr uint8_t kStandardBits[4][16] = {
    {0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0},     // K.3 luminance DC
    {0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7D},  // K.5 luminance AC
    {0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0},     // K.4 chrominance DC
    {0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77},  // K.6 chrominance AC
};

// The zig-zag walk of T.81 Figure A.6, derived by walking the anti-diagonals
// rather than copied: even diagonals run up and to the right, odd ones down
// and to the left.
std::array<uint8_t, 64> ZigZag() {
    std::array<uint8_t, 64> zz{};
    int k = 0;
    for (int d = 0; d < 15; ++d) {
        const int lo = std::max(0, d - 7), hi = std::min(d, 7);
        for (int i = 0; i <= hi - lo; ++i) {
            const int row = d % 2 == 0 ? hi - i : lo + i;
            zz[k++] = static_cast<uint8_t>(row * 8 + (d - row));
        }
    }
    return zz;
}

int Scale(int quality) { return quality < 50 ? 5000 / quality : 200 - 2 * quality; }

int QuantEntry(int base, int quality) {
    const int v = (base * Scale(quality) + 50) / 100;
    return std::clamp(v, 1, 255);
}

// One Huffman table specification as HuffmanSpec carries it.
struct SpecTable {
    uint8_t classAndId;
    std::array<uint8_t, 16> bits;
    Bytes values;
};

std::vector<SpecTable> ParseHuffmanSpec() {
    std::vector<SpecTable> tables;
    size_t at = 0;
    for (int t = 0; t < 4; ++t) {
        SpecTable s;
        s.classAndId = HuffmanSpec[at++];
        size_t total = 0;
        for (int l = 0; l < 16; ++l) total += s.bits[l] = HuffmanSpec[at++];
        s.values.assign(HuffmanSpec + at, HuffmanSpec + at + total);
        at += total;
        tables.push_back(s);
    }
    EXPECT_EQ(at, sizeof HuffmanSpec);
    return tables;
}

// A session wired as the mode routine and WriteJpegStream's first step wire
// it, over a MemoryStream in big-endian write order, so that each segment
// writer can be run on its own.
struct HeaderRig {
    uint16_t status = StatusBase;
    Bytes out = Bytes(4096, 0xA5);
    ByteStream stream{};
    EncoderSession session{};
    HuffmanCodeTable huff[4]{};
    QuantTable quant[2]{};

    HeaderRig(int components, int mcuWidth, int mcuHeight, uint32_t width = 17, uint32_t height = 9,
              uint8_t quality = 75) {
        InitMemoryStream(&stream, static_cast<uint32_t>(out.size()), out.data(), &status);
        stream.SetWriteOrder(&stream, 0);
        session.output = &stream;
        session.status = &status;
        session.componentCount = static_cast<uint8_t>(components);
        session.mcuWidth = static_cast<uint8_t>(mcuWidth);
        session.mcuHeight = static_cast<uint8_t>(mcuHeight);
        session.width = width;
        session.height = height;
        session.frameWidth = static_cast<uint16_t>(width);
        session.frameHeight = static_cast<uint16_t>(height);
        session.quality = quality;
        session.outputKind = OutputMemory;
        for (auto &c : session.components) c.hSampling = c.vSampling = 1;
        if (components == 3) {
            session.components[0].hSampling = static_cast<uint8_t>(mcuWidth / 8);
            session.components[0].vSampling = static_cast<uint8_t>(mcuHeight / 8);
        }
    }
    Bytes Written() const { return Bytes(out.begin(), out.begin() + stream.position); }
};

// A code as the bit string a reader would write it, "" for an unset entry.
std::string Code(const HuffmanCodeTable &t, uint8_t symbol) {
    std::string s;
    for (int i = t.codeLength[symbol] - 1; i >= 0; --i) s += (t.code[symbol] >> i) & 1 ? '1' : '0';
    return s;
}

uint8_t SamplingByte(uint16_t bitsPerPixel, uint8_t subsampling) {
    if (bitsPerPixel == 8) return 0x11;
    return subsampling == Sub2x2 ? 0x22 : subsampling == Sub2x1 ? 0x21 : 0x11;
}

// Every header byte before the entropy-coded data, built from the standard
// tables above (the DHT payload is HuffmanSpec, checked against T.81 below).
Bytes ExpectedHeaders(uint16_t bitsPerPixel, uint8_t subsampling, uint16_t width, uint16_t height,
                      int quality) {
    const bool colour = bitsPerPixel != 8;
    const uint8_t n = colour ? 3 : 1;
    Bytes h = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',  'F',
               0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};

    const size_t dhtPayload = colour ? 416 : 208;
    h.insert(h.end(), {0xFF, 0xC4, static_cast<uint8_t>((dhtPayload + 2) >> 8),
                       static_cast<uint8_t>((dhtPayload + 2) & 0xFF)});
    h.insert(h.end(), HuffmanSpec, HuffmanSpec + dhtPayload);

    const auto zz = ZigZag();
    const int tables = colour ? 2 : 1;
    h.insert(h.end(), {0xFF, 0xDB, 0x00, static_cast<uint8_t>(2 + 65 * tables)});
    for (int t = 0; t < tables; ++t) {
        h.push_back(static_cast<uint8_t>(t));
        for (int i = 0; i < 64; ++i)
            h.push_back(
                static_cast<uint8_t>(QuantEntry((t ? kChromaQuant : kLumaQuant)[zz[i]], quality)));
    }

    h.insert(h.end(), {0xFF, 0xC0, 0x00, static_cast<uint8_t>(8 + 3 * n), 0x08,
                       static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height & 0xFF),
                       static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width & 0xFF), n,
                       0x01, SamplingByte(bitsPerPixel, subsampling), 0x00});
    if (colour) h.insert(h.end(), {0x02, 0x11, 0x01, 0x03, 0x11, 0x01});

    h.insert(h.end(), {0xFF, 0xDA, 0x00, static_cast<uint8_t>(2 * (n + 3)), n, 0x01, 0x00});
    if (colour) h.insert(h.end(), {0x02, 0x11, 0x03, 0x11});
    h.insert(h.end(), {0x00, 0x3F, 0x00});
    return h;
}

// ---------------------------------------------------------------------------
// Built-in tables

TEST(BuiltInTables, ZigZagOrderWalksTheAntiDiagonals) {
    const auto zz = ZigZag();
    EXPECT_TRUE(std::equal(zz.begin(), zz.end(), ZigZagOrder));
    EXPECT_EQ(ZigZagOrder[4], 9);  // 0, 1, 8, 16, 9, ...
    EXPECT_EQ(ZigZagOrder[63], 63);
}

TEST(BuiltInTables, QuantBaseHoldsTablesK1AndK2InNaturalOrder) {
    EXPECT_EQ(QuantBase[0], 0x00);
    EXPECT_TRUE(std::equal(kLumaQuant, kLumaQuant + 64, QuantBase + 1));
    EXPECT_EQ(QuantBase[65], 0x01);
    EXPECT_TRUE(std::equal(kChromaQuant, kChromaQuant + 64, QuantBase + 66));
}

TEST(BuiltInTables, HuffmanSpecHoldsTheFourAnnexKTables) {
    const auto tables = ParseHuffmanSpec();
    ASSERT_EQ(tables.size(), 4u);
    const uint8_t classAndId[4] = {0x00, 0x10, 0x01, 0x11};
    for (int t = 0; t < 4; ++t) {
        SCOPED_TRACE(t);
        EXPECT_EQ(tables[t].classAndId, classAndId[t]);
        EXPECT_TRUE(std::equal(tables[t].bits.begin(), tables[t].bits.end(), kStandardBits[t]));
        if (t % 2 == 0) {  // DC: categories 0 to 11 in order
            Bytes expected(12);
            for (int i = 0; i < 12; ++i) expected[i] = static_cast<uint8_t>(i);
            EXPECT_EQ(tables[t].values, expected);
        } else {  // AC: EOB, ZRL and every run/size with size 1 to 10, once each
            std::set<uint8_t> expected = {0x00, 0xF0};
            for (int run = 0; run < 16; ++run)
                for (int size = 1; size <= 10; ++size)
                    expected.insert(static_cast<uint8_t>(run * 16 + size));
            EXPECT_EQ(tables[t].values.size(), 162u);
            EXPECT_EQ(std::set<uint8_t>(tables[t].values.begin(), tables[t].values.end()),
                      expected);
        }
    }
    // Both halves take 208 bytes, so a grey DHT carries exactly the first.
    EXPECT_EQ(1 + 16 + tables[0].values.size() + 1 + 16 + tables[1].values.size(), 208u);
}

// ---------------------------------------------------------------------------
// SOI and APP0

TEST(WriteApp0, WritesTheJfif101Segment) {
    HeaderRig rig(3, 16, 16);
    EXPECT_NE(WriteApp0(&rig.session), 0);
    EXPECT_EQ(rig.Written(), (Bytes{0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46, 0x00, 0x01,
                                    0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00}));
}

// ---------------------------------------------------------------------------
// DHT and the derivation of code words

class WriteDhtFor : public testing::TestWithParam<int> {};  // component count

TEST_P(WriteDhtFor, CarriesHuffmanSpecByteForByte) {
    const int n = GetParam();
    HeaderRig rig(n, 8, 8);
    ASSERT_EQ(WriteDht(&rig.session, rig.huff), 1);
    const Bytes out = rig.Written();
    const size_t payload = n == 3 ? 416 : 208;
    ASSERT_EQ(out.size(), 4 + payload);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4),
              n == 3 ? (Bytes{0xFF, 0xC4, 0x01, 0xA2}) : (Bytes{0xFF, 0xC4, 0x00, 0xD2}));
    EXPECT_TRUE(std::equal(out.begin() + 4, out.end(), HuffmanSpec));
    EXPECT_EQ(rig.status, StatusBase);
}

TEST_P(WriteDhtFor, AttachesTablesToComponents) {
    const int n = GetParam();
    HeaderRig rig(n, 8, 8);
    const HuffmanCodeTable stale{};
    for (auto &c : rig.session.components) c.dcTable = c.acTable = &stale;
    ASSERT_EQ(WriteDht(&rig.session, rig.huff), 1);
    const auto &y = rig.session.components[0];
    EXPECT_EQ(y.dcTable, &rig.huff[0]);
    EXPECT_EQ(y.acTable, &rig.huff[1]);
    EXPECT_EQ(rig.huff[0].tableId, 0);
    EXPECT_EQ(rig.huff[1].tableId, 0);
    for (int c = 1; c < 3; ++c) {
        SCOPED_TRACE(c);
        const auto &chroma = rig.session.components[c];
        if (n == 3) {
            EXPECT_EQ(chroma.dcTable, &rig.huff[2]);
            EXPECT_EQ(chroma.acTable, &rig.huff[3]);
        } else {
            EXPECT_EQ(chroma.dcTable, nullptr);
            EXPECT_EQ(chroma.acTable, nullptr);
        }
    }
    if (n == 3) {
        EXPECT_EQ(rig.huff[2].tableId, 1);
        EXPECT_EQ(rig.huff[3].tableId, 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Components, WriteDhtFor, testing::Values(1, 3),
                         [](const testing::TestParamInfo<int> &info) {
                             return info.param == 1 ? std::string("Grey") : std::string("Colour");
                         });

// The codes printed in T.81 Annex K for the standard tables.
class DerivedCodes : public testing::Test {
protected:
    void SetUp() override {
        rig_ = std::make_unique<HeaderRig>(3, 16, 16);
        ASSERT_EQ(WriteDht(&rig_->session, rig_->huff), 1);
    }
    const HuffmanCodeTable &Table(int j) const { return rig_->huff[j]; }
    std::unique_ptr<HeaderRig> rig_;
};

TEST_F(DerivedCodes, LuminanceDcCategories) {
    const char *expected[12] = {"00",   "010",   "011",    "100",     "101",      "110",
                                "1110", "11110", "111110", "1111110", "11111110", "111111110"};
    for (int cat = 0; cat < 12; ++cat)
        EXPECT_EQ(Code(Table(0), static_cast<uint8_t>(cat)), expected[cat]) << cat;
}

TEST_F(DerivedCodes, ChrominanceDcCategories) {
    const char *expected[12] = {"00",       "01",        "10",         "110",
                                "1110",     "11110",     "111110",     "1111110",
                                "11111110", "111111110", "1111111110", "11111111110"};
    for (int cat = 0; cat < 12; ++cat)
        EXPECT_EQ(Code(Table(2), static_cast<uint8_t>(cat)), expected[cat]) << cat;
}

TEST_F(DerivedCodes, LuminanceAc) {
    const HuffmanCodeTable &t = Table(1);
    EXPECT_EQ(Code(t, 0x00), "1010");         // EOB
    EXPECT_EQ(Code(t, 0xF0), "11111111001");  // ZRL
    EXPECT_EQ(Code(t, 0x01), "00");
    EXPECT_EQ(Code(t, 0x02), "01");
    EXPECT_EQ(Code(t, 0x03), "100");
    EXPECT_EQ(Code(t, 0x04), "1011");
    EXPECT_EQ(Code(t, 0x11), "1100");
    EXPECT_EQ(Code(t, 0x21), "11100");
    EXPECT_EQ(Code(t, 0xA1), "111111010");
    EXPECT_EQ(Code(t, 0x82), "111111111000000");  // the one 15-bit code
    EXPECT_EQ(Code(t, 0x09), "1111111110000010");
    EXPECT_EQ(Code(t, 0x0A), "1111111110000011");
    EXPECT_EQ(Code(t, 0xFA), "1111111111111110");  // last code, one short of all ones
}

TEST_F(DerivedCodes, ChrominanceAc) {
    const HuffmanCodeTable &t = Table(3);
    EXPECT_EQ(Code(t, 0x00), "00");          // EOB
    EXPECT_EQ(Code(t, 0xF0), "1111111010");  // ZRL
    EXPECT_EQ(Code(t, 0x01), "01");
    EXPECT_EQ(Code(t, 0x02), "100");
    EXPECT_EQ(Code(t, 0x11), "1011");
    EXPECT_EQ(Code(t, 0x21), "11010");
    EXPECT_EQ(Code(t, 0x81), "11111001");
    EXPECT_EQ(Code(t, 0xC1), "111111010");
    EXPECT_EQ(Code(t, 0xFA), "1111111111111110");
}

// Whatever the table, a decoder needs the codes prefix-free and canonical
// (consecutive within a length, each length starting at the previous code
// plus one, doubled), and none may be all ones, or the 1-bit padding at the
// end of the scan could read as a symbol.
TEST_F(DerivedCodes, EveryTableIsPrefixFreeAndCanonical) {
    const auto specs = ParseHuffmanSpec();
    for (int j = 0; j < 4; ++j) {
        SCOPED_TRACE("table " + std::to_string(j));
        const HuffmanCodeTable &t = Table(j);
        const Bytes &symbols = specs[j].values;
        uint32_t previous = 0, previousLength = 0;
        for (size_t k = 0; k < symbols.size(); ++k) {
            const uint32_t len = t.codeLength[symbols[k]], code = t.code[symbols[k]];
            ASSERT_GE(len, 1u);
            ASSERT_LE(len, 16u);
            ASSERT_LT(code, 1u << len);
            EXPECT_NE(code, (1u << len) - 1) << "all-ones code for symbol " << int(symbols[k]);
            if (k == 0) {
                EXPECT_EQ(code, 0u);
            } else {
                ASSERT_GE(len, previousLength);
                EXPECT_EQ(code, (previous + 1) << (len - previousLength))
                    << "symbol " << int(symbols[k]);
            }
            for (size_t i = 0; i < k; ++i) {
                const uint32_t li = t.codeLength[symbols[i]];
                EXPECT_NE(code >> (len - li), t.code[symbols[i]])
                    << "symbol " << int(symbols[i]) << " is a prefix of " << int(symbols[k]);
            }
            previous = code;
            previousLength = len;
        }
    }
}

TEST(GenerateCodeSizes, ListsOneSizePerCodeThenZero) {
    uint8_t sizes[257];
    std::fill(std::begin(sizes), std::end(sizes), 0xEE);
    EXPECT_EQ(GenerateCodeSizes(sizes, kStandardBits[0]), 12);
    const uint8_t expected[13] = {2, 3, 3, 3, 3, 3, 4, 5, 6, 7, 8, 9, 0};
    EXPECT_TRUE(std::equal(expected, expected + 13, sizes));
    EXPECT_EQ(sizes[13], 0xEE);
}

TEST(GenerateCodeSizes, AllZeroCountsGiveNoCodes) {
    const uint8_t counts[16] = {};
    uint8_t sizes[257];
    std::fill(std::begin(sizes), std::end(sizes), 0xEE);
    EXPECT_EQ(GenerateCodeSizes(sizes, counts), 0);
    EXPECT_EQ(sizes[0], 0);
    EXPECT_EQ(sizes[1], 0xEE);

    uint16_t codes[256];
    std::fill(std::begin(codes), std::end(codes), 0xBEEF);
    GenerateCodeWords(codes, sizes);
    EXPECT_TRUE(
        std::all_of(std::begin(codes), std::end(codes), [](uint16_t c) { return c == 0xBEEF; }));
}

TEST(GenerateCodeWords, DoublesOncePerSkippedLength) {
    uint8_t counts[16] = {};
    counts[0] = 1;   // length 1
    counts[2] = 2;   // length 3
    counts[15] = 1;  // length 16
    uint8_t sizes[257];
    ASSERT_EQ(GenerateCodeSizes(sizes, counts), 4);
    uint16_t codes[5];
    std::fill(std::begin(codes), std::end(codes), 0xBEEF);
    GenerateCodeWords(codes, sizes);
    EXPECT_EQ(codes[0], 0b0);
    EXPECT_EQ(codes[1], 0b100);
    EXPECT_EQ(codes[2], 0b101);
    EXPECT_EQ(codes[3], 0b1100000000000000);
    EXPECT_EQ(codes[4], 0xBEEF);
}

// 256 symbols is the most a table can list; the size list then needs all
// 257 entries.
TEST(GenerateCodeWords, HandlesTheLargestSymbolCount) {
    uint8_t counts[16] = {};
    counts[7] = 255;  // length 8
    counts[8] = 1;    // length 9
    uint8_t sizes[257];
    ASSERT_EQ(GenerateCodeSizes(sizes, counts), 256);
    EXPECT_EQ(sizes[255], 9);
    EXPECT_EQ(sizes[256], 0);
    uint16_t codes[256];
    GenerateCodeWords(codes, sizes);
    for (int k = 0; k < 255; ++k) ASSERT_EQ(codes[k], k);
    EXPECT_EQ(codes[255], 255 << 1);
}

// ---------------------------------------------------------------------------
// DQT

class WriteDqtAt : public testing::TestWithParam<int> {};  // quality

TEST_P(WriteDqtAt, ScalesK1AndK2AndWritesThemInZigZagOrder) {
    const int q = GetParam();
    HeaderRig rig(3, 16, 16, 17, 9, static_cast<uint8_t>(q));
    ASSERT_EQ(WriteDqt(&rig.session, rig.quant), 1);
    const Bytes out = rig.Written();
    ASSERT_EQ(out.size(), 134u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{0xFF, 0xDB, 0x00, 0x84}));
    const auto zz = ZigZag();
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE("table " + std::to_string(t));
        const uint8_t *base = t ? kChromaQuant : kLumaQuant;
        const size_t at = 4 + 65 * t;
        EXPECT_EQ(out[at], t);
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(out[at + 1 + i], QuantEntry(base[zz[i]], q)) << "zig-zag index " << i;
        EXPECT_EQ(rig.quant[t].precision, 0);
        EXPECT_EQ(rig.quant[t].tableId, t);
        for (int i = 0; i < 64; ++i)
            EXPECT_EQ(rig.quant[t].divisors[i], 8 * QuantEntry(base[i], q))
                << "natural index " << i;
    }
}

TEST_P(WriteDqtAt, WritesOnlyTheLuminanceTableForGrey) {
    const int q = GetParam();
    HeaderRig rig(1, 8, 8, 17, 9, static_cast<uint8_t>(q));
    const QuantTable stale{};
    for (auto &c : rig.session.components) c.quantTable = &stale;
    ASSERT_EQ(WriteDqt(&rig.session, rig.quant), 1);
    const Bytes out = rig.Written();
    ASSERT_EQ(out.size(), 69u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{0xFF, 0xDB, 0x00, 0x43, 0x00}));
    const auto zz = ZigZag();
    for (int i = 0; i < 64; ++i) EXPECT_EQ(out[5 + i], QuantEntry(kLumaQuant[zz[i]], q)) << i;
    EXPECT_EQ(rig.session.components[0].quantTable, &rig.quant[0]);
    EXPECT_EQ(rig.session.components[1].quantTable, nullptr);
    EXPECT_EQ(rig.session.components[2].quantTable, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Qualities, WriteDqtAt, testing::Values(1, 10, 49, 50, 51, 75, 99, 100));

TEST(WriteDqt, AttachesTheChromaTableToCbAndCr) {
    HeaderRig rig(3, 16, 16);
    ASSERT_EQ(WriteDqt(&rig.session, rig.quant), 1);
    EXPECT_EQ(rig.session.components[0].quantTable, &rig.quant[0]);
    EXPECT_EQ(rig.session.components[1].quantTable, &rig.quant[1]);
    EXPECT_EQ(rig.session.components[2].quantTable, &rig.quant[1]);
}

// Fixed points of the scaling, so that a misread formula in both the test
// and the library still shows.
TEST(WriteDqt, KnownLuminanceValues) {
    auto luma = [](int q) {
        HeaderRig rig(1, 8, 8, 17, 9, static_cast<uint8_t>(q));
        EXPECT_EQ(WriteDqt(&rig.session, rig.quant), 1);
        const Bytes out = rig.Written();
        return Bytes(out.begin() + 5, out.end());
    };
    const Bytes q50 = luma(50), q75 = luma(75), q10 = luma(10), q100 = luma(100), q99 = luma(99),
                q1 = luma(1);
    EXPECT_EQ(Bytes(q50.begin(), q50.begin() + 8), (Bytes{16, 11, 12, 14, 12, 10, 16, 14}));
    EXPECT_EQ(Bytes(q75.begin(), q75.begin() + 8), (Bytes{8, 6, 6, 7, 6, 5, 8, 7}));
    EXPECT_EQ(Bytes(q10.begin(), q10.begin() + 8), (Bytes{80, 55, 60, 70, 60, 50, 80, 70}));
    EXPECT_EQ(q100, Bytes(64, 1));
    EXPECT_EQ(q99[63], 2);  // base 99
    EXPECT_EQ(q99[0], 1);   // base 16
    EXPECT_EQ(q1, Bytes(64, 255));

    // Natural entry 5 (base 40) at qualities 49, 50, 51.
    HeaderRig r49(1, 8, 8, 17, 9, 49), r51(1, 8, 8, 17, 9, 51);
    ASSERT_EQ(WriteDqt(&r49.session, r49.quant), 1);
    ASSERT_EQ(WriteDqt(&r51.session, r51.quant), 1);
    EXPECT_EQ(r49.quant[0].divisors[5], 8 * 41);
    EXPECT_EQ(r51.quant[0].divisors[5], 8 * 39);
}

TEST(WriteDqt, EveryQualityFollowsTheScalingRule) {
    const auto zz = ZigZag();
    for (int q = 1; q <= 100; ++q) {
        SCOPED_TRACE("quality " + std::to_string(q));
        HeaderRig rig(3, 16, 16, 17, 9, static_cast<uint8_t>(q));
        ASSERT_EQ(WriteDqt(&rig.session, rig.quant), 1);
        for (int t = 0; t < 2; ++t) {
            const uint8_t *base = t ? kChromaQuant : kLumaQuant;
            for (int i = 0; i < 64; ++i) {
                ASSERT_EQ(rig.out[4 + 65 * t + 1 + i], QuantEntry(base[zz[i]], q));
                ASSERT_EQ(rig.quant[t].divisors[i], 8 * QuantEntry(base[i], q));
            }
        }
    }
}

// ---------------------------------------------------------------------------
// SOF0 and SOS

struct FrameCase {
    const char *name;
    int components;
    int mcuWidth;
    int mcuHeight;
    Bytes sof0Components;
    Bytes sos;
};

class FrameAndScanHeaders : public testing::TestWithParam<FrameCase> {
protected:
    // SOF0 needs the quantisation tables and SOS the Huffman tables, as in
    // the stream.
    void Run(HeaderRig &rig) {
        ASSERT_EQ(WriteDht(&rig.session, rig.huff), 1);
        ASSERT_EQ(WriteDqt(&rig.session, rig.quant), 1);
        rig.stream.position = 0;
    }
};

TEST_P(FrameAndScanHeaders, Sof0CarriesHeightWidthAndComponents) {
    const FrameCase &c = GetParam();
    HeaderRig rig(c.components, c.mcuWidth, c.mcuHeight, 0x0123, 0x0456);
    Run(rig);
    ASSERT_EQ(WriteSof0(&rig.session), 1);
    Bytes expected = {0xFF, 0xC0, 0x00, static_cast<uint8_t>(8 + 3 * c.components), 0x08, 0x04,
                      0x56, 0x01, 0x23, static_cast<uint8_t>(c.components)};
    expected.insert(expected.end(), c.sof0Components.begin(), c.sof0Components.end());
    EXPECT_EQ(rig.Written(), expected);
    for (int i = 0; i < c.components; ++i) EXPECT_EQ(rig.session.components[i].id, i + 1);
}

TEST_P(FrameAndScanHeaders, SosNamesEachComponentsTables) {
    const FrameCase &c = GetParam();
    HeaderRig rig(c.components, c.mcuWidth, c.mcuHeight);
    Run(rig);
    ASSERT_EQ(WriteSof0(&rig.session), 1);
    rig.stream.position = 0;
    EXPECT_NE(WriteSos(&rig.session), 0);
    EXPECT_EQ(rig.Written(), c.sos);
}

const Bytes kColourSos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                          0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};

INSTANTIATE_TEST_SUITE_P(
    Layouts, FrameAndScanHeaders,
    testing::Values(
        FrameCase{"Grey",
                  1,
                  8,
                  8,
                  {0x01, 0x11, 0x00},
                  {0xFF, 0xDA, 0x00, 0x08, 0x01, 0x01, 0x00, 0x00, 0x3F, 0x00}},
        FrameCase{"Sub2x2",
                  3,
                  16,
                  16,
                  {0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01},
                  kColourSos},
        FrameCase{
            "Sub2x1", 3, 16, 8, {0x01, 0x21, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01}, kColourSos},
        FrameCase{"SubNone",
                  3,
                  8,
                  8,
                  {0x01, 0x11, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11, 0x01},
                  kColourSos}),
    [](const testing::TestParamInfo<FrameCase> &info) { return std::string(info.param.name); });

// Each segment has the size the decoder's length field promises, and the
// header before the scan data is 607 (colour) or 324 (grey) bytes.
TEST(StreamHeaders, SegmentSizesAddUpTo607And324) {
    for (int n : {1, 3}) {
        SCOPED_TRACE(n);
        HeaderRig rig(n, n == 3 ? 16 : 8, n == 3 ? 16 : 8);
        uint32_t last = 0;
        auto grew = [&] {
            const uint32_t d = rig.stream.position - last;
            last = rig.stream.position;
            return d;
        };
        ASSERT_EQ(rig.stream.WriteWord(&rig.stream, 0xFFD8), 1);
        EXPECT_EQ(grew(), 2u);
        ASSERT_NE(WriteApp0(&rig.session), 0);
        EXPECT_EQ(grew(), 18u);
        ASSERT_EQ(WriteDht(&rig.session, rig.huff), 1);
        EXPECT_EQ(grew(), n == 3 ? 420u : 212u);
        ASSERT_EQ(WriteDqt(&rig.session, rig.quant), 1);
        EXPECT_EQ(grew(), n == 3 ? 134u : 69u);
        ASSERT_EQ(WriteSof0(&rig.session), 1);
        EXPECT_EQ(grew(), n == 3 ? 19u : 13u);
        ASSERT_NE(WriteSos(&rig.session), 0);
        EXPECT_EQ(grew(), n == 3 ? 14u : 10u);
        EXPECT_EQ(rig.stream.position, n == 3 ? 607u : 324u);
        EXPECT_EQ(rig.status, StatusBase);
    }
}

// ---------------------------------------------------------------------------
// MCU geometry

struct GeometryCase {
    uint32_t width, height;
    int mcuWidth, mcuHeight;
    uint16_t perRow;
    uint32_t count;
};

class McuGeometry : public testing::TestWithParam<GeometryCase> {};

// Partial MCUs at the right and bottom edges count as whole ones.
TEST_P(McuGeometry, CountsPartialMcusAsWhole) {
    const GeometryCase &c = GetParam();
    HeaderRig rig(3, c.mcuWidth, c.mcuHeight, c.width, c.height);
    rig.session.mcuIndex = 12345;
    SetMcuGeometry(&rig.session);
    EXPECT_EQ(rig.session.mcusPerRow, c.perRow);
    EXPECT_EQ(rig.session.mcuCount, c.count);
    EXPECT_EQ(rig.session.mcuIndex, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, McuGeometry,
    testing::Values(GeometryCase{17, 9, 16, 16, 2, 2}, GeometryCase{17, 9, 16, 8, 2, 4},
                    GeometryCase{17, 9, 8, 8, 3, 6}, GeometryCase{1, 1, 16, 16, 1, 1},
                    GeometryCase{1, 1, 16, 8, 1, 1}, GeometryCase{1, 1, 8, 8, 1, 1},
                    GeometryCase{16, 16, 16, 16, 1, 1}, GeometryCase{9, 8, 8, 8, 2, 2},
                    // The rounding must not overflow 16 bits.
                    GeometryCase{65535, 65535, 8, 8, 8192, 8192u * 8192u},
                    GeometryCase{65535, 65535, 16, 16, 4096, 4096u * 4096u},
                    GeometryCase{65535, 65535, 16, 8, 4096, 4096u * 8192u},
                    GeometryCase{65535, 1, 8, 8, 8192, 8192}));

// ---------------------------------------------------------------------------
// Session set-up, through the whole stream

struct LayoutCase {
    uint16_t bitsPerPixel;
    uint8_t subsampling;
};

std::string LayoutName(const testing::TestParamInfo<LayoutCase> &info) {
    static const char *sub[] = {"Sub2x2", "Sub2x1", "SubNone"};
    return "Bpp" + std::to_string(info.param.bitsPerPixel) + sub[info.param.subsampling];
}

const auto kLayouts =
    testing::Values(LayoutCase{8, Sub2x2}, LayoutCase{8, SubNone}, LayoutCase{16, Sub2x2},
                    LayoutCase{16, Sub2x1}, LayoutCase{24, Sub2x2}, LayoutCase{24, Sub2x1},
                    LayoutCase{24, SubNone}, LayoutCase{32, Sub2x1}, LayoutCase{32, SubNone});

class SetUpSessionFor : public testing::TestWithParam<LayoutCase> {};

TEST_P(SetUpSessionFor, FillsGeometryAndChoicesFromTheJob) {
    const LayoutCase &c = GetParam();
    JobRig j(17, 9, c.bitsPerPixel, 42, c.subsampling);
    uint16_t status = StatusBase;
    EncodeSetup setup{};
    ASSERT_EQ(ValidateJob(&j.job, &setup, &status), 1);
    setup.outputKind = OutputMemory;

    ByteStream source{}, output{};
    InitMemoryStream(&source, j.job.sourceSize, j.source.data(), &status);
    InitMemoryStream(&output, j.job.destSize, j.dest.data(), &status);
    source.SetReadOrder(&source, 0);  // set-up must choose the orders itself
    output.SetWriteOrder(&output, 1);
    EncoderSession session{};
    session.source = &source;
    session.output = &output;
    session.status = &status;
    EXPECT_NE(SetUpSession(&j.job, &setup, &session), 0);
    EXPECT_EQ(status, StatusBase);

    const bool colour = c.bitsPerPixel != 8;
    EXPECT_EQ(session.quality, 42);
    EXPECT_EQ(session.outputKind, OutputMemory);
    EXPECT_EQ(session.fetcher, setup.fetcher);
    EXPECT_EQ(session.blockCoder, setup.blockCoder);
    EXPECT_EQ(session.blockRunCoder, setup.blockRunCoder);
    EXPECT_EQ(session.blockTransform, setup.blockTransform);
    EXPECT_EQ(session.blockPairTransform, setup.blockPairTransform);
    EXPECT_EQ(session.blockPairApart, setup.blockPairApart);
    EXPECT_EQ(session.blockQuadTransform, setup.blockQuadTransform);
    EXPECT_EQ(session.width, 17u);
    EXPECT_EQ(session.height, 9u);
    EXPECT_EQ(session.frameWidth, 17u);
    EXPECT_EQ(session.frameHeight, 9u);
    EXPECT_EQ(session.sourceStart, 0u);
    EXPECT_EQ(session.stride, jpegtest::RowStride(17, c.bitsPerPixel));
    EXPECT_EQ(session.componentCount, colour ? 3 : 1);

    const int mcuW = colour && c.subsampling != SubNone ? 16 : 8;
    const int mcuH = colour && c.subsampling == Sub2x2 ? 16 : 8;
    EXPECT_EQ(session.mcuWidth, mcuW);
    EXPECT_EQ(session.mcuHeight, mcuH);
    EXPECT_EQ(session.components[0].hSampling, mcuW / 8);
    EXPECT_EQ(session.components[0].vSampling, mcuH / 8);
    if (colour) {
        for (int i = 1; i < 3; ++i) {
            EXPECT_EQ(session.components[i].hSampling, 1);
            EXPECT_EQ(session.components[i].vSampling, 1);
        }
        const ChromaReducer plain = c.subsampling == Sub2x2   ? Reduce2x2
                                    : c.subsampling == Sub2x1 ? Reduce2x1
                                                              : ReduceNone;
        EXPECT_EQ(ChooseStages(SimdNone, c.bitsPerPixel, 0, c.subsampling).chromaReducer, plain);
        EXPECT_EQ(session.chromaReducer, setup.chromaReducer);
    }

    // The output was switched to big-endian headers, the source to
    // little-endian pixel words.
    EXPECT_EQ(j.dest[0], 0xFF);
    EXPECT_EQ(j.dest[1], 0xD8);
    ASSERT_EQ(source.Seek(&source, 0, 0), 1);
    uint16_t word = 0;
    ASSERT_EQ(source.ReadWord(&source, &word), 1);
    EXPECT_EQ(word, j.source[0] | j.source[1] << 8);
}

INSTANTIATE_TEST_SUITE_P(Layouts, SetUpSessionFor, kLayouts, LayoutName);

TEST(SetUpSession, StrideRoundsRowsUpToFourBytes) {
    struct {
        uint32_t width;
        uint16_t bpp;
        uint32_t stride;
    } cases[] = {{1, 8, 4},  {3, 8, 4},  {4, 8, 4},   {5, 8, 8},    {1, 16, 4},
                 {3, 16, 8}, {1, 24, 4}, {5, 24, 16}, {17, 24, 52}, {1, 32, 4}};
    for (const auto &c : cases) {
        SCOPED_TRACE("width " + std::to_string(c.width) + " bpp " + std::to_string(c.bpp));
        JobRig j(c.width, 2, c.bpp, 75, SubNone);
        uint16_t status = StatusBase;
        EncodeSetup setup{};
        ASSERT_EQ(ValidateJob(&j.job, &setup, &status), 1);
        ByteStream source{}, output{};
        InitMemoryStream(&source, j.job.sourceSize, j.source.data(), &status);
        InitMemoryStream(&output, j.job.destSize, j.dest.data(), &status);
        EncoderSession session{};
        session.source = &source;
        session.output = &output;
        session.status = &status;
        SetUpSession(&j.job, &setup, &session);
        EXPECT_EQ(session.stride, c.stride);
    }
}

// The image may start inside the source stream; set-up takes its position
// as the base, and the encoded stream is the same as from offset 0.
TEST(SetUpSession, SourceStartIsTheSourcePosition) {
    auto encode = [](uint32_t skip, Bytes &out, uint32_t &start) {
        JobRig j(17, 9, 24, 75, Sub2x2);
        Bytes src(skip, 0x77);
        src.insert(src.end(), j.source.begin(), j.source.end());
        uint16_t status = StatusBase;
        EncodeSetup setup{};
        EXPECT_EQ(ValidateJob(&j.job, &setup, &status), 1);
        setup.outputKind = OutputMemory;
        ByteStream source{}, output{};
        InitMemoryStream(&source, static_cast<uint32_t>(src.size()), src.data(), &status);
        source.position = skip;
        InitMemoryStream(&output, j.job.destSize, j.dest.data(), &status);
        EncoderSession session{};
        session.source = &source;
        session.output = &output;
        session.status = &status;
        EXPECT_NE(SetUpSession(&j.job, &setup, &session), 0);
        start = session.sourceStart;
        out.assign(j.dest.begin(), j.dest.begin() + output.position);
    };
    Bytes plain, shifted;
    uint32_t plainStart = 99, shiftedStart = 99;
    encode(0, plain, plainStart);
    encode(12, shifted, shiftedStart);
    EXPECT_EQ(plainStart, 0u);
    EXPECT_EQ(shiftedStart, 12u);
    EXPECT_EQ(plain, shifted);
}

// ---------------------------------------------------------------------------
// The whole header as the export writes it

class EncodeStartHeaders : public testing::TestWithParam<LayoutCase> {};

TEST_P(EncodeStartHeaders, HeadersPrecedeTheScan) {
    const LayoutCase &c = GetParam();
    JobRig j(37, 21, c.bitsPerPixel, 63, c.subsampling);
    ASSERT_EQ(Jpeg_EncodeStart(&j.job, ModeEncode), 0);
    const Bytes expected = ExpectedHeaders(c.bitsPerPixel, c.subsampling, 37, 21, 63);
    ASSERT_GT(j.job.destSize, expected.size() + 2);
    EXPECT_EQ(Bytes(j.dest.begin(), j.dest.begin() + expected.size()), expected);
    EXPECT_EQ(j.dest[j.job.destSize - 2], 0xFF);
    EXPECT_EQ(j.dest[j.job.destSize - 1], 0xD9);
    EXPECT_EQ(j.dest[j.job.destSize], JobRig::kSentinel);
}

INSTANTIATE_TEST_SUITE_P(Layouts, EncodeStartHeaders, kLayouts, LayoutName);

// A buffer that ends inside a header segment fails with that segment's code
// (0x2005 inside SOI, which has none; 0x2085 inside SOS, part of the scan),
// keeps exactly the bytes that fitted, and writes nothing past its end.
struct SweepCase {
    const char *name;
    uint16_t bitsPerPixel;
    uint32_t ends[6];  // where SOI, APP0, DHT, DQT, SOF0 and SOS end
};

class HeaderThatDoesNotFit : public testing::TestWithParam<SweepCase> {};

TEST_P(HeaderThatDoesNotFit, FailsWithTheCodeOfTheSegmentItEndsIn) {
    const SweepCase &c = GetParam();
    const uint16_t codes[6] = {0x2005, 0x2095, 0x2045, 0x2055, 0x2075, 0x2085};
    const Bytes expected = ExpectedHeaders(c.bitsPerPixel, Sub2x2, 16, 16, 75);
    ASSERT_EQ(expected.size(), c.ends[5]);
    JobRig j(16, 16, c.bitsPerPixel, 75, Sub2x2, 1024);
    for (uint32_t d = 0; d < c.ends[5]; ++d) {
        SCOPED_TRACE("destSize " + std::to_string(d));
        std::fill(j.dest.begin(), j.dest.end(), JobRig::kSentinel);
        j.job.destSize = d;
        const int seg = static_cast<int>(std::upper_bound(c.ends, c.ends + 6, d) - c.ends);
        ASSERT_EQ(Jpeg_EncodeStart(&j.job, ModeEncode), codes[seg]);
        ASSERT_EQ(j.job.destSize, 0u);
        ASSERT_TRUE(std::equal(j.dest.begin(), j.dest.begin() + d, expected.begin()));
        ASSERT_TRUE(std::all_of(j.dest.begin() + d, j.dest.end(),
                                [](uint8_t b) { return b == JobRig::kSentinel; }));
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, HeaderThatDoesNotFit,
                         testing::Values(SweepCase{"Colour", 24, {2, 20, 440, 574, 593, 607}},
                                         SweepCase{"Grey", 8, {2, 20, 232, 301, 314, 324}}),
                         [](const testing::TestParamInfo<SweepCase> &info) {
                             return std::string(info.param.name);
                         });

}  // namespace
