// The exported blitter: converts rectangles of 8-bit palettised pixels into
// the format of a display surface (8-bit or 16-bit, 1x, 2x, 2x interlaced or
// 2x smoothed), plus stateless copies between graphics buffers.
//
// Every exported function is stdcall with 32-bit arguments on Win32, and
// quarvplay.exe exports it under its decorated name (_QuarvBlit@44: four
// bytes per argument), so other programs can look it up in the executable.
// Pixel routines never clip: callers pass rectangles inside both buffers.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(__i386__) || defined(_M_IX86)
#define QUARV_API __stdcall
#else
#define QUARV_API
#endif

struct QuarvBuffer;

// The flags word of QuarvBlitOpen and QuarvBlitSetFlags.
enum : uint32_t {
    kBlit1x = 0x1,  // selects nothing: no scaling bit is already 1x
    kBlit2x = 0x2,
    kBlitSmooth = 0x4,     // 2x with in-between colours; needs a SmoothTable
    kBlitInterlace = 0x8,  // 2x on every other destination line
    kBlitFormatMask = 0xC0000000u,
    kBlit555 = 0x80000000u,
    kBlit565 = 0xC0000000u,
    kBlitUndefinedFormat = 0x40000000u,  // refused: no such surface
};

// BlitMode: 0-3 for 8-bit destinations, 6-9 for 16-bit; 1x, 2x, interlaced,
// smoothing in that order. Smoothing wins over interlacing, interlacing over
// plain 2x.
uint32_t BlitMode(uint32_t flags);

// Sizes of the one block a Blitter lives in: a 256-byte head for the record,
// then the tables the open flags call for, in this order.
constexpr size_t kBlitterHeadSize = 256;
constexpr size_t kColorTable16Size = 512;      // 256 u16, if 16-bit
constexpr size_t kBlitPaletteSize = 768;       // red, green, blue, if 16-bit or smoothing
constexpr size_t kSmoothTableSize = 131072;    // reserved for either depth, if smoothing
size_t BlitterBlockSize(uint32_t flags);

struct Blitter {
    uint32_t flags;
    uint8_t* palette;         // 768 bytes, or null when no table needs the colours
    uint8_t* smoothTable;     // u8 (8-bit) or u16 (16-bit) per pair a*256+b, or null
    uint16_t* colorTable16;   // 16-bit pixel of each palette index, or null
    uint32_t mode;            // BlitMode
    uint32_t paletteSerial;   // incremented at every palette change
    uint32_t colorTableSerial;  // paletteSerial when colorTable16 was built
    uint32_t smoothSerial;    // paletteSerial when smoothTable was built
    uint32_t smoothDepth;     // 8 or 16 as last built, 0 before
    uint32_t firstPalette;    // 1 until the first QuarvBlitSetPalette
    // The 16-bit format each table was built for, so that switching between
    // 5-5-5 and 5-6-5 on an unchanged palette still gives the right pixels.
    uint32_t colorTableFormat;
    uint32_t smoothFormat;
};
static_assert(sizeof(Blitter) <= kBlitterHeadSize, "the record must fit its head");

// Layout bits of QuarvBlitSetPalette: where red, green and blue stand in
// each of the caller's 256 entries. 0 = three bytes red, green, blue.
enum : uint32_t {
    kPaletteWords = 0x1,     // 16-bit components, low byte taken
    kPaletteBlueFirst = 0x2, // red and blue exchanged
    kPaletteFourBytes = 0x4, // four-byte entries
    kPaletteSkipFirst = 0x8, // with 0x4: the components start one byte in
};

// The smoothing-table build is long; the blitter services the sound output
// right before and after it through this hook (null: nothing to service).
// The decoding library installs its sound service at start-up.
void SetBlitSoundService(void (*service)());

extern "C" {

Blitter* QUARV_API QuarvBlitOpen(uint32_t flags);
void QUARV_API QuarvBlitSetPalette(Blitter* blitter, const void* palette, uint32_t layout);
uint32_t QUARV_API QuarvBlitSetFlags(Blitter* blitter, uint32_t flags);
char* QUARV_API QuarvBlitString(Blitter* blitter, char* text);
void QUARV_API QuarvBlit(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY, const void* src,
                         int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width, int32_t height);
void QUARV_API QuarvBlitTrans(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                              const void* src, int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width,
                              int32_t height, uint32_t transparent);
void QUARV_API QuarvBlitMask(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                             const void* src, int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width,
                             int32_t height, uint32_t transparent, const void* mask);
void QUARV_API QuarvBlitMerge(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                              const void* src, int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width,
                              int32_t height, uint32_t transparent, const void* other);
void QUARV_API QuarvBlitClear(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                              int32_t width, int32_t height, int32_t colour);
void QUARV_API QuarvBlitClose(Blitter* blitter);

void QUARV_API QuarvBufferToBuffer(QuarvBuffer* destBuf, int32_t destX, int32_t destY, const QuarvBuffer* srcBuf,
                                   int32_t srcX, int32_t srcY, int32_t width, int32_t height);
void QUARV_API QuarvBufferToBufferTrans(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                        const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, uint32_t transparent);
void QUARV_API QuarvBufferToBufferMask(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                       const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                       int32_t height, uint32_t transparent, const QuarvBuffer* maskBuf);
void QUARV_API QuarvBufferToBufferMerge(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                        const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, uint32_t transparent, const QuarvBuffer* otherBuf);

}  // extern "C"
