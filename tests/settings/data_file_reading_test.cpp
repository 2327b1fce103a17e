// How the driver data file is read: held in memory, or through its handle
// when it cannot be; short and failing reads; every allocation failure; and
// the reader's own operations on a file.

#include <stdint.h>
#include <string.h>

#include <ostream>
#include <string>
#include <vector>

#include "driver_data_file.h"
#include "settings_test_support.h"

namespace settings_test {
namespace {

using DataFileReading = MessageTableTest;

// A file with all 16 messages and some that must not be taken: a later
// duplicate, an unknown key, a key in lower case.
TdfFile RichFile() {
    std::vector<Message> messages = AllMessages();
    messages[3].key = "ermsg_03";
    messages.insert(messages.begin() + 5, {"ERMSG_02", "duplicate"});
    messages.insert(messages.begin() + 9, {"ERMSG_99", "unknown"});
    return BuildTdf(
        {{"DDFUM_Other", {{"ERMSG_01", "other section"}}}, {kMessageSection, messages}});
}

// ---------------------------------------------------------------------------
// Files that give nothing

TEST_F(DataFileReading, MissingFileLoadsNothing) {
    LoadErrorMessageFile((dir_.Path() + "/TRIVDATA.TDF").c_str());
    EXPECT_EQ(Standin_Calls(StandinCreateFile), 1);
    EXPECT_EQ(Standin_Live().blocks, 0);
    EXPECT_EQ(Text(0), "");
}

TEST_F(DataFileReading, EmptyFileLoadsNothingAndIsNotHeldInMemory) {
    Load(Bytes{});
    EXPECT_EQ(Standin_Calls(StandinGlobalAlloc), 1) << "only the record";
    EXPECT_EQ(Text(0), "");
}

// ---------------------------------------------------------------------------
// Reading through the handle, and short reads, give what memory gives

struct ReadSetup {
    const char *name;
    void (*inject)();

    friend void PrintTo(const ReadSetup &setup, std::ostream *out) { *out << setup.name; }
};

class ReadPath : public MessageTableTest, public ::testing::WithParamInterface<ReadSetup> {};

TEST_P(ReadPath, GivesTheSameTextsAsTheFileInMemory) {
    TdfFile f = RichFile();
    Load(f);
    std::vector<std::string> expected = Texts();
    ASSERT_EQ(Standin_Live().blocks, kErrorMessageCount);
    Unload();

    GetParam().inject();
    Load(f);
    EXPECT_EQ(Texts(), expected);
    EXPECT_EQ(Standin_Live().files, 0);
}

INSTANTIATE_TEST_SUITE_P(
    DataFileReading, ReadPath,
    ::testing::Values(ReadSetup{"ContentsBlockFails",
                                [] { Standin_FailNth(StandinGlobalAlloc, 2); }},
                      ReadSetup{"SizeUnknown", [] { Standin_FailAlways(StandinGetFileSize, 1); }},
                      ReadSetup{"WholeReadFails", [] { Standin_FailNth(StandinReadFile, 1); }},
                      ReadSetup{"WholeReadFailsAfterSomeBytes",
                                [] {
                                    Standin_ReadChunk(100);
                                    Standin_FailNth(StandinReadFile, 3);
                                }},
                      ReadSetup{"OneByteReads", [] { Standin_ReadChunk(1); }},
                      ReadSetup{"OneByteReadsThroughHandle",
                                [] {
                                    Standin_ReadChunk(1);
                                    Standin_FailNth(StandinGlobalAlloc, 2);
                                }},
                      ReadSetup{"ShortReadsSizeUnknown",
                                [] {
                                    Standin_ReadChunk(7);
                                    Standin_FailAlways(StandinGetFileSize, 1);
                                }}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Every failure position: the table stays consistent and nothing leaks

TEST_F(DataFileReading, EveryAllocationFailureLeavesAConsistentTable) {
    Load(MessageFile(AllMessages()));
    int allocations = Standin_Calls(StandinGlobalAlloc);
    ASSERT_EQ(allocations, 2 + kErrorMessageCount);  // record, contents, 16 texts
    Unload();

    for (int n = 1; n <= allocations; ++n) {
        SCOPED_TRACE("allocation " + std::to_string(n) + " fails");
        Standin_FailNth(StandinGlobalAlloc, n);
        Load(MessageFile(AllMessages()));
        EXPECT_EQ(Standin_Live().files, 0);
        int loaded = ExpectConsistentTable(Loaded::Whole);
        // The record: nothing is opened. The contents: read through the
        // handle instead. A text: only that one is missing.
        if (n == 1) EXPECT_EQ(Standin_Calls(StandinCreateFile), 0);
        int expected = n == 1 ? 0 : n == 2 ? kErrorMessageCount : kErrorMessageCount - 1;
        EXPECT_EQ(loaded, expected);
        if (n > 2) EXPECT_EQ(ErrorMessageTable[n - 3].text, nullptr);
        FreeErrorMessages();
        ASSERT_EQ(Standin_Live().blocks, 0);
        Standin_Reset();
    }
}

TEST_F(DataFileReading, EveryReadFailureThroughTheHandleLeavesAConsistentTable) {
    Standin_FailNth(StandinGlobalAlloc, 2);
    Load(MessageFile(AllMessages()));
    int reads = Standin_Calls(StandinReadFile);
    Unload();

    for (int n = 1; n <= reads; ++n) {
        SCOPED_TRACE("read " + std::to_string(n) + " fails");
        Standin_FailNth(StandinGlobalAlloc, 2);
        Standin_FailNth(StandinReadFile, n);
        Load(MessageFile(AllMessages()));
        EXPECT_EQ(Standin_Live().files, 0);
        ExpectConsistentTable(Loaded::WholeOrEmpty);
        FreeErrorMessages();
        ASSERT_EQ(Standin_Live().blocks, 0);
        Standin_Reset();
    }
}

TEST_F(DataFileReading, ReadFailureAmidShortReadsLeavesAConsistentTable) {
    for (int n = 1; n <= 400; n += 7) {
        SCOPED_TRACE("read " + std::to_string(n) + " fails");
        Standin_FailNth(StandinGlobalAlloc, 2);
        Standin_FailNth(StandinReadFile, n);
        Standin_ReadChunk(3);
        Load(MessageFile(AllMessages()));
        ExpectConsistentTable(Loaded::WholeOrEmpty);
        Unload();
        ASSERT_EQ(Standin_Live().blocks, 0);
        ASSERT_EQ(Standin_Live().files, 0);
    }
}

// ---------------------------------------------------------------------------
// The reader's operations

class DriverDataFileTest : public MessageTableTest {
protected:
    DriverDataFile *Open(const Bytes &bytes) { return OpenDriverDataFile(Write(bytes).c_str()); }
};

TEST_F(DriverDataFileTest, HoldsTheWholeFileOrReadsThroughTheHandle) {
    Bytes bytes(100, 'x');
    DriverDataFile *file = Open(bytes);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(file->contents, nullptr);
    EXPECT_EQ(file->size, 100u);
    EXPECT_EQ(Standin_Live().files, 1);
    CloseDriverDataFile(file);
    EXPECT_EQ(Standin_Live().files, 0);
    EXPECT_EQ(Standin_Live().blocks, 0);

    Standin_FailNth(StandinGlobalAlloc, 2);  // the contents
    file = Open(bytes);
    EXPECT_EQ(file->contents, nullptr);
    EXPECT_EQ(file->size, 0u);
    CloseDriverDataFile(file);

    Standin_FailNth(StandinReadFile, 1);  // the whole read: the size stays known
    file = Open(bytes);
    EXPECT_EQ(file->contents, nullptr);
    EXPECT_EQ(file->size, 100u);
    CloseDriverDataFile(file);
}

TEST_F(DriverDataFileTest, PathCopyIsAlwaysTerminated) {
    // A path of 300 characters to a file that exists (Linux allows it).
    if (dir_.Path().size() > 100) GTEST_SKIP() << "temporary directory path too long";
    std::string sub = std::string(150, 'd') + "/" + std::string(142 - dir_.Path().size(), 'e');
    ASSERT_TRUE(std::filesystem::create_directories(dir_.Path() + "/" + sub));
    std::string path = dir_.Write(sub + "/x.tdf", Bytes(10, 'x'));
    ASSERT_EQ(path.size(), 300u);
    DriverDataFile *file = OpenDriverDataFile(path.c_str());
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(std::string(file->path), path.substr(0, MAX_PATH - 1));
    CloseDriverDataFile(file);
}

TEST_F(DriverDataFileTest, ReadDataAtCopiesWhatTheFileHolds) {
    Bytes bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (bool throughHandle : {false, true}) {
        SCOPED_TRACE(throughHandle ? "through the handle" : "in memory");
        if (throughHandle) Standin_FailNth(StandinGlobalAlloc, 2);
        DriverDataFile *file = Open(bytes);
        uint8_t got[8] = {};
        EXPECT_EQ(ReadDataAt(file, got, 4, 2), 4);
        EXPECT_EQ(got[0], 3);
        EXPECT_EQ(got[3], 6);
        EXPECT_EQ(ReadDataAt(file, got, 8, 7), 3);
        EXPECT_EQ(got[2], 10);
        EXPECT_EQ(ReadDataAt(file, got, 8, 10), 0);
        EXPECT_EQ(ReadDataAt(file, got, 8, 0xFFFFFFFFu), 0);
        if (throughHandle) {
            Standin_FailNth(StandinReadFile, 1);
            EXPECT_EQ(ReadDataAt(file, got, 4, 0), -1);
            Standin_FailNth(StandinSetFilePointer, 1);
            EXPECT_EQ(ReadDataAt(file, got, 4, 0), 0);
        }
        CloseDriverDataFile(file);
        Standin_Reset();
    }
}

TEST_F(DriverDataFileTest, ReadDataStringNeedsItsNulWithinTheCapacity) {
    TdfFile f;
    uint32_t at = f.AppendString(std::string(9, 's'));  // 10 bytes with the NUL
    DriverDataFile *file = Open(f.bytes);
    char got[300];

    memset(got, '#', sizeof got);
    EXPECT_EQ(ReadDataString(file, at, got, 10), 1);
    EXPECT_STREQ(got, "sssssssss");

    memset(got, '#', sizeof got);
    EXPECT_EQ(ReadDataString(file, at, got, 9), 0);
    EXPECT_EQ(got[0], '#') << "a failed read leaves the destination untouched";

    memset(got, '#', sizeof got);
    EXPECT_EQ(ReadDataString(file, at + 9, got, 1), 1);
    EXPECT_STREQ(got, "");
    CloseDriverDataFile(file);

    TdfFile big;
    at = big.AppendString(std::string(290, 'b'));  // 291 bytes with the NUL
    file = Open(big.bytes);
    memset(got, '#', sizeof got);
    EXPECT_EQ(ReadDataString(file, at, got, 300), 0) << "the capacity stops at 290";
    EXPECT_EQ(got[0], '#');
    CloseDriverDataFile(file);
}

TEST_F(DriverDataFileTest, RecordReadsZeroFillWhatTheFileDoesNotHold) {
    TdfFile f;
    f.Append(std::string(20, '\x11'));
    f.Append("\x01\x02\x03\x04\x05\x06");  // 6 bytes: a cut MessageEntry
    DriverDataFile *file = Open(f.bytes);

    MessageEntry entry;
    memset(&entry, 0xEE, sizeof entry);
    EXPECT_EQ(ReadMessageEntry(file, 20, &entry), 1);
    EXPECT_EQ(entry.keyOffset, 0x04030201u);
    EXPECT_EQ(entry.textOffset, 0x0605u);
    EXPECT_EQ(entry.nextEntry, 0u);
    EXPECT_EQ(ReadMessageEntry(file, 26, &entry), 1) << "past the end is no failure";
    EXPECT_EQ(entry.keyOffset | entry.textOffset | entry.nextEntry, 0u);

    SectionInfo info;
    EXPECT_EQ(ReadSectionInfo(file, 24, &info), 1);
    EXPECT_EQ(info.count, 0x0605u);
    EXPECT_EQ(ReadSectionInfo(file, 26, &info), 0);
    EXPECT_EQ(info.count, 0u);

    SectionRecord record;
    EXPECT_EQ(ReadSectionRecord(file, 0, &record), 0) << "offset 0 is the header";
    EXPECT_EQ(record.firstEntry | record.nextRecord, 0u);
    EXPECT_EQ(record.name[0], 0);
    EXPECT_EQ(ReadSectionRecord(file, 1, &record), 1);
    EXPECT_EQ(ReadSectionRecord(file, 26, &record), 0);
    CloseDriverDataFile(file);
}

TEST_F(DriverDataFileTest, RecordReadFailingMidwayLeavesItAllZero) {
    TdfFile f;
    f.Append(std::string(32, '\x22'));
    Standin_FailNth(StandinGlobalAlloc, 2);
    DriverDataFile *file = Open(f.bytes);
    Standin_ReadChunk(4);
    Standin_FailNth(StandinReadFile, 2);  // after the first 4 bytes arrived
    MessageEntry entry;
    memset(&entry, 0xEE, sizeof entry);
    EXPECT_EQ(ReadMessageEntry(file, 0, &entry), 0);
    EXPECT_EQ(entry.keyOffset | entry.textOffset | entry.nextEntry, 0u);
    CloseDriverDataFile(file);
}

}  // namespace
}  // namespace settings_test
