// ChangeDisplaySettingsA is looked up at run time: systems without it (or
// without a way to change the mode) simply keep the screen as it is.
#include <windows.h>

#include "player/display_mode.h"
#include "player/loop_rules.h"

namespace {

typedef LONG(WINAPI* ChangeDisplaySettingsFn)(DEVMODEA*, DWORD);

ChangeDisplaySettingsFn changeSettings;
bool lookedUp;

// The mode record as the function's first version knew it: the fields up to
// the vertical resolution, nothing after.
constexpr WORD kModeRecordSize = 156;
static_assert(sizeof(DEVMODEA) >= kModeRecordSize, "the mode record holds the fields used");

ChangeDisplaySettingsFn Lookup() {
    if (!lookedUp) {
        lookedUp = true;
        if (HMODULE user = GetModuleHandleA("user32.dll"))
            changeSettings = reinterpret_cast<ChangeDisplaySettingsFn>(
                reinterpret_cast<void*>(GetProcAddress(user, "ChangeDisplaySettingsA")));
    }
    return changeSettings;
}

}  // namespace

bool ChangeDisplayMode(int32_t mode) {
    uint32_t width = 0, height = 0;
    if (mode != 0 && !DisplayModeSize(mode, &width, &height)) return false;
    ChangeDisplaySettingsFn change = Lookup();
    if (!change) return false;
    if (mode == 0) return change(nullptr, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
    DEVMODEA record;
    ZeroMemory(&record, sizeof record);
    record.dmSize = kModeRecordSize;
    record.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT;
    record.dmPelsWidth = width;
    record.dmPelsHeight = height;
    return change(&record, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL;
}
