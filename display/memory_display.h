// The memory-only display back-end of the native build: a simulated screen
// and player window that the graphics buffer draws into as the GDI would, so
// tests can look at every pixel of the client area.
#pragma once
#include <cstdint>
#include <vector>

#include "display/display_backend.h"

struct MemoryScreenConfig {
    uint32_t bitsPerPixel = 24;
    uint32_t planes = 1;
    uint32_t reservedEntries = 20;  // static colours of a palettised screen
    bool noStatic = false;          // system palette without static colours
    uint32_t windowsMajor = 4;
    bool dibSections = true;        // the GDI offers CreateDIBSection and SetDIBColorTable
    bool wing = false;              // WinG can be loaded
    int32_t wingHeight = -1;        // WinG's recommended DIB height (sign = orientation)
    bool failBitmap = false;        // creating the DIB section or WinG bitmap fails
    bool failDc = false;            // no device context can be had
    bool fullScreenDriver = false; // the full-screen driver and its window class exist
    bool failDriverWindow = false; // its window cannot be made
    int32_t clientWidth = 800;
    int32_t clientHeight = 600;
};

// Pixel value of a client point nothing was drawn on.
constexpr uint32_t kUntouched = 0xFF000000u;

// Starts over: new screen, cleared client area, and the graphics buffer's
// process-wide state forgotten.
void MemoryScreenReset(const MemoryScreenConfig& config);
void MemoryScreenSetSystemPalette(const uint8_t rgb[768]);
// The colour drawn at client point (x, y) as 0xRRGGBB, or kUntouched.
uint32_t MemoryScreenPixel(int32_t x, int32_t y);
void MemoryScreenFill(uint32_t value);

struct MemoryScreenStats {
    int paletteObjects;    // palette objects alive
    int bitmaps;           // DIB sections / WinG bitmaps alive
    int dcsHeld;           // window device contexts fetched and not released
    int systemPaletteClears;
    int realizes;
    int invalidates;
    int stretchDibCalls;
    int bitBltCalls;
    int stretchBltCalls;
    int dibColourSets;
    bool lastDrawUsedWindowDc;
    bool lastDrawUsedWinG;
};
MemoryScreenStats MemoryScreenStatsNow();

// The entries of a palette object made by the buffer.
const LogicalPaletteEntry* MemoryPaletteEntries(const void* paletteHandle, uint32_t* count);
// The colour table of a buffer's DIB section as 0xRRGGBB values.
const uint32_t* MemoryDibColours(const QuarvBuffer* buffer);

// What the simulated full-screen driver received, in order.
struct DriverRequest {
    uint32_t code;        // WM_COPYDATA code, or kDriverClose for the close message
    std::vector<uint8_t> data;
};
const std::vector<DriverRequest>& MemoryDriverRequests();
// Whether the driver's window is up and shown topmost over the screen.
bool MemoryDriverWindowShown();
