// The one synthesizer record, the patch map it plays from, parameter refresh with modulation
// entries, and initialisation. The caller owns the SynthState (one contiguous block, never
// allocated by the synthesizer); synth_init clears it whole before use.
#pragma once
#include <cstdint>
#include <type_traits>

#include "synth/channel.h" // ChannelFx, CHANNEL_PARAM_COUNT
#include "synth/global_effects.h"
#include "synth/speech.h"
#include "synth/voice.h"

constexpr int VOICE_COUNT = 64;
constexpr int CHANNEL_COUNT = 16;
constexpr int FRAME_CAPACITY = 280;      // sample frames per frame buffer; frame_length <= 279 up to 96 kHz
constexpr int CHANNEL_CONTROL_COUNT = 8; // byte 0 the program, bytes 1..7 controllers 1..7
constexpr int GLOBAL_SETTING_COUNT = 22;
constexpr int CHANNEL_DELAY_LENGTH = 2048; // chorus line per side, index mask 2047
constexpr int GLOBAL_DELAY_LENGTH = 32768; // global delay line per side, index mask 32767

// Patch layout: 59 voice bytes, 29 channel bytes, polyphony, entry count N, N entries of 3 bytes.
constexpr int PATCH_CHANNEL_PARAMS = 59;
constexpr int PATCH_POLYPHONY = 88;
constexpr int PATCH_MOD_COUNT = 89;
constexpr int PATCH_HEADER_SIZE = 90;

// A modulation entry: adds source * (amount - 64) / 64 to parameter `destination`
// (0..58 voice, 59..87 channel, 88.. nothing). Sources: 0 velocity, 1..7 controllers,
// 8/9 envelope 1/2 output, 10/11 LFO 1/2 output, 12.. (note - 48) * 2.
struct ModEntry {
    std::uint8_t source;
    std::uint8_t amount;
    std::uint8_t destination;
};

struct SynthState {
    const std::uint8_t *patch_map;                  // the song's patch section, read in place
    std::uint32_t patch_map_size;                   // bytes of that section; lookups never read beyond it
    std::int32_t running_status;                    // last MIDI status byte, 0 after init
    std::uint32_t age_counter;                      // stamp of the next started voice
    std::int32_t sample_rate;                       // samples per second
    std::int32_t voice_channel[VOICE_COUNT];        // owning channel 0..15, -1 = free
    std::uint32_t voice_age[VOICE_COUNT];           // age_counter at the voice's last start
    std::int32_t channel_last_voice[CHANNEL_COUNT]; // voice most recently started per channel
    std::int32_t frame_remaining;                   // samples of the current frame not yet handed out
    std::uint8_t channel_controls[CHANNEL_COUNT][CHANNEL_CONTROL_COUNT];
    float voice_params[VOICE_COUNT][VOICE_PARAM_COUNT]; // 0..128 after the latest refresh
    VoiceState voices[VOICE_COUNT];
    float channel_params[CHANNEL_COUNT][CHANNEL_PARAM_COUNT]; // 0..128 after the latest refresh
    ChannelFx channels[CHANNEL_COUNT];
    float global_settings[GLOBAL_SETTING_COUNT]; // globals block bytes 0..21 as floats
    Reverb reverb;
    ModDelay global_delay; // lines: global_delay_lines
    CutFilter cut_filter;
    Compressor main_compressor;
    DcFilterState main_dc;
    float global_delay_lines[2][GLOBAL_DELAY_LENGTH];
    float channel_delay_lines[CHANNEL_COUNT][2][CHANNEL_DELAY_LENGTH];
    float voice_buffer[FRAME_CAPACITY];                     // mono, one voice at a time
    float voice_second_buffer[FRAME_CAPACITY];              // mono, filter 2 output in parallel routing
    float voice_group_buffers[VOICE_GROUP][FRAME_CAPACITY]; // mono, voices rendered together
    float voice_group_second[VOICE_GROUP][FRAME_CAPACITY];  // their filter 2 outputs (parallel)
    float channel_buffer[2 * FRAME_CAPACITY];               // stereo interleaved
    float main_bus[2 * FRAME_CAPACITY];                     // stereo interleaved
    float reverb_bus[FRAME_CAPACITY];                       // mono
    float delay_bus[FRAME_CAPACITY];                        // mono
    float aux_bus_a[2 * FRAME_CAPACITY];                    // stereo interleaved
    float aux_bus_b[2 * FRAME_CAPACITY];                    // stereo interleaved
    float level_buffer[2 * FRAME_CAPACITY];                 // compressor detector scratch, stereo
    SpeechVoice speech;                                     // reshapes channel 15
};

// synth_init clears the record bytewise.
static_assert(std::is_trivially_copyable_v<SynthState>);

// Clears the whole state, computes the rate constants for sample_rate (8000..96000 Hz) and
// initialises every unit. patch_map points at patch_map_size bytes that stay valid while the state
// is in use; it may be null (size 0): then no program has a patch.
void synth_init(SynthState *s, const std::uint8_t *patch_map, std::uint32_t patch_map_size,
                std::int32_t sample_rate);

// The Patch of `program` (any value; the offset table has no count), or null when its offset-table
// entry or any of its 90 + 3N bytes lie outside the patch map. Songs are untrusted input.
const std::uint8_t *synth_find_patch(const SynthState *s, std::uint32_t program);

// Voice refresh: rebuilds voice_params[v] from the owning channel's patch and the modulation
// entries with voice destinations, then runs voice_set. Does nothing for a free voice.
void synth_refresh_voice(SynthState *s, int v);

// Channel refresh: out[k] = patch byte 59 + k plus the entries with channel destinations, the
// voice channel_last_voice[ch] supplying the voice sources. All zero when the channel's program
// has no patch.
void synth_refresh_channel_params(SynthState *s, int ch, float out[CHANNEL_PARAM_COUNT]);

// Renders voice v for n samples (n = frame_length) into channel_buffer, using the state's scratch
// buffers and aux buses.
void synth_render_voice(SynthState *s, int v, std::int32_t n);
// Renders every voice of channel ch into channel_buffer, in voice order, up to VOICE_GROUP at a time
// (the same samples as synth_render_voice on each).
void synth_render_channel_voices(SynthState *s, int ch, std::int32_t n);
