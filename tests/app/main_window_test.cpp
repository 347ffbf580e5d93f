#include "app/app_state.h"
#include "app_run.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

struct MainWindowTest : ::testing::Test {
    void SetUp() override { ui_script_reset(); }
    void TearDown() override { ui_script_reset(); }
    UiScript &script = ui_script();
};

TEST_F(MainWindowTest, BuildsTheWindowAndItsSevenControlsInCreationOrder) {
    AppRun run = run_app();
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(script.window_title, "Quillmoor Widescreen Fix - Steam Version");
    EXPECT_EQ(script.client_width, 500);
    EXPECT_EQ(script.client_height, 460);
    EXPECT_EQ(script.icon_sizes, (std::vector<int>{256, 128, 64, 48, 32, 16}));

    struct Expected {
        int id;
        ScriptedKind kind;
        int x, y, width, height;
        std::string text;
    } expected[] = {
        {1, ScriptedKind::Picture, 0, 0, 500, 130, ""},
        {2, ScriptedKind::StaticText, 47, 130, 210, 20, "Choose your resolution :"},
        {4, ScriptedKind::Picture, 315, 130, 185, 300, ""},
        {5, ScriptedKind::CheckBox, 47, 367, 230, 17, " Backup original executable."},
        {3, ScriptedKind::List, 47, 155, 220, 207, ""},
        {6, ScriptedKind::PushButton, 47, 388, 220, 35, "Start"},
        {7, ScriptedKind::StaticText, 0, 430, 500, 30, ""},
    };
    ASSERT_EQ(script.controls.size(), std::size(expected));
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        const ScriptedControl &c = script.controls[i];
        const Expected &e = expected[i];
        EXPECT_EQ(c.id, e.id) << i;
        EXPECT_EQ(c.kind, e.kind) << i;
        EXPECT_EQ((std::vector<int>{c.x, c.y, c.width, c.height}),
                  (std::vector<int>{e.x, e.y, e.width, e.height}))
            << "control " << c.id;
        if (e.id != 7) {
            EXPECT_EQ(c.text, e.text) << "control " << c.id;
        }
        EXPECT_EQ(c.font_face, "Verdana") << "control " << c.id;
        EXPECT_EQ(c.font_height, 13) << "10 points at 96 dpi";
    }
    // Both pictures were decoded from the embedded PNGs, 8-bit RGB.
    EXPECT_EQ(script.find(1)->picture_channels, 3);
    EXPECT_EQ(script.find(4)->picture_channels, 3);

    const ScriptedControl *list = script.find(3);
    EXPECT_EQ(list->rows,
              (std::vector<std::string>{"1920x1200", "2560x1080", "3440x1440", "3840x1080", "3840x1440",
                                        "3840x1600", "5120x1440", "5120x2160", "6880x2880", "7840x1440"}));
    EXPECT_EQ(list->column_width, 210);
    EXPECT_EQ(list->align, UI_ALIGN_CENTER);

    const ScriptedControl *credit = script.find(7);
    EXPECT_FALSE(credit->text.empty());
    EXPECT_TRUE(credit->coloured);
    EXPECT_EQ(credit->background, 0x798688u);
    EXPECT_EQ(credit->text_colour, 0x000000u);

    EXPECT_EQ(script.find(5)->checked, 1);
    EXPECT_TRUE(script.close_bound);
    EXPECT_NE(script.find(3)->handler, nullptr);
    EXPECT_NE(script.find(6)->handler, nullptr);
    // Shown before the event wait begins (the background song starts between the two).
    EXPECT_EQ(script.events, (std::vector<std::string>{"window shown", "run events"}));
}

TEST_F(MainWindowTest, FontHeightFollowsTheDisplayResolution) {
    script.dpi_y = 120; // 10 * 120 / 72 = 16.7
    run_app();
    EXPECT_EQ(script.find(2)->font_height, 17);
}

TEST_F(MainWindowTest, PreselectsTheDesktopResolutionRow) {
    struct Case {
        int width, height, row;
    } cases[] = {
        {1920, 1200, 0},  {3840, 1600, 5}, {3440, 1440, 2},  {7840, 1440, 9},
        {1920, 1080, -1}, {0, 0, -1},      {1200, 1920, -1},
    };
    for (const Case &c : cases) {
        ui_script_reset();
        script.display_width = c.width;
        script.display_height = c.height;
        run_app();
        EXPECT_EQ(app_state.selected_row, c.row) << c.width << "x" << c.height;
        EXPECT_EQ(script.find(3)->selected, c.row) << c.width << "x" << c.height;
        EXPECT_EQ(script.focus_id, c.row >= 0 ? 3 : 0) << c.width << "x" << c.height;
    }
}

TEST_F(MainWindowTest, ListEventsKeepTheLastSelectedRow) {
    script.display_width = 1920;
    script.display_height = 1080;
    script.actions = {{ScriptedAction::SelectRow, 3, 7}, {ScriptedAction::SelectRow, 3, -1}};
    run_app();
    EXPECT_EQ(app_state.selected_row, 7) << "a click below the rows leaves the choice as it was";
}

TEST_F(MainWindowTest, CloseEndsTheProcessWithExitCodeZero) {
    script.actions = {{ScriptedAction::Close, 0, 0}, {ScriptedAction::Click, 6, 0}};
    AppRun run = run_app();
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(script.actions.size(), 1u) << "nothing runs after the close";
    EXPECT_TRUE(script.messages.empty());
}

TEST_F(MainWindowTest, NoDisplayIsOneLineOnStandardErrorAndExitStatusOne) {
    script.display_available = false;
    testing::internal::CaptureStderr();
    AppRun run = run_app();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(run.ended);
    EXPECT_EQ(run.returned, 1);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    EXPECT_NE(err.find("display"), std::string::npos) << err;
    EXPECT_FALSE(script.window_created);
}

TEST_F(MainWindowTest, AWindowThatCannotBeCreatedEndsTheProcessQuietly) {
    script.window_can_be_created = false;
    AppRun run = run_app();
    EXPECT_TRUE(run.ended);
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_TRUE(script.controls.empty());
    EXPECT_TRUE(script.messages.empty());
}

} // namespace
