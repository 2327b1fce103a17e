// A stand-in for the printer driver's settings library, TRIVDRUI.DLL. Each
// export reports its call to the Win32 stand-in (its own name and the two
// pointers exactly as received) and returns the result the test chose.
//
// Built twice: trivdrui_double with all four exports, and trivdrui_partial
// (TRIVDRUI_WITHOUT_DEFAULT_SETTING) without SPRINST_DefaultSetting, for a
// driver library that lacks an export.

#include <stdint.h>

#include "standin.h"
#include "trivsets.h"

#define DOUBLE_EXPORT extern "C" __attribute__((__visibility__("default")))

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
