// Whole-file reading and writing for the command-line tools.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Appends the file's bytes; on failure false with a short reason in error.
bool ReadWhole(const std::string &path, std::vector<uint8_t> *bytes, std::string *error);

// Writes to PATH.part beside the target and renames it into place, so a
// failed write never leaves a partial file under the output name (and an
// existing file stays as it was).
bool WriteWhole(const std::string &path, const uint8_t *data, size_t size, std::string *error);
