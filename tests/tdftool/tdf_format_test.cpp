// The text form, the builder and the dumper of the driver data file.

#include "tdf_format.h"

#include <gtest/gtest.h>
#include <string.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

uint32_t Get32(const Bytes &b, size_t at) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= (at + i < b.size() ? uint32_t{b[at + i]} : 0) << (8 * i);
    return v;
}

void Set32(Bytes *b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

tdf::Messages Parse(std::string_view text, std::vector<tdf::Diagnostic> *warnings = nullptr) {
    tdf::Messages m;
    std::vector<tdf::Diagnostic> errors, ignored;
    EXPECT_TRUE(tdf::ParseMessages(text, &m, &errors, warnings ? warnings : &ignored))
        << errors.front().line << ": " << errors.front().message;
    return m;
}

// The errors of a text that must not parse, as "LINE: message".
std::vector<std::string> ParseErrors(std::string_view text) {
    tdf::Messages m;
    std::vector<tdf::Diagnostic> errors, warnings;
    EXPECT_FALSE(tdf::ParseMessages(text, &m, &errors, &warnings));
    std::vector<std::string> out;
    for (const auto &e : errors) out.push_back(std::to_string(e.line) + ": " + e.message);
    return out;
}

Bytes Build(std::string_view text) {
    Bytes file;
    std::string error;
    EXPECT_TRUE(tdf::BuildDataFile(Parse(text), &file, &error)) << error;
    return file;
}

struct Listing {
    std::vector<std::string> lines, faults;
    size_t count = 0;
    bool Has(std::string_view fault) const {
        for (const auto &f : faults) {
            if (f.find(fault) != std::string::npos) return true;
        }
        return false;
    }
};

Listing Dump(const Bytes &file) {
    Listing out;
    out.count = tdf::DumpDataFile(file.data(), file.size(), [&](std::string_view line) {
        out.lines.emplace_back(line);
        if (line.substr(0, 7) == "fault: ") out.faults.emplace_back(line.substr(7));
    });
    return out;
}

// The library's reading rules: the section chain from offset 8 ends at a
// next offset at or above the header's limit; a section's count entries
// follow from its first-entry offset; names and keys match without regard to
// ASCII case, the first matching key wins. Reads past the end give zeros.
// Returns the text, or "<none>".
std::string LibraryLookup(const Bytes &b, const char *section, const char *key) {
    auto str = [&](uint32_t at) {
        std::string s;
        for (size_t i = at; i < b.size() && b[i] && s.size() < 290; ++i) s += char(b[i]);
        return s;
    };
    auto same = [](std::string a, std::string c) { return strcasecmp(a.c_str(), c.c_str()) == 0; };
    uint32_t limit = Get32(b, 4), at = 8;
    for (int steps = 0; steps < 1000; ++steps) {
        if (at + 52 > b.size()) return "<none>";
        if (same(std::string(str(at), 0, 32), section)) {
            if (at >= limit) return "<none>";
            uint32_t entry = Get32(b, at + 32);
            for (uint32_t i = 0, n = Get32(b, at + 52); i < n; ++i) {
                if (same(str(Get32(b, entry)), key)) return str(Get32(b, entry + 4));
                entry = Get32(b, entry + 12);
            }
            return "<none>";
        }
        at = Get32(b, at + 48);
        if (at >= limit) return "<none>";
    }
    return "<loops>";
}

constexpr const char *kSample =
    "# example\n"
    "[First]\r\n"
    "A=one\r\n"
    "B= two = 2 \n"
    "\n"
    "[Empty]\n"
    "   \t\n"
    "[ddfum_errmsg]\n"
    "ERMSG_00=\n"
    "ERMSG_05=\x80\xff#[x]\r\r\n"
    "ermsg_05=second";

// --- Text form --------------------------------------------------------------

TEST(TextForm, ReadsSectionsAndEntriesByteForByte) {
    tdf::Messages m = Parse(kSample);
    ASSERT_EQ(m.sections.size(), 3u);
    EXPECT_EQ(m.sections[0].name, "First");
    EXPECT_EQ(m.sections[0].line, 2);
    ASSERT_EQ(m.sections[0].entries.size(), 2u);
    EXPECT_EQ(m.sections[0].entries[0].text, "one");
    EXPECT_EQ(m.sections[0].entries[1].text, " two = 2 ");  // all after the first '='
    EXPECT_TRUE(m.sections[1].entries.empty());
    const auto &e = m.sections[2].entries;
    ASSERT_EQ(e.size(), 3u);
    EXPECT_EQ(e[0].text, "");
    EXPECT_EQ(e[1].text, "\x80\xff#[x]\r");  // one trailing CR dropped, no more
    EXPECT_EQ(e[2].key, "ermsg_05");
    EXPECT_EQ(e[2].text, "second");  // last line without a line break
    EXPECT_EQ(e[2].line, 11);
}

TEST(TextForm, LengthLimitsAreInclusive) {
    std::string name31(31, 'N'), key127(127, 'K'), text289(289, 't');
    tdf::Messages m = Parse("[" + name31 + "]\n" + key127 + "=" + text289 + "\n");
    EXPECT_EQ(m.sections[0].entries[0].text.size(), 289u);

    EXPECT_EQ(ParseErrors("[" + name31 + "N]\n")[0].substr(0, 27), "1: section name is 32 bytes");
    EXPECT_EQ(ParseErrors("[S]\n" + key127 + "K=x\n")[0].substr(0, 18), "2: key is 128 byte");
    EXPECT_EQ(ParseErrors("[S]\nK=" + text289 + "t\n")[0].substr(0, 19), "2: text is 290 byte");
}

TEST(TextForm, ReportsEveryErrorWithItsLine) {
    std::string text = std::string("\xEF\xBB\xBF") +
                       "K=before any section\n"  // 1
                       "[S\n"                    // 2
                       "[]\n"                    // 3
                       "[a]b]\n"                 // 4
                       "no equals sign\n"        // 5
                       "=empty key\n"            // 6
                       "K=nul*byte\n"            // 7
                       " # not a comment\n";     // 8
    text[text.find('*')] = '\0';
    std::vector<std::string> errors = ParseErrors(text);
    std::vector<std::string> lines;
    for (const auto &e : errors) lines.push_back(e.substr(0, e.find(':')));
    EXPECT_EQ(lines, (std::vector<std::string>{"1", "1", "2", "3", "4", "5", "6", "7", "8"}));
    EXPECT_NE(errors[0].find("byte order mark"), std::string::npos);
}

TEST(TextForm, RepeatedKeysAndSectionsAreKeptWithAWarning) {
    std::vector<tdf::Diagnostic> warnings;
    tdf::Messages m = Parse(std::string(kSample) + "\n[FIRST]\n X =y\n", &warnings);
    EXPECT_EQ(m.sections.back().entries[0].key, " X ");
    ASSERT_EQ(warnings.size(), 3u);
    EXPECT_EQ(warnings[0].line, 11);  // ermsg_05 after ERMSG_05
    EXPECT_NE(warnings[0].message.find("first at line 10"), std::string::npos);
    EXPECT_EQ(warnings[1].line, 12);  // [FIRST] after [First]
    EXPECT_EQ(warnings[2].line, 13);  // blanks around the key
}

// --- Builder ----------------------------------------------------------------

TEST(DataFileBuild, LaysOutHeaderSectionsEntriesAndStrings) {
    Bytes f = Build(kSample);
    const uint32_t limit = 8 + 3 * 64, entries = limit, strings = entries + 5 * 16;
    EXPECT_EQ(memcmp(f.data(), "TDF\x01", 4), 0);
    EXPECT_EQ(Get32(f, 4), limit);
    struct Want {
        const char *name;
        uint32_t first, count;
    } want[] = {{"First", entries, 2}, {"Empty", 0, 0}, {"ddfum_errmsg", entries + 32, 3}};
    for (uint32_t s = 0; s < 3; ++s) {
        uint32_t at = 8 + 64 * s;
        EXPECT_STREQ(reinterpret_cast<const char *>(&f[at]), want[s].name);
        EXPECT_EQ(Get32(f, at + 32), want[s].first);
        EXPECT_EQ(Get32(f, at + 40) | Get32(f, at + 44) | Get32(f, at + 60), 0u);
        EXPECT_EQ(Get32(f, at + 48), at + 64);  // the last one's is the limit
        EXPECT_EQ(Get32(f, at + 52), want[s].count);
        EXPECT_EQ(Get32(f, at + 56), 1u);
    }
    EXPECT_EQ(Get32(f, 8 + 36), 2 * 16 + sizeof("A") + sizeof("one") + 2 + 10);
    EXPECT_EQ(Get32(f, 8 + 64 + 36), 0u);

    uint32_t string = strings;
    for (uint32_t i = 0; i < 5; ++i) {
        uint32_t at = entries + 16 * i;
        EXPECT_EQ(Get32(f, at), string);
        string += strlen(reinterpret_cast<const char *>(&f[string])) + 1;
        EXPECT_EQ(Get32(f, at + 4), string);
        uint32_t length = strlen(reinterpret_cast<const char *>(&f[string]));
        EXPECT_EQ(Get32(f, at + 8), length);
        string += length + 1;
        bool last = i == 1 || i == 4;
        EXPECT_EQ(Get32(f, at + 12), last ? 0 : at + 16);
    }
    EXPECT_EQ(string, f.size());
}

TEST(DataFileBuild, TheLibraryRulesFindEverySectionAndTakeTheFirstKey) {
    Bytes f = Build(kSample);
    EXPECT_EQ(LibraryLookup(f, "FIRST", "b"), " two = 2 ");
    EXPECT_EQ(LibraryLookup(f, "DDFUM_ErrMsg", "ERMSG_05"), "\x80\xff#[x]\r");
    EXPECT_EQ(LibraryLookup(f, "DDFUM_ErrMsg", "ERMSG_00"), "");
    EXPECT_EQ(LibraryLookup(f, "Empty", "A"), "<none>");
    EXPECT_EQ(LibraryLookup(f, "Missing", "A"), "<none>");  // the walk stops at the limit
    EXPECT_EQ(LibraryLookup(Build("# nothing\n"), "First", "A"), "<none>");
}

TEST(DataFileBuild, RefusesWhatTheFileCannotHold) {
    tdf::Messages m;
    m.sections.push_back({"S", {{"K", std::string(290, 't')}}});
    Bytes file;
    std::string error;
    EXPECT_FALSE(tdf::BuildDataFile(m, &file, &error));
    m.sections[0].entries[0] = {std::string("K\0", 2), "t"};
    EXPECT_FALSE(tdf::BuildDataFile(m, &file, &error));
    m.sections[0] = {std::string(32, 'N'), {}};
    EXPECT_FALSE(tdf::BuildDataFile(m, &file, &error));
    EXPECT_TRUE(file.empty());
}

// --- Dumper -----------------------------------------------------------------

TEST(DataFileDump, ListsABuiltFileWithoutFaults) {
    Listing l = Dump(Build(kSample));
    EXPECT_EQ(l.count, 0u);
    std::vector<std::string> want = {
        "header: magic 'TDF\\x01', limit 200, file size 341",
        "section at 8: [First] 2 entries, first entry at 200, entry bytes 50, next at 72, "
        "version 1",
        "  A=one",
        "  B= two = 2 ",
        "section at 72: [Empty] 0 entries, first entry at 0, entry bytes 0, next at 136, version 1",
        "section at 136: [ddfum_errmsg] 3 entries, first entry at 232, entry bytes 91, next at "
        "200, version 1",
        "  ERMSG_00=",
        "  ERMSG_05=\x80\xff#[x]\\x0D",  // control bytes shown as \xHH
        "  ermsg_05=second",
        "3 sections, 5 entries, no faults"};
    EXPECT_EQ(l.lines, want);
}

// One hostile change to a built file and a fault the dump must report.
struct Hostile {
    const char *name;
    std::function<void(Bytes *)> change;
    const char *fault;
};

// Sections at 8, 72, 136 (limit 200); entries of the first at 200 and 216,
// of the third at 232, 248 and 264; strings from 280.
const Hostile kHostile[] = {
    {"LimitPastEnd", [](Bytes *f) { Set32(f, 4, f->size() + 1); }, "limit 342 lies past the end"},
    {"LimitInHeader", [](Bytes *f) { Set32(f, 4, 7); }, "inside the header"},
    {"SectionLoop", [](Bytes *f) { Set32(f, 136 + 48, 72); }, "section chain loops"},
    {"SectionSelfLoop", [](Bytes *f) { Set32(f, 8 + 48, 8); }, "section chain loops"},
    {"NextIntoHeader", [](Bytes *f) { Set32(f, 72 + 48, 0); }, "lies inside the header"},
    {"SectionAcrossLimit", [](Bytes *f) { Set32(f, 4, 199); }, "past the limit 199"},
    {"SectionPastEnd",
     [](Bytes *f) {
         Set32(f, 4, 0xFFFFFFFF);
         Set32(f, 136 + 48, f->size() - 20);
     },
     "section record at 321 runs past the end"},
    {"NameWithoutNul", [](Bytes *f) { memset(&(*f)[8], 'N', 32); }, "no NUL within its 32"},
    {"EntryLoop", [](Bytes *f) { Set32(f, 248 + 12, 232); }, "loops back to the entry at 232"},
    {"EntryLoopHugeCount",
     [](Bytes *f) {
         Set32(f, 136 + 52, 0xFFFFFFFF);
         Set32(f, 264 + 12, 232);
     },
     "loops back"},
    {"ChainShorterThanCount", [](Bytes *f) { Set32(f, 8 + 52, 3); }, "ends after 2 of 3"},
    {"CountWithoutFirstEntry", [](Bytes *f) { Set32(f, 72 + 52, 1); }, "ends after 0 of 1"},
    {"ChainsJoin", [](Bytes *f) { Set32(f, 136 + 32, 216); }, "joins that of the section at 8"},
    {"EntryPastEnd", [](Bytes *f) { Set32(f, 200 + 12, f->size() - 8); }, "entry at 333 runs past"},
    {"KeyPastEnd", [](Bytes *f) { Set32(f, 200, f->size()); }, "key offset"},
    {"TextPastEnd", [](Bytes *f) { Set32(f, 200 + 4, 0x7FFFFFFF); }, "text offset"},
    {"NoNulBeforeEnd",
     [](Bytes *f) {
         f->back() = 'x';  // the last text, "second", loses its NUL
     },
     "no NUL before the end"},
    {"OversizeKey",
     [](Bytes *f) {
         f->insert(f->end(), 128, 'k');
         f->push_back(0);
         Set32(f, 200, f->size() - 129);
     },
     "is 128 bytes, longer than 127"},
    {"OversizeText",
     [](Bytes *f) {
         f->insert(f->end(), 300, 't');
         f->push_back(0);
         Set32(f, 200 + 4, f->size() - 301);
     },
     "no NUL within 290 bytes"},
};

void PrintTo(const Hostile &h, std::ostream *os) { *os << h.name; }

class HostileDump : public testing::TestWithParam<Hostile> {};

TEST_P(HostileDump, ReportsTheFault) {
    Bytes f = Build(kSample);
    GetParam().change(&f);
    Listing l = Dump(f);
    EXPECT_TRUE(l.Has(GetParam().fault)) << testing::PrintToString(l.lines);
    EXPECT_EQ(l.count, l.faults.size());
    EXPECT_NE(l.lines.back().find(" fault"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(DataFileDump, HostileDump, testing::ValuesIn(kHostile),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(DataFileDump, EveryTruncationIsAFault) {
    Bytes f = Build(kSample);
    for (size_t n = 0; n < f.size(); ++n) {
        Bytes cut(f.begin(), f.begin() + n);
        EXPECT_GT(Dump(cut).count, 0u) << n << " bytes";
    }
}

TEST(DataFileDump, KeyAndTextAtTheirLimitsAreNoFault) {
    Bytes f = Build("[S]\n" + std::string(127, 'K') + "=" + std::string(289, 't') + "\n");
    EXPECT_EQ(Dump(f).count, 0u);
}

// Random bytes over a valid file: the walk must end and stay inside the
// buffer (the sanitizer build checks the latter).
TEST(DataFileDump, SurvivesRandomDamage) {
    const Bytes good = Build(kSample);
    std::mt19937 random(1234);
    for (int round = 0; round < 3000; ++round) {
        Bytes f = good;
        for (int i = random() % 8; i >= 0; --i) {
            size_t at = random() % f.size();
            f[at] = (random() % 4 == 0) ? static_cast<uint8_t>(random()) : f[random() % f.size()];
        }
        f.resize(f.size() - random() % 16);
        Listing l = Dump(f);
        ASSERT_NE(l.lines.back().find(" fault"), std::string::npos) << round;
    }
}

}  // namespace
