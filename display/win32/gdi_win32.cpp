// The graphics buffer's platform calls on Win32: GDI device contexts and
// palettes, DIB sections (looked up in GDI32 at run time) or WinG bitmaps
// (WING32.DLL loaded at run time), StretchDIBits, BitBlt and StretchBlt.
#include <windows.h>

#include <cstring>

#include "display/display_backend.h"

void FreeDirectDrawLibrary();

namespace {

typedef HBITMAP(WINAPI* CreateDIBSectionFn)(HDC, const BITMAPINFO*, UINT, void**, HANDLE, DWORD);
typedef UINT(WINAPI* SetDIBColorTableFn)(HDC, UINT, UINT, const RGBQUAD*);
typedef HDC(WINAPI* WinGCreateDCFn)();
typedef HBITMAP(WINAPI* WinGCreateBitmapFn)(HDC, const BITMAPINFO*, void**);
typedef BOOL(WINAPI* WinGBitBltFn)(HDC, int, int, int, int, HDC, int, int);
typedef BOOL(WINAPI* WinGStretchBltFn)(HDC, int, int, int, int, HDC, int, int, int, int);
typedef BOOL(WINAPI* WinGRecommendDIBFormatFn)(BITMAPINFO*);
typedef UINT(WINAPI* WinGSetDIBColorTableFn)(HDC, UINT, UINT, const RGBQUAD*);

// Looked up once per process; 0 not yet tried.
int gdiLookedUp;
CreateDIBSectionFn createDibSection;
SetDIBColorTableFn setDibColorTable;

// WinG: the module (1 = tried and failed) and its six functions.
HMODULE wingModule;
WinGCreateDCFn wingCreateDc;
WinGCreateBitmapFn wingCreateBitmap;
WinGBitBltFn wingBitBlt;
WinGStretchBltFn wingStretchBlt;
WinGRecommendDIBFormatFn wingRecommendDibFormat;
WinGSetDIBColorTableFn wingSetDibColorTable;

const HMODULE kTriedAndFailed = reinterpret_cast<HMODULE>(1);

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool IsWin32s() {
    const DWORD v = GetVersion();
    return (v & 0x80000000u) && LOBYTE(LOWORD(v)) < 4;
}

void ForgetWinG() {
    wingModule = nullptr;
    wingCreateDc = nullptr;
    wingCreateBitmap = nullptr;
    wingBitBlt = nullptr;
    wingStretchBlt = nullptr;
    wingRecommendDibFormat = nullptr;
    wingSetDibColorTable = nullptr;
}

HPALETTE Palette(const QuarvBuffer* b) { return static_cast<HPALETTE>(b->paletteHandle); }

}  // namespace

namespace backend {

void ReadScreen(ScreenFacts* facts) {
    HDC dc = GetDC(nullptr);
    facts->bitsPerPixel = static_cast<uint32_t>(GetDeviceCaps(dc, BITSPIXEL));
    facts->planes = static_cast<uint32_t>(GetDeviceCaps(dc, PLANES));
    facts->reservedEntries = static_cast<uint32_t>(GetDeviceCaps(dc, NUMRESERVED));
    ReleaseDC(nullptr, dc);
    facts->windowsMajor = LOBYTE(LOWORD(GetVersion()));
}

bool NoStaticColours() {
    HDC dc = GetDC(nullptr);
    const UINT use = GetSystemPaletteUse(dc);
    ReleaseDC(nullptr, dc);
    return use == SYSPAL_NOSTATIC;
}

void ClearSystemPalette() {
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } black;
    black.version = 0x300;
    black.count = 256;
    for (PALETTEENTRY& e : black.entries) e = PALETTEENTRY{0, 0, 0, PC_NOCOLLAPSE};
    HPALETTE palette = CreatePalette(reinterpret_cast<LOGPALETTE*>(&black));
    if (!palette) return;
    HDC dc = GetDC(nullptr);
    HPALETTE old = SelectPalette(dc, palette, TRUE);
    RealizePalette(dc);
    SelectPalette(dc, old, TRUE);
    ReleaseDC(nullptr, dc);
    DeleteObject(palette);
}

void ReadSystemPalette(uint8_t rgb[768]) {
    PALETTEENTRY entries[256];
    memset(entries, 0, sizeof entries);
    HDC dc = GetDC(nullptr);
    GetSystemPaletteEntries(dc, 0, 256, entries);
    ReleaseDC(nullptr, dc);
    for (int i = 0; i < 256; i++) {
        rgb[i * 3] = entries[i].peRed;
        rgb[i * 3 + 1] = entries[i].peGreen;
        rgb[i * 3 + 2] = entries[i].peBlue;
    }
}

bool FindDibSectionFunctions() {
    if (!gdiLookedUp) {
        gdiLookedUp = 1;
        HMODULE gdi = GetModuleHandleA("gdi32.dll");
        if (gdi && !IsWin32s()) {
            createDibSection = Lookup<CreateDIBSectionFn>(gdi, "CreateDIBSection");
            setDibColorTable = Lookup<SetDIBColorTableFn>(gdi, "SetDIBColorTable");
        }
        if (!createDibSection || !setDibColorTable) createDibSection = nullptr, setDibColorTable = nullptr;
    }
    return createDibSection != nullptr;
}

bool LoadWinG() {
    if (wingModule == kTriedAndFailed) return false;
    if (wingModule) return true;
    const UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX | SEM_FAILCRITICALERRORS);
    HMODULE module = LoadLibraryA("WING32.DLL");
    SetErrorMode(oldMode);
    if (reinterpret_cast<uintptr_t>(module) < 32) {
        wingModule = kTriedAndFailed;
        return false;
    }
    wingModule = module;
    wingCreateDc = Lookup<WinGCreateDCFn>(module, "WinGCreateDC");
    wingCreateBitmap = Lookup<WinGCreateBitmapFn>(module, "WinGCreateBitmap");
    wingBitBlt = Lookup<WinGBitBltFn>(module, "WinGBitBlt");
    wingStretchBlt = Lookup<WinGStretchBltFn>(module, "WinGStretchBlt");
    wingRecommendDibFormat = Lookup<WinGRecommendDIBFormatFn>(module, "WinGRecommendDIBFormat");
    wingSetDibColorTable = Lookup<WinGSetDIBColorTableFn>(module, "WinGSetDIBColorTable");
    // A library without every one of them would be called through null.
    if (!wingCreateDc || !wingCreateBitmap || !wingBitBlt || !wingStretchBlt || !wingRecommendDibFormat ||
        !wingSetDibColorTable) {
        FreeLibrary(module);
        ForgetWinG();
        wingModule = kTriedAndFailed;
        return false;
    }
    return true;
}

int32_t WinGRecommendedHeight() {
    SharedBitmapHeader info;
    memset(&info, 0, sizeof info);
    info.size = 40;
    if (!wingRecommendDibFormat || !wingRecommendDibFormat(reinterpret_cast<BITMAPINFO*>(&info))) return 1;
    return info.height;
}

bool CreateDibBitmap(QuarvBuffer* b, const SharedBitmapHeader* header, bool useWinG) {
    HDC memoryDc;
    if (useWinG) {
        memoryDc = wingCreateDc ? wingCreateDc() : nullptr;
    } else {
        HDC screen = GetDC(nullptr);
        memoryDc = CreateCompatibleDC(screen);
        ReleaseDC(nullptr, screen);
    }
    if (!memoryDc) return false;
    void* bits = nullptr;
    const auto* info = reinterpret_cast<const BITMAPINFO*>(header);
    HBITMAP bitmap = nullptr;
    if (useWinG)
        bitmap = wingCreateBitmap(memoryDc, info, &bits);
    else if (createDibSection)
        bitmap = createDibSection(memoryDc, info, DIB_PAL_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        if (bitmap) DeleteObject(bitmap);
        DeleteDC(memoryDc);
        return false;
    }
    b->memoryDC = memoryDc;
    b->dibBitmap = bitmap;
    b->previousBitmap = SelectObject(memoryDc, bitmap);
    b->pixels = static_cast<uint8_t*>(bits);
    return true;
}

void DestroyDibBitmap(QuarvBuffer* b) {
    if (!b->dibBitmap) return;
    SelectObject(static_cast<HDC>(b->memoryDC), static_cast<HGDIOBJ>(b->previousBitmap));
    DeleteObject(static_cast<HGDIOBJ>(b->dibBitmap));
    DeleteDC(static_cast<HDC>(b->memoryDC));
    b->dibBitmap = b->previousBitmap = b->memoryDC = nullptr;
    b->pixels = nullptr;
}

void SetDibColours(QuarvBuffer* b, bool useWinG) {
    if (!b->memoryDC) return;
    // The palette is kept as blue, green, red, 0: the colour table's own layout.
    const auto* colours = reinterpret_cast<const RGBQUAD*>(b->palette);
    const UINT count = b->paletteSize < 256 ? b->paletteSize : 256;
    if (useWinG) {
        if (wingSetDibColorTable) wingSetDibColorTable(static_cast<HDC>(b->memoryDC), 0, count, colours);
    } else if (setDibColorTable) {
        setDibColorTable(static_cast<HDC>(b->memoryDC), 0, count, colours);
    }
}

bool CreatePaletteObject(QuarvBuffer* b, const LogicalPaletteEntry* entries, uint32_t count) {
    DeletePaletteObject(b);
    struct {
        WORD version;
        WORD count;
        PALETTEENTRY entries[256];
    } logical;
    logical.version = 0x300;
    logical.count = static_cast<WORD>(count > 256 ? 256 : count);
    static_assert(sizeof(LogicalPaletteEntry) == sizeof(PALETTEENTRY), "entry layout");
    memcpy(logical.entries, entries, logical.count * sizeof(PALETTEENTRY));
    b->paletteHandle = CreatePalette(reinterpret_cast<LOGPALETTE*>(&logical));
    return b->paletteHandle != nullptr;
}

void DeletePaletteObject(QuarvBuffer* b) {
    if (!b->paletteHandle) return;
    DeleteObject(static_cast<HGDIOBJ>(b->paletteHandle));
    b->paletteHandle = nullptr;
}

bool BeginDraw(QuarvBuffer* b, void* dc, bool windowDc, DrawSession* s) {
    s->fetched = dc == nullptr || windowDc;
    s->dc = s->fetched ? GetDC(static_cast<HWND>(b->playerWindow)) : dc;
    s->oldPalette = nullptr;
    if (!s->dc) return false;
    HDC hdc = static_cast<HDC>(s->dc);
    if (Palette(b)) {
        s->oldPalette = SelectPalette(hdc, Palette(b), FALSE);
        RealizePalette(hdc);
    }
    // Stretching copies colours; the default mode would AND pixels together.
    SetStretchBltMode(hdc, COLORONCOLOR);
    return true;
}

void StretchDib(DrawSession* s, QuarvBuffer* b, const SharedBitmapHeader* header, int16_t dx, int16_t dy,
                int16_t dw, int16_t dh, int16_t sx, int16_t sy, int16_t sw, int16_t sh) {
    StretchDIBits(static_cast<HDC>(s->dc), dx, dy, dw, dh, sx, sy, sw, sh, b->pixels,
                  reinterpret_cast<const BITMAPINFO*>(header), DIB_PAL_COLORS, SRCCOPY);
}

void BitBlt(DrawSession* s, QuarvBuffer* b, int32_t dx, int32_t dy, int32_t w, int32_t h, int32_t sx, int32_t sy,
            bool useWinG) {
    if (useWinG)
        wingBitBlt(static_cast<HDC>(s->dc), dx, dy, w, h, static_cast<HDC>(b->memoryDC), sx, sy);
    else
        ::BitBlt(static_cast<HDC>(s->dc), dx, dy, w, h, static_cast<HDC>(b->memoryDC), sx, sy, SRCCOPY);
}

void StretchBlt(DrawSession* s, QuarvBuffer* b, int32_t dx, int32_t dy, int32_t dw, int32_t dh, int32_t sx,
                int32_t sy, int32_t sw, int32_t sh, bool useWinG) {
    if (useWinG)
        wingStretchBlt(static_cast<HDC>(s->dc), dx, dy, dw, dh, static_cast<HDC>(b->memoryDC), sx, sy, sw, sh);
    else
        ::StretchBlt(static_cast<HDC>(s->dc), dx, dy, dw, dh, static_cast<HDC>(b->memoryDC), sx, sy, sw, sh,
                     SRCCOPY);
}

void EndDraw(DrawSession* s, QuarvBuffer* b) {
    HDC hdc = static_cast<HDC>(s->dc);
    if (s->oldPalette) SelectPalette(hdc, static_cast<HPALETTE>(s->oldPalette), TRUE);
    if (s->fetched) ReleaseDC(static_cast<HWND>(b->playerWindow), hdc);
}

uint32_t RealizeInWindow(QuarvBuffer* b, bool invalidate) {
    HWND window = static_cast<HWND>(b->playerWindow);
    HDC dc = GetDC(window);
    if (!dc) return 0;
    HPALETTE old = SelectPalette(dc, Palette(b), FALSE);
    const UINT realised = RealizePalette(dc);
    if (invalidate) InvalidateRect(window, nullptr, FALSE);
    SelectPalette(dc, old, TRUE);
    ReleaseDC(window, dc);
    return realised == GDI_ERROR ? 0 : realised;
}

void FreeLibraries() {
    FreeDirectDrawLibrary();
    if (reinterpret_cast<uintptr_t>(wingModule) >= 32) {
        FreeLibrary(wingModule);
        ForgetWinG();
    }
}

}  // namespace backend
