// The block coder's two ways to the same bytes: blocks coded straight into a
// roomy output must equal, byte for byte and in the bits left pending, the
// same blocks coded through the staged calls that run near the end of the
// room, in encode and size-only mode, from every pending bit count; and the
// SSE2 search for nonzero coefficients must equal the plain one.

#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "byte_stream.h"
#include "encoder_session.h"
#include "encoder_stages.h"
#include "entropy_coder.h"
#include "entropy_coder_direct.h"
#include "session_fixture.h"
#include "stream_headers.h"

namespace {

// The room below which a block goes through the staged calls: the most any
// block of int16 values could complete.
constexpr uint32_t kDirectRoom = coder::kMaxBlockBytes;

struct Lcg {
    uint32_t state;
    uint32_t Next() { return state = state * 1664525u + 1013904223u; }
    // A coefficient as quantisation leaves them: mostly small, sometimes
    // zero runs, sometimes the extremes of an 8-bit image.
    int16_t Coefficient() {
        uint32_t r = Next() >> 8;
        switch (r % 8) {
            case 0:
            case 1:
            case 2: return 0;
            case 3: return static_cast<int16_t>(static_cast<int32_t>(r % 2047) - 1023);
            case 4: return static_cast<int16_t>(r & 1 ? 1023 : -1023);
            default: return static_cast<int16_t>(static_cast<int32_t>(r % 31) - 15);
        }
    }
};

// Blocks that reach the coder's corners: empty, full, the largest values,
// long zero runs (ZRL), a last coefficient set or not, ones.
std::vector<std::vector<int16_t>> TestBlocks() {
    std::vector<std::vector<int16_t>> blocks;
    blocks.push_back(std::vector<int16_t>(64, 0));
    for (int16_t v : {1, -1, 1016, -1023, -1024}) blocks.push_back(std::vector<int16_t>(64, v));
    for (int k = 1; k < 64; ++k) {  // one nonzero at each zig-zag position
        std::vector<int16_t> b(64, 0);
        b[ZigZagOrder[k]] = static_cast<int16_t>(k % 2 ? k : -k);
        blocks.push_back(b);
    }
    for (int k : {17, 33, 48, 63}) {  // runs of 16 and more before the value
        std::vector<int16_t> b(64, 0);
        b[0] = 5;
        b[ZigZagOrder[k]] = -300;
        blocks.push_back(b);
    }
    for (int run : {16, 31, 32, 40}) {  // the same inside busy blocks
        std::vector<int16_t> b(64, 0);
        const int before = (63 - run) / 2;
        for (int k = 1; k < 64; ++k) {
            if (k <= before || k > before + run)
                b[ZigZagOrder[k]] = static_cast<int16_t>(k % 2 ? 1 : -9);
        }
        blocks.push_back(b);
    }
    std::vector<int16_t> alternating(64);
    for (int i = 0; i < 64; ++i) alternating[i] = static_cast<int16_t>(i % 2 ? 1020 : -1020);
    blocks.push_back(alternating);
    Lcg lcg{12345};
    for (int n = 0; n < 4000; ++n) {
        std::vector<int16_t> b(64);
        for (int16_t &v : b) v = lcg.Coefficient();
        // Sparse blocks, as photographs give.
        if (n % 2) {
            for (int i = 1 + n % 13; i < 64; ++i) b[i] = 0;
        }
        blocks.push_back(b);
    }
    // Quantised values of 8-bit samples: DC within -1024..1016 (so DC
    // differences stay within category 11), AC within +-1023 (category 10).
    for (auto &b : blocks) {
        b[0] = static_cast<int16_t>(b[0] < -1024 ? -1024 : b[0] > 1016 ? 1016 : b[0]);
        for (int i = 1; i < 64; ++i) {
            b[i] = static_cast<int16_t>(b[i] < -1023 ? -1023 : b[i] > 1023 ? 1023 : b[i]);
        }
    }
    return blocks;
}

// A session with the built-in tables, coding into `out`; with longCodes,
// every code the tables list made 16 bits long (a DC code with a large
// difference then pends more than 32 bits).
struct CoderRig {
    std::vector<uint8_t> headerBytes = std::vector<uint8_t>(1024);
    ByteStream headers{};
    HuffmanCodeTable tables[4];
    uint16_t status = StatusBase;
    EncoderSession session{};

    explicit CoderRig(ByteStream *out, uint16_t outputKind, bool longCodes = false) {
        session.componentCount = 3;
        session.status = &status;
        InitMemoryStream(&headers, 1024, headerBytes.data(), &status);
        headers.SetWriteOrder(&headers, 0);
        session.output = &headers;
        EXPECT_EQ(WriteDht(&session, tables), 1);
        for (HuffmanCodeTable &t : tables) {
            for (int symbol = 0; longCodes && symbol < 256; ++symbol) {
                if (t.codeLength[symbol] == 0) continue;
                t.codeLength[symbol] = 16;
                t.code[symbol] = static_cast<uint16_t>(0xFFFF - symbol * 3);
            }
        }
        session.output = out;
        session.outputKind = outputKind;
        for (ComponentSpec &c : session.components) c.dcPredictor = 0;
    }
};

struct Coded {
    std::vector<uint8_t> bytes;
    uint32_t length;
    uint32_t bitBuffer;
    uint32_t bitCount;
};

// Codes the blocks one after another (alternating luma and chroma tables)
// after `pending` bits 1010..., in encode mode with `room` bytes left after
// a `start` offset, or counting from `start`.
Coded CodeAll(const std::vector<std::vector<int16_t>> &blocks, BlockCoder coder, bool encode,
              uint32_t pending, uint32_t start, uint32_t room, bool longCodes = false) {
    std::vector<uint8_t> memory(encode ? start + room : 0, 0xA5);
    ByteStream out{};
    if (encode) {
        InitMemoryStream(&out, start + room, memory.data(), nullptr);
    } else {
        InitSizeCounter(&out, nullptr);
        out.size = start;
    }
    out.position = start;
    out.bitCount = pending;
    out.bitBuffer = (0xAAu << (8 - pending)) & 0xFF & ~(0xFFu >> pending);
    CoderRig rig(&out, encode ? OutputMemory : OutputCount, longCodes);
    Coded result{};
    for (size_t i = 0; i < blocks.size(); ++i) {
        ComponentSpec *c = &rig.session.components[i % 2];
        // Each block in a stream of its own room: what matters is that both
        // ways code it alike.
        if (encode) {
            uint32_t before = out.position;
            EXPECT_EQ(coder(&rig.session, c, blocks[i].data()), 1) << "block " << i;
            result.bytes.insert(result.bytes.end(), memory.begin() + before,
                                memory.begin() + out.position);
            out.position = start;
        } else {
            uint32_t before = out.position;
            EXPECT_EQ(coder(&rig.session, c, blocks[i].data()), 1) << "block " << i;
            result.length += out.position - before;
            EXPECT_EQ(out.size, out.position);
            out.position = out.size = start;
        }
    }
    result.length += static_cast<uint32_t>(result.bytes.size());
    result.bitBuffer = out.bitBuffer;
    result.bitCount = out.bitCount;
    return result;
}

void ExpectSame(const Coded &a, const Coded &b) {
    EXPECT_EQ(a.length, b.length);
    EXPECT_TRUE(a.bytes == b.bytes);
    EXPECT_EQ(a.bitBuffer, b.bitBuffer);
    EXPECT_EQ(a.bitCount, b.bitCount);
}

// Every coder takes categories from CategoryOf: against a count of the
// magnitude's bits, over every DC difference two int16 values can make.
TEST(BlockCoder, CategoryIsTheMagnitudesBitCount) {
    for (int32_t y = -65535; y <= 65535; ++y) {
        uint32_t bits = 0;
        while ((static_cast<uint32_t>(y < 0 ? -y : y) >> bits) != 0) ++bits;
        ASSERT_EQ(coder::CategoryOf(y), bits) << y;
    }
}

TEST(BlockCoder, CodesDirectlyWhatTheStagedCallsCode) {
    const auto blocks = TestBlocks();
    for (uint32_t pending = 0; pending < 8; ++pending) {
        SCOPED_TRACE(pending);
        // Encode: a roomy buffer takes the direct way; room one byte short
        // of the largest block takes the staged calls (the blocks here fit).
        Coded direct = CodeAll(blocks, CodeBlock, true, pending, 3, 4096);
        Coded staged = CodeAll(blocks, CodeBlock, true, pending, 3, kDirectRoom - 1);
        ExpectSame(direct, staged);
        // Size only: counting from 0, and from just below the highest
        // count the staged calls still code directly.
        Coded counted = CodeAll(blocks, CodeBlock, false, pending, 0, 0);
        Coded countedNearTop =
            CodeAll(blocks, CodeBlock, false, pending, 0xFFFFFFFFu - (kDirectRoom - 1), 0);
        EXPECT_EQ(counted.length, direct.length);
        EXPECT_EQ(countedNearTop.length, direct.length);
        EXPECT_EQ(counted.bitBuffer, direct.bitBuffer);
        EXPECT_EQ(counted.bitCount, direct.bitCount);
        EXPECT_EQ(countedNearTop.bitCount, direct.bitCount);
    }
}

TEST(BlockCoder, StuffsEveryFfByteInBothWays) {
    // 0x7FF... values after long codes give 0xFF bytes in many alignments.
    const auto blocks = TestBlocks();
    Coded direct = CodeAll(blocks, CodeBlock, true, 5, 0, 4096);
    size_t ff = 0;
    for (size_t i = 0; i + 1 < direct.bytes.size(); ++i) {
        if (direct.bytes[i] == 0xFF) {
            ++ff;
            EXPECT_EQ(direct.bytes[i + 1], 0x00) << "at " << i;
        }
    }
    EXPECT_GT(ff, 100u);  // the test blocks do reach the stuffing
}

TEST(BlockCoder, LargestBlockFitsTheDirectRoom) {
    // Every coefficient at the largest magnitude with the longest codes
    // there are, from 7 pending bits: the room the direct way reserves.
    std::vector<std::vector<int16_t>> worst;
    for (int16_t v : {-1023, 1023, -1020, 1020}) worst.push_back(std::vector<int16_t>(64, v));
    for (const auto &block : worst) {
        Coded c = CodeAll({block}, CodeBlock, true, 7, 0, kDirectRoom);
        EXPECT_LE(c.bytes.size(), kDirectRoom);
    }
}

// Blocks no quantised 8-bit image gives: an AC category of 11 or more (the
// tables have no code for it), up to -32768 after runs that would carry the
// symbol into the next run's codes or past the table, and DC differences of
// category 12 and 16, among 3s or among zeros (busy and sparse blocks take
// different paths). Each must fail its call without touching anything past
// the buffer's capacity, whichever way it is coded, and complete nothing of
// the block (the staged calls: nothing past the DC call before it).
TEST(BlockCoder, BlocksTheTablesCannotCodeFailInsideTheirBuffers) {
    struct Forged {
        const char *what;
        int zigzag;  // where the value goes (0: the DC)
        int16_t value;
        int16_t predictor;
    };
    const Forged forged[] = {
        {"AC 1024", 1, 1024, 0},
        {"AC -1024 last", 63, -1024, 0},
        {"AC -32768 after 14 zeros", 15, -32768, 0},
        {"AC -32768 after 15 zeros", 16, -32768, 0},
        {"AC 32767", 5, 32767, 0},
        // Zig-zag 32 sits where the DC does in the second half of 64.
        {"AC 1024 at zig-zag 32", 32, 1024, 0},
        {"AC -32768 at zig-zag 32", 32, -32768, 0},
        {"DC difference 2048", 0, 1024, -1024},
        {"DC difference -65535", 0, -32768, 32767},
    };
    for (uint32_t level : jpegtest::kSimdLevels) {
        if (!jpegtest::SimdLevelAvailable(level)) continue;
        const BlockCoder coder = ChooseStages(level, 24, 0, Sub2x2).blockCoder;
        for (const Forged &f : forged) {
            // Direct, at exactly the reserve; staged, with room to spare for
            // a valid block; counted.
            for (auto [room, fill] :
                 {std::pair{kDirectRoom, 3}, {200u, 3}, {0u, 3}, {kDirectRoom, 0}, {0u, 0}}) {
                SCOPED_TRACE(testing::Message() << jpegtest::SimdLevelName(level) << ", " << f.what
                                                << ", room " << room << ", among " << fill);
                std::vector<int16_t> block(64, static_cast<int16_t>(fill));
                block[ZigZagOrder[f.zigzag]] = f.value;
                for (int k = 1; k < f.zigzag && f.zigzag > 1; ++k) {
                    if (f.zigzag - k <= 15) block[ZigZagOrder[k]] = 0;
                }
                std::vector<uint8_t> memory(room + 64, 0xA5);
                ByteStream out{};
                if (room) {
                    InitMemoryStream(&out, room, memory.data(), nullptr);
                } else {
                    InitSizeCounter(&out, nullptr);
                }
                out.bitCount = 3;
                out.bitBuffer = 0xA0;
                CoderRig rig(&out, room ? OutputMemory : OutputCount);
                rig.session.components[0].dcPredictor = f.predictor;
                EXPECT_EQ(coder(&rig.session, &rig.session.components[0], block.data()), 0);
                if (room != 200 || f.zigzag == 0) {
                    EXPECT_EQ(out.position, 0u);
                    EXPECT_EQ(out.bitCount, 3u);
                    EXPECT_EQ(out.bitBuffer, 0xA0u);
                }
                EXPECT_EQ(rig.status, StatusBase);
                for (uint32_t i = room; i < memory.size(); ++i) ASSERT_EQ(memory[i], 0xA5) << i;
            }
        }
    }
}

// A staged call that does not fit completes nothing: position beyond size
// (in memory), the pending bits as they were, and no status code of its
// own; near 2^32 - 1 the in-memory call stops the position at 2^32 - 1 and
// the counting one reports the bound, neither wrapping around.
TEST(BlockCoder, StagedCallsThatDoNotFitLeaveTheStreamAsItWas) {
    struct Case {
        const char *what;
        bool encode;
        uint32_t size, position;
        uint32_t wantPosition;
        uint16_t wantStatus;
    };
    const Case cases[] = {
        {"past the capacity", true, 40, 30, 0, StatusBase},
        {"past 2^32 - 1 in memory", true, 0xFFFFFFFFu, 0xFFFFFFFEu, 0xFFFFFFFFu, StatusBase},
        {"past 2^32 - 1 counted", false, 0xFFFFFFFEu, 0xFFFFFFFEu, 0xFFFFFFFEu,
         StatusBase | StatusStreamBound},
    };
    std::vector<int16_t> busy(64);
    for (int i = 0; i < 64; ++i) busy[i] = static_cast<int16_t>(i % 2 ? 300 - i : i - 500);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<uint8_t> memory(64, 0xA5);
        uint16_t status = StatusBase;
        ByteStream out{};
        if (c.encode) {
            InitMemoryStream(&out, c.size, memory.data(), &status);
        } else {
            InitSizeCounter(&out, &status);
            out.size = c.size;
        }
        out.position = c.position;
        out.bitCount = 5;
        out.bitBuffer = 0x58;
        CoderRig rig(&out, c.encode ? OutputMemory : OutputCount);
        rig.session.status = &status;
        EXPECT_EQ(coder::CodeAc(&rig.session, rig.session.components[0].acTable, busy.data()), 0);
        if (c.wantPosition) {
            EXPECT_EQ(out.position, c.wantPosition);
        } else {
            EXPECT_GT(out.position, out.size);
        }
        EXPECT_EQ(out.bitCount, 5u);
        EXPECT_EQ(out.bitBuffer, 0x58u);
        EXPECT_EQ(status, c.wantStatus);
        for (size_t i = 0; i < memory.size(); ++i) ASSERT_EQ(memory[i], 0xA5) << i;
    }
}

// The direct way moves a block's bytes by whole words, and must store
// nothing past its last byte: the stream may end after any block. Blocks
// one after another, many with 0xFF bytes to stuff, at every level.
TEST(BlockCoder, LeavesTheBytesBeyondTheStreamAsTheyWere) {
    const auto blocks = TestBlocks();
    auto pattern = [](size_t i) { return static_cast<uint8_t>(i * 37 + 11); };
    for (uint32_t level : jpegtest::kSimdLevels) {
        if (!jpegtest::SimdLevelAvailable(level)) continue;
        SCOPED_TRACE(jpegtest::SimdLevelName(level));
        const BlockCoder coder = ChooseStages(level, 24, 0, Sub2x2).blockCoder;
        std::vector<uint8_t> memory(blocks.size() * 420 + 64);
        for (size_t i = 0; i < memory.size(); ++i) memory[i] = pattern(i);
        ByteStream out{};
        InitMemoryStream(&out, static_cast<uint32_t>(memory.size()), memory.data(), nullptr);
        CoderRig rig(&out, OutputMemory);
        for (size_t b = 0; b < blocks.size(); ++b) {
            ASSERT_EQ(coder(&rig.session, &rig.session.components[b % 2], blocks[b].data()), 1);
            for (size_t i = out.position; i < out.position + 32; ++i) {
                ASSERT_EQ(memory[i], pattern(i)) << "block " << b << ", " << i - out.position;
            }
        }
    }
}

// Every coder the encoder can choose, at every level this processor has,
// against the plain one: through the direct way with room to spare, through
// the staged calls just short of the direct way's reserve, and counted;
// with the built-in tables and with every code 16 bits long.
TEST(BlockCoder, EveryChosenCoderCodesAlike) {
    const auto blocks = TestBlocks();
    for (uint32_t level : jpegtest::kSimdLevels) {
        if (!jpegtest::SimdLevelAvailable(level)) continue;
        const BlockCoder coder = ChooseStages(level, 24, 0, Sub2x2).blockCoder;
        for (bool longCodes : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << jpegtest::SimdLevelName(level) << (longCodes ? ", long codes" : ""));
            for (uint32_t pending : {0u, 1u, 3u, 6u, 7u}) {
                const Coded plain = CodeAll(blocks, CodeBlock, true, pending, 0, 4096, longCodes);
                ExpectSame(CodeAll(blocks, coder, true, pending, 0, 4096, longCodes), plain);
                ExpectSame(CodeAll(blocks, coder, true, pending, 0, kDirectRoom - 1, longCodes),
                           plain);
                EXPECT_EQ(CodeAll(blocks, coder, false, pending, 0, 0, longCodes).length,
                          CodeAll(blocks, CodeBlock, false, pending, 0, 0, longCodes).length);
            }
        }
    }
}

// Blocks coded in runs (of 1 to 6, the components as 4:2:0 takes them) into
// one stream must leave what the plain coder leaves coding them one by one:
// the bytes, nothing changed past them, the bits pending and the
// predictors; with room to spare, with room running out partway (where
// both stop at the same block, also inside a run), and counted. A block that fails in a run
// leaves the blocks before it completed (what lies past them may differ:
// a block failing alone may have stored there).
struct RunResult {
    std::vector<uint8_t> memory;
    ByteStream out{};
    int16_t predictors[3];
    bool failed = false;
};

RunResult CodeInRuns(const std::vector<std::vector<int16_t>> &blocks, BlockRunCoder runCoder,
                     uint32_t room, bool longCodes) {
    RunResult r;
    r.memory.resize(room + 64);
    for (size_t i = 0; i < r.memory.size(); ++i) r.memory[i] = static_cast<uint8_t>(i * 37 + 11);
    if (room) {
        InitMemoryStream(&r.out, room, r.memory.data(), nullptr);
    } else {
        InitSizeCounter(&r.out, nullptr);
    }
    r.out.bitCount = 3;
    r.out.bitBuffer = 0xA0;
    CoderRig rig(&r.out, room ? OutputMemory : OutputCount, longCodes);
    int16_t run[6][64];
    ComponentSpec *owner[6];
    for (size_t b = 0, runs = 0; b < blocks.size(); ++runs) {
        const size_t n = std::min<size_t>(1 + runs % 6, blocks.size() - b);
        for (size_t i = 0; i < n; ++i) {
            memcpy(run[i], blocks[b + i].data(), sizeof run[i]);
            owner[i] = &rig.session.components[(b + i) % 6 < 4 ? 0 : (b + i) % 6 - 3];
        }
        int32_t coded = 1;
        if (runCoder) {
            coded = runCoder(&rig.session, owner, run, static_cast<uint32_t>(n));
        } else {
            for (size_t i = 0; i < n && coded; ++i)
                coded = CodeBlock(&rig.session, owner[i], run[i]);
        }
        r.failed = !coded;
        if (r.failed) break;
        b += n;
    }
    for (int c = 0; c < 3; ++c) r.predictors[c] = rig.session.components[c].dcPredictor;
    return r;
}

void ExpectSameRun(const RunResult &run, const RunResult &plain, bool failed, size_t sameBytes) {
    EXPECT_EQ(run.failed, failed);
    EXPECT_EQ(plain.failed, failed);
    EXPECT_EQ(run.out.position, plain.out.position);
    EXPECT_EQ(run.out.size, plain.out.size);
    EXPECT_EQ(run.out.bitBuffer, plain.out.bitBuffer);
    EXPECT_EQ(run.out.bitCount, plain.out.bitCount);
    EXPECT_TRUE(
        std::equal(run.memory.begin(), run.memory.begin() + sameBytes, plain.memory.begin()));
    for (int c = 0; c < 3; ++c) EXPECT_EQ(run.predictors[c], plain.predictors[c]) << c;
}

TEST(BlockCoder, RunsCodeAsTheBlocksOneByOne) {
    auto blocks = TestBlocks();
    blocks.resize(1200);
    std::vector<std::vector<int16_t>> failing(blocks.begin(), blocks.begin() + 40);
    failing[23][ZigZagOrder[32]] = 1024;  // fails third in its run of six
    int tested = 0;
    for (uint32_t level : jpegtest::kSimdLevels) {
        if (!jpegtest::SimdLevelAvailable(level)) continue;
        const BlockRunCoder runCoder = ChooseStages(level, 24, 0, Sub2x2).blockRunCoder;
        if (!runCoder) continue;
        ++tested;
        for (bool longCodes : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << jpegtest::SimdLevelName(level) << (longCodes ? ", long codes" : ""));
            const uint32_t half = CodeInRuns(blocks, nullptr, 1 << 20, longCodes).out.position / 2;
            // 1000 bytes: the run of the three largest blocks finds more
            // room than one block needs, and less than the three.
            for (uint32_t room : {1u << 20, half, 1000u, 0u}) {
                SCOPED_TRACE(room);
                const RunResult plain = CodeInRuns(blocks, nullptr, room, longCodes);
                ExpectSameRun(CodeInRuns(blocks, runCoder, room, longCodes), plain,
                              room == half || room == 1000, plain.memory.size());
            }
            const RunResult plain = CodeInRuns(failing, nullptr, 1 << 20, longCodes);
            ExpectSameRun(CodeInRuns(failing, runCoder, 1 << 20, longCodes), plain, true,
                          plain.out.position);
        }
    }
    if (tested == 0) GTEST_SKIP() << "no level here codes runs";
}

}  // namespace
