// libFuzzer harness for the PE loader of the i386 test host, run in a 64-bit
// build: its checks of the file, the mapping, the base relocations, the
// import binding and the export lookup. Whatever the bytes, it maps the
// image or refuses it with a message naming the file, and never crashes.
// The image is never entered: that needs an i386 process.

#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "pe_call.h"
#include "pe_image.h"

// The trampoline exists only in i386 builds, and nothing here calls it.
extern "C" void Pe_Call(const void *, const uint32_t *, int32_t, int32_t, PeCallResult *) {
    abort();
}

namespace {

char target;  // what every import binds to

bool KnownDll(const char *dll) { return dll[0] != '\0'; }
void *Resolve(const char *, const char *function) {
    return function[0] == '\0' ? nullptr : &target;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string refusal;
    PeImage *image = PeMapBytes(data, size, "/fuzz/TEST.DLL", KnownDll, Resolve, &refusal);
    if (image == nullptr) {
        if (refusal.rfind("TEST.DLL: ", 0) != 0 || refusal.size() <= 10) abort();
        return 0;
    }
    for (const char *name : {"Jpeg_EncodeStart", "DllMain", "", "A"}) PeExport(image, name);
    PeUnmap(image);
    return 0;
}
