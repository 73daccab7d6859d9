// A parent application for the player's /# protocol: a window with the given
// title that answers message 10019 with the given value, starts the program
// with /#<its handle> and the given arguments, and records what it receives.
//   parent_gui OUTFILE ANSWER TITLE PROGRAM [ARGS...]
// OUTFILE gets one line per event: "query 10019", "copydata dwData=.. cbData=..
// text=.. tail=zero|nonzero" and finally "exit N" (the program's exit code).
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

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc < 5) return 2;
    g_log = std::fopen(__argv[1], "wb");
    if (!g_log) return 2;
    g_answer = std::strtol(__argv[2], nullptr, 10);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = ParentProc;
    wc.hInstance = instance;
    wc.lpszClassName = "QuarvelParentTest";
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    if (!RegisterClassA(&wc)) return 3;
    HWND window = CreateWindowA("QuarvelParentTest", __argv[3], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 120,
                                nullptr, nullptr, instance, nullptr);
    if (!window) return 3;

    std::string command = std::string("\"") + __argv[4] + "\" /#" +
                          std::to_string(static_cast<unsigned long>(reinterpret_cast<uintptr_t>(window)));
    for (int i = 5; i < __argc; ++i) command += std::string(" ") + __argv[i];
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(g_log, "start failed %lu\n", GetLastError());
        return 4;
    }

    // Keep answering messages (the player sends them synchronously) until it ends.
    MSG msg;
    for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 120000, QS_ALLINPUT);
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (woke != WAIT_OBJECT_0 + 1) break;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::fprintf(g_log, "exit %lu\n", code);
    std::fclose(g_log);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    DestroyWindow(window);
    return 0;
}
