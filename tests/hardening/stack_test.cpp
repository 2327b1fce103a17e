// The encoder's stack. It runs on other people's threads, some with small
// stacks, so its depth is measured and every format is encoded on a thread
// whose whole stack is 16 KiB.

#include <gtest/gtest.h>
#include <pthread.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "hardening_support.h"
#include "simd_support.h"

namespace hardening {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define SANITIZED 1
#endif
#endif

// The most the encoder may use; a change that needs more must say why.
constexpr size_t kStackBudget = 8 * 1024;

struct Job {
    const std::vector<Case> *cases;
    int failures = 0;
    uintptr_t entry = 0;
};

void *EncodeAll(void *arg) {
    Job *run = static_cast<Job *>(arg);
    volatile char marker = 0;
    run->entry = reinterpret_cast<uintptr_t>(&marker);
    std::vector<uint8_t> dest;
    // Every vector level the processor has, and none: each takes other
    // frames, and all must fit.
    for (uint32_t level = SimdNone; level <= SimdHighest; ++level) {
        LimitSimdLevel(level);
        for (const Case &c : *run->cases) {
            uint32_t destSize = 0;
            if (c.Run(&dest, &destSize) != c.expectedStatus || dest != c.expectedBytes) {
                ++run->failures;
            }
        }
    }
    LimitSimdLevel(SimdHighest);
    return nullptr;
}

TEST(Stack, EveryFormatEncodesOnA16KiBThread) {
#ifdef SANITIZED
    GTEST_SKIP() << "the sanitizers enlarge every frame";
#endif
    // aarch64 Linux, with its 64 KiB pages, allows no thread stack below
    // 128 KiB; the painted stack below measures the depth there too.
    if (sysconf(_SC_THREAD_STACK_MIN) > 16 * 1024) GTEST_SKIP() << "no 16 KiB threads here";
    std::vector<Case> cases = MakeCases();
    Job run{&cases};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 16 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, EncodeAll, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(run.failures, 0);
}

// Paints a stack, encodes every case on it, and finds the lowest byte that
// changed: the depth below the thread function's own frame.
TEST(Stack, DeepestEncodeStaysWithinBudget) {
#ifdef SANITIZED
    GTEST_SKIP() << "the sanitizers enlarge every frame";
#endif
    std::vector<Case> cases = MakeCases();
    constexpr size_t kSize = 256 * 1024;
    void *memory = mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(memory, MAP_FAILED);
    memset(memory, 0xCD, kSize);
    Job run{&cases};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    ASSERT_EQ(pthread_attr_setstack(&attr, memory, kSize), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, EncodeAll, &run), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
    EXPECT_EQ(run.failures, 0);

    const uint8_t *bytes = static_cast<const uint8_t *>(memory);
    size_t lowest = 0;
    while (lowest < kSize && bytes[lowest] == 0xCD) ++lowest;
    uintptr_t deepest = reinterpret_cast<uintptr_t>(bytes + lowest);
    ASSERT_GT(run.entry, deepest);
    size_t depth = run.entry - deepest;
    // The vector and GoogleTest calls in EncodeAll count too; the encoder's
    // own share is most of it.
    printf("deepest stack below the calling frame: %zu bytes\n", depth);
    RecordProperty("stack_bytes", static_cast<int>(depth));
    EXPECT_LE(depth, kStackBudget);
    munmap(memory, kSize);
}

}  // namespace
}  // namespace hardening
