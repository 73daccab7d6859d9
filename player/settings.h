// The player's process-wide settings: one value per command-line switch,
// written only while switches are parsed (and by /# at start-up), read-only
// once the first movie is opened.
#pragma once
#include <cstdint>

// Display flags word: the video-type code and the window and display options.
enum : uint32_t {
    DISPLAY_TYPE_MASK = 0x1F,        // video-type code: 0 automatic, 22..25 for /V1../V4
    DISPLAY_NO_DIRECTDRAW = 0x20,
    DISPLAY_SMOOTH = 0x40,
    DISPLAY_INTERLACED = 0x80,
    DISPLAY_DOUBLE_BUFFER = 0x100,   // /B
    DISPLAY_NO_CAPTION = 0x200,      // /I style bits: 0x200, 0x4000, 0x8000
    DISPLAY_NO_CLEAR = 0x1000,       // /C
    DISPLAY_NO_DLGFRAME = 0x4000,
    DISPLAY_THIN_BORDER = 0x8000,
    DISPLAY_STYLE_MASK = DISPLAY_NO_CAPTION | DISPLAY_NO_DLGFRAME | DISPLAY_THIN_BORDER,
};

// Video-type code of the standard Windows DIBs, forced by /O.
constexpr uint32_t kVideoTypeStandard = 24;

// Disabled controls (/U).
enum : uint32_t { CONTROL_PAUSE = 1, CONTROL_SKIP = 2, CONTROL_QUIT = 4 };

struct PlayerSettings {
    uintptr_t ParentWindow;      // /#: parent window handle, 0 = none
    int32_t WindowX;             // /X: -1 centres the client area
    int32_t WindowY;             // /Y
    uint32_t OpenFlags;          // second argument of QuarvOpen
    uint32_t DisplayFlags;       // see DISPLAY_*
    uint32_t LoopCount;          // /L: 0xFFFFFFFF for a bare /L
    int32_t FrameRate;           // /F: -1 movie's own, 0 fastest, n > 0 fps, n < 0 10-us units
    uint32_t SimulatedRate;      // /M: bytes per second, 0 = off
    uint32_t ExtraBuffer;        // /E: third argument of QuarvOpen, 0xFFFFFFFF = library's choice
    uint32_t DisabledControls;   // /U: CONTROL_* bits
    int32_t StretchWidth;        // /W: 0 = no stretching
    int32_t StretchHeight;       // /H
    int32_t DisplayMode;         // /D: 1..4 = 640x400, 640x480, 800x600, 1024x768
    uint8_t RemapOption;         // /R: 1 system palette, 2 never remap
    bool ShowSummary;            // /S
    bool DifferencesOnly;        // /K
    bool FrameInCaption;         // /Q
    bool SoundOnly;              // /O
    bool KeepPlayingUnfocused;   // /J
    bool UseDirectSound;         // /Z: the result of installing the DirectSound driver
    bool NoMmx;                  // /@
};

extern PlayerSettings Settings;

// The initial values, as at process start.
PlayerSettings DefaultPlayerSettings();
// Back to the initial values; for tests, which run many parses in one process.
void ResetPlayerSettings();
