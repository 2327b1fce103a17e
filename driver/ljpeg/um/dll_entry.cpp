// Entry point of TRIVJPEG.DLL.
//
// The DLL is linked without the C runtime's start-up code (-nostdlib): that
// code would import kernel32 and run constructors, and the encoder has no
// constructors, no globals that need set-up and nothing to release. The loader
// calls this function on process and thread attach and detach; returning 1
// lets every attach succeed. <windows.h> is not needed for three parameters.
#include <stdint.h>

extern "C" __attribute__((__stdcall__)) int32_t DllMain(void *instance, uint32_t reason,
                                                        void *reserved) {
    (void)instance;
    (void)reason;
    (void)reserved;
    return 1;
}
