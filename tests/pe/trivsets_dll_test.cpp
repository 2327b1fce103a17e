// TRIVSETS.DLL as it ships, run by the PE host over the Win32 stand-in: the
// message texts from the TRIVDATA.TDF beside it, and both transfer routes,
// the library route loading a TRIVDRUI double that is itself a PE DLL. The
// Linux build, linked into this program, answers the same requests where a
// comparison says more than a constant. Every export is called through the
// checking trampoline (__cdecl: it pops nothing) from a 16-byte and a 4-byte
// aligned stack, and every test ends with nothing left open or allocated.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pe_test_support.h"
#include "tdf_format.h"
#include "transfer_test_support.h"
#include "trivsets.h"

namespace pe_test {
namespace {

using transfer_test::DriverDirectory;
using transfer_test::EscapeDriver;
using transfer_test::ExpectedBuffer;
using transfer_test::FirstDifference;
using transfer_test::kOperations;
using transfer_test::Operation;

constexpr int kMessages = 15;  // results 0 to 14 have their own texts
constexpr int32_t kNotReached = TRIVSETS_NOT_REACHED;

std::string Key(int index) {
    char key[16];
    snprintf(key, sizeof key, "ERMSG_%02d", index);
    return key;
}

// A data file with these messages in the section the library reads.
Bytes DataFile(const std::vector<tdf::Entry> &entries, const char *section = "DDFUM_ErrMsg") {
    tdf::Messages messages;
    messages.sections.push_back(tdf::Section{section, entries, 0});
    Bytes file;
    std::string error;
    EXPECT_TRUE(tdf::BuildDataFile(messages, &file, &error)) << error;
    return file;
}

std::vector<tdf::Entry> AllEntries() {
    std::vector<tdf::Entry> entries;
    for (int i = 0; i < kMessages; ++i) entries.push_back({Key(i), "text of " + Key(i), 0});
    entries.push_back({"ERMSG_XX", "the general text", 0});
    return entries;
}

// TRIVSETS.DLL copied into a directory of its own, with the given data file
// beside it (none: no file), and loaded.
class TrivsetsDll : public StandinTest {
protected:
    void TearDown() override {
        delete dll;
        dll = nullptr;
        StandinTest::TearDown();
    }

    void Load(const Bytes *dataFile) {
        std::string path = scratch.Copy(Win32File("TRIVSETS.DLL"), "TRIVSETS.DLL");
        if (dataFile) WriteBytes(scratch.File("TRIVDATA.TDF"), *dataFile);
        delete dll;
        dll = new LoadedDll(path);
        ASSERT_NE(dll->module(), nullptr) << dll->error();
        getErrorMsg = dll->Export("SPRINST_GetErrorMsg");
        ASSERT_NE(getErrorMsg, nullptr);
    }

    std::string Text(int32_t result, int32_t offset = 4) const {
        uint32_t text = CallChecked(getErrorMsg, {static_cast<uint32_t>(result)}, offset, 0);
        EXPECT_NE(text, 0u) << "null text for result " << result;
        return text ? reinterpret_cast<const char *>(static_cast<uintptr_t>(text)) : "<null>";
    }

    // The results the tests ask the text of: each own text, the first
    // without, and far off both ways.
    static std::vector<int32_t> Results() {
        std::vector<int32_t> results;
        for (int32_t i = 0; i <= 16; ++i) results.push_back(i);
        for (int32_t r : {99, 1000, -1, INT32_MIN, INT32_MAX}) results.push_back(r);
        return results;
    }

    ScratchDir scratch;
    LoadedDll *dll = nullptr;
    const void *getErrorMsg = nullptr;
};

// --- Message texts ----------------------------------------------------------------

TEST_F(TrivsetsDll, ServesTheBuildsExampleTextsAsTheLinuxBuildDoes) {
    Bytes example = ReadBytes(TRIVDATA_EXAMPLE_PATH);
    ASSERT_FALSE(example.empty()) << TRIVDATA_EXAMPLE_PATH;
    Load(&example);

    std::ifstream in(TRIVDATA_MESSAGES_PATH);
    std::stringstream text;
    text << in.rdbuf();
    tdf::Messages parsed;
    std::vector<tdf::Diagnostic> errors, warnings;
    ASSERT_TRUE(tdf::ParseMessages(text.str(), &parsed, &errors, &warnings));
    auto textOf = [&](const std::string &key) {
        for (const tdf::Entry &e : parsed.sections.at(0).entries) {
            if (e.key == key) return e.text;
        }
        return std::string("<no ") + key + ">";
    };

    // libtrivsets.so, linked in, read the same example file beside itself.
    for (int32_t result : Results()) {
        bool own = result >= 0 && result < kMessages;
        for (int32_t offset : kStackOffsets) {
            EXPECT_EQ(Text(result, offset), textOf(own ? Key(result) : "ERMSG_XX")) << result;
        }
        EXPECT_EQ(Text(result), SPRINST_GetErrorMsg(result)) << result;
    }
}

TEST_F(TrivsetsDll, KeepsTextsByteForByte) {
    std::vector<tdf::Entry> entries = AllEntries();
    std::string ansi = "Druckereinstellungen \xE4\xF6\xFC\xDF \x80\xA9\xFF; 100%\t\"quoted\"";
    entries[5].text = ansi;
    entries[6].text = std::string(tdf::kMaxTextLength, 'x');
    Bytes file = DataFile(entries);
    Load(&file);
    EXPECT_EQ(Text(5), ansi);
    EXPECT_EQ(Text(6), entries[6].text) << "the longest text the format allows";
}

TEST_F(TrivsetsDll, AMissingMessageGetsTheGeneralTextAndWithoutThatNone) {
    std::vector<tdf::Entry> entries = AllEntries();
    entries.erase(entries.begin() + 14);
    entries.erase(entries.begin() + 3);
    Bytes file = DataFile(entries);
    Load(&file);
    for (int32_t result : Results()) {
        bool own = result >= 0 && result < kMessages && result != 3 && result != 14;
        EXPECT_EQ(Text(result), own ? "text of " + Key(result) : "the general text") << result;
    }

    entries.pop_back();  // ERMSG_XX
    file = DataFile(entries);
    Load(&file);
    EXPECT_EQ(Text(3), "");
    EXPECT_EQ(Text(99), "");
    EXPECT_EQ(Text(4), "text of ERMSG_04");
}

TEST_F(TrivsetsDll, WithoutTheDataFileOrItsSectionEveryTextIsEmpty) {
    Load(nullptr);
    for (int32_t result : Results()) EXPECT_EQ(Text(result), "") << result;

    Bytes elsewhere = DataFile(AllEntries(), "DDFUM_Other");
    Load(&elsewhere);
    for (int32_t result : Results()) EXPECT_EQ(Text(result), "") << result;
}

TEST_F(TrivsetsDll, HoldsItsTextsWhileLoadedAndFreesThemWhenUnloaded) {
    StandinLive before = Standin_Live();
    Bytes file = DataFile(AllEntries());
    Load(&file);
    StandinLive loaded = Standin_Live();
    EXPECT_EQ(loaded.blocks, before.blocks + kMessages + 1) << "one block per text";
    EXPECT_EQ(loaded.files, before.files) << "the data file is closed after loading";
    EXPECT_EQ(loaded.modules, before.modules + 1);
    dll->Free();
    StandinLive unloaded = Standin_Live();
    EXPECT_EQ(unloaded.blocks, before.blocks);
    EXPECT_EQ(unloaded.modules, before.modules);
}

// --- Transfer ----------------------------------------------------------------------

constexpr char kPrinter[] = "Office Laser 5100";

class TrivsetsDllTransfer : public TrivsetsDll, public ::testing::WithParamInterface<Operation> {
protected:
    void SetUp() override {
        TrivsetsDll::SetUp();
        Load(nullptr);
        if (HasFatalFailure()) return;
        function = dll->Export(GetParam().name);
        ASSERT_NE(function, nullptr) << GetParam().name;
        driver.result = 31;
        Standin_SetDriverResult(32);
    }

    int32_t Transfer(const char *printer, const char *argument, int32_t offset) const {
        return static_cast<int32_t>(
            CallChecked(function, {Arg(printer), Arg(argument)}, offset, 0));
    }

    const void *function = nullptr;
    EscapeDriver driver;
};

TEST_P(TrivsetsDllTransfer, UnderWow64SendsTheEscapeWithTheBufferTheLinuxBuildSends) {
    const Operation &op = GetParam();
    Standin_SetWow64(1);
    DriverDirectory directory;
    Standin_AddPrinter(kPrinter, directory.DriverPath().c_str(), 220, &EscapeDriver::Handle,
                       &driver);
    const std::string argument = "C:\\settings\\office.dat";
    for (int32_t offset : kStackOffsets) {
        EXPECT_EQ(Transfer(kPrinter, argument.c_str(), offset), 31);
    }
    EXPECT_EQ(op.function(kPrinter, argument.c_str()), 31) << "the Linux build";

    ASSERT_EQ(driver.escapes.size(), 6u) << "a query and the request, per call";
    for (size_t i = 0; i < driver.escapes.size(); i += 2) {
        const auto &query = driver.escapes[i], &request = driver.escapes[i + 1];
        EXPECT_EQ(query.escape, QUERYESCSUPPORT);
        ASSERT_EQ(query.input.size(), 4u);
        int32_t asked;
        memcpy(&asked, query.input.data(), 4);
        EXPECT_EQ(asked, op.code);
        EXPECT_EQ(request.escape, op.code);
        EXPECT_EQ(request.outputSize, 4);
        EXPECT_EQ(request.printerName, kPrinter);
        EXPECT_EQ(request.devmode.size(), 220u);
        EXPECT_EQ(FirstDifference(request.input, ExpectedBuffer(argument, kPrinter)), -1);
        // The DLL's requests and the Linux build's, byte for byte.
        EXPECT_EQ(request.input, driver.escapes.back().input);
    }
    EXPECT_EQ(Standin_DriverCalls(), 0) << "no driver library on this route";
}

TEST_P(TrivsetsDllTransfer, UnderWow64CutsLongStringsToTheirHalvesOfTheBuffer) {
    Standin_SetWow64(1);
    const std::string longName(5000, 'P');
    const std::string cutName = longName.substr(0, 4095);
    // The device context is made for the name as cut.
    Standin_AddPrinter(cutName.c_str(), nullptr, 64, &EscapeDriver::Handle, &driver);
    std::string argument(6000, 'a');
    argument[4094] = 'z';
    EXPECT_EQ(Transfer(longName.c_str(), argument.c_str(), 4), 31);
    ASSERT_EQ(driver.escapes.size(), 2u);
    EXPECT_EQ(
        FirstDifference(driver.escapes[1].input, ExpectedBuffer(argument.substr(0, 4095), cutName)),
        -1);
}

TEST_P(TrivsetsDllTransfer, UnderWow64AnEscapeTheDriverLacksIsNotReached) {
    Standin_SetWow64(1);
    driver.supported = false;
    Standin_AddPrinter(kPrinter, nullptr, 64, &EscapeDriver::Handle, &driver);
    EXPECT_EQ(Transfer(kPrinter, "x", 0), kNotReached);
    ASSERT_EQ(driver.escapes.size(), 1u) << "only the query";
    EXPECT_EQ(Transfer("No Such Printer", "x", 4), kNotReached);
}

TEST_P(TrivsetsDllTransfer, OtherwiseCallsTheDriversPeLibraryWithTheCallersPointers) {
    const Operation &op = GetParam();
    DriverDirectory directory;
    Standin_AddPrinter(kPrinter, directory.DriverPath().c_str(), 220, &EscapeDriver::Handle,
                       &driver);
    const char *argument = "C:\\settings\\office.dat";
    for (int32_t offset : kStackOffsets) {
        EXPECT_EQ(Transfer(kPrinter, argument, offset), 32);
    }
    ASSERT_EQ(Standin_DriverCalls(), 2);
    for (int i = 0; i < 2; ++i) {
        StandinDriverCall call = Standin_DriverCall(i);
        EXPECT_STREQ(call.exportName, op.name);
        EXPECT_EQ(call.printerName, kPrinter);
        EXPECT_EQ(call.argument, argument);
    }
    EXPECT_TRUE(driver.escapes.empty());
    // Loaded from the driver's directory each time, as a PE DLL, and freed.
    std::vector<std::string> loaded = transfer_test::Lines(Standin_LoadedPaths());
    EXPECT_EQ(std::count(loaded.begin(), loaded.end(), directory.LibraryPath()), 2);
    EXPECT_EQ(Standin_Live().modules, 1) << "TRIVSETS.DLL alone";
}

TEST_P(TrivsetsDllTransfer, OtherwiseAMissingLibraryOrExportIsNotReached) {
    const Operation &op = GetParam();
    DriverDirectory partial(TRIVDRUI_PARTIAL_PATH);
    Standin_AddPrinter(kPrinter, partial.DriverPath().c_str(), 220, nullptr, nullptr);
    bool lacksIt = strcmp(op.name, "SPRINST_DefaultSetting") == 0;
    EXPECT_EQ(Transfer(kPrinter, "x", 4), lacksIt ? kNotReached : 32);

    DriverDirectory empty(nullptr);
    Standin_AddPrinter(kPrinter, empty.DriverPath().c_str(), 220, nullptr, nullptr);
    EXPECT_EQ(Transfer(kPrinter, "x", 0), kNotReached);
    EXPECT_EQ(Transfer(nullptr, "x", 4), kNotReached);
    EXPECT_EQ(Transfer("No Such Printer", "x", 4), kNotReached);
}

// Each Win32 call the routes depend on, failing: the request is not reached,
// as in the Linux build, and nothing is left behind (the fixture checks).
TEST_P(TrivsetsDllTransfer, EveryFailingStepGivesNotReachedAsInTheLinuxBuild) {
    const Operation &op = GetParam();
    DriverDirectory directory;
    Standin_AddPrinter(kPrinter, directory.DriverPath().c_str(), 220, &EscapeDriver::Handle,
                       &driver);
    // The WOW64 check's own LoadLibraryA and GetProcAddress succeed; the
    // library route's next ones fail.
    auto arm = [](StandinCall call) {
        if (call == StandinLoadLibrary || call == StandinGetProcAddress) {
            Standin_FailNth(call, 2);
        } else {
            Standin_FailAlways(call, 1);
        }
    };
    auto disarm = [](StandinCall call) {
        Standin_FailAlways(call, 0);
        Standin_FailNth(call, 0);
    };
    const std::pair<int, StandinCall> steps[] = {
        {0, StandinOpenPrinter},        {0, StandinGetPrinterDriver}, {0, StandinGlobalAlloc},
        {0, StandinLoadLibrary},        {0, StandinGetProcAddress},   {1, StandinOpenPrinter},
        {1, StandinDocumentProperties}, {1, StandinGlobalAlloc},      {1, StandinCreateDC},
    };
    for (const auto &[wow64, call] : steps) {
        Standin_SetWow64(wow64);
        arm(call);
        int32_t dllResult = Transfer(kPrinter, "x", 4);
        disarm(call);
        arm(call);
        int32_t linuxResult = op.function(kPrinter, "x");
        disarm(call);
        EXPECT_EQ(dllResult, kNotReached) << "failing call " << call << ", WOW64 " << wow64;
        EXPECT_EQ(linuxResult, kNotReached) << "failing call " << call << ", WOW64 " << wow64;
    }
    EXPECT_EQ(Standin_DriverCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(Operations, TrivsetsDllTransfer, ::testing::ValuesIn(kOperations),
                         transfer_test::OperationName);

}  // namespace
}  // namespace pe_test
