// The native player's window: an SDL window with the display of the movie
// being played, its events turned into the player's key codes.
#pragma once
#include <cstdint>

struct SdlDisplay;

// Makes sure the window exists and shows a new display for a width x
// height movie at `scale` (1 or 2, `doubling` at 2x, display/display.h).
// False when the window or the display cannot be had.
bool OpenSdlWindow(uint32_t width, uint32_t height, uint32_t scale, uint32_t doubling, bool fullScreen);
// Takes the display and the window down; the display is described for the
// summary first.
void CloseSdlWindow();
SdlDisplay* SdlWindowDisplay();
bool SdlWindowExists();
bool SdlWindowFocused();
void SetSdlWindowTitle(const char* text);

// Handles every waiting event, waiting up to waitMs for the first one:
// keys go to the key queue (player/window.h), F and Alt+Enter switch full
// screen, a closed window or an interrupt queues the close code, an
// exposed or resized window is drawn again.
void PumpSdlEvents(int waitMs);
