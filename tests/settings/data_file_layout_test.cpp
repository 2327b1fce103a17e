// The layout of the driver data file as the loader walks it: the section
// chain and its limit, the entry chain and its count, and files that lie
// about themselves (loops, offsets out of range, truncation).

#include <stdint.h>

#include <chrono>
#include <string>
#include <vector>

#include "settings_test_support.h"

namespace settings_test {
namespace {

using DataFileLayout = MessageTableTest;

std::vector<Message> OneMessage() { return {{"ERMSG_01", "one"}}; }

// ---------------------------------------------------------------------------
// Sections

class SectionPosition : public MessageTableTest, public ::testing::WithParamInterface<int> {};

TEST_P(SectionPosition, IsFoundAnywhereInTheChain) {
    std::vector<Section> sections = {{"DDFUM_First", {{"ERMSG_01", "wrong"}}},
                                     {"DDFUM_Second", {}},
                                     {"DDFUM_Third", {{"ERMSG_01", "wrong"}}}};
    sections.insert(sections.begin() + GetParam(), {kMessageSection, OneMessage()});
    Load(BuildTdf(sections));
    EXPECT_EQ(Text(1), "one");
}

INSTANTIATE_TEST_SUITE_P(DataFileLayout, SectionPosition, ::testing::Values(0, 1, 2, 3));

TEST_F(DataFileLayout, SectionNameMatchesWhateverItsCase) {
    Load(BuildTdf({{"ddfum_errmsg", OneMessage()}}));
    EXPECT_EQ(Text(1), "one");
}

TEST_F(DataFileLayout, SectionNameMatchesOverTheWholeString) {
    for (std::string name : {"DDFUM_ErrMs", "DDFUM_ErrMsg_", "DDFUM_ErrMsgs", "", "DDFUM"}) {
        Load(BuildTdf({{name, OneMessage()}}));
        EXPECT_EQ(Text(1), "") << "section " << name;
        Unload();
    }
}

TEST_F(DataFileLayout, SectionNameFillingAll32BytesMatchesNothing) {
    // The record's name has no NUL; the firstEntry field after it does.
    Load(BuildTdf({{"DDFUM_ErrMsg" + std::string(20, 'x'), OneMessage()}}));
    EXPECT_EQ(Text(1), "");
}

TEST_F(DataFileLayout, SectionIsFoundOnlyBelowTheLimit) {
    TdfFile f = BuildTdf({{"DDFUM_A", {}}, {"DDFUM_B", {}}, {kMessageSection, OneMessage()}});
    uint32_t at = f.records[2];
    for (uint32_t limit : {0u, 8u, at - 1, at}) {
        f.Put32(kLimitField, limit);
        Load(f);
        EXPECT_EQ(Text(1), "") << "limit " << limit;
        Unload();
    }
    f.Put32(kLimitField, at + 1);
    Load(f);
    EXPECT_EQ(Text(1), "one");
}

TEST_F(DataFileLayout, FirstRecordCountsOnlyBelowTheLimit) {
    TdfFile f = BuildTdf({{kMessageSection, OneMessage()}});
    f.Put32(kLimitField, 8);
    Load(f);
    EXPECT_EQ(Text(1), "");
    Unload();
    f.Put32(kLimitField, 9);
    Load(f);
    EXPECT_EQ(Text(1), "one");
}

TEST_F(DataFileLayout, ChainLeavingTheLimitEndsTheSearch) {
    TdfFile f = BuildTdf({{"DDFUM_A", {}}, {kMessageSection, OneMessage()}});
    for (uint32_t next : {f.Get32(kLimitField), 0xFFFFFFC0u, 0xFFFFFFFFu}) {
        f.Put32(f.records[0] + kNextRecordField, next);
        Load(f);
        EXPECT_EQ(Text(1), "") << "next " << next;
        Unload();
    }
}

TEST_F(DataFileLayout, RecordCutShortByTheEndOfTheFileIsNotASection) {
    TdfFile f = BuildTdf({{kMessageSection, OneMessage()}});
    f.bytes.resize(8 + 51);
    f.Put32(kLimitField, 0xFFFFFFFFu);
    Load(f);
    EXPECT_EQ(Text(1), "");
}

TEST_F(DataFileLayout, LoopingSectionChainsEnd) {
    TdfFile f = BuildTdf({{"DDFUM_A", {}}, {"DDFUM_B", {}}, {"DDFUM_C", {}}});
    for (uint32_t back : {f.records[0], f.records[1], f.records[2], 0u}) {
        f.Put32(f.records[2] + kNextRecordField, back);
        Load(f);
        EXPECT_EQ(Text(1), "");
        Unload();
    }
}

// ---------------------------------------------------------------------------
// The entry chain and its count

TEST_F(DataFileLayout, CountLimitsTheEntriesVisited) {
    TdfFile f = MessageFile(AllMessages());
    for (uint32_t count : {0u, 1u, 5u}) {
        f.Put32(f.records[0] + kCountField, count);
        Load(f);
        EXPECT_EQ(Standin_Live().blocks, static_cast<int>(count));
        for (uint32_t i = 0; i < 15; ++i) {
            EXPECT_EQ(Text(i), i < count ? TextOf(i) : "") << "count " << count << ", result " << i;
        }
        Unload();
    }
}

TEST_F(DataFileLayout, CountLargerThanTheChainLoadsWhatIsThere) {
    TdfFile f = MessageFile({{"ERMSG_01", "one"}, {"ERMSG_02", "two"}});
    for (uint32_t count : {3u, 1000u, 0xFFFFFFFFu}) {
        f.Put32(f.records[0] + kCountField, count);
        Load(f);
        EXPECT_EQ(Text(1), "one");
        EXPECT_EQ(Text(2), "two");
        Unload();
    }
}

TEST_F(DataFileLayout, LoopingEntryChainsEnd) {
    TdfFile f = MessageFile({{"ERMSG_01", "one"}, {"NOT_A_KEY", "x"}, {"ERMSG_02", "two"}});
    f.Put32(f.records[0] + kCountField, 0xFFFFFFFFu);
    for (uint32_t back : {f.entries[0][0], f.entries[0][2]}) {
        f.Put32(f.entries[0][2] + kNextEntryField, back);
        Load(f);
        EXPECT_EQ(Text(1), "one");
        EXPECT_EQ(Text(2), "two");
        Unload();
    }
}

TEST_F(DataFileLayout, FirstEntryOutsideTheFileLoadsNothing) {
    TdfFile f = MessageFile(AllMessages());
    for (uint32_t first : {0u, f.Size(), 0xFFFFFFF8u}) {
        f.Put32(f.records[0] + kFirstEntryField, first);
        Load(f);
        EXPECT_EQ(Standin_Live().blocks, 0) << "first entry " << first;
        Unload();
    }
}

TEST_F(DataFileLayout, LoadingStopsOnceAllSixteenTextsAreLoaded) {
    // Through the handle, so that every read shows in the ReadFile count.
    TdfFile exact = MessageFile(AllMessages());
    Standin_FailNth(StandinGlobalAlloc, 2);
    Load(exact);
    int reads = Standin_Calls(StandinReadFile);
    Unload();

    TdfFile looping = exact;
    looping.Put32(looping.records[0] + kCountField, 0xFFFFFFFFu);
    looping.Put32(looping.entries[0][15] + kNextEntryField, looping.entries[0][15]);
    Standin_FailNth(StandinGlobalAlloc, 2);
    Load(looping);
    EXPECT_EQ(ExpectConsistentTable(Loaded::Whole), kErrorMessageCount);
    EXPECT_EQ(Standin_Calls(StandinReadFile), reads);
}

TEST_F(DataFileLayout, LoopWithUnknownSizeEndsAsSoonAsItCloses) {
    // Without a size the step bound is 65536 entries, and each step reads its
    // key a byte at a time through the handle: a loop must be noticed when it
    // closes, not at the bound. One entry pointing to itself with a 127-byte
    // key once cost millions of reads.
    TdfFile f = MessageFile({{std::string(127, 'A'), "x"}});
    f.Put32(f.records[0] + kCountField, 0xFFFFFFFFu);
    f.Put32(f.entries[0][0] + kNextEntryField, f.entries[0][0]);
    Standin_FailAlways(StandinGetFileSize, 1);
    Load(f);
    EXPECT_LT(Standin_Calls(StandinReadFile), 3 * 130);
}

TEST_F(DataFileLayout, LongerLoopsEndWithinAFewRounds) {
    // Three entries in a ring behind a lead-in of two: the ring's keys are
    // loaded, and the walk stops within a few times the chain's length.
    std::vector<Message> messages = {
        {"ERMSG_00", "zero"}, {"ERMSG_01", "one"}, {"ERMSG_02", "two"},
        {"ERMSG_03", "three"}, {"ERMSG_04", "four"}};
    TdfFile f = MessageFile(messages);
    f.Put32(f.records[0] + kCountField, 0xFFFFFFFFu);
    f.Put32(f.entries[0][4] + kNextEntryField, f.entries[0][2]);
    Standin_FailAlways(StandinGetFileSize, 1);
    Load(f);
    EXPECT_STREQ(SPRINST_GetErrorMsg(4), "four");
    EXPECT_STREQ(SPRINST_GetErrorMsg(2), "two");
    // Each visit reads a 16-byte entry and a key of 9 bytes, one at a time.
    EXPECT_LT(Standin_Calls(StandinReadFile), 4 * 5 * 12);
}

// ---------------------------------------------------------------------------
// Truncation: every prefix of a valid file loads without harm, and a text it
// does load is a beginning of the file's text.

class Truncated : public MessageTableTest, public ::testing::WithParamInterface<bool> {};

TEST_P(Truncated, EveryPrefixOfAValidFileLoadsSafely) {
    bool throughHandle = GetParam();
    TdfFile f = MessageFile(AllMessages());
    for (uint32_t length = 0; length <= f.Size(); ++length) {
        SCOPED_TRACE("length " + std::to_string(length));
        Standin_Reset();
        if (throughHandle) Standin_FailNth(StandinGlobalAlloc, 2);
        Load(Bytes(f.bytes.begin(), f.bytes.begin() + length));
        int loaded = ExpectConsistentTable(Loaded::Prefix);
        if (length == f.Size()) EXPECT_EQ(loaded, kErrorMessageCount);
        FreeErrorMessages();
        StandinLive live = Standin_Live();
        ASSERT_EQ(live.files, 0);
        ASSERT_EQ(live.blocks, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(DataFileLayout, Truncated, ::testing::Values(false, true),
                         [](const auto &info) {
                             return info.param ? "ThroughHandle" : "InMemory";
                         });

}  // namespace
}  // namespace settings_test
