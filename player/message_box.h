// The player's message boxes (Win32 build: player/win32/message_box_win32.cpp).
#pragma once

// A box with text1 + text2 + text3 (see ComposeMessageText) and only an OK
// button; title null = the player title. icon 1 = the stop icon, else none.
// Owned by the player window, else by the parent window of /#, else none.
void ShowMessage(const char* title, const char* text1, const char* text2, const char* text3, int icon);

// The usage box: the switch list, no icon.
void ShowUsage();
