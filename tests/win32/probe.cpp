// The Windows tests' one helper program, run under Wine beside the player:
//   probe boxes OUT [COUNT]    reads COUNT message boxes of other programs
//       (title, text, "owner: " owner's title) into OUT, pressing OK on each
//   probe watch OUT [TIMES]    logs each change of the player window as
//       "WxH at X,Y | CAPTION" (client size and origin), and into TIMES each
//       line after its Unix time (the sound device's clock); ends when the
//       window has gone, not when it is only hidden
//   probe window ACTION...     acts on the player window: hide, show:N,
//       char:C, post:MSG:WPARAM, wait:MS, cover (a white topmost window
//       over its top left quarter takes the foreground), uncover, ready
//       (creates the file "ready" and holds until it has been removed)
//   probe parent [--destroy] OUT ANSWER TITLE PROGRAM [ARGS]   (below)
//   probe kernels | decode DIR       the blitter kernels against the plain
//       ones, the conformance movies decoded, as a Windows program
//   probe exports | fullscreen | mode | keys   probe_exports.cpp, probe_inside.cpp
//   probe texts      the player's usage title, banner and usage text, as
//       lines (what its boxes and messages must show whole)
// Self-checking subcommands print "FAIL ..." per failed check, then a verdict.
#include "tests/win32/probe.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <io.h>

#include "player/cmdline.h"
#include "tests/blit/checkblit.h"
#include "tests/video/conformance_check.h"

namespace {

volatile LONG g_checks = 0, g_failures = 0;

// Top-level windows (visible ones, unless hiddenToo) whose class starts
// with `prefix` (the player's are "KOVDW" and four letters; message boxes "#32770").
// (One list from the system: walking the windows one call at a time makes
// the watcher too slow to see a short-lived window on a busy machine.)
BOOL CALLBACK Collect(HWND w, LPARAM list) { return reinterpret_cast<std::vector<HWND>*>(list)->push_back(w), TRUE; }
std::vector<HWND> WindowsOf(const char* prefix, bool hiddenToo = false) {
    std::vector<HWND> all, found;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&all));
    char cls[16];
    for (HWND w : all)
        if (GetClassNameA(w, cls, sizeof cls) && !std::strncmp(cls, prefix, std::strlen(prefix)) && (hiddenToo || IsWindowVisible(w)))
            found.push_back(w);
    return found;
}
HWND FindPlayer(bool hiddenToo = false) {
    const std::vector<HWND> found = WindowsOf("KOVDW", hiddenToo);
    return found.empty() ? nullptr : found[0];
}

// The whole text of a window, also of another process's (WM_GETTEXT is marshalled).
std::string TextOf(HWND window) {
    std::string text(static_cast<size_t>(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0)) + 1, '\0');
    text.resize(static_cast<size_t>(SendMessageA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(&text[0]))));
    return text;
}

int Boxes(int argc, char** argv) {
    const size_t wanted = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    const DWORD start = GetTickCount();
    FILE* out = std::fopen(argv[1], "wb");
    std::vector<HWND> handled;
    while (out && handled.size() < wanted && GetTickCount() - start < 120000) {
        for (HWND box : WindowsOf("#32770")) {
            if (handled.size() >= wanted || std::count(handled.begin(), handled.end(), box)) continue;
            handled.push_back(box);
            HWND text = GetDlgItem(box, 0xFFFF), owner = GetWindow(box, GW_OWNER);
            std::fprintf(out, "%s\n%s\nowner: %s\n", TextOf(box).c_str(), text ? TextOf(text).c_str() : "(no text)",
                         owner ? TextOf(owner).c_str() : "(none)");
            std::fflush(out);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            for (int i = 0; i < 100 && IsWindowVisible(box); ++i) Sleep(50);
        }
        Sleep(50);
    }
    if (out) std::fclose(out);
    return handled.size() >= wanted ? 0 : 1;
}

int Watch(int argc, char** argv) {
    FILE* out = std::fopen(argv[1], "wb");
    FILE* times = argc > 2 ? std::fopen(argv[2], "wb") : nullptr;
    bool seen = false;
    std::string last;
    for (const DWORD start = GetTickCount(); out && GetTickCount() - start < 180000; Sleep(2)) {
        HWND w = FindPlayer();
        if (!w && seen && !FindPlayer(true)) break;
        if (!w) continue;
        seen = true;
        RECT client;
        GetClientRect(w, &client);
        POINT origin = {0, 0};
        ClientToScreen(w, &origin);
        char caption[128] = {}, line[256];  // one read: a length asked first may be outdated by the text
        GetWindowTextA(w, caption, sizeof caption);
        std::snprintf(line, sizeof line, "%ldx%ld at %ld,%ld | %s", client.right, client.bottom, origin.x, origin.y, caption);
        if (last == line) continue;
        FILETIME ft;  // 100 ns units since 1601
        GetSystemTimeAsFileTime(&ft);
        std::fprintf(out, "%s\n", line);
        std::fflush(out);
        if (times)
            std::fprintf(times, "%.6f %s\n", ((uint64_t{ft.dwHighDateTime} << 32 | ft.dwLowDateTime) - 116444736000000000ull) / 1e7, line);
        last = line;
    }
    return seen ? 0 : 1;  // (the files are closed at exit)
}

int WindowActions(int argc, char** argv) {
    HWND player = nullptr, cover = nullptr;
    for (int i = 0; i < 600 && !(player = FindPlayer(true)); ++i) Sleep(50);
    if (!player) return std::printf("no player window\n"), 1;
    for (int i = 1; i < argc; ++i) {
        char name[16] = "";
        long number = 0, param = 0;  // NAME[:NUMBER[:PARAM]], in C notation
        std::sscanf(argv[i], "%15[a-z]:%li:%li", name, &number, &param);
        const std::string act = name;
        RECT r;
        GetClientRect(player, &r);
        POINT at = {0, 0};
        ClientToScreen(player, &at);
        if (act == "hide" || act == "show") {
            ShowWindow(player, act == "hide" ? SW_HIDE : static_cast<int>(number));
        } else if (act == "char" || act == "post") {
            PostMessageA(player, act == "char" ? WM_CHAR : number, act == "char" ? number : param, act == "char");
        } else if (act == "wait") {
            Pump(number);
        } else if (act == "cover") {  // a white rectangle
            cover = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "", WS_POPUP | WS_VISIBLE | SS_WHITERECT, at.x, at.y, r.right / 2,
                                    r.bottom / 2, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
            SetForegroundWindow(cover);
        } else if (act == "ready") {  // says so in the file "ready", then holds until it has gone
            if (FILE* f = std::fopen("ready", "w")) std::fclose(f);
            for (int t = 0; t < 600 && GetFileAttributesA("ready") != INVALID_FILE_ATTRIBUTES; ++t) Pump(50);
        } else if (act == "uncover") {
            DestroyWindow(cover);
            SetForegroundWindow(player);
        } else {
            return std::printf("unknown action %s\n", argv[i]), 2;
        }
    }
    return 0;
}

// A window titled TITLE that answers message 10019 with ANSWER starts
// PROGRAM with /#<its handle> and ARGS, and logs to OUT "query 10019",
// "copydata dwData=.. cbData=.. text=.. tail=zero|nonzero" (the bytes the
// count covers after the text's terminator), and last "exit N". With
// --destroy, a second after a window owned by it shows, that one is taken
// down ("destroyed", then "exit N after T ms"): no program may destroy
// another's window, so it is sent the WM_DESTROY its destruction would deliver.
FILE* g_log;
LRESULT g_answer;
LRESULT CALLBACK ParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == 10019) return std::fprintf(g_log, "query 10019\n"), g_answer;
    if (message != WM_COPYDATA) return DefWindowProcA(window, message, wParam, lParam);
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    const char* bytes = static_cast<const char*>(data->lpData);
    const size_t length = bytes ? strnlen(bytes, data->cbData) : 0;
    const bool zeroTail = std::all_of(bytes + length, bytes + data->cbData, [](char c) { return !c; });
    std::fprintf(g_log, "copydata dwData=%lu cbData=%lu text=%.*s tail=%s\n", static_cast<unsigned long>(data->dwData),
                 data->cbData, static_cast<int>(length), bytes ? bytes : "", zeroTail ? "zero" : "nonzero");
    return TRUE;
}

int Parent(int argc, char** argv) {
    const bool destroy = !std::strcmp(argv[1], "--destroy");
    argv += destroy, argc -= destroy;
    if (argc < 5 || !(g_log = std::fopen(argv[1], "wb"))) return 2;
    g_answer = std::strtol(argv[2], nullptr, 10);
    RegisterProbeClass("ProbeParent", ParentProc);
    HWND window = CreateWindowA("ProbeParent", argv[3], WS_OVERLAPPEDWINDOW | WS_VISIBLE, 20, 20, 300, 120, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    std::string command = std::string("\"") + argv[4] + "\" /#" + std::to_string(reinterpret_cast<uintptr_t>(window));
    for (int i = 5; i < argc; ++i) command += std::string(" ") + argv[i];
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return 4;
    // Keeps answering (the player sends its messages synchronously) until it ends.
    DWORD shown = 0, destroyed = 0;
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 120000;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &pi.hProcess, FALSE, 50, QS_ALLINPUT);
        Pump(0);
        if (woke == WAIT_OBJECT_0) break;
        HWND owned = nullptr;
        for (HWND w = GetTopWindow(nullptr); destroy && w && !owned; w = GetWindow(w, GW_HWNDNEXT))
            if (GetWindow(w, GW_OWNER) == window && IsWindowVisible(w)) owned = w;
        if (owned && !shown) shown = GetTickCount();
        if (owned && !destroyed && GetTickCount() - shown >= 1000) {
            std::fprintf(g_log, "destroyed\n");
            destroyed = GetTickCount();
            SendMessageA(owned, WM_DESTROY, 0, 0);
        }
    }
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    std::fprintf(g_log, destroyed ? "exit %lu after %lu ms\n" : "exit %lu\n", code, GetTickCount() - destroyed);
    std::fclose(g_log);
    return 0;
}

// Every kernel of every variant the processor has (in the 32-bit build the
// MMX ones use the MMX registers themselves) and the table builders, against
// the plain reference, the x87 state checked after each call.
int Kernels(int, char**) {
    for (int v = 0; v < kBlitVariantCount; ++v) {
        const auto variant = static_cast<BlitVariant>(v);
        if (!BlitVariantSupported(variant)) continue;
        std::printf("variant %s\n", BlitVariantName(variant));
        for (int k = 0; k < checkblit::kKernelCount; ++k) {
            const std::string failure = checkblit::CheckKernel(variant, static_cast<checkblit::Kernel>(k), 20240605);
            Check(failure.empty(), failure);
        }
        if (v) Check(checkblit::CheckBuilders(variant, 20240605, 3).empty(), std::string("builders of ") + BlitVariantName(variant));
    }
    return Verdict();
}

// Every conformance movie with both bit readers into 8-bit and 16-bit buffers.
int Decode(int, char** argv) {
    DetectMmx();
    std::printf("mmx %s\n", MmxLevel == 2 ? "present" : "absent");
    for (const std::string& name : vtest::ConformanceMovies())
        for (uint32_t level : {1u, 2u})
            for (bool sixteen : {false, true}) {
                const std::string error = vtest::CheckConformanceMovie(argv[1], name, level, sixteen);
                Check(error.empty(), name + ": " + error);
            }
    return Verdict();
}

}  // namespace

void Check(bool ok, const std::string& what) {
    InterlockedIncrement(&g_checks);
    if (ok) return;
    InterlockedIncrement(&g_failures);
    std::printf("FAIL %s\n", what.c_str());
    std::fflush(stdout);
}

int Verdict() {
    std::printf("%ld checks, %ld failed\n", g_checks, g_failures);
    return g_failures || !g_checks ? 1 : 0;
}

void RegisterProbeClass(const char* name, WNDPROC procedure) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = procedure, wc.hInstance = GetModuleHandleA(nullptr), wc.lpszClassName = name;
    RegisterClassA(&wc);
}

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    do {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) TranslateMessage(&msg), DispatchMessageA(&msg);
        if (ms) Sleep(10);
    } while (GetTickCount() - start < ms);
}

int Texts(int, char**) {
    _setmode(_fileno(stdout), _O_BINARY);  // the texts' own CR LF, nothing added
    return std::printf("%s\n%s\n%s\n", kUsageTitle, kBannerText, kUsageText) < 0;
}

int main(int argc, char** argv) {
    const struct { const char* name; int (*run)(int, char**); int minArgs; } commands[] = {
        {"boxes", Boxes, 2},     {"watch", Watch, 2},         {"window", WindowActions, 1},      {"parent", Parent, 5},
        {"kernels", Kernels, 1}, {"decode", Decode, 2},       {"exports", ExportsMain, 2},       {"fullscreen", FullScreenMain, 1},
        {"mode", DisplayModeMain, 1}, {"keys", KeysMain, 1}, {"texts", Texts, 1}};
    for (const auto& c : commands)
        if (argc > 1 && !std::strcmp(argv[1], c.name) && argc - 1 >= c.minArgs) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "usage: probe boxes|watch|window|parent|kernels|decode|exports|fullscreen|mode|keys|texts ARGS\n");
    return 2;
}
