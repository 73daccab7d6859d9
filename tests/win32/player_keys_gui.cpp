// The player window's messages and key codes: opens the window as the
// player does, sends it window and key messages, and checks the codes the
// key queue gives back. With a directory argument it then waits for real
// keys typed by the script (test_player_keys.sh) and records their codes.
//   player_keys_gui DIR
// Results go to DIR\result.txt; exit code 0 when every check passed.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "player/settings.h"
#include "player/win32/app_win32.h"
#include "player/window.h"

HINSTANCE AppInstance = nullptr;
HCURSOR ArrowCursor = nullptr;
HWND PlayerWindow = nullptr;

namespace {

FILE* result = nullptr;
int failures = 0;

void Check(bool ok, const std::string& what) {
    std::fprintf(result, "%s %s\n", ok ? "PASS" : "FAIL", what.c_str());
    std::fflush(result);
    if (!ok) failures++;
}

std::string List(const std::vector<int>& codes) {
    std::string s;
    for (int c : codes) s += (s.empty() ? "" : " ") + std::to_string(c);
    return s;
}

// Every code queued so far, oldest first.
std::vector<int> Drain() {
    std::vector<int> codes;
    while (KeyWaiting()) codes.push_back(GetKey());
    return codes;
}

void ExpectCodes(const char* what, const std::vector<int>& want) {
    const std::vector<int> got = Drain();
    Check(got == want, std::string(what) + ": got [" + List(got) + "], wanted [" + List(want) + "]");
}

bool Grayed(HWND w, int position) {
    return (GetMenuState(GetSystemMenu(w, FALSE), position, MF_BYPOSITION) & MF_GRAYED) != 0;
}

constexpr LPARAM kAlt = 1 << 29;

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc < 2) return 2;
    const std::string dir = __argv[1];
    result = std::fopen((dir + "\\result.txt").c_str(), "w");
    if (!result) return 2;
    AppInstance = instance;
    ArrowCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));

    if (!OpenPlayerWindow(64, 48, -1, -1, 0)) {
        Check(false, "OpenPlayerWindow");
        return 1;
    }
    HWND w = PlayerWindow;

    // The class, the title, the styles, the icon and the system menu.
    char expectedClass[10] = "KOVDW";
    const unsigned low = static_cast<unsigned>(reinterpret_cast<uintptr_t>(instance) & 0xFFFF);
    for (int i = 0; i < 4; i++) expectedClass[5 + i] = static_cast<char>('A' + ((low >> (12 - 4 * i)) & 15));
    expectedClass[9] = 0;
    char cls[64] = {}, title[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    GetWindowTextA(w, title, sizeof title);
    Check(std::strcmp(cls, expectedClass) == 0, std::string("class name ") + cls + ", wanted " + expectedClass);
    Check(std::strcmp(title, "QuarvPlay") == 0, std::string("title ") + title);
    const LONG style = GetWindowLongA(w, GWL_STYLE), exStyle = GetWindowLongA(w, GWL_EXSTYLE);
    Check((style & (WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX | WS_CAPTION)) ==
              (WS_POPUP | WS_CLIPCHILDREN | WS_SYSMENU | WS_MINIMIZEBOX | WS_CAPTION),
          "popup with caption, system menu and minimise box");
    Check(!(style & (WS_MAXIMIZEBOX | WS_THICKFRAME)), "no maximise box, no sizing frame");
    Check((exStyle & WS_EX_DLGMODALFRAME) != 0, "dialog frame");
    Check(GetClassLongPtrA(w, GCLP_HICON) != 0, "class icon from resource 101");
    Check(IsWindowVisible(w) && GetFocus() == w, "shown with the focus");
    Check(Grayed(w, 0) && !Grayed(w, 1) && Grayed(w, 2) && !Grayed(w, 3) && Grayed(w, 4),
          "system menu: Restore, Size, Maximize greyed; Move, Minimize enabled");

    // Messages with fixed answers.
    Check(SendMessageA(w, WM_ERASEBKGND, 0, 0) == 1, "WM_ERASEBKGND answers 1");
    Check(SendMessageA(w, WM_QUERYENDSESSION, 0, 0) == 1, "WM_QUERYENDSESSION answers 1");
    Check(SendMessageA(w, WM_PALETTECHANGED, reinterpret_cast<WPARAM>(w), 0) == 0, "own palette change ignored");
    Drain();

    // Characters are queued as they are; Shift is not held here.
    for (int c : {int('a'), 13, 27, 32, 46, 9, 0xE9}) PostMessageA(w, WM_CHAR, c, 1);
    ExpectCodes("characters", {'a', 13, 27, 32, 46, 9, 0xE9});

    // Key-down: F-keys, cursor and editing keys; others are left to the
    // default handling, which queues nothing.
    for (int vk : {VK_F1, VK_F10, VK_PRIOR, VK_NEXT, VK_END, VK_HOME, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN, VK_INSERT,
                   VK_DELETE, VK_F11, VK_SHIFT, VK_CAPITAL})
        PostMessageA(w, WM_KEYDOWN, vk, 1);
    ExpectCodes("key-down", {208, 217, 161, 162, 163, 164, 165, 166, 167, 168, 173, 174});

    // System keys: Alt+F4 is the close code and does not close the window.
    PostMessageA(w, WM_SYSKEYDOWN, VK_F4, kAlt | 1);
    PostMessageA(w, WM_SYSKEYDOWN, VK_F10, 1);
    PostMessageA(w, WM_SYSKEYDOWN, VK_F10, kAlt | 1);
    PostMessageA(w, WM_SYSKEYDOWN, VK_F1, kAlt | 1);
    PostMessageA(w, WM_SYSKEYDOWN, VK_F9, kAlt | 1);
    ExpectCodes("system keys", {241, 217, 247, 238, 246});
    Check(IsWindow(w) && PlayerWindow == w, "Alt+F4 leaves the window");

    // Closing: the close message and the system menu's Close queue 241 only.
    PostMessageA(w, WM_CLOSE, 0, 0);
    PostMessageA(w, WM_SYSCOMMAND, SC_CLOSE, 0);
    ExpectCodes("close requests", {241, 241});
    Check(IsWindow(w) && PlayerWindow == w, "closing leaves the window to the player");

    // A full queue drops the 65th code and later ones.
    for (int i = 0; i < 70; i++) PostMessageA(w, WM_CHAR, 100 + i, 1);
    std::vector<int> first64;
    for (int i = 0; i < 64; i++) first64.push_back(100 + i);
    ExpectCodes("64 of 70 codes", first64);

    // Minimising and restoring switch the system menu's items.
    SendMessageA(w, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    PumpMessages();
    Check(!Grayed(w, 0) && Grayed(w, 3), "minimised: Restore enabled, Minimize greyed");
    SendMessageA(w, WM_SYSCOMMAND, SC_RESTORE, 0);
    PumpMessages();
    Check(Grayed(w, 0) && !Grayed(w, 3), "restored: Restore greyed, Minimize enabled");
    SetForegroundWindow(w);
    SetFocus(w);
    Drain();

    // Real keys from the script, ending with Escape.
    FILE* ready = std::fopen((dir + "\\ready.txt").c_str(), "w");
    std::fprintf(ready, "%p\n", static_cast<void*>(w));
    std::fclose(ready);
    std::vector<int> typed;
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 30000 && (typed.empty() || typed.back() != 27)) {
        if (KeyWaiting())
            typed.push_back(GetKey());
        else
            Sleep(10);
    }
    // Shift+F1, Ctrl+F2, Shift+Tab, Alt+F4, Space, ".", Enter, Escape.
    const std::vector<int> wanted = {218, 229, 137, 241, 32, 46, 13, 27};
    Check(typed == wanted, "typed keys: got [" + List(typed) + "], wanted [" + List(wanted) + "]");

    ClosePlayerWindow();
    Check(!IsWindow(w) && PlayerWindow == nullptr, "ClosePlayerWindow destroys the window");
    WNDCLASSA wc;
    Check(!GetClassInfoA(instance, expectedClass, &wc), "class unregistered");
    std::fprintf(result, "%s\n", failures ? "FAILED" : "ALL PASSED");
    std::fclose(result);
    return failures ? 1 : 0;
}
