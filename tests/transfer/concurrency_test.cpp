// Calls from several threads at once: each call works on its own handles and
// buffers, so each gets its own result. The WOW64 switch is process-wide,
// so each route is run on its own.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "transfer_test_support.h"

namespace transfer_test {
namespace {

constexpr int kThreads = 4;
constexpr int kCallsPerThread = 200;

// A driver that answers each transfer escape with the number its argument
// spells, and checks that the buffer names the printer of the context.
int EchoArgument(void *, const char *printerName, const void *, int, int escape, int inputSize,
                 const void *input, int outputSize, void *output) {
    if (escape == QUERYESCSUPPORT) return 1;
    if (inputSize != kBufferSize || outputSize != 4) return 0;
    const char *buffer = static_cast<const char *>(input);
    if (strcmp(buffer + kHalf, printerName) != 0) return 0;
    int32_t result = static_cast<int32_t>(strtol(buffer, nullptr, 10));
    memcpy(output, &result, 4);
    return 1;
}

std::string PrinterOf(int thread) { return "Printer of thread " + std::to_string(thread); }

class ConcurrentTransfer : public TransferTest {};

TEST_F(ConcurrentTransfer, EscapeRouteCallsEachGetTheirOwnResult) {
    Standin_SetWow64(1);
    for (int t = 0; t < kThreads; ++t) {
        Standin_AddPrinter(PrinterOf(t).c_str(), "C:\\drivers\\UNIDRV.DLL", 64 + t, EchoArgument,
                           nullptr);
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            std::string printer = PrinterOf(t);
            const Operation &op = kOperations[t % 4];
            for (int i = 0; i < kCallsPerThread; ++i) {
                int32_t expected = t * 100000 + i;
                std::string argument = std::to_string(expected);
                if (op.function(printer.c_str(), argument.c_str()) != expected) ++wrong;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(Standin_Calls(StandinCreateDC), kThreads * kCallsPerThread);
}

TEST_F(ConcurrentTransfer, LibraryRouteCallsEachReachTheirOwnExport) {
    // The double's result is process-wide; what is each thread's own here
    // is the export and the pair of pointers it receives.
    DriverDirectory directory;
    for (int t = 0; t < kThreads; ++t) {
        Standin_AddPrinter(PrinterOf(t).c_str(), directory.DriverPath().c_str(), 64, nullptr,
                           nullptr);
    }
    Standin_SetDriverResult(-3);
    std::vector<std::string> printers, arguments;
    for (int t = 0; t < kThreads; ++t) {
        printers.push_back(PrinterOf(t));
        arguments.push_back("argument of thread " + std::to_string(t));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong, &printers, &arguments] {
            const Operation &op = kOperations[t % 4];
            for (int i = 0; i < kCallsPerThread; ++i) {
                if (op.function(printers[t].c_str(), arguments[t].c_str()) != -3) ++wrong;
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(wrong.load(), 0);

    ASSERT_EQ(Standin_DriverCalls(), kThreads * kCallsPerThread);
    int perThread[kThreads] = {};
    for (int i = 0; i < Standin_DriverCalls(); ++i) {
        StandinDriverCall call = Standin_DriverCall(i);
        int t = 0;
        while (t < kThreads && call.printerName != printers[t].c_str()) ++t;
        ASSERT_LT(t, kThreads) << "call " << i << " got a pointer no caller passed";
        EXPECT_EQ(call.argument, arguments[t].c_str()) << "call " << i;
        EXPECT_STREQ(call.exportName, kOperations[t % 4].name) << "call " << i;
        ++perThread[t];
    }
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(perThread[t], kCallsPerThread) << "thread " << t;
}

}  // namespace
}  // namespace transfer_test
