#include "app/resolution_table.h"

#include <cstdio>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::uint8_t> bytes_of(const AspectBytes *value) {
    return value == nullptr ? std::vector<std::uint8_t>{}
                            : std::vector<std::uint8_t>(value->bytes, value->bytes + 4);
}

TEST(ResolutionTable, LoadsTheTenLabelsWithTheirBytes) {
    static ResolutionMap map;
    resolution_map_create(&map);
    EXPECT_EQ(load_resolution_table(&map), 0);
    struct Case {
        const char *label;
        std::vector<std::uint8_t> bytes; // empty: no entry
    } cases[] = {
        {"1920x1200", {0xCD, 0xCC, 0xCC, 0x3F}},
        {"2560x1080", {0x26, 0xB4, 0x17, 0x40}},
        {"3440x1440", {0x8E, 0xE3, 0x18, 0x40}},
        {"3840x1600", {0x9A, 0x99, 0x19, 0x40}},
        {"5120x2160", {0x26, 0xB4, 0x17, 0x40}},
        {"6880x2880", {0x8E, 0xE3, 0x18, 0x40}},
        {"7840x1440", {0xE4, 0x38, 0xAE, 0x40}},
        {"3840x1080", {0x39, 0x8E, 0x63, 0x40}},
        {"3840x1440", {0xAB, 0xAA, 0x2A, 0x40}},
        {"5120x1440", {0x39, 0x8E, 0x63, 0x40}},
        {"EndOfList", {}},
        {"1920X1200", {}},
        {"1920x1080", {}},
        {"File", {}},
        {"", {}},
    };
    for (const Case &c : cases) EXPECT_EQ(bytes_of(resolution_map_find(&map, c.label)), c.bytes) << c.label;
    EXPECT_EQ(map.count, 10);
}

TEST(ResolutionTable, BytesAreTheRoundedAspectRatiosAndNoneLooksUnpatched) {
    static ResolutionMap map;
    resolution_map_create(&map);
    load_resolution_table(&map);
    struct Visit {
        int count = 0;
    } visit;
    resolution_map_visit(
        &map,
        [](const char *label, const AspectBytes *value, void *context) {
            static_cast<Visit *>(context)->count++;
            int width = 0, height = 0;
            ASSERT_EQ(std::sscanf(label, "%dx%d", &width, &height), 2) << label;
            float expected = static_cast<float>(width) / static_cast<float>(height);
            float stored;
            std::memcpy(&stored, value->bytes, 4);
            EXPECT_EQ(stored, expected) << label;
            EXPECT_NE(value->bytes[0], 0x55) << label;
        },
        &visit);
    EXPECT_EQ(visit.count, 10);
}

TEST(ResolutionMap, EntryCreatesZeroBytesOnceAndRemoveForgets) {
    static ResolutionMap map;
    resolution_map_create(&map);
    AspectBytes *file = resolution_map_entry(&map, "File");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(bytes_of(file), (std::vector<std::uint8_t>{0, 0, 0, 0}));
    file->bytes[0] = 0x55;
    EXPECT_EQ(resolution_map_entry(&map, "File"), file) << "an existing entry is returned, not renewed";
    EXPECT_EQ(file->bytes[0], 0x55);
    EXPECT_EQ(map.count, 1);
    resolution_map_remove(&map, "File");
    resolution_map_remove(&map, "File");
    EXPECT_EQ(resolution_map_find(&map, "File"), nullptr);
    EXPECT_EQ(map.count, 0);
    std::string too_long(RESOLUTION_MAP_KEY_CAPACITY, 'x');
    EXPECT_EQ(resolution_map_entry(&map, too_long.c_str()), nullptr);
}

TEST(ResolutionMap, RemovalKeepsEveryOtherKeyReachableUnderCollisions) {
    static ResolutionMap map;
    resolution_map_create(&map);
    const int n = 400; // most slots taken: long probe runs that wrap around
    for (int i = 0; i < n; ++i) {
        AspectBytes *e = resolution_map_entry(&map, ("key" + std::to_string(i)).c_str());
        ASSERT_NE(e, nullptr) << i;
        e->bytes[0] = static_cast<std::uint8_t>(i);
    }
    for (int i = 0; i < n; i += 3) resolution_map_remove(&map, ("key" + std::to_string(i)).c_str());
    for (int i = 0; i < n; ++i) {
        const AspectBytes *e = resolution_map_find(&map, ("key" + std::to_string(i)).c_str());
        if (i % 3 == 0) {
            EXPECT_EQ(e, nullptr) << i;
        } else {
            ASSERT_NE(e, nullptr) << i;
            EXPECT_EQ(e->bytes[0], static_cast<std::uint8_t>(i));
        }
    }
    EXPECT_EQ(map.count, n - (n + 2) / 3);
}

TEST(ResolutionMap, AFullMapRefusesNewLabels) {
    static ResolutionMap map;
    resolution_map_create(&map);
    for (int i = 0; i < RESOLUTION_MAP_SLOTS; ++i)
        ASSERT_NE(resolution_map_entry(&map, std::to_string(i).c_str()), nullptr);
    EXPECT_EQ(resolution_map_entry(&map, "one more"), nullptr);
    EXPECT_NE(resolution_map_find(&map, "511"), nullptr);
}

} // namespace
