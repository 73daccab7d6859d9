// The graphics buffer of a display back-end: the 8-bit pixels the decoder
// draws into, and the state of the back-end that puts them on the screen.
#pragma once
#include <cstddef>
#include <cstdint>

struct Blitter;

// A rectangle collected by QuarvBufferStartRects: the buffer's origin goes
// to client point (x, y); (srcX, srcY, width, height) lies in the buffer.
struct DisplayRect {
    int32_t x, y;
    int32_t srcX, srcY;
    int32_t width, height;
};

// The graphics buffer record. Its field order is an interface: the exported
// QuarvBufferToBuffer family reads records that other programs build, so
// bottomUp, height, pitch and pixels must stay where those programs put them.
// Handles of the platform (device contexts, bitmaps, palettes, windows,
// DirectDraw objects) are kept as void*.
struct QuarvBuffer {
    uint32_t bottomUp;      // nonzero when memory row 0 is the bottom line of the picture
    uint32_t memoryKind;    // mode for QuarvToBufferNext: 0 separate rectangles, 1 one bounding, 2 pending only
    uint32_t type;          // the chosen back-end, 1-5
    uint32_t fullScreen;
    uint32_t width;         // frame size in pixels
    uint32_t height;        // lines
    uint32_t pitch;         // bytes per row, the width rounded up to a multiple of 8
    uint32_t stretched;     // the output size differs from the frame size
    uint32_t outWidth;      // size on the screen
    uint32_t outHeight;
    uint32_t screenColours; // 2^(bits per pixel x planes), at most 2^24
    uint32_t paletteSize;   // entries used: 256, or fewer on a screen with fewer colours
    uint32_t freeColours;   // paletteEnd - paletteStart
    uint32_t paletteStart;  // indices the movie may set freely: paletteStart..paletteEnd-1
    uint32_t paletteEnd;
    uint8_t palette[1024];  // 256 x blue, green, red, 0
    uint32_t paletteLayout; // 6: the layout of palette for QuarvBlitSetPalette
    uint32_t redrawAll;     // the next blit draws the whole buffer
    uint32_t drawn;         // set by every blit
    uint8_t* pixels;        // height rows of pitch bytes, 8 bits per pixel
    uint8_t* savedScreen;
    void* dibBitmap;
    void* previousBitmap;
    void* paletteHandle;
    void* memoryDC;
    uint32_t active;
    void* playerWindow;
    void* playerWindowProc;
    void* dispDibWindowProc;
    void* dispDibWindow;
    void* directDraw;
    void* primarySurface;
    uint32_t blitFlags;
    Blitter* blitter;       // null: type 5 draws through GDI
    uint32_t hidePointer;
    uint32_t screenRectKnown;
    uint32_t directActive;
    int32_t screenRect[4];  // left, top, right, bottom
    uint32_t rectMode;      // 0 draw at once, 2 collecting, 1 replaying
    DisplayRect* rectList;
    DisplayRect* rectCursor;
    uint32_t rectCapacity;
    uint32_t rectCount;
    void* rectDC;
};

// The 44 fields in order. A 32-bit program sees every field as four bytes
// (the palette 1,024, the screen rectangle 16); a 64-bit one sees pointers of
// eight, so its offsets differ from the pixels on, but not its order.
#define QUARV_BUFFER_FIELD_AT(field, before, offset32)                                          \
    static_assert(offsetof(QuarvBuffer, field) > offsetof(QuarvBuffer, before), #field " order"); \
    static_assert(sizeof(void*) != 4 || offsetof(QuarvBuffer, field) == (offset32), #field " offset")
static_assert(offsetof(QuarvBuffer, bottomUp) == 0, "bottomUp first");
QUARV_BUFFER_FIELD_AT(memoryKind, bottomUp, 4);
QUARV_BUFFER_FIELD_AT(type, memoryKind, 8);
QUARV_BUFFER_FIELD_AT(fullScreen, type, 12);
QUARV_BUFFER_FIELD_AT(width, fullScreen, 16);
QUARV_BUFFER_FIELD_AT(height, width, 20);
QUARV_BUFFER_FIELD_AT(pitch, height, 24);
QUARV_BUFFER_FIELD_AT(stretched, pitch, 28);
QUARV_BUFFER_FIELD_AT(outWidth, stretched, 32);
QUARV_BUFFER_FIELD_AT(outHeight, outWidth, 36);
QUARV_BUFFER_FIELD_AT(screenColours, outHeight, 40);
QUARV_BUFFER_FIELD_AT(paletteSize, screenColours, 44);
QUARV_BUFFER_FIELD_AT(freeColours, paletteSize, 48);
QUARV_BUFFER_FIELD_AT(paletteStart, freeColours, 52);
QUARV_BUFFER_FIELD_AT(paletteEnd, paletteStart, 56);
QUARV_BUFFER_FIELD_AT(palette, paletteEnd, 60);
QUARV_BUFFER_FIELD_AT(paletteLayout, palette, 1084);
QUARV_BUFFER_FIELD_AT(redrawAll, paletteLayout, 1088);
QUARV_BUFFER_FIELD_AT(drawn, redrawAll, 1092);
QUARV_BUFFER_FIELD_AT(pixels, drawn, 1096);
QUARV_BUFFER_FIELD_AT(savedScreen, pixels, 1100);
QUARV_BUFFER_FIELD_AT(dibBitmap, savedScreen, 1104);
QUARV_BUFFER_FIELD_AT(previousBitmap, dibBitmap, 1108);
QUARV_BUFFER_FIELD_AT(paletteHandle, previousBitmap, 1112);
QUARV_BUFFER_FIELD_AT(memoryDC, paletteHandle, 1116);
QUARV_BUFFER_FIELD_AT(active, memoryDC, 1120);
QUARV_BUFFER_FIELD_AT(playerWindow, active, 1124);
QUARV_BUFFER_FIELD_AT(playerWindowProc, playerWindow, 1128);
QUARV_BUFFER_FIELD_AT(dispDibWindowProc, playerWindowProc, 1132);
QUARV_BUFFER_FIELD_AT(dispDibWindow, dispDibWindowProc, 1136);
QUARV_BUFFER_FIELD_AT(directDraw, dispDibWindow, 1140);
QUARV_BUFFER_FIELD_AT(primarySurface, directDraw, 1144);
QUARV_BUFFER_FIELD_AT(blitFlags, primarySurface, 1148);
QUARV_BUFFER_FIELD_AT(blitter, blitFlags, 1152);
QUARV_BUFFER_FIELD_AT(hidePointer, blitter, 1156);
QUARV_BUFFER_FIELD_AT(screenRectKnown, hidePointer, 1160);
QUARV_BUFFER_FIELD_AT(directActive, screenRectKnown, 1164);
QUARV_BUFFER_FIELD_AT(screenRect, directActive, 1168);
QUARV_BUFFER_FIELD_AT(rectMode, screenRect, 1184);
QUARV_BUFFER_FIELD_AT(rectList, rectMode, 1188);
QUARV_BUFFER_FIELD_AT(rectCursor, rectList, 1192);
QUARV_BUFFER_FIELD_AT(rectCapacity, rectCursor, 1196);
QUARV_BUFFER_FIELD_AT(rectCount, rectCapacity, 1200);
QUARV_BUFFER_FIELD_AT(rectDC, rectCount, 1204);
#undef QUARV_BUFFER_FIELD_AT
// The four fields the exported copies read sit alike in both builds.
static_assert(offsetof(QuarvBuffer, height) == 20 && offsetof(QuarvBuffer, pitch) == 24 &&
                  offsetof(QuarvBuffer, pixels) == 1096,
              "the fields other programs fill");

// Modifier bits of QuarvBufferOpen's type argument; the low part is the
// BufferType: 0 automatic (5, else 4), 1-3 full screen, 4 standard DIBs,
// 5 DIB section or WinG.
enum : uint32_t {
    kBufferTypeMask = 0x7F,
    kBufferNoDirectDraw = 0x80,
    kBufferSmooth = 0x100,
    kBufferInterlace = 0x200,
};

// Opens a display for the player window; null when the requested back-end
// cannot be had, the sizes cannot be shown, or memory runs out. outWidth or
// outHeight 0 means the frame size.
QuarvBuffer* QuarvBufferOpen(void* playerWindow, uint32_t type, uint32_t width, uint32_t height, uint32_t outWidth,
                             uint32_t outHeight);
// Puts the rectangle (srcX, srcY, width, height) of the buffer on the screen
// with the buffer's origin at client point (x, y); dc may be null. Returns
// 256 when it drew the whole buffer, else 0.
uint32_t QuarvBufferBlit(QuarvBuffer* buffer, void* dc, int32_t x, int32_t y, int32_t srcX, int32_t srcY,
                         int32_t width, int32_t height);
// Collects the rectangles of one frame and draws them together.
void QuarvBufferStartRects(QuarvBuffer* buffer);
void QuarvBufferFlushRects(QuarvBuffer* buffer);
// Realises the palette in the player window; the number of entries realised.
uint32_t QuarvBufferRealize(QuarvBuffer* buffer);
// Fills width bytes of every row with colourIndex.
void QuarvBufferClear(QuarvBuffer* buffer, uint32_t colourIndex);
void QuarvBufferClose(QuarvBuffer* buffer);
// Frees the optional libraries loaded for the displays.
void QuarvBufferFreeLibraries();

// The movie's colours (256 x red, green, blue) into the display's palette:
// free entries only, none equal to an upper static colour; a new palette
// object, the DIB colours, the blitter's palette; a whole redraw next on a
// screen of more than 256 colours.
void UpdateDisplayPalette(QuarvBuffer* buffer, const uint8_t colours[768]);
// The screen's current system palette as 256 x red, green, blue.
void ReadScreenPalette(uint8_t colours[768]);

// max(16, (height / 4) x (width / 64) / 2): room for one frame's rectangles.
uint32_t RectCapacityFor(uint32_t width, uint32_t height);
// Whether the system offers DIB sections (type 5 is then "DIBSection").
bool DisplayHasDibSections();
// Where a full-screen mode's display memory starts (after the first open).
uint32_t DisplayMemoryAddress();
