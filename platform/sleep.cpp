// Millisecond pause; Linux timers are fine-grained, so nothing needs raising first.
#include "platform/sleep.h"

#include <chrono>
#include <thread>

void platform_sleep_ms(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
