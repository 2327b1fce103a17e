// Control of the Win32 stand-in, for tests: what it holds, and faults to
// inject. Linux only; the library under test never includes this.
#pragma once

#include "win32.h"

#if defined(_WIN32) && !defined(WIN32_STANDIN_API)
// A test double built as a PE DLL imports these from the test host, which
// provides them under the DLL name win32standin.dll.
#define WIN32_STANDIN_API __declspec(dllimport)
#endif

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
    StandinGetSystemDirectory,
    StandinLoadLibrary,
    StandinGetProcAddress,
    StandinIsWow64Process,
    StandinOpenPrinter,
    StandinGetPrinterDriver,
    StandinDocumentProperties,  // the call that fills the DEVMODE (DM_OUT_BUFFER)
    StandinCreateDC,
    StandinCallCount_  // number of entries; keep last
};

// Resources that are live now.
struct StandinLive {
    int files;     // CreateFileA handles not closed
    int blocks;    // GlobalAlloc blocks not freed
    int modules;   // LoadLibraryA loads not freed
    int printers;  // OpenPrinterA handles not closed
    int dcs;       // CreateDCA device contexts not deleted
};
WIN32_STANDIN_API struct StandinLive Standin_Live(void);

// Clears every injected fault, the call counters, the printers, the
// recordings and the switches (not the live resources).
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

// --- Modules and the system ---------------------------------------------------

// What GetSystemDirectoryA answers (default "C:\\Windows\\system32").
// LoadLibraryA of that directory plus "Kernel32.dll" (any letter case)
// loads the stand-in's kernel32, whose IsWow64Process reports the switch.
WIN32_STANDIN_API void Standin_SetSystemDirectory(const char *path);
WIN32_STANDIN_API void Standin_SetWow64(int on);
// Whether the stand-in's kernel32 exports IsWow64Process (default yes).
WIN32_STANDIN_API void Standin_SetKernel32HasIsWow64(int on);
// Paths LoadLibraryA was asked for, oldest first, separated by '\n'.
WIN32_STANDIN_API const char *Standin_LoadedPaths(void);
// Why the last LoadLibraryA on this thread failed ("" if it did not): the
// dynamic loader's message, or, for a PE DLL (i386 build only), the reason
// the stand-in's loader refused it, beginning with the file's name.
WIN32_STANDIN_API const char *Standin_LoadError(void);

// --- Printers -------------------------------------------------------------------

// Answers ExtEscape on a device context of the printer. devmode is the
// DEVMODE the context was created with (devmodeSize bytes). Returns what
// ExtEscape returns.
typedef int (*StandinEscapeHandler)(void *context, const char *printerName,
                                    const void *devmode, int devmodeSize, int escape,
                                    int inputSize, const void *input, int outputSize,
                                    void *output);

// Registers a printer: OpenPrinterA finds it by name (case-insensitively),
// GetPrinterDriverA level 2 reports driverPath as the driver's main file,
// DocumentPropertiesA reports devmodeSize (0 or less: no DEVMODE) and fills
// a DEVMODE with the name's bytes, repeated. Replaces one of the same name.
WIN32_STANDIN_API void Standin_AddPrinter(const char *name, const char *driverPath,
                                          int devmodeSize, StandinEscapeHandler handler,
                                          void *context);
WIN32_STANDIN_API void Standin_RemovePrinters(void);
// Printer names OpenPrinterA was asked for, oldest first, separated by '\n'.
WIN32_STANDIN_API const char *Standin_OpenedPrinters(void);

// --- The driver's settings library -----------------------------------------------
// A test double of the driver's library reports each call here, and returns
// what the test chose.

struct StandinDriverCall {
    char exportName[64];
    const char *printerName;  // the pointers as received
    const char *argument;
};
WIN32_STANDIN_API void Standin_RecordDriverCall(const char *exportName, const char *printerName,
                                                const char *argument);
WIN32_STANDIN_API int Standin_DriverCalls(void);
WIN32_STANDIN_API struct StandinDriverCall Standin_DriverCall(int index);
WIN32_STANDIN_API void Standin_SetDriverResult(int32_t result);
WIN32_STANDIN_API int32_t Standin_DriverResult(void);

#ifdef __cplusplus
}
#endif
