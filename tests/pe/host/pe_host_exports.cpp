// What the host provides to the imports of a PE image: the stand-in's Win32
// functions under the DLL names the real ones live in, the C runtime's
// functions under msvcrt.dll, and a few stand-in hooks under win32standin.dll
// for the test doubles built as PE DLLs.
//
// The lists hold what the shipped DLLs import, plus the C functions a
// compiler may emit calls to on its own (memset, memmove, memcmp). An import
// outside them is refused by name, so a new dependency of a DLL shows up as
// a failing test instead of a wrong call.

#include "pe_host_exports.h"

#include <string.h>
#include <strings.h>

#include "standin.h"

namespace {

struct HostFunction {
    const char *name;
    void *address;
};

struct HostLibrary {
    const char *name;
    const HostFunction *functions;
    size_t count;
};

#define HOST_FUNCTION(function) \
    { #function, reinterpret_cast < void *>(&function) }

// The C runtime's functions are __cdecl in msvcrt as in glibc, and these
// agree in behaviour for the arguments the DLLs pass.
const HostFunction kMsvcrt[] = {
    HOST_FUNCTION(memcpy),    HOST_FUNCTION(memmove), HOST_FUNCTION(memset),
    HOST_FUNCTION(memcmp),    HOST_FUNCTION(strlen),  HOST_FUNCTION(strncpy),
    HOST_FUNCTION(strcmp),    HOST_FUNCTION(strncmp), HOST_FUNCTION(_splitpath),
    HOST_FUNCTION(_strnicmp),
};

// __stdcall, as declared in win32.h.
const HostFunction kKernel32[] = {
    HOST_FUNCTION(CreateFileA),        HOST_FUNCTION(GetFileSize),
    HOST_FUNCTION(ReadFile),           HOST_FUNCTION(SetFilePointer),
    HOST_FUNCTION(CloseHandle),        HOST_FUNCTION(GlobalAlloc),
    HOST_FUNCTION(GlobalLock),         HOST_FUNCTION(GlobalUnlock),
    HOST_FUNCTION(GlobalHandle),       HOST_FUNCTION(GlobalFree),
    HOST_FUNCTION(GetModuleFileNameA), HOST_FUNCTION(GetSystemDirectoryA),
    HOST_FUNCTION(LoadLibraryA),       HOST_FUNCTION(GetProcAddress),
    HOST_FUNCTION(FreeLibrary),        HOST_FUNCTION(GetCurrentProcess),
};

const HostFunction kWinspool[] = {
    HOST_FUNCTION(OpenPrinterA),
    HOST_FUNCTION(ClosePrinter),
    HOST_FUNCTION(GetPrinterDriverA),
    HOST_FUNCTION(DocumentPropertiesA),
};

const HostFunction kGdi32[] = {
    HOST_FUNCTION(CreateDCA),
    HOST_FUNCTION(ExtEscape),
    HOST_FUNCTION(DeleteDC),
};

// __cdecl, as declared in standin.h.
const HostFunction kStandin[] = {
    HOST_FUNCTION(Standin_RecordDriverCall),
    HOST_FUNCTION(Standin_DriverResult),
};

#undef HOST_FUNCTION

#define HOST_LIBRARY(name, functions) \
    { name, functions, sizeof functions / sizeof functions[0] }

const HostLibrary kLibraries[] = {
    HOST_LIBRARY("msvcrt.dll", kMsvcrt),        HOST_LIBRARY("kernel32.dll", kKernel32),
    HOST_LIBRARY("winspool.drv", kWinspool),    HOST_LIBRARY("gdi32.dll", kGdi32),
    HOST_LIBRARY("win32standin.dll", kStandin),
};

#undef HOST_LIBRARY

// DLL names compare without regard to case, as on Windows; function names
// exactly.
const HostLibrary *FindLibrary(const char *dll) {
    for (const HostLibrary &library : kLibraries) {
        if (strcasecmp(library.name, dll) == 0) return &library;
    }
    return nullptr;
}

}  // namespace

bool PeHostProvidesLibrary(const char *dll) { return FindLibrary(dll) != nullptr; }

void *PeHostFunction(const char *dll, const char *function) {
    const HostLibrary *library = FindLibrary(dll);
    if (library == nullptr) return nullptr;
    for (size_t i = 0; i < library->count; ++i) {
        if (strcmp(library->functions[i].name, function) == 0) return library->functions[i].address;
    }
    return nullptr;
}
