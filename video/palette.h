// Palette pieces shared inside the video code and its tests.
#pragma once
#include <cstdint>

#include "video/decode_tables.h"

// 6-bit palette components to 8 bits.
extern const uint8_t ScaleTable6to8[64];

// ColorTable16 of a palette in a target's 16-bit pixel format (0x80 or 0xC0).
void BuildTargetColorTable(uint16_t table[256], const uint8_t palette[768], uint8_t pixelFormat);

// The caller's entry nearest to each movie colour. Layout flags: 1 doubled
// offsets, 2 blue first, 4 four-byte entries, 8 (with 4) components from byte 1.
void FindRemap(const uint8_t movie[768], const uint8_t* palette, uint32_t count, uint32_t flags, uint8_t remap[256]);

// Makes the colour-bearing leaves (colour pairs, full-block pixels, solid
// fills) output remap[coded colour]; the coded halves are never changed.
void RemapDecodeTables(DecodeTables* tables, const uint8_t remap[256]);
