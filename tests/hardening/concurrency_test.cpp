// Many encodes at once: valid jobs of every format mixed with jobs that fail
// at different steps. Each call must get exactly the status, length and
// bytes it gets alone; a shared status word would mix the failure codes.

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

#include "hardening_support.h"

namespace hardening {
namespace {

TEST(Concurrency, EveryCallGetsItsOwnResultStatusAndBytes) {
    const std::vector<Case> cases = MakeCases();
    std::set<uint16_t> statuses;
    for (const Case &c : cases) statuses.insert(c.expectedStatus);
    // The mix really fails at different steps.
    for (uint16_t s : {0x0000, 0x2005, 0x2095, 0x2045, 0x2080, 0x2085, 0x2F00, 0x2030}) {
        EXPECT_TRUE(statuses.count(s)) << std::hex << "no case returns 0x" << s;
    }

    constexpr int kThreads = 6;
    constexpr int kRounds = 3;
    std::atomic<int> mismatches{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint8_t> dest;
            for (int round = 0; round < kRounds; ++round) {
                // Each thread walks the cases from a different start, so
                // different kinds of call overlap.
                for (size_t k = 0; k < cases.size(); ++k) {
                    const Case &c = cases[(k * 7 + t * 13 + round) % cases.size()];
                    uint32_t destSize = 0;
                    uint16_t status = c.Run(&dest, &destSize);
                    if (status != c.expectedStatus || destSize != c.expectedDestSize ||
                        dest != c.expectedBytes) {
                        ++mismatches;
                    }
                }
            }
        });
    }
    for (std::thread &thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace hardening
