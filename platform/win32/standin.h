// Control of the Win32 stand-in, for tests: what it holds, and faults to
// inject. Linux only; the library under test never includes this.
#pragma once

#include "win32.h"

#ifdef __cplusplus
extern "C" {
#endif

// The stand-in functions that can be made to fail.
enum StandinCall {
    StandinCreateFile,
    StandinGetFileSize,
    StandinReadFile,
    StandinSetFilePointer,
    StandinGlobalAlloc,
    StandinGetModuleFileName,
    StandinCallCount_  // number of entries; keep last
};

// Resources that are live now: open file handles and allocated blocks.
struct StandinLive {
    int files;
    int blocks;
};
WIN32_STANDIN_API struct StandinLive Standin_Live(void);

// Clears every injected fault and the call counters (not the live resources).
WIN32_STANDIN_API void Standin_Reset(void);
// The nth call of that function from now on fails (1: the next call);
// 0 cancels. Only one pending nth fault per function.
WIN32_STANDIN_API void Standin_FailNth(enum StandinCall call, int nth);
// Every call of that function fails while on is nonzero.
WIN32_STANDIN_API void Standin_FailAlways(enum StandinCall call, int on);
// Calls of that function since the last reset, failed ones included.
WIN32_STANDIN_API int Standin_Calls(enum StandinCall call);
// ReadFile delivers at most this many bytes per call (0: no limit), as a
// slow device or a pipe may.
WIN32_STANDIN_API void Standin_ReadChunk(DWORD bytes);

#ifdef __cplusplus
}
#endif
