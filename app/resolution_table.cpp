// RESOLUTION_TABLE and the ResolutionMap.
#include "app/resolution_table.h"

#include <cstring>

// Stored order; the window's list shows the same labels sorted by width, then height.
const std::uint8_t RESOLUTION_TABLE[RESOLUTION_TABLE_SIZE] = {
    '1', '9', '2', '0', 'x', '1', '2', '0', '0', 0, 0xCD, 0xCC, 0xCC, 0x3F, // 1.6
    '2', '5', '6', '0', 'x', '1', '0', '8', '0', 0, 0x26, 0xB4, 0x17, 0x40, // 2.3703704
    '3', '4', '4', '0', 'x', '1', '4', '4', '0', 0, 0x8E, 0xE3, 0x18, 0x40, // 2.3888888
    '3', '8', '4', '0', 'x', '1', '6', '0', '0', 0, 0x9A, 0x99, 0x19, 0x40, // 2.4
    '5', '1', '2', '0', 'x', '2', '1', '6', '0', 0, 0x26, 0xB4, 0x17, 0x40, // 2.3703704
    '6', '8', '8', '0', 'x', '2', '8', '8', '0', 0, 0x8E, 0xE3, 0x18, 0x40, // 2.3888888
    '7', '8', '4', '0', 'x', '1', '4', '4', '0', 0, 0xE4, 0x38, 0xAE, 0x40, // 5.4444447
    '3', '8', '4', '0', 'x', '1', '0', '8', '0', 0, 0x39, 0x8E, 0x63, 0x40, // 3.5555556
    '3', '8', '4', '0', 'x', '1', '4', '4', '0', 0, 0xAB, 0xAA, 0x2A, 0x40, // 2.6666667
    '5', '1', '2', '0', 'x', '1', '4', '4', '0', 0, 0x39, 0x8E, 0x63, 0x40, // 3.5555556
    'E', 'n', 'd', 'O', 'f', 'L', 'i', 's', 't', 0,
};

namespace {

// FNV-1a over the label's bytes.
unsigned slot_of(const char *label) {
    std::uint32_t hash = 2166136261u;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(label); *p != 0; ++p) {
        hash ^= *p;
        hash *= 16777619u;
    }
    return hash % RESOLUTION_MAP_SLOTS;
}

// The slot holding `label`, or the free slot where it would go (-1 when the map is full).
int probe(const ResolutionMap *map, const char *label) {
    unsigned at = slot_of(label);
    for (int step = 0; step < RESOLUTION_MAP_SLOTS; ++step) {
        const ResolutionMapSlot &slot = map->slots[at];
        if (!slot.used || std::strcmp(slot.label, label) == 0) return static_cast<int>(at);
        at = (at + 1) % RESOLUTION_MAP_SLOTS;
    }
    return -1;
}

bool fits(const char *label) {
    return label != nullptr && std::strlen(label) < static_cast<std::size_t>(RESOLUTION_MAP_KEY_CAPACITY);
}

} // namespace

void resolution_map_create(ResolutionMap *map) {
    std::memset(map, 0, sizeof *map);
}

AspectBytes *resolution_map_entry(ResolutionMap *map, const char *label) {
    if (!fits(label)) return nullptr;
    int at = probe(map, label);
    if (at < 0) return nullptr;
    ResolutionMapSlot &slot = map->slots[at];
    if (!slot.used) {
        slot.used = 1;
        std::strcpy(slot.label, label);
        slot.value = AspectBytes{};
        map->count++;
    }
    return &slot.value;
}

const AspectBytes *resolution_map_find(const ResolutionMap *map, const char *label) {
    if (!fits(label)) return nullptr;
    int at = probe(map, label);
    return at >= 0 && map->slots[at].used ? &map->slots[at].value : nullptr;
}

void resolution_map_remove(ResolutionMap *map, const char *label) {
    if (!fits(label)) return;
    int at = probe(map, label);
    if (at < 0 || !map->slots[at].used) return;
    // Backward-shift deletion: later members of the probe run move up so every lookup still finds them.
    unsigned hole = static_cast<unsigned>(at);
    unsigned next = (hole + 1) % RESOLUTION_MAP_SLOTS;
    while (map->slots[next].used) {
        unsigned home = slot_of(map->slots[next].label);
        // Move `next` into the hole unless its home lies cyclically within (hole, next].
        bool stays = hole <= next ? (home > hole && home <= next) : (home > hole || home <= next);
        if (!stays) {
            map->slots[hole] = map->slots[next];
            hole = next;
        }
        next = (next + 1) % RESOLUTION_MAP_SLOTS;
    }
    map->slots[hole] = ResolutionMapSlot{};
    map->count--;
}

void resolution_map_visit(const ResolutionMap *map,
                          void (*visit)(const char *label, const AspectBytes *value, void *context),
                          void *context) {
    for (const ResolutionMapSlot &slot : map->slots)
        if (slot.used) visit(slot.label, &slot.value, context);
}

int load_resolution_table(ResolutionMap *map) {
    std::size_t at = 0;
    while (at < RESOLUTION_TABLE_SIZE) {
        const char *label = reinterpret_cast<const char *>(RESOLUTION_TABLE + at);
        std::size_t length = strnlen(label, RESOLUTION_TABLE_SIZE - at);
        if (at + length == RESOLUTION_TABLE_SIZE) break; // no terminator left: the table ends
        at += length + 1;
        if (std::strcmp(label, "EndOfList") == 0) break;
        for (int i = 0; i < 4 && at < RESOLUTION_TABLE_SIZE; ++i) {
            AspectBytes *entry = resolution_map_entry(map, label);
            if (entry != nullptr) entry->bytes[i] = RESOLUTION_TABLE[at];
            ++at;
        }
    }
    return 0;
}
