// The driver data file: held in memory whole (or, when that fails, read
// through its handle), with sections found by name and fixed-size records
// and NUL-terminated strings read at file offsets.
#pragma once

#include <stdint.h>

#include "tdf_layout.h"
#include "win32.h"

struct DriverDataFile {
    HANDLE handle;
    char path[MAX_PATH];  // always NUL-terminated
    uint8_t *contents;    // the whole file, or null: then reads use the handle
    uint32_t size;        // as the platform reported it (0 if unknown)
};

// At an offset below the header's limit; 52 bytes.
struct SectionRecord {
    char name[tdf::kNameField];  // NUL-terminated within the field, or not at all
    uint32_t firstEntry;
    uint32_t nextRecord;
};

// Right after its SectionRecord; 12 bytes.
struct SectionInfo {
    uint32_t count;
};

// Anywhere in the file; 16 bytes, chained.
struct MessageEntry {
    uint32_t keyOffset;
    uint32_t textOffset;
    uint32_t nextEntry;
};

DriverDataFile *OpenDriverDataFile(const char *path);
void CloseDriverDataFile(DriverDataFile *file);

// Bytes copied: 0 when nothing could be, -1 when a read from the handle failed.
int32_t ReadDataAt(DriverDataFile *file, void *destination, uint32_t count, uint32_t offset);
// Offset of the SectionRecord named name (case-insensitive), or 0.
uint32_t FindSection(DriverDataFile *file, const char *name);
// Copies the string at offset, NUL included, if its NUL lies within
// capacity bytes (at most tdf::kTextCapacity); 1 then, else 0 with destination
// untouched.
int32_t ReadDataString(DriverDataFile *file, uint32_t offset, char *destination,
                       uint32_t capacity);

// Record reads; each zero-fills its record first, so a partial read leaves
// the rest zero.
int32_t ReadSectionRecord(DriverDataFile *file, uint32_t offset, SectionRecord *record);
int32_t ReadSectionInfo(DriverDataFile *file, uint32_t offset, SectionInfo *info);
int32_t ReadMessageEntry(DriverDataFile *file, uint32_t offset, MessageEntry *entry);

// How many records of this size a walk may visit: as many as the file can
// hold, so a chain that loops ends.
uint32_t MaxChainSteps(const DriverDataFile *file, uint32_t recordSize);

// Notices a chain that has come back to an offset it visited (Brent's cycle
// test: one saved offset, re-saved at each power of two). A chain is
// followed the same way each time it passes an offset, so once it loops
// nothing new can come; without this, a loop read through the handle would
// run to the step bound one byte-sized read at a time.
struct LoopGuard {
    uint32_t saved;
    uint32_t power = 1;
    uint32_t length = 0;

    explicit LoopGuard(uint32_t start) : saved(start) {}
    // True when the chain's next offset closes a loop.
    bool Closes(uint32_t next) {
        if (next == saved) return true;
        if (++length == power) {
            saved = next;
            power *= 2;
            length = 0;
        }
        return false;
    }
};
