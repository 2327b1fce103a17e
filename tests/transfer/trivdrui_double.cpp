// A stand-in for the printer driver's settings library, TRIVDRUI.DLL. Each
// export reports its call to the Win32 stand-in (its own name and the two
// pointers exactly as received) and returns the result the test chose.
//
// Built twice: trivdrui_double with all four exports, and trivdrui_partial
// (TRIVDRUI_WITHOUT_DEFAULT_SETTING) without SPRINST_DefaultSetting, for a
// driver library that lacks an export. The win32 preset builds both as PE
// DLLs too, which TRIVSETS.DLL loads in the PE host; there the stand-in's
// functions are imported from the host as win32standin.dll.

#include <stdint.h>

#include "standin.h"
#include "trivsets.h"

#ifdef _WIN32
#define DOUBLE_EXPORT extern "C" __declspec(dllexport)

// Linked without the C runtime's start-up code, as the shipped DLLs are.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#else
#define DOUBLE_EXPORT extern "C" __attribute__((__visibility__("default")))
#endif

#define DOUBLE_OPERATION(name)                                                                \
    DOUBLE_EXPORT int32_t TRIVSETS_CALL name(const char *printerName, const char *argument) { \
        Standin_RecordDriverCall(#name, printerName, argument);                               \
        return Standin_DriverResult();                                                        \
    }

DOUBLE_OPERATION(SPRINST_SettingExport)
DOUBLE_OPERATION(SPRINST_SettingImport)
DOUBLE_OPERATION(SPRINST_PersonalInfoImport)
#ifndef TRIVDRUI_WITHOUT_DEFAULT_SETTING
DOUBLE_OPERATION(SPRINST_DefaultSetting)
#endif
