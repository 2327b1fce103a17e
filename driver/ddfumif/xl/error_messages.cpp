// The error-message table. Filled once at process attach and freed at
// detach (the loader serialises both); SPRINST_GetErrorMsg only reads it.

#include "error_messages.h"

#include "driver_data_file.h"
#include "global_memory.h"
#include "trivsets.h"

ErrorMessage ErrorMessageTable[kErrorMessageCount + 1] = {
    {"ERMSG_00", nullptr}, {"ERMSG_01", nullptr}, {"ERMSG_02", nullptr}, {"ERMSG_03", nullptr},
    {"ERMSG_04", nullptr}, {"ERMSG_05", nullptr}, {"ERMSG_06", nullptr}, {"ERMSG_07", nullptr},
    {"ERMSG_08", nullptr}, {"ERMSG_09", nullptr}, {"ERMSG_10", nullptr}, {"ERMSG_11", nullptr},
    {"ERMSG_12", nullptr}, {"ERMSG_13", nullptr}, {"ERMSG_14", nullptr}, {"ERMSG_XX", nullptr},
    {"", nullptr},
};

namespace {

constexpr char kDataFileName[] = "TRIVDATA.TDF";
constexpr char kMessageSection[] = "DDFUM_ErrMsg";

// Equal keys, case-insensitively over the whole string: not a prefix.
bool SameKey(const char *a, const char *b) {
    size_t la = strlen(a), lb = strlen(b);
    return _strnicmp(a, b, (la > lb ? la : lb) + 1) == 0;
}

bool AllLoaded() {
    for (int i = 0; i < kErrorMessageCount; ++i) {
        if (ErrorMessageTable[i].text == nullptr) return false;
    }
    return true;
}

// The first entry with a key wins. A text that cannot be read leaves its
// block empty: that result then shows no text rather than the general one.
void LoadEntry(DriverDataFile *file, const MessageEntry &entry) {
    char key[tdf::kKeyCapacity] = {};
    // A key longer than 127 characters does not fit: it stays empty and
    // matches nothing.
    ReadDataString(file, entry.keyOffset, key, tdf::kKeyCapacity);
    if (key[0] == '\0') return;
    for (int i = 0; i < kErrorMessageCount; ++i) {
        ErrorMessage &message = ErrorMessageTable[i];
        if (message.text != nullptr || !SameKey(key, message.key)) continue;
        message.text = static_cast<char *>(AllocateBlock(tdf::kTextCapacity));
        if (message.text != nullptr) ReadDataString(file, entry.textOffset, message.text, tdf::kTextCapacity);
        return;
    }
}

void LoadMessageSection(DriverDataFile *file) {
    uint32_t at = FindSection(file, kMessageSection);
    SectionRecord record;
    if (!ReadSectionRecord(file, at, &record)) return;
    SectionInfo info;
    // The info follows the record; at is below the header's limit, so at + 52
    // fits unless the file lies about its own layout.
    uint32_t count = 0;
    if (at <= 0xFFFFFFFFu - tdf::kSectionRecordSize &&
        ReadSectionInfo(file, at + tdf::kSectionRecordSize, &info)) {
        count = info.count;
    }
    // A count larger than the file can hold entries for ends there, so a
    // chain that loops back cannot hold up the load.
    uint32_t steps = MaxChainSteps(file, tdf::kEntrySize);
    if (count > steps) count = steps;

    uint32_t offset = record.firstEntry;
    LoopGuard loop(offset);
    for (uint32_t n = 0; n < count && !AllLoaded(); ++n) {
        MessageEntry entry;
        ReadMessageEntry(file, offset, &entry);  // a failed read leaves it zero
        LoadEntry(file, entry);
        offset = entry.nextEntry;
        if (loop.Closes(offset)) break;
    }
}

}  // namespace

void LoadErrorMessageFile(const char *path) {
    DriverDataFile *file = OpenDriverDataFile(path);
    if (file == nullptr) return;
    LoadMessageSection(file);
    CloseDriverDataFile(file);
}

void LoadErrorMessages(HMODULE module) {
    char path[MAX_PATH] = {};
    // Without the library's own path the data file cannot be found; the
    // current directory is never tried instead.
    DWORD length = GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return;

    char drive[_MAX_DRIVE] = {};
    char dir[_MAX_DIR] = {};
    _splitpath(path, drive, dir, nullptr, nullptr);
    char dataFile[MAX_PATH] = {};
    size_t driveLength = strlen(drive), dirLength = strlen(dir);
    if (driveLength + dirLength + sizeof kDataFileName > MAX_PATH) return;
    memcpy(dataFile, drive, driveLength);
    memcpy(dataFile + driveLength, dir, dirLength);
    memcpy(dataFile + driveLength + dirLength, kDataFileName, sizeof kDataFileName);
    LoadErrorMessageFile(dataFile);
}

void FreeErrorMessages() {
    for (ErrorMessage *message = ErrorMessageTable; message->key[0] != '\0'; ++message) {
        FreeBlock(message->text);
        message->text = nullptr;
    }
}

extern "C" TRIVSETS_API const char *TRIVSETS_CALL SPRINST_GetErrorMsg(int32_t result) {
    uint32_t index = static_cast<uint32_t>(result);
    if (index < kFallbackMessage && ErrorMessageTable[index].text != nullptr) {
        return ErrorMessageTable[index].text;
    }
    if (ErrorMessageTable[kFallbackMessage].text != nullptr) {
        return ErrorMessageTable[kFallbackMessage].text;
    }
    return "";
}
