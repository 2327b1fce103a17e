// Choosing the route on every call: the escape route only when
// IsWow64Process, found at run time in Kernel32.dll of the system directory,
// says so; the library route in every other case.

#include <stdint.h>

#include <string>
#include <vector>

#include "transfer_test_support.h"

namespace transfer_test {
namespace {

constexpr char kPrinter[] = "Office Laser 5100";
// What each route answers, so a result tells which one was taken.
constexpr int32_t kByEscape = 11;
constexpr int32_t kByLibrary = 22;

// A printer reachable both ways: a driver that answers escapes, and
// TRIVDRUI.DLL in its driver's directory.
class RouteChoiceTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        driver.result = kByEscape;
        Standin_SetDriverResult(kByLibrary);
        AddPrinter(kPrinter, &driver, &directory);
    }

    bool LoadedTrivdrui() {
        for (const std::string &path : Lines(Standin_LoadedPaths())) {
            if (path == directory.LibraryPath()) return true;
        }
        return false;
    }

    EscapeDriver driver;
    DriverDirectory directory;
};

TEST_F(RouteChoiceTest, Wow64NeverLoadsTrivdruiEvenWhenPresent) {
    Standin_SetWow64(1);
    for (const Operation &op : kOperations) {
        EXPECT_EQ(op.function(kPrinter, "x"), kByEscape) << op.name;
    }
    EXPECT_EQ(Lines(Standin_LoadedPaths()), std::vector<std::string>(4, kKernel32Path));
    EXPECT_EQ(Standin_DriverCalls(), 0);
    EXPECT_EQ(driver.escapes.size(), 8u);
}

TEST_F(RouteChoiceTest, OutsideWow64NoEscapeIsSent) {
    for (const Operation &op : kOperations) {
        EXPECT_EQ(op.function(kPrinter, "x"), kByLibrary) << op.name;
    }
    EXPECT_TRUE(driver.escapes.empty());
    EXPECT_EQ(Standin_Calls(StandinCreateDC), 0);
    EXPECT_EQ(Standin_DriverCalls(), 4);
}

TEST_F(RouteChoiceTest, RouteIsChosenAnewOnEveryCall) {
    Standin_SetWow64(1);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), kByEscape);
    Standin_SetWow64(0);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), kByLibrary);
    Standin_SetWow64(1);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), kByEscape);
}

// --- When the question cannot be asked, the answer is no --------------------------

TEST_F(RouteChoiceTest, Kernel32WithoutIsWow64ProcessTakesTheLibraryRoute) {
    Standin_SetWow64(1);
    Standin_SetKernel32HasIsWow64(0);
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), kByLibrary);
    EXPECT_TRUE(driver.escapes.empty());
}

TEST_F(RouteChoiceTest, FailingIsWow64ProcessTakesTheLibraryRoute) {
    Standin_SetWow64(1);
    Standin_FailAlways(StandinIsWow64Process, 1);
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), kByLibrary);
    EXPECT_TRUE(driver.escapes.empty());
}

TEST_F(RouteChoiceTest, Kernel32ThatDoesNotLoadTakesTheLibraryRoute) {
    Standin_SetWow64(1);
    Standin_FailNth(StandinLoadLibrary, 1);
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), kByLibrary);
    EXPECT_EQ(Lines(Standin_LoadedPaths()),
              (std::vector<std::string>{kKernel32Path, directory.LibraryPath()}));
}

TEST_F(RouteChoiceTest, NoSystemDirectoryTakesTheLibraryRoute) {
    Standin_SetWow64(1);
    Standin_FailAlways(StandinGetSystemDirectory, 1);
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), kByLibrary);
    EXPECT_EQ(Lines(Standin_LoadedPaths()), std::vector<std::string>{directory.LibraryPath()});
}

// --- The path of Kernel32.dll -------------------------------------------------------

TEST_F(RouteChoiceTest, SystemDirectoryWithItsOwnBackslashGetsNoSecond) {
    Standin_SetWow64(1);
    Standin_SetSystemDirectory("D:\\WINNT\\system32\\");
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), kByEscape);
    EXPECT_EQ(Lines(Standin_LoadedPaths()),
              std::vector<std::string>{"D:\\WINNT\\system32\\Kernel32.dll"});
}

// A system directory of `length` characters, without a final backslash.
std::string SystemDirectory(size_t length) { return "C:\\" + std::string(length - 3, 's'); }

TEST_F(RouteChoiceTest, Kernel32PathOf259CharactersIsUsed) {
    // 246 + "\" + "Kernel32.dll" = 259 characters.
    std::string dir = SystemDirectory(246);
    Standin_SetWow64(1);
    Standin_SetSystemDirectory(dir.c_str());
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), kByEscape);
    EXPECT_EQ(Lines(Standin_LoadedPaths()), std::vector<std::string>{dir + "\\Kernel32.dll"});
}

TEST_F(RouteChoiceTest, Kernel32PathThatDoesNotFitMeansNotWow64) {
    for (size_t length : {247u, 255u, 258u, 259u, 300u}) {
        Standin_Reset();
        driver.escapes.clear();
        Standin_SetDriverResult(kByLibrary);
        AddPrinter(kPrinter, &driver, &directory);
        std::string dir = SystemDirectory(length);
        Standin_SetWow64(1);
        Standin_SetSystemDirectory(dir.c_str());

        EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), kByLibrary) << length;
        EXPECT_EQ(Lines(Standin_LoadedPaths()), std::vector<std::string>{directory.LibraryPath()})
            << length;
        EXPECT_TRUE(driver.escapes.empty()) << length;
    }
}

TEST_F(RouteChoiceTest, RunningUnderWow64FollowsTheSystemAndFreesKernel32) {
    EXPECT_FALSE(RunningUnderWow64());
    Standin_SetWow64(1);
    EXPECT_TRUE(RunningUnderWow64());
    EXPECT_EQ(Standin_Live().modules, 0);
    EXPECT_EQ(Standin_Calls(StandinIsWow64Process), 2);
}

// --- No printer -----------------------------------------------------------------

class RouteChoiceOperation : public RouteChoiceTest,
                             public ::testing::WithParamInterface<Operation> {};

TEST_P(RouteChoiceOperation, NullPrinterNameGives99OnBothRoutes) {
    for (int wow64 : {0, 1}) {
        Standin_SetWow64(wow64);
        EXPECT_EQ(GetParam().function(nullptr, "x"), 99) << "WOW64 " << wow64;
    }
    EXPECT_TRUE(driver.escapes.empty());
    EXPECT_EQ(Standin_DriverCalls(), 0);
}

TEST_P(RouteChoiceOperation, UnknownPrinterGives99OnBothRoutes) {
    for (int wow64 : {0, 1}) {
        Standin_SetWow64(wow64);
        EXPECT_EQ(GetParam().function("Office Laser 5200", "x"), 99) << "WOW64 " << wow64;
    }
    EXPECT_TRUE(driver.escapes.empty());
    EXPECT_EQ(Standin_DriverCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(EachExport, RouteChoiceOperation, ::testing::ValuesIn(kOperations),
                         OperationName);

}  // namespace
}  // namespace transfer_test
