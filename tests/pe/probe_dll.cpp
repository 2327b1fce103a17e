// A small DLL for the PE host's own tests, built by the win32 preset in
// variants the host must load or refuse. The plain one exercises what the
// shipped DLLs rely on: pointers in initialised data (base relocations), a
// C runtime import, writable data, both calling conventions, and an entry
// point that reports process attach and detach to the stand-in.
//
// Variants (one macro each):
//   PROBE_FAIL_ATTACH     the entry point fails process attach
//   PROBE_CDECL_ENTRY     the entry point is __cdecl: it leaves its arguments
//   PROBE_IMPORT_SLEEP    imports kernel32.dll's Sleep, which the host lacks
//   PROBE_IMPORT_USER32   imports from user32.dll, a DLL the host lacks
//   PROBE_IMPORT_ORDINAL  imports strlen by ordinal (linked so by the build)

#include <stdint.h>
#include <string.h>

#include "standin.h"

#define PROBE_EXPORT extern "C" __declspec(dllexport)

#ifdef PROBE_CDECL_ENTRY
#define PROBE_ENTRY_CALL __cdecl
#else
#define PROBE_ENTRY_CALL WINAPI
#endif

namespace {

const char kFirst[] = "first";
const char kSecond[] = "second";
// Each pointer is an absolute address in the file: it needs a relocation.
const char *const kNames[] = {kFirst, kSecond};

int32_t counter = 7;

}  // namespace

extern "C" BOOL PROBE_ENTRY_CALL DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    // The module handle travels in the printer name's place.
    const char *handle = reinterpret_cast<const char *>(module);
    if (reason == DLL_PROCESS_ATTACH) {
        Standin_RecordDriverCall("attach", handle, nullptr);
#ifdef PROBE_FAIL_ATTACH
        return FALSE;
#endif
    } else if (reason == DLL_PROCESS_DETACH) {
        Standin_RecordDriverCall("detach", handle, nullptr);
    }
    return TRUE;
}

PROBE_EXPORT const char *Probe_Name(int32_t index) { return kNames[index & 1]; }

PROBE_EXPORT int32_t WINAPI Probe_Add(int32_t a, int32_t b) { return a + b; }

// Through the C runtime's strlen, imported from msvcrt.dll.
PROBE_EXPORT uint32_t Probe_Length(const char *text) { return static_cast<uint32_t>(strlen(text)); }

PROBE_EXPORT int32_t *Probe_Counter() { return &counter; }

PROBE_EXPORT int64_t Probe_Wide(int64_t value) { return value * 3; }

#if defined(PROBE_IMPORT_SLEEP)
PROBE_EXPORT void Probe_Pause() { Sleep(0); }
#elif defined(PROBE_IMPORT_USER32)
PROBE_EXPORT void Probe_Pause() { MessageBeep(0); }
#endif
