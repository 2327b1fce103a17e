// The escape route: a 32-bit process on a 64-bit system sends each operation
// to the printer driver as QUERYESCSUPPORT and then the operation's own
// escape, with an 8192-byte buffer (argument from byte 0, printer name from
// byte 4096) on a device context that carries the printer's DEVMODE.

#include <stdint.h>

#include <string>
#include <vector>

#include "transfer_test_support.h"

namespace transfer_test {
namespace {

constexpr char kPrinter[] = "Office Laser 5100";

// Printable characters that change along the string, so a cut or a shift
// shows.
std::string Pattern(size_t length, char first = 'a') {
    std::string s(length, ' ');
    for (size_t i = 0; i < length; ++i) s[i] = static_cast<char>(first + i % 26);
    return s;
}

class EscapeRouteTest : public TransferTest {
protected:
    void SetUp() override {
        TransferTest::SetUp();
        Standin_SetWow64(1);
    }

    // The buffer of the one transfer escape the driver received.
    std::vector<uint8_t> SentBuffer() {
        EXPECT_EQ(driver.escapes.size(), 2u);
        if (driver.escapes.size() != 2) return {};
        return driver.escapes[1].input;
    }

    EscapeDriver driver;
};

// --- The two escapes ------------------------------------------------------------

class EscapeRouteOperation : public EscapeRouteTest,
                             public ::testing::WithParamInterface<Operation> {};

TEST_P(EscapeRouteOperation, QueriesItsOwnCodeThenSendsIt) {
    const Operation &op = GetParam();
    AddPrinter(kPrinter, &driver, nullptr);
    driver.result = 3;

    EXPECT_EQ(op.function(kPrinter, "C:\\settings.dat"), 3);

    ASSERT_EQ(driver.escapes.size(), 2u);
    const Escape &query = driver.escapes[0];
    EXPECT_EQ(query.escape, QUERYESCSUPPORT);
    ASSERT_EQ(query.input.size(), 4u);
    int32_t queried;
    memcpy(&queried, query.input.data(), 4);
    EXPECT_EQ(queried, op.code);
    EXPECT_EQ(query.outputSize, 4);

    const Escape &transfer = driver.escapes[1];
    EXPECT_EQ(transfer.escape, op.code);
    EXPECT_EQ(transfer.input.size(), static_cast<size_t>(kBufferSize));
    EXPECT_EQ(transfer.outputSize, 4);
    EXPECT_EQ(transfer.input, ExpectedBuffer("C:\\settings.dat", kPrinter));
    EXPECT_EQ(Standin_DriverCalls(), 0);
}

INSTANTIATE_TEST_SUITE_P(EachExport, EscapeRouteOperation, ::testing::ValuesIn(kOperations),
                         OperationName);

// --- The buffer, byte for byte ---------------------------------------------------

TEST_F(EscapeRouteTest, ShortStringsAreNulPadded) {
    AddPrinter(kPrinter, &driver, nullptr);
    SPRINST_SettingExport(kPrinter, "\\\\server\\share\\office.cfg");
    std::vector<uint8_t> sent = SentBuffer();
    std::vector<uint8_t> expected = ExpectedBuffer("\\\\server\\share\\office.cfg", kPrinter);
    EXPECT_EQ(FirstDifference(sent, expected), -1);
}

TEST_F(EscapeRouteTest, LongPrinterNameIsCutTo4095ForTheContextAndTheBuffer) {
    std::string name = Pattern(5000);
    std::string cut = name.substr(0, 4095);
    // Only the cut name is known to the spooler: the full one opens nothing.
    AddPrinter(cut, &driver, nullptr);

    EXPECT_EQ(SPRINST_SettingImport(name.c_str(), "arg"), 0);

    EXPECT_EQ(Lines(Standin_OpenedPrinters()), std::vector<std::string>{cut});
    std::vector<uint8_t> sent = SentBuffer();
    ASSERT_EQ(sent.size(), static_cast<size_t>(kBufferSize));
    EXPECT_EQ(driver.escapes[1].printerName, cut);
    EXPECT_EQ(sent[8191], 0);
    EXPECT_EQ(FirstDifference(sent, ExpectedBuffer("arg", cut)), -1);
}

TEST_F(EscapeRouteTest, LongArgumentIsCutTo4095) {
    std::string argument = Pattern(5000, 'A');
    AddPrinter(kPrinter, &driver, nullptr);
    SPRINST_PersonalInfoImport(kPrinter, argument.c_str());
    std::vector<uint8_t> sent = SentBuffer();
    ASSERT_EQ(sent.size(), static_cast<size_t>(kBufferSize));
    EXPECT_EQ(sent[4094], static_cast<uint8_t>(argument[4094]));
    EXPECT_EQ(sent[4095], 0);
    EXPECT_EQ(FirstDifference(sent, ExpectedBuffer(argument.substr(0, 4095), kPrinter)), -1);
}

TEST_F(EscapeRouteTest, StringsOf4095CharactersFillBothHalvesWhole) {
    std::string argument = Pattern(4095, 'A');
    std::string name = Pattern(4095, 'a');
    AddPrinter(name, &driver, nullptr);
    SPRINST_SettingExport(name.c_str(), argument.c_str());
    std::vector<uint8_t> sent = SentBuffer();
    ASSERT_EQ(sent.size(), static_cast<size_t>(kBufferSize));
    EXPECT_EQ(sent[4095], 0);
    EXPECT_EQ(sent[8191], 0);
    EXPECT_EQ(FirstDifference(sent, ExpectedBuffer(argument, name)), -1);
}

TEST_F(EscapeRouteTest, EmptyArgumentGivesAnAllZeroFirstHalf) {
    AddPrinter(kPrinter, &driver, nullptr);
    SPRINST_DefaultSetting(kPrinter, "");
    std::vector<uint8_t> sent = SentBuffer();
    EXPECT_EQ(FirstDifference(sent, ExpectedBuffer("", kPrinter)), -1);
}

TEST_F(EscapeRouteTest, NullArgumentIsSentAsEmpty) {
    AddPrinter(kPrinter, &driver, nullptr);
    driver.result = 4;
    EXPECT_EQ(SPRINST_DefaultSetting(kPrinter, nullptr), 4);
    std::vector<uint8_t> sent = SentBuffer();
    EXPECT_EQ(FirstDifference(sent, ExpectedBuffer("", kPrinter)), -1);
}

TEST_F(EscapeRouteTest, BufferStartsZeroedOnEveryCall) {
    // A long string first, then short ones: nothing of the first may remain.
    std::string longArgument = Pattern(4095, 'A');
    AddPrinter(kPrinter, &driver, nullptr);
    SPRINST_SettingExport(kPrinter, longArgument.c_str());
    SPRINST_SettingExport(kPrinter, "b");
    ASSERT_EQ(driver.escapes.size(), 4u);
    EXPECT_EQ(FirstDifference(driver.escapes[3].input, ExpectedBuffer("b", kPrinter)), -1);
}

// --- The device context -----------------------------------------------------------

TEST_F(EscapeRouteTest, DeviceContextCarriesThePrintersDevmode) {
    AddPrinter(kPrinter, &driver, nullptr, 301);
    SPRINST_SettingImport(kPrinter, "x");
    // The stand-in fills a printer's DEVMODE with its name, repeated.
    std::string name = kPrinter;
    std::vector<uint8_t> expected(301);
    for (size_t i = 0; i < expected.size(); ++i) expected[i] = name[i % name.size()];
    ASSERT_EQ(driver.escapes.size(), 2u);
    for (const Escape &e : driver.escapes) {
        EXPECT_EQ(e.printerName, kPrinter);
        EXPECT_EQ(e.devmode, expected) << "escape " << e.escape;
    }
}

// --- The result -------------------------------------------------------------------

class EscapeRouteResult : public EscapeRouteTest, public ::testing::WithParamInterface<int32_t> {};

TEST_P(EscapeRouteResult, DriversResultComesBackUnchanged) {
    AddPrinter(kPrinter, &driver, nullptr);
    driver.result = GetParam();
    for (const Operation &op : kOperations) {
        EXPECT_EQ(op.function(kPrinter, "x"), GetParam()) << op.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Values, EscapeRouteResult,
                         ::testing::Values(0, 5, -7, 99, INT32_MIN, INT32_MAX));

TEST_F(EscapeRouteTest, ReturnValueOfTheTransferEscapeIsNotConsulted) {
    AddPrinter(kPrinter, &driver, nullptr);
    driver.result = 12;
    for (int returns : {0, -1, 1, 8192}) {
        driver.escapeReturns = returns;
        EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 12) << "ExtEscape returned " << returns;
    }
}

TEST_F(EscapeRouteTest, UnsupportedCodeIsNotSentAndGives99) {
    AddPrinter(kPrinter, &driver, nullptr);
    driver.supported = false;
    driver.result = 0;
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), 99);
    ASSERT_EQ(driver.escapes.size(), 1u);
    EXPECT_EQ(driver.escapes[0].escape, QUERYESCSUPPORT);
}

TEST_F(EscapeRouteTest, UnsupportedCodeGivesWhatTheDriverLeftInTheResultArea) {
    AddPrinter(kPrinter, &driver, nullptr);
    driver.supported = false;
    driver.writeOnQuery = true;
    driver.queryWrites = 42;
    EXPECT_EQ(SPRINST_SettingImport(kPrinter, "x"), 42);
    EXPECT_EQ(driver.escapes.size(), 1u);
}

// A driver that accepts the escape but never writes its result.
int AcceptWithoutResult(void *, const char *, const void *, int, int, int, const void *, int,
                        void *) {
    return 1;
}

TEST_F(EscapeRouteTest, ResultAreaStartsAt99) {
    Standin_AddPrinter(kPrinter, "C:\\drivers\\UNIDRV.DLL", 220, AcceptWithoutResult, nullptr);
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 99);
}

// --- Failures before the driver is reached ------------------------------------------

struct Fault {
    const char *name;
    int devmodeSize;
    void (*inject)();
};

void PrintTo(const Fault &fault, std::ostream *os) { *os << fault.name; }

class EscapeRouteFault : public EscapeRouteTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(EscapeRouteFault, Gives99AndSendsNothing) {
    AddPrinter(kPrinter, &driver, nullptr, GetParam().devmodeSize);
    driver.result = 0;
    if (GetParam().inject) GetParam().inject();
    EXPECT_EQ(SPRINST_SettingExport(kPrinter, "x"), 99);
    EXPECT_TRUE(driver.escapes.empty());
}

const Fault kFaults[] = {
    // The escape buffer is the first allocation, the DEVMODE the second.
    {"BufferAllocation", 220, [] { Standin_FailNth(StandinGlobalAlloc, 1); }},
    {"OpenPrinter", 220, [] { Standin_FailAlways(StandinOpenPrinter, 1); }},
    {"DevmodeSizeZero", 0, nullptr},
    {"DevmodeSizeNegative", -1, nullptr},
    {"DevmodeAllocation", 220, [] { Standin_FailNth(StandinGlobalAlloc, 2); }},
    {"DevmodeFill", 220, [] { Standin_FailAlways(StandinDocumentProperties, 1); }},
    {"CreateDC", 220, [] { Standin_FailAlways(StandinCreateDC, 1); }},
};

INSTANTIATE_TEST_SUITE_P(Table, EscapeRouteFault, ::testing::ValuesIn(kFaults),
                         [](const ::testing::TestParamInfo<Fault> &info) {
                             return std::string(info.param.name);
                         });

// --- The parts, called directly ------------------------------------------------------

TEST_F(EscapeRouteTest, SendTransferEscapeRefusesCodesOutsideTheFour) {
    AddPrinter(kPrinter, &driver, nullptr);
    for (int32_t code : {9999, 10004, QUERYESCSUPPORT, 0, -10000}) {
        EXPECT_EQ(SendTransferEscape(kPrinter, "x", code), 99) << code;
    }
    EXPECT_TRUE(driver.escapes.empty());
    EXPECT_STREQ(Standin_OpenedPrinters(), "");
}

TEST_F(EscapeRouteTest, CreatePrinterDCClosesThePrinterAndKeepsTheContext) {
    AddPrinter(kPrinter, &driver, nullptr);
    HDC dc = CreatePrinterDC(kPrinter);
    ASSERT_NE(dc, nullptr);
    StandinLive live = Standin_Live();
    EXPECT_EQ(live.printers, 0);
    EXPECT_EQ(live.dcs, 1);
    EXPECT_EQ(live.blocks, 0);
    DeleteDC(dc);
    EXPECT_EQ(CreatePrinterDC("no such printer"), nullptr);
}

}  // namespace
}  // namespace transfer_test
