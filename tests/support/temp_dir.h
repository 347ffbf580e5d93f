// A fresh folder under the system's temporary folder, removed with everything in it at the end of
// the test.
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

struct TempDir {
    std::filesystem::path path;

    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qmfix-test-XXXXXX").string();
        char *made = mkdtemp(pattern.data());
        if (made != nullptr) path = made;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path.empty()) std::filesystem::remove_all(path, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    std::string operator/(const std::string &name) const { return (path / name).string(); }
};

inline void write_file(const std::string &path, const std::vector<std::uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Reads `count` bytes at `offset` (fewer when the file ends first).
inline std::vector<std::uint8_t> read_bytes_at(const std::string &path, std::int64_t offset, int count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(offset);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(count));
    in.read(reinterpret_cast<char *>(bytes.data()), count);
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    return bytes;
}

// A sparse file of `size` bytes that begins with `head` and holds `at_bytes` at `at`.
inline void write_sparse_file(const std::string &path, std::int64_t size,
                              const std::vector<std::uint8_t> &head, std::int64_t at,
                              const std::vector<std::uint8_t> &at_bytes) {
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(head.data()), static_cast<std::streamsize>(head.size()));
        out.seekp(at);
        out.write(reinterpret_cast<const char *>(at_bytes.data()),
                  static_cast<std::streamsize>(at_bytes.size()));
    }
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
}
