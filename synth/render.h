// The synthesizer's audio entry point: hands out the samples of internal frames of frame_length
// samples in whatever block sizes the caller asks for, computing a frame whenever the previous one is
// used up, so the block size never changes the sound.
#pragma once
#include <cstdint>

struct SynthState;

// Delivers `count` stereo samples (full scale 1.0). Without `out_right`, `out` receives 2 x count
// floats interleaved left, right; with it, `out` receives the count left samples and `out_right` the
// count right ones. add 0 overwrites, any other value adds to what is there. A count of 0 (or less)
// touches nothing. MIDI processed between calls takes effect at the next frame boundary. Runs in the
// synthesizer's numeric environment and restores the caller's on return.
void synth_render(SynthState *s, float *out, std::int32_t count, float *out_right, int add);

// Computes one frame into main_bus: refresh and tick every voice in use (freeing the finished ones),
// refresh all channels, then mix. Sets the frame's remaining count to frame_length. synth_render calls
// it inside the synthesizer's numeric environment; other callers (tests) provide that themselves.
void synth_render_frame(SynthState *s);
