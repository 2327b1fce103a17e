// The driver data file reader (the layout: tdf_layout.h). Whatever the file
// holds, nothing is read outside it or outside a record, and every walk along
// a chain is bounded.

#include "driver_data_file.h"

#include "global_memory.h"

namespace {

uint32_t Le32(const uint8_t *p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads a record of n bytes into a zero-filled buffer. A failed read leaves
// it all zero, whatever arrived before the failure.
int32_t ReadRecord(DriverDataFile *file, uint32_t offset, uint8_t *bytes, uint32_t n) {
    memset(bytes, 0, n);
    int32_t got = ReadDataAt(file, bytes, n, offset);
    if (got == -1) memset(bytes, 0, n);
    return got;
}

// The end of a string or record that starts at offset; past 2^32 - 1 it
// lies beyond any file this reader can address.
bool Beyond32Bits(uint32_t offset, uint32_t length) { return length > 0xFFFFFFFFu - offset; }

// When reading through the handle, the file's size may be unknown; this
// many steps still end a looping chain quickly.
constexpr uint32_t kStepsWithoutSize = 65536;

}  // namespace

DriverDataFile *OpenDriverDataFile(const char *path) {
    DriverDataFile *file = static_cast<DriverDataFile *>(AllocateBlock(sizeof(DriverDataFile)));
    if (file == nullptr) return nullptr;
    strncpy(file->path, path, MAX_PATH - 1);  // the block is zeroed: the NUL stays

    file->handle = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file->handle == INVALID_HANDLE_VALUE) {
        FreeBlock(file);
        return nullptr;
    }
    DWORD size = GetFileSize(file->handle, nullptr);
    if (size == INVALID_FILE_SIZE || size == 0) return file;  // read through the handle

    file->contents = static_cast<uint8_t *>(AllocateBlock(size));
    if (file->contents == nullptr) return file;
    DWORD got = 0;
    while (got < size) {
        DWORD n = 0;
        if (!ReadFile(file->handle, file->contents + got, size - got, &n, nullptr)) {
            FreeBlock(file->contents);
            file->contents = nullptr;
            break;
        }
        if (n == 0) break;  // the bytes not delivered stay zero
        got += n < size - got ? n : size - got;
    }
    file->size = size;
    SetFilePointer(file->handle, 0, nullptr, FILE_BEGIN);
    return file;
}

void CloseDriverDataFile(DriverDataFile *file) {
    if (file == nullptr) return;
    CloseHandle(file->handle);
    FreeBlock(file->contents);
    FreeBlock(file);
}

int32_t ReadDataAt(DriverDataFile *file, void *destination, uint32_t count, uint32_t offset) {
    uint8_t *to = static_cast<uint8_t *>(destination);
    if (file->contents != nullptr) {
        if (offset >= file->size) return 0;
        uint32_t n = count < file->size - offset ? count : file->size - offset;
        memcpy(to, file->contents + offset, n);
        return static_cast<int32_t>(n);
    }
    // The whole offset, not a signed 32-bit distance: the high part is 0.
    LONG high = 0;
    if (SetFilePointer(file->handle, static_cast<LONG>(offset), &high, FILE_BEGIN) ==
        INVALID_SET_FILE_POINTER) {
        return 0;
    }
    uint32_t total = 0;
    while (total < count) {
        DWORD n = 0;
        if (!ReadFile(file->handle, to + total, count - total, &n, nullptr)) return -1;
        if (n == 0) break;
        total += n < count - total ? n : count - total;
    }
    return static_cast<int32_t>(total);
}

uint32_t MaxChainSteps(const DriverDataFile *file, uint32_t recordSize) {
    if (file->size == 0) return kStepsWithoutSize;
    return file->size / recordSize + 1;
}

// Equal names, case-insensitively over the whole string. A record name
// without a NUL in its 32 bytes is compared within those bytes only.
static bool SameName(const char (&recordName)[tdf::kNameField], const char *name) {
    char bounded[tdf::kNameField + 1];
    memcpy(bounded, recordName, tdf::kNameField);
    bounded[tdf::kNameField] = '\0';
    size_t a = strlen(bounded), b = strlen(name);
    return _strnicmp(bounded, name, (a > b ? a : b) + 1) == 0;
}

uint32_t FindSection(DriverDataFile *file, const char *name) {
    // A header that cannot be read leaves the limit at 0: no section is valid.
    uint8_t header[tdf::kHeaderSize];
    ReadRecord(file, 0, header, sizeof header);
    uint32_t limit = Le32(header + tdf::kHeaderLimit);

    uint32_t offset = 8;
    LoopGuard loop(offset);
    for (uint32_t step = MaxChainSteps(file, tdf::kSectionRecordSize); step > 0; --step) {
        uint8_t bytes[tdf::kSectionRecordSize];
        if (ReadRecord(file, offset, bytes, tdf::kSectionRecordSize) != int32_t{tdf::kSectionRecordSize}) {
            return 0;
        }
        SectionRecord record;
        memcpy(record.name, bytes + tdf::kRecordName, tdf::kNameField);
        if (SameName(record.name, name)) return offset < limit ? offset : 0;
        offset = Le32(bytes + tdf::kRecordNext);
        if (offset >= limit || loop.Closes(offset)) return 0;
    }
    return 0;  // the chain loops
}

int32_t ReadDataString(DriverDataFile *file, uint32_t offset, char *destination,
                       uint32_t capacity) {
    char bytes[tdf::kTextCapacity] = {};
    if (capacity > tdf::kTextCapacity) capacity = tdf::kTextCapacity;
    for (uint32_t i = 0; i < capacity; ++i) {
        // Past the end of the file (or of 32-bit offsets) the byte stays 0,
        // which ends the string there.
        if (!Beyond32Bits(offset, i) && ReadDataAt(file, &bytes[i], 1, offset + i) == -1) {
            return 0;
        }
        if (bytes[i] == '\0') {
            memcpy(destination, bytes, i + 1);
            return 1;
        }
    }
    return 0;
}

int32_t ReadSectionRecord(DriverDataFile *file, uint32_t offset, SectionRecord *record) {
    uint8_t bytes[tdf::kSectionRecordSize];
    // Offset 0 is the header, never a section.
    int32_t n = offset == 0 ? (memset(bytes, 0, sizeof bytes), 0)
                            : ReadRecord(file, offset, bytes, tdf::kSectionRecordSize);
    memcpy(record->name, bytes + tdf::kRecordName, tdf::kNameField);
    record->firstEntry = Le32(bytes + tdf::kRecordFirstEntry);
    record->nextRecord = Le32(bytes + tdf::kRecordNext);
    return n > 0 ? 1 : 0;
}

int32_t ReadSectionInfo(DriverDataFile *file, uint32_t offset, SectionInfo *info) {
    uint8_t bytes[tdf::kSectionInfoSize];
    int32_t n = ReadRecord(file, offset, bytes, tdf::kSectionInfoSize);
    info->count = Le32(bytes + tdf::kInfoCount);
    return n > 0 ? 1 : 0;
}

// Fails only when the read itself fails; a record cut short by the end of
// the file is read as far as it goes.
int32_t ReadMessageEntry(DriverDataFile *file, uint32_t offset, MessageEntry *entry) {
    uint8_t bytes[tdf::kEntrySize];
    int32_t n = ReadRecord(file, offset, bytes, tdf::kEntrySize);
    entry->keyOffset = Le32(bytes + tdf::kEntryKey);
    entry->textOffset = Le32(bytes + tdf::kEntryText);
    entry->nextEntry = Le32(bytes + tdf::kEntryNext);
    return n == -1 ? 0 : 1;
}
