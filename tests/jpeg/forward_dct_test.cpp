// The forward DCT: exact results the integer transform must give, agreement
// with a double-precision orthonormal DCT-II scaled by 8, and a checksum that
// pins its bit-exact output on every compiler and word size. Every vector
// kernel the encoder offers, one block or two at a time, must equal it on
// the blocks that push each pass to its limits, on random blocks, and on the
// same checksum.

#include <gtest/gtest.h>
#include <math.h>

#include <algorithm>
#include <array>
#include <vector>

#include "encoder_stages.h"
#include "forward_dct.h"
#include "session_fixture.h"
#include "simd_support.h"

namespace {

using Block = std::array<uint8_t, 64>;
using Coefficients = std::array<int32_t, 64>;

// Not a value the transform can produce, so a skipped output shows.
constexpr int32_t kUnwritten = 0x7EADBEEF;

Coefficients Dct(const Block &in) {
    Coefficients out;
    out.fill(kUnwritten);
    ForwardDct(in.data(), out.data());
    return out;
}

// 8 x the orthonormal 2-D DCT-II of the level-shifted samples, by the
// definition: F(v, u) = a(v) a(u) sum f(y, x) cos((2y+1) v pi/16) cos((2x+1) u pi/16),
// a(0) = 1/sqrt8, a(k) = 1/2.
std::array<double, 64> ReferenceDct(const Block &in) {
    static double basis[8][8];  // basis[k][n] = a(k) cos((2n+1) k pi / 16)
    if (basis[0][0] == 0) {
        for (int k = 0; k < 8; ++k) {
            for (int n = 0; n < 8; ++n) {
                basis[k][n] = (k == 0 ? sqrt(0.125) : 0.5) * cos((2 * n + 1) * k * M_PI / 16);
            }
        }
    }
    std::array<double, 64> out{};
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            double sum = 0;
            for (int y = 0; y < 8; ++y) {
                for (int x = 0; x < 8; ++x) {
                    sum += basis[v][y] * basis[u][x] * (in[8 * y + x] - 128);
                }
            }
            out[8 * v + u] = 8 * sum;
        }
    }
    return out;
}

// A 32-bit LCG (Numerical Recipes constants), so the blocks are the same on
// every platform and word size.
struct Lcg {
    uint32_t state;
    uint8_t Next() {
        state = state * 1664525u + 1013904223u;
        return static_cast<uint8_t>(state >> 24);
    }
    Block NextBlock() {
        Block b;
        for (uint8_t &s : b) s = Next();
        return b;
    }
};

int LevelShiftedSum(const Block &in) {
    int sum = 0;
    for (uint8_t s : in) sum += s - 128;
    return sum;
}

// A flat block has no AC energy; the DC is the level-shifted sum, from -8192
// (all 0) through 0 (all 128) to 8128 (all 255).
TEST(ForwardDct, FlatBlocksGiveOnlyDc) {
    for (int level = 0; level < 256; ++level) {
        Block in;
        in.fill(static_cast<uint8_t>(level));
        Coefficients want{};
        want[0] = 64 * (level - 128);
        EXPECT_EQ(Dct(in), want) << "level " << level;
    }
}

// Samples that vary along one axis only have frequencies along that axis only.
TEST(ForwardDct, OneDimensionalBlocksStayOnTheirAxis) {
    Lcg lcg{99};
    for (int round = 0; round < 100; ++round) {
        uint8_t line[8];
        for (uint8_t &s : line) s = lcg.Next();
        Block columns, rows;
        for (int i = 0; i < 64; ++i) {
            columns[i] = line[i % 8];  // each row the same
            rows[i] = line[i / 8];     // each row constant
        }
        Coefficients c = Dct(columns), r = Dct(rows);
        for (int i = 0; i < 64; ++i) {
            if (i >= 8) EXPECT_EQ(c[i], 0) << "round " << round << ", index " << i;
            if (i % 8 != 0) EXPECT_EQ(r[i], 0) << "round " << round << ", index " << i;
        }
        // The two passes round differently, so the axes agree with the exact
        // transform rather than bit for bit with each other.
        std::array<double, 64> wantC = ReferenceDct(columns), wantR = ReferenceDct(rows);
        for (int k = 0; k < 8; ++k) {
            EXPECT_LE(fabs(c[k] - wantC[k]), 1.5) << "round " << round << ", u " << k;
            EXPECT_LE(fabs(r[8 * k] - wantR[8 * k]), 1.5) << "round " << round << ", v " << k;
        }
    }
}

// Random blocks, plus for every frequency the 0/255 block that follows the
// sign of its basis function (the largest that coefficient can get, which is
// where an overflow in either pass would show) and its inverse. The integer
// transform with two guard bits reaches an error of about 1.38 on some
// blocks; 1.5 leaves a little room without hiding a wrong constant or a
// misplaced rounding term, which move the mean.
TEST(ForwardDct, MatchesOrthonormalDctTimesEight) {
    std::vector<Block> blocks;
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            Block b, inverse;
            for (int i = 0; i < 64; ++i) {
                double sign =
                    cos((2 * (i / 8) + 1) * v * M_PI / 16) * cos((2 * (i % 8) + 1) * u * M_PI / 16);
                b[i] = sign >= 0 ? 255 : 0;
                inverse[i] = static_cast<uint8_t>(255 - b[i]);
            }
            blocks.push_back(b);
            blocks.push_back(inverse);
        }
    }
    Lcg lcg{2024};
    for (int i = 0; i < 20000; ++i) blocks.push_back(lcg.NextBlock());

    double worst = 0, total = 0;
    for (const Block &in : blocks) {
        Coefficients got = Dct(in);
        std::array<double, 64> want = ReferenceDct(in);
        ASSERT_EQ(got[0], LevelShiftedSum(in));
        for (int k = 1; k < 64; ++k) {
            double error = fabs(got[k] - want[k]);
            ASSERT_LE(error, 1.5) << "index " << k << ": " << got[k] << " against " << want[k];
            worst = std::max(worst, error);
            total += error;
        }
    }
    EXPECT_LT(total / (blocks.size() * 63.0), 0.3) << "worst " << worst;
}

// FNV-1a over the little-endian bytes of every coefficient (as 32 bits) of
// 10000 LCG blocks. The constant was recorded from this test on x86-64 (g++
// 12, ASan build) and agrees with a separate transcription of the same
// integer steps in Python, whose integers cannot overflow and whose >>
// floors. Any change to a constant, a rounding term or a shift changes it,
// as would a target or compiler that evaluated the signed arithmetic
// differently; the 32-bit build runs the same test.
template <typename Transform>
uint32_t Checksum(Transform dct) {
    Lcg lcg{1};
    uint32_t hash = 2166136261u;
    for (int i = 0; i < 10000; ++i) {
        Coefficients out = dct(lcg.NextBlock());
        for (int32_t c : out) {
            uint32_t u = static_cast<uint32_t>(c);
            for (int byte = 0; byte < 4; ++byte) {
                hash = (hash ^ (u >> (8 * byte) & 0xFF)) * 16777619u;
            }
        }
    }
    return hash;
}

constexpr uint32_t kGoldenChecksum = 3838921254u;

TEST(ForwardDct, GoldenChecksum) { EXPECT_EQ(Checksum(Dct), kGoldenChecksum); }

// --- The vector kernels ----------------------------------------------------

using Kernel = void (*)(const uint8_t *samples, int16_t *coefficients);

// Not a value the transform can produce (it stays within +-8192).
constexpr int16_t kUnwritten16 = 0x7EAD;

Coefficients DctWith(Kernel dct, const Block &in) {
    int16_t narrow[64];
    for (int16_t &c : narrow) c = kUnwritten16;
    dct(in.data(), narrow);
    Coefficients out;
    for (int i = 0; i < 64; ++i) out[i] = narrow[i];
    return out;
}

// Blocks at the edges of what each pass can hold: flat blocks (the DC of
// all 0 is exactly -32768 in the column pass before its last shift), the
// 0/255 blocks that follow the sign of each basis function and their
// inverses (each makes one coefficient, and the 16-bit sums feeding it,
// as large as they get), checkerboards, stripes, and single pixels.
std::vector<Block> ExtremeBlocks() {
    std::vector<Block> blocks;
    for (int level = 0; level < 256; ++level) {
        Block b;
        b.fill(static_cast<uint8_t>(level));
        blocks.push_back(b);
    }
    for (int v = 0; v < 8; ++v) {
        for (int u = 0; u < 8; ++u) {
            Block b;
            for (int i = 0; i < 64; ++i) {
                double sign =
                    cos((2 * (i / 8) + 1) * v * M_PI / 16) * cos((2 * (i % 8) + 1) * u * M_PI / 16);
                b[i] = sign >= 0 ? 255 : 0;
            }
            blocks.push_back(b);
        }
    }
    for (int i = 0; i < 64; ++i) {
        Block b;
        b.fill(0);
        b[i] = 255;
        blocks.push_back(b);
    }
    for (int phase = 0; phase < 2; ++phase) {
        Block checker, rows, columns;
        for (int i = 0; i < 64; ++i) {
            checker[i] = ((i / 8 + i % 8 + phase) & 1) ? 255 : 0;
            rows[i] = ((i / 8 + phase) & 1) ? 255 : 0;
            columns[i] = ((i % 8 + phase) & 1) ? 255 : 0;
        }
        blocks.push_back(checker);
        blocks.push_back(rows);
        blocks.push_back(columns);
    }
    // And each of them inverted: a single 0 on 255, the other phase of
    // each basis pattern.
    size_t count = blocks.size();
    for (size_t i = 0; i < count; ++i) {
        Block inverse;
        for (int k = 0; k < 64; ++k) inverse[k] = static_cast<uint8_t>(255 - blocks[i][k]);
        blocks.push_back(inverse);
    }
    return blocks;
}

TEST(ForwardDct, VectorKernelsMatchPlainOnExtremeBlocks) {
    const auto kernels = jpegtest::OfferedKernels(&TransformKernels::forwardDct);
    if (kernels.empty()) GTEST_SKIP() << "no vector kernel here";
    Block black, white;
    black.fill(0);
    white.fill(255);
    for (Kernel dct : kernels) {
        for (const Block &in : ExtremeBlocks()) ASSERT_EQ(DctWith(dct, in), Dct(in));
        EXPECT_EQ(DctWith(dct, black)[0], -8192);
        EXPECT_EQ(DctWith(dct, white)[0], 8128);
    }
}

TEST(ForwardDct, VectorKernelsMatchPlainOnRandomBlocks) {
    const auto kernels = jpegtest::OfferedKernels(&TransformKernels::forwardDct);
    if (kernels.empty()) GTEST_SKIP() << "no vector kernel here";
    for (Kernel dct : kernels) {
        Lcg lcg{7};
        for (int i = 0; i < 300000; ++i) {
            Block in = lcg.NextBlock();
            ASSERT_EQ(DctWith(dct, in), Dct(in)) << "block " << i;
        }
        // Samples of 0 and 255 only: every pass near its largest values.
        for (int i = 0; i < 100000; ++i) {
            Block in;
            for (uint8_t &s : in) s = (lcg.Next() & 0x80) ? 255 : 0;
            ASSERT_EQ(DctWith(dct, in), Dct(in)) << "block " << i;
        }
        EXPECT_EQ(Checksum([dct](const Block &in) { return DctWith(dct, in); }), kGoldenChecksum);
    }
}

// --- Two blocks at once ------------------------------------------------------

struct PairOut {
    Coefficients first, second;
};

PairOut DctPair(Kernel pair, const Block &first, const Block &second) {
    uint8_t samples[128];
    std::copy(first.begin(), first.end(), samples);
    std::copy(second.begin(), second.end(), samples + 64);
    int16_t narrow[128];
    for (int16_t &c : narrow) c = kUnwritten16;
    pair(samples, narrow);
    PairOut out;
    for (int i = 0; i < 64; ++i) {
        out.first[i] = narrow[i];
        out.second[i] = narrow[64 + i];
    }
    return out;
}

Block Inverse(const Block &in) {
    Block out;
    for (int k = 0; k < 64; ++k) out[k] = static_cast<uint8_t>(255 - in[k]);
    return out;
}

// Every ordered pair of extreme blocks, each half against the plain
// transform: a half that read the other block's samples, wrote to the
// other's place, or reached a limit the other half did not would show.
TEST(ForwardDct, PairKernelsMatchPlainOnEveryPairOfExtremeBlocks) {
    const auto kernels = jpegtest::OfferedKernels(&TransformKernels::forwardDctPair);
    if (kernels.empty()) GTEST_SKIP() << "no pair kernel here";
    const std::vector<Block> blocks = ExtremeBlocks();
    std::vector<Coefficients> want;
    for (const Block &b : blocks) want.push_back(Dct(b));
    for (Kernel pair : kernels) {
        for (size_t i = 0; i < blocks.size(); ++i) {
            for (size_t j = 0; j < blocks.size(); ++j) {
                PairOut got = DctPair(pair, blocks[i], blocks[j]);
                ASSERT_EQ(got.first, want[i]) << "blocks " << i << " and " << j;
                ASSERT_EQ(got.second, want[j]) << "blocks " << i << " and " << j;
            }
        }
    }
}

TEST(ForwardDct, PairKernelsMatchPlainOnRandomBlocks) {
    const auto kernels = jpegtest::OfferedKernels(&TransformKernels::forwardDctPair);
    if (kernels.empty()) GTEST_SKIP() << "no pair kernel here";
    for (Kernel pair : kernels) {
        Lcg lcg{8};
        for (int i = 0; i < 150000; ++i) {
            Block a = lcg.NextBlock(), b = lcg.NextBlock();
            PairOut got = DctPair(pair, a, b);
            ASSERT_EQ(got.first, Dct(a)) << "pair " << i;
            ASSERT_EQ(got.second, Dct(b)) << "pair " << i;
        }
        // Samples of 0 and 255 only, beside a block of the opposite samples,
        // so the two halves sit at opposite ends of every range at once.
        for (int i = 0; i < 50000; ++i) {
            Block a;
            for (uint8_t &s : a) s = (lcg.Next() & 0x80) ? 255 : 0;
            PairOut got = DctPair(pair, a, Inverse(a));
            ASSERT_EQ(got.first, Dct(a)) << "pair " << i;
            ASSERT_EQ(got.second, Dct(Inverse(a))) << "pair " << i;
        }
        // The checksum blocks through each half, the other holding the
        // inverse block.
        EXPECT_EQ(Checksum([pair](const Block &in) { return DctPair(pair, in, Inverse(in)).first; }),
                  kGoldenChecksum);
        EXPECT_EQ(Checksum([pair](const Block &in) { return DctPair(pair, Inverse(in), in).second; }),
                  kGoldenChecksum);
    }
}

}  // namespace
