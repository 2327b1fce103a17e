// The shipped libtrivsets.so, loaded as a caller loads it: its four
// transfer exports found by name and called on both routes.

#include <dlfcn.h>
#include <stdint.h>

#include "transfer_test_support.h"

namespace transfer_test {
namespace {

constexpr char kPrinter[] = "Office Laser 5100";

class SharedLibraryTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        library = dlopen(TRIVSETS_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        driver.result = 31;
        Standin_SetDriverResult(32);
        AddPrinter(kPrinter, &driver, &directory);
    }
    void TearDown() override {
        // Unloading frees what loading acquired (the message table).
        if (library != nullptr) dlclose(library);
        TransferTest::TearDown();
    }

    TransferFunction Export(const char *name) {
        return reinterpret_cast<TransferFunction>(dlsym(library, name));
    }

    void *library = nullptr;
    EscapeDriver driver;
    DriverDirectory directory;
};

TEST_F(SharedLibraryTest, ExportsTakeTheEscapeRouteUnderWow64) {
    Standin_SetWow64(1);
    for (const Operation &op : kOperations) {
        TransferFunction function = Export(op.name);
        ASSERT_NE(function, nullptr) << op.name;
        EXPECT_EQ(function(kPrinter, "x"), 31) << op.name;
    }
    ASSERT_EQ(driver.escapes.size(), 8u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(driver.escapes[2 * i + 1].escape, kOperations[i].code);
    EXPECT_EQ(Standin_DriverCalls(), 0);
}

TEST_F(SharedLibraryTest, ExportsTakeTheLibraryRouteOtherwise) {
    const char *argument = "C:\\settings.dat";
    for (const Operation &op : kOperations) {
        TransferFunction function = Export(op.name);
        ASSERT_NE(function, nullptr) << op.name;
        EXPECT_EQ(function(kPrinter, argument), 32) << op.name;
    }
    ASSERT_EQ(Standin_DriverCalls(), 4);
    for (int i = 0; i < 4; ++i) {
        StandinDriverCall call = Standin_DriverCall(i);
        EXPECT_STREQ(call.exportName, kOperations[i].name);
        EXPECT_EQ(call.printerName, kPrinter);
        EXPECT_EQ(call.argument, argument);
    }
    EXPECT_TRUE(driver.escapes.empty());
}

}  // namespace
}  // namespace transfer_test
