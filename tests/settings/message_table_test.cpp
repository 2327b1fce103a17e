// The message table as SPRINST_GetErrorMsg serves it: which text each result
// gets, how file keys are matched to table keys, and how texts are read.

#include <stdint.h>

#include <string>
#include <vector>

#include "settings_test_support.h"

namespace settings_test {
namespace {

using MessageTable = MessageTableTest;

// ---------------------------------------------------------------------------
// Which text a result gets

TEST_F(MessageTable, ServesEachTextAndTheGeneralOneForEveryOtherResult) {
    Load(MessageFile(AllMessages()));
    for (int i = 0; i < 15; ++i) EXPECT_EQ(Text(i), TextOf(i));
    for (int32_t result : {15, 16, 99, 1000, -1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(Text(result), "general message") << "result " << result;
    }
    EXPECT_EQ(Standin_Live().files, 0) << "the data file stays open after the load";
    EXPECT_EQ(Standin_Live().blocks, kErrorMessageCount);
}

TEST_F(MessageTable, MissingKeyGetsTheGeneralText) {
    std::vector<Message> messages = AllMessages();
    messages.erase(messages.begin() + 3);
    Load(MessageFile(messages));
    EXPECT_EQ(Text(3), "general message");
    EXPECT_EQ(Text(4), TextOf(4));
}

TEST_F(MessageTable, WithoutTheGeneralTextAMissingKeyGetsAnEmptyString) {
    Load(MessageFile({{"ERMSG_00", "zero"}}));
    EXPECT_EQ(Text(0), "zero");
    for (int32_t result : {3, 15, 99, -1}) EXPECT_EQ(Text(result), "");
}

TEST_F(MessageTable, NothingLoadedGivesEmptyStrings) {
    for (int32_t result : {0, 14, 15, 99, -1}) EXPECT_EQ(Text(result), "");
}

TEST_F(MessageTable, FreeingEmptiesTheTableAndALaterLoadFillsItAgain) {
    Load(MessageFile(AllMessages()));
    FreeErrorMessages();
    EXPECT_EQ(Standin_Live().blocks, 0);
    for (int i = 0; i < kErrorMessageCount; ++i) EXPECT_EQ(ErrorMessageTable[i].text, nullptr);
    EXPECT_EQ(Text(0), "");
    Load(MessageFile(AllMessages()));
    EXPECT_EQ(Text(0), TextOf(0));
}

// ---------------------------------------------------------------------------
// Keys

TEST_F(MessageTable, KeysMatchWhateverTheirCase) {
    Load(MessageFile({{"ermsg_03", "three"}, {"eRmSg_xX", "general"}}));
    EXPECT_EQ(Text(3), "three");
    EXPECT_EQ(Text(99), "general");
}

TEST_F(MessageTable, KeysMatchOverTheWholeStringNotAsPrefix) {
    Load(MessageFile({{"ERMSG_0", "shorter"},
                      {"ERMSG_033", "longer"},
                      {"ERMSG_03 ", "trailing blank"},
                      {"RMSG_03", "cut in front"},
                      {"ERMSG_", "stem"},
                      {"", "empty key"},
                      {"ERMSG_XX", "general"}}));
    for (int i = 0; i < 15; ++i) EXPECT_EQ(Text(i), "general") << "result " << i;
    EXPECT_EQ(Standin_Live().blocks, 1);
}

TEST_F(MessageTable, FirstOfTwoEqualKeysWins) {
    Load(MessageFile({{"ERMSG_05", "first"}, {"ermsg_05", "second"}, {"ERMSG_05", "third"}}));
    EXPECT_EQ(Text(5), "first");
    EXPECT_EQ(Standin_Live().blocks, 1);
}

TEST_F(MessageTable, OverlongKeysMatchNothingAndTheLoadGoesOn) {
    // 127 characters fill the key buffer with its NUL; longer keys do not fit.
    Load(MessageFile({{"ERMSG_01" + std::string(119, 'x'), "127"},
                      {"ERMSG_02" + std::string(120, 'x'), "128"},
                      {"ERMSG_03" + std::string(400, 'x'), "408"},
                      {"ERMSG_04", "four"}}));
    EXPECT_EQ(Text(1), "");
    EXPECT_EQ(Text(2), "");
    EXPECT_EQ(Text(3), "");
    EXPECT_EQ(Text(4), "four");
}

TEST_F(MessageTable, KeyPastTheEndOfTheFileMatchesNothing) {
    TdfFile f = MessageFile({{"ERMSG_01", "one"}, {"ERMSG_02", "two"}});
    f.Put32(f.entries[0][0] + kKeyField, f.Size());
    f.Put32(f.entries[0][1] + kKeyField, 0xFFFFFFFFu);
    Load(f);
    EXPECT_EQ(Standin_Live().blocks, 0);
}

// ---------------------------------------------------------------------------
// Texts

TEST_F(MessageTable, TextOf289CharactersLoadsWhole) {
    std::string longest(289, 'a');
    longest[0] = 'S';
    longest[288] = 'E';
    Load(MessageFile({{"ERMSG_01", longest}}));
    EXPECT_EQ(Text(1), longest);
}

TEST_F(MessageTable, TextWithoutNulWithin290BytesIsEmptyNotTheGeneralText) {
    Load(MessageFile({{"ERMSG_01", std::string(290, 'b')},
                      {"ERMSG_02", std::string(1000, 'c')},
                      {"ERMSG_XX", "general"}}));
    EXPECT_EQ(Text(1), "");
    EXPECT_EQ(Text(2), "");
    EXPECT_EQ(Text(3), "general");
}

TEST_F(MessageTable, TextOffsetPastTheEndGivesAnEmptyText) {
    TdfFile f = MessageFile(
        {{"ERMSG_01", "one"}, {"ERMSG_02", "two"}, {"ERMSG_03", "three"}, {"ERMSG_XX", "general"}});
    f.Put32(f.entries[0][0] + kTextField, f.Size());
    f.Put32(f.entries[0][1] + kTextField, 0x7FFFFFFFu);
    f.Put32(f.entries[0][2] + kTextField, 0xFFFFFFFFu);
    Load(f);
    EXPECT_EQ(Text(1), "");
    EXPECT_EQ(Text(2), "");
    EXPECT_EQ(Text(3), "");
    EXPECT_EQ(Text(4), "general");
}

TEST_F(MessageTable, TextRunningIntoTheEndOfTheFileEndsThere) {
    TdfFile f = MessageFile({{"ERMSG_01", "one"}});
    f.Put32(f.entries[0][0] + kTextField, f.Append("unterminated"));
    Load(f);
    EXPECT_EQ(Text(1), "unterminated");
}

TEST_F(MessageTable, EntriesMayShareStrings) {
    TdfFile f = MessageFile({{"ERMSG_01", "shared"}, {"ERMSG_02", "unused"}});
    f.Put32(f.entries[0][1] + kTextField, f.Get32(f.entries[0][0] + kTextField));
    Load(f);
    EXPECT_EQ(Text(1), "shared");
    EXPECT_EQ(Text(2), "shared");
    EXPECT_NE(SPRINST_GetErrorMsg(1), SPRINST_GetErrorMsg(2));
}

}  // namespace
}  // namespace settings_test
