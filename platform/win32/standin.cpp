// The Win32 stand-in on Linux: files over POSIX, global memory over calloc,
// modules over the dynamic loader, and the C runtime's _splitpath and
// _strnicmp. It counts what is live, so tests can see that every path
// releases what it acquired, and fails calls on request.
//
// A test double: kept small, thread-safe with one lock, and loud (abort)
// when a caller hands it a handle or block it never gave out.

#include "standin.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <set>

namespace {

struct FileObject {
    int fd;
};

struct State {
    std::mutex lock;
    std::set<void *> files;
    std::set<void *> blocks;
    int calls[StandinCallCount_] = {};
    int failNth[StandinCallCount_] = {};
    bool failAlways[StandinCallCount_] = {};
    DWORD readChunk = 0;
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
    if (module == nullptr) {
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
    return StandinLive{static_cast<int>(s.files.size()), static_cast<int>(s.blocks.size())};
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

}  // extern "C"
