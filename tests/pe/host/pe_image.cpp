// The PE32 loader of the stand-in: file checks, section mapping, base
// relocations, import binding, export lookup and the entry point.
//
// Everything is read from the file's bytes with bounds checks: a test feeds
// it patched and truncated DLLs on purpose, and a refusal must be a message,
// not a crash.

#include "pe_image.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "pe_call.h"

namespace {

constexpr uint16_t kMachineI386 = 0x014C;
constexpr uint16_t kMagicPe32 = 0x010B;
constexpr uint16_t kFileRelocsStripped = 0x0001;
constexpr uint16_t kFileExecutableImage = 0x0002;
constexpr uint16_t kFileDll = 0x2000;

constexpr uint32_t kSectionExecute = 0x20000000;
constexpr uint32_t kSectionRead = 0x40000000;
constexpr uint32_t kSectionWrite = 0x80000000;

constexpr int kRelocationAbsolute = 0;  // padding that keeps blocks 4-byte sized
constexpr int kRelocationHighLow = 3;   // add the delta to a 32-bit address

constexpr uint32_t kImportByOrdinal = 0x80000000;
constexpr uint32_t kMaxImageSize = 64u << 20;

// Offsets in the headers. The file header follows the "PE\0\0" signature;
// the optional header follows the file header.
constexpr uint32_t kFileHeaderSize = 20;
constexpr uint32_t kOptionalHeaderPe32Size = 96;  // without the data directories
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kImportDescriptorSize = 20;
constexpr uint32_t kExportDirectorySize = 40;

enum Directory : uint32_t {
    kDirectoryExport = 0,
    kDirectoryImport = 1,
    kDirectoryBaseRelocation = 5,
    kDirectoryTls = 9,
    kDirectoryDelayImport = 13,
    kDirectoryClr = 14,
};

// DllMain is __stdcall with three arguments: it must pop 12 bytes.
constexpr int32_t kEntryArgumentBytes = 12;
// Windows enters a DLL from a stack it keeps 4-byte aligned only.
constexpr int32_t kEntryStackOffset = 4;

std::string Hex(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "0x%X", value);
    return text;
}

// Little-endian reads from a byte range, failing instead of overrunning.
struct Bytes {
    const uint8_t *data;
    size_t size;

    bool Has(uint64_t at, uint64_t count) const { return at <= size && count <= size - at; }
    uint16_t U16(size_t at) const { return static_cast<uint16_t>(data[at] | data[at + 1] << 8); }
    uint32_t U32(size_t at) const {
        return data[at] | data[at + 1] << 8 | data[at + 2] << 16 |
               static_cast<uint32_t>(data[at + 3]) << 24;
    }
    // A NUL-terminated string wholly inside the range, or null.
    const char *String(size_t at) const {
        if (at >= size) return nullptr;
        const void *end = memchr(data + at, 0, size - at);
        return end ? reinterpret_cast<const char *>(data + at) : nullptr;
    }
};

struct DataDirectory {
    uint32_t rva;
    uint32_t size;
};

struct Section {
    char name[9];
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawOffset;
    uint32_t characteristics;
};

struct Headers {
    uint16_t characteristics;
    uint32_t entryPoint;
    uint32_t imageBase;
    uint32_t sectionAlignment;
    uint32_t sizeOfImage;
    uint32_t sizeOfHeaders;
    DataDirectory directories[16];
    std::vector<Section> sections;
};

bool ReadWholeFile(const char *path, std::vector<uint8_t> *bytes, std::string *error) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::string("cannot open: ") + strerror(errno);
        return false;
    }
    struct stat info;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        bytes->resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (ok && done < bytes->size()) {
            ssize_t n = read(fd, bytes->data() + done, bytes->size() - done);
            if (n <= 0)
                ok = false;
            else
                done += static_cast<size_t>(n);
        }
    }
    close(fd);
    if (!ok) *error = "cannot read the file";
    return ok;
}

// Checks the headers of a PE32 i386 DLL and reads what the loader needs.
bool ParseHeaders(const Bytes &file, Headers *h, std::string *error) {
    if (!file.Has(0, 64) || file.data[0] != 'M' || file.data[1] != 'Z') {
        *error = "not a PE image: no MZ header";
        return false;
    }
    uint32_t pe = file.U32(0x3C);
    if (!file.Has(pe, 4 + kFileHeaderSize) || memcmp(file.data + pe, "PE\0\0", 4) != 0) {
        *error = "not a PE image: no PE signature at " + Hex(pe);
        return false;
    }
    uint32_t header = pe + 4;
    uint16_t machine = file.U16(header);
    if (machine != kMachineI386) {
        *error = "machine " + Hex(machine) + " is not i386 (0x14C)";
        return false;
    }
    uint16_t sectionCount = file.U16(header + 2);
    uint16_t optionalSize = file.U16(header + 16);
    h->characteristics = file.U16(header + 18);
    if (!(h->characteristics & kFileDll)) {
        *error = "not a DLL: Characteristics " + Hex(h->characteristics) + " lack the DLL flag";
        return false;
    }
    if (!(h->characteristics & kFileExecutableImage)) {
        *error = "not an executable image: Characteristics " + Hex(h->characteristics);
        return false;
    }

    uint32_t optional = header + kFileHeaderSize;
    if (optionalSize < 2 || !file.Has(optional, optionalSize)) {
        *error = "the optional header is missing or cut short";
        return false;
    }
    uint16_t magic = file.U16(optional);
    if (magic != kMagicPe32) {
        *error = "not a PE32 image: optional header magic " + Hex(magic) + " (PE32 is 0x10B)";
        return false;
    }
    if (optionalSize < kOptionalHeaderPe32Size) {
        *error = "the PE32 optional header is cut short";
        return false;
    }
    h->entryPoint = file.U32(optional + 16);
    h->imageBase = file.U32(optional + 28);
    h->sectionAlignment = file.U32(optional + 32);
    h->sizeOfImage = file.U32(optional + 56);
    h->sizeOfHeaders = file.U32(optional + 60);
    uint32_t directoryCount = file.U32(optional + 92);
    uint32_t room = (optionalSize - kOptionalHeaderPe32Size) / 8;
    for (uint32_t i = 0; i < 16; ++i) {
        h->directories[i] = {0, 0};
        if (i < directoryCount && i < room) {
            uint32_t at = optional + kOptionalHeaderPe32Size + 8 * i;
            h->directories[i] = {file.U32(at), file.U32(at + 4)};
        }
    }
    // The DLLs the tests load take well under a megabyte. A larger claim is
    // refused rather than mapped, relocated and protected page by page (the
    // fuzzer's 900 MB image took half a minute).
    if (h->sizeOfImage == 0 || h->sizeOfImage > kMaxImageSize ||
        h->sizeOfHeaders > h->sizeOfImage || !file.Has(0, h->sizeOfHeaders)) {
        *error = "SizeOfImage " + Hex(h->sizeOfImage) + " or SizeOfHeaders " +
                 Hex(h->sizeOfHeaders) + " is out of range";
        return false;
    }

    uint32_t table = optional + optionalSize;
    if (!file.Has(table, uint64_t{sectionCount} * kSectionHeaderSize)) {
        *error = "the section table is cut short";
        return false;
    }
    for (uint32_t i = 0; i < sectionCount; ++i) {
        uint32_t at = table + i * kSectionHeaderSize;
        Section s = {};
        memcpy(s.name, file.data + at, 8);
        s.virtualSize = file.U32(at + 8);
        s.virtualAddress = file.U32(at + 12);
        s.rawSize = file.U32(at + 16);
        s.rawOffset = file.U32(at + 20);
        s.characteristics = file.U32(at + 36);
        uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
        if (s.virtualAddress < h->sizeOfHeaders ||
            uint64_t{s.virtualAddress} + span > h->sizeOfImage) {
            *error = std::string("section ") + s.name + " lies outside the image";
            return false;
        }
        if (s.rawSize != 0 && !file.Has(s.rawOffset, s.rawSize)) {
            *error = std::string("section ") + s.name + " lies beyond the end of the file";
            return false;
        }
        // A section off its alignment could not get its own protection.
        if (h->sectionAlignment != 0 && s.virtualAddress % h->sectionAlignment != 0) {
            *error = std::string("section ") + s.name + " is not aligned to SectionAlignment " +
                     Hex(h->sectionAlignment);
            return false;
        }
        if (!(s.characteristics & (kSectionRead | kSectionWrite | kSectionExecute))) {
            *error = std::string("section ") + s.name + " may be neither read, written nor run";
            return false;
        }
        h->sections.push_back(s);
    }

    // What the host does not do is refused, rather than half done.
    if (h->directories[kDirectoryTls].rva != 0) {
        *error =
            "has a TLS directory (thread-local data or TLS callbacks), which the host does "
            "not support";
        return false;
    }
    if (h->directories[kDirectoryDelayImport].rva != 0) {
        *error = "has delay-load imports, which the host does not support";
        return false;
    }
    if (h->directories[kDirectoryClr].rva != 0) {
        *error = "is a managed (CLR) image, which the host does not support";
        return false;
    }
    return true;
}

}  // namespace

struct PeImage {
    std::string path;
    std::string name;  // the file name, for messages
    uint8_t *base = nullptr;
    size_t mappedSize = 0;
    uint32_t sizeOfImage = 0;
    uint32_t entryPoint = 0;
    DataDirectory exports = {0, 0};
    bool attached = false;

    Bytes Image() const { return Bytes{base, sizeOfImage}; }
};

namespace {

std::string FileName(const std::string &path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool Relocate(PeImage *image, const Headers &h, std::string *error) {
    uint32_t delta = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image->base)) - h.imageBase;
    DataDirectory dir = h.directories[kDirectoryBaseRelocation];
    Bytes bytes = image->Image();
    if (dir.rva == 0) return true;  // mapped at its preferred base (PeMap saw to that)
    if (!bytes.Has(dir.rva, dir.size)) {
        *error = "the base relocation directory lies outside the image";
        return false;
    }
    // Blocks of (page RVA, block size, then 16-bit entries: type << 12 | offset).
    uint32_t at = dir.rva, end = dir.rva + dir.size;
    while (at + 8 <= end) {
        uint32_t page = bytes.U32(at), blockSize = bytes.U32(at + 4);
        if (blockSize < 8 || blockSize > end - at) {
            *error = "base relocation block at " + Hex(at) + " has a bad size " + Hex(blockSize);
            return false;
        }
        for (uint32_t e = at + 8; e + 2 <= at + blockSize; e += 2) {
            uint16_t entry = bytes.U16(e);
            int type = entry >> 12;
            uint64_t target = uint64_t{page} + (entry & 0xFFF);
            if (type == kRelocationAbsolute) continue;
            if (type != kRelocationHighLow) {
                *error = "base relocation of type " + std::to_string(type) + " at RVA " +
                         Hex(static_cast<uint32_t>(target)) +
                         " is not supported (only HIGHLOW and ABSOLUTE)";
                return false;
            }
            if (!bytes.Has(target, 4)) {
                *error = "base relocation at RVA " + Hex(static_cast<uint32_t>(target)) +
                         " lies outside the image";
                return false;
            }
            uint32_t value;
            memcpy(&value, image->base + target, 4);
            value += delta;
            memcpy(image->base + target, &value, 4);
        }
        at += blockSize;
    }
    return true;
}

bool BindImports(PeImage *image, const Headers &h, PeLibraryKnown known, PeImportResolver resolve,
                 std::string *error) {
    DataDirectory dir = h.directories[kDirectoryImport];
    if (dir.rva == 0) return true;
    Bytes bytes = image->Image();
    for (uint32_t at = dir.rva;; at += kImportDescriptorSize) {
        if (!bytes.Has(at, kImportDescriptorSize)) {
            *error = "the import directory runs off the image";
            return false;
        }
        uint32_t lookup = bytes.U32(at), nameRva = bytes.U32(at + 12), iat = bytes.U32(at + 16);
        if (nameRva == 0 && iat == 0) return true;  // the all-zero terminator
        const char *dll = bytes.String(nameRva);
        if (dll == nullptr) {
            *error = "an import's DLL name lies outside the image";
            return false;
        }
        if (!known(dll)) {
            *error = std::string("imports from ") + dll + ", a DLL the host does not provide";
            return false;
        }
        // Linkers may omit the lookup table; the address table then holds
        // the same entries until it is bound.
        if (lookup == 0) lookup = iat;
        for (uint32_t i = 0;; ++i) {
            if (!bytes.Has(lookup + uint64_t{4} * i, 4) || !bytes.Has(iat + uint64_t{4} * i, 4)) {
                *error = std::string("the import table of ") + dll + " runs off the image";
                return false;
            }
            uint32_t entry = bytes.U32(lookup + 4 * i);
            if (entry == 0) break;
            if (entry & kImportByOrdinal) {
                *error = "imports ordinal " + std::to_string(entry & 0xFFFF) + " from " + dll +
                         "; the host binds imports by name only";
                return false;
            }
            const char *function = bytes.String(uint64_t{entry} + 2);  // after the 16-bit hint
            if (function == nullptr) {
                *error = std::string("an import name of ") + dll + " lies outside the image";
                return false;
            }
            void *address = resolve(dll, function);
            if (address == nullptr) {
                *error = std::string("imports ") + function + " from " + dll +
                         ", which the host does not provide";
                return false;
            }
            uint32_t value = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(address));
            memcpy(image->base + iat + 4 * i, &value, 4);
        }
    }
}

// Gives the headers and each section its own protection. With sections
// smaller than a page that cannot be done, and the image stays writable and
// executable throughout. False when the system refuses a protection.
bool Protect(PeImage *image, const Headers &h, std::string *error) {
    size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    if (h.sectionAlignment == 0 || h.sectionAlignment % page != 0) {
        if (mprotect(image->base, image->mappedSize, PROT_READ | PROT_WRITE | PROT_EXEC) == 0) {
            return true;
        }
        *error = "its pages cannot be made executable";
        return false;
    }
    if (mprotect(image->base, image->mappedSize, PROT_READ) != 0) {
        *error = "its headers cannot be protected";
        return false;
    }
    for (const Section &s : h.sections) {
        size_t span = s.virtualSize ? s.virtualSize : s.rawSize;
        span = (span + page - 1) / page * page;
        if (span == 0) continue;
        int protection = 0;
        if (s.characteristics & kSectionRead) protection |= PROT_READ;
        if (s.characteristics & kSectionWrite) protection |= PROT_WRITE;
        if (s.characteristics & kSectionExecute) protection |= PROT_EXEC;
        if (mprotect(image->base + s.virtualAddress, span, protection) != 0) {
            *error = std::string("section ") + s.name + " cannot be given its protection";
            return false;
        }
    }
    return true;
}

// Whether an address of the image lies in a section that may run.
bool InExecutableSection(const Headers &h, uint32_t rva) {
    for (const Section &s : h.sections) {
        uint32_t span = s.virtualSize ? s.virtualSize : s.rawSize;
        if (rva >= s.virtualAddress && rva - s.virtualAddress < span) {
            return (s.characteristics & kSectionExecute) != 0;
        }
    }
    return false;
}

bool CallEntry(PeImage *image, uint32_t reason, uint32_t *returned, std::string *error) {
    uint32_t arguments[3] = {static_cast<uint32_t>(reinterpret_cast<uintptr_t>(image->base)),
                             reason, 0};
    PeCallResult result;
    Pe_Call(image->base + image->entryPoint, arguments, 3, kEntryStackOffset, &result);
    *returned = result.eax;
    if (result.popped != kEntryArgumentBytes) {
        *error = "its entry point popped " + std::to_string(result.popped) +
                 " bytes of arguments, not the 12 of a __stdcall DllMain";
        return false;
    }
    if (!result.registersKept || !result.directionClear) {
        *error = "its entry point did not keep ebx, esi, edi or the direction flag";
        return false;
    }
    return true;
}

}  // namespace

bool PeIsImageFile(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char magic[2] = {};
    bool image = read(fd, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z';
    close(fd);
    return image;
}

PeImage *PeMap(const char *path, PeLibraryKnown known, PeImportResolver resolve,
               std::string *refusal) {
    std::string error;
    std::vector<uint8_t> file;
    char absolute[PATH_MAX];
    std::string where = realpath(path, absolute) ? absolute : path;
    if (!ReadWholeFile(path, &file, &error)) {
        *refusal = FileName(where) + ": " + error;
        return nullptr;
    }
    return PeMapBytes(file.data(), file.size(), where, known, resolve, refusal);
}

PeImage *PeMapBytes(const uint8_t *data, size_t size, const std::string &path,
                    PeLibraryKnown known, PeImportResolver resolve, std::string *refusal) {
    std::string error;
    const Bytes file{data, size};
    Headers h;
    PeImage *image = new PeImage;
    image->path = path;
    image->name = FileName(image->path);

    bool ok = ParseHeaders(file, &h, &error);
    if (ok) {
        size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
        image->sizeOfImage = h.sizeOfImage;
        image->mappedSize = (h.sizeOfImage + page - 1) / page * page;
        image->entryPoint = h.entryPoint;
        image->exports = h.directories[kDirectoryExport];
        // An image without relocations can only run at its preferred base.
        bool fixed = h.directories[kDirectoryBaseRelocation].rva == 0 ||
                     (h.characteristics & kFileRelocsStripped);
        void *want =
            fixed ? reinterpret_cast<void *>(static_cast<uintptr_t>(h.imageBase)) : nullptr;
        // Windows keeps the first 64 KiB unmapped; here a process with the
        // rights to map page 0 would get a null base and copy through it.
        if (fixed && h.imageBase < 0x10000) {
            *refusal = image->name + ": has no base relocations, and its preferred base " +
                       Hex(h.imageBase) + " lies in the first 64 KiB";
            PeUnmap(image);
            return nullptr;
        }
        void *base = mmap(want, image->mappedSize, PROT_READ | PROT_WRITE,
                          MAP_PRIVATE | MAP_ANONYMOUS | (fixed ? MAP_FIXED_NOREPLACE : 0), -1, 0);
        if (base == MAP_FAILED || (fixed && base != want)) {
            if (base != MAP_FAILED) munmap(base, image->mappedSize);
            error = fixed ? "has no base relocations, and its preferred base " + Hex(h.imageBase) +
                                " is taken"
                          : std::string("cannot map the image: ") + strerror(errno);
            ok = false;
        } else {
            image->base = static_cast<uint8_t *>(base);
        }
    }
    if (ok) {
        memcpy(image->base, data, h.sizeOfHeaders);
        for (const Section &s : h.sections) {
            uint32_t copy = s.rawSize;
            if (s.virtualSize != 0 && s.virtualSize < copy) copy = s.virtualSize;
            memcpy(image->base + s.virtualAddress, data + s.rawOffset, copy);
        }
        ok = Relocate(image, h, &error) && BindImports(image, h, known, resolve, &error);
    }
    if (ok && image->entryPoint != 0 && image->entryPoint >= h.sizeOfImage) {
        error = "its entry point " + Hex(image->entryPoint) + " lies outside the image";
        ok = false;
    }
    if (ok && image->entryPoint != 0 && !InExecutableSection(h, image->entryPoint)) {
        error = "its entry point " + Hex(image->entryPoint) + " lies in no executable section";
        ok = false;
    }
    ok = ok && Protect(image, h, &error);
    if (!ok) {
        *refusal = image->name + ": " + error;
        PeUnmap(image);
        return nullptr;
    }
    return image;
}

bool PeAttach(PeImage *image, std::string *refusal) {
    if (image->entryPoint == 0) {
        image->attached = true;
        return true;
    }
    uint32_t returned = 0;
    std::string error;
    bool ok = CallEntry(image, DLL_PROCESS_ATTACH, &returned, &error);
    if (ok && returned == 0) {
        uint32_t ignored;
        std::string detachError;
        CallEntry(image, DLL_PROCESS_DETACH, &ignored, &detachError);
        error = "its entry point failed the process attach";
        ok = false;
    }
    if (!ok) {
        *refusal = image->name + ": " + error;
        return false;
    }
    image->attached = true;
    return true;
}

void PeUnmap(PeImage *image) {
    if (image == nullptr) return;
    if (image->attached && image->entryPoint != 0) {
        uint32_t ignored;
        std::string error;
        CallEntry(image, DLL_PROCESS_DETACH, &ignored, &error);
    }
    if (image->base != nullptr) munmap(image->base, image->mappedSize);
    delete image;
}

void *PeBase(const PeImage *image) { return image->base; }

const std::string &PePath(const PeImage *image) { return image->path; }

void *PeExport(const PeImage *image, const char *name) {
    DataDirectory dir = image->exports;
    Bytes bytes = image->Image();
    // A "name" below 0x10000 is an ordinal (MAKEINTRESOURCE); only names
    // are looked up.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) return nullptr;
    if (dir.rva == 0 || !bytes.Has(dir.rva, kExportDirectorySize)) return nullptr;
    uint32_t functionCount = bytes.U32(dir.rva + 20), nameCount = bytes.U32(dir.rva + 24);
    uint32_t functions = bytes.U32(dir.rva + 28), names = bytes.U32(dir.rva + 32);
    uint32_t ordinals = bytes.U32(dir.rva + 36);
    if (!bytes.Has(names, uint64_t{4} * nameCount) ||
        !bytes.Has(ordinals, uint64_t{2} * nameCount) ||
        !bytes.Has(functions, uint64_t{4} * functionCount)) {
        return nullptr;
    }
    for (uint32_t i = 0; i < nameCount; ++i) {
        const char *exported = bytes.String(bytes.U32(names + 4 * i));
        if (exported == nullptr || strcmp(exported, name) != 0) continue;
        uint16_t index = bytes.U16(ordinals + 2 * i);
        if (index >= functionCount) return nullptr;
        uint32_t rva = bytes.U32(functions + 4 * index);
        // An address inside the export directory is a forwarder string.
        if (rva >= dir.rva && rva < dir.rva + dir.size) return nullptr;
        if (rva == 0 || rva >= image->sizeOfImage) return nullptr;
        return image->base + rva;
    }
    return nullptr;
}
