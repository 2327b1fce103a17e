// MemoryStream and SizeCounter: byte order, bit packing with 0xFF stuffing
// and 1-bit padding, the capacity and position checks, seeking and reading.
// Size mode is only useful if the SizeCounter predicts the MemoryStream to
// the byte, so most write rules are checked on both kinds.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "byte_stream.h"
#include "trivjpeg.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kGuard = 0xA5;

// A MemoryStream over its own memory, followed by guard bytes that no
// operation may touch. The status starts at StatusBase, as in a real call, so
// that a stream which assigns its code instead of ORing it is caught.
struct MemRig {
    uint16_t status = StatusBase;
    uint32_t capacity;
    Bytes mem;
    ByteStream s{};

    explicit MemRig(uint32_t cap, const Bytes &content = {}) : capacity(cap), mem(cap + 8, kGuard) {
        std::copy(content.begin(), content.end(), mem.begin());
        InitMemoryStream(&s, cap, mem.data(), &status);
    }
    Bytes Written() const { return Bytes(mem.begin(), mem.begin() + s.position); }
    bool GuardIntact() const {
        return std::all_of(mem.begin() + capacity, mem.end(),
                           [](uint8_t b) { return b == kGuard; });
    }
};

struct CountRig {
    uint16_t status = StatusBase;
    ByteStream s{};
    CountRig() { InitSizeCounter(&s, &status); }
};

constexpr uint16_t kBound = StatusBase | StatusStreamBound;

// ---------------------------------------------------------------------------
// Construction and byte order

TEST(MemoryStream, StartsEmptyAndLittleEndian) {
    uint16_t status = StatusBase;
    Bytes mem(16, 0);
    ByteStream s{};
    ASSERT_EQ(InitMemoryStream(&s, 16, mem.data(), &status), &s);
    EXPECT_EQ(s.bitBuffer, 0u);
    EXPECT_EQ(s.bitCount, 0u);
    EXPECT_EQ(s.buffer, mem.data());
    EXPECT_EQ(s.size, 16u);
    EXPECT_EQ(s.position, 0u);
    EXPECT_EQ(s.status, &status);

    EXPECT_EQ(s.WriteWord(&s, 0x1234), 1);
    EXPECT_EQ(s.WriteDword(&s, 0x11223344), 1);
    EXPECT_EQ(Bytes(mem.begin(), mem.begin() + s.position),
              (Bytes{0x34, 0x12, 0x44, 0x33, 0x22, 0x11}));
    EXPECT_EQ(status, StatusBase);
}

TEST(SizeCounter, StartsEmptyWithoutBuffer) {
    uint16_t status = StatusBase;
    ByteStream s{};
    s.buffer = reinterpret_cast<uint8_t *>(&s);  // must be cleared
    s.size = 99;
    ASSERT_EQ(InitSizeCounter(&s, &status), &s);
    EXPECT_EQ(s.bitBuffer, 0u);
    EXPECT_EQ(s.bitCount, 0u);
    EXPECT_EQ(s.buffer, nullptr);
    EXPECT_EQ(s.size, 0u);
    EXPECT_EQ(s.position, 0u);
    EXPECT_EQ(s.Tell(&s), 0u);
}

// Order 1 is little-endian; every other value is big-endian.
class MemoryStreamOrder : public testing::TestWithParam<uint32_t> {};

TEST_P(MemoryStreamOrder, WritesWordsAndDwordsInChosenOrder) {
    const uint32_t order = GetParam();
    const bool little = order == 1;
    MemRig r(6);
    r.s.SetWriteOrder(&r.s, little ? 0 : 1);  // switching back must take effect too
    r.s.SetWriteOrder(&r.s, order);
    ASSERT_EQ(r.s.WriteWord(&r.s, 0x1234), 1);
    ASSERT_EQ(r.s.WriteDword(&r.s, 0x11223344), 1);
    const Bytes expected = little ? Bytes{0x34, 0x12, 0x44, 0x33, 0x22, 0x11}
                                  : Bytes{0x12, 0x34, 0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(r.Written(), expected);
    EXPECT_EQ(r.status, StatusBase);
}

TEST_P(MemoryStreamOrder, ReadsWordsAndDwordsInChosenOrder) {
    const uint32_t order = GetParam();
    const bool little = order == 1;
    MemRig r(6, {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    r.s.SetReadOrder(&r.s, little ? 0 : 1);
    r.s.SetReadOrder(&r.s, order);
    uint16_t w = 0;
    uint32_t d = 0;
    ASSERT_EQ(r.s.ReadWord(&r.s, &w), 1);
    ASSERT_EQ(r.s.ReadDword(&r.s, &d), 1);
    EXPECT_EQ(w, little ? 0x3412 : 0x1234);
    EXPECT_EQ(d, little ? 0xBC9A7856u : 0x56789ABCu);
    EXPECT_EQ(r.s.position, 6u);
}

TEST_P(MemoryStreamOrder, ReadAndWriteOrdersAreIndependent) {
    const uint32_t order = GetParam();
    MemRig r(4, {0x12, 0x34});
    r.s.SetReadOrder(&r.s, order);
    r.s.SetWriteOrder(&r.s, order == 1 ? 0 : 1);
    uint16_t w = 0;
    ASSERT_EQ(r.s.ReadWord(&r.s, &w), 1);
    ASSERT_EQ(r.s.WriteWord(&r.s, 0xABCD), 1);
    EXPECT_EQ(w, order == 1 ? 0x3412 : 0x1234);
    EXPECT_EQ(r.mem[2], order == 1 ? 0xAB : 0xCD);
}

INSTANTIATE_TEST_SUITE_P(Orders, MemoryStreamOrder,
                         testing::Values(0u, 1u, 2u, 0x101u, 0xFFFFFFFFu));

TEST(MemoryStream, UsesOnlyTheLowBitsOfEachArgument) {
    MemRig r(8);
    r.s.SetWriteOrder(&r.s, 0);
    EXPECT_EQ(r.s.WriteByte(&r.s, 0x1AB), 1);
    EXPECT_EQ(r.s.WriteWord(&r.s, 0xABCD1234), 1);
    EXPECT_EQ(r.s.WriteBits(&r.s, 0x103, 0x10005), 1);  // 3 bits of 0x0005
    EXPECT_EQ(r.s.FlushBits(&r.s), 1);
    EXPECT_EQ(r.Written(), (Bytes{0xAB, 0x12, 0x34, 0xBF}));
}

TEST(SizeCounter, IgnoresByteOrderAndCountsLikeAMemoryStream) {
    CountRig c;
    c.s.SetWriteOrder(&c.s, 0);
    EXPECT_EQ(c.s.WriteWord(&c.s, 0xFFD8), 1);
    c.s.SetWriteOrder(&c.s, 1);
    c.s.SetReadOrder(&c.s, 0);
    EXPECT_EQ(c.s.WriteDword(&c.s, 0xFFFFFFFF), 1);
    EXPECT_EQ(c.s.WriteByte(&c.s, 0x1FF), 1);
    EXPECT_EQ(c.s.WriteBits(&c.s, 0x108, 0xFFFF), 1);  // 8 bits of 0xFF: FF 00
    EXPECT_EQ(c.s.position, 2u + 4u + 1u + 2u);
    EXPECT_EQ(c.s.size, c.s.position);
    EXPECT_EQ(c.s.Tell(&c.s), c.s.position);
    EXPECT_EQ(c.status, StatusBase);
}

// Markers and segment fields go through WriteByte and WriteWord, so a 0xFF
// there must never pull in a stuffing byte.
TEST(MemoryStream, NeverStuffsWholeBytesOrWords) {
    MemRig r(16);
    r.s.SetWriteOrder(&r.s, 0);
    EXPECT_EQ(r.s.WriteWord(&r.s, 0xFFD9), 1);
    EXPECT_EQ(r.s.WriteByte(&r.s, 0xFF), 1);
    EXPECT_EQ(r.s.WriteDword(&r.s, 0xFFFFFFFF), 1);
    EXPECT_EQ(r.s.WriteByte(&r.s, 0x12), 1);
    EXPECT_EQ(r.Written(), (Bytes{0xFF, 0xD9, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x12}));
}

// ---------------------------------------------------------------------------
// Bit packing: most significant bit first, 0x00 after a completed 0xFF

struct BitCase {
    const char *name;
    std::vector<std::pair<uint32_t, uint32_t>> bits;  // (count, value) for WriteBits
    bool flush;
    Bytes expected;
};

class BitPacking : public testing::TestWithParam<BitCase> {};

TEST_P(BitPacking, MemoryStreamStoresTheBytes) {
    const BitCase &c = GetParam();
    MemRig r(16);
    for (auto [n, v] : c.bits) ASSERT_EQ(r.s.WriteBits(&r.s, n, v), 1);
    if (c.flush) {
        ASSERT_EQ(r.s.FlushBits(&r.s), 1);
    }
    EXPECT_EQ(r.Written(), c.expected);
    EXPECT_EQ(r.status, StatusBase);
}

TEST_P(BitPacking, SizeCounterCountsTheSameBytes) {
    const BitCase &c = GetParam();
    CountRig k;
    for (auto [n, v] : c.bits) ASSERT_EQ(k.s.WriteBits(&k.s, n, v), 1);
    if (c.flush) {
        ASSERT_EQ(k.s.FlushBits(&k.s), 1);
    }
    EXPECT_EQ(k.s.position, c.expected.size());
    EXPECT_EQ(k.s.size, c.expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BitPacking,
    testing::Values(
        BitCase{"EightOnesAreStuffed", {{8, 0xFF}}, false, {0xFF, 0x00}},
        BitCase{"SixteenOnesAreStuffedTwice", {{16, 0xFFFF}}, false, {0xFF, 0x00, 0xFF, 0x00}},
        BitCase{"OnesAcrossCallsAreStuffed", {{4, 0xF}, {4, 0xF}}, false, {0xFF, 0x00}},
        BitCase{"FEIsNotStuffed", {{8, 0xFE}}, false, {0xFE}},
        BitCase{"MostSignificantBitFirst", {{1, 1}, {2, 0}, {5, 0x15}}, false, {0x95}},
        BitCase{"PaddedWithOnes", {{3, 0x5}}, true, {0xBF}},
        BitCase{"PaddingToFFIsStuffed", {{3, 0x7}}, true, {0xFF, 0x00}},
        BitCase{"StuffedByteThenPaddedTail", {{12, 0xFF1}}, true, {0xFF, 0x00, 0x1F}},
        BitCase{"ValueBitsAboveCountIgnored", {{4, 0xFFF0}}, true, {0x0F}},
        BitCase{"ZeroCountWritesNothing", {{0, 0xFFFF}}, true, {}},
        BitCase{"SixteenBitsAtOnce", {{16, 0x1234}}, false, {0x12, 0x34}}),
    [](const testing::TestParamInfo<BitCase> &info) { return std::string(info.param.name); });

TEST(MemoryStream, WriteBitStuffsZeroAfterFF) {
    MemRig r(4);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(r.s.WriteBit(&r.s, 1), 1);
    EXPECT_EQ(r.Written(), (Bytes{0xFF, 0x00}));
    EXPECT_EQ(r.s.bitCount, 0u);
    EXPECT_EQ(r.s.bitBuffer, 0u);  // cleared after a completed byte
}

TEST(SizeCounter, WriteBitUsesOnlyTheLowestBit) {
    CountRig a;
    for (int i = 0; i < 8; ++i) ASSERT_EQ(a.s.WriteBit(&a.s, 0xFFFFFFFF), 1);
    EXPECT_EQ(a.s.position, 2u);  // a 0xFF byte and its stuffing

    CountRig b;
    for (int i = 0; i < 8; ++i) ASSERT_EQ(b.s.WriteBit(&b.s, 2), 1);
    EXPECT_EQ(b.s.position, 1u);  // a 0x00 byte
}

// Every count of pending bits and every pattern: the byte is the bits with
// ones below them, and an all-ones result gets its 0x00.
TEST(FlushBits, PadsEveryPendingPatternWithOnes) {
    for (uint32_t n = 1; n <= 7; ++n) {
        for (uint32_t p = 0; p < (1u << n); ++p) {
            SCOPED_TRACE("bits " + std::to_string(n) + " pattern " + std::to_string(p));
            const uint8_t byte = static_cast<uint8_t>((p << (8 - n)) | (0xFFu >> n));
            const Bytes expected = byte == 0xFF ? Bytes{0xFF, 0x00} : Bytes{byte};

            MemRig r(4);
            ASSERT_EQ(r.s.WriteBits(&r.s, n, p), 1);
            ASSERT_EQ(r.s.bitCount, n);
            ASSERT_EQ(r.s.FlushBits(&r.s), 1);
            EXPECT_EQ(r.Written(), expected);
            EXPECT_EQ(r.s.bitCount, 0u);
            EXPECT_EQ(r.s.bitBuffer & 0xFF, byte);  // the padded byte stays

            CountRig k;
            ASSERT_EQ(k.s.WriteBits(&k.s, n, p), 1);
            ASSERT_EQ(k.s.FlushBits(&k.s), 1);
            EXPECT_EQ(k.s.position, expected.size());
            EXPECT_EQ(k.s.size, expected.size());
        }
    }
}

TEST(FlushBits, WritesNothingWithoutPendingBits) {
    MemRig r(4);
    EXPECT_EQ(r.s.FlushBits(&r.s), 1);
    EXPECT_EQ(r.s.position, 0u);
    ASSERT_EQ(r.s.WriteBits(&r.s, 8, 0x12), 1);
    EXPECT_EQ(r.s.FlushBits(&r.s), 1);
    EXPECT_EQ(r.Written(), Bytes{0x12});

    CountRig k;
    EXPECT_EQ(k.s.FlushBits(&k.s), 1);
    EXPECT_EQ(k.s.position, 0u);
    EXPECT_EQ(k.s.size, 0u);
}

// The padded byte stays in bitBuffer, and bits written next are ORed into
// it. The scan clears bitBuffer before its first bit; both stream kinds must
// agree on the result either way, including its stuffing.
TEST(FlushBits, LaterBitsJoinThePaddedByte) {
    MemRig r(8);
    ASSERT_EQ(r.s.WriteBits(&r.s, 3, 0x7), 1);
    ASSERT_EQ(r.s.FlushBits(&r.s), 1);
    ASSERT_EQ(r.s.WriteBits(&r.s, 8, 0x00), 1);
    EXPECT_EQ(r.Written(), (Bytes{0xFF, 0x00, 0xFF, 0x00}));

    CountRig k;
    ASSERT_EQ(k.s.WriteBits(&k.s, 3, 0x7), 1);
    ASSERT_EQ(k.s.FlushBits(&k.s), 1);
    ASSERT_EQ(k.s.WriteBits(&k.s, 8, 0x00), 1);
    EXPECT_EQ(k.s.position, 4u);
}

TEST(WriteByte, EmitsPendingBitsUnpaddedFirst) {
    MemRig r(4);
    ASSERT_EQ(r.s.WriteBits(&r.s, 3, 0x5), 1);
    ASSERT_EQ(r.s.WriteByte(&r.s, 0x12), 1);
    EXPECT_EQ(r.Written(), (Bytes{0xA0, 0x12}));
    EXPECT_EQ(r.s.bitCount, 0u);

    CountRig k;
    ASSERT_EQ(k.s.WriteBits(&k.s, 3, 0x5), 1);
    ASSERT_EQ(k.s.WriteByte(&k.s, 0x12), 1);
    EXPECT_EQ(k.s.position, 2u);
}

// A pending byte that WriteByte pushes out is taken as it is, never stuffed,
// even when leftover padding makes it 0xFF.
TEST(WriteByte, NeverStuffsThePendingByte) {
    MemRig r(8);
    ASSERT_EQ(r.s.WriteBits(&r.s, 3, 0x7), 1);
    ASSERT_EQ(r.s.FlushBits(&r.s), 1);  // FF 00, bitBuffer keeps FF
    ASSERT_EQ(r.s.WriteBit(&r.s, 0), 1);
    ASSERT_EQ(r.s.WriteByte(&r.s, 0x12), 1);
    EXPECT_EQ(r.Written(), (Bytes{0xFF, 0x00, 0xFF, 0x12}));

    CountRig k;
    ASSERT_EQ(k.s.WriteBits(&k.s, 3, 0x7), 1);
    ASSERT_EQ(k.s.FlushBits(&k.s), 1);
    ASSERT_EQ(k.s.WriteBit(&k.s, 0), 1);
    ASSERT_EQ(k.s.WriteByte(&k.s, 0x12), 1);
    EXPECT_EQ(k.s.position, 4u);
}

// ---------------------------------------------------------------------------
// Capacity: no byte at or beyond buffer[size]; code 5 from every failing
// operation except WriteBits

TEST(MemoryStream, CapacityZeroAcceptsBitsUntilAByteCompletes) {
    MemRig r(0);
    EXPECT_EQ(r.s.Tell(&r.s), 0u);
    EXPECT_EQ(r.s.WriteBits(&r.s, 7, 0x7F), 1);
    EXPECT_EQ(r.s.bitCount, 7u);
    EXPECT_EQ(r.s.WriteBits(&r.s, 1, 1), 0);
    EXPECT_EQ(r.status, StatusBase);  // WriteBits reports by its result only
    EXPECT_EQ(r.s.position, 0u);
    EXPECT_TRUE(r.GuardIntact());
}

TEST(MemoryStream, CapacityZeroWriteBitFailsWithBound) {
    MemRig r(0);
    for (int i = 0; i < 7; ++i) ASSERT_EQ(r.s.WriteBit(&r.s, 1), 1);
    EXPECT_EQ(r.status, StatusBase);
    EXPECT_EQ(r.s.WriteBit(&r.s, 1), 0);
    EXPECT_EQ(r.status, kBound);
    EXPECT_EQ(r.s.bitCount, 8u);  // the unstored byte stays pending
    // The stream stays failed: the next bit must not be shifted in or stored.
    r.status = StatusBase;
    EXPECT_EQ(r.s.WriteBit(&r.s, 1), 0);
    EXPECT_EQ(r.status, kBound);
    EXPECT_EQ(r.s.position, 0u);
    EXPECT_TRUE(r.GuardIntact());
}

struct StreamOp {
    const char *name;
    std::function<int32_t(ByteStream &)> run;
};

class CapacityZero : public testing::TestWithParam<StreamOp> {};

TEST_P(CapacityZero, FailsWithBound) {
    MemRig r(0);
    EXPECT_EQ(GetParam().run(r.s), 0);
    EXPECT_EQ(r.status, kBound);
    EXPECT_EQ(r.s.position, 0u);
    EXPECT_TRUE(r.GuardIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Ops, CapacityZero,
    testing::Values(
        StreamOp{"WriteByte", [](ByteStream &s) { return s.WriteByte(&s, 0x12); }},
        StreamOp{"WriteWordLittle", [](ByteStream &s) { return s.WriteWord(&s, 0x1234); }},
        StreamOp{"WriteWordBig",
                 [](ByteStream &s) {
                     s.SetWriteOrder(&s, 0);
                     return s.WriteWord(&s, 0x1234);
                 }},
        StreamOp{"WriteDwordLittle", [](ByteStream &s) { return s.WriteDword(&s, 0x12345678); }},
        StreamOp{"WriteDwordBig",
                 [](ByteStream &s) {
                     s.SetWriteOrder(&s, 0);
                     return s.WriteDword(&s, 0x12345678);
                 }},
        StreamOp{"FlushBitsWithPendingBits",
                 [](ByteStream &s) {
                     s.WriteBits(&s, 1, 0);
                     return s.FlushBits(&s);
                 }},
        StreamOp{"ReadBit",
                 [](ByteStream &s) {
                     uint16_t b;
                     return s.ReadBit(&s, &b);
                 }},
        StreamOp{"ReadByte",
                 [](ByteStream &s) {
                     uint8_t b;
                     return s.ReadByte(&s, &b);
                 }},
        StreamOp{"ReadWord",
                 [](ByteStream &s) {
                     uint16_t w;
                     return s.ReadWord(&s, &w);
                 }},
        StreamOp{"ReadDword",
                 [](ByteStream &s) {
                     uint32_t d;
                     return s.ReadDword(&s, &d);
                 }},
        StreamOp{"SeekStart", [](ByteStream &s) { return s.Seek(&s, 0, 0); }},
        StreamOp{"SeekCurrent", [](ByteStream &s) { return s.Seek(&s, 0, 1); }},
        StreamOp{"SeekEnd", [](ByteStream &s) { return s.Seek(&s, 0, 2); }},
        StreamOp{"SeekEndMinusOne", [](ByteStream &s) { return s.Seek(&s, -1, 2); }}),
    [](const testing::TestParamInfo<StreamOp> &info) { return std::string(info.param.name); });

TEST(MemoryStream, CapacityOneWriteBitsStoresFFThenFailsQuietly) {
    MemRig r(1);
    EXPECT_EQ(r.s.WriteBits(&r.s, 8, 0xFF), 0);
    EXPECT_EQ(r.s.position, 1u);
    EXPECT_EQ(r.mem[0], 0xFF);
    EXPECT_EQ(r.status, StatusBase);
    EXPECT_TRUE(r.GuardIntact());
}

TEST(MemoryStream, CapacityOneWriteBitStoresFFThenFailsWithBound) {
    MemRig r(1);
    for (int i = 0; i < 7; ++i) ASSERT_EQ(r.s.WriteBit(&r.s, 1), 1);
    EXPECT_EQ(r.s.WriteBit(&r.s, 1), 0);
    EXPECT_EQ(r.s.position, 1u);
    EXPECT_EQ(r.mem[0], 0xFF);
    EXPECT_EQ(r.status, kBound);
    EXPECT_TRUE(r.GuardIntact());
}

TEST(MemoryStream, CapacityOneFlushBitsFailsOnTheStuffingByte) {
    MemRig r(1);
    ASSERT_EQ(r.s.WriteBits(&r.s, 3, 0x7), 1);
    EXPECT_EQ(r.s.FlushBits(&r.s), 0);
    EXPECT_EQ(r.mem[0], 0xFF);
    EXPECT_EQ(r.s.position, 1u);
    EXPECT_EQ(r.status, kBound);
    EXPECT_TRUE(r.GuardIntact());
}

TEST(MemoryStream, CapacityOneWriteByteAfterPendingBitsStoresOnlyThePendingByte) {
    MemRig r(1);
    ASSERT_EQ(r.s.WriteBits(&r.s, 3, 0x5), 1);
    EXPECT_EQ(r.s.WriteByte(&r.s, 0x12), 0);
    EXPECT_EQ(r.mem[0], 0xA0);
    EXPECT_EQ(r.s.position, 1u);
    EXPECT_EQ(r.status, kBound);
    EXPECT_TRUE(r.GuardIntact());
}

// A multi-byte write that runs out of room keeps the bytes that fitted.
TEST(MemoryStream, PartialWordsAndDwordsKeepWhatFitted) {
    {
        MemRig r(1);
        r.s.SetWriteOrder(&r.s, 0);
        EXPECT_EQ(r.s.WriteWord(&r.s, 0x1234), 0);
        EXPECT_EQ(r.Written(), Bytes{0x12});
        EXPECT_EQ(r.status, kBound);
        EXPECT_TRUE(r.GuardIntact());
    }
    {
        MemRig r(3);
        r.s.SetWriteOrder(&r.s, 0);
        EXPECT_EQ(r.s.WriteDword(&r.s, 0x11223344), 0);
        EXPECT_EQ(r.Written(), (Bytes{0x11, 0x22, 0x33}));
        EXPECT_EQ(r.status, kBound);
        EXPECT_TRUE(r.GuardIntact());
    }
    {
        MemRig r(3);
        EXPECT_EQ(r.s.WriteDword(&r.s, 0x11223344), 0);
        EXPECT_EQ(r.Written(), (Bytes{0x44, 0x33, 0x22}));
        EXPECT_EQ(r.status, kBound);
        EXPECT_TRUE(r.GuardIntact());
    }
}

// A bitCount of 8 or more can only come from a failed store or a direct
// write of the member. Bit writes must then refuse, without storing and
// without shifting by a negative or oversized amount.
class PastFullBitCount : public testing::TestWithParam<uint32_t> {};

TEST_P(PastFullBitCount, WriteBitFailsWithBound) {
    MemRig r(16);
    r.s.bitCount = GetParam();
    r.s.bitBuffer = 0x5A;
    EXPECT_EQ(r.s.WriteBit(&r.s, 1), 0);
    EXPECT_EQ(r.status, kBound);
    EXPECT_EQ(r.s.position, 0u);
    EXPECT_TRUE(std::all_of(r.mem.begin(), r.mem.end(), [](uint8_t b) { return b == kGuard; }));
}

TEST_P(PastFullBitCount, WriteBitsFailsQuietly) {
    MemRig r(16);
    r.s.bitCount = GetParam();
    r.s.bitBuffer = 0x5A;
    EXPECT_EQ(r.s.WriteBits(&r.s, 3, 0x5), 0);
    EXPECT_EQ(r.status, StatusBase);
    EXPECT_EQ(r.s.position, 0u);
    EXPECT_TRUE(std::all_of(r.mem.begin(), r.mem.end(), [](uint8_t b) { return b == kGuard; }));
}

INSTANTIATE_TEST_SUITE_P(Counts, PastFullBitCount,
                         testing::Values(8u, 9u, 31u, 32u, 33u, 255u, 0x80000000u, 0xFFFFFFFFu));

// position + n must not wrap to a small number and pass the check. The
// members are set directly: the check fails before any memory is touched.
class NoWrapAtTopOfRange : public testing::TestWithParam<StreamOp> {};

TEST_P(NoWrapAtTopOfRange, RefusesWithBound) {
    MemRig r(4);
    r.s.size = 0xFFFFFFFF;
    r.s.position = 0xFFFFFFFF;
    EXPECT_EQ(GetParam().run(r.s), 0);
    EXPECT_EQ(r.status, kBound);
    EXPECT_TRUE(std::all_of(r.mem.begin(), r.mem.end(), [](uint8_t b) { return b == kGuard; }));
}

INSTANTIATE_TEST_SUITE_P(
    Ops, NoWrapAtTopOfRange,
    testing::Values(StreamOp{"WriteByte", [](ByteStream &s) { return s.WriteByte(&s, 0x12); }},
                    StreamOp{"WriteWord", [](ByteStream &s) { return s.WriteWord(&s, 0x1234); }},
                    StreamOp{"WriteDword",
                             [](ByteStream &s) { return s.WriteDword(&s, 0x12345678); }},
                    StreamOp{"WriteBit",
                             [](ByteStream &s) {
                                 for (int i = 0; i < 7; ++i) s.WriteBit(&s, 0);
                                 return s.WriteBit(&s, 0);
                             }},
                    StreamOp{"FlushBits",
                             [](ByteStream &s) {
                                 s.WriteBits(&s, 2, 1);
                                 return s.FlushBits(&s);
                             }},
                    StreamOp{"ReadBit",
                             [](ByteStream &s) {
                                 uint16_t b;
                                 return s.ReadBit(&s, &b);
                             }},
                    StreamOp{"ReadByte",
                             [](ByteStream &s) {
                                 uint8_t b;
                                 return s.ReadByte(&s, &b);
                             }},
                    StreamOp{"ReadWordAtSizeMinusOne",
                             [](ByteStream &s) {
                                 uint16_t w;
                                 s.position = 0xFFFFFFFE;
                                 return s.ReadWord(&s, &w);
                             }},
                    StreamOp{"ReadDwordAtSizeMinusOne",
                             [](ByteStream &s) {
                                 uint32_t d;
                                 s.position = 0xFFFFFFFE;
                                 return s.ReadDword(&s, &d);
                             }},
                    StreamOp{"ReadDwordAtSizeMinusThree",
                             [](ByteStream &s) {
                                 uint32_t d;
                                 s.position = 0xFFFFFFFC;
                                 return s.ReadDword(&s, &d);
                             }},
                    StreamOp{"ReadDwordAtTop",
                             [](ByteStream &s) {
                                 uint32_t d;
                                 return s.ReadDword(&s, &d);
                             }}),
    [](const testing::TestParamInfo<StreamOp> &info) { return std::string(info.param.name); });

TEST(MemoryStream, WriteBitsDoesNotWrapAtTopOfRange) {
    MemRig r(4);
    r.s.size = 0xFFFFFFFF;
    r.s.position = 0xFFFFFFFF;
    EXPECT_EQ(r.s.WriteBits(&r.s, 8, 0x12), 0);
    EXPECT_EQ(r.status, StatusBase);
    EXPECT_EQ(r.s.position, 0xFFFFFFFFu);
    EXPECT_TRUE(std::all_of(r.mem.begin(), r.mem.end(), [](uint8_t b) { return b == kGuard; }));
}

// A count that would pass 0xFFFFFFFF fails instead of wrapping to a tiny
// length that a caller would then trust.
TEST(SizeCounter, FailsInsteadOfWrappingPastTheTop) {
    CountRig k;
    k.s.size = 0xFFFFFFFF;
    k.s.position = 0xFFFFFFFF;
    EXPECT_EQ(k.s.WriteByte(&k.s, 0x12), 0);
    EXPECT_EQ(k.status, kBound);
    EXPECT_EQ(k.s.position, 0xFFFFFFFFu);
    EXPECT_EQ(k.s.size, 0xFFFFFFFFu);
}

TEST(SizeCounter, WordFailsWhenItsSecondByteWouldWrap) {
    CountRig k;
    k.s.size = 0xFFFFFFFE;
    k.s.position = 0xFFFFFFFE;
    EXPECT_EQ(k.s.WriteWord(&k.s, 0x1234), 0);
    EXPECT_EQ(k.status, kBound);
    EXPECT_EQ(k.s.position, 0xFFFFFFFFu);
    EXPECT_EQ(k.s.size, 0xFFFFFFFFu);
}

TEST(SizeCounter, StuffingByteDoesNotWrap) {
    CountRig k;
    k.s.size = 0xFFFFFFFE;
    k.s.position = 0xFFFFFFFE;
    EXPECT_EQ(k.s.WriteBits(&k.s, 8, 0xFF), 0);
    EXPECT_EQ(k.s.position, 0xFFFFFFFFu);
    EXPECT_EQ(k.s.size, 0xFFFFFFFFu);
}

// ---------------------------------------------------------------------------
// Seek

struct SeekCase {
    const char *name;
    uint32_t size;
    uint32_t position;
    int32_t offset;
    uint32_t whence;
    int32_t result;
    uint32_t endPosition;
    uint16_t status;
};

class MemoryStreamSeek : public testing::TestWithParam<SeekCase> {};

TEST_P(MemoryStreamSeek, MovesOnlyBelowSize) {
    const SeekCase &c = GetParam();
    MemRig r(16);
    r.s.size = c.size;  // a seek never touches memory
    r.s.position = c.position;
    EXPECT_EQ(r.s.Seek(&r.s, c.offset, c.whence), c.result);
    EXPECT_EQ(r.s.position, c.endPosition);
    EXPECT_EQ(r.s.size, c.size);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.s.Tell(&r.s), c.endPosition);
}

constexpr uint32_t kTop = 0xFFFFFFFF;

INSTANTIATE_TEST_SUITE_P(
    Cases, MemoryStreamSeek,
    testing::Values(SeekCase{"StartZero", 10, 4, 0, 0, 1, 0, StatusBase},
                    SeekCase{"StartLastByte", 10, 4, 9, 0, 1, 9, StatusBase},
                    SeekCase{"StartAtSize", 10, 4, 10, 0, 0, 4, kBound},
                    SeekCase{"StartNegative", 10, 4, -1, 0, 0, 4, kBound},
                    SeekCase{"CurrentForward", 10, 4, 5, 1, 1, 9, StatusBase},
                    SeekCase{"CurrentBackToZero", 10, 4, -4, 1, 1, 0, StatusBase},
                    SeekCase{"CurrentBeforeZero", 10, 4, -5, 1, 0, 4, kBound},
                    SeekCase{"CurrentToSize", 10, 4, 6, 1, 0, 4, kBound},
                    SeekCase{"EndExactly", 10, 4, 0, 2, 0, 4, kBound},
                    SeekCase{"EndMinusOne", 10, 4, -1, 2, 1, 9, StatusBase},
                    SeekCase{"EndMinusSize", 10, 4, -10, 2, 1, 0, StatusBase},
                    SeekCase{"EndBeforeZero", 10, 4, -11, 2, 0, 4, kBound},
                    SeekCase{"EndForward", 10, 4, 1, 2, 0, 4, kBound},
                    SeekCase{"WhenceThree", 10, 4, 5, 3, 0, 4, StatusBase},
                    SeekCase{"WhenceHuge", 10, 4, 0, 0xFFFFFFFF, 0, 4, StatusBase},
                    SeekCase{"CurrentWrapsAroundToLow", kTop, 0xFFFFFFF0, 0x15, 1, 1, 5,
                             StatusBase},
                    SeekCase{"CurrentWrapsToTop", kTop, 0, -1, 1, 0, 0, kBound},
                    SeekCase{"EndOfHugeMinusOne", kTop, 0, -1, 2, 1, 0xFFFFFFFE, StatusBase},
                    SeekCase{"EndOfHugePlusOneWrapsToZero", kTop, 7, 1, 2, 1, 0, StatusBase}),
    [](const testing::TestParamInfo<SeekCase> &info) { return std::string(info.param.name); });

class SizeCounterSeek : public testing::TestWithParam<SeekCase> {};

// A SizeCounter may seek anywhere from 0 up, even past its size, but a seek
// never changes size (only writes do) and never sets a status.
TEST_P(SizeCounterSeek, AcceptsAnyNonNegativeTarget) {
    const SeekCase &c = GetParam();
    CountRig k;
    for (int i = 0; i < 10; ++i) ASSERT_EQ(k.s.WriteByte(&k.s, 0), 1);
    k.s.position = c.position;
    EXPECT_EQ(k.s.Seek(&k.s, c.offset, c.whence), c.result);
    EXPECT_EQ(k.s.position, c.endPosition);
    EXPECT_EQ(k.s.size, 10u);
    EXPECT_EQ(k.status, StatusBase);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SizeCounterSeek,
    testing::Values(SeekCase{"StartForward", 0, 10, 2, 0, 1, 2, StatusBase},
                    SeekCase{"StartNegative", 0, 10, -1, 0, 0, 10, StatusBase},
                    SeekCase{"StartPastSize", 0, 10, 25, 0, 1, 25, StatusBase},
                    SeekCase{"EndExactly", 0, 3, 0, 2, 1, 10, StatusBase},
                    SeekCase{"EndMinusOne", 0, 3, -1, 2, 1, 9, StatusBase},
                    SeekCase{"EndPlusFive", 0, 3, 5, 2, 1, 15, StatusBase},
                    SeekCase{"EndBeforeZero", 0, 3, -11, 2, 0, 3, StatusBase},
                    SeekCase{"CurrentBack", 0, 10, -3, 1, 1, 7, StatusBase},
                    SeekCase{"CurrentBeforeZero", 0, 10, -11, 1, 0, 10, StatusBase},
                    SeekCase{"CurrentToSignedMax", 0, 10, 0x7FFFFFF5, 1, 1, 0x7FFFFFFF, StatusBase},
                    SeekCase{"CurrentPastSignedMax", 0, 10, 0x7FFFFFF6, 1, 0, 10, StatusBase},
                    SeekCase{"WhenceThree", 0, 10, 5, 3, 0, 10, StatusBase}),
    [](const testing::TestParamInfo<SeekCase> &info) { return std::string(info.param.name); });

TEST(SizeCounter, RewritingBelowTheEndKeepsTheHighestPosition) {
    CountRig k;
    for (int i = 0; i < 10; ++i) ASSERT_EQ(k.s.WriteByte(&k.s, 0), 1);
    ASSERT_EQ(k.s.Seek(&k.s, 2, 0), 1);
    for (int i = 0; i < 3; ++i) ASSERT_EQ(k.s.WriteByte(&k.s, 0), 1);
    EXPECT_EQ(k.s.position, 5u);
    EXPECT_EQ(k.s.size, 10u);
    for (int i = 0; i < 7; ++i) ASSERT_EQ(k.s.WriteByte(&k.s, 0), 1);
    EXPECT_EQ(k.s.position, 12u);
    EXPECT_EQ(k.s.size, 12u);
}

// ---------------------------------------------------------------------------
// Reading

TEST(ReadBit, ReturnsBitsMostSignificantFirst) {
    MemRig r(2, {0xA5, 0x3C});
    const int expected[16] = {1, 0, 1, 0, 0, 1, 0, 1, 0, 0, 1, 1, 1, 1, 0, 0};
    for (int i = 0; i < 16; ++i) {
        uint16_t bit = 9;
        ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1) << i;
        EXPECT_EQ(bit, expected[i]) << i;
    }
    EXPECT_EQ(r.s.position, 2u);
    uint16_t bit;
    EXPECT_EQ(r.s.ReadBit(&r.s, &bit), 0);
    EXPECT_EQ(r.status, kBound);
}

TEST(ReadBit, ConsumesTheZeroAfterFF) {
    MemRig r(3, {0xFF, 0x00, 0x80});
    uint16_t bit = 0;
    ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);
    EXPECT_EQ(bit, 1);
    EXPECT_EQ(r.s.position, 2u);
    EXPECT_EQ(r.s.bitCount, 7u);
    for (int i = 1; i < 8; ++i) {
        ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);
        EXPECT_EQ(bit, 1);
    }
    ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);  // the byte after the pair
    EXPECT_EQ(bit, 1);
    ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);
    EXPECT_EQ(bit, 0);
    EXPECT_EQ(r.s.position, 3u);
    EXPECT_EQ(r.status, StatusBase);
}

TEST(ReadBit, FailsOnAMarkerAfterFF) {
    MemRig r(4, {0xFF, 0xD0, 0x12, 0x34});
    uint16_t bit = 0;
    EXPECT_EQ(r.s.ReadBit(&r.s, &bit), 0);
    EXPECT_EQ(bit, 1);  // the bit was delivered before the check
    EXPECT_EQ(r.s.position, 2u);
    EXPECT_EQ(r.status, kBound);
}

TEST(ReadBit, FailsOnFFAtTheEnd) {
    MemRig r(1, {0xFF});
    uint16_t bit = 0;
    EXPECT_EQ(r.s.ReadBit(&r.s, &bit), 0);
    EXPECT_EQ(bit, 1);
    EXPECT_EQ(r.s.position, 1u);
    EXPECT_EQ(r.status, kBound);
}

TEST(ReadByte, DropsBitsLeftByReadBit) {
    MemRig r(2, {0xA5, 0x3C});
    uint16_t bit;
    for (int i = 0; i < 3; ++i) ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);
    uint8_t byte = 0;
    ASSERT_EQ(r.s.ReadByte(&r.s, &byte), 1);
    EXPECT_EQ(byte, 0x3C);
    EXPECT_EQ(r.s.position, 2u);
    EXPECT_EQ(r.s.bitCount, 0u);
    EXPECT_EQ(r.s.ReadBit(&r.s, &bit), 0);  // nothing left to read
}

TEST(ReadByte, DropsPendingBitsEvenWhenItFails) {
    MemRig r(1, {0x80});
    uint16_t bit;
    ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);
    uint8_t byte;
    EXPECT_EQ(r.s.ReadByte(&r.s, &byte), 0);
    EXPECT_EQ(r.s.bitCount, 0u);
    EXPECT_EQ(r.status, kBound);
}

TEST(ReadWord, DropsPendingBitsEvenWhenItFails) {
    MemRig r(2, {0x80, 0x01});
    uint16_t bit, word;
    ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);
    EXPECT_EQ(r.s.ReadWord(&r.s, &word), 0);
    EXPECT_EQ(r.s.bitCount, 0u);
    EXPECT_EQ(r.s.position, 1u);
    EXPECT_EQ(r.status, kBound);
}

TEST(ReadDword, KeepsPendingBits) {
    MemRig r(5, {0x40, 1, 2, 3, 4});
    uint16_t bit;
    ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);
    EXPECT_EQ(bit, 0);
    uint32_t d;
    ASSERT_EQ(r.s.ReadDword(&r.s, &d), 1);
    EXPECT_EQ(d, 0x04030201u);
    EXPECT_EQ(r.s.bitCount, 7u);
    ASSERT_EQ(r.s.ReadBit(&r.s, &bit), 1);  // continues within the first byte
    EXPECT_EQ(bit, 1);
}

struct ReadBoundCase {
    const char *name;
    uint32_t size;
    uint32_t position;
    int width;  // 1, 2 or 4 bytes
    bool ok;
};

class ReadBounds : public testing::TestWithParam<ReadBoundCase> {};

TEST_P(ReadBounds, NeedAllBytesBelowSize) {
    const ReadBoundCase &c = GetParam();
    for (uint32_t order : {0u, 1u}) {
        SCOPED_TRACE(order);
        MemRig r(c.size, {1, 2, 3, 4, 5, 6});
        r.s.SetReadOrder(&r.s, order);
        r.s.position = c.position;
        uint8_t b;
        uint16_t w;
        uint32_t d;
        const int32_t result = c.width == 1   ? r.s.ReadByte(&r.s, &b)
                               : c.width == 2 ? r.s.ReadWord(&r.s, &w)
                                              : r.s.ReadDword(&r.s, &d);
        EXPECT_EQ(result, c.ok ? 1 : 0);
        EXPECT_EQ(r.s.position, c.ok ? c.position + c.width : c.position);
        EXPECT_EQ(r.status, c.ok ? uint16_t{StatusBase} : kBound);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReadBounds,
                         testing::Values(ReadBoundCase{"ByteLast", 4, 3, 1, true},
                                         ReadBoundCase{"ByteAtSize", 4, 4, 1, false},
                                         ReadBoundCase{"WordExact", 2, 0, 2, true},
                                         ReadBoundCase{"WordOneShort", 2, 1, 2, false},
                                         ReadBoundCase{"WordEmpty", 0, 0, 2, false},
                                         ReadBoundCase{"DwordExact", 4, 0, 4, true},
                                         ReadBoundCase{"DwordFromMiddle", 6, 2, 4, true},
                                         ReadBoundCase{"DwordOneShort", 4, 1, 4, false},
                                         ReadBoundCase{"DwordThreeShort", 3, 0, 4, false}),
                         [](const testing::TestParamInfo<ReadBoundCase> &info) {
                             return std::string(info.param.name);
                         });

TEST(SizeCounter, ReadsFailQuietlyAndStoreNothing) {
    CountRig k;
    ASSERT_EQ(k.s.WriteByte(&k.s, 0x12), 1);
    ASSERT_EQ(k.s.Seek(&k.s, 0, 0), 1);
    uint16_t bit = 0x5A5A, word = 0x5A5A;
    uint8_t byte = 0x5A;
    uint32_t dword = 0x5A5A5A5A;
    EXPECT_EQ(k.s.ReadBit(&k.s, &bit), 0);
    EXPECT_EQ(k.s.ReadByte(&k.s, &byte), 0);
    EXPECT_EQ(k.s.ReadWord(&k.s, &word), 0);
    EXPECT_EQ(k.s.ReadDword(&k.s, &dword), 0);
    EXPECT_EQ(bit, 0x5A5A);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_EQ(word, 0x5A5A);
    EXPECT_EQ(dword, 0x5A5A5A5Au);
    EXPECT_EQ(k.s.position, 0u);
    EXPECT_EQ(k.status, StatusBase);
}

// ---------------------------------------------------------------------------
// Size mode predicts encode mode: the same random calls on both kinds, and
// on a plain model of the byte and bit rules, give the same bytes and counts.

struct WriterModel {
    Bytes mem;
    uint32_t pos = 0;
    uint32_t maxPos = 0;
    uint32_t bitBuffer = 0;
    uint32_t bitCount = 0;
    bool little = true;

    void Put(uint32_t b) {
        if (pos < mem.size())
            mem[pos] = static_cast<uint8_t>(b);
        else
            mem.push_back(static_cast<uint8_t>(b));
        maxPos = std::max(maxPos, ++pos);
    }
    void Emit() {
        const uint32_t b = bitBuffer & 0xFF;
        Put(b);
        bitCount = 0;
        if (b == 0xFF) Put(0);
    }
    void Bit(uint32_t bit) {
        bitBuffer = (bitBuffer | (bit << (7 - bitCount))) & 0xFF;
        if (++bitCount == 8) {
            Emit();
            bitBuffer = 0;
        }
    }
    void Bits(uint32_t n, uint32_t v) {
        for (int i = static_cast<int>(n) - 1; i >= 0; --i) Bit((v >> i) & 1);
    }
    void Byte(uint32_t b) {
        if (bitCount != 0) {
            Put(bitBuffer & 0xFF);
            bitCount = 0;
        }
        Put(b & 0xFF);
    }
    void Word(uint32_t v) {
        if (little) {
            Byte(v);
            Byte(v >> 8);
        } else {
            Byte(v >> 8);
            Byte(v);
        }
    }
    void Dword(uint32_t v) {
        if (little) {
            Word(v & 0xFFFF);
            Word(v >> 16);
        } else {
            Word(v >> 16);
            Word(v & 0xFFFF);
        }
    }
    void Flush() {
        if (bitCount == 0) return;
        bitBuffer |= 0xFFu >> bitCount;
        Emit();
    }
};

class StreamAgreement : public testing::TestWithParam<uint32_t> {};

TEST_P(StreamAgreement, RandomWritesGiveTheSameBytesAndCounts) {
    std::mt19937 rng(GetParam());
    auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    // Values rich in one-bits, so that stuffing happens often.
    auto value16 = [&] {
        return pick(3) == 0 ? 0xFFFFu
                            : static_cast<uint32_t>(rng() & 0xFFFF) | (pick(2) ? 0xFF00u : 0u);
    };

    constexpr uint32_t kCapacity = 1 << 16;
    MemRig mem(kCapacity);
    CountRig cnt;
    WriterModel model;

    for (int step = 0; step < 4000; ++step) {
        const uint32_t op = pick(100);
        std::string what;
        int32_t rm = 1, rc = 1;
        if (op < 30) {
            const uint32_t bit = pick(2);
            what = "WriteBit " + std::to_string(bit);
            rm = mem.s.WriteBit(&mem.s, bit);
            rc = cnt.s.WriteBit(&cnt.s, bit);
            model.Bit(bit);
        } else if (op < 60) {
            const uint32_t n = pick(17), v = value16();
            what = "WriteBits " + std::to_string(n) + " " + std::to_string(v);
            rm = mem.s.WriteBits(&mem.s, n, v);
            rc = cnt.s.WriteBits(&cnt.s, n, v);
            model.Bits(n, v);
        } else if (op < 70) {
            const uint32_t b = pick(4) == 0 ? 0xFF : pick(256);
            what = "WriteByte " + std::to_string(b);
            rm = mem.s.WriteByte(&mem.s, b);
            rc = cnt.s.WriteByte(&cnt.s, b);
            model.Byte(b);
        } else if (op < 78) {
            const uint32_t v = value16();
            what = "WriteWord " + std::to_string(v);
            rm = mem.s.WriteWord(&mem.s, v);
            rc = cnt.s.WriteWord(&cnt.s, v);
            model.Word(v);
        } else if (op < 83) {
            const uint32_t v = (value16() << 16) | value16();
            what = "WriteDword " + std::to_string(v);
            rm = mem.s.WriteDword(&mem.s, v);
            rc = cnt.s.WriteDword(&cnt.s, v);
            model.Dword(v);
        } else if (op < 93) {
            what = "FlushBits";
            rm = mem.s.FlushBits(&mem.s);
            rc = cnt.s.FlushBits(&cnt.s);
            model.Flush();
        } else if (op < 96) {
            const uint32_t order = pick(2);
            what = "SetWriteOrder " + std::to_string(order);
            mem.s.SetWriteOrder(&mem.s, order);
            cnt.s.SetWriteOrder(&cnt.s, order);
            model.little = order == 1;
        } else {
            const uint32_t target = model.pos == 0 ? 0 : pick(model.pos);
            what = "Seek " + std::to_string(target);
            if (model.pos != 0) {
                rm = mem.s.Seek(&mem.s, static_cast<int32_t>(target), 0);
                rc = cnt.s.Seek(&cnt.s, static_cast<int32_t>(target), 0);
                model.pos = target;
            }
        }
        SCOPED_TRACE("step " + std::to_string(step) + ": " + what);
        ASSERT_EQ(rm, 1);
        ASSERT_EQ(rc, 1);
        ASSERT_EQ(mem.s.position, model.pos);
        ASSERT_EQ(cnt.s.position, model.pos);
        ASSERT_EQ(cnt.s.size, model.maxPos);
        ASSERT_EQ(mem.s.bitCount, model.bitCount);
        ASSERT_EQ(cnt.s.bitCount, model.bitCount);
    }
    ASSERT_LT(model.maxPos, kCapacity);
    EXPECT_EQ(Bytes(mem.mem.begin(), mem.mem.begin() + model.maxPos), model.mem);
    EXPECT_TRUE(std::all_of(mem.mem.begin() + model.maxPos, mem.mem.end(),
                            [](uint8_t b) { return b == kGuard; }));
    EXPECT_EQ(mem.status, StatusBase);
    EXPECT_EQ(cnt.status, StatusBase);
}

INSTANTIATE_TEST_SUITE_P(Seeds, StreamAgreement, testing::Range(1u, 7u));

}  // namespace
