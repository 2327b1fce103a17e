// The message texts of the results, loaded from the section "DDFUM_ErrMsg"
// of TRIVDATA.TDF beside the library at process attach, freed at detach.
#pragma once

#include "win32.h"

// 16 keys, then a terminating entry with the empty key.
struct ErrorMessage {
    const char *key;
    char *text;  // a block of tdf::kTextCapacity (290) bytes, or null until loaded
};
constexpr int kErrorMessageCount = 16;
constexpr int kFallbackMessage = 15;  // "ERMSG_XX"
extern ErrorMessage ErrorMessageTable[kErrorMessageCount + 1];

// Finds TRIVDATA.TDF in the directory of module and loads the texts.
void LoadErrorMessages(HMODULE module);
// Loads the texts from the data file at path (the part of LoadErrorMessages
// after the path is known).
void LoadErrorMessageFile(const char *path);
void FreeErrorMessages();
