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

// A DirectDraw primary surface's pixel format.
struct SurfaceFormat {
    uint32_t bitsPerPixel;
    uint32_t redMask, greenMask, blueMask;
};

// The format bits of the blitter's flags for a surface: 0 for 8 bits,
// 0xC0000000 for 5-6-5, 0x80000000 for 5-5-5; kSurfaceUnusable otherwise.
constexpr uint32_t kSurfaceUnusable = 1;
uint32_t SurfaceFormatFlags(const SurfaceFormat& format);
// The blitter's flags for a direct-path buffer of the type argument's
// modifiers: 1 unstretched, else 4 smoothing, 8 interlacing or 2.
uint32_t DirectScaleFlags(bool stretched, uint32_t typeArg);
// Whether the direct path is wanted: a screen of 256 to 65,536 colours, an
// output of exactly the frame size or twice it, and no 0x80 bit.
bool DirectDrawWanted(uint32_t screenColours, uint32_t typeArg, uint32_t width, uint32_t height,
                      uint32_t outWidth, uint32_t outHeight);
// Clips a rectangle of the buffer (srcX, srcY, w, h), shown scale times
// as large with the buffer's origin at screen point (originX, originY), to
// screen[4] (left, top, right, bottom). False when nothing is left. A
// doubled rectangle loses whole source pixels, never drawing outside.
bool ClipDirectRect(int32_t originX, int32_t originY, int32_t scale, const int32_t screen[4], int32_t* srcX,
                    int32_t* srcY, int32_t* w, int32_t* h);

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
// The full-screen driver: DISPDIB.DLL loaded as a module (once) and its
// "DisplayDibWindow" class then present.
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

// The DirectDraw path of type 5. LoadDirectDraw loads DDRAW.DLL and finds
// DirectDrawCreate (once; a failure is remembered).
bool LoadDirectDraw();
// The DirectDraw object (normal cooperative level for the player window,
// refused on bank-switched display memory) and the primary surface, with
// its pixel format. False leaves nothing behind.
bool OpenDirectDraw(QuarvBuffer* buffer, SurfaceFormat* format);
// Locks the primary surface once and unlocks it: false when it cannot be
// drawn into.
bool TrialLock(QuarvBuffer* buffer);
// CursorProbe on the primary surface with the player window's class cursor.
uint32_t ProbePointer(QuarvBuffer* buffer);
void CloseDirectDraw(QuarvBuffer* buffer);
// The client area's origin on the screen; false when the window is hidden.
bool ClientOrigin(QuarvBuffer* buffer, int32_t* x, int32_t* y);
// Whether the foreground window is the player window or one of its ancestors.
bool PlayerHasForeground(QuarvBuffer* buffer);
// The desktop work area, or the whole screen when the player window or an
// ancestor covers the whole screen: left, top, right, bottom.
void ScreenArea(QuarvBuffer* buffer, int32_t rect[4]);
void PaintBlack(DrawSession* session, int32_t x, int32_t y, int32_t w, int32_t h);
// Hides the pointer when its box overlaps the screen rectangle; true then.
bool HidePointerOver(int32_t left, int32_t top, int32_t right, int32_t bottom);
void ShowPointer();
// Locks the whole primary surface, restoring a lost one once; false when
// this call has to draw through GDI.
bool LockSurface(QuarvBuffer* buffer, uint8_t** memory, int32_t* pitch);
void UnlockSurface(QuarvBuffer* buffer);

// The full-screen types. OpenFullScreenWindow makes the 32 x 32 pop-up of
// the driver's class owned by the player window and takes over its window
// procedure; false when it cannot be made.
bool OpenFullScreenWindow(QuarvBuffer* buffer);
// Shows the player window minimised and the driver's window topmost over
// the whole screen.
void ShowFullScreen(QuarvBuffer* buffer);
// One request to the driver: WM_COPYDATA with (code, bytes, data).
void SendToDriver(QuarvBuffer* buffer, uint32_t code, uint32_t bytes, const void* data);
// Hides the driver's window, tells the driver to close (0x0402), gives the
// window its procedure back and destroys it.
void CloseFullScreenWindow(QuarvBuffer* buffer);

}  // namespace backend

// Request codes of the full-screen driver.
constexpr uint32_t kDriverSetFormat320x240 = 0x8AD50400u;
constexpr uint32_t kDriverSetFormat320x200 = 0x8AD10400u;
constexpr uint32_t kDriverNewColours320x240 = 0x8AC50400u;
constexpr uint32_t kDriverNewColours320x200 = 0x8AC10400u;
constexpr uint32_t kDriverDraw = 0x0A500401u;
constexpr uint32_t kDriverClose = 0x0402u;     // a plain message, not a request
constexpr uint32_t kFullScreenActivation = 0x5A78u;  // sent on to the player window

// Win32: counts the driver as present, for test programs that register a
// "DisplayDibWindow" class of their own in its place.
void AssumeFullScreenDriverForTests();

// Called by the driver window's procedure on activation (true) and
// deactivation: redraws, or saves the display memory of type 3.
void FullScreenActivated(QuarvBuffer* buffer, bool active);
