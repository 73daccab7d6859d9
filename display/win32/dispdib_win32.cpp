// The full-screen types on Win32: the DISPDIB driver, loaded as a module,
// draws what it is sent by WM_COPYDATA to its "DisplayDibWindow" window.
#include <windows.h>

#include "display/display_backend.h"

namespace {

const char kDriverClass[] = "DisplayDibWindow";

// 0 not yet tried, 1 available, -1 not.
int driverState;

// The one full-screen buffer whose window is up (the player shows one
// display at a time); the window procedure finds it here.
QuarvBuffer* fullScreenBuffer;

bool DriverClassExists(HINSTANCE module) {
    WNDCLASSA wc;
    return GetClassInfoA(module, kDriverClass, &wc) || GetClassInfoA(GetModuleHandleA(nullptr), kDriverClass, &wc) ||
           GetClassInfoA(nullptr, kDriverClass, &wc);
}

LRESULT CALLBACK DriverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    QuarvBuffer* b = fullScreenBuffer;
    WNDPROC previous = b ? reinterpret_cast<WNDPROC>(b->dispDibWindowProc) : nullptr;
    if (!b || !previous || b->dispDibWindow != window) return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_ACTIVATE) {
        SendMessageA(static_cast<HWND>(b->playerWindow), kFullScreenActivation, wParam, lParam);
        if (LOWORD(wParam) != WA_INACTIVE) {
            const LRESULT result = CallWindowProcA(previous, window, message, wParam, lParam);
            FullScreenActivated(b, true);
            return result;
        }
        FullScreenActivated(b, false);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

}  // namespace

namespace backend {

bool FullScreenDriverAvailable() {
    if (driverState == 0) {
        // An empty command line: a length byte of 0 and its terminator.
        static char commandLine[2] = {0, 0};
        WORD show[2] = {2, SW_HIDE};
        struct {
            WORD environment;
            LPSTR commandLine;
            LPVOID show;
            DWORD reserved;
        } parameters = {0, commandLine, show, 0};
        const UINT oldMode = SetErrorMode(SEM_NOOPENFILEERRORBOX | SEM_FAILCRITICALERRORS);
        const DWORD loaded = LoadModule("DISPDIB.DLL", &parameters);
        SetErrorMode(oldMode);
        driverState = loaded >= 32 && DriverClassExists(nullptr) ? 1 : -1;
    }
    return driverState == 1;
}

bool OpenFullScreenWindow(QuarvBuffer* b) {
    HWND player = static_cast<HWND>(b->playerWindow);
    HWND window = CreateWindowExA(0, kDriverClass, "", WS_POPUP, 0, 0, 32, 32, player, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    if (!window) return false;
    b->dispDibWindow = window;
    b->dispDibWindowProc = reinterpret_cast<void*>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DriverWindowProc)));
    fullScreenBuffer = b;
    return true;
}

void ShowFullScreen(QuarvBuffer* b) {
    ShowWindow(static_cast<HWND>(b->playerWindow), SW_SHOWMINIMIZED);
    SetWindowPos(static_cast<HWND>(b->dispDibWindow), HWND_TOPMOST, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN), SWP_SHOWWINDOW);
}

void SendToDriver(QuarvBuffer* b, uint32_t code, uint32_t bytes, const void* data) {
    if (!b->dispDibWindow) return;
    COPYDATASTRUCT request;
    request.dwData = code;
    request.cbData = bytes;
    request.lpData = const_cast<void*>(data);
    SendMessageA(static_cast<HWND>(b->dispDibWindow), WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&request));
}

void CloseFullScreenWindow(QuarvBuffer* b) {
    HWND window = static_cast<HWND>(b->dispDibWindow);
    if (!window) return;
    ShowWindow(window, SW_HIDE);
    SendMessageA(window, kDriverClose, 0, 0);
    // The procedure must not outlive the buffer it draws.
    if (b->dispDibWindowProc) SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(b->dispDibWindowProc));
    DestroyWindow(window);
    if (fullScreenBuffer == b) fullScreenBuffer = nullptr;
    b->dispDibWindow = nullptr;
    b->dispDibWindowProc = nullptr;
}

}  // namespace backend

// Test programs stand in for the driver with a window class of their own.
void AssumeFullScreenDriverForTests() { driverState = 1; }
