// Whole-file reading and writing for the command-line tools.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

// Replaces bytes with the file's contents; "-" reads standard input. On
// failure false with a short reason in error.
bool ReadWhole(const std::string &path, std::vector<uint8_t> *bytes, std::string *error);

// Writes data to path, whole or not at all, and touches nothing else:
// - "-" is standard output;
// - a symbolic link is followed, and what it points to is written;
// - a regular file (or a new one) is written to a temporary file beside it
//   and renamed into place only when complete, so a failed write leaves the
//   old file as it was; a replaced file keeps its mode and owner;
// - anything else (a device, a FIFO) is opened and written directly.
// Binary data never goes to a terminal: that is refused.
// On failure false with a short reason in error.
bool WriteWhole(const std::string &path, const uint8_t *data, size_t size, std::string *error);

// True if path is "-" and standard output is a terminal, so that a tool can
// refuse before it does any work.
bool IsTerminalStdout(const std::string &path);
