// Huffman trees in decoding form, built once per movie from the tree block,
// and the video decoder's entry points inside the library.
#pragma once
#include <cstdint>

struct DecodeTables;  // defined by the tree builder
struct FrameTarget;   // defined by the target code
struct Movie;

enum TreeIndex { kMapTree = 0, kColorTree = 1, kFullTree = 2, kTypeTree = 3 };

// Size of the fixed part of DecodeTables; QuarvOpen adds the four tree sizes.
uint32_t DecodeTablesFixedSize();

// work: 4096 bytes of scratch, then the tree block from byte 4096 on;
// workSize: the whole buffer's size (at least 8192, reaching past the tree
// block). Never reads outside work or writes outside the tables' own sizes.
void BuildDecodeTables(uint8_t* work, uint32_t workSize, DecodeTables* tables, const uint32_t treeSizes[4]);

// Applies a palette chunk (starting at its length byte) to palette[768];
// available = bytes of the record from the chunk's start. Never reads past
// available bytes or writes past the palette.
void ApplyPaletteChunk(const uint8_t* chunk, uint32_t available, uint8_t palette[768]);
