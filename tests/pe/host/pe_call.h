// Calls into code of a PE image (i386 only), watched: what the callee did to
// the stack and to the registers it must keep. The loader enters DLLs
// through it, and tests call their exports through it, so a calling
// convention that differs from the declared one fails a test instead of
// corrupting the caller's frame.
#pragma once

#include <stdint.h>

#include "win32.h"

#ifdef __cplusplus
extern "C" {
#endif

struct PeCallResult {
    uint32_t eax;  // the return value (with edx for 64-bit results)
    uint32_t edx;
    // Bytes the callee removed from the stack: 4 per argument for __stdcall,
    // 0 for __cdecl.
    int32_t popped;
    // 1 when ebx, esi and edi came back as they went in (ebp too: the
    // trampoline finds its own frame through it).
    int32_t registersKept;
    // 1 when the direction flag was clear on return, as both conventions
    // require.
    int32_t directionClear;
};

// Calls function with count 32-bit arguments (arguments[0] first, pushed
// last), from a stack whose pointer at the call instruction is stackOffset
// bytes above a 16-byte boundary: 0 as the i386 System V ABI keeps it,
// 4, 8 or 12 as a 32-bit Windows caller may (it promises only 4).
WIN32_STANDIN_API void Pe_Call(const void *function, const uint32_t *arguments, int32_t count,
                               int32_t stackOffset, struct PeCallResult *result);

#ifdef __cplusplus
}
#endif
