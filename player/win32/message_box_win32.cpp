#include <windows.h>

#include "player/cmdline.h"
#include "player/message_box.h"
#include "player/message_text.h"
#include "player/settings.h"
#include "player/win32/app_win32.h"

void ShowMessage(const char* title, const char* text1, const char* text2, const char* text3, int icon) {
    char text[kMessageTextSize];
    ComposeMessageText(text, sizeof text, text1, text2, text3);
    HWND owner = PlayerWindow ? PlayerWindow : reinterpret_cast<HWND>(Settings.ParentWindow);
    // A /# handle that names no window would make the system refuse the box.
    if (owner && !IsWindow(owner)) owner = nullptr;
    const UINT style = icon == 1 ? (MB_ICONSTOP | MB_OK) : MB_OK;
    MessageBoxA(owner, text, MessageTitle(title), style);
}

void ShowUsage() { ShowMessage(kUsageTitle, kUsageText, nullptr, nullptr, 0); }
