#include "platform/files.h"
#include "support/temp_dir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FilesTest : ::testing::Test {
    TempDir dir;
    PlatformFile file{};
};

TEST_F(FilesTest, ReadsBytesAtAPositionAndZeroPastTheEnd) {
    write_file(dir / "a.bin", {10, 20, 30, 40, 50});
    ASSERT_EQ(file_open_read(&file, (dir / "a.bin").c_str()), 1);
    ASSERT_EQ(file_set_position(&file, 3), 1);
    EXPECT_EQ(file_read_byte(&file), 40);
    EXPECT_EQ(file_read_byte(&file), 50);
    EXPECT_EQ(file_read_byte(&file), 0);
    ASSERT_EQ(file_set_position(&file, 1000), 1);
    EXPECT_EQ(file_read_byte(&file), 0);
    EXPECT_EQ(file_close(&file), 1);
}

TEST_F(FilesTest, WritesReachTheFileAtCloseInPlace) {
    write_file(dir / "a.bin", {1, 2, 3, 4, 5, 6});
    ASSERT_EQ(file_open_read_write(&file, (dir / "a.bin").c_str()), 1);
    file_set_position(&file, 2);
    for (std::uint8_t b : {0xAA, 0xBB, 0xCC}) EXPECT_EQ(file_write_byte(&file, b), 1);
    EXPECT_EQ(read_file(dir / "a.bin"), (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}))
        << "buffered until close";
    EXPECT_EQ(file_close(&file), 1);
    EXPECT_EQ(read_file(dir / "a.bin"), (std::vector<std::uint8_t>{1, 2, 0xAA, 0xBB, 0xCC, 6}));
}

TEST_F(FilesTest, WritesMoreThanOneBufferAndAfterAJump) {
    write_file(dir / "a.bin", std::vector<std::uint8_t>(3 * FILE_BUFFER_SIZE, 0));
    ASSERT_EQ(file_open_read_write(&file, (dir / "a.bin").c_str()), 1);
    for (int i = 0; i < FILE_BUFFER_SIZE + 10; ++i) file_write_byte(&file, static_cast<std::uint8_t>(i));
    file_set_position(&file, 2 * FILE_BUFFER_SIZE + 5);
    file_write_byte(&file, 0x77);
    file_set_position(&file, 0);
    EXPECT_EQ(file_read_byte(&file), 0) << "a read sees earlier writes";
    EXPECT_EQ(file_close(&file), 1);
    std::vector<std::uint8_t> bytes = read_file(dir / "a.bin");
    ASSERT_EQ(bytes.size(), 3u * FILE_BUFFER_SIZE);
    for (int i = 0; i < FILE_BUFFER_SIZE + 10; ++i) ASSERT_EQ(bytes[i], static_cast<std::uint8_t>(i)) << i;
    EXPECT_EQ(bytes[FILE_BUFFER_SIZE + 10], 0);
    EXPECT_EQ(bytes[2 * FILE_BUFFER_SIZE + 5], 0x77);
}

TEST_F(FilesTest, OpenRefusesWhatIsNotAnExistingRegularFile) {
    mkdir((dir / "folder").c_str(), 0755);
    mkfifo((dir / "pipe").c_str(), 0644);
    for (std::string path : {dir / "missing", dir / "folder", dir / "pipe", std::string()}) {
        EXPECT_EQ(file_open_read(&file, path.c_str()), 0) << path;
        EXPECT_EQ(file_open_read_write(&file, path.c_str()), 0) << path;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "missing")) << "never created";
}

TEST_F(FilesTest, ReadingAFileInReadOnlyModeCannotWrite) {
    write_file(dir / "a.bin", {1, 2});
    ASSERT_EQ(file_open_read(&file, (dir / "a.bin").c_str()), 1);
    EXPECT_EQ(file_write_byte(&file, 9), 0);
    EXPECT_EQ(file_close(&file), 1);
    EXPECT_EQ(read_file(dir / "a.bin"), (std::vector<std::uint8_t>{1, 2}));
}

TEST_F(FilesTest, AFileHeldByAnotherOpenerIsNotShared) {
    write_file(dir / "a.bin", {1});
    int other = open((dir / "a.bin").c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    EXPECT_EQ(file_open_read(&file, (dir / "a.bin").c_str()), 0);
    EXPECT_EQ(file_open_read_write(&file, (dir / "a.bin").c_str()), 0);
    close(other);
    EXPECT_EQ(file_open_read(&file, (dir / "a.bin").c_str()), 1);
    PlatformFile second{};
    EXPECT_EQ(file_open_read(&second, (dir / "a.bin").c_str()), 0) << "our own second open is refused too";
    file_close(&file);
}

TEST_F(FilesTest, CopyReplacesTheDestinationByteForByteAndKeepsHoles) {
    const std::int64_t size = 64LL * 1024 * 1024;
    write_sparse_file(dir / "big.exe", size, {'M', 'Z'}, size - 100, {1, 2, 3, 4});
    write_file(dir / "big.old", {9, 9, 9});
    ASSERT_EQ(file_copy((dir / "big.exe").c_str(), (dir / "big.old").c_str()), 1);
    struct stat info;
    ASSERT_EQ(stat((dir / "big.old").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, size);
    EXPECT_LT(info.st_blocks * 512, 1024 * 1024) << "the copy of a sparse file stays sparse";
    EXPECT_EQ(read_bytes_at(dir / "big.old", 0, 3), (std::vector<std::uint8_t>{'M', 'Z', 0}));
    EXPECT_EQ(read_bytes_at(dir / "big.old", size - 101, 6), (std::vector<std::uint8_t>{0, 1, 2, 3, 4, 0}));
}

TEST_F(FilesTest, FailedCopyLeavesAnExistingDestinationAlone) {
    write_file(dir / "a.old", {7, 7});
    EXPECT_EQ(file_copy((dir / "missing.exe").c_str(), (dir / "a.old").c_str()), 0);
    write_file(dir / "a.exe", {1, 2, 3});
    EXPECT_EQ(file_copy((dir / "a.exe").c_str(), (dir / "no-such-folder/a.old").c_str()), 0);
    EXPECT_EQ(read_file(dir / "a.old"), (std::vector<std::uint8_t>{7, 7}));
    // Nothing but the two files is left behind.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path), {}), 2);
}

TEST_F(FilesTest, PathSizeTellsFoldersFilesAndNothingApart) {
    mkdir((dir / "Steam").c_str(), 0755);
    write_file(dir / "five", {1, 2, 3, 4, 5});
    struct Case {
        std::string path;
        std::int64_t expected;
    } cases[] = {
        {"", -1},
        {dir / "missing", -1},
        {dir / "Steam", -2},
        {dir / "Steam/", -2},
        {dir / "Steam\\", -2},
        {dir / "Steam//", -2},
        {"/", -2},
        {dir / "five", 5},
        {dir / "five/", 5},
    };
    for (const Case &c : cases) EXPECT_EQ(path_size(c.path.c_str()), c.expected) << c.path;
}

} // namespace

namespace {

TEST_F(FilesTest, ReadAtIsSharedAndPadsPastTheEndWithZeros) {
    write_file(dir / "a.bin", {1, 2, 3, 4});
    int other = open((dir / "a.bin").c_str(), O_RDONLY);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    std::uint8_t out[4] = {9, 9, 9, 9};
    ASSERT_EQ(file_read_at((dir / "a.bin").c_str(), 2, out, 4), 1);
    EXPECT_EQ(std::vector<std::uint8_t>(out, out + 4), (std::vector<std::uint8_t>{3, 4, 0, 0}));
    close(other);
    EXPECT_EQ(file_read_at((dir / "missing").c_str(), 0, out, 4), 0);
    EXPECT_EQ(file_read_at(dir.path.c_str(), 0, out, 4), 0);
}

TEST_F(FilesTest, ReadAllRefusesFilesLargerThanTheCapacity) {
    write_file(dir / "a.bin", {1, 2, 3, 4});
    std::uint8_t out[4];
    EXPECT_EQ(file_read_all((dir / "a.bin").c_str(), out, 4), 4);
    EXPECT_EQ(out[3], 4);
    EXPECT_EQ(file_read_all((dir / "a.bin").c_str(), out, 3), -1);
    EXPECT_EQ(file_read_all((dir / "missing").c_str(), out, 4), -1);
}

} // namespace
