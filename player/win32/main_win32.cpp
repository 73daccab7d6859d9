// The program's entry: the command line, the parent-window protocol of /#,
// the switches and names, playback, and the closing banner to the parent.
#include <windows.h>

#include <cstring>

#include "common/cpu.h"
#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/message_box.h"
#include "player/message_text.h"
#include "player/playback.h"
#include "player/selfplay.h"
#include "player/settings.h"
#include "player/window.h"
#include "player/win32/app_win32.h"

HINSTANCE AppInstance = nullptr;
HCURSOR ArrowCursor = nullptr;
HWND PlayerWindow = nullptr;

namespace {

// A parent titled like this knows the protocol: asked with kParentQuery, it
// answers kParentLetsGo when the player should run on its own.
const char kParentTitlePrefix[] = "Quarvel for Windows";
constexpr size_t kParentTitlePrefixLength = sizeof(kParentTitlePrefix) - 1;
constexpr UINT kParentQuery = 10019;
constexpr LRESULT kParentLetsGo = 8995;
constexpr ULONG_PTR kBannerDataCode = 4660;

HWND CheckParent(HWND parent) {
    if (!parent) return nullptr;
    char title[31] = {};
    GetWindowTextA(parent, title, sizeof title);
    if (std::strncmp(title, kParentTitlePrefix, kParentTitlePrefixLength) == 0 &&
        SendMessageA(parent, kParentQuery, 0, 0) == kParentLetsGo)
        return nullptr;
    return parent;
}

void RunPlayer(char* commandLine) {
    char* names = PrepareNames(SelfPlayConfigText(), commandLine);
    if (!names) return;
    if (Settings.NoMmx) QuarvUseMMX(0);
    PlayMovies(names);
}

void SendBanner(HWND parent) {
    if (!parent || !IsWindow(parent)) return;
    // The byte count covers the terminator and the 15 zero bytes after it,
    // which parents of this protocol expect.
    static char banner[256];
    std::memset(banner, 0, sizeof banner);
    const size_t length = strnlen(kBannerText, sizeof banner - 16);
    std::memcpy(banner, kBannerText, length);
    COPYDATASTRUCT data;
    data.dwData = kBannerDataCode;
    data.cbData = static_cast<DWORD>(length + 16);
    data.lpData = banner;
    SendMessageA(parent, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int) {
    UsageHook = ShowUsage;
    UseDirectSoundHook = [] { return QuarvUseDirectSound(nullptr); };
    ArrowCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    AppInstance = instance;

    static char line[kCommandLineSize];
    const bool lineFits = CopyCommandLine(line, commandLine);

    Settings.ParentWindow = reinterpret_cast<uintptr_t>(CheckParent(reinterpret_cast<HWND>(TakeParentSwitch(line))));

    PumpMessages();  // everything already queued, before any window of ours exists

    SetPlayerTitle(kPlayerTitle);
    if (lineFits) RunPlayer(line);
    else ShowUsage();  // too long to hold: refused rather than cut

    SendBanner(reinterpret_cast<HWND>(Settings.ParentWindow));
    return 0;
}
