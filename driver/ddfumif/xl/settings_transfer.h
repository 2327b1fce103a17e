// The four settings-transfer operations and the two routes to the driver.
#pragma once

#include <stdint.h>

#include "win32.h"

// The result of an operation that did not reach the driver.
constexpr int32_t kNotReached = 99;

// The escape codes of the four operations, in export order.
constexpr int32_t kEscapeSettingExport = 10000;
constexpr int32_t kEscapeSettingImport = 10001;
constexpr int32_t kEscapePersonalInfoImport = 10002;
constexpr int32_t kEscapeDefaultSetting = 10003;

// The escape's input: the argument from byte 0, the printer name from byte
// 4096, each at most 4095 characters and NUL-padded.
constexpr uint32_t kTransferEscapeBufferSize = 8192;
constexpr uint32_t kTransferEscapeHalf = 4096;

// A 32-bit process on a 64-bit system; asked anew on every call.
bool RunningUnderWow64();
// A device context of the printer with its current settings, or null.
HDC CreatePrinterDC(const char *printerName);
// TRIVDRUI.DLL from the directory of the printer driver's main file, or null.
HMODULE LoadDriverSettingsLibrary(const char *printerName);
// Sends the operation to the driver as a printer escape; its result, or 99.
int32_t SendTransferEscape(const char *printerName, const char *argument, int32_t code);
