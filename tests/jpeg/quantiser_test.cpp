// Quantisation: the division by reciprocals equals the scalar rule for
// every 16-bit coefficient at every divisor, as one scalar lane, as every
// vector quantiser the encoder offers and as each half of every pair
// quantiser. The sweeps are exhaustive.

#include <gtest/gtest.h>

#include "encoder_session.h"
#include "encoder_stages.h"
#include "quantiser.h"
#include "session_fixture.h"
#include "simd_support.h"

namespace {

// DQT entries run from 1 to 255; the divisors are 8 times them.
constexpr int kLargestEntry = 255;

// Tables whose lanes together hold every divisor: table n, lane i has entry
// 1 + (64 n + i) mod 255, so neighbouring lanes differ.
QuantTable TableOfEntries(int n) {
    QuantTable table{};
    for (int i = 0; i < 64; ++i) {
        table.divisors[i] = static_cast<uint16_t>(8 * (1 + (64 * n + i) % kLargestEntry));
    }
    PrepareQuantTable(&table);
    return table;
}

constexpr int kTablesForEveryEntry = (kLargestEntry + 63) / 64;

// The arithmetic of one vector lane, proven for every divisor and every
// coefficient from -32768 to 32767 against the plain division.
TEST(Quantiser, ReciprocalLaneEqualsDivisionForEveryCoefficient) {
    for (int n = 0; n < kTablesForEveryEntry; ++n) {
        QuantTable table = TableOfEntries(n);
        for (int i = 0; i < 64; ++i) {
            int32_t d = table.divisors[i], half = d / 2;
            for (int32_t x = -32768; x <= 32767; ++x) {
                int32_t want = x >= 0 ? (x + half) / d : -((half - x) / d);
                ASSERT_EQ(QuantiseByReciprocal(x, &table, i), want) << x << " / " << d;
            }
        }
    }
}

// The scalar rule itself, at the points where rounding turns: halves go
// away from zero.
TEST(Quantiser, RoundsHalvesAwayFromZero) {
    QuantTable table{};
    for (uint16_t &d : table.divisors) d = 16;
    PrepareQuantTable(&table);
    const int32_t in[8] = {7, 8, 24, -7, -8, -24, 32767, -32768};
    const int16_t want[8] = {0, 1, 2, 0, -1, -2, 2048, -2048};
    int32_t coefficients[64] = {};
    for (int i = 0; i < 8; ++i) coefficients[i] = in[i];
    int16_t out[64];
    Quantise(coefficients, &table, out);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(out[i], want[i]) << in[i] << " / 16";
}

// Every coefficient from -32768 to 32767 in every lane at every divisor:
// lane i of round x gets x + 4099 i (mod 2^16), so over the 65536 rounds
// each lane sees each value once, and a lane that read another's divisor or
// coefficient would show.
TEST(Quantiser, VectorKernelsMatchScalarForEveryCoefficientAndDivisor) {
    const auto kernels = jpegtest::OfferedKernels(&TransformKernels::quantise);
    if (kernels.empty()) GTEST_SKIP() << "no vector kernel here";
    for (auto quantise : kernels) {
        for (int n = 0; n < kTablesForEveryEntry; ++n) {
            QuantTable table = TableOfEntries(n);
            int16_t narrow[64];
            int32_t wide[64];
            int16_t got[64], want[64];
            for (uint32_t x = 0; x <= 0xFFFF; ++x) {
                for (int i = 0; i < 64; ++i) {
                    narrow[i] = static_cast<int16_t>(static_cast<uint16_t>(x + 4099u * i));
                    wide[i] = narrow[i];
                    got[i] = 0x7EAD;  // not a quotient
                }
                quantise(narrow, &table, got);
                Quantise(wide, &table, want);
                for (int i = 0; i < 64; ++i) {
                    ASSERT_EQ(got[i], want[i]) << narrow[i] << " / " << table.divisors[i];
                }
            }
        }
    }
}

// The same sweep through both halves of each pair quantiser. The halves
// share the table but not the coefficients: lane i of the second block gets
// the first block's value plus 0x8001, so each half also sees every value
// in every lane, and never the value its twin lane in the other half has.
TEST(Quantiser, PairKernelsMatchScalarForEveryCoefficientAndDivisor) {
    const auto kernels = jpegtest::OfferedKernels(&TransformKernels::quantisePair);
    if (kernels.empty()) GTEST_SKIP() << "no pair kernel here";
    for (auto quantisePair : kernels) {
        for (int n = 0; n < kTablesForEveryEntry; ++n) {
            QuantTable table = TableOfEntries(n);
            int16_t narrow[128];
            int32_t wide[128];
            int16_t got[128], want[128];
            for (uint32_t x = 0; x <= 0xFFFF; ++x) {
                for (int i = 0; i < 64; ++i) {
                    uint32_t first = x + 4099u * i;
                    narrow[i] = static_cast<int16_t>(static_cast<uint16_t>(first));
                    narrow[64 + i] = static_cast<int16_t>(static_cast<uint16_t>(first + 0x8001u));
                }
                for (int i = 0; i < 128; ++i) {
                    wide[i] = narrow[i];
                    got[i] = 0x7EAD;  // not a quotient
                }
                quantisePair(narrow, &table, got, got + 64);
                Quantise(wide, &table, want);
                Quantise(wide + 64, &table, want + 64);
                for (int i = 0; i < 128; ++i) {
                    ASSERT_EQ(got[i], want[i]) << "block " << i / 64 << ": " << narrow[i] << " / "
                                               << table.divisors[i % 64];
                }
            }
        }
    }
}

}  // namespace
