// The player window: one pop-up for the whole run, its display, and the
// window procedure that turns keys and window messages into key codes for
// the playback loop.
#include <windows.h>

#include "display/display.h"
#include "player/message_text.h"
#include "player/settings.h"
#include "player/summary.h"
#include "player/win32/app_win32.h"
#include "player/window.h"

namespace {

struct WindowState {
    QuarvBuffer* display;
    bool classRegistered;
    HICON icon;
    char className[kClassNameSize];
    WindowFrame frame;
    uint32_t displayFlags;
};

WindowState state;

constexpr WORD kIconResource = 101;
// Sent by a full-screen display when its own window is (de)activated.
constexpr UINT kFullScreenActivation = 0x5A78;
constexpr WORD kDoNotClear = 0x1000;

enum SystemMenuItem { kMenuRestore = 0, kMenuMove = 1, kMenuSize = 2, kMenuMinimize = 3, kMenuMaximize = 4 };

void EnableMenuItemAt(HWND window, int position, bool enabled) {
    EnableMenuItem(GetSystemMenu(window, FALSE), position, MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
}

void DestroyIconIfLoaded() {
    if (state.icon) DestroyIcon(state.icon);
    state.icon = nullptr;
}

void Place(HWND window, int32_t x, int32_t y, const QuarvBuffer* display) {
    const WindowPlacement p = PlaceWindow(state.frame, x, y, display->outWidth, display->outHeight,
                                          GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    MoveWindow(window, p.x, p.y, p.width, p.height, TRUE);
}

QuarvBuffer* OpenDisplay(HWND window, uint32_t width, uint32_t height) {
    return QuarvBufferOpen(window, BufferTypeFor(state.displayFlags), width, height,
                           static_cast<uint32_t>(Settings.StretchWidth), static_cast<uint32_t>(Settings.StretchHeight));
}

// Destroys the window and takes the quit message its WM_DESTROY posted off
// the queue, so that no later modal loop (a message box) ends on it.
void DestroyPlayerWindow() {
    DestroyWindow(PlayerWindow);
    MSG msg;
    while (PlayerWindow) {
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE) || msg.message == WM_QUIT) {
            PlayerWindow = nullptr;
            break;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

LRESULT Realize() { return state.display ? QuarvBufferRealize(state.display) : 0; }

void OnPaint(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (QuarvBuffer* d = state.display) {
        // Interlaced doubling leaves every other line alone: start from black.
        if (d->blitter && (d->blitFlags & 0x8))
            PatBlt(dc, 0, 0, static_cast<int>(d->outWidth), static_cast<int>(d->outHeight), BLACKNESS);
        QuarvBufferBlit(d, dc, 0, 0, 0, 0, static_cast<int32_t>(d->width), static_cast<int32_t>(d->height));
    }
    EndPaint(window, &ps);
}

bool KeyHeld(int vk) { return GetAsyncKeyState(vk) < 0; }

// Queues the code of a key message; false when the key is not in the table.
bool OnKey(KeySource source, WPARAM key, LPARAM data) {
    const bool shift = KeyHeld(VK_SHIFT);
    const bool ctrl = KeyHeld(VK_CONTROL);
    const int code = KeyCodeFor(source, static_cast<uint32_t>(key), shift, ctrl, static_cast<uint32_t>(data));
    if (code < 0) return false;
    QueueKey(static_cast<uint8_t>(code));
    return true;
}

LRESULT CALLBACK PlayerWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_PAINT:
            OnPaint(window);
            return 0;
        case WM_CLOSE:
            QueueKey(KEY_CLOSE);
            return 0;
        case WM_QUERYENDSESSION:
        case WM_ERASEBKGND:
            return 1;
        case WM_WINDOWPOSCHANGING: {
            auto* pos = reinterpret_cast<WINDOWPOS*>(lParam);
            if (!(pos->flags & SWP_NOMOVE)) pos->x = AlignLeftEdge(pos->x, state.frame.clientLeft);
            break;
        }
        case WM_NCHITTEST:
        case kFullScreenActivation:
            if (state.display && state.display->fullScreen) return HTCLIENT;
            break;
        case WM_KEYDOWN:
            if (OnKey(KeySource::KeyDown, wParam, lParam)) return 0;
            break;
        case WM_SYSKEYDOWN:
            if (OnKey(KeySource::SystemKeyDown, wParam, lParam)) return 0;
            break;
        case WM_CHAR:
            OnKey(KeySource::Character, wParam, lParam);
            return 0;
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == SC_MINIMIZE) {
                EnableMenuItemAt(window, kMenuRestore, true);
                EnableMenuItemAt(window, kMenuMinimize, false);
            } else if ((wParam & 0xFFF0) == SC_RESTORE) {
                EnableMenuItemAt(window, kMenuRestore, false);
                EnableMenuItemAt(window, kMenuMinimize, true);
            }
            break;
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
            return 0;
        case WM_QUERYNEWPALETTE:
            return Realize();
        case WM_PALETTECHANGED:
            if (reinterpret_cast<HWND>(wParam) == window) return 0;
            return Realize();
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A later movie: reuse a full-screen display that is large enough, else
// replace the display; the window stays either way.
bool ReopenDisplay(uint32_t width, uint32_t height, int32_t x, int32_t y) {
    QuarvBuffer* d = state.display;
    if (d && d->fullScreen && d->width >= width && d->height >= height) {
        if (!(state.displayFlags & kDoNotClear)) {
            QuarvBufferClear(d, 0);
            QuarvBufferBlit(d, nullptr, 0, 0, 0, 0, static_cast<int32_t>(d->width), static_cast<int32_t>(d->height));
        }
        Place(PlayerWindow, x, y, d);
        UpdateWindow(PlayerWindow);
        return true;
    }
    QuarvBufferClose(d);
    state.display = OpenDisplay(PlayerWindow, width, height);
    if (!state.display) {
        DestroyIconIfLoaded();
        return false;
    }
    Place(PlayerWindow, x, y, state.display);
    UpdateWindow(PlayerWindow);
    return true;
}

}  // namespace

bool OpenPlayerWindow(uint32_t width, uint32_t height, int32_t x, int32_t y, uint32_t displayFlags) {
    state.displayFlags = displayFlags;
    if (PlayerWindow) return ReopenDisplay(width, height, x, y);

    if (!state.icon) state.icon = LoadIconA(AppInstance, MAKEINTRESOURCEA(kIconResource));
    if (!state.classRegistered) {
        BuildClassName(state.className, reinterpret_cast<uintptr_t>(AppInstance));
        WNDCLASSA wc = {};
        wc.lpfnWndProc = PlayerWindowProc;
        wc.hInstance = AppInstance;
        wc.hIcon = state.icon;
        wc.hCursor = ArrowCursor;
        wc.lpszClassName = state.className;
        if (!RegisterClassA(&wc)) return false;
        state.classRegistered = true;
    }

    const WindowStyle style = StyleForDisplayFlags(displayFlags);
    HWND window = CreateWindowExA(style.exStyle, state.className, PlayerTitle(), style.style, 0, 0, 320, 240,
                                  reinterpret_cast<HWND>(Settings.ParentWindow), nullptr, AppInstance, nullptr);
    if (!window) {
        QuarvBufferClose(state.display);
        state.display = nullptr;
        DestroyIconIfLoaded();
        return false;
    }
    PlayerWindow = window;

    EnableMenuItemAt(window, kMenuRestore, false);
    EnableMenuItemAt(window, kMenuMove, true);
    EnableMenuItemAt(window, kMenuSize, false);
    EnableMenuItemAt(window, kMenuMinimize, true);
    EnableMenuItemAt(window, kMenuMaximize, false);

    // The window stands at (0, 0): the client origin on the screen is the
    // frame's left and top, and the client size tells what the frame adds.
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    RECT client;
    GetClientRect(window, &client);
    state.frame.clientLeft = origin.x;
    state.frame.clientTop = origin.y;
    state.frame.extraWidth = 320 - (client.right - client.left);
    state.frame.extraHeight = 240 - (client.bottom - client.top);

    state.display = OpenDisplay(window, width, height);
    if (!state.display) {
        DestroyPlayerWindow();
        DestroyIconIfLoaded();
        return false;
    }
    if (state.display->fullScreen) return true;

    Place(window, x, y, state.display);
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetActiveWindow(window);
    SetFocus(window);
    return true;
}

void ClosePlayerWindow() {
    if (PlayerWindow) DestroyPlayerWindow();
    DestroyIconIfLoaded();
    if (state.display) {
        SummaryFigures& figures = SummaryData();
        DescribeDisplay(state.display, figures.display, sizeof figures.display);
        figures.screenColours = state.display->screenColours;
        QuarvBufferClose(state.display);
        state.display = nullptr;
    }
    if (state.classRegistered) {
        UnregisterClassA(state.className, AppInstance);
        state.classRegistered = false;
    }
    QuarvBufferFreeLibraries();
}

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PlayerWindow = nullptr;
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool KeyWaiting() {
    PumpMessages();
    return QueuedKeyCount() > 0;
}

int GetKey() {
    while (QueuedKeyCount() == 0) {
        PumpMessages();
        Sleep(0);
    }
    return TakeKey();
}

void* PlayerWindowHandle() { return PlayerWindow; }

QuarvBuffer* PlayerDisplay() { return state.display; }

WindowFrame PlayerWindowFrame() { return state.frame; }
