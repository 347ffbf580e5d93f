// Fuzz target: an untrusted song image through the parser, the positioning run of the sequencer
// with its MIDI handling, and a short render. Nothing may read outside the image.
#include "platform/clock.h"
#include "player/playback.h"

#include <cstddef>
#include <cstdint>

namespace {

float block[2 * 1024];

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    static const bool once = [] {
        clock_fix(1); // sample-and-hold LFO seeds: reproducible crashes
        song_skip_pauses(1);
        return true;
    }();
    (void)once;
    if (!song_load(data, size)) return 0;
    // From the start: a few blocks across the first events, then a fade.
    song_play(0);
    for (int i = 0; i < 4; ++i) song_render(block, i == 2 ? 1000 : 1024, i & 1);
    song_stop(10);
    song_render(block, 512, 0);
    // Positioning far in runs most songs' every event through the sequencer and the MIDI handling
    // without rendering; the voices they left sounding are then rendered.
    song_play(600000);
    song_render(block, 1024, 0);
    song_render(block, 8, 1);
    return 0;
}
