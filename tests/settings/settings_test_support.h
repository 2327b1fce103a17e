// Shared by the TRIVSETS tests: a builder for driver data files (valid ones,
// and the bytes to patch into hostile ones), a temporary directory, and a
// fixture that leaves the message table empty and checks that every block
// and file handle was released.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "error_messages.h"
#include "standin.h"
#include "../support/standin_test_support.h"
#include "trivsets.h"

namespace settings_test {

using Bytes = std::vector<uint8_t>;

// Field offsets: in the header, from a SectionRecord (its SectionInfo
// follows at +52), and in a MessageEntry.
constexpr uint32_t kLimitField = 4;
constexpr uint32_t kFirstEntryField = 32;
constexpr uint32_t kNextRecordField = 48;
constexpr uint32_t kCountField = 52;
constexpr uint32_t kKeyField = 0;
constexpr uint32_t kTextField = 4;
constexpr uint32_t kNextEntryField = 12;

constexpr uint32_t kSectionStride = 64;  // SectionRecord + SectionInfo
constexpr uint32_t kEntrySize = 16;
constexpr char kMessageSection[] = "DDFUM_ErrMsg";

struct Message {
    std::string key;
    std::string text;
};

struct Section {
    std::string name;
    std::vector<Message> messages;
};

// A data file in the layout the project writes: header, section records
// from offset 8 (the last one's next is the limit), entries, then strings.
struct TdfFile {
    Bytes bytes;
    std::vector<uint32_t> records;               // each section's SectionRecord
    std::vector<std::vector<uint32_t>> entries;  // each section's MessageEntries

    uint32_t Size() const { return static_cast<uint32_t>(bytes.size()); }
    uint32_t Get32(uint32_t at) const {
        return bytes.at(at) | bytes.at(at + 1) << 8 | bytes.at(at + 2) << 16 |
               static_cast<uint32_t>(bytes.at(at + 3)) << 24;
    }
    void Put32(uint32_t at, uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
    }
    // Raw bytes at the end of the file; their offset.
    uint32_t Append(std::string_view raw) {
        uint32_t at = Size();
        bytes.insert(bytes.end(), raw.begin(), raw.end());
        return at;
    }
    uint32_t AppendString(std::string_view s) {
        uint32_t at = Append(s);
        bytes.push_back(0);
        return at;
    }
};

inline TdfFile BuildTdf(const std::vector<Section> &sections) {
    TdfFile f;
    uint32_t limit = 8 + kSectionStride * static_cast<uint32_t>(sections.size());
    f.bytes.assign({'T', 'D', 'F', 1, 0, 0, 0, 0});
    f.bytes.resize(limit);
    f.Put32(kLimitField, limit);
    for (size_t i = 0; i < sections.size(); ++i) {
        uint32_t at = 8 + kSectionStride * static_cast<uint32_t>(i);
        f.records.push_back(at);
        const std::string &name = sections[i].name;
        std::copy(name.begin(), name.begin() + std::min<size_t>(name.size(), 32),
                  f.bytes.begin() + at);
        f.Put32(at + kNextRecordField, at + kSectionStride);  // the last one's: the limit
        f.Put32(at + kCountField, static_cast<uint32_t>(sections[i].messages.size()));
    }
    // Entries first, so that the strings after them can be appended.
    for (size_t i = 0; i < sections.size(); ++i) {
        std::vector<uint32_t> at;
        for (size_t j = 0; j < sections[i].messages.size(); ++j) {
            at.push_back(f.Size());
            f.bytes.resize(f.Size() + kEntrySize);
        }
        if (!at.empty()) f.Put32(f.records[i] + kFirstEntryField, at.front());
        for (size_t j = 0; j + 1 < at.size(); ++j) f.Put32(at[j] + kNextEntryField, at[j + 1]);
        f.entries.push_back(at);
    }
    for (size_t i = 0; i < sections.size(); ++i) {
        for (size_t j = 0; j < sections[i].messages.size(); ++j) {
            const Message &m = sections[i].messages[j];
            f.Put32(f.entries[i][j] + kKeyField, f.AppendString(m.key));
            f.Put32(f.entries[i][j] + kTextField, f.AppendString(m.text));
        }
    }
    return f;
}

inline TdfFile MessageFile(const std::vector<Message> &messages) {
    return BuildTdf({{kMessageSection, messages}});
}

// The key and the text of table index 0..15 in the files the tests build.
inline std::string KeyOf(int index) {
    if (index == kFallbackMessage) return "ERMSG_XX";
    return std::string("ERMSG_") + static_cast<char>('0' + index / 10) +
           static_cast<char>('0' + index % 10);
}
inline std::string TextOf(int index) {
    return index == kFallbackMessage ? "general message" : "message " + KeyOf(index).substr(6);
}

// All 16 messages, in table order.
inline std::vector<Message> AllMessages() {
    std::vector<Message> all;
    for (int i = 0; i < kErrorMessageCount; ++i) all.push_back({KeyOf(i), TextOf(i)});
    return all;
}

// The text served for a result; never null.
inline std::string Text(int32_t result) {
    const char *text = SPRINST_GetErrorMsg(result);
    EXPECT_NE(text, nullptr) << "result " << result;
    return text ? text : "<null>";
}

// The texts served for results 0..15.
inline std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (int32_t i = 0; i < kErrorMessageCount; ++i) texts.push_back(Text(i));
    return texts;
}

// How a loaded text may differ from the file's under faults or truncation.
enum class Loaded {
    Whole,         // exactly the file's text
    WholeOrEmpty,  // or empty, when its read failed
    Prefix,        // any beginning of it: the file ended inside the string
};

// Checks the whole table after a load of AllMessages(): a loaded text is the
// file's (as far as `how` allows), an index without one gives the general
// text (or "" without that), every result above 14 gives the general text.
// Returns how many texts are loaded.
inline int ExpectConsistentTable(Loaded how) {
    const char *general = SPRINST_GetErrorMsg(kFallbackMessage);
    if (general == nullptr) {
        ADD_FAILURE() << "null general text";
        return -1;
    }
    int loaded = 0;
    for (int i = 0; i < kErrorMessageCount; ++i) {
        const char *table = ErrorMessageTable[i].text;
        const char *served = SPRINST_GetErrorMsg(i);
        EXPECT_NE(served, nullptr) << "result " << i;
        if (table == nullptr) {
            if (i == kFallbackMessage)
                EXPECT_STREQ(general, "");
            else
                EXPECT_EQ(served, general) << "result " << i;
            continue;
        }
        ++loaded;
        EXPECT_EQ(served, i == kFallbackMessage ? general : table) << "result " << i;
        std::string text = table, file = TextOf(i);
        switch (how) {
            case Loaded::Whole: EXPECT_EQ(text, file) << "result " << i; break;
            case Loaded::WholeOrEmpty:
                EXPECT_TRUE(text.empty() || text == file) << "result " << i << ": " << text;
                break;
            case Loaded::Prefix:
                EXPECT_EQ(file.compare(0, text.size(), text), 0) << "result " << i << ": " << text;
                break;
        }
    }
    for (int32_t result : {16, 99, 1000, -1}) EXPECT_EQ(SPRINST_GetErrorMsg(result), general);
    return loaded;
}

using TempDir = standin_test::TempDir;

// Starts and ends every test with an empty table, no injected faults and
// nothing live in the stand-in.
class MessageTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        FreeErrorMessages();
        Standin_Reset();
        StandinLive live = Standin_Live();
        ASSERT_EQ(live.files, 0);
        ASSERT_EQ(live.blocks, 0);
    }
    void TearDown() override {
        FreeErrorMessages();
        Standin_Reset();
        StandinLive live = Standin_Live();
        EXPECT_EQ(live.files, 0) << "file handles left open";
        EXPECT_EQ(live.blocks, 0) << "memory blocks left allocated";
    }

    std::string Write(const Bytes &bytes) { return dir_.Write("TRIVDATA.TDF", bytes); }
    void Load(const Bytes &bytes) { LoadErrorMessageFile(Write(bytes).c_str()); }
    void Load(const TdfFile &file) { Load(file.bytes); }
    // Frees what a load left, and clears faults and counters, for the next load.
    void Unload() {
        FreeErrorMessages();
        Standin_Reset();
    }

    TempDir dir_;
};

}  // namespace settings_test
