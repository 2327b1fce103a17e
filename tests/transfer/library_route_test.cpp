// The library route: outside WOW64, TRIVDRUI.DLL is loaded from the
// directory of the printer driver's main file, its export of the same name
// is called with the caller's own pointers, and it is freed again.

#include <dlfcn.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "transfer_test_support.h"

namespace transfer_test {
namespace {

constexpr char kPrinter[] = "Office Laser 5100";

class LibraryRouteTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        AddPrinter(kPrinter, nullptr, &directory);
    }

    // Whether the dynamic loader still holds the double from `directory`.
    bool DoubleStillLoaded() const {
        void *handle = dlopen(directory.LibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (handle != nullptr) dlclose(handle);
        return handle != nullptr;
    }

    DriverDirectory directory;
};

// --- Each export ----------------------------------------------------------------

class LibraryRouteOperation : public LibraryRouteTest,
                              public ::testing::WithParamInterface<Operation> {};

TEST_P(LibraryRouteOperation, CallsItsOwnExportWithTheCallersPointers) {
    const Operation &op = GetParam();
    // Copies of their own, so equal pointers mean the very same strings.
    std::string name = kPrinter, argument = "C:\\settings\\office.dat";
    Standin_SetDriverResult(6);

    EXPECT_EQ(op.function(name.c_str(), argument.c_str()), 6);

    ASSERT_EQ(Standin_DriverCalls(), 1);
    StandinDriverCall call = Standin_DriverCall(0);
    EXPECT_STREQ(call.exportName, op.name);
    EXPECT_EQ(call.printerName, name.c_str());
    EXPECT_EQ(call.argument, argument.c_str());
}

TEST_P(LibraryRouteOperation, PassesANullArgumentOn) {
    EXPECT_EQ(GetParam().function(kPrinter, nullptr), 0);
    ASSERT_EQ(Standin_DriverCalls(), 1);
    EXPECT_EQ(Standin_DriverCall(0).argument, nullptr);
    EXPECT_EQ(Standin_DriverCall(0).printerName, kPrinter);
}

TEST_P(LibraryRouteOperation, LoadsTrivdruiFromTheDriversDirectoryAndFreesIt) {
    GetParam().function(kPrinter, "x");
    EXPECT_EQ(Lines(Standin_LoadedPaths()),
              (std::vector<std::string>{kKernel32Path, directory.LibraryPath()}));
    EXPECT_FALSE(DoubleStillLoaded());
    EXPECT_EQ(Standin_Calls(StandinCreateDC), 0);
}

INSTANTIATE_TEST_SUITE_P(EachExport, LibraryRouteOperation, ::testing::ValuesIn(kOperations),
                         OperationName);

class LibraryRouteResult : public LibraryRouteTest,
                           public ::testing::WithParamInterface<int32_t> {};

TEST_P(LibraryRouteResult, ExportsResultComesBackUnchanged) {
    Standin_SetDriverResult(GetParam());
    for (const Operation &op : kOperations) {
        EXPECT_EQ(op.function(kPrinter, "x"), GetParam()) << op.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Values, LibraryRouteResult,
                         ::testing::Values(0, 5, -7, 99, INT32_MIN, INT32_MAX));

// --- Finding the library -----------------------------------------------------------

TEST_F(LibraryRouteTest, OnlyTheDirectoryOfTheDriversMainFileCounts) {
    Standin_AddPrinter(kPrinter, (directory.Path() + "pscript5.drv").c_str(), 220, nullptr,
                       nullptr);
    Standin_SetDriverResult(2);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 2);
    EXPECT_EQ(Lines(Standin_LoadedPaths()).back(), directory.LibraryPath());
}

TEST_F(LibraryRouteTest, DriveAndDirectoryOfAWindowsPathAreKept) {
    Standin_AddPrinter(kPrinter, "C:\\Windows\\System32\\spool\\DRIVERS\\W32X86\\3\\UNIDRV.DLL",
                       220, nullptr, nullptr);
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), 99);  // nothing there on this system
    EXPECT_EQ(Lines(Standin_LoadedPaths()).back(),
              "C:\\Windows\\System32\\spool\\DRIVERS\\W32X86\\3\\TRIVDRUI.DLL");
}

TEST_F(LibraryRouteTest, LongPrinterNameFindsTheDriverByItsFirst259Characters) {
    std::string name(300, ' ');
    for (size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char>('a' + i % 26);
    std::string cut = name.substr(0, 259);
    AddPrinter(cut, nullptr, &directory);
    Standin_SetDriverResult(1);

    EXPECT_EQ(SPRINST_PersonalInfoImport(name.c_str(), "x"), 1);

    EXPECT_EQ(Lines(Standin_OpenedPrinters()), std::vector<std::string>{cut});
    ASSERT_EQ(Standin_DriverCalls(), 1);
    EXPECT_EQ(Standin_DriverCall(0).printerName, name.c_str());
}

TEST_F(LibraryRouteTest, TwoCallsLoadAndFreeTheLibraryTwice) {
    Standin_SetDriverResult(3);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "first"), 3);
    EXPECT_EQ(Standin_Live().modules, 0);
    EXPECT_FALSE(DoubleStillLoaded());
    Standin_SetDriverResult(4);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "second"), 4);
    EXPECT_FALSE(DoubleStillLoaded());

    EXPECT_EQ(Lines(Standin_LoadedPaths()),
              (std::vector<std::string>{kKernel32Path, directory.LibraryPath(), kKernel32Path,
                                        directory.LibraryPath()}));
    EXPECT_EQ(Standin_DriverCalls(), 2);
}

// The longest driver directory (with its separator) that still takes
// "TRIVDRUI.DLL" within 259 characters.
constexpr size_t kLongestDirectory = 259 - 12;

// Pads the driver directory, below the temporary one, to `length`
// characters with its trailing separator.
std::string PaddingFor(size_t length) {
    size_t base = DriverDirectory::BaseLength() + 2;  // its two separators
    return length > base ? std::string(length - base, 'd') : std::string();
}

TEST_F(LibraryRouteTest, DirectoryThatJustFitsIsUsed) {
    if (DriverDirectory::BaseLength() + 3 > kLongestDirectory) GTEST_SKIP() << "TMPDIR too long";
    DriverDirectory deep(TRIVDRUI_DOUBLE_PATH, PaddingFor(kLongestDirectory));
    ASSERT_EQ(deep.Path().size(), kLongestDirectory);
    AddPrinter(kPrinter, nullptr, &deep);
    Standin_SetDriverResult(9);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 9);
    EXPECT_EQ(Lines(Standin_LoadedPaths()).back(), deep.LibraryPath());
    EXPECT_EQ(deep.LibraryPath().size(), 259u);
}

TEST_F(LibraryRouteTest, DirectoryOneCharacterTooLongLoadsNothing) {
    if (DriverDirectory::BaseLength() + 3 > kLongestDirectory) GTEST_SKIP() << "TMPDIR too long";
    DriverDirectory deep(TRIVDRUI_DOUBLE_PATH, PaddingFor(kLongestDirectory + 1));
    ASSERT_EQ(deep.Path().size(), kLongestDirectory + 1);
    AddPrinter(kPrinter, nullptr, &deep);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 99);
    EXPECT_EQ(Lines(Standin_LoadedPaths()), std::vector<std::string>{kKernel32Path});
    EXPECT_EQ(Standin_DriverCalls(), 0);
}

TEST_F(LibraryRouteTest, DirectoryOf255CharactersLoadsNothing) {
    std::string dir = "C:\\" + std::string(251, 'd') + "\\";
    ASSERT_EQ(dir.size(), 255u);
    Standin_AddPrinter(kPrinter, (dir + "UNIDRV.DLL").c_str(), 220, nullptr, nullptr);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 99);
    EXPECT_EQ(Lines(Standin_LoadedPaths()), std::vector<std::string>{kKernel32Path});
}

// --- A library without the export -------------------------------------------------

class LibraryRouteWithoutExport : public TransferTest {
protected:
    DriverDirectory partial{TRIVDRUI_PARTIAL_PATH};
};

TEST_F(LibraryRouteWithoutExport, Gives99AndStillFreesTheLibrary) {
    AddPrinter(kPrinter, nullptr, &partial);
    EXPECT_EQ(SPRINST_DefaultSetting(kPrinter, "x"), 99);
    EXPECT_EQ(Standin_DriverCalls(), 0);
    EXPECT_EQ(Lines(Standin_LoadedPaths()).back(), partial.LibraryPath());
    EXPECT_EQ(Standin_Live().modules, 0);
}

TEST_F(LibraryRouteWithoutExport, OtherExportsStillAnswer) {
    AddPrinter(kPrinter, nullptr, &partial);
    Standin_SetDriverResult(13);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 13);
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), 13);
    EXPECT_EQ(SPRINST_PersonalInfoImport(kPrinter, "x"), 13);
    EXPECT_EQ(Standin_DriverCalls(), 3);
}

// --- Failures before the driver's library is reached -------------------------------

struct Fault {
    const char *name;
    void (*inject)();
};

void PrintTo(const Fault &fault, std::ostream *os) { *os << fault.name; }

class LibraryRouteFault : public LibraryRouteTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(LibraryRouteFault, Gives99AndCallsNothing) {
    Standin_SetDriverResult(0);
    GetParam().inject();
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 99);
    EXPECT_EQ(Standin_DriverCalls(), 0);
    EXPECT_FALSE(DoubleStillLoaded());
}

// Kernel32.dll is the first library loaded and IsWow64Process the first
// export looked up; TRIVDRUI.DLL and its export come second.
const Fault kFaults[] = {
    {"OpenPrinter", [] { Standin_FailAlways(StandinOpenPrinter, 1); }},
    {"DriverInfoSize", [] { Standin_FailNth(StandinGetPrinterDriver, 1); }},
    {"DriverInfoAllocation", [] { Standin_FailAlways(StandinGlobalAlloc, 1); }},
    {"DriverInfo", [] { Standin_FailNth(StandinGetPrinterDriver, 2); }},
    {"LoadLibrary", [] { Standin_FailNth(StandinLoadLibrary, 2); }},
    {"Export", [] { Standin_FailNth(StandinGetProcAddress, 2); }},
};

INSTANTIATE_TEST_SUITE_P(Table, LibraryRouteFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault> &info) {
                             return std::string(info.param.name);
                         });

TEST_F(LibraryRouteTest, MissingTrivdruiGives99) {
    DriverDirectory empty(nullptr);
    AddPrinter(kPrinter, nullptr, &empty);
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), 99);
    EXPECT_EQ(Lines(Standin_LoadedPaths()).back(), empty.LibraryPath());
}

TEST_F(LibraryRouteTest, LoadDriverSettingsLibraryClosesThePrinterAndKeepsTheModule) {
    HMODULE library = LoadDriverSettingsLibrary(kPrinter);
    ASSERT_NE(library, nullptr);
    StandinLive live = Standin_Live();
    EXPECT_EQ(live.printers, 0);
    EXPECT_EQ(live.modules, 1);
    EXPECT_EQ(live.blocks, 0);
    FreeLibrary(library);
    EXPECT_EQ(LoadDriverSettingsLibrary("no such printer"), nullptr);
}

}  // namespace
}  // namespace transfer_test
