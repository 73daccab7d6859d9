// Plays the end of a run as the player does: opens and closes the player
// window (which keeps the display's description and screen colours), fills
// the statistics, and shows the summary box. The box is read by boxreader.
//   player_summary_gui [none]   -- "none": no frame was decoded
#include <windows.h>

#include <cstring>

#include "player/settings.h"
#include "player/summary.h"
#include "player/win32/app_win32.h"
#include "player/window.h"

HINSTANCE AppInstance = nullptr;
HCURSOR ArrowCursor = nullptr;
HWND PlayerWindow = nullptr;

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    AppInstance = instance;
    ArrowCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    if (!OpenPlayerWindow(160, 120, -1, -1, 0)) return 1;
    ClosePlayerWindow();

    SummaryFigures& f = SummaryData();
    PlaybackSummary& r = f.record;
    r.TotalTime = 61000;
    r.FrameTime = 6666;
    r.OpenTime = 1;
    r.FramesDecoded = (__argc > 1 && std::strcmp(__argv[1], "none") == 0) ? 0 : 915;
    r.FramesSkipped = 2;
    r.SoundSkips = 0;
    r.CopyTime = 1234;
    r.ReadTime = 800;
    r.DecodeTime = 4567;
    r.BgReadTime = 99;
    r.ReadRate = 150000;
    r.SlowestTime = 80;
    r.SecondSlowestTime = 70;
    r.SlowestFrame = 12;
    r.SecondSlowestFrame = 200;
    r.AverageFrameSize = 5120;
    r.PeakMemUsed = 345678;
    r.BufSize = 65536;
    r.BufHighWater = 40000;
    f.peakRate = 98765;
    f.peakFrame = 31;
    ShowSummary();
    return 0;
}
