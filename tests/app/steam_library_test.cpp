#include "app/patch_job.h"
#include "app/steam_library.h"
#include "support/temp_dir.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace {

std::vector<std::string> parse(const std::string &text, int *ok = nullptr) {
    static SteamLibraryList list;
    int result = steam_parse_library_folders(text.data(), static_cast<int>(text.size()), &list);
    if (ok != nullptr) *ok = result;
    return std::vector<std::string>(list.paths, list.paths + list.count);
}

TEST(SteamLibraryFolders, ReadsTheCurrentLayout) {
    const char *text = R"("libraryfolders"
{
	"0"
	{
		"path"		"/home/ann/.local/share/Steam"
		"label"		""
		"contentid"		"123"
		"apps"
		{
			"228980"		"123456"
		}
	}
	"1"
	{
		"path"		"/mnt/Fast Games/SteamLibrary"
		"label"		"ssd"
	}
}
)";
    int ok = 0;
    EXPECT_EQ(parse(text, &ok),
              (std::vector<std::string>{"/home/ann/.local/share/Steam", "/mnt/Fast Games/SteamLibrary"}));
    EXPECT_EQ(ok, 1);
}

TEST(SteamLibraryFolders, ReadsTheOldLayoutAndEscapes) {
    const char *text =
        "// written by Steam\n\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1700000000\"\n"
        "\t\"ContentStatsID\"\t\t\"-4\"\n\t\"1\"\t\t\"/mnt/games/Steam \\\"B\\\"\"\n"
        "\t\"2\"\t\t\"/data/lib\\\\x\"\n}\n";
    EXPECT_EQ(parse(text), (std::vector<std::string>{"/mnt/games/Steam \"B\"", "/data/lib\\x"}));
}

TEST(SteamLibraryFolders, IgnoresMalformedFilesWhole) {
    const char *cases[] = {
        "",
        "\"libraryfolders\"",
        "\"libraryfolders\" { \"1\" \"/a\"",                   // block never closed
        "\"libraryfolders\" { \"1\" \"/a }",                   // text never closed
        "\"libraryfolders\" { \"1\" \"/a\" } }",               // one close too many
        "\"libraryfolders\" { \"1\" }",                        // key without value
        "\"somethingelse\" { \"1\" \"/a\" }",                  // not a library list
        "\"libraryfolders\" { \"1\" \"/a\" } \"extra\" \"x\"", // text after the root
        "\"libraryfolders\" { { \"1\" \"/a\" } }",
    };
    for (const char *text : cases) {
        int ok = 1;
        EXPECT_TRUE(parse(text, &ok).empty()) << text;
        EXPECT_EQ(ok, 0) << text;
    }
    std::string deep = "\"libraryfolders\" ";
    for (int i = 0; i < 100; ++i) deep += "{ \"k\" ";
    EXPECT_TRUE(parse(deep).empty());
}

struct SteamTreeTest : ::testing::Test {
    TempDir home;
    TempDir elsewhere;
    char out[4096];

    void make_game(const std::string &library) {
        std::filesystem::create_directories(library + "/steamapps/common/Quillmoor");
    }
    void list_libraries(const std::string &root, const std::vector<std::string> &libraries) {
        std::string text = "\"libraryfolders\"\n{\n";
        for (std::size_t i = 0; i < libraries.size(); ++i)
            text += "\t\"" + std::to_string(i) + "\"\n\t{\n\t\t\"path\"\t\t\"" + libraries[i] + "\"\n\t}\n";
        text += "}\n";
        std::filesystem::create_directories(root + "/steamapps");
        write_file(root + "/steamapps/libraryfolders.vdf",
                   std::vector<std::uint8_t>(text.begin(), text.end()));
    }
    std::string find() {
        return steam_find_game_folder(home.path.c_str(), out, sizeof out) ? std::string(out)
                                                                          : std::string("none");
    }
};

TEST_F(SteamTreeTest, FindsTheGameInALibraryListedByAnyRoot) {
    std::string library = elsewhere / "SteamLibrary";
    make_game(library);
    // Flatpak Steam lists the library; the native root exists but holds nothing.
    std::filesystem::create_directories(home / ".local/share/Steam");
    list_libraries(home / ".var/app/com.valvesoftware.Steam/.local/share/Steam",
                   {home / ".var/app/com.valvesoftware.Steam/.local/share/Steam", library});
    EXPECT_EQ(find(), library + "/steamapps/common/Quillmoor/");
}

TEST_F(SteamTreeTest, ResolvesSymbolicLinksOfRootsAndLibraries) {
    std::string real_root = elsewhere / "steam-root";
    make_game(real_root);
    std::filesystem::create_directories(home / ".steam");
    std::filesystem::create_directory_symlink(real_root, home / ".steam/steam");
    EXPECT_EQ(find(), real_root + "/steamapps/common/Quillmoor/");

    std::filesystem::remove_all(real_root + "/steamapps/common");
    std::string library = elsewhere / "lib";
    make_game(library);
    std::filesystem::create_directory_symlink(library, elsewhere / "lib-link");
    list_libraries(real_root, {elsewhere / "lib-link"});
    EXPECT_EQ(find(), library + "/steamapps/common/Quillmoor/");
}

TEST_F(SteamTreeTest, SnapRootAndNothingFound) {
    EXPECT_EQ(find(), "none");
    list_libraries(home / ".steam/debian-installation", {elsewhere / "missing-library"});
    EXPECT_EQ(find(), "none");
    make_game(home / "snap/steam/common/.local/share/Steam");
    EXPECT_EQ(find(), (home / "snap/steam/common/.local/share/Steam") + "/steamapps/common/Quillmoor/");
}

TEST_F(SteamTreeTest, AMalformedListIsIgnoredAndTheSearchGoesOn) {
    std::filesystem::create_directories(home / ".local/share/Steam/steamapps");
    write_file(home / ".local/share/Steam/steamapps/libraryfolders.vdf", {'{', '{', '"'});
    std::string library = elsewhere / "lib";
    make_game(library);
    list_libraries(home / ".steam/steam", {library});
    EXPECT_EQ(find(), library + "/steamapps/common/Quillmoor/");
}

// The file dialog starts in the default folder when it exists, else in a library's game folder.
TEST_F(SteamTreeTest, DialogStartFolder) {
    std::string saved = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    setenv("HOME", home.path.c_str(), 1);
    char folder[4096];
    dialog_start_folder(folder, sizeof folder);
    EXPECT_EQ(std::string(folder), home / ".local/share (x86)/Steam/steamapps/common/Quillmoor")
        << "nothing found: the default folder, which the dialog replaces by its own choice";

    std::string library = elsewhere / "lib";
    make_game(library);
    list_libraries(home / ".local/share/Steam", {home / ".local/share/Steam", library});
    dialog_start_folder(folder, sizeof folder);
    EXPECT_EQ(std::string(folder), library + "/steamapps/common/Quillmoor");

    make_game(home / ".local/share/Steam");
    dialog_start_folder(folder, sizeof folder);
    EXPECT_EQ(std::string(folder), home / ".local/share/Steam/steamapps/common/Quillmoor");
    setenv("HOME", saved.c_str(), 1);
}

} // namespace
