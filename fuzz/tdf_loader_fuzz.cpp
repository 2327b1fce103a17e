// libFuzzer harness for the driver data file reader and the message table:
// whatever the file holds, and whichever allocation or read fails, loading
// must end, every result must be a string of at most 289 characters, and
// freeing must leave no block and no file handle behind.
//
// Input: one control byte, then the bytes of the data file.
//   control >> 6 == 0   no fault
//   control >> 6 == 1   the (control & 63)th GlobalAlloc fails (0: none)
//   control >> 6 == 2   the (control & 63)th ReadFile fails (0: none)
//   control >> 6 == 3   bits 1-3, if nonzero, cap each ReadFile at that
//                       many bytes; bit 0 set: the whole read fails, so the
//                       file is read through its handle, its size known
//   control == 0xFE     the contents block fails: read through the handle,
//                       the size unknown (0)
//   control == 0xFF     GetFileSize fails: the same
//
// Without a size a chain may take 65536 steps, each reading its key byte by
// byte through the handle: seconds for one input. Those two values are kept
// rare so that they do not starve the search everywhere else.

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "error_messages.h"
#include "standin.h"
#include "trivsets.h"

namespace {

char path[512];

void RemoveFile() { unlink(path); }

// One file per process, so that parallel fuzzing jobs do not share it.
const char *InputPath() {
    if (path[0] == '\0') {
        const char *dir = getenv("TMPDIR");
        snprintf(path, sizeof path, "%s/tdf_loader_fuzz.%d.tdf", dir && *dir ? dir : "/tmp",
                 static_cast<int>(getpid()));
        atexit(RemoveFile);
    }
    return path;
}

void WriteInput(const uint8_t *data, size_t size) {
    FILE *f = fopen(InputPath(), "wb");
    if (f == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, f) != size) abort();
    if (fclose(f) != 0) abort();
}

void InjectFault(uint8_t control) {
    int n = control & 63;
    switch (control >> 6) {
        case 1: Standin_FailNth(StandinGlobalAlloc, n); break;
        case 2: Standin_FailNth(StandinReadFile, n); break;
        case 3:
            if (control == 0xFE) {
                Standin_FailNth(StandinGlobalAlloc, 2);  // the record is the first
            } else if (control == 0xFF) {
                Standin_FailAlways(StandinGetFileSize, 1);
            } else {
                Standin_ReadChunk((control >> 1) & 7);
                if (control & 1) Standin_FailNth(StandinReadFile, 1);
            }
            break;
        default: break;
    }
}

void Check(bool ok, const char *what) {
    if (ok) return;
    fprintf(stderr, "tdf_loader_fuzz: %s\n", what);
    abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    WriteInput(data + 1, size - 1);

    Standin_Reset();
    InjectFault(data[0]);
    LoadErrorMessageFile(InputPath());
    Standin_Reset();

    const char *fallback = SPRINST_GetErrorMsg(kFallbackMessage);
    const int32_t results[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 99, -1};
    for (int32_t result : results) {
        const char *text = SPRINST_GetErrorMsg(result);
        Check(text != nullptr, "a null text");
        Check(strlen(text) < 290, "a text longer than its block");
        if (result >= kFallbackMessage || result < 0) {
            Check(text == fallback, "a result above 14 without the general text");
        }
    }
    Check(Standin_Live().files == 0, "the data file was left open");

    FreeErrorMessages();
    StandinLive live = Standin_Live();
    Check(live.files == 0 && live.blocks == 0, "a block or handle outlives FreeErrorMessages");
    for (int i = 0; i < kErrorMessageCount; ++i) {
        Check(ErrorMessageTable[i].text == nullptr, "a text left after FreeErrorMessages");
    }
    return 0;
}
