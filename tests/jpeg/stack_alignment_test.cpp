// A 32-bit Windows caller guarantees only 4-byte stack alignment, and the
// vector stages keep 16-byte values on the stack. The i386 build is compiled
// like the DLL (assuming no more than 4 bytes), so calling it from a stack
// misaligned on purpose must give the same stream as a normal call; a frame
// that relied on 16-byte alignment would fault here.

#include <gtest/gtest.h>

#include <vector>

#include "jpeg_test_support.h"
#include "trivjpeg.h"

#if defined(__i386__)

namespace {

typedef uint16_t(TRIVJPEG_CALL *EncodeStart)(JpegEncodeJob *, uint32_t);

// Calls fn(job, mode) with the stack pointer 16 - offset past a 16-byte
// boundary at the call (offset 4, 8 or 12), the callee popping its
// arguments.
extern "C" uint16_t CallMisaligned(EncodeStart fn, JpegEncodeJob *job, uint32_t mode,
                                   uint32_t offset);
asm(R"(
    .text
    .globl CallMisaligned
    .type CallMisaligned, @function
CallMisaligned:
    pushl %ebp
    movl %esp, %ebp
    andl $-16, %esp
    subl $8, %esp
    subl 20(%ebp), %esp
    pushl 16(%ebp)
    pushl 12(%ebp)
    call *8(%ebp)
    movl %ebp, %esp
    popl %ebp
    ret
    .size CallMisaligned, .-CallMisaligned
)");

TEST(StackAlignment, EncodesAlikeFromAMisalignedStack) {
    for (uint16_t bits : {8, 24, 32}) {
        for (uint8_t sub : {Sub2x2, Sub2x1, SubNone}) {
            jpegtest::JobRig normal(53, 37, bits, 80, sub);
            ASSERT_EQ(Jpeg_EncodeStart(&normal.job, ModeEncode), 0);
            for (uint32_t offset : {4u, 8u, 12u}) {
                jpegtest::JobRig odd(53, 37, bits, 80, sub);
                ASSERT_EQ(CallMisaligned(Jpeg_EncodeStart, &odd.job, ModeEncode, offset), 0);
                EXPECT_EQ(odd.job.destSize, normal.job.destSize);
                EXPECT_TRUE(odd.dest == normal.dest);
                ASSERT_EQ(CallMisaligned(Jpeg_EncodeStart, &odd.job, ModeSizeOnly, offset), 0);
                EXPECT_EQ(odd.job.destSize, normal.job.destSize);
            }
        }
    }
}

}  // namespace

#endif
