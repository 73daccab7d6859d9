// Takes the paused player's window off the screen, steps it one frame
// while nothing of it can be seen, and shows it again: only its answer to
// WM_PAINT can then put the new frame on the screen. (A window covered by
// another keeps its pixels under Wine, so covering it would prove nothing.)
//   play_poke SHOWCOMMAND   the ShowWindow command that shows it again
//                           (5 activates it, 8 does not)
// Exit code 0 when the player's window was found.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The player's class names are "KOVDW" and four letters.
BOOL CALLBACK FindPlayer(HWND window, LPARAM param) {
    char cls[16] = {};
    if (GetClassNameA(window, cls, sizeof cls) && std::strncmp(cls, "KOVDW", 5) == 0 && IsWindowVisible(window)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
    } while (GetTickCount() - start < ms);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: play_poke SHOWCOMMAND\n");
        return 2;
    }
    HWND player = nullptr;
    EnumWindows(FindPlayer, reinterpret_cast<LPARAM>(&player));
    if (!player) {
        std::printf("no player window\n");
        return 1;
    }
    ShowWindow(player, SW_HIDE);
    PumpFor(300);
    PostMessageA(player, WM_CHAR, 13, 0);  // Enter: one frame on
    PumpFor(1000);
    ShowWindow(player, std::atoi(argv[1]));
    PumpFor(300);
    return 0;
}
