// Level-driven gain stage with four detectors (peak or RMS, linked or per side) and a lookahead
// line, used by every channel and by the global chain's main compressor.
#pragma once
#include <cstdint>

constexpr int COMP_LOOKAHEAD_FRAMES = 5700; // stereo frames in the lookahead line
constexpr int COMP_RMS_WINDOW = 8192;       // RMS window in samples, at any sample rate

// Mode: bit 2 (value 4) set means off; otherwise mode AND 3 selects the detector.
constexpr std::int32_t COMP_OFF_BIT = 4;
enum CompDetector : std::int32_t {
    COMP_PEAK_LINKED = 0,
    COMP_RMS_LINKED = 1,
    COMP_PEAK_STEREO = 2,
    COMP_RMS_STEREO = 3
};

struct Compressor {
    std::int32_t mode;
    std::int32_t previous_mode;
    float input_gain; // 1 / threshold
    float ratio;      // 0..1
    float output_gain;
    float attack;                    // per-sample smoothing factor while the gain falls
    float release;                   // per-sample smoothing factor while the gain rises
    std::int32_t lookahead;          // samples, 0..COMP_LOOKAHEAD_FRAMES - 1
    std::int32_t lookahead_position; // 0..lookahead
    float gain_left, gain_right;
    float peak_left, peak_right;           // the linked peak detector uses peak_left
    std::int32_t rms_position;             // 0..8191
    float rms_sum_left, rms_sum_right;     // the linked RMS detector uses rms_sum_left
    float line[2 * COMP_LOOKAHEAD_FRAMES]; // interleaved left, right
    float rms_ring[2 * COMP_RMS_WINDOW];   // 8192 mono entries, or 8192 left/right pairs
};

// k[0..8], each 0..128: mode (0 off, 1 peak, 2 RMS), stereo (0 linked, nonzero separate sides), auto
// gain (nonzero: the threshold comes out at full scale), lookahead in ms, threshold, ratio, attack,
// release, output gain (64 = unity). A mode different from the previous one clears the detectors and
// sets both gains to 1.
void comp_set(Compressor *c, const float k[9]);

// In place over n interleaved stereo frames (n <= 280). `level_buffer` (2n floats) is scratch shared
// by all compressors: the detector pass writes it and the gain pass reads it.
void comp_process(Compressor *c, float *block, int n, float *level_buffer);
