// File operations of the patch job: exclusive opens, absolute positioning, byte reads, byte writes
// through a buffer flushed at close, copy with replacement and a size query that tells folders apart.
#pragma once
#include <cstdint>

constexpr int FILE_BUFFER_SIZE = 4096;

// One open file. Zero-initialise or pass through file_open_*; `fd` is -1 while closed.
struct PlatformFile {
    int fd;
    int writable;                          // 1 when opened for reading and writing
    int failed;                            // 1 once a buffered write could not reach the file
    std::int64_t position;                 // byte offset of the next read or write, >= 0
    std::int64_t buffer_start;             // file offset of buffer[0]
    int buffer_used;                       // pending bytes in buffer, 0..FILE_BUFFER_SIZE
    std::uint8_t buffer[FILE_BUFFER_SIZE]; // bytes written but not yet in the file
};

// Opens an existing regular file for reading, shared with no other opener (an exclusive advisory
// lock that fails at once when another process holds one). Folders, devices and pipes are refused.
// Returns 1 on success, 0 otherwise (the file stays closed).
int file_open_read(PlatformFile *file, const char *path);

// Same for reading and writing; the file must exist and is never created or truncated.
int file_open_read_write(PlatformFile *file, const char *path);

// Sets the absolute position (bytes from the start of the file, >= 0). Returns 1, or 0 for a
// negative position or a closed file.
int file_set_position(PlatformFile *file, std::int64_t position);

// The byte at the position, which then advances by one. Past the end of the file (or on a read
// error) the result is 0.
std::uint8_t file_read_byte(PlatformFile *file);

// Puts one byte at the position into the buffer and advances. Buffered bytes go to the file in one
// write at close, when the buffer is full, or before a read or a jump elsewhere. Returns 0 for a
// file not open for writing or when an earlier flush failed.
int file_write_byte(PlatformFile *file, std::uint8_t value);

// Writes any buffered bytes and releases the file. Returns 1 when every byte written through
// file_write_byte reached the file, 0 otherwise. Closing a closed file returns 1.
int file_close(PlatformFile *file);

// Copies `source` to `destination` byte for byte (holes of a sparse source stay holes), replacing
// an existing destination only once the copy is complete: a failed copy leaves an existing
// destination as it was. Returns 1 on success, 0 otherwise.
int file_copy(const char *source, const char *destination);

// -1 when the path is empty or names nothing that exists; -2 for a folder (slashes and backslashes
// at the end are ignored); otherwise the file's size in bytes. Symbolic links are followed.
std::int64_t path_size(const char *path);

// Reads a whole file (shared, without locking) into out[0..capacity). Returns the number of bytes,
// or -1 when the file cannot be read or is larger than `capacity`.
std::int64_t file_read_all(const char *path, std::uint8_t *out, std::int64_t capacity);

// The absolute path of `path` with every symbolic link, "." and ".." resolved, into
// out[0..capacity). Returns its length, or 0 (and an empty `out`) when the path does not exist.
int path_resolve(const char *path, char *out, int capacity);

// Whether this process may read (`writing` 0) or read and write (`writing` 1) the file: 1 or 0.
int path_accessible(const char *path, int writing);

// The user's home folder without a final slash ($HOME, else the account's entry) into
// out[0..capacity). Returns its length, or 0 when there is none.
int path_home_folder(char *out, int capacity);

// Reads up to `count` bytes at `offset` of a regular file (shared, without locking) into `out`;
// bytes past the end of the file read as 0. Returns 1, or 0 when the file cannot be read.
int file_read_at(const char *path, std::int64_t offset, std::uint8_t *out, int count);
