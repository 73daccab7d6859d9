// A parent application for the player's /# protocol: a window with the given
// title that answers message 10019 with the given value, starts the program
// with /#<its handle> and the given arguments, and records what it receives.
//   parent_gui [--destroy] OUTFILE ANSWER TITLE PROGRAM [ARGS...]
// OUTFILE gets one line per event: "query 10019", "copydata dwData=.. cbData=..
// text=.. tail=zero|nonzero" and finally "exit N" (the program's exit code).
// --destroy: a second after a window owned by the parent shows, the parent
// takes that window down and logs "destroyed", then "exit N after T ms".
// No program may destroy another's window (DestroyWindow refuses, and
// destroying the owner only unowns it), so the parent sends it WM_DESTROY,
// which the window's own destruction would deliver.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

FILE* g_log = nullptr;
LRESULT g_answer = 0;
constexpr UINT kQuery = 10019;

LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case kQuery:
            std::fprintf(g_log, "query 10019\n");
            std::fflush(g_log);
            return g_answer;
        case WM_COPYDATA: {
            const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
            const char* bytes = static_cast<const char*>(data->lpData);
            const size_t length = bytes ? strnlen(bytes, data->cbData) : 0;
            // Whatever the count covers after the text's terminator.
            bool zeroTail = true;
            for (size_t i = length; i < data->cbData; ++i) zeroTail = zeroTail && bytes[i] == 0;
            std::fprintf(g_log, "copydata dwData=%lu cbData=%lu text=%.*s tail=%s\n",
                         static_cast<unsigned long>(data->dwData), static_cast<unsigned long>(data->cbData),
                         static_cast<int>(length), bytes ? bytes : "", zeroTail ? "zero" : "nonzero");
            std::fflush(g_log);
            return TRUE;
        }
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// Finds a visible window owned by g_owner (stores it in *found).
HWND g_owner = nullptr;
BOOL CALLBACK FindOwned(HWND window, LPARAM found) {
    if (GetWindow(window, GW_OWNER) != g_owner || !IsWindowVisible(window)) return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    const bool destroy = __argc > 1 && std::strcmp(__argv[1], "--destroy") == 0;
    char** argv = __argv + (destroy ? 1 : 0);
    if (__argc - (destroy ? 1 : 0) < 5) return 2;
    g_log = std::fopen(argv[1], "wb");
    if (!g_log) return 2;
    g_answer = std::strtol(argv[2], nullptr, 10);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = instance;
    wc.lpszClassName = "QuarvelParentTest";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!RegisterClassA(&wc)) return 3;
    HWND window = CreateWindowA("QuarvelParentTest", argv[3], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 120,
                                nullptr, nullptr, instance, nullptr);
    if (!window) return 3;

    std::string command = std::string("\"") + argv[4] + "\" /#" +
                          std::to_string(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
    for (int i = 5; i < __argc - (destroy ? 1 : 0); ++i) command += std::string(" ") + argv[i];
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(g_log, "start failed %lu\n", GetLastError());
        return 4;
    }

    // Keep answering messages (the player sends them synchronously) until it ends.
    MSG msg;
    const DWORD start = GetTickCount();
    DWORD shown = 0, destroyed = 0;
    HWND owned = nullptr;
    g_owner = window;
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, destroy ? 50 : 120000, QS_ALLINPUT);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (woke == WAIT_OBJECT_0) break;
        if (woke == WAIT_TIMEOUT && (!destroy || GetTickCount() - start > 120000)) break;
        if (destroy && !shown && !EnumWindows(FindOwned, reinterpret_cast<LPARAM>(&owned)) && owned)
            shown = GetTickCount();
        if (shown && !destroyed && GetTickCount() - shown >= 1000) {
            std::fprintf(g_log, "destroyed\n");
            destroyed = GetTickCount();
            SendMessageA(owned, WM_DESTROY, 0, 0);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    if (destroyed)
        std::fprintf(g_log, "exit %lu after %lu ms\n", code, GetTickCount() - destroyed);
    else
        std::fprintf(g_log, "exit %lu\n", code);
    std::fclose(g_log);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DestroyWindow(window);
    return 0;
}
