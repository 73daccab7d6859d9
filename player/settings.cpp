#include "player/settings.h"

#include "movie/movie.h"

namespace {
// constexpr so that Settings is initialised statically, before any code runs.
constexpr PlayerSettings MakeInitialSettings() {
    PlayerSettings s{};
    s.ParentWindow = 0;
    s.WindowX = -1;
    s.WindowY = -1;
    s.OpenFlags = OPEN_ALL_TRACKS;
    s.DisplayFlags = 0;
    s.LoopCount = 1;
    s.FrameRate = -1;
    s.SimulatedRate = 0;
    s.ExtraBuffer = 0xFFFFFFFFu;
    s.DisabledControls = 0;
    s.StretchWidth = 0;
    s.StretchHeight = 0;
    s.DisplayMode = 0;
    s.RemapOption = 0;
    return s;
}
}  // namespace

PlayerSettings Settings = MakeInitialSettings();

PlayerSettings DefaultPlayerSettings() { return MakeInitialSettings(); }

void ResetPlayerSettings() { Settings = MakeInitialSettings(); }
