// The call trampoline itself: it must report each way a callee can break its
// convention, and set up the stack alignment it was asked for, or the checks
// built on it prove nothing.

#include <stdint.h>

#include "pe_test_support.h"

extern "C" {
// Hand-written callees, each misbehaving in one way (defined below).
void PeTest_StackAtCall(void);    // eax = the stack pointer at the call instruction
void PeTest_ChangesEsi(void);     // returns with esi changed
void PeTest_ChangesEbx(void);     // returns with ebx changed
void PeTest_SetsDirection(void);  // returns with the direction flag set
void PeTest_PopsTwelve(void);     // ret $12, whatever it was given
}

asm(R"(
    .text
    .globl  PeTest_StackAtCall
    .hidden PeTest_StackAtCall
PeTest_StackAtCall:
    leal    4(%esp), %eax
    ret
    .globl  PeTest_ChangesEsi
    .hidden PeTest_ChangesEsi
PeTest_ChangesEsi:
    xorl    %esi, %esi
    ret
    .globl  PeTest_ChangesEbx
    .hidden PeTest_ChangesEbx
PeTest_ChangesEbx:
    incl    %ebx
    ret
    .globl  PeTest_SetsDirection
    .hidden PeTest_SetsDirection
PeTest_SetsDirection:
    std
    ret
    .globl  PeTest_PopsTwelve
    .hidden PeTest_PopsTwelve
PeTest_PopsTwelve:
    ret     $12
)");

namespace pe_test {
namespace {

__attribute__((stdcall)) int32_t Subtract(int32_t a, int32_t b) { return a - b; }
__attribute__((cdecl)) int32_t SubtractCdecl(int32_t a, int32_t b) { return a - b; }
__attribute__((cdecl)) int64_t Widen(int32_t high, int32_t low) {
    return static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 |
                                static_cast<uint32_t>(low));
}

const void *Address(void (*function)(void)) { return reinterpret_cast<const void *>(function); }
template <class F>
const void *Address(F *function) {
    return reinterpret_cast<const void *>(function);
}

TEST(PeCall, PassesArgumentsInOrderAndMeasuresWhatTheCalleePops) {
    for (int32_t offset : {0, 4, 8, 12}) {
        PeCallResult stdcall = Call(Address(&Subtract), {10, 3}, offset);
        EXPECT_EQ(static_cast<int32_t>(stdcall.eax), 7);
        EXPECT_EQ(stdcall.popped, 8) << "a __stdcall callee pops its two arguments";
        PeCallResult cdecl = Call(Address(&SubtractCdecl), {10, 3}, offset);
        EXPECT_EQ(static_cast<int32_t>(cdecl.eax), 7);
        EXPECT_EQ(cdecl.popped, 0) << "a __cdecl callee leaves them";
        for (const PeCallResult &r : {stdcall, cdecl}) {
            EXPECT_TRUE(r.registersKept);
            EXPECT_TRUE(r.directionClear);
        }
    }
}

TEST(PeCall, ReturnsBothHalvesOfA64BitResult) {
    PeCallResult r = Call(Address(&Widen), {0x01234567, static_cast<uint32_t>(-2)}, 4);
    EXPECT_EQ(r.edx, 0x01234567u);
    EXPECT_EQ(r.eax, 0xFFFFFFFEu);
}

TEST(PeCall, StackPointerAtTheCallIsAsFarAboveA16ByteBoundaryAsAsked) {
    for (int32_t offset : {0, 4, 8, 12}) {
        for (int count : {0, 1, 2, 3, 5}) {
            uint32_t args[5] = {1, 2, 3, 4, 5};
            PeCallResult r = {};
            Pe_Call(Address(PeTest_StackAtCall), args, count, offset, &r);
            EXPECT_EQ(r.eax % 16, static_cast<uint32_t>(offset)) << count << " arguments";
            EXPECT_EQ(r.popped, 0);
        }
    }
}

TEST(PeCall, ReportsEachBrokenPartOfTheConvention) {
    PeCallResult esi = Call(Address(PeTest_ChangesEsi), {}, 4);
    EXPECT_FALSE(esi.registersKept);
    PeCallResult ebx = Call(Address(PeTest_ChangesEbx), {}, 0);
    EXPECT_FALSE(ebx.registersKept);
    PeCallResult direction = Call(Address(PeTest_SetsDirection), {}, 4);
    EXPECT_FALSE(direction.directionClear);
    EXPECT_TRUE(direction.registersKept);
    // A callee that pops more than it was given: the caller's frame survives.
    PeCallResult popper = Call(Address(PeTest_PopsTwelve), {1, 2}, 0);
    EXPECT_EQ(popper.popped, 12);
    // And the trampoline hands its caller a clean state after each of them.
    EXPECT_EQ(Call(Address(&Subtract), {5, 8}, 4).eax, static_cast<uint32_t>(-3));
}

}  // namespace
}  // namespace pe_test
