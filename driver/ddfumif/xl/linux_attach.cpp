// On Linux the shared library's load and unload stand in for process attach
// and detach. The module handle is the library's base address, which the
// Win32 stand-in maps back to its file name. The only static constructor of
// the project's libraries.

#include <dlfcn.h>

#include "dll_main.h"

namespace {

HINSTANCE OwnModule() {
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&DllMain), &info) == 0) return nullptr;
    return static_cast<HINSTANCE>(info.dli_fbase);
}

__attribute__((constructor)) void Attach() { DllMain(OwnModule(), DLL_PROCESS_ATTACH, nullptr); }
__attribute__((destructor)) void Detach() { DllMain(OwnModule(), DLL_PROCESS_DETACH, nullptr); }

}  // namespace
