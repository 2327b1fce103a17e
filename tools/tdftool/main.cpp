// tdftool: builds the driver data file TRIVDATA.TDF from its text form, and
// dumps any such file with every structural fault it holds.

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "file_io.h"
#include "tdf_format.h"

namespace {

constexpr const char *kVersion = "tdftool " TRIVJPEG_VERSION;

constexpr const char *kToolHelp =
    "Usage: tdftool build MESSAGES.txt -o TRIVDATA.TDF\n"
    "       tdftool dump FILE\n"
    "\n"
    "Builds the driver data file TRIVDATA.TDF, from which TRIVSETS reads the\n"
    "texts of its result codes, and lists the contents of such a file.\n"
    "\n"
    "Commands:\n"
    "  build    write a data file from a messages file (tdftool build --help)\n"
    "  dump     list a data file and report its faults (tdftool dump --help)\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help\n"
    "      --version  show the version\n";

constexpr const char *kBuildHelp =
    "Usage: tdftool build MESSAGES.txt -o TRIVDATA.TDF\n"
    "\n"
    "Writes a driver data file from a messages file, a text file of lines:\n"
    "\n"
    "  # comment        ignored, as are blank lines ('#' must be the first byte)\n"
    "  [SectionName]    starts a section; the name is 1 to 31 bytes\n"
    "  KEY=text         an entry of the current section: the key is 1 to 127\n"
    "                   bytes without '='; the text, 0 to 289 bytes, is all\n"
    "                   that follows the first '='\n"
    "\n"
    "Texts are stored byte for byte as ANSI text: there is no transcoding and\n"
    "there are no escapes. Only a trailing CR (of CR LF line ends) is removed;\n"
    "blanks are kept. Save the file in the code page that the texts are meant\n"
    "for, without a byte order mark. The library compares section names and\n"
    "keys without regard to ASCII letter case and takes the first match, so a\n"
    "repeated key or section is kept but draws a warning.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE  the data file to write (required; '-': standard output)\n"
    "  -h, --help         show this help\n"
    "\n"
    "MESSAGES.txt '-' reads standard input. Errors are reported as\n"
    "MESSAGES.txt:LINE: error: ... and leave no output file. The output is\n"
    "written whole or not at all: a regular file is replaced only once complete\n"
    "(a symbolic link is followed; a replaced file keeps its permissions); a\n"
    "device, a FIFO or standard output is written only after the build\n"
    "succeeded, and never a terminal. Exit status: 0 written, 1 errors in the\n"
    "input or a failed read or write, 2 bad usage.\n";

constexpr const char *kDumpHelp =
    "Usage: tdftool dump FILE\n"
    "\n"
    "Lists the header of a driver data file ('-' reads standard input), each\n"
    "section reached through the chain of section records (offset, name, number\n"
    "of entries, first entry, entry bytes, next record, version) and its entries\n"
    "as KEY=text, then a summary. Control bytes in names, keys and texts are\n"
    "shown as \\xHH.\n"
    "\n"
    "Every structural fault met on the way is reported on a line of its own\n"
    "that starts with 'fault:': offsets or a limit past the end of the file,\n"
    "section chains that loop or leave the area below the limit, entry chains\n"
    "that loop or are shorter than their count, strings without a NUL, keys of\n"
    "128 bytes or more, texts longer than 289 bytes, section names without a\n"
    "NUL in their 32 bytes. Any file can be dumped safely.\n"
    "\n"
    "Options:\n"
    "  -h, --help  show this help\n"
    "\n"
    "Exit status: 0 no fault, 1 faults found or the file cannot be read,\n"
    "2 bad usage.\n";

int UsageError(const std::string &message, const char *helpCommand) {
    fprintf(stderr, "tdftool: %s\nTry 'tdftool %s--help'.\n", message.c_str(), helpCommand);
    return 2;
}

bool IsHelp(const std::string &arg) { return arg == "-h" || arg == "--help"; }

int Build(int argc, char **argv) {
    std::string input, output;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (IsHelp(arg)) {
            fputs(kBuildHelp, stdout);
            return 0;
        } else if (arg == "-o" || arg == "--output") {
            if (i + 1 == argc) return UsageError(arg + " needs a file name", "build ");
            output = argv[++i];
        } else if (arg.rfind("--output=", 0) == 0) {
            output = arg.substr(9);
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg, "build ");
        } else if (input.empty()) {
            input = arg;
        } else {
            return UsageError("more than one messages file", "build ");
        }
    }
    if (input.empty()) return UsageError("no messages file given", "build ");
    if (output.empty()) return UsageError("no output file given (-o FILE)", "build ");
    if (IsTerminalStdout(output)) {
        return UsageError("standard output is a terminal; the data file is not written to one",
                          "build ");
    }

    std::vector<uint8_t> text;
    std::string error;
    if (!ReadWhole(input, &text, &error)) {
        fprintf(stderr, "tdftool: cannot read %s: %s\n", input.c_str(), error.c_str());
        return 1;
    }
    tdf::Messages messages;
    std::vector<tdf::Diagnostic> errors, warnings;
    bool parsed = tdf::ParseMessages(
        std::string_view(reinterpret_cast<const char *>(text.data()), text.size()), &messages,
        &errors, &warnings);
    // Errors and warnings together, in line order.
    std::vector<std::pair<const tdf::Diagnostic *, const char *>> report;
    for (const tdf::Diagnostic &e : errors) report.emplace_back(&e, "error");
    for (const tdf::Diagnostic &w : warnings) report.emplace_back(&w, "warning");
    std::stable_sort(report.begin(), report.end(),
                     [](const auto &x, const auto &y) { return x.first->line < y.first->line; });
    for (const auto &[d, kind] : report) {
        fprintf(stderr, "%s:%d: %s: %s\n", input.c_str(), d->line, kind, d->message.c_str());
    }
    if (!parsed) {
        fprintf(stderr, "tdftool: %zu error%s in %s; %s not written\n", errors.size(),
                errors.size() == 1 ? "" : "s", input.c_str(), output.c_str());
        return 1;
    }

    std::vector<uint8_t> file;
    if (!tdf::BuildDataFile(messages, &file, &error)) {
        fprintf(stderr, "tdftool: %s; %s not written\n", error.c_str(), output.c_str());
        return 1;
    }
    if (!WriteWhole(output, file.data(), file.size(), &error)) {
        fprintf(stderr, "tdftool: cannot write %s: %s\n", output.c_str(), error.c_str());
        return 1;
    }
    return 0;
}

int Dump(int argc, char **argv) {
    std::string path;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (IsHelp(arg)) {
            fputs(kDumpHelp, stdout);
            return 0;
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg, "dump ");
        } else if (path.empty()) {
            path = arg;
        } else {
            return UsageError("more than one file", "dump ");
        }
    }
    if (path.empty()) return UsageError("no file given", "dump ");

    std::vector<uint8_t> bytes;
    std::string error;
    if (!ReadWhole(path, &bytes, &error)) {
        fprintf(stderr, "tdftool: cannot read %s: %s\n", path.c_str(), error.c_str());
        return 1;
    }
    printf("file: %s\n", path.c_str());
    size_t faults = tdf::DumpDataFile(bytes.data(), bytes.size(), [](std::string_view line) {
        fwrite(line.data(), 1, line.size(), stdout);
        fputc('\n', stdout);
    });
    if (fflush(stdout) != 0) return 1;
    return faults == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) return UsageError("no command given", "");
    std::string command = argv[1];
    if (IsHelp(command)) {
        fputs(kToolHelp, stdout);
        return 0;
    }
    if (command == "--version") {
        puts(kVersion);
        return 0;
    }
    if (command == "build") return Build(argc - 2, argv + 2);
    if (command == "dump") return Dump(argc - 2, argv + 2);
    return UsageError("unknown command " + command, "");
}
