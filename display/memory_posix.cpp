// Memory-only display back-end: the native build's stand-in for the GDI.
// It keeps a simulated client area of 0xRRGGBB pixels and draws into it
// with the GDI's rules: nearest-pixel stretching, DIB source rows counted
// from the bottom in StretchDIBits, palette indices through the selected
// palette, DIB-section colours through the DIB's colour table.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "display/memory_display.h"

namespace {

struct PaletteObject {
    uint32_t count;
    LogicalPaletteEntry entries[256];
};

struct DibObject {
    uint32_t colours[256];  // 0xRRGGBB
    uint8_t* bits;
};

struct Screen {
    MemoryScreenConfig config;
    std::vector<uint32_t> client;
    uint8_t systemPalette[768];
    MemoryScreenStats stats;
    int windowDcToken;  // its address stands for the window's device context
    std::vector<DriverRequest> driverRequests;
    int driverWindowToken;  // its address stands for the driver's window
    bool driverShown;
};

Screen& screen() {
    static Screen s = [] {
        Screen n{};
        n.client.assign(size_t(n.config.clientWidth) * n.config.clientHeight, kUntouched);
        return n;
    }();
    return s;
}

void Put(int32_t x, int32_t y, uint32_t colour) {
    Screen& s = screen();
    if (x < 0 || y < 0 || x >= s.config.clientWidth || y >= s.config.clientHeight) return;
    s.client[size_t(y) * s.config.clientWidth + x] = colour;
}

uint32_t Rgb(const LogicalPaletteEntry& e) { return uint32_t(e.red) << 16 | uint32_t(e.green) << 8 | e.blue; }

// Colour of palette index i in the palette selected into the device context.
uint32_t PaletteColour(const QuarvBuffer* b, uint32_t i) {
    const auto* p = static_cast<const PaletteObject*>(b->paletteHandle);
    if (!p || i >= p->count) return 0;
    return Rgb(p->entries[i]);
}

// The memory row of picture row `row` (0 = top) of the buffer's DIB.
const uint8_t* SourceRow(const QuarvBuffer* b, int32_t row) {
    const int32_t memRow = b->bottomUp ? int32_t(b->height) - 1 - row : row;
    return b->pixels + size_t(memRow) * b->pitch;
}

bool InsideBuffer(const QuarvBuffer* b, int32_t col, int32_t row) {
    return col >= 0 && row >= 0 && col < int32_t(b->pitch) && row < int32_t(b->height);
}

// A blit from the memory device context: rows count from the top there.
void CopyFromDib(const QuarvBuffer* b, int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t sx, int32_t sy,
                 int32_t sw, int32_t sh) {
    const auto* dib = static_cast<const DibObject*>(b->dibBitmap);
    if (!dib || dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    for (int32_t j = 0; j < dh; j++) {
        const int32_t row = sy + j * sh / dh;
        for (int32_t i = 0; i < dw; i++) {
            const int32_t col = sx + i * sw / dw;
            if (!InsideBuffer(b, col, row)) continue;
            Put(dx + i, dy + j, dib->colours[SourceRow(b, row)[col]]);
        }
    }
}

}  // namespace

void MemoryScreenReset(const MemoryScreenConfig& config) {
    Screen& s = screen();
    s.config = config;
    s.driverRequests.clear();
    s.driverShown = false;
    s.client.assign(size_t(config.clientWidth) * config.clientHeight, kUntouched);
    memset(s.systemPalette, 0, sizeof s.systemPalette);
    s.stats = MemoryScreenStats{};
    ResetDisplayForTests();
}

void MemoryScreenSetSystemPalette(const uint8_t rgb[768]) { memcpy(screen().systemPalette, rgb, 768); }

uint32_t MemoryScreenPixel(int32_t x, int32_t y) {
    Screen& s = screen();
    if (x < 0 || y < 0 || x >= s.config.clientWidth || y >= s.config.clientHeight) return kUntouched;
    return s.client[size_t(y) * s.config.clientWidth + x];
}

void MemoryScreenFill(uint32_t value) {
    for (uint32_t& p : screen().client) p = value;
}

MemoryScreenStats MemoryScreenStatsNow() { return screen().stats; }

const LogicalPaletteEntry* MemoryPaletteEntries(const void* paletteHandle, uint32_t* count) {
    const auto* p = static_cast<const PaletteObject*>(paletteHandle);
    *count = p ? p->count : 0;
    return p ? p->entries : nullptr;
}

const uint32_t* MemoryDibColours(const QuarvBuffer* buffer) {
    const auto* d = static_cast<const DibObject*>(buffer->dibBitmap);
    return d ? d->colours : nullptr;
}

namespace backend {

void ReadScreen(ScreenFacts* facts) {
    const MemoryScreenConfig& c = screen().config;
    facts->bitsPerPixel = c.bitsPerPixel;
    facts->planes = c.planes;
    facts->reservedEntries = c.reservedEntries;
    facts->windowsMajor = c.windowsMajor;
}

bool NoStaticColours() { return screen().config.noStatic; }

void ClearSystemPalette() { screen().stats.systemPaletteClears++; }

void ReadSystemPalette(uint8_t rgb[768]) { memcpy(rgb, screen().systemPalette, 768); }

bool FindDibSectionFunctions() { return screen().config.dibSections; }

bool LoadWinG() { return screen().config.wing; }

int32_t WinGRecommendedHeight() { return screen().config.wingHeight; }

bool FullScreenDriverAvailable() { return screen().config.fullScreenDriver; }

bool CreateDibBitmap(QuarvBuffer* buffer, const SharedBitmapHeader* header, bool useWinG) {
    Screen& s = screen();
    if (s.config.failBitmap) return false;
    const size_t rows = size_t(header->height < 0 ? -int64_t(header->height) : header->height);
    auto* dib = new DibObject{};
    dib->bits = static_cast<uint8_t*>(malloc(size_t(header->width) * rows));
    if (!dib->bits) {
        delete dib;
        return false;
    }
    buffer->dibBitmap = dib;
    buffer->memoryDC = dib;
    buffer->previousBitmap = &s.windowDcToken;
    buffer->pixels = dib->bits;
    s.stats.bitmaps++;
    return true;
}

void DestroyDibBitmap(QuarvBuffer* buffer) {
    auto* dib = static_cast<DibObject*>(buffer->dibBitmap);
    if (!dib) return;
    free(dib->bits);
    delete dib;
    buffer->dibBitmap = buffer->memoryDC = buffer->previousBitmap = nullptr;
    buffer->pixels = nullptr;
    screen().stats.bitmaps--;
}

void SetDibColours(QuarvBuffer* buffer, bool useWinG) {
    auto* dib = static_cast<DibObject*>(buffer->dibBitmap);
    if (!dib) return;
    for (uint32_t i = 0; i < buffer->paletteSize && i < 256; i++) {
        const uint8_t* e = buffer->palette + i * 4;
        dib->colours[i] = uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
    }
    screen().stats.dibColourSets++;
    screen().stats.lastDrawUsedWinG = useWinG;
}

bool CreatePaletteObject(QuarvBuffer* buffer, const LogicalPaletteEntry* entries, uint32_t count) {
    DeletePaletteObject(buffer);
    auto* p = new PaletteObject{};
    p->count = count > 256 ? 256 : count;
    memcpy(p->entries, entries, p->count * sizeof *entries);
    buffer->paletteHandle = p;
    screen().stats.paletteObjects++;
    return true;
}

void DeletePaletteObject(QuarvBuffer* buffer) {
    if (!buffer->paletteHandle) return;
    delete static_cast<PaletteObject*>(buffer->paletteHandle);
    buffer->paletteHandle = nullptr;
    screen().stats.paletteObjects--;
}

bool BeginDraw(QuarvBuffer* buffer, void* dc, bool windowDc, DrawSession* session) {
    Screen& s = screen();
    if (s.config.failDc) return false;
    session->fetched = dc == nullptr || windowDc;
    session->dc = session->fetched ? &s.windowDcToken : dc;
    session->oldPalette = nullptr;
    if (session->fetched) s.stats.dcsHeld++;
    s.stats.lastDrawUsedWindowDc = session->fetched;
    s.stats.realizes++;
    return true;
}

void StretchDib(DrawSession*, QuarvBuffer* b, const SharedBitmapHeader* h, int16_t dx, int16_t dy, int16_t dw,
                int16_t dh, int16_t sx, int16_t sy, int16_t sw, int16_t sh) {
    Screen& s = screen();
    s.stats.stretchDibCalls++;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0) return;
    const int32_t rows = h->height < 0 ? -h->height : h->height;
    const auto* slots = reinterpret_cast<const uint16_t*>(h->colours);
    // The source rectangle's rows count from the bottom of the DIB.
    const int32_t top = rows - sy - sh;
    for (int32_t j = 0; j < dh; j++) {
        const int32_t row = top + j * sh / dh;
        for (int32_t i = 0; i < dw; i++) {
            const int32_t col = sx + i * sw / dw;
            if (!InsideBuffer(b, col, row) || col >= h->width || row >= rows) continue;
            Put(dx + i, dy + j, PaletteColour(b, slots[SourceRow(b, row)[col]]));
        }
    }
}

void BitBlt(DrawSession*, QuarvBuffer* b, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t sx, int32_t sy,
            bool useWinG) {
    screen().stats.bitBltCalls++;
    screen().stats.lastDrawUsedWinG = useWinG;
    CopyFromDib(b, dx, dy, w, h, sx, sy, w, h);
}

void StretchBlt(DrawSession*, QuarvBuffer* b, int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh, bool useWinG) {
    screen().stats.stretchBltCalls++;
    screen().stats.lastDrawUsedWinG = useWinG;
    CopyFromDib(b, dx, dy, dw, dh, sx, sy, sw, sh);
}

void EndDraw(DrawSession* session, QuarvBuffer*) {
    if (session->fetched) screen().stats.dcsHeld--;
}

uint32_t RealizeInWindow(QuarvBuffer* buffer, bool invalidate) {
    Screen& s = screen();
    s.stats.realizes++;
    if (invalidate) s.stats.invalidates++;
    const auto* p = static_cast<const PaletteObject*>(buffer->paletteHandle);
    return p ? p->count : 0;
}

void FreeLibraries() {}

}  // namespace backend

// No DirectDraw in the memory back-end: type 5 always draws through GDI.
namespace backend {

bool LoadDirectDraw() { return false; }
bool OpenDirectDraw(QuarvBuffer*, SurfaceFormat*) { return false; }
bool TrialLock(QuarvBuffer*) { return false; }
uint32_t ProbePointer(QuarvBuffer*) { return 0; }
void CloseDirectDraw(QuarvBuffer*) {}
bool ClientOrigin(QuarvBuffer*, int32_t* x, int32_t* y) {
    *x = *y = 0;
    return true;
}
bool PlayerHasForeground(QuarvBuffer*) { return false; }
void ScreenArea(QuarvBuffer*, int32_t rect[4]) { rect[0] = rect[1] = rect[2] = rect[3] = 0; }
void PaintBlack(DrawSession*, int32_t, int32_t, int32_t, int32_t) {}
bool HidePointerOver(int32_t, int32_t, int32_t, int32_t) { return false; }
void ShowPointer() {}
bool LockSurface(QuarvBuffer*, uint8_t**, int32_t*) { return false; }
void UnlockSurface(QuarvBuffer*) {}

}  // namespace backend

const std::vector<DriverRequest>& MemoryDriverRequests() { return screen().driverRequests; }
bool MemoryDriverWindowShown() { return screen().driverShown; }

namespace backend {

bool OpenFullScreenWindow(QuarvBuffer* b) {
    if (screen().config.failDriverWindow) return false;
    b->dispDibWindow = &screen().driverWindowToken;
    return true;
}

void ShowFullScreen(QuarvBuffer* b) { screen().driverShown = b->dispDibWindow != nullptr; }

void SendToDriver(QuarvBuffer* b, uint32_t code, uint32_t bytes, const void* data) {
    if (!b->dispDibWindow) return;
    const auto* p = static_cast<const uint8_t*>(data);
    screen().driverRequests.push_back(DriverRequest{code, std::vector<uint8_t>(p, p + bytes)});
}

void CloseFullScreenWindow(QuarvBuffer* b) {
    if (!b->dispDibWindow) return;
    screen().driverShown = false;
    screen().driverRequests.push_back(DriverRequest{kDriverClose, {}});
    b->dispDibWindow = nullptr;
}

}  // namespace backend
