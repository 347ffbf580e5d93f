// qmfix: sets the aspect ratio of Quillmoor's qm.exe for a chosen screen resolution.
#include "app/main_window.h"

int main() {
    return app_main();
}
