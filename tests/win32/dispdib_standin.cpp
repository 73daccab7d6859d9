// The full-screen types against a stand-in for the DISPDIB driver: this
// program registers a "DisplayDibWindow" class of its own whose window
// records every WM_COPYDATA request (code, byte count, header, pixels) and
// the player window records the activation messages passed on to it. Last,
// two movies in full screen through the player window's own code.
//   dispdib_standin RESULTFILE
// Exit code 0 when every check passed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "display/display.h"
#include "display/display_backend.h"
#include "player/settings.h"
#include "player/win32/app_win32.h"
#include "player/window.h"

HINSTANCE AppInstance = nullptr;
HCURSOR ArrowCursor = nullptr;
HWND PlayerWindow = nullptr;

namespace {

FILE* result = nullptr;
int failures = 0;

void Check(bool ok, const char* what, long a = 0, long b = 0) {
    std::fprintf(result, "%s %s (%ld, %ld)\n", ok ? "PASS" : "FAIL", what, a, b);
    std::fflush(result);
    if (!ok) failures++;
}

struct Request {
    ULONG_PTR code;
    std::vector<uint8_t> data;
};
std::vector<Request> requests;
std::vector<UINT> driverMessages;  // plain messages the stand-in got (close)
std::vector<WPARAM> activations;   // wParam of each 0x5A78 the player window got

LRESULT CALLBACK StandInProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_COPYDATA) {
        const auto* cd = reinterpret_cast<const COPYDATASTRUCT*>(lp);
        const auto* p = static_cast<const uint8_t*>(cd->lpData);
        requests.push_back(Request{cd->dwData, std::vector<uint8_t>(p, p + cd->cbData)});
        return 1;
    }
    if (m == 0x0402) driverMessages.push_back(m);
    return DefWindowProcA(w, m, wp, lp);
}

LRESULT CALLBACK PlayerProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == 0x5A78) {
        activations.push_back(wp);
        return HTCLIENT;
    }
    return DefWindowProcA(w, m, wp, lp);
}

void Pump() {
    MSG msg;
    for (int i = 0; i < 20; i++) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
        Sleep(10);
    }
}

SharedBitmapHeader HeaderOf(const Request& r) {
    SharedBitmapHeader h{};
    if (r.data.size() == sizeof h) memcpy(&h, r.data.data(), sizeof h);
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    result = std::fopen(argv[1], "w");
    if (!result) return 2;
    HINSTANCE instance = GetModuleHandleA(nullptr);
    WNDCLASSA wc{};
    wc.hInstance = instance;
    wc.lpfnWndProc = PlayerProc;
    wc.lpszClassName = "StandInPlayer";
    RegisterClassA(&wc);
    HWND player = CreateWindowExA(0, "StandInPlayer", "player", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 150,
                                  nullptr, nullptr, instance, nullptr);

    // Without the driver (Wine has no DISPDIB.DLL) the full-screen types fail.
    for (uint32_t type : {1u, 2u, 3u})
        Check(QuarvBufferOpen(player, type, 160, 120, 0, 0) == nullptr, "no driver: the open fails", long(type));
    Check(requests.empty(), "no driver: nothing sent");

    wc.lpfnWndProc = StandInProc;
    wc.lpszClassName = "DisplayDibWindow";
    RegisterClassA(&wc);
    AssumeFullScreenDriverForTests();

    QuarvBuffer* b = QuarvBufferOpen(player, 1, 160, 120, 0, 0);
    Check(b != nullptr, "type 1 opens with the stand-in");
    if (!b) {
        std::fclose(result);
        return 1;
    }
    HWND driver = static_cast<HWND>(b->dispDibWindow);
    char cls[64] = "";
    GetClassNameA(driver, cls, sizeof cls);
    Check(std::strcmp(cls, "DisplayDibWindow") == 0, "the driver's window is of its class");
    Check(GetWindow(driver, GW_OWNER) == player, "owned by the player window");
    Check(IsIconic(player) != 0, "player window minimised");
    RECT r;
    GetWindowRect(driver, &r);
    Check(IsWindowVisible(driver) && r.right - r.left == GetSystemMetrics(SM_CXSCREEN) &&
              r.bottom - r.top == GetSystemMetrics(SM_CYSCREEN),
          "driver window shown over the whole screen", r.right - r.left, r.bottom - r.top);
    Check((GetWindowLongA(driver, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0, "driver window topmost");

    Check(!requests.empty() && requests[0].code == 0x8AD50400u && requests[0].data.size() == 1064,
          "set-format request first", requests.empty() ? 0 : long(requests[0].code),
          requests.empty() ? 0 : long(requests[0].data.size()));
    if (!requests.empty()) {
        const SharedBitmapHeader h = HeaderOf(requests[0]);
        Check(h.size == 40 && h.width == 160 && h.height == 204 && h.bitCount == 8 && h.planes == 1,
              "set-format header: 160 x 204, 8 bits", h.width, h.height);
        const auto* slots = reinterpret_cast<const uint16_t*>(h.colours);
        Check(slots[0] == 0 && slots[1] == 1 && slots[255] == 255, "identity colour slots", slots[1], slots[255]);
    }

    for (uint32_t y = 0; y < b->height; y++)
        for (uint32_t x = 0; x < b->pitch; x++) b->pixels[y * b->pitch + x] = uint8_t(x * 3 + y * 7);
    size_t before = requests.size();
    const uint32_t drew = QuarvBufferBlit(b, nullptr, 0, 0, 0, 0, 16, 16);
    Check(drew == 256, "a blit draws the whole buffer", long(drew));
    Check(requests.size() == before + 1 && requests.back().code == 0x0A500401u &&
              requests.back().data.size() == size_t(160) * 204 &&
              memcmp(requests.back().data.data(), b->pixels, 160 * 204) == 0,
          "draw request with the pixels", long(requests.size() - before),
          requests.empty() ? 0 : long(requests.back().data.size()));

    uint8_t rgb[768];
    for (int i = 0; i < 768; i++) rgb[i] = uint8_t(i * 5 + 1);
    UpdateDisplayPalette(b, rgb);
    const Request& colours = requests.back();
    const SharedBitmapHeader ch = HeaderOf(colours);
    const auto* slot7 = reinterpret_cast<const uint8_t*>(&ch.colours[7]);
    Check(colours.code == 0x8AC50400u && colours.data.size() == 1064, "new-colours request",
          long(colours.code), long(colours.data.size()));
    Check(slot7[0] == rgb[23] && slot7[1] == rgb[22] && slot7[2] == rgb[21] && slot7[3] == 0,
          "colours as blue, green, red, 0 in the slots", slot7[0], rgb[23]);

    // Activation: the driver's window passes it on and redraws.
    activations.clear();
    before = requests.size();
    SendMessageA(driver, WM_ACTIVATE, WA_ACTIVE, 0);
    Check(activations.size() == 1 && activations[0] == WA_ACTIVE, "activation passed on as 0x5A78",
          long(activations.size()));
    Check(b->active == 1 && requests.size() == before + 1 && requests.back().code == 0x0A500401u,
          "activation redraws", long(requests.size() - before));
    SendMessageA(driver, WM_ACTIVATE, WA_INACTIVE, 0);
    Check(activations.size() == 2 && activations[1] == WA_INACTIVE && b->active == 0,
          "deactivation passed on and recorded", long(activations.size()));
    Check(requests.size() == before + 1, "no drawing while inactive", long(requests.size() - before));

    QuarvBufferClose(b);
    Pump();
    Check(driverMessages.size() == 1, "close message 0x0402 sent", long(driverMessages.size()));
    Check(!IsWindow(driver), "driver window gone after close");

    // Type 2 uses the 320x200 codes and keeps the height.
    requests.clear();
    b = QuarvBufferOpen(player, 2, 320, 200, 0, 0);
    Check(b != nullptr && !requests.empty() && requests[0].code == 0x8AD10400u &&
              HeaderOf(requests[0]).height == 200,
          "type 2 set-format", requests.empty() ? 0 : long(requests[0].code));
    if (b) {
        UpdateDisplayPalette(b, rgb);
        Check(requests.back().code == 0x8AC10400u, "type 2 new colours", long(requests.back().code));
        QuarvBufferClose(b);
    }

    DestroyWindow(player);

    // A second movie not larger than the first reuses the full-screen
    // display: cleared to colour 0 and shown, or left alone with /C.
    AppInstance = instance;
    for (const uint32_t noClear : {0u, uint32_t{DISPLAY_NO_CLEAR}}) {
        const uint32_t flags = 22 | noClear;  // /V1: full screen 320x240
        if (!OpenPlayerWindow(160, 120, -1, -1, flags)) {
            Check(false, "player window in full screen", long(noClear));
            continue;
        }
        QuarvBuffer* first = PlayerDisplay();
        std::memset(first->pixels, 0x5A, size_t(first->pitch) * first->height);
        requests.clear();
        const bool opened = OpenPlayerWindow(120, 100, -1, -1, flags);
        auto sent = [](uint32_t code) {
            return std::count_if(requests.begin(), requests.end(), [code](const Request& r) { return r.code == code; });
        };
        const size_t draws = sent(0x0A500401u), formats = sent(0x8AD50400u);
        const bool reused = opened && PlayerDisplay() == first && formats == 0;
        Check(reused, "the second movie reuses the display", long(noClear), long(formats));
        size_t zeros = 0;
        for (size_t i = 0; reused && i < size_t(first->pitch) * first->height; i++) zeros += first->pixels[i] == 0;
        if (reused && noClear)
            Check(zeros == 0 && draws == 0, "/C: not cleared, nothing drawn", long(zeros), long(draws));
        if (reused && !noClear)
            Check(zeros == size_t(first->pitch) * first->height && draws == 1 &&
                      requests.back().data == std::vector<uint8_t>(requests.back().data.size(), 0),
                  "cleared to colour 0 and shown", long(zeros), long(draws));
        ClosePlayerWindow();
    }

    std::fprintf(result, "%s\n", failures ? "FAILED" : "ALL PASSED");
    std::fclose(result);
    return failures ? 1 : 0;
}
