// Text form, builder and dumper of the driver data file (docs/tdf-format.md).

#include "tdf_format.h"

#include <string.h>

#include <unordered_map>
#include <unordered_set>

namespace tdf {

namespace {

// --- Shared helpers -----------------------------------------------------------

// The library compares names and keys with _strnicmp in the C locale, so
// only ASCII letters fold.
char FoldCase(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Folded(std::string_view s) {
    std::string out(s);
    for (char &c : out) c = FoldCase(c);
    return out;
}

std::string Num(uint64_t value) { return std::to_string(value); }

// --- Text form ----------------------------------------------------------------

bool IsBlankLine(std::string_view line) {
    return line.find_first_not_of(" \t") == std::string_view::npos;
}

bool HasBlankEnds(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    return !s.empty() && (blank(s.front()) || blank(s.back()));
}

class Parser {
public:
    Parser(Messages *messages, std::vector<Diagnostic> *errors, std::vector<Diagnostic> *warnings)
        : messages_(messages), errors_(errors), warnings_(warnings) {}

    void At(int number) { line_ = number; }

    void Line(int number, std::string_view line) {
        line_ = number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (IsBlankLine(line) || line.front() == '#') return;
        if (line.find('\0') != std::string_view::npos) {
            Error("NUL byte in the line; names, keys and texts are NUL-terminated in the file");
        } else if (line.front() == '[') {
            SectionLine(line);
        } else {
            EntryLine(line);
        }
    }

    void Error(std::string message) { errors_->push_back({line_, std::move(message)}); }

private:
    void Warning(std::string message) { warnings_->push_back({line_, std::move(message)}); }

    void SectionLine(std::string_view line) {
        std::string_view name = line.substr(1);
        if (name.empty() || name.back() != ']') {
            Error("a section line is [SectionName], with ']' as its last character");
        } else {
            name.remove_suffix(1);
            if (name.empty()) {
                Error("empty section name");
            } else if (name.size() > kMaxNameLength) {
                Error("section name is " + Num(name.size()) + " bytes; at most " +
                      Num(kMaxNameLength) + " fit the 32-byte name field with its NUL");
            } else if (name.find_first_of("[]") != std::string_view::npos) {
                Error("section name contains '[' or ']'");
            }
        }
        // A section is opened even after an error, so that its entries are
        // still checked and not all reported as lying outside any section.
        auto [seen, fresh] = sectionLines_.emplace(Folded(name), line_);
        if (!fresh) {
            Warning("section [" + std::string(name) + "] appears again (first at line " +
                    Num(seen->second) + "); the library finds only the first");
        }
        messages_->sections.push_back({std::string(name), {}, line_});
        keyLines_.clear();
    }

    void EntryLine(std::string_view line) {
        size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            Error("expected [SectionName], KEY=text or a # comment");
            return;
        }
        if (messages_->sections.empty()) {
            Error("KEY=text before the first [SectionName]");
            return;
        }
        std::string_view key = line.substr(0, equals);
        std::string_view text = line.substr(equals + 1);
        if (key.empty()) {
            Error("empty key before '='");
        } else if (key.size() > kMaxKeyLength) {
            Error("key is " + Num(key.size()) + " bytes; at most " + Num(kMaxKeyLength) +
                  " fit the library's 128-byte key buffer with its NUL");
        }
        if (text.size() > kMaxTextLength) {
            Error("text is " + Num(text.size()) + " bytes; at most " + Num(kMaxTextLength) +
                  " fit the library's 290-byte message block with its NUL");
        }
        if (HasBlankEnds(key)) {
            Warning("key '" + std::string(key) +
                    "' begins or ends with a blank, which is part of the key");
        }
        Section &section = messages_->sections.back();
        auto [seen, fresh] = keyLines_.emplace(Folded(key), line_);
        if (!fresh) {
            Warning("key " + std::string(key) + " appears again in [" + section.name +
                    "] (first at line " + Num(seen->second) + "); the library takes the first");
        }
        section.entries.push_back({std::string(key), std::string(text), line_});
    }

    Messages *messages_;
    std::vector<Diagnostic> *errors_;
    std::vector<Diagnostic> *warnings_;
    int line_ = 0;
    // Case-folded, as the library compares them, with the line first seen.
    std::unordered_map<std::string, int> sectionLines_;
    std::unordered_map<std::string, int> keyLines_;
};

// --- Builder ------------------------------------------------------------------

void Put32(std::vector<uint8_t> *file, uint64_t at, uint64_t value) {
    for (int i = 0; i < 4; ++i) (*file)[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

void PutBytes(std::vector<uint8_t> *file, uint64_t at, std::string_view bytes) {
    if (!bytes.empty()) memcpy(file->data() + at, bytes.data(), bytes.size());
}

bool CheckString(std::string_view what, std::string_view s, size_t max, std::string *error) {
    if (s.empty() || s.size() > max || s.find('\0') != std::string_view::npos) {
        *error = std::string(what) + " '" + std::string(s.substr(0, 40)) + "' must be 1 to " +
                 Num(max) + " bytes without NUL";
        return false;
    }
    return true;
}

// --- Dumper -------------------------------------------------------------------

// Names, keys and texts go into the listing as they are, except control
// bytes, which would break or garble the lines.
std::string Shown(const uint8_t *bytes, size_t count) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        uint8_t b = bytes[i];
        if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += static_cast<char>(b);
        }
    }
    return out;
}

enum class StringRead { kWhole, kPastEnd, kNoNulBeforeEnd, kNoNulWithinCapacity };

// Keys and texts are both read with the text capacity, 290 bytes, so that an
// oversize key is reported with its length.
constexpr size_t kStringCapacity = kMaxTextLength + 1;

class Walker {
public:
    Walker(const uint8_t *data, size_t size, const DumpLine &emit)
        : data_(data), size_(size), emit_(emit) {}

    size_t Run() {
        if (size_ < kHeaderSize) {
            Fault("file is " + Num(size_) + " bytes, shorter than the 8-byte header");
            Summary();
            return faults_;
        }
        uint32_t limit = U32(kHeaderLimit);
        emit_("header: magic '" + Shown(data_, 4) + "', limit " + Num(limit) + ", file size " +
              Num(size_));
        if (size_ > UINT32_MAX) Fault("file is larger than 32-bit offsets can reach");
        if (limit > size_) {
            Fault("limit " + Num(limit) + " lies past the end of the file (" + Num(size_) +
                  " bytes)");
        }
        if (limit < kHeaderSize) {
            Fault("limit " + Num(limit) + " lies inside the header, below the first record at 8");
        }
        WalkSections(limit);
        Summary();
        return faults_;
    }

private:
    bool Has(uint64_t at, uint64_t count) const { return at <= size_ && count <= size_ - at; }

    // A little-endian number; bytes past the end of the file count as zero,
    // as they do for the library's partial reads.
    uint32_t U32(uint64_t at) const {
        uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            if (Has(at + i, 1)) value |= static_cast<uint32_t>(data_[at + i]) << (8 * i);
        }
        return value;
    }

    void Fault(const std::string &message) {
        ++faults_;
        emit_("fault: " + message);
    }

    void Summary() {
        emit_(Num(sections_) + (sections_ == 1 ? " section, " : " sections, ") + Num(entries_) +
              (entries_ == 1 ? " entry, " : " entries, ") +
              (faults_ == 0 ? std::string("no faults")
                            : Num(faults_) + (faults_ == 1 ? " fault" : " faults")));
    }

    // The chain from offset 8: a next offset at or above the limit ends it.
    void WalkSections(uint32_t limit) {
        std::unordered_set<uint32_t> visited;
        uint32_t at = kHeaderSize;
        while (at < limit) {
            if (at < kHeaderSize) {
                Fault("section chain leaves the area below the limit: next record at " + Num(at) +
                      " lies inside the header");
                return;
            }
            if (!visited.insert(at).second) {
                Fault("section chain loops back to the record at " + Num(at));
                return;
            }
            if (!Has(at, kSectionRecordSize)) {
                Fault("section record at " + Num(at) + " runs past the end of the file (" +
                      Num(size_) + " bytes)");
                return;
            }
            if (uint64_t{at} + kSectionSize > limit) {
                Fault("section at " + Num(at) + " ends at " + Num(uint64_t{at} + kSectionSize) +
                      ", past the limit " + Num(limit));
            }
            ++sections_;
            uint32_t next = Section(at);
            if (next >= limit) return;
            at = next;
        }
    }

    // Lists one section and its entries; returns its next-record offset.
    uint32_t Section(uint64_t at) {
        const uint8_t *name = data_ + at;
        const void *nul = memchr(name, 0, kMaxNameLength + 1);
        size_t nameLength = nul ? static_cast<const uint8_t *>(nul) - name : kMaxNameLength + 1;
        if (!nul) Fault("section at " + Num(at) + ": name has no NUL within its 32 bytes");

        uint64_t info = at + kSectionRecordSize;
        if (!Has(info, kSectionInfoSize)) {
            Fault("section at " + Num(at) + ": its SectionInfo at " + Num(info) +
                  " runs past the end of the file (" + Num(size_) + " bytes)");
        }
        uint32_t first = U32(at + kRecordFirstEntry);
        uint32_t count = U32(info + kInfoCount);
        emit_("section at " + Num(at) + ": [" + Shown(name, nameLength) + "] " + Num(count) +
              (count == 1 ? " entry" : " entries") + ", first entry at " + Num(first) +
              ", entry bytes " + Num(U32(at + kRecordBytes)) + ", next at " +
              Num(U32(at + kRecordNext)) + ", version " + Num(U32(info + kInfoVersion)));
        WalkEntries(at, first, count);
        return U32(at + kRecordNext);
    }

    // Visits count entries, as the library does. An offset of 0 ends the
    // chain early (the library would go on and read the header as an entry).
    // Each entry offset is visited once in the whole walk, which ends loops
    // and bounds the work by the file size even for chains that join.
    void WalkEntries(uint32_t section, uint64_t at, uint32_t count) {
        std::string where = "section at " + Num(section) + ": ";
        for (uint32_t i = 0; i < count; ++i) {
            if (at == 0) {
                Fault(where + "entry chain ends after " + Num(i) + " of " + Num(count) +
                      " entries");
                return;
            }
            auto [owner, fresh] = entryOwners_.emplace(static_cast<uint32_t>(at), section);
            if (!fresh) {
                if (owner->second == section) {
                    Fault(where + "entry chain loops back to the entry at " + Num(at) + " after " +
                          Num(i) + " entries");
                } else {
                    Fault(where + "entry chain joins that of the section at " + Num(owner->second) +
                          " at the entry at " + Num(at));
                }
                return;
            }
            if (!Has(at, kEntrySize)) {
                Fault(where + "entry at " + Num(at) + " runs past the end of the file (" +
                      Num(size_) + " bytes)");
                return;
            }
            ++entries_;
            std::string entry = "entry at " + Num(at) + ": ";
            std::string key = String(where + entry + "key", U32(at + kEntryKey), kMaxKeyLength);
            std::string text = String(where + entry + "text", U32(at + kEntryText), kMaxTextLength);
            emit_("  " + key + "=" + text);
            at = U32(at + kEntryNext);
        }
    }

    // The string at offset, shown; faults if it has no NUL in reach or is
    // longer than max bytes.
    std::string String(const std::string &what, uint32_t at, size_t max) {
        if (!Has(at, 1)) {
            Fault(what + " offset " + Num(at) + " lies past the end of the file (" + Num(size_) +
                  " bytes)");
            return std::string();
        }
        size_t reach = size_ - at < kStringCapacity ? size_ - at : kStringCapacity;
        const void *nul = memchr(data_ + at, 0, reach);
        size_t length = nul ? static_cast<const uint8_t *>(nul) - (data_ + at) : reach;
        if (!nul && reach < kStringCapacity) {
            Fault(what + " at " + Num(at) + " has no NUL before the end of the file");
        } else if (!nul) {
            Fault(what + " at " + Num(at) + " has no NUL within " + Num(kStringCapacity) +
                  " bytes (longer than " + Num(max) + ")");
        } else if (length > max) {
            Fault(what + " at " + Num(at) + " is " + Num(length) + " bytes, longer than " +
                  Num(max));
        }
        return Shown(data_ + at, length);
    }

    const uint8_t *data_;
    size_t size_;
    const DumpLine &emit_;
    size_t faults_ = 0;
    size_t sections_ = 0;
    size_t entries_ = 0;
    std::unordered_map<uint32_t, uint32_t> entryOwners_;  // entry offset -> its section
};

}  // namespace

bool ParseMessages(std::string_view input, Messages *messages, std::vector<Diagnostic> *errors,
                   std::vector<Diagnostic> *warnings) {
    messages->sections.clear();
    size_t errorsBefore = errors->size();
    Parser parser(messages, errors, warnings);

    int number = 1;
    if (input.substr(0, 3) == "\xEF\xBB\xBF") {
        parser.At(number);
        parser.Error("the file starts with a UTF-8 byte order mark; save it as ANSI text");
        input.remove_prefix(3);
    }
    while (!input.empty()) {
        size_t end = input.find('\n');
        parser.Line(number++, input.substr(0, end));
        input.remove_prefix(end == std::string_view::npos ? input.size() : end + 1);
    }
    return errors->size() == errorsBefore;
}

bool BuildDataFile(const Messages &messages, std::vector<uint8_t> *file, std::string *error) {
    // Sizes in 64 bits first: only a total below 4 GiB can be addressed.
    uint64_t entryCount = 0, stringBytes = 0;
    for (const Section &section : messages.sections) {
        if (!CheckString("section name", section.name, kMaxNameLength, error)) return false;
        for (const Entry &entry : section.entries) {
            if (!CheckString("key", entry.key, kMaxKeyLength, error)) return false;
            if (entry.text.size() > kMaxTextLength || entry.text.find('\0') != std::string::npos) {
                *error = "text of key " + entry.key + " must be 0 to " + Num(kMaxTextLength) +
                         " bytes without NUL";
                return false;
            }
            ++entryCount;
            stringBytes += entry.key.size() + 1 + entry.text.size() + 1;
        }
    }
    uint64_t limit = kHeaderSize + uint64_t{kSectionSize} * messages.sections.size();
    uint64_t entriesAt = limit;
    uint64_t stringsAt = entriesAt + kEntrySize * entryCount;
    uint64_t total = stringsAt + stringBytes;
    if (total > UINT32_MAX) {
        *error = "the data file would be " + Num(total) + " bytes; 32-bit offsets reach 4 GiB";
        return false;
    }

    file->assign(total, 0);
    PutBytes(file, 0, std::string_view(reinterpret_cast<const char *>(kMagic), 4));
    Put32(file, kHeaderLimit, limit);

    uint64_t record = kHeaderSize, entry = entriesAt, string = stringsAt;
    for (const Section &section : messages.sections) {
        uint64_t bytes = kEntrySize * section.entries.size();
        for (const Entry &e : section.entries) bytes += e.key.size() + e.text.size() + 2;

        PutBytes(file, record, section.name);
        Put32(file, record + kRecordFirstEntry, section.entries.empty() ? 0 : entry);
        Put32(file, record + kRecordBytes, bytes);
        // The last record's next is record + 64 = limit, which ends the walk.
        Put32(file, record + kRecordNext, record + kSectionSize);
        Put32(file, record + kSectionRecordSize + kInfoCount, section.entries.size());
        Put32(file, record + kSectionRecordSize + kInfoVersion, kFormatVersion);

        for (size_t i = 0; i < section.entries.size(); ++i) {
            const Entry &e = section.entries[i];
            Put32(file, entry + kEntryKey, string);
            PutBytes(file, string, e.key);
            string += e.key.size() + 1;
            Put32(file, entry + kEntryText, string);
            PutBytes(file, string, e.text);
            string += e.text.size() + 1;
            Put32(file, entry + kEntryLength, e.text.size());
            bool last = i + 1 == section.entries.size();
            Put32(file, entry + kEntryNext, last ? 0 : entry + kEntrySize);
            entry += kEntrySize;
        }
        record += kSectionSize;
    }
    return true;
}

size_t DumpDataFile(const uint8_t *data, size_t size, const DumpLine &emit) {
    return Walker(data, size, emit).Run();
}

}  // namespace tdf
