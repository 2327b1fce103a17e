#include "file_io.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

bool Fail(std::string *error, std::string what) {
    *error = std::move(what);
    return false;
}

}  // namespace

bool IsTerminalStdout(const std::string &path) {
#ifdef _WIN32
    return path == "-" && _isatty(_fileno(stdout));
#else
    return path == "-" && isatty(STDOUT_FILENO);
#endif
}

#ifdef _WIN32

// Windows: no symbolic links or devices to care for; a temporary file renamed
// into place, and standard output switched to binary.
bool ReadWhole(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
    FILE *f = path == "-" ? stdin : fopen(path.c_str(), "rb");
    if (!f) return Fail(error, strerror(errno));
    if (f == stdin) _setmode(_fileno(stdin), _O_BINARY);
    bytes->clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    bool ok = !ferror(f);
    if (f != stdin) fclose(f);
    return ok || Fail(error, "read error");
}

bool WriteWhole(const std::string &path, const uint8_t *data, size_t size, std::string *error) {
    if (path == "-") {
        if (IsTerminalStdout(path)) return Fail(error, "standard output is a terminal");
        _setmode(_fileno(stdout), _O_BINARY);
        bool ok = fwrite(data, 1, size, stdout) == size;
        return (fflush(stdout) == 0 && ok) || Fail(error, strerror(errno));
    }
    std::string temp = path + ".part";
    FILE *f = fopen(temp.c_str(), "wb");
    if (!f) return Fail(error, temp + ": " + strerror(errno));
    bool ok = fwrite(data, 1, size, f) == size;
    ok = (fclose(f) == 0) && ok;
    if (ok) remove(path.c_str());  // rename does not replace an existing file here
    if (ok && rename(temp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) {
        *error = strerror(errno);
        remove(temp.c_str());
    }
    return ok;
}

#else

namespace {

bool WriteAll(int fd, const uint8_t *data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n == 0) errno = EIO;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// Where a path that names nothing yet is to be made: the path itself, or
// where the chain of symbolic links it starts ends.
bool MissingTarget(std::string path, std::string *target, std::string *error) {
    struct stat st;
    for (int hops = 0; lstat(path.c_str(), &st) == 0; ++hops) {
        if (hops == 40) return Fail(error, strerror(ELOOP));
        if (!S_ISLNK(st.st_mode)) return Fail(error, strerror(EEXIST));  // made meanwhile
        char link[4096];
        ssize_t n = readlink(path.c_str(), link, sizeof link);
        if (n < 0) return Fail(error, strerror(errno));
        if (static_cast<size_t>(n) == sizeof link) return Fail(error, strerror(ENAMETOOLONG));
        std::string to(link, static_cast<size_t>(n));
        // A relative link is relative to the directory that holds it.
        size_t slash = path.rfind('/');
        path = to[0] == '/' || slash == std::string::npos ? to : path.substr(0, slash + 1) + to;
    }
    if (errno != ENOENT) return Fail(error, strerror(errno));
    *target = std::move(path);
    return true;
}

// A device, a FIFO or a socket: written where it is, never replaced.
bool WriteInPlace(const std::string &target, const uint8_t *data, size_t size, std::string *error) {
    int fd = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return Fail(error, strerror(errno));
    int failure = isatty(fd) ? ENOTTY : WriteAll(fd, data, size) ? 0 : errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == ENOTTY) return Fail(error, "is a terminal");
    return failure == 0 || Fail(error, strerror(failure));
}

// A regular file, or a new one: a temporary file beside it, renamed over it
// once written and flushed, with the old file's mode and owner.
bool Replace(const std::string &target, const struct stat *old, const uint8_t *data, size_t size,
             std::string *error) {
    std::string temp = target + ".XXXXXX.part";
    int fd = mkstemps(temp.data(), 5);
    if (fd < 0)
        return Fail(error,
                    "cannot create a temporary file beside it: " + std::string(strerror(errno)));
    mode_t mode;
    if (old) {
        // Only root can give the file back to its owner; anyone else's copy
        // is their own, as any file they write is.
        int chowned = fchown(fd, old->st_uid, old->st_gid);
        (void)chowned;
        mode = old->st_mode & 07777;
    } else {
        mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    int failure = fchmod(fd, mode) == 0 && WriteAll(fd, data, size) && fsync(fd) == 0 ? 0 : errno;
    if (close(fd) != 0 && failure == 0) failure = errno;
    if (failure == 0 && rename(temp.c_str(), target.c_str()) != 0) failure = errno;
    if (failure == 0) return true;
    unlink(temp.c_str());
    return Fail(error, strerror(failure));
}

}  // namespace

bool ReadWhole(const std::string &path, std::vector<uint8_t> *bytes, std::string *error) {
    bool console = path == "-";
    int fd = console ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return Fail(error, strerror(errno));
    struct stat st;
    size_t capacity = 1 << 16;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
        capacity = static_cast<size_t>(st.st_size) + 1;  // + 1: the end shows without a regrow
    }
    bytes->clear();
    size_t used = 0;
    bool ok = true;
    for (;;) {
        if (used == bytes->size()) bytes->resize(used < capacity ? capacity : 2 * used);
        ssize_t n = read(fd, bytes->data() + used, bytes->size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ok = Fail(error, strerror(errno));
            break;
        }
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    bytes->resize(used);
    if (!console) close(fd);
    return ok;
}

bool WriteWhole(const std::string &path, const uint8_t *data, size_t size, std::string *error) {
    if (path == "-") {
        if (isatty(STDOUT_FILENO)) return Fail(error, "standard output is a terminal");
        return WriteAll(STDOUT_FILENO, data, size) || Fail(error, strerror(errno));
    }
    // stat follows every link, those of /proc/self/fd (/dev/stdout) too,
    // which name no path that could be replaced.
    struct stat st;
    std::string target;
    if (stat(path.c_str(), &st) != 0) {
        if (errno != ENOENT) return Fail(error, strerror(errno));
        return MissingTarget(path, &target, error) && Replace(target, nullptr, data, size, error);
    }
    if (S_ISDIR(st.st_mode)) return Fail(error, strerror(EISDIR));
    if (!S_ISREG(st.st_mode)) return WriteInPlace(path, data, size, error);
    char *real = realpath(path.c_str(), nullptr);
    if (!real) return Fail(error, strerror(errno));
    target = real;
    free(real);
    return Replace(target, &st, data, size, error);
}

#endif
