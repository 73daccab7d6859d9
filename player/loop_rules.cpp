#include "player/loop_rules.h"

#include <cstdio>
#include <cstring>

#include "display/display.h"
#include "player/settings.h"
#include "player/window.h"

KeyAction ActionForKey(int key, uint8_t paused, uint32_t disabledControls) {
    switch (key) {
        case KEY_ENTER:
            return paused ? KeyAction::Step : KeyAction::None;
        case KEY_ESCAPE:
        case KEY_CLOSE:
            return (disabledControls & CONTROL_QUIT) ? KeyAction::None : KeyAction::Quit;
        case KEY_SPACE:
            return (disabledControls & CONTROL_PAUSE) ? KeyAction::None : KeyAction::TogglePause;
        case KEY_PERIOD:
            return (disabledControls & CONTROL_SKIP) ? KeyAction::None : KeyAction::Skip;
        default:
            return KeyAction::None;
    }
}

bool FrameEndsMovie(uint32_t frameNum, uint32_t lastFrame, bool multiFile, uint32_t* loopCount) {
    if (frameNum != lastFrame) return false;
    if (multiFile) return true;
    return --*loopCount == 0;
}

bool ListRepeats(uint32_t* loopCount) { return --*loopCount != 0; }

FocusAction FocusRule(bool keepPlayingUnfocused, bool focused, bool active) {
    if (!keepPlayingUnfocused && !focused) return active ? FocusAction::SoundOff : FocusAction::None;
    return active ? FocusAction::None : FocusAction::SoundOn;
}

bool WaitIsOver(uint32_t waitResult, bool active, uint8_t paused, bool step) {
    return waitResult == 0 && active && (paused == 0 || step);
}

uint32_t DrawProgressBar(uint8_t* row, uint32_t width, uint32_t frameNum, uint32_t frames) {
    if (!row || width == 0) return 0;
    // A movie's ring frame is numbered Frames: without the cap it would
    // write one byte past the row.
    uint32_t n = static_cast<uint32_t>((static_cast<uint64_t>(frameNum) * width / (frames ? frames : 1) + 1) & 0xFF);
    if (n > width) n = width;
    std::memset(row, 9, n);
    std::memset(row + n, 0, width - n);
    return n;
}

void FrameCaption(char* text, size_t size, uint32_t frameNum) {
    std::snprintf(text, size, "QuarvPlay - Frame: %lu", static_cast<unsigned long>(frameNum) + 1);
}

bool IsOwnImageName(const char* name) { return name && name[0] == ':'; }

bool OwnImageOffset(const char* name, uint32_t* offset) {
    uint32_t value = 0;
    for (const char* p = name + 1; *p >= '0' && *p <= '9'; p++) {
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (value > 0x7FFFFFFFu) return false;
    }
    *offset = value;
    return true;
}

bool DisplayModeSize(int32_t mode, uint32_t* width, uint32_t* height) {
    static const uint32_t kSizes[4][2] = {{640, 400}, {640, 480}, {800, 600}, {1024, 768}};
    if (mode < 1 || mode > 4) return false;
    *width = kSizes[mode - 1][0];
    *height = kSizes[mode - 1][1];
    return true;
}

bool DisplayHasFocus(const QuarvBuffer* display, const void* focusWindow) {
    if (!display) return false;
    if (display->fullScreen) return display->active != 0;
    return focusWindow && focusWindow == display->playerWindow;
}
