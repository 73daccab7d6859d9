// What the graphics buffer needs from the platform. buffer.cpp holds every
// rule (type choice, record set-up, palette ranges, rectangle collection,
// scaling); each build links one implementation of these hooks: the GDI one
// on Win32 (display/win32/) and a memory-only one natively, which draws into
// a simulated window so that the rules can be tested without a screen.
#pragma once
#include <cstdint>

#include "display/display.h"

// The 1,064-byte bitmap header shared by every buffer of the process: a
// 40-byte header and 256 colour slots. Laid out like the platform's header
// with its colour table, so it can be handed over as it stands.
struct SharedBitmapHeader {
    uint32_t size;
    int32_t width;
    int32_t height;
    uint16_t planes;
    uint16_t bitCount;
    uint32_t compression;
    uint32_t sizeImage;
    int32_t xPelsPerMeter;
    int32_t yPelsPerMeter;
    uint32_t clrUsed;
    uint32_t clrImportant;
    uint32_t colours[256];  // while idle: the identity indices 0-255 as 16-bit palette indices
};
static_assert(sizeof(SharedBitmapHeader) == 1064, "shared header layout");

// One logical palette entry, laid out like the platform's.
struct LogicalPaletteEntry {
    uint8_t red, green, blue, flags;
};
constexpr uint8_t kPaletteNoCollapse = 0x04;

struct ScreenFacts {
    uint32_t bitsPerPixel;
    uint32_t planes;
    uint32_t reservedEntries;  // static colours of a palettised screen
    uint32_t windowsMajor;
};

// A device context being drawn into by one QuarvBufferBlit call.
struct DrawSession {
    void* dc;
    bool fetched;        // taken from the window here, released at the end
    void* oldPalette;
};

// The graphics buffer's process-wide state, for tests: forget it (the next
// open sets it up again), and look at the shared header.
void ResetDisplayForTests();
const SharedBitmapHeader* SharedHeaderForTests();

namespace backend {

void ReadScreen(ScreenFacts* facts);
// Whether the system palette is in the no-static-colours use.
bool NoStaticColours();
// Clears the system palette with an all-black realisation.
void ClearSystemPalette();
// The 256 entries of the system palette as red, green, blue.
void ReadSystemPalette(uint8_t rgb[768]);

// Finds CreateDIBSection and SetDIBColorTable (once; false on Win32s).
bool FindDibSectionFunctions();
// Loads WinG and its six functions (once; a failure is remembered).
bool LoadWinG();
// WinG's recommended DIB height: negative for top-down.
int32_t WinGRecommendedHeight();
// The full-screen driver (none yet: types 1-3 fail as without it).
bool FullScreenDriverAvailable();

// Type 5: the memory device context and the 8-bit bitmap described by
// header (DIB section, or WinG bitmap when useWinG), selected into it; sets
// memoryDC, dibBitmap, previousBitmap and pixels. False leaves none behind.
bool CreateDibBitmap(QuarvBuffer* buffer, const SharedBitmapHeader* header, bool useWinG);
void DestroyDibBitmap(QuarvBuffer* buffer);
// Sets the DIB's colour table from palette, entries 0 to paletteSize - 1.
void SetDibColours(QuarvBuffer* buffer, bool useWinG);

// Replaces paletteHandle with a palette object made of count entries.
bool CreatePaletteObject(QuarvBuffer* buffer, const LogicalPaletteEntry* entries, uint32_t count);
void DeletePaletteObject(QuarvBuffer* buffer);

// Takes dc, or the player window's device context when dc is null or
// windowDc is set, and selects and realises the palette (foreground).
// False when no device context could be had.
bool BeginDraw(QuarvBuffer* buffer, void* dc, bool windowDc, DrawSession* session);
// Type 4: StretchDIBits with palette indices, the header describing pixels.
void StretchDib(DrawSession* session, QuarvBuffer* buffer, const SharedBitmapHeader* header, int16_t dx,
                int16_t dy, int16_t dw, int16_t dh, int16_t sx, int16_t sy, int16_t sw, int16_t sh);
// Type 5 on GDI (or WinG): from the memory device context.
void BitBlt(DrawSession* session, QuarvBuffer* buffer, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t sx,
            int32_t sy, bool useWinG);
void StretchBlt(DrawSession* session, QuarvBuffer* buffer, int32_t dx, int32_t dy, int32_t dw, int32_t dh,
                int32_t sx, int32_t sy, int32_t sw, int32_t sh, bool useWinG);
void EndDraw(DrawSession* session, QuarvBuffer* buffer);

// Selects the palette into the player window's device context as a
// foreground palette, realises it, invalidates the window (without erasing)
// when invalidate is set; returns the realise count.
uint32_t RealizeInWindow(QuarvBuffer* buffer, bool invalidate);

void FreeLibraries();

}  // namespace backend
