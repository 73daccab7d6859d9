// The DirectDraw path of type 5 on Win32: DDRAW.DLL loaded at run time, the
// primary surface drawn into through the blitter, and the window facts each
// direct blit needs.
#include <windows.h>
#include <ddraw.h>

#include "display/cursor_probe.h"
#include "display/display_backend.h"

namespace {

typedef HRESULT(WINAPI* DirectDrawCreateFn)(GUID*, IDirectDraw**, IUnknown*);

HMODULE ddrawModule;  // 1 = tried and failed
DirectDrawCreateFn directDrawCreate;
const HMODULE kTriedAndFailed = reinterpret_cast<HMODULE>(1);

IDirectDraw* Object(const QuarvBuffer* b) { return static_cast<IDirectDraw*>(b->directDraw); }
IDirectDrawSurface* Surface(const QuarvBuffer* b) { return static_cast<IDirectDrawSurface*>(b->primarySurface); }
HWND Window(const QuarvBuffer* b) { return static_cast<HWND>(b->playerWindow); }

// Window output drawn through GDI must reach the screen before the surface
// is written, or it would land on top later; some systems hold it back
// until the message queue is looked at.
void FlushWindowOutput() {
    GdiFlush();
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
}

HRESULT LockPrimary(IDirectDrawSurface* surface, DDSURFACEDESC* desc) {
    ZeroMemory(desc, sizeof *desc);
    desc->dwSize = sizeof *desc;
    return surface->Lock(nullptr, desc, DDLOCK_WAIT, nullptr);
}

}  // namespace

namespace backend {

bool LoadDirectDraw() {
    if (ddrawModule == kTriedAndFailed) return false;
    if (ddrawModule) return true;
    const UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX | SEM_FAILCRITICALERRORS);
    HMODULE module = LoadLibraryA("DDRAW.DLL");
    SetErrorMode(oldMode);
    if (module) directDrawCreate = reinterpret_cast<DirectDrawCreateFn>(
                    reinterpret_cast<void*>(GetProcAddress(module, "DirectDrawCreate")));
    if (!module || !directDrawCreate) {
        if (module) FreeLibrary(module);
        directDrawCreate = nullptr;
        ddrawModule = kTriedAndFailed;
        return false;
    }
    ddrawModule = module;
    return true;
}

bool OpenDirectDraw(QuarvBuffer* b, SurfaceFormat* format) {
    if (!directDrawCreate) return false;
    IDirectDraw* dd = nullptr;
    if (FAILED(directDrawCreate(nullptr, &dd, nullptr)) || !dd) return false;
    b->directDraw = dd;
    DDCAPS caps;
    ZeroMemory(&caps, sizeof caps);
    caps.dwSize = sizeof caps;
    DDSURFACEDESC desc;
    ZeroMemory(&desc, sizeof desc);
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    IDirectDrawSurface* surface = nullptr;
    if (FAILED(dd->SetCooperativeLevel(Window(b), DDSCL_NORMAL)) || FAILED(dd->GetCaps(&caps, nullptr)) ||
        (caps.dwCaps & DDCAPS_BANKSWITCHED) || FAILED(dd->CreateSurface(&desc, &surface, nullptr)) || !surface) {
        CloseDirectDraw(b);
        return false;
    }
    b->primarySurface = surface;
    DDPIXELFORMAT pf;
    ZeroMemory(&pf, sizeof pf);
    pf.dwSize = sizeof pf;
    if (FAILED(surface->GetPixelFormat(&pf))) {
        CloseDirectDraw(b);
        return false;
    }
    format->bitsPerPixel = pf.dwRGBBitCount;
    format->redMask = pf.dwRBitMask;
    format->greenMask = pf.dwGBitMask;
    format->blueMask = pf.dwBBitMask;
    if (!(pf.dwFlags & DDPF_RGB)) format->bitsPerPixel = 0;  // not a plain RGB or palettised surface
    if (pf.dwFlags & DDPF_PALETTEINDEXED8) format->bitsPerPixel = 8;
    return true;
}

bool TrialLock(QuarvBuffer* b) {
    DDSURFACEDESC desc;
    const HRESULT hr = LockPrimary(Surface(b), &desc);
    if (SUCCEEDED(hr)) {
        Surface(b)->Unlock(desc.lpSurface);
        return desc.lpSurface != nullptr;
    }
    // A surface lost now is restored at the first blit; any other refusal
    // means the surface cannot be drawn into.
    return hr == DDERR_SURFACELOST;
}

uint32_t ProbePointer(QuarvBuffer* b) {
    HCURSOR cursor = reinterpret_cast<HCURSOR>(GetClassLongPtrA(Window(b), GCLP_HCURSOR));
    if (!cursor) cursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    return CursorProbe(Surface(b), cursor);
}

void CloseDirectDraw(QuarvBuffer* b) {
    if (Surface(b)) Surface(b)->Release();
    if (Object(b)) Object(b)->Release();
    b->primarySurface = nullptr;
    b->directDraw = nullptr;
}

bool ClientOrigin(QuarvBuffer* b, int32_t* x, int32_t* y) {
    POINT origin = {0, 0};
    ClientToScreen(Window(b), &origin);
    *x = origin.x;
    *y = origin.y;
    return IsWindowVisible(Window(b)) != 0;
}

bool PlayerHasForeground(QuarvBuffer* b) {
    HWND foreground = GetForegroundWindow();
    if (!foreground) return false;
    for (HWND w = Window(b); w; w = GetParent(w))
        if (w == foreground) return true;
    return false;
}

void ScreenArea(QuarvBuffer* b, int32_t rect[4]) {
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    RECT area = {0, 0, screenW, screenH};
    bool wholeScreen = false;
    for (HWND w = Window(b); w && !wholeScreen; w = GetParent(w)) {
        RECT r;
        if (GetWindowRect(w, &r) && r.right - r.left >= screenW && r.bottom - r.top >= screenH) wholeScreen = true;
    }
    if (!wholeScreen) SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    rect[0] = area.left;
    rect[1] = area.top;
    rect[2] = area.right;
    rect[3] = area.bottom;
}

void PaintBlack(DrawSession* s, int32_t x, int32_t y, int32_t w, int32_t h) {
    PatBlt(static_cast<HDC>(s->dc), x, y, w, h, BLACKNESS);
}

bool HidePointerOver(int32_t left, int32_t top, int32_t right, int32_t bottom) {
    POINT at;
    if (!GetCursorPos(&at)) return false;
    const int32_t w = GetSystemMetrics(SM_CXCURSOR), h = GetSystemMetrics(SM_CYCURSOR);
    if (at.x + w <= left || at.x >= right || at.y + h <= top || at.y >= bottom) return false;
    ShowCursor(FALSE);
    return true;
}

void ShowPointer() { ShowCursor(TRUE); }

bool LockSurface(QuarvBuffer* b, uint8_t** memory, int32_t* pitch) {
    IDirectDrawSurface* surface = Surface(b);
    if (!surface) return false;
    FlushWindowOutput();
    DDSURFACEDESC desc;
    HRESULT hr = LockPrimary(surface, &desc);
    if (hr == DDERR_SURFACELOST && SUCCEEDED(surface->Restore())) hr = LockPrimary(surface, &desc);
    if (FAILED(hr)) return false;
    if (!desc.lpSurface) {
        surface->Unlock(nullptr);
        return false;
    }
    *memory = static_cast<uint8_t*>(desc.lpSurface);
    *pitch = static_cast<int32_t>(desc.lPitch);
    return true;
}

void UnlockSurface(QuarvBuffer* b) {
    if (Surface(b)) Surface(b)->Unlock(nullptr);
}

}  // namespace backend

// Called from the GDI back-end's FreeLibraries.
void FreeDirectDrawLibrary() {
    if (reinterpret_cast<uintptr_t>(ddrawModule) >= 32) FreeLibrary(ddrawModule);
    ddrawModule = nullptr;
    directDrawCreate = nullptr;
}
