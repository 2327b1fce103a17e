#include "file_io.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

bool ReadWhole(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
    FILE *f = fopen(path.c_str(), "rb");
    if (!f) {
        *error = strerror(errno);
        return false;
    }
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !ferror(f);
    if (!ok) *error = "read error";
    fclose(f);
    return ok;
}

bool WriteWhole(const std::string &path, const uint8_t *data, size_t size, std::string *error) {
    std::string temp = path + ".part";
    FILE *f = fopen(temp.c_str(), "wb");
    if (!f) {
        *error = temp + ": " + strerror(errno);
        return false;
    }
    bool ok = fwrite(data, 1, size, f) == size;
    ok = (fclose(f) == 0) && ok;
#ifdef _WIN32
    if (ok) remove(path.c_str());  // rename does not replace an existing file here
#endif
    if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        *error = strerror(errno);
        remove(temp.c_str());
    }
    return ok;
}
