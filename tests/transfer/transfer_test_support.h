// Shared by the settings-transfer tests: the four operations as data, a
// printer driver that answers escapes and remembers what it was sent, a
// driver directory holding a copy of the TRIVDRUI double, and a fixture
// that starts from a clean stand-in and checks that every test released
// every printer, device context, module, file and memory block.
#pragma once

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "settings_transfer.h"
#include "../support/standin_test_support.h"
#include "standin.h"
#include "trivsets.h"

namespace transfer_test {

typedef int32_t(TRIVSETS_CALL *TransferFunction)(const char *printerName, const char *argument);

// One transfer operation: the export, its escape code, and the name it is
// looked up by in TRIVDRUI.DLL.
struct Operation {
    const char *name;
    TransferFunction function;
    int32_t code;
};

inline const Operation kOperations[] = {
    {"SPRINST_SettingExport", SPRINST_SettingExport, 10000},
    {"SPRINST_SettingImport", SPRINST_SettingImport, 10001},
    {"SPRINST_PersonalInfoImport", SPRINST_PersonalInfoImport, 10002},
    {"SPRINST_DefaultSetting", SPRINST_DefaultSetting, 10003},
};

// Named in failure messages by its export.
inline void PrintTo(const Operation &op, std::ostream *os) { *os << op.name; }

inline std::string OperationName(const ::testing::TestParamInfo<Operation> &info) {
    return std::string(info.param.name).substr(strlen("SPRINST_"));
}

// What GetSystemDirectoryA answers by default, and the kernel32 the WOW64
// test loads from it.
constexpr char kKernel32Path[] = "C:\\Windows\\system32\\Kernel32.dll";

constexpr int kBufferSize = 8192;
constexpr int kHalf = 4096;

// One ExtEscape as the driver received it.
struct Escape {
    int escape;
    std::vector<uint8_t> input;
    int outputSize;
    std::string printerName;       // the printer the device context was made for
    std::vector<uint8_t> devmode;  // the DEVMODE it carries
};

// The printer driver's side of the escape route. It answers QUERYESCSUPPORT
// with `supported`, optionally writing `queryWrites` into the result area
// first; it answers a transfer escape by writing `result` into the result
// area and returning `escapeReturns` (which the caller must not consult).
struct EscapeDriver {
    bool supported = true;
    bool writeOnQuery = false;
    int32_t queryWrites = 0;
    int32_t result = 0;
    int escapeReturns = 1;

    std::mutex lock;
    std::vector<Escape> escapes;

    static int Handle(void *context, const char *printerName, const void *devmode, int devmodeSize,
                      int escape, int inputSize, const void *input, int outputSize, void *output) {
        EscapeDriver &d = *static_cast<EscapeDriver *>(context);
        const uint8_t *in = static_cast<const uint8_t *>(input);
        const uint8_t *mode = static_cast<const uint8_t *>(devmode);
        {
            std::lock_guard<std::mutex> guard(d.lock);
            d.escapes.push_back(Escape{
                escape, in ? std::vector<uint8_t>(in, in + inputSize) : std::vector<uint8_t>(),
                outputSize, printerName,
                mode ? std::vector<uint8_t>(mode, mode + devmodeSize) : std::vector<uint8_t>()});
        }
        if (escape == QUERYESCSUPPORT) {
            if (d.writeOnQuery && outputSize >= 4) memcpy(output, &d.queryWrites, 4);
            return d.supported ? 1 : 0;
        }
        if (outputSize >= 4) memcpy(output, &d.result, 4);
        return d.escapeReturns;
    }
};

// The 8192-byte buffer a transfer escape must carry for these strings
// (already cut to what fits).
inline std::vector<uint8_t> ExpectedBuffer(const std::string &argument,
                                           const std::string &printerName) {
    std::vector<uint8_t> buffer(kBufferSize, 0);
    memcpy(buffer.data(), argument.data(), argument.size());
    memcpy(buffer.data() + kHalf, printerName.data(), printerName.size());
    return buffer;
}

// The first position where two buffers differ, or -1, for readable failures.
inline long FirstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a.size() != b.size()) return static_cast<long>(a.size() < b.size() ? a.size() : b.size());
    for (size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) return static_cast<long>(i);
    }
    return -1;
}

// Lines of a stand-in log ('\n'-terminated entries).
inline std::vector<std::string> Lines(const char *log) {
    std::vector<std::string> lines;
    std::string current;
    for (const char *p = log; *p; ++p) {
        if (*p == '\n') {
            lines.push_back(current);
            current.clear();
        } else {
            current += *p;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

// A printer driver's directory with the TRIVDRUI double in it, under the
// name the library looks for. `below` adds subdirectories, to reach a given
// path length.
class DriverDirectory {
public:
    explicit DriverDirectory(const char *doublePath = TRIVDRUI_DOUBLE_PATH,
                             const std::string &below = "") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "trivsets-transfer-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << pattern;
        root_ = pattern;
        path_ = below.empty() ? root_ : root_ + "/" + below;
        std::error_code error;
        std::filesystem::create_directories(path_, error);
        if (error) ADD_FAILURE() << "creating " << path_ << ": " << error.message();
        if (doublePath != nullptr) {
            std::filesystem::copy_file(doublePath, LibraryPath(), error);
            if (error) ADD_FAILURE() << "copying the double to " << LibraryPath();
        }
    }
    ~DriverDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    DriverDirectory(const DriverDirectory &) = delete;
    DriverDirectory &operator=(const DriverDirectory &) = delete;

    // The directory, with a trailing separator, as _splitpath gives it.
    std::string Path() const { return path_ + "/"; }
    // What a printer reports as its driver's main file: only the directory
    // matters.
    std::string DriverPath() const { return Path() + "UNIDRV.DLL"; }
    std::string LibraryPath() const { return Path() + "TRIVDRUI.DLL"; }
    // The base directory's own length, to pad paths to a given length.
    static size_t BaseLength() {
        return (std::filesystem::temp_directory_path() / "trivsets-transfer-XXXXXX")
            .string()
            .size();
    }

private:
    std::string root_;
    std::string path_;
};

// Every transfer test starts from a clean stand-in and must leave nothing
// live in it.
class TransferTest : public standin_test::LeakCheckedTest {
protected:

    // Registers a printer. Its escapes go to `driver` (none: the driver
    // answers no escape); its driver's main file lies in `directory` (none: a
    // Windows path where nothing can be loaded).
    static void AddPrinter(const std::string &name, EscapeDriver *driver,
                           const DriverDirectory *directory, int devmodeSize = 220) {
        std::string driverPath =
            directory ? directory->DriverPath() : "C:\\Windows\\system32\\spool\\UNIDRV.DLL";
        Standin_AddPrinter(name.c_str(), driverPath.c_str(), devmodeSize,
                           driver ? &EscapeDriver::Handle : nullptr, driver);
    }
};

}  // namespace transfer_test
