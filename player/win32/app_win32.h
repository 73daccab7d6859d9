// Process-wide handles of the Win32 player shared by its start-up, window
// and message-box code.
#pragma once
#include <windows.h>

extern HINSTANCE AppInstance;  // the program's instance
extern HCURSOR ArrowCursor;    // the window class's cursor
extern HWND PlayerWindow;      // the player window while it exists, else null
