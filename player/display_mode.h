// The screen resolution of /D, changed for the playback and restored after.
#pragma once
#include <cstdint>

// 1..4 switch the screen to 640x400, 640x480, 800x600 or 1024x768 (full-screen
// change, not stored); 0 restores the stored mode; other numbers do nothing.
// True when the system made the change. Win32 only.
bool ChangeDisplayMode(int32_t mode);
