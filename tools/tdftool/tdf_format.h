// The driver data file TRIVDATA.TDF as this project writes it (its layout:
// tdf_layout.h, shared with the library), and the text form it is written
// from.
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

#include "tdf_layout.h"

namespace tdf {

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
