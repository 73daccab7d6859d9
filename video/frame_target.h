// Where and how frames are decoded: the caller's buffer, its geometry and
// pixel format, and the map of the block groups the last frame drew.
#pragma once
#include <cstdint>

#include "video/decode_tables.h"

enum : uint8_t { kTargetBuffer = 1 };
enum : uint8_t { kPixel8 = 0, kPixel555 = 0x80, kPixel565 = 0xC0 };
enum : uint32_t { kBufferBottomUp = 0x1 };

struct alignas(8) FrameTarget {
    uint8_t Kind;         // 1 = a caller's pixel buffer
    uint8_t Doubled;      // each decoded row goes to two adjacent lines
    uint8_t PixelFormat;  // 0 = 8-bit indices, 0x80 = 5-5-5, 0xC0 = 5-6-5
    // Change iterator state, cleared at every frame start.
    uint8_t IterDone;
    uint8_t IterContinues;
    uint8_t IterStarted;
    uint8_t Unused[2];
    uint8_t* Start;  // first pixel of the first block row
    uint32_t BlocksPerRow;
    uint32_t BlockRows;
    // Steps in bytes, negative for a bottom-up buffer. Kept in the classic
    // form; the decoder itself only needs Start, LineStep and the band height.
    int32_t NextBlockStep;
    int32_t FillStep;
    int32_t LineStep;
    int32_t RowStep;
    uint32_t Width;  // movie width in pixels
    uint32_t Rows;   // movie rows decoded
    uint32_t IterX;
    uint32_t IterY;
    uint32_t IterPos;  // next ChangeMap byte of the iterator
    uint32_t MapRoom;  // bytes available for the ChangeMap

    uint8_t* ChangeMap() { return reinterpret_cast<uint8_t*>(this + 1); }
    const uint8_t* ChangeMap() const { return reinterpret_cast<const uint8_t*>(this + 1); }
    uint32_t Blocks() const { return BlocksPerRow * BlockRows; }
    // Groups of 16 blocks in visiting order: one ChangeMap byte each.
    uint32_t Groups() const { return (Blocks() + 15) / 16; }
    bool Wide() const { return PixelFormat != 0; }
    // Target lines from one block row to the next.
    uint32_t BandLines() const { return Doubled ? 8u : 4u; }
};
static_assert(sizeof(FrameTarget) % 8 == 0, "the ChangeMap follows aligned");

// The decoder's copy of the target's ColorTable16, refreshed before each frame.
extern uint16_t DecoderColorTable[256];

// Decodes one frame's video data into the target (see frame_decode.cpp).
void DecodeFrame(const uint8_t* data, uint32_t size, DecodeTables* tables, FrameTarget* target,
                 const uint16_t* colorTable);

// Next changed span of the last decoded frame: x, y, width, height in movie
// pixels and rows. False when there is none left.
struct ChangeSpanOut {
    uint32_t x, y, width, height;
};
bool NextChangeSpan(FrameTarget* target, ChangeSpanOut* span);

// Releases the processor's MMX state (the wide decoding path ends with it).
void ReleaseMmxState();
