// The table of resolutions the patcher knows and the ResolutionMap built from it: label -> the four
// bytes of that resolution's aspect ratio.
#pragma once
#include <cstddef>
#include <cstdint>

// Records of: label bytes, one NUL, four AspectBytes; ended by the label "EndOfList" and its NUL.
constexpr std::size_t RESOLUTION_TABLE_SIZE = 150;
extern const std::uint8_t RESOLUTION_TABLE[RESOLUTION_TABLE_SIZE];

// width / height as an IEEE 754 single, little-endian; copied, never interpreted.
struct AspectBytes {
    std::uint8_t bytes[4];
};

constexpr int RESOLUTION_MAP_SLOTS = 512;
constexpr int RESOLUTION_MAP_KEY_CAPACITY = 32; // bytes of a label, including its terminator

struct ResolutionMapSlot {
    int used;
    char label[RESOLUTION_MAP_KEY_CAPACITY];
    AspectBytes value;
};

// Hash map with open addressing. Labels are compared byte for byte (case-sensitive).
struct ResolutionMap {
    ResolutionMapSlot slots[RESOLUTION_MAP_SLOTS];
    int count;
};

// Empties the map.
void resolution_map_create(ResolutionMap *map);

// The entry for `label`, created with four zero bytes when missing. Null for a label longer than
// RESOLUTION_MAP_KEY_CAPACITY - 1 bytes or when all slots are taken.
AspectBytes *resolution_map_entry(ResolutionMap *map, const char *label);

// The entry for `label`, or null.
const AspectBytes *resolution_map_find(const ResolutionMap *map, const char *label);

// Removes the entry for `label` if there is one.
void resolution_map_remove(ResolutionMap *map, const char *label);

// Calls visit(label, value, context) once for every entry, in slot order.
void resolution_map_visit(const ResolutionMap *map,
                          void (*visit)(const char *label, const AspectBytes *value, void *context),
                          void *context);

// Fills `map` from RESOLUTION_TABLE. Returns 0.
int load_resolution_table(ResolutionMap *map);
