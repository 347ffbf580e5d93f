// Running the patcher against the scripted window system.
#pragma once
#include "app/main_window.h"
#include "app/patch_job.h"
#include "platform/ui_script.h"

struct AppRun {
    bool ended = false; // the process ended (through end_process or ui_end_process)
    int exit_code = -1;
    int returned = -1; // what the function returned when the process did not end
};

// Start-up, then the scripted event wait: the queued actions run through the bound handlers. When
// they are used up the wait returns and start-up ends the process.
inline AppRun run_app() {
    AppRun run;
    try {
        run.returned = app_main();
    } catch (const UiProcessEnded &end) {
        run.ended = true;
        run.exit_code = end.exit_code;
    }
    return run;
}

inline AppRun run_patch_job() {
    AppRun run;
    try {
        run.returned = patch_job();
    } catch (const UiProcessEnded &end) {
        run.ended = true;
        run.exit_code = end.exit_code;
    }
    return run;
}
