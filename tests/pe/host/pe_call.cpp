// The trampoline behind Pe_Call. It must be written by hand: a C caller
// cannot observe how far the callee moved the stack pointer, nor choose the
// stack's alignment at the call.
//
// Frame, addressed through ebp (which the callee must keep, or nothing can
// be trusted):
//    8(%ebp) function     12(%ebp) arguments    16(%ebp) count
//   20(%ebp) stackOffset  24(%ebp) result
//   -4, -8, -12(%ebp) the caller's ebx, esi, edi
//  -16(%ebp) the stack pointer at the call instruction
//  -20(%ebp) how far the callee moved it
//
// Below that the arguments go to a spot chosen so that the stack pointer at
// the call is stackOffset above a 16-byte boundary, with at least 32 bytes
// to spare: a callee that pops more than it should then lands in that gap,
// not on the saved registers.

#include "pe_call.h"

#if defined(__i386__)

static_assert(sizeof(PeCallResult) == 20, "the trampoline stores five 32-bit fields");

// Values the callee finds in ebx, esi and edi and must hand back.
#define PE_CALL_EBX "0x5EB5EB01"
#define PE_CALL_ESI "0x5E15E102"
#define PE_CALL_EDI "0x5ED15ED3"

asm(R"(
    .text
    .globl  Pe_Call
    .type   Pe_Call, @function
Pe_Call:
    pushl   %ebp
    movl    %esp, %ebp
    pushl   %ebx
    pushl   %esi
    pushl   %edi
    subl    $8, %esp

    movl    16(%ebp), %ecx
    shll    $2, %ecx
    movl    %esp, %eax
    subl    %ecx, %eax
    andl    $-16, %eax
    subl    $48, %eax
    movl    20(%ebp), %edx
    andl    $12, %edx
    addl    %edx, %eax
    addl    %ecx, %eax
    movl    %eax, %esp

    movl    16(%ebp), %ecx
    movl    12(%ebp), %edx
1:  testl   %ecx, %ecx
    jz      2f
    decl    %ecx
    pushl   (%edx,%ecx,4)
    jmp     1b
2:  movl    %esp, -16(%ebp)
    movl    8(%ebp), %eax
    movl    $)" PE_CALL_EBX R"(, %ebx
    movl    $)" PE_CALL_ESI R"(, %esi
    movl    $)" PE_CALL_EDI R"(, %edi
    call    *%eax

    movl    %esp, %ecx
    subl    -16(%ebp), %ecx
    movl    %ecx, -20(%ebp)
    pushfl
    popl    %ecx
    shrl    $10, %ecx
    andl    $1, %ecx
    xorl    $1, %ecx
    pushl   %ecx
    movl    24(%ebp), %ecx
    movl    %eax, 0(%ecx)
    movl    %edx, 4(%ecx)
    movl    -20(%ebp), %eax
    movl    %eax, 8(%ecx)
    xorl    %eax, %eax
    cmpl    $)" PE_CALL_EBX R"(, %ebx
    jne     3f
    cmpl    $)" PE_CALL_ESI R"(, %esi
    jne     3f
    cmpl    $)" PE_CALL_EDI R"(, %edi
    jne     3f
    incl    %eax
3:  movl    %eax, 12(%ecx)
    popl    %eax
    movl    %eax, 16(%ecx)
    cld

    leal    -12(%ebp), %esp
    popl    %edi
    popl    %esi
    popl    %ebx
    popl    %ebp
    ret
    .size   Pe_Call, .-Pe_Call
)");

#endif
