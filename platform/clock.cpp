// Processor clock reading with an override for reproducible renders.
#include "platform/clock.h"

#include <atomic>
#include <chrono>
#if defined(__x86_64__) || defined(__i386__)
#include <x86intrin.h>
#endif

namespace {
std::atomic<bool> fixed{false};
std::atomic<std::uint64_t> fixed_value{0};
} // namespace

std::uint64_t clock_read_cycles() {
    if (fixed.load(std::memory_order_acquire)) return fixed_value.load(std::memory_order_relaxed);
#if defined(__x86_64__) || defined(__i386__)
    return __rdtsc();
#else
    return static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
#endif
}

void clock_fix(std::uint64_t value) {
    fixed_value.store(value, std::memory_order_relaxed);
    fixed.store(true, std::memory_order_release);
}

void clock_release_fixed() {
    fixed.store(false, std::memory_order_release);
}
