// Fixed data of the speech voice: the phoneme formant table and the phoneme names a text may use.
#pragma once

#include <cstdint>

constexpr int PHONEME_COUNT = 69;   // phonemes 0..68
constexpr int PHONEME_COLUMNS = 19; // values per phoneme, see PhonemeColumn
constexpr int PAUSE_PHONEME = 18;   // silence between items

// Columns of PhonemeTable. Frequencies and bandwidths in Hz; levels on a 6-steps-per-octave scale
// where 70 is unity gain; DUR in phoneme frames; RANK decides the glide from the previous phoneme.
enum PhonemeColumn : int {
    PH_F1 = 0, // first formant frequency (resonator 1)
    PH_B1,     // first formant bandwidth
    PH_F2,     // second formant frequency (resonator 2)
    PH_B2,     // second formant bandwidth
    PH_F3,     // third formant frequency (resonator 3)
    PH_B3,     // third formant bandwidth
    PH_FN,     // nasal formant frequency (resonator 0)
    PH_AV,     // voicing level: gain of the channel's sound in the voiced source
    PH_AH,     // aspiration level: gain of noise in the voiced source
    PH_AF,     // frication level: gain of noise in the frication source
    PH_AB,     // bypass level: gain of the frication source passed around the resonators
    PH_A1,     // level of resonator 1
    PH_A2,     // level of resonator 2
    PH_A3,     // level of resonator 3
    PH_A4,     // level of resonator 4
    PH_AN,     // level of resonator 0 (nasal)
    PH_A5,     // level of resonators 5 and 6
    PH_DUR,    // duration in phoneme frames, before the item's duration multiplier
    PH_RANK,   // transition rank
};

// The expanded table, one row of PHONEME_COLUMNS values per phoneme. Every value is an integer.
extern const float PhonemeTable[PHONEME_COUNT][PHONEME_COLUMNS];

constexpr int PHONEME_NAME_COUNT = 52; // entries 0..50 are names a text may use
constexpr int PAUSE_NAME_ENTRY = 51;   // used for every character that matches no name

struct PhonemeName {
    char name[4];               // 1 to 3 lower-case letters, zero-terminated (entry 51: a single space)
    std::int8_t phonemes[4];    // phoneme numbers 0..68
    std::int32_t phoneme_count; // 1..4
};

extern const PhonemeName PhonemeNames[PHONEME_NAME_COUNT];
