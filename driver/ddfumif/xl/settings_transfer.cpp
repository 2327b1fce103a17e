// Settings transfer. TRIVSETS does none of the work: it gets each request to
// the printer driver and returns the driver's result, or 99 when the request
// does not get there. In a 32-bit process on a 64-bit system the driver's own
// library cannot be loaded into the process, so the request goes as a
// printer escape; otherwise TRIVDRUI.DLL is loaded from the driver's
// directory and its export of the same name is called.
//
// Every call releases what it acquired on every path: each function
// acquires in order and releases at one exit.

#include "settings_transfer.h"

#include "global_memory.h"
#include "trivsets.h"

namespace {

typedef BOOL(WINAPI *IsWow64ProcessFunction)(HANDLE process, BOOL *wow64);
typedef int32_t(TRIVSETS_CALL *TransferFunction)(const char *printerName, const char *argument);

// Appends text to the NUL-terminated path in a buffer of capacity bytes;
// false, with the path unchanged, if it would not fit.
bool Append(char *path, size_t capacity, const char *text) {
    size_t used = strlen(path), length = strlen(text);
    if (used + length + 1 > capacity) return false;
    memcpy(path + used, text, length + 1);
    return true;
}

// A function found by name, as the type it is (through the generic
// function pointer type, so no compiler warns about the conversion).
template <class Function>
Function Lookup(HMODULE module, const char *name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)(void)>(GetProcAddress(module, name)));
}

int32_t Transfer(const char *printerName, const char *argument, int32_t code,
                 const char *exportName) {
    // Without a name there is no printer to reach on either route; checked
    // first, so a null name is never copied or passed on to the driver.
    if (printerName == nullptr) return kNotReached;
    if (RunningUnderWow64()) return SendTransferEscape(printerName, argument, code);

    HMODULE library = LoadDriverSettingsLibrary(printerName);
    if (library == nullptr) return kNotReached;
    // The driver's library gets the caller's own pointers.
    TransferFunction operation = Lookup<TransferFunction>(library, exportName);
    int32_t result = operation ? operation(printerName, argument) : kNotReached;
    FreeLibrary(library);
    return result;
}

}  // namespace

bool RunningUnderWow64() {
    // IsWow64Process is looked up at run time, in the system's own
    // Kernel32.dll: systems that predate it simply answer no.
    char path[MAX_PATH] = {};
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    // A directory too long for the buffer cannot be trusted to name the
    // system's own Kernel32.dll, and loading one from elsewhere would run
    // foreign code: such a system is treated as not WOW64.
    if (length == 0 || length >= MAX_PATH) return false;
    if (path[length - 1] != '\\' && !Append(path, MAX_PATH, "\\")) return false;
    if (!Append(path, MAX_PATH, "Kernel32.dll")) return false;

    HMODULE kernel32 = LoadLibraryA(path);
    if (kernel32 == nullptr) return false;
    bool wow64 = false;
    IsWow64ProcessFunction isWow64Process = Lookup<IsWow64ProcessFunction>(kernel32, "IsWow64Process");
    if (isWow64Process != nullptr) {
        BOOL flag = FALSE;
        wow64 = isWow64Process(GetCurrentProcess(), &flag) && flag;
    }
    FreeLibrary(kernel32);
    return wow64;
}

HDC CreatePrinterDC(const char *printerName) {
    HANDLE printer = nullptr;
    if (!OpenPrinterA(const_cast<LPSTR>(printerName), &printer, nullptr)) return nullptr;

    HDC dc = nullptr;
    DEVMODEA *devmode = nullptr;
    LONG size = DocumentPropertiesA(nullptr, printer, nullptr, nullptr, nullptr, 0);
    if (size > 0) devmode = static_cast<DEVMODEA *>(AllocateBlock(static_cast<uint32_t>(size)));
    // The context carries the printer's current settings.
    if (devmode != nullptr &&
        DocumentPropertiesA(nullptr, printer, nullptr, devmode, nullptr, DM_OUT_BUFFER) == IDOK) {
        dc = CreateDCA("WINSPOOL", printerName, nullptr, devmode);
    }
    FreeBlock(devmode);
    ClosePrinter(printer);
    return dc;
}

HMODULE LoadDriverSettingsLibrary(const char *printerName) {
    char name[MAX_PATH] = {};
    strncpy(name, printerName, MAX_PATH - 1);
    HANDLE printer = nullptr;
    if (!OpenPrinterA(name, &printer, nullptr)) return nullptr;

    HMODULE library = nullptr;
    DWORD needed = 0;
    GetPrinterDriverA(printer, nullptr, 2, nullptr, 0, &needed);
    DRIVER_INFO_2A *info = needed ? static_cast<DRIVER_INFO_2A *>(AllocateBlock(needed)) : nullptr;
    if (info != nullptr &&
        GetPrinterDriverA(printer, nullptr, 2, reinterpret_cast<LPBYTE>(info), needed, &needed) &&
        info->pDriverPath != nullptr) {
        // The settings library lies beside the driver's main file. A path
        // that does not fit is no path: nothing is loaded.
        char drive[_MAX_DRIVE] = {};
        char dir[_MAX_DIR] = {};
        _splitpath(info->pDriverPath, drive, dir, nullptr, nullptr);
        char path[MAX_PATH] = {};
        if (Append(path, MAX_PATH, drive) && Append(path, MAX_PATH, dir) &&
            Append(path, MAX_PATH, "TRIVDRUI.DLL")) {
            library = LoadLibraryA(path);
        }
    }
    FreeBlock(info);
    ClosePrinter(printer);
    return library;
}

int32_t SendTransferEscape(const char *printerName, const char *argument, int32_t code) {
    if (code < kEscapeSettingExport || code > kEscapeDefaultSetting) return kNotReached;
    int32_t result = kNotReached;  // stays so if the driver never writes it
    char *buffer = static_cast<char *>(AllocateBlock(kTransferEscapeBufferSize));
    if (buffer == nullptr) return kNotReached;

    // The block is zeroed, so each half ends NUL-padded, its last byte 0. A
    // null argument goes to the driver as an empty one: the escape carries
    // strings, not pointers, and the driver cannot tell null from "".
    strncpy(buffer, argument ? argument : "", kTransferEscapeHalf - 1);
    strncpy(buffer + kTransferEscapeHalf, printerName, kTransferEscapeHalf - 1);
    // The cut copy of the name, as the driver will see it in the buffer.
    HDC dc = CreatePrinterDC(buffer + kTransferEscapeHalf);
    if (dc != nullptr) {
        if (ExtEscape(dc, QUERYESCSUPPORT, sizeof code, reinterpret_cast<LPCSTR>(&code),
                      sizeof result, reinterpret_cast<LPSTR>(&result)) != 0) {
            ExtEscape(dc, code, kTransferEscapeBufferSize, buffer, sizeof result,
                      reinterpret_cast<LPSTR>(&result));
        }
        DeleteDC(dc);
    }
    FreeBlock(buffer);
    return result;
}

extern "C" {

TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_SettingExport(const char *printerName,
                                                         const char *argument) {
    return Transfer(printerName, argument, kEscapeSettingExport, "SPRINST_SettingExport");
}

TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_SettingImport(const char *printerName,
                                                         const char *argument) {
    return Transfer(printerName, argument, kEscapeSettingImport, "SPRINST_SettingImport");
}

TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_PersonalInfoImport(const char *printerName,
                                                              const char *argument) {
    return Transfer(printerName, argument, kEscapePersonalInfoImport, "SPRINST_PersonalInfoImport");
}

TRIVSETS_API int32_t TRIVSETS_CALL SPRINST_DefaultSetting(const char *printerName,
                                                          const char *argument) {
    return Transfer(printerName, argument, kEscapeDefaultSetting, "SPRINST_DefaultSetting");
}

}  // extern "C"
