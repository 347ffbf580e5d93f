#include "app/app_state.h"
#include "app/resolution_table.h"
#include "app_run.h"
#include "support/temp_dir.h"

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes UNPATCHED = {0x55, 0x12, 0x34, 0x56};
const Bytes PATCHED_3440 = {0x8E, 0xE3, 0x18, 0x40};
const Bytes PATCHED_1920 = {0xCD, 0xCC, 0xCC, 0x3F};
const std::int64_t EXE_SIZE = PATCH_OFFSET + 4096;
const char *const SUCCESS = "Aspect Ratio Fix, successfully applied.";

// The window as start-up leaves it on a 3440 x 1440 desktop (row "3440x1440" chosen), with HOME
// pointing at a temporary folder that holds the default Steam game folder.
struct PatchJobTest : ::testing::Test {
    TempDir home;
    std::string saved_home;
    std::string folder, exe, old;
    UiScript &script = ui_script();

    void SetUp() override {
        if (const char *h = std::getenv("HOME")) saved_home = h;
        setenv("HOME", home.path.c_str(), 1);
        ui_script_reset();
        script.display_width = 3440;
        script.display_height = 1440;
        AppRun start = run_app();
        ASSERT_TRUE(start.ended);
        ASSERT_EQ(app_state.selected_row, 2);
        script.events.clear();
        folder = home / ".local/share/Steam/steamapps/common/Quillmoor";
        std::filesystem::create_directories(folder);
        exe = folder + "/qm.exe";
        old = folder + "/qm.old";
    }
    void TearDown() override {
        setenv("HOME", saved_home.c_str(), 1);
        ui_script_reset();
    }

    void make_exe(const std::string &path, const Bytes &marker, std::int64_t size = EXE_SIZE,
                  Bytes head = {'M', 'Z'}) {
        write_sparse_file(path, size, head, PATCH_OFFSET, marker);
    }
    Bytes marker_of(const std::string &path) { return read_bytes_at(path, PATCH_OFFSET, 4); }
    // Runs the job with the file dialog answering `path` ("" = Cancel).
    AppRun start(const std::string &path) {
        script.dialog_answers.push_back(path);
        return run_patch_job();
    }
    std::string last_message() { return script.messages.empty() ? "" : script.messages.back().text; }
};

TEST_F(PatchJobTest, UnpatchedWithBackupWritesTheBytesAndKeepsTheOriginal) {
    make_exe(exe, UNPATCHED);
    AppRun run = start(exe);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(marker_of(exe), PATCHED_3440);
    ASSERT_TRUE(std::filesystem::exists(old));
    EXPECT_EQ(std::filesystem::file_size(old), static_cast<std::uintmax_t>(EXE_SIZE));
    EXPECT_EQ(marker_of(old), UNPATCHED);
    EXPECT_EQ(read_bytes_at(old, 0, 2), (Bytes{'M', 'Z'}));
    EXPECT_EQ(std::filesystem::file_size(exe), static_cast<std::uintmax_t>(EXE_SIZE))
        << "nothing else touched";

    ASSERT_EQ(script.dialogs.size(), 1u);
    EXPECT_EQ(script.dialogs[0].caption, "Open qm.exe");
    EXPECT_EQ(script.dialogs[0].filter_description, "Quillmoor qm.exe");
    EXPECT_EQ(script.dialogs[0].start_folder, folder) << "the Steam game folder, without its final slash";
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].caption, "Information");
    EXPECT_EQ(script.messages[0].text, SUCCESS);
    EXPECT_EQ(script.messages[0].buttons, UI_BUTTONS_OK);
}

TEST_F(PatchJobTest, UncheckedBackupBoxMakesNoBackup) {
    make_exe(exe, UNPATCHED);
    ui_check_box_set(BACKUP_BOX, 0);
    AppRun run = start(exe);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(marker_of(exe), PATCHED_3440);
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_EQ(last_message(), SUCCESS);
}

TEST_F(PatchJobTest, AnExistingBackupIsReplaced) {
    make_exe(exe, UNPATCHED);
    write_file(old, {1, 2, 3});
    start(exe);
    EXPECT_EQ(std::filesystem::file_size(old), static_cast<std::uintmax_t>(EXE_SIZE));
    EXPECT_EQ(marker_of(old), UNPATCHED);
}

TEST_F(PatchJobTest, TheChosenRowDecidesTheBytes) {
    make_exe(exe, UNPATCHED);
    app_state.selected_row = 0; // "1920x1200"
    start(exe);
    EXPECT_EQ(marker_of(exe), PATCHED_1920);
}

TEST_F(PatchJobTest, AlreadyPatchedAnsweredYesWritesWithoutBackup) {
    make_exe(exe, PATCHED_1920);
    script.message_answers = {UI_ANSWER_YES};
    AppRun run = start(exe);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(marker_of(exe), PATCHED_3440);
    EXPECT_FALSE(std::filesystem::exists(old)) << "no backup of a patched file, box checked or not";
    ASSERT_EQ(script.messages.size(), 2u);
    EXPECT_EQ(script.messages[0].caption, "Info");
    EXPECT_EQ(script.messages[0].text, "This executable is already patched.\rShould we continue anyway ?");
    EXPECT_EQ(script.messages[0].buttons, UI_BUTTONS_YES_NO);
    EXPECT_EQ(script.messages[1].text, SUCCESS);
}

TEST_F(PatchJobTest, AlreadyPatchedAnsweredNoEndsWithTheFileUnchanged) {
    make_exe(exe, PATCHED_1920);
    script.message_answers = {UI_ANSWER_NO};
    AppRun run = start(exe);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(marker_of(exe), PATCHED_1920);
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_EQ(script.messages.size(), 1u);
}

TEST_F(PatchJobTest, NoRowChosenAsksForOneAndKeepsTheWindow) {
    app_state.selected_row = -1;
    AppRun run = run_patch_job();
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.returned, 0);
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_EQ(script.messages[0].caption, "Info");
    EXPECT_EQ(script.messages[0].text, "Choose a resolution or quit.");
    EXPECT_TRUE(script.dialogs.empty());
}

TEST_F(PatchJobTest, ALabelWithoutEntryDoesNothing) {
    resolution_map_remove(&app_state.resolution_map, "3440x1440");
    AppRun run = run_patch_job();
    EXPECT_FALSE(run.ended);
    EXPECT_TRUE(script.messages.empty());
    EXPECT_TRUE(script.dialogs.empty());
}

TEST_F(PatchJobTest, CancelThenStartAgainOpensTheDialogAgain) {
    make_exe(exe, UNPATCHED);
    AppRun first = start("");
    EXPECT_FALSE(first.ended);
    EXPECT_TRUE(script.messages.empty());
    EXPECT_EQ(marker_of(exe), UNPATCHED);
    AppRun second = start(exe);
    EXPECT_TRUE(second.ended);
    EXPECT_EQ(script.dialogs.size(), 2u);
    EXPECT_EQ(marker_of(exe), PATCHED_3440);
}

TEST_F(PatchJobTest, QmWithoutExtensionGetsQmOld) {
    std::string bare = folder + "/qm";
    make_exe(bare, UNPATCHED);
    start(bare);
    EXPECT_EQ(marker_of(bare), PATCHED_3440);
    EXPECT_EQ(marker_of(old), UNPATCHED);
}

// Files that are not the game are refused before anything is written; the window stays open.
TEST_F(PatchJobTest, RefusesWhatIsNotTheGameAndChangesNothing) {
    struct Case {
        const char *name;
        std::int64_t size;
        Bytes head;
        Bytes marker;
    } cases[] = {
        {"short.exe", PATCH_OFFSET + 3, {'M', 'Z'}, {0x55, 0x12, 0x34}},
        {"tiny.exe", 100, {'M', 'Z'}, {}},
        {"empty.exe", 0, {}, {}},
        {"notes.txt", EXE_SIZE, {'h', 'i'}, UNPATCHED},
    };
    for (const Case &c : cases) {
        script.messages.clear();
        std::string path = folder + "/" + c.name;
        write_sparse_file(path, c.size, c.head, c.size >= PATCH_OFFSET ? PATCH_OFFSET : 0,
                          c.size >= PATCH_OFFSET ? c.marker : Bytes{});
        Bytes before = read_file(path);
        AppRun run = start(path);
        EXPECT_FALSE(run.ended) << c.name;
        ASSERT_EQ(script.messages.size(), 1u) << c.name;
        EXPECT_EQ(script.messages[0].caption, "Info");
        EXPECT_NE(last_message().find("not the game's executable"), std::string::npos) << last_message();
        EXPECT_NE(last_message().find("Nothing was changed."), std::string::npos) << last_message();
        EXPECT_EQ(read_file(path), before) << c.name;
        EXPECT_EQ(std::filesystem::file_size(path), static_cast<std::uintmax_t>(c.size))
            << "not grown: " << c.name;
    }
    EXPECT_FALSE(std::filesystem::exists(folder + "/short.old"));
}

TEST_F(PatchJobTest, AFileThatCannotBeReadIsReportedWithItsReason) {
    make_exe(exe, UNPATCHED);
    int holder = open(exe.c_str(), O_RDONLY);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX), 0);
    struct Case {
        std::string path, reason;
    } cases[] = {
        {folder + "/missing.exe", "it does not exist"},
        {folder, "it is a folder"},
        {exe, "another program is using it"},
    };
    for (const Case &c : cases) {
        script.messages.clear();
        AppRun run = start(c.path);
        EXPECT_FALSE(run.ended) << c.path;
        ASSERT_EQ(script.messages.size(), 1u) << c.path;
        EXPECT_NE(last_message().find(c.reason), std::string::npos) << last_message();
        EXPECT_NE(last_message().find("Nothing was changed."), std::string::npos) << last_message();
    }
    close(holder);
    EXPECT_EQ(marker_of(exe), UNPATCHED);
    EXPECT_FALSE(std::filesystem::exists(folder + "/missing.exe"));
    EXPECT_FALSE(std::filesystem::exists(old));
}

TEST_F(PatchJobTest, ABackupThatCannotBeWrittenStopsThePatch) {
    make_exe(exe, UNPATCHED);
    std::filesystem::create_directories(old + "/in-the-way"); // a folder where the backup must go
    AppRun run = start(exe);
    EXPECT_FALSE(run.ended) << "the window stays open";
    EXPECT_EQ(marker_of(exe), UNPATCHED);
    ASSERT_EQ(script.messages.size(), 1u);
    EXPECT_NE(last_message().find("backup could not be written"), std::string::npos) << last_message();
    EXPECT_NE(last_message().find(old), std::string::npos) << last_message();
    EXPECT_TRUE(std::filesystem::is_directory(old + "/in-the-way"));
}

TEST_F(PatchJobTest, AnExecutableLockedBeforeTheWriteIsReportedUnchanged) {
    make_exe(exe, PATCHED_1920);
    int holder = -1;
    // The game starts while the question is open and holds the file.
    script.on_message = [&](const ScriptedMessage &) {
        if (holder >= 0) return;
        holder = open(exe.c_str(), O_RDONLY);
        flock(holder, LOCK_EX);
    };
    script.message_answers = {UI_ANSWER_YES};
    AppRun run = start(exe);
    close(holder);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(marker_of(exe), PATCHED_1920);
    ASSERT_EQ(script.messages.size(), 2u);
    EXPECT_EQ(script.messages[1].caption, "Info");
    EXPECT_NE(last_message().find("could not be written: another program is using it"), std::string::npos)
        << last_message();
    EXPECT_NE(last_message().find("Nothing was changed."), std::string::npos) << last_message();
    EXPECT_EQ(last_message().find(SUCCESS), std::string::npos);
}

TEST_F(PatchJobTest, AWriteThatDoesNotReachTheFileIsNotReportedAsSuccess) {
    make_exe(exe, PATCHED_1920);
    script.message_answers = {UI_ANSWER_YES};
    // Files may not grow past PATCH_OFFSET bytes: the buffered write at close fails (EFBIG).
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit limited = saved;
    limited.rlim_cur = PATCH_OFFSET;
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    AppRun run = start(exe);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(marker_of(exe), PATCHED_1920);
    ASSERT_EQ(script.messages.size(), 2u);
    EXPECT_NE(last_message().find("could not be written: the bytes could not be written to it"),
              std::string::npos)
        << last_message();
    EXPECT_NE(last_message().find("Nothing was changed."), std::string::npos) << last_message();
}

TEST_F(PatchJobTest, WriteAndReadSteps) {
    make_exe(exe, UNPATCHED);
    resolution_map_remove(&app_state.resolution_map, "File");
    EXPECT_EQ(read_patch_marker((folder + "/missing").c_str()), 0);
    EXPECT_EQ(resolution_map_find(&app_state.resolution_map, "File"), nullptr) << "map unchanged on failure";
    ASSERT_EQ(read_patch_marker(exe.c_str()), 1);
    const AspectBytes *file = resolution_map_find(&app_state.resolution_map, "File");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Bytes(file->bytes, file->bytes + 4), UNPATCHED);

    EXPECT_EQ(write_aspect_value(exe.c_str(), "1920X1200"), 0);
    EXPECT_EQ(write_aspect_value((folder + "/missing").c_str(), "1920x1200"), 0);
    EXPECT_FALSE(std::filesystem::exists(folder + "/missing"));
    EXPECT_EQ(write_aspect_value(exe.c_str(), "1920x1200"), 1);
    EXPECT_EQ(marker_of(exe), PATCHED_1920);
}

TEST(BackupPath, ReplacesTheExtensionOfTheFileName) {
    struct Case {
        const char *path, *backup;
    } cases[] = {
        {"/games/Quillmoor/qm.exe", "/games/Quillmoor/qm.old"},
        {"D:\\Games\\Quillmoor\\qm.exe", "D:\\Games\\Quillmoor\\qm.old"},
        {"/games/Quillmoor/qm", "/games/Quillmoor/qm.old"},
        {"qm", "qm.old"},
        {"qm.exe", "qm.old"},
        {"/games/Quill.moor/qm", "/games/Quill.moor/qm.old"},
        {"/games/Quill.moor/qm.exe", "/games/Quill.moor/qm.old"},
        {"/games/qm. exe", "/games/qm. exe.old"},
        {"/games/my game.exe", "/games/my game.old"},
        {"/games/.hidden", "/games/.hidden.old"},
        {"/games/qm.", "/games/qm..old"},
        {"/games/qm.tar.gz", "/games/qm.tar.old"},
        {"/games/", "/games/.old"},
    };
    char out[256];
    for (const Case &c : cases) {
        EXPECT_EQ(backup_path(c.path, out, sizeof out), static_cast<int>(std::strlen(c.backup))) << c.path;
        EXPECT_STREQ(out, c.backup) << c.path;
    }
    EXPECT_EQ(backup_path("/games/qm.exe", out, 8), -1);
    EXPECT_STREQ(out, "");
}

TEST(DefaultGameFolder, TakesSteamInTheBaseFolderElseTheX86Variant) {
    TempDir base_dir;
    std::string base = base_dir.path.string() + "/";
    char out[4096];
    // No Steam folder.
    EXPECT_GT(default_game_folder_in(base.c_str(), out, sizeof out), 0);
    EXPECT_EQ(std::string(out), base_dir.path.string() + " (x86)/Steam/");
    // Steam is a file, not a folder.
    write_file(base + "Steam", {1});
    default_game_folder_in(base.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out), base_dir.path.string() + " (x86)/Steam/");
    // Steam is a folder.
    std::filesystem::remove(base + "Steam");
    std::filesystem::create_directory(base + "Steam");
    EXPECT_EQ(default_game_folder_in(base.c_str(), out, sizeof out), static_cast<int>(base.size() + 6));
    EXPECT_EQ(std::string(out), base + "Steam/");
}

TEST(DefaultGameFolder, BaseFolderIsLocalShareInHome) {
    TempDir home;
    std::string saved = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("HOME", home.path.c_str(), 1);
    std::filesystem::create_directories(home / ".local/share/Steam");
    char out[4096];
    default_game_folder(out, sizeof out);
    EXPECT_EQ(std::string(out), home / ".local/share/Steam/");
    setenv("HOME", saved.c_str(), 1);
}

} // namespace
