// The encoder allocates nothing. This program replaces malloc, calloc,
// realloc, free and operator new and delete with counting versions, and
// requires that no Jpeg_EncodeStart call of any format or mode reaches them.
// (Not built with the sanitizers, which own the allocator.)

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <new>

#include "hardening_support.h"

extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);
void __libc_free(void *);
}

namespace {
std::atomic<bool> counting{false};
std::atomic<int> allocatorCalls{0};
void Count() {
    if (counting.load(std::memory_order_relaxed)) allocatorCalls.fetch_add(1);
}
}  // namespace

extern "C" {
void *malloc(size_t n) {
    Count();
    return __libc_malloc(n);
}
void *calloc(size_t n, size_t size) {
    Count();
    return __libc_calloc(n, size);
}
void *realloc(void *p, size_t n) {
    Count();
    return __libc_realloc(p, n);
}
void free(void *p) {
    Count();
    __libc_free(p);
}
}

void *operator new(size_t n) {
    Count();
    void *p = __libc_malloc(n ? n : 1);
    if (!p) throw std::bad_alloc();
    return p;
}
void *operator new[](size_t n) { return operator new(n); }
void operator delete(void *p) noexcept {
    Count();
    __libc_free(p);
}
void operator delete[](void *p) noexcept { operator delete(p); }
void operator delete(void *p, size_t) noexcept { operator delete(p); }
void operator delete[](void *p, size_t) noexcept { operator delete(p); }

namespace hardening {
namespace {

TEST(NoHeap, CountingAllocatorSeesOrdinaryAllocations) {
    allocatorCalls = 0;
    counting = true;
    // Through a volatile pointer: clang drops a malloc whose block is only freed.
    void *volatile p = malloc(10);
    free(p);
    counting = false;
    EXPECT_EQ(allocatorCalls.load(), 2) << "the counting allocator is not in use";
}

TEST(NoHeap, NoEncodeCallAllocates) {
    const std::vector<Case> cases = MakeCases();
    for (const Case &c : cases) {
        // The buffers are made before counting starts; only the call counts.
        std::vector<uint8_t> source = c.source;
        std::vector<uint8_t> dest(c.capacity ? c.capacity : 1);
        JpegEncodeJob job = c.job;
        job.sourceData = source.data();
        job.destData = dest.data();
        job.destSize = c.capacity;
        allocatorCalls = 0;
        counting = true;
        uint16_t status = Jpeg_EncodeStart(&job, c.mode);
        counting = false;
        EXPECT_EQ(status, c.expectedStatus);
        EXPECT_EQ(allocatorCalls.load(), 0)
            << c.job.bitsPerPixel << " bpp, mode " << c.mode << ", status 0x" << std::hex << status;
    }
}

}  // namespace
}  // namespace hardening
