// The driver data file TRIVDATA.TDF as this project writes it, and the text
// form it is written from. docs/tdf-format.md draws the layout.
//
//   ParseMessages   text form -> Messages, with errors and warnings by line
//   BuildDataFile   Messages -> the bytes of a data file
//   DumpDataFile    any bytes -> a listing, with every structural fault found
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tdf {

// Record sizes. A section is a 52-byte SectionRecord followed by its 12-byte
// SectionInfo, so the section records lie 64 bytes apart.
constexpr uint32_t kHeaderSize = 8;
constexpr uint32_t kSectionRecordSize = 52;
constexpr uint32_t kSectionInfoSize = 12;
constexpr uint32_t kSectionSize = kSectionRecordSize + kSectionInfoSize;
constexpr uint32_t kEntrySize = 16;

// Field offsets within the records.
constexpr uint32_t kHeaderLimit = 4;
constexpr uint32_t kRecordFirstEntry = 32;
constexpr uint32_t kRecordBytes = 36;
constexpr uint32_t kRecordNext = 48;
constexpr uint32_t kInfoCount = 0;
constexpr uint32_t kInfoVersion = 4;
constexpr uint32_t kEntryKey = 0;
constexpr uint32_t kEntryText = 4;
constexpr uint32_t kEntryLength = 8;
constexpr uint32_t kEntryNext = 12;

// Lengths in bytes without the NUL. The reader copies names from a 32-byte
// field, keys into a 128-byte buffer and texts into a 290-byte block.
constexpr size_t kMaxNameLength = 31;
constexpr size_t kMaxKeyLength = 127;
constexpr size_t kMaxTextLength = 289;

constexpr uint8_t kMagic[4] = {'T', 'D', 'F', 0x01};
constexpr uint32_t kFormatVersion = 1;

struct Entry {
    std::string key;
    std::string text;
    int line = 0;  // in the text form; 0 when made in code
};

struct Section {
    std::string name;
    std::vector<Entry> entries;
    int line = 0;
};

struct Messages {
    std::vector<Section> sections;
};

// One error or warning of ParseMessages, at a 1-based line.
struct Diagnostic {
    int line;
    std::string message;
};

// Reads the text form: "# comment" and blank lines, "[SectionName]" and
// "KEY=text". Texts are taken byte for byte (only a line's trailing CR is
// dropped). Every error is collected; the result is true when there is none,
// and then messages holds the sections in file order. Warnings (duplicate
// keys or sections, blanks around a key) never fail the parse.
bool ParseMessages(std::string_view input, Messages *messages, std::vector<Diagnostic> *errors,
                   std::vector<Diagnostic> *warnings);

// The file image for messages: header, section records, entries, strings.
// Fails (false, with a reason) only for names, keys or texts over their
// limits or a total that 32-bit offsets cannot reach.
bool BuildDataFile(const Messages &messages, std::vector<uint8_t> *file, std::string *error);

// Receives the listing one line at a time, without the line break.
using DumpLine = std::function<void(std::string_view line)>;

// Lists the header, every section reached through the chain from offset 8 and
// its entries as "  KEY=text", and reports each structural fault met on the
// way as a line "fault: ...". Returns the number of faults. Reads nothing
// outside data[0, size) and visits each section and entry offset at most
// once, so the walk ends whatever the bytes hold. Control bytes in names,
// keys and texts are shown as \xHH; all other bytes as they are.
size_t DumpDataFile(const uint8_t *data, size_t size, const DumpLine &emit);

}  // namespace tdf
