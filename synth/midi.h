// MIDI interpreter of the synthesizer: note on/off with voice allocation and stealing,
// controllers, program change and system reset.
#pragma once
#include <cstdint>

#include "synth/synth_state.h"

// Interprets the messages in `buffer` (running status allowed) up to the end marker 0xFD, which the
// buffer must contain where a message starts. Messages must be complete, as the sequencer writes
// them: data bytes are read whole (0..255, 0xFD included), so a cut-off message would read on past
// the marker. Runs under the synthesizer's numeric environment and restores the caller's.
void synth_process_midi(SynthState *s, const std::uint8_t *buffer);
