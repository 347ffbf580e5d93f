// POSIX file operations; "no sharing with other openers" is an exclusive flock.
#include "platform/files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int open_exclusive(PlatformFile *file, const char *path, int writable) {
    file->fd = -1;
    file->writable = 0;
    file->failed = 0;
    file->position = 0;
    file->buffer_start = 0;
    file->buffer_used = 0;
    if (path == nullptr || path[0] == '\0') return 0;
    // O_NONBLOCK keeps a named pipe from blocking the open; it is refused right after.
    int fd = open(path, (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    file->fd = fd;
    file->writable = writable;
    return 1;
}

int write_all(int fd, const std::uint8_t *bytes, std::int64_t count, std::int64_t offset) {
    while (count > 0) {
        ssize_t done = pwrite(fd, bytes, static_cast<size_t>(count), offset);
        if (done < 0 && errno == EINTR) continue;
        if (done <= 0) return 0;
        bytes += done;
        count -= done;
        offset += done;
    }
    return 1;
}

int flush(PlatformFile *file) {
    if (file->buffer_used == 0) return 1;
    int ok = write_all(file->fd, file->buffer, file->buffer_used, file->buffer_start);
    file->buffer_used = 0;
    if (!ok) file->failed = 1;
    return ok;
}

// Copies [begin, end) of `in` to the same offsets of `out`.
int copy_range(int in, int out, std::int64_t begin, std::int64_t end) {
    static std::uint8_t chunk[1 << 16];
    while (begin < end) {
        std::int64_t want =
            end - begin < static_cast<std::int64_t>(sizeof chunk) ? end - begin : sizeof chunk;
        ssize_t got = pread(in, chunk, static_cast<size_t>(want), begin);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return 0;
        if (!write_all(out, chunk, got, begin)) return 0;
        begin += got;
    }
    return 1;
}

// Copies the data regions of `in` and leaves its holes unwritten; falls back to a whole copy where
// the file system cannot report holes.
int copy_contents(int in, int out, std::int64_t size) {
    std::int64_t at = 0;
    while (at < size) {
        off_t data = lseek(in, at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break; // only a hole remains
            return copy_range(in, out, at, size);
        }
        off_t hole = lseek(in, data, SEEK_HOLE);
        if (hole < 0) hole = size;
        if (!copy_range(in, out, data, hole)) return 0;
        at = hole;
    }
    return ftruncate(out, size) == 0;
}

} // namespace

int file_open_read(PlatformFile *file, const char *path) {
    return open_exclusive(file, path, 0);
}

int file_open_read_write(PlatformFile *file, const char *path) {
    return open_exclusive(file, path, 1);
}

int file_set_position(PlatformFile *file, std::int64_t position) {
    if (file->fd < 0 || position < 0) return 0;
    file->position = position;
    return 1;
}

std::uint8_t file_read_byte(PlatformFile *file) {
    if (file->fd < 0) return 0;
    flush(file);
    std::uint8_t value = 0;
    ssize_t got;
    do {
        got = pread(file->fd, &value, 1, file->position);
    } while (got < 0 && errno == EINTR);
    file->position++;
    return got == 1 ? value : 0;
}

int file_write_byte(PlatformFile *file, std::uint8_t value) {
    if (file->fd < 0 || !file->writable || file->failed) return 0;
    bool continues = file->buffer_used > 0 && file->buffer_start + file->buffer_used == file->position;
    if ((file->buffer_used > 0 && !continues) || file->buffer_used == FILE_BUFFER_SIZE) {
        if (!flush(file)) return 0;
    }
    if (file->buffer_used == 0) file->buffer_start = file->position;
    file->buffer[file->buffer_used++] = value;
    file->position++;
    return 1;
}

int file_close(PlatformFile *file) {
    if (file->fd < 0) return 1;
    int ok = flush(file) && !file->failed;
    if (close(file->fd) != 0 && file->writable) ok = 0;
    file->fd = -1;
    return ok;
}

int file_copy(const char *source, const char *destination) {
    if (source == nullptr || destination == nullptr || destination[0] == '\0') return 0;
    int in = open(source, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (in < 0) return 0;
    struct stat info;
    if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(in);
        return 0;
    }
    // The copy is made beside the destination and renamed over it when complete.
    std::string temporary = std::string(destination) + ".XXXXXX";
    int out = mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        close(in);
        return 0;
    }
    int ok =
        copy_contents(in, out, info.st_size) && fchmod(out, info.st_mode & 07777) == 0 && fsync(out) == 0;
    if (close(out) != 0) ok = 0;
    close(in);
    if (ok && rename(temporary.c_str(), destination) != 0) ok = 0;
    if (!ok) unlink(temporary.c_str());
    return ok;
}

std::int64_t path_size(const char *path) {
    if (path == nullptr || path[0] == '\0') return -1;
    std::size_t length = std::strlen(path);
    while (length > 0 && (path[length - 1] == '/' || path[length - 1] == '\\')) --length;
    // Only separators: the root folder.
    std::string trimmed = length > 0 ? std::string(path, length) : std::string(1, '/');
    struct stat info;
    if (stat(trimmed.c_str(), &info) != 0) return -1;
    if (S_ISDIR(info.st_mode)) return -2;
    return info.st_size;
}

std::int64_t file_read_all(const char *path, std::uint8_t *out, std::int64_t capacity) {
    if (path == nullptr || path[0] == '\0') return -1;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > capacity) {
        close(fd);
        return -1;
    }
    std::int64_t total = 0;
    while (total < capacity) {
        ssize_t got = read(fd, out + total, static_cast<size_t>(capacity - total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            close(fd);
            return -1;
        }
        if (got == 0) break;
        total += got;
    }
    // A file that grew past `capacity` while being read is refused as well.
    std::uint8_t extra;
    ssize_t more = total == capacity ? read(fd, &extra, 1) : 0;
    close(fd);
    return more == 0 ? total : -1;
}

int path_resolve(const char *path, char *out, int capacity) {
    if (capacity > 0) out[0] = '\0';
    if (path == nullptr || path[0] == '\0') return 0;
    char *resolved = realpath(path, nullptr);
    if (resolved == nullptr) return 0;
    std::size_t length = std::strlen(resolved);
    int ok = length < static_cast<std::size_t>(capacity);
    if (ok) std::memcpy(out, resolved, length + 1);
    std::free(resolved);
    return ok ? static_cast<int>(length) : 0;
}

int path_accessible(const char *path, int writing) {
    return path != nullptr && access(path, writing ? R_OK | W_OK : R_OK) == 0;
}

int path_home_folder(char *out, int capacity) {
    if (capacity > 0) out[0] = '\0';
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        struct passwd *entry = getpwuid(getuid());
        home = entry != nullptr ? entry->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] == '\0') return 0;
    std::size_t length = std::strlen(home);
    while (length > 1 && home[length - 1] == '/') --length;
    if (length >= static_cast<std::size_t>(capacity)) return 0;
    std::memcpy(out, home, length);
    out[length] = '\0';
    return static_cast<int>(length);
}

int file_read_at(const char *path, std::int64_t offset, std::uint8_t *out, int count) {
    if (path == nullptr || path[0] == '\0' || offset < 0 || count < 0) return 0;
    int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return 0;
    struct stat info;
    int ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    std::memset(out, 0, static_cast<std::size_t>(count));
    int done = 0;
    while (ok && done < count) {
        ssize_t got = pread(fd, out + done, static_cast<size_t>(count - done), offset + done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) ok = 0;
        if (got <= 0) break;
        done += static_cast<int>(got);
    }
    close(fd);
    return ok;
}
