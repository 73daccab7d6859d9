// Watches the player's window while another process plays: every change of
// its client size, client position or caption becomes a line of OUTFILE,
//   WIDTHxHEIGHT at X,Y | CAPTION
// so that a script can tell which movie (by its size) and which frame (by a
// /Q caption) was on the screen, in order. With TIMESFILE, each line also
// goes there after the wall-clock time it was seen (Unix seconds, the clock
// the test's sound device keeps).
//   play_watch OUTFILE [TIMEOUT_MS=60000 [TIMESFILE]]
// Ends when the window has gone again, or at the timeout. Exit code 0 when a
// window was seen, 1 when none appeared.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

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

std::string Describe(HWND window) {
    RECT client;
    GetClientRect(window, &client);
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    char caption[128] = {};
    GetWindowTextA(window, caption, sizeof caption);
    char line[256];
    std::snprintf(line, sizeof line, "%ldx%ld at %ld,%ld | %s", static_cast<long>(client.right - client.left),
                  static_cast<long>(client.bottom - client.top), static_cast<long>(origin.x),
                  static_cast<long>(origin.y), caption);
    return line;
}

double UnixSeconds() {
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
    return (ticks - 116444736000000000ull) / 1e7;  // 100 ns units since 1601
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: play_watch OUTFILE [TIMEOUT_MS [TIMESFILE]]\n");
        return 2;
    }
    const DWORD timeout = argc > 2 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 60000;
    FILE* out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 2;
    }
    FILE* times = argc > 3 ? std::fopen(argv[3], "wb") : nullptr;
    const DWORD start = GetTickCount();
    bool seen = false;
    std::string last;
    while (GetTickCount() - start < timeout) {
        HWND window = nullptr;
        EnumWindows(FindPlayer, reinterpret_cast<LPARAM>(&window));
        if (window) {
            seen = true;
            const std::string now = Describe(window);
            if (now != last) {
                const double seen_at = UnixSeconds();
                std::fprintf(out, "%s\n", now.c_str());
                std::fflush(out);
                if (times) std::fprintf(times, "%.6f %s\n", seen_at, now.c_str());
                last = now;
            }
        } else if (seen) {
            break;
        }
        Sleep(2);
    }
    std::fclose(out);
    if (times) std::fclose(times);
    return seen ? 0 : 1;
}
