// Millisecond pause of the calling thread.
#pragma once

// Blocks the calling thread for `ms` milliseconds (0 or less returns at once).
void platform_sleep_ms(int ms);
