// Free-running high-resolution clock, read to seed the sample-and-hold LFOs.
#pragma once
#include <cstdint>

// A reading of the processor's cycle counter (or the finest monotonic clock where there is none).
// Successive readings differ from run to run; tools fix the value to make renders reproducible.
std::uint64_t clock_read_cycles();

// Every later clock_read_cycles returns `value` until clock_release_fixed; used by `qmsong --seed`
// and by tests.
void clock_fix(std::uint64_t value);
void clock_release_fixed();
