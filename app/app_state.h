// The patcher's one application record and the numbers of the window's controls.
#pragma once
#include <cstdint>

#include "app/resolution_table.h"

enum ControlNumber : int {
    BANNER_PICTURE = 1,
    RESOLUTION_LABEL = 2,
    RESOLUTION_LIST = 3,
    SIDE_PICTURE = 4,
    BACKUP_BOX = 5,
    START_BUTTON = 6,
    CREDIT_LINE = 7,
};

struct AppState {
    ResolutionMap resolution_map; // the table's ten labels, and "File" during the patch job
    std::int32_t selected_row;    // chosen row of the resolution list, -1 = none
    std::int32_t desktop_width;   // primary display's current mode in pixels, 0 when unknown
    std::int32_t desktop_height;
};

// Owned by the main thread for the life of the process.
extern AppState app_state;
