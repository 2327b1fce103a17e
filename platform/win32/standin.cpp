// The Win32 stand-in on Linux: files over POSIX, global memory over calloc,
// modules over the dynamic loader (and, in the i386 build, PE DLLs over the
// stand-in's own loader), and the C runtime's _splitpath and _strnicmp. It counts what is live, so tests can see that every path
// releases what it acquired, and fails calls on request.
//
// A test double: kept small, thread-safe with one lock, and loud (abort)
// when a caller hands it a handle or block it never gave out.

#include "standin.h"

#include <dlfcn.h>
#include <limits.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <link.h>

// The i386 test build also loads PE DLLs, through the PE host of the tests
// (tests/pe/host); the build defines WIN32_STANDIN_PE then.
#ifndef WIN32_STANDIN_PE
#define WIN32_STANDIN_PE 0
#endif
#if WIN32_STANDIN_PE
#include "pe_host_exports.h"
#include "pe_image.h"
#endif

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace {

struct FileObject {
    int fd;
};

struct Printer {
    std::string name;
    std::string driverPath;
    int devmodeSize;
    StandinEscapeHandler handler;
    void *context;
};

// An open printer or a device context keeps its own copy of the printer.
struct PrinterObject {
    Printer printer;
};
struct DcObject {
    Printer printer;
    std::vector<uint8_t> devmode;
};

struct Module {
    void *library;  // from dlopen; null for the stand-in's kernel32 and PE images
#if WIN32_STANDIN_PE
    PeImage *image;  // a PE DLL, or null
#endif
    int loads;
};

// Why the last LoadLibraryA of this thread failed, as GetLastError would
// tell; what tests read to see a refusal's reason.
thread_local std::string loadError;

// The stand-in's kernel32: its handle is the address of this byte.
char kernel32Image;

constexpr const char *kDefaultSystemDirectory = "C:\\Windows\\system32";

struct State {
    std::mutex lock;
    std::set<void *> files;
    std::set<void *> blocks;
    int calls[StandinCallCount_] = {};
    int failNth[StandinCallCount_] = {};
    bool failAlways[StandinCallCount_] = {};
    DWORD readChunk = 0;

    std::map<void *, Module> modules;
    // Serialises loading and unloading, as the Windows loader lock does; the
    // dynamic loader's own records are then read under it too. Recursive, as
    // on Windows: a DLL's entry point may load another.
    std::recursive_mutex loaderLock;
    std::string systemDirectory = kDefaultSystemDirectory;
    bool wow64 = false;
    bool kernel32HasIsWow64 = true;
    std::string loadedPaths;

    std::vector<Printer> printers;
    std::set<void *> openPrinters;
    std::set<void *> dcs;
    std::string openedPrinters;

    std::vector<StandinDriverCall> driverCalls;
    int32_t driverResult = 0;
};

State &Global() {
    static State state;
    return state;
}

// Counts the call and tells whether it is to fail.
bool Inject(State &s, StandinCall call) {
    ++s.calls[call];
    if (s.failAlways[call]) return true;
    if (s.failNth[call] > 0 && --s.failNth[call] == 0) return true;
    return false;
}

[[noreturn]] void Misuse(const char *what, const void *handle) {
    fprintf(stderr, "win32 stand-in: %s %p was never handed out (or was released)\n", what,
            handle);
    abort();
}

FileObject *FileOf(State &s, HANDLE h) {
    if (s.files.count(h) == 0) Misuse("file handle", h);
    return static_cast<FileObject *>(h);
}

}  // namespace

extern "C" {

HANDLE WINAPI CreateFileA(LPCSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES,
                          DWORD disposition, DWORD, HANDLE) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (Inject(s, StandinCreateFile) || path == nullptr) return INVALID_HANDLE_VALUE;
    // Only what the library asks for: open an existing file for reading.
    if (access != GENERIC_READ || disposition != OPEN_EXISTING) return INVALID_HANDLE_VALUE;
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return INVALID_HANDLE_VALUE;
    FileObject *file = new FileObject{fd};
    s.files.insert(file);
    return file;
}

DWORD WINAPI GetFileSize(HANDLE h, LPDWORD sizeHigh) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    FileObject *file = FileOf(s, h);
    if (Inject(s, StandinGetFileSize)) return INVALID_FILE_SIZE;
    struct stat info;
    if (fstat(file->fd, &info) != 0) return INVALID_FILE_SIZE;
    uint64_t size = static_cast<uint64_t>(info.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    return static_cast<DWORD>(size);
}

BOOL WINAPI ReadFile(HANDLE h, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    FileObject *file = FileOf(s, h);
    if (read) *read = 0;
    if (Inject(s, StandinReadFile)) return FALSE;
    if (s.readChunk != 0 && toRead > s.readChunk) toRead = s.readChunk;
    ssize_t n = ::read(file->fd, buffer, toRead);
    if (n < 0) return FALSE;
    if (read) *read = static_cast<DWORD>(n);
    return TRUE;
}

DWORD WINAPI SetFilePointer(HANDLE h, LONG distance, PLONG distanceHigh, DWORD method) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    FileObject *file = FileOf(s, h);
    if (Inject(s, StandinSetFilePointer) || method != FILE_BEGIN) return INVALID_SET_FILE_POINTER;
    // Without a high part the distance is a signed 32-bit value.
    int64_t target = distanceHigh
                         ? static_cast<int64_t>(static_cast<uint64_t>(*distanceHigh) << 32 |
                                                static_cast<uint32_t>(distance))
                         : distance;
    if (target < 0) return INVALID_SET_FILE_POINTER;
    off_t at = lseek(file->fd, target, SEEK_SET);
    if (at < 0) return INVALID_SET_FILE_POINTER;
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(at) >> 32);
    return static_cast<DWORD>(at);
}

BOOL WINAPI CloseHandle(HANDLE h) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    FileObject *file = FileOf(s, h);
    s.files.erase(h);
    close(file->fd);
    delete file;
    return TRUE;
}

HGLOBAL WINAPI GlobalAlloc(UINT flags, SIZE_T bytes) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (Inject(s, StandinGlobalAlloc)) return nullptr;
    // Movable memory would need handles distinct from addresses; the
    // library asks for fixed memory only.
    if ((flags & ~GMEM_ZEROINIT) != GMEM_FIXED) return nullptr;
    void *block = (flags & GMEM_ZEROINIT) ? calloc(1, bytes ? bytes : 1) : malloc(bytes ? bytes : 1);
    if (block) s.blocks.insert(block);
    return block;
}

LPVOID WINAPI GlobalLock(HGLOBAL memory) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.blocks.count(memory) == 0) Misuse("memory block", memory);
    return memory;
}

BOOL WINAPI GlobalUnlock(HGLOBAL memory) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.blocks.count(memory) == 0) Misuse("memory block", memory);
    return FALSE;  // fixed memory has no lock count
}

HGLOBAL WINAPI GlobalHandle(LPCVOID pointer) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    void *block = const_cast<void *>(pointer);
    return s.blocks.count(block) ? block : nullptr;
}

HGLOBAL WINAPI GlobalFree(HGLOBAL memory) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.blocks.erase(memory) == 0) Misuse("memory block", memory);
    free(memory);
    return nullptr;
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR path, DWORD size) {
    State &s = Global();
    {
        std::lock_guard<std::mutex> guard(s.lock);
        if (Inject(s, StandinGetModuleFileName)) return 0;
    }
    if (size == 0) return 0;
    char found[4096];
    const char *name = nullptr;
    std::string pePath;
#if WIN32_STANDIN_PE
    {
        std::lock_guard<std::mutex> guard(s.lock);
        auto loaded = s.modules.find(module);
        if (loaded != s.modules.end() && loaded->second.image) pePath = PePath(loaded->second.image);
    }
#endif
    if (!pePath.empty()) {
        name = pePath.c_str();
    } else if (module == nullptr) {
        ssize_t n = readlink("/proc/self/exe", found, sizeof found - 1);
        if (n < 0) return 0;
        found[n] = '\0';
        name = found;
    } else {
        Dl_info info;
        if (dladdr(module, &info) == 0 || info.dli_fbase != module || !info.dli_fname) return 0;
        name = info.dli_fname;
    }
    // As on current Windows: a name that does not fit is cut, terminated,
    // and reported with the full buffer size.
    size_t length = strlen(name);
    if (length >= size) {
        memcpy(path, name, size - 1);
        path[size - 1] = '\0';
        return size;
    }
    memcpy(path, name, length + 1);
    return static_cast<DWORD>(length);
}

void _splitpath(const char *path, char *drive, char *dir, char *fname, char *ext) {
    auto put = [](char *to, size_t capacity, const char *from, size_t n) {
        if (!to) return;
        if (n >= capacity) n = capacity - 1;
        memcpy(to, from, n);
        to[n] = '\0';
    };
    const char *p = path;
    size_t driveLength = (p[0] != '\0' && p[1] == ':') ? 2 : 0;
    put(drive, _MAX_DRIVE, p, driveLength);
    p += driveLength;
    // Both separators count, as in the Windows runtime.
    const char *lastSeparator = nullptr;
    const char *lastDot = nullptr;
    for (const char *q = p; *q; ++q) {
        if (*q == '/' || *q == '\\') lastSeparator = q;
        if (*q == '.') lastDot = q;
    }
    const char *name = lastSeparator ? lastSeparator + 1 : p;
    put(dir, _MAX_DIR, p, static_cast<size_t>(name - p));
    if (lastDot && lastDot < name) lastDot = nullptr;
    const char *end = p + strlen(p);
    const char *nameEnd = lastDot ? lastDot : end;
    put(fname, _MAX_FNAME, name, static_cast<size_t>(nameEnd - name));
    put(ext, _MAX_EXT, nameEnd, static_cast<size_t>(end - nameEnd));
}

int _strnicmp(const char *a, const char *b, size_t count) { return strncasecmp(a, b, count); }

StandinLive Standin_Live(void) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    int modules = 0;
    for (const auto &entry : s.modules) modules += entry.second.loads;
    return StandinLive{static_cast<int>(s.files.size()), static_cast<int>(s.blocks.size()), modules,
                       static_cast<int>(s.openPrinters.size()), static_cast<int>(s.dcs.size())};
}

void Standin_Reset(void) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    for (int i = 0; i < StandinCallCount_; ++i) {
        s.calls[i] = 0;
        s.failNth[i] = 0;
        s.failAlways[i] = false;
    }
    s.readChunk = 0;
    s.systemDirectory = kDefaultSystemDirectory;
    s.wow64 = false;
    s.kernel32HasIsWow64 = true;
    s.loadedPaths.clear();
    s.printers.clear();
    s.openedPrinters.clear();
    s.driverCalls.clear();
    s.driverResult = 0;
}

void Standin_FailNth(StandinCall call, int nth) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.failNth[call] = nth;
}

void Standin_FailAlways(StandinCall call, int on) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.failAlways[call] = on != 0;
}

int Standin_Calls(StandinCall call) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.calls[call];
}

void Standin_ReadChunk(DWORD bytes) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.readChunk = bytes;
}

// --- Modules and the system ---------------------------------------------------

namespace {

BOOL WINAPI IsWow64Process(HANDLE process, BOOL *wow64) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (Inject(s, StandinIsWow64Process) || process != GetCurrentProcess() || !wow64) return FALSE;
    *wow64 = s.wow64 ? TRUE : FALSE;
    return TRUE;
}

bool IsKernel32Path(const State &s, const char *path) {
    std::string expected = s.systemDirectory;
    if (expected.empty() || (expected.back() != '\\' && expected.back() != '/')) expected += '\\';
    expected += "Kernel32.dll";
    return strcasecmp(path, expected.c_str()) == 0;
}

}  // namespace

UINT WINAPI GetSystemDirectoryA(LPSTR path, UINT size) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (Inject(s, StandinGetSystemDirectory)) return 0;
    // As on Windows: when the buffer is too small, the size it needs.
    UINT length = static_cast<UINT>(s.systemDirectory.size());
    if (length + 1 > size) return length + 1;
    memcpy(path, s.systemDirectory.c_str(), length + 1);
    return length;
}

#if WIN32_STANDIN_PE

namespace {

// Loads a PE DLL, or finds it loaded from the same file. Called under the
// loader lock, without the state lock: its entry point calls the stand-in.
HMODULE LoadPeImage(State &s, const char *path) {
    // A file loaded already is shared, found by the path it was loaded from
    // before anything is mapped: an image without relocations can only go to
    // its preferred base, which the loaded copy holds.
    char absolute[PATH_MAX];
    std::string wanted = realpath(path, absolute) ? absolute : path;
    std::unique_lock<std::mutex> guard(s.lock);
    for (auto &entry : s.modules) {
        if (entry.second.image && PePath(entry.second.image) == wanted) {
            ++entry.second.loads;
            return entry.first;
        }
    }
    guard.unlock();

    std::string refusal;
    PeImage *image = PeMap(path, PeHostProvidesLibrary, PeHostFunction, &refusal);
    if (image == nullptr) {
        loadError = refusal;
        return nullptr;
    }
    guard.lock();
    // Registered before it is entered, so that its entry point can ask for
    // its own file name.
    void *base = PeBase(image);
    s.modules[base] = Module{nullptr, image, 1};
    guard.unlock();
    if (!PeAttach(image, &refusal)) {
        loadError = refusal;
        guard.lock();
        s.modules.erase(base);
        guard.unlock();
        PeUnmap(image);
        return nullptr;
    }
    return base;
}

}  // namespace

#endif

HMODULE WINAPI LoadLibraryA(LPCSTR path) {
    State &s = Global();
    std::unique_lock<std::mutex> guard(s.lock);
    loadError.clear();
    if (path) s.loadedPaths += std::string(path) + "\n";
    if (Inject(s, StandinLoadLibrary) || path == nullptr) {
        loadError = "LoadLibraryA failed (injected fault or null path)";
        return nullptr;
    }
    if (IsKernel32Path(s, path)) {
        Module &m = s.modules[&kernel32Image];
        ++m.loads;
        return &kernel32Image;
    }
    guard.unlock();  // the library's own constructors may call the stand-in
    std::lock_guard<std::recursive_mutex> loading(s.loaderLock);
#if WIN32_STANDIN_PE
    if (PeIsImageFile(path)) return LoadPeImage(s, path);
#endif
    void *library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    struct link_map *map = nullptr;
    if (library == nullptr || dlinfo(library, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) {
        const char *reason = dlerror();
        loadError = reason ? reason : "dlopen failed";
        if (library) dlclose(library);
        return nullptr;
    }
    void *base = reinterpret_cast<void *>(map->l_addr);
    guard.lock();
    Module &m = s.modules[base];
    if (m.loads++ > 0) {
        guard.unlock();
        dlclose(library);  // the module keeps its first reference
        return base;
    }
    m.library = library;
    return base;
}

const char *Standin_LoadError(void) { return loadError.c_str(); }

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    auto found = s.modules.find(module);
    if (found == s.modules.end()) Misuse("module handle", module);
    if (Inject(s, StandinGetProcAddress) || name == nullptr) return nullptr;
    if (module == &kernel32Image) {
        if (strcmp(name, "IsWow64Process") == 0 && s.kernel32HasIsWow64) {
            // Through void (*)(void), the generic function pointer type.
            return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)(void)>(&IsWow64Process));
        }
        return nullptr;
    }
#if WIN32_STANDIN_PE
    if (found->second.image) {
        return reinterpret_cast<FARPROC>(
            reinterpret_cast<void (*)(void)>(PeExport(found->second.image, name)));
    }
#endif
    return reinterpret_cast<FARPROC>(dlsym(found->second.library, name));
}

BOOL WINAPI FreeLibrary(HMODULE module) {
    State &s = Global();
    // Held across the unload, so that no LoadLibraryA finds the module while
    // it goes (the loader lock comes first, as in LoadLibraryA).
    std::lock_guard<std::recursive_mutex> unloading(s.loaderLock);
    std::unique_lock<std::mutex> guard(s.lock);
    auto found = s.modules.find(module);
    if (found == s.modules.end()) Misuse("module handle", module);
    if (--found->second.loads > 0) return TRUE;
    void *library = found->second.library;
#if WIN32_STANDIN_PE
    PeImage *image = found->second.image;
#endif
    guard.unlock();
    if (library) dlclose(library);
#if WIN32_STANDIN_PE
    // Its entry point is called for process detach and may still ask for its
    // own file name: the module stays registered until it is unmapped.
    if (image) PeUnmap(image);
#endif
    guard.lock();
    // The kernel32 pseudo-module is handed out without the loader lock and
    // may have been taken again meanwhile; a loaded library cannot be.
    auto again = s.modules.find(module);
    if (again != s.modules.end() && again->second.loads == 0) s.modules.erase(again);
    return TRUE;
}

HANDLE WINAPI GetCurrentProcess(void) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(-1)); }

void Standin_SetSystemDirectory(const char *path) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.systemDirectory = path;
}

void Standin_SetWow64(int on) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.wow64 = on != 0;
}

void Standin_SetKernel32HasIsWow64(int on) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.kernel32HasIsWow64 = on != 0;
}

const char *Standin_LoadedPaths(void) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.loadedPaths.c_str();
}

// --- Printers -------------------------------------------------------------------

namespace {

const Printer *FindPrinter(const State &s, const char *name) {
    for (const Printer &p : s.printers) {
        if (name && strcasecmp(p.name.c_str(), name) == 0) return &p;
    }
    return nullptr;
}

}  // namespace

BOOL WINAPI OpenPrinterA(LPSTR name, HANDLE *printer, LPPRINTER_DEFAULTSA) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (name) s.openedPrinters += std::string(name) + "\n";
    if (Inject(s, StandinOpenPrinter) || printer == nullptr) return FALSE;
    const Printer *found = FindPrinter(s, name);
    if (found == nullptr) return FALSE;
    PrinterObject *object = new PrinterObject{*found};
    s.openPrinters.insert(object);
    *printer = object;
    return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE printer) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.openPrinters.erase(printer) == 0) Misuse("printer handle", printer);
    delete static_cast<PrinterObject *>(printer);
    return TRUE;
}

BOOL WINAPI GetPrinterDriverA(HANDLE printer, LPSTR, DWORD level, LPBYTE info, DWORD size,
                              LPDWORD needed) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.openPrinters.count(printer) == 0) Misuse("printer handle", printer);
    if (Inject(s, StandinGetPrinterDriver) || level != 2) return FALSE;
    const Printer &p = static_cast<PrinterObject *>(printer)->printer;
    const char *environment = "Windows 4.0";
    // The record, then its strings, in one buffer as the spooler lays it out.
    std::string strings[5] = {p.name, environment, p.driverPath, p.driverPath, p.driverPath};
    DWORD total = sizeof(DRIVER_INFO_2A);
    for (const std::string &text : strings) total += static_cast<DWORD>(text.size() + 1);
    if (needed) *needed = total;
    if (info == nullptr || size < total) return FALSE;
    DRIVER_INFO_2A *record = reinterpret_cast<DRIVER_INFO_2A *>(info);
    char *at = reinterpret_cast<char *>(info) + sizeof(DRIVER_INFO_2A);
    LPSTR *fields[5] = {&record->pName, &record->pEnvironment, &record->pDriverPath,
                        &record->pDataFile, &record->pConfigFile};
    record->cVersion = 3;
    for (int i = 0; i < 5; ++i) {
        memcpy(at, strings[i].c_str(), strings[i].size() + 1);
        *fields[i] = at;
        at += strings[i].size() + 1;
    }
    return TRUE;
}

LONG WINAPI DocumentPropertiesA(HWND, HANDLE printer, LPSTR, PDEVMODEA output, PDEVMODEA,
                                DWORD mode) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.openPrinters.count(printer) == 0) Misuse("printer handle", printer);
    const Printer &p = static_cast<PrinterObject *>(printer)->printer;
    if (mode == 0) return p.devmodeSize;
    if (Inject(s, StandinDocumentProperties) || !(mode & DM_OUT_BUFFER) || output == nullptr ||
        p.devmodeSize <= 0) {
        return -1;
    }
    // The printer's current settings: its name, repeated.
    uint8_t *bytes = reinterpret_cast<uint8_t *>(output);
    for (int i = 0; i < p.devmodeSize; ++i) bytes[i] = static_cast<uint8_t>(p.name[i % p.name.size()]);
    return IDOK;
}

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR, const DEVMODEA *devmode) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (Inject(s, StandinCreateDC) || driver == nullptr || strcasecmp(driver, "WINSPOOL") != 0) {
        return nullptr;
    }
    const Printer *found = FindPrinter(s, device);
    if (found == nullptr) return nullptr;
    DcObject *dc = new DcObject{*found, {}};
    if (devmode && found->devmodeSize > 0) {
        const uint8_t *bytes = reinterpret_cast<const uint8_t *>(devmode);
        dc->devmode.assign(bytes, bytes + found->devmodeSize);
    }
    s.dcs.insert(dc);
    return dc;
}

int WINAPI ExtEscape(HDC dc, int escape, int inputSize, LPCSTR input, int outputSize,
                     LPSTR output) {
    State &s = Global();
    std::unique_lock<std::mutex> guard(s.lock);
    if (s.dcs.count(dc) == 0) Misuse("device context", dc);
    DcObject *object = static_cast<DcObject *>(dc);
    guard.unlock();  // the driver may take its time; other threads go on
    if (object->printer.handler == nullptr) return 0;
    return object->printer.handler(object->printer.context, object->printer.name.c_str(),
                                   object->devmode.data(), static_cast<int>(object->devmode.size()),
                                   escape, inputSize, input, outputSize, output);
}

BOOL WINAPI DeleteDC(HDC dc) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.dcs.erase(dc) == 0) Misuse("device context", dc);
    delete static_cast<DcObject *>(dc);
    return TRUE;
}

void Standin_AddPrinter(const char *name, const char *driverPath, int devmodeSize,
                        StandinEscapeHandler handler, void *context) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    for (auto it = s.printers.begin(); it != s.printers.end(); ++it) {
        if (strcasecmp(it->name.c_str(), name) == 0) {
            s.printers.erase(it);
            break;
        }
    }
    s.printers.push_back(Printer{name, driverPath ? driverPath : "", devmodeSize, handler, context});
}

void Standin_RemovePrinters(void) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.printers.clear();
}

const char *Standin_OpenedPrinters(void) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.openedPrinters.c_str();
}

// --- The driver's settings library -----------------------------------------------

void Standin_RecordDriverCall(const char *exportName, const char *printerName,
                              const char *argument) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    StandinDriverCall call = {};
    strncpy(call.exportName, exportName, sizeof call.exportName - 1);
    call.printerName = printerName;
    call.argument = argument;
    s.driverCalls.push_back(call);
}

int Standin_DriverCalls(void) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    return static_cast<int>(s.driverCalls.size());
}

StandinDriverCall Standin_DriverCall(int index) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    if (index < 0 || index >= static_cast<int>(s.driverCalls.size())) return StandinDriverCall{};
    return s.driverCalls[index];
}

void Standin_SetDriverResult(int32_t result) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    s.driverResult = result;
}

int32_t Standin_DriverResult(void) {
    State &s = Global();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.driverResult;
}

}  // extern "C"
