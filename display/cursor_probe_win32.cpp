// The pointer probe: a byte written under the pointer survives taking the
// pointer away only when the pointer is a hardware overlay.
#include "display/cursor_probe.h"

#include <windows.h>
#include <ddraw.h>

namespace {

struct ProbeCache {
    bool known;
    void* cursor;
    void* memory;
    uint32_t bitsPerPixel;
    uint32_t answer;
};
ProbeCache cache;

const char kClassName[] = "MouseTypeWind";

// Leaves the screen pixels under the window untouched: nothing is painted
// and the background counts as erased.
LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            ValidateRect(window, nullptr);
            return 0;
        case WM_ERASEBKGND:
            return 1;
        case WM_DESTROY:
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Locks the whole surface, restoring a lost one once.
bool LockWhole(IDirectDrawSurface* surface, DDSURFACEDESC* desc) {
    ZeroMemory(desc, sizeof *desc);
    desc->dwSize = sizeof *desc;
    HRESULT hr = surface->Lock(nullptr, desc, DDLOCK_WAIT, nullptr);
    if (hr == DDERR_SURFACELOST) {
        if (FAILED(surface->Restore())) return false;
        ZeroMemory(desc, sizeof *desc);
        desc->dwSize = sizeof *desc;
        hr = surface->Lock(nullptr, desc, DDLOCK_WAIT, nullptr);
    }
    return SUCCEEDED(hr) && desc->lpSurface;
}

// Hides the pointer until the show count is negative; the calls made.
int HideAll() {
    int calls = 0;
    while (ShowCursor(FALSE) >= 0) calls++;
    return calls + 1;
}

// Shows the pointer until the show count is not negative; the calls made.
int ShowAll() {
    int calls = 0;
    while (ShowCursor(TRUE) < 0) calls++;
    return calls + 1;
}

}  // namespace

void CursorProbeForget() { cache = ProbeCache{}; }

uint32_t CursorProbe(void* surfaceArg, void* cursorArg) {
    if (!GetSystemMetrics(SM_MOUSEPRESENT)) return 0;
    auto* surface = static_cast<IDirectDrawSurface*>(surfaceArg);
    HCURSOR cursor = static_cast<HCURSOR>(cursorArg);
    DDSURFACEDESC desc;
    if (!surface || !LockWhole(surface, &desc)) return 0;
    surface->Unlock(desc.lpSurface);
    void* memory = desc.lpSurface;
    const uint32_t bits = desc.ddpfPixelFormat.dwRGBBitCount;
    if (cache.known && cache.cursor == cursorArg && cache.memory == memory && cache.bitsPerPixel == bits)
        return cache.answer;

    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.lpfnWndProc = ProbeWindowProc;
    wc.hInstance = instance;
    wc.hCursor = cursor;
    wc.lpszClassName = kClassName;
    RegisterClassA(&wc);
    POINT at;
    GetCursorPos(&at);
    const POINT screenAt = at;
    HWND window = CreateWindowExA(WS_EX_TOPMOST, kClassName, "", WS_POPUP | WS_VISIBLE, at.x - 16, at.y - 16, 32, 32,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) {
        UnregisterClassA(kClassName, instance);
        return 0;
    }
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    ScreenToClient(window, &at);
    HDC dc = GetDC(window);

    int net = -HideAll();
    const COLORREF p0 = GetPixel(dc, at.x, at.y);
    HCURSOR previous = SetCursor(cursor);
    net += ShowAll();
    SetCursor(cursor);

    uint32_t answer = 0;
    if (LockWhole(surface, &desc)) {
        const bool inside = screenAt.x >= 0 && screenAt.y >= 0 && static_cast<DWORD>(screenAt.x) < desc.dwWidth &&
                            static_cast<DWORD>(screenAt.y) < desc.dwHeight;
        if (inside) {
            const uint32_t depth = desc.ddpfPixelFormat.dwRGBBitCount;
            auto* byte = static_cast<uint8_t*>(desc.lpSurface) + static_cast<intptr_t>(screenAt.y) * desc.lPitch +
                         (static_cast<intptr_t>(screenAt.x) * depth) / 8;
            *byte = p0 == 0 ? 0xFF : 0x00;
        }
        surface->Unlock(desc.lpSurface);
        if (inside) {
            net -= HideAll();
            const COLORREF p1 = GetPixel(dc, at.x, at.y);
            if (p1 == p0)
                answer = 1;
            else
                SetPixel(dc, at.x, at.y, p0);
        }
    }

    ReleaseDC(window, dc);
    DestroyWindow(window);
    UnregisterClassA(kClassName, instance);
    // Back to the show count the caller had.
    for (; net < 0; net++) ShowCursor(TRUE);
    for (; net > 0; net--) ShowCursor(FALSE);
    SetCursor(previous);
    cache = ProbeCache{true, cursorArg, memory, bits, answer};
    return answer;
}
