// libFuzzer harness for `tdftool dump`: the listing of any data file ends,
// reads nothing outside the file, and shows control bytes escaped, so no
// line it prints carries one.

#include <stdint.h>
#include <stdlib.h>

#include <string_view>

#include "tdf_format.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    size_t lines = 0;
    size_t faults = tdf::DumpDataFile(data, size, [&lines](std::string_view line) {
        ++lines;
        for (char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) abort();
        }
    });
    if (lines == 0) abort();  // at least the header line or a fault
    return faults > lines ? 1 : 0;
}
