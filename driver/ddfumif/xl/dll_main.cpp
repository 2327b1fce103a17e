// The library entry point: the message texts are loaded at process attach
// and freed at process detach. It succeeds for every reason, so the library
// loads even when the driver data file cannot be read.

#include "dll_main.h"

#include "error_messages.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    switch (reason & 0xFFFF) {
        case DLL_PROCESS_ATTACH: LoadErrorMessages(module); break;
        case DLL_PROCESS_DETACH: FreeErrorMessages(); break;
        default: break;  // thread attach and detach: nothing to do
    }
    return TRUE;
}
