// PE32 DLLs for i386, mapped into this i386 Linux process so that tests run
// the shipped DLLs themselves. Internal to the stand-in: callers reach it
// through LoadLibraryA, GetProcAddress, GetModuleFileNameA and FreeLibrary.
//
// Supported: one file read whole; i386, PE32, the DLL flag; sections mapped
// with their own protections; HIGHLOW base relocations; imports by name from
// the DLLs the host provides; exports by name; the entry point called on
// process attach and detach. Refused, each with a message naming the file:
// anything else (another machine, PE32+, an executable, other relocation
// kinds, imports by ordinal or of functions the host lacks, TLS, delay-load
// imports, managed code).
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>

struct PeImage;

// What the host provides for an import: its address, or null.
typedef void *(*PeImportResolver)(const char *dll, const char *function);
// Whether the host provides a DLL of that name at all.
typedef bool (*PeLibraryKnown)(const char *dll);

// Whether the file starts like a PE image ("MZ").
bool PeIsImageFile(const char *path);

// Maps the image at path, relocates it and binds its imports; it is not yet
// entered. Null, with the reason in *refusal, if it cannot be.
PeImage *PeMap(const char *path, PeLibraryKnown known, PeImportResolver resolve,
               std::string *refusal);
// The same for a file already in memory; path only names it. Maps and
// binds on any Linux (the fuzzer runs it in a 64-bit build), though only an
// i386 process can enter the image.
PeImage *PeMapBytes(const uint8_t *data, size_t size, const std::string &path, PeLibraryKnown known,
                    PeImportResolver resolve, std::string *refusal);
// Calls the entry point for process attach. A DLL that reports failure is
// called for detach at once, as Windows does. False, with the reason in
// *refusal, if the attach failed or the entry point broke its convention.
bool PeAttach(PeImage *image, std::string *refusal);
// Calls the entry point for process detach if attached, and unmaps.
void PeUnmap(PeImage *image);

void *PeBase(const PeImage *image);
// The path it was loaded from, made absolute.
const std::string &PePath(const PeImage *image);
// The export of that name; null if there is none, or it is forwarded to
// another DLL (not supported).
void *PeExport(const PeImage *image, const char *name);
