// The player's own window and display code, driven from inside this program
// where the real player cannot be watched from outside under Wine:
//   probe fullscreen  the full-screen types against a stand-in for the
//       DISPDIB driver (Wine has none): this program registers its own
//       "DisplayDibWindow" class, which records the requests it is sent
//   probe mode        /D's calls, with ChangeDisplaySettingsA redirected to a
//       recorder (Wine cannot change a virtual screen's mode)
//   probe keys        the window's system menu, and the codes of keys typed
//       by the test with Shift, Ctrl and Alt held (it waits for them after
//       creating keys.ready), which the player never acts on
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "display/display.h"
#include "display/display_backend.h"
#include "player/display_mode.h"
#include "player/settings.h"
#include "player/win32/app_win32.h"
#include "player/win32/display_mode_win32.cpp"  // built into the player only
#include "player/window.h"
#include "tests/win32/probe.h"

HINSTANCE AppInstance = nullptr;
HCURSOR ArrowCursor = nullptr;
HWND PlayerWindow = nullptr;

namespace {

struct Request {
    ULONG_PTR code;
    std::vector<uint8_t> data;
    SharedBitmapHeader Header() const {
        SharedBitmapHeader h{};
        if (data.size() == sizeof h) std::memcpy(&h, data.data(), sizeof h);
        return h;
    }
};
std::vector<Request> requests;  // WM_COPYDATA requests, and the close message as code 0x0402
std::vector<WPARAM> activations;  // each 0x5A78 the player window got

LRESULT CALLBACK DriverProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_COPYDATA) {
        const auto* cd = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        const auto* p = static_cast<const uint8_t*>(cd->lpData);
        requests.push_back({cd->dwData, std::vector<uint8_t>(p, p + cd->cbData)});
        return 1;
    }
    if (m == 0x0402) requests.push_back({m, {}});
    return DefWindowProcA(w, m, wp, lp);
}

LRESULT CALLBACK OwnerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m != 0x5A78) return DefWindowProcA(w, m, wp, lp);
    activations.push_back(wp);
    return HTCLIENT;
}

size_t Sent(uint32_t code) {
    return std::count_if(requests.begin(), requests.end(), [code](const Request& r) { return r.code == code; });
}

}  // namespace

int FullScreenMain(int, char**) {
    AppInstance = GetModuleHandleA(nullptr);
    AssumeFullScreenDriverForTests();
    WNDCLASSA wc{};
    wc.hInstance = AppInstance;
    wc.lpfnWndProc = OwnerProc;
    wc.lpszClassName = "ProbeOwner";
    RegisterClassA(&wc);
    wc.lpfnWndProc = DriverProc;
    wc.lpszClassName = "DisplayDibWindow";
    RegisterClassA(&wc);
    HWND owner = CreateWindowExA(0, "ProbeOwner", "player", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150, nullptr,
                                 nullptr, AppInstance, nullptr);

    // Type 1 (320 x 240): the driver's window, the set-format request with the shared header.
    QuarvBuffer* b = QuarvBufferOpen(owner, 1, 160, 120, 0, 0);
    Check(b != nullptr, "type 1 opens on the driver");
    if (!b) return Verdict();
    HWND driver = static_cast<HWND>(b->dispDibWindow);
    char cls[32] = "";
    GetClassNameA(driver, cls, sizeof cls);
    RECT r;
    GetWindowRect(driver, &r);
    Check(!std::strcmp(cls, "DisplayDibWindow") && GetWindow(driver, GW_OWNER) == owner, "the driver's window, owned by the player's");
    Check(IsIconic(owner) && IsWindowVisible(driver) && (GetWindowLongA(driver, GWL_EXSTYLE) & WS_EX_TOPMOST) &&
              r.right - r.left == GetSystemMetrics(SM_CXSCREEN) && r.bottom - r.top == GetSystemMetrics(SM_CYSCREEN),
          "player window minimised, the driver's topmost over the whole screen");
    const SharedBitmapHeader h = requests.empty() ? SharedBitmapHeader{} : requests[0].Header();
    const auto* slots = reinterpret_cast<const uint16_t*>(h.colours);
    Check(!requests.empty() && requests[0].code == 0x8AD50400u && requests[0].data.size() == 1064,
          "set-format request 0x8AD50400 of 1064 bytes first");
    Check(h.size == 40 && h.width == 160 && h.height == 204 && h.bitCount == 8 && h.planes == 1 && slots[1] == 1 && slots[255] == 255,
          "its header: 160 x 204 (the pitch and the 204-line rule), 8 bits, identity colour slots");

    // Drawing sends the whole buffer; new colours go as blue, green, red, 0.
    for (uint32_t i = 0; i < b->pitch * b->height; i++) b->pixels[i] = static_cast<uint8_t>(i * 3 + i / b->pitch * 7);
    Check(QuarvBufferBlit(b, nullptr, 0, 0, 0, 0, 16, 16) == 256 && requests.back().code == 0x0A500401u &&
              requests.back().data == std::vector<uint8_t>(b->pixels, b->pixels + 160 * 204),
          "a blit sends the whole buffer in a draw request 0x0A500401");
    uint8_t rgb[768];
    for (int i = 0; i < 768; i++) rgb[i] = static_cast<uint8_t>(i * 5 + 1);
    UpdateDisplayPalette(b, rgb);
    const SharedBitmapHeader colours = requests.back().Header();
    const auto* slot7 = reinterpret_cast<const uint8_t*>(&colours.colours[7]);
    Check(requests.back().code == 0x8AC50400u && requests.back().data.size() == 1064 && slot7[0] == rgb[23] &&
              slot7[1] == rgb[22] && slot7[2] == rgb[21] && slot7[3] == 0,
          "new-colours request 0x8AC50400 with the colours as blue, green, red, 0");

    // Activation of the driver's window is passed on to the player window and redraws; deactivation stops drawing.
    const size_t before = requests.size();
    activations.clear();
    SendMessageA(driver, WM_ACTIVATE, WA_ACTIVE, 0);
    Check(activations == std::vector<WPARAM>{WA_ACTIVE} && b->active == 1 && requests.size() == before + 1 &&
              requests.back().code == 0x0A500401u,
          "activation passed on as 0x5A78, and the picture redrawn");
    SendMessageA(driver, WM_ACTIVATE, WA_INACTIVE, 0);
    Check(activations.size() == 2 && activations[1] == WA_INACTIVE && b->active == 0 && requests.size() == before + 1,
          "deactivation passed on, and nothing drawn");
    QuarvBufferClose(b);
    Pump(200);
    Check(requests.back().code == 0x0402 && !IsWindow(driver), "closing sends the driver 0x0402 and removes its window");

    // Type 2 (320 x 200) has codes of its own and keeps the height.
    requests.clear();
    b = QuarvBufferOpen(owner, 2, 320, 200, 0, 0);
    if (b) UpdateDisplayPalette(b, rgb);
    Check(b && Sent(0x8AD10400u) == 1 && requests[0].Header().height == 200 && requests.back().code == 0x8AC10400u,
          "type 2: set-format 0x8AD10400 of height 200, new colours 0x8AC10400");
    QuarvBufferClose(b);
    DestroyWindow(owner);

    // A second movie not larger than the first keeps the full-screen
    // display: cleared to colour 0 and shown, or with /C left alone.
    for (const uint32_t noClear : {0u, uint32_t{DISPLAY_NO_CLEAR}}) {
        const uint32_t flags = 22 | noClear;  // /V1
        if (!OpenPlayerWindow(160, 120, -1, -1, flags)) {
            Check(false, "the player window in full screen");
            continue;
        }
        QuarvBuffer* first = PlayerDisplay();
        const size_t size = size_t{first->pitch} * first->height;
        std::memset(first->pixels, 0x5A, size);
        requests.clear();
        const bool reused = OpenPlayerWindow(120, 100, -1, -1, flags) && PlayerDisplay() == first && !Sent(0x8AD50400u);
        const size_t zeros = reused ? std::count(first->pixels, first->pixels + size, 0) : 0;
        if (noClear)
            Check(reused && zeros == 0 && !Sent(0x0A500401u), "/C: the second movie reuses the display, not cleared");
        else
            Check(reused && zeros == size && Sent(0x0A500401u) == 1 && requests.back().data == std::vector<uint8_t>(size, 0),
                  "the second movie reuses the display, cleared to colour 0 and shown");
        ClosePlayerWindow();
    }
    return Verdict();
}

namespace {

struct ModeCall {
    bool record;
    DWORD size, fields, width, height, flags;
};
std::vector<ModeCall> modeCalls;
LONG modeAnswer = DISP_CHANGE_SUCCESSFUL;

LONG WINAPI ModeRecorder(DEVMODEA* mode, DWORD flags) {
    modeCalls.push_back({mode != nullptr, mode ? mode->dmSize : 0u, mode ? mode->dmFields : 0u, mode ? mode->dmPelsWidth : 0u,
                         mode ? mode->dmPelsHeight : 0u, flags});
    return modeAnswer;
}

// Writes a jump to the recorder over the start of user32's function.
bool Redirect(const char* name) {
    auto* target = reinterpret_cast<uint8_t*>(GetProcAddress(LoadLibraryA("user32.dll"), name));
    uint8_t code[12];
#if defined(_WIN64)
    code[0] = 0x48, code[1] = 0xB8;  // mov rax, recorder; jmp rax
    const uint64_t to = reinterpret_cast<uint64_t>(&ModeRecorder);
    std::memcpy(code + 2, &to, 8);
    code[10] = 0xFF, code[11] = 0xE0;
#else
    code[0] = 0xE9;  // jmp rel32
    const int32_t rel = static_cast<int32_t>(reinterpret_cast<intptr_t>(&ModeRecorder) - reinterpret_cast<intptr_t>(target + 5));
    std::memcpy(code + 1, &rel, 4);
#endif
    const size_t n = sizeof(void*) == 8 ? 12 : 5;
    DWORD old;
    if (!target || !VirtualProtect(target, n, PAGE_EXECUTE_READWRITE, &old)) return false;
    std::memcpy(target, code, n);
    VirtualProtect(target, n, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, n);
    return true;
}

}  // namespace

int DisplayModeMain(int, char**) {
    if (!Redirect("ChangeDisplaySettingsA")) {
        Check(false, "recorder in place of ChangeDisplaySettingsA");
        return Verdict();
    }
    // /D1../D4: a 156-byte record with width and height only, full-screen
    // change; 0 restores (no record); other numbers make no call.
    const struct {
        int32_t mode;
        DWORD width, height;
        size_t calls;
    } cases[] = {{1, 640, 400, 1}, {2, 640, 480, 1}, {3, 800, 600, 1}, {4, 1024, 768, 1}, {0, 0, 0, 1}, {5, 0, 0, 0}, {-1, 0, 0, 0}};
    for (const auto& c : cases) {
        modeCalls.clear();
        const bool made = ChangeDisplayMode(c.mode);
        const ModeCall m = modeCalls.empty() ? ModeCall{} : modeCalls[0];
        const bool ok = modeCalls.size() == c.calls &&
                        (!c.calls || (m.flags == CDS_FULLSCREEN && m.record == (c.mode != 0) && made &&
                                      (!m.record || (m.size == 156 && m.fields == (DM_PELSWIDTH | DM_PELSHEIGHT) &&
                                                     m.width == c.width && m.height == c.height))));
        Check(ok && (c.calls || !made), "/D" + std::to_string(c.mode));
    }
    modeAnswer = DISP_CHANGE_BADMODE;
    Check(!ChangeDisplayMode(2), "a refused change reports failure");
    return Verdict();
}

namespace {

bool Grayed(HWND w, int position) {
    return (GetMenuState(GetSystemMenu(w, FALSE), position, MF_BYPOSITION) & MF_GRAYED) != 0;
}

}  // namespace

int KeysMain(int, char**) {
    AppInstance = GetModuleHandleA(nullptr);
    ArrowCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    if (!OpenPlayerWindow(64, 48, -1, -1, 0)) {
        Check(false, "OpenPlayerWindow");
        return Verdict();
    }
    HWND w = PlayerWindow;
    char cls[16] = {};
    GetClassNameA(w, cls, sizeof cls);
    // System menu by position: Restore, Move, Size, Minimize, Maximize.
    Check(Grayed(w, 0) && !Grayed(w, 1) && Grayed(w, 2) && !Grayed(w, 3) && Grayed(w, 4),
          "system menu: Restore, Size, Maximize greyed; Move, Minimize enabled");
    SendMessageA(w, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    PumpMessages();
    Check(!Grayed(w, 0) && Grayed(w, 3), "minimised: Restore enabled, Minimize greyed");
    SendMessageA(w, WM_SYSCOMMAND, SC_RESTORE, 0);
    PumpMessages();
    Check(Grayed(w, 0) && !Grayed(w, 3), "restored: Restore greyed, Minimize enabled");
    SetForegroundWindow(w);
    SetFocus(w);
    while (KeyWaiting()) GetKey();
    if (FILE* f = std::fopen("keys.ready", "w")) std::fclose(f);
    // Shift+F1, Ctrl+F2, Shift+Tab, Alt+F4, Space, ".", Enter, Escape.
    std::vector<int> typed;
    const std::vector<int> wanted = {218, 229, 137, 241, 32, 46, 13, 27};
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000 && (typed.empty() || typed.back() != 27);)
        KeyWaiting() ? typed.push_back(GetKey()) : Sleep(10);
    std::string got;
    for (int c : typed) got += " " + std::to_string(c);
    Check(typed == wanted, "typed keys' codes:" + got);
    ClosePlayerWindow();
    WNDCLASSA wc;
    Check(!IsWindow(w) && !GetClassInfoA(AppInstance, cls, &wc), "ClosePlayerWindow removes the window and its class");
    return Verdict();
}
