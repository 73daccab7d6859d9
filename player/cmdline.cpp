#include "player/cmdline.h"

#include <cstring>

#include "movie/movie.h"
#include "player/settings.h"

#define QUARVEL_COPYRIGHT "Copyright (c) 2026 Quarvel developers"

const char kCopyrightNotice[] = QUARVEL_COPYRIGHT;
const char kDefaultExtension[] = ".Qvl";
const char kUsageTitle[] = "QuarvPlay  V 3.1r - " QUARVEL_COPYRIGHT;
const char kBannerText[] = "QuarvPlay - V3.1r  " QUARVEL_COPYRIGHT;

const char kUsageText[] =
    "  SYNTAX: QuarvPly <Quarv1 Quarv2...> [/Switches]\r\n"
    "  Switches:\r\n"
    "    /P  \t- Preload the entire Quarvel animation.\r\n"
    "    /L##\t- Loop the animation (/L for infinite).\r\n"
    "    /F##\t- Use this frame rate (/F for fast).\r\n"
    "    /T##\t- Play the specified sound tracks.\r\n"
    "    /S  \t- Show the playback summary when finished.\r\n"
    "    /X##\t- Specifies the X coordinate of the playback.\r\n"
    "    /Y##\t- Specifies the Y coordinate of the playback.\r\n"
    "    /B  \t- Double-buffer (slower, but reduces tearing).\r\n"
    "    /M##\t- Simulate this read speed (in bytes/second).\r\n"
    "    /E##\t- Use this much extra memory for buffering.\r\n"
    "    /G  \t- Fill the extra memory buffer in QuarvOpen.\r\n"
    "    /U##\t- Disable controls: 1=pause, 2=skip, 4=quit.\r\n"
    "    /N  \t- Never skip frames when falling behind.\r\n"
    "    /C  \t- Don't clear the buffer in between animations.\r\n"
    "    /O  \t- Play sound tracks only - no video.\r\n"
    "    /K  \t- Only show differences between frames.\r\n"
    "    /A##\t- Height scaling: 1=Interlace, 2=Double, 3=Force none.\r\n"
    "    /Z  \t- Use DirectSound for sound output.\r\n"
    "    /Q  \t- Show current frame number in caption.\r\n"
    "    /I# \t- Window style: 1=thin border, 2=thin, no caption, 3=no caption, 4=nothing.\r\n"
    "    /J  \t- Don't pause the video when the focus is lost.\r\n"
    "    /R##\t- Remap options: 1=remap to current system palette, 2=don't remap at all.\r\n"
    "    /W##\t- Stretch to this width in pixels (very slow!!)\r\n"
    "    /H##\t- Stretch to this height in pixels (very slow!!)\r\n"
    "    /@  \t- Don't use MMX (even if supported by the CPU).\r\n"
    "    /D##\t- Display resolution: 1=640x400, 2=640x480, 3=800x600, 4=1024x768.\r\n"
    "    /V##\t- Video type: 1=320x240, 2=320x200, 3=Standard, 4=DIBSection.\r\n"
    "        \t    Add 128 for interlaced, 256 for smoothing, or 384 for no DirectDraw.";

void (*UsageHook)() = nullptr;
bool (*UseDirectSoundHook)() = nullptr;

namespace {

void ShowUsageBox() {
    if (UsageHook) UsageHook();
}

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Removes n bytes at p; the rest of the text, terminator included, moves down.
void Cut(char* p, size_t n) { std::memmove(p, p + n, std::strlen(p + n) + 1); }

// Number form "/X##" or "/X-##": the first "/" with the letter that has
// digits after it; others with the letter are passed over.
bool TakeNumber(char* text, char letter, int32_t* value) {
    for (char* p = std::strchr(text, '/'); p; p = std::strchr(p + 1, '/')) {
        if (Upper(p[1]) != letter) continue;
        char* q = p + 2;
        bool negative = false;
        if (q[0] == '-' && IsDigit(q[1])) {
            negative = true;
            ++q;
        }
        if (!IsDigit(*q)) continue;
        // Wraps like a 32-bit register instead of overflowing on long digit runs.
        uint32_t v = 0;
        while (IsDigit(*q)) v = v * 10u + static_cast<uint32_t>(*q++ - '0');
        *value = static_cast<int32_t>(negative ? 0u - v : v);
        Cut(p, static_cast<size_t>(q - p));
        return true;
    }
    return false;
}

// Flag form "/X": the first "/" with the letter that is followed by a blank,
// the end, or any other byte below "0".
bool TakeFlag(char* text, char letter) {
    for (char* p = std::strchr(text, '/'); p; p = std::strchr(p + 1, '/')) {
        if (Upper(p[1]) != letter) continue;
        if (static_cast<signed char>(p[2]) >= '0') continue;
        Cut(p, 2);
        return true;
    }
    return false;
}

void ApplyHeightScaling(PlayerSettings& s, int32_t v) {
    constexpr uint32_t kScaling = OPEN_Y_INTERLACE | OPEN_Y_DOUBLE;
    switch (v) {
        case 1: s.OpenFlags = (s.OpenFlags & ~kScaling) | OPEN_Y_INTERLACE; return;
        case 2: s.OpenFlags = (s.OpenFlags & ~kScaling) | OPEN_Y_DOUBLE; return;
        case 3: s.OpenFlags = (s.OpenFlags & ~kScaling) | OPEN_Y_NONE; return;
        default:
            // 0 and 4..254 hand the choice back to the movie; larger and
            // negative values leave it alone.
            if (v == 0 || (v >= 4 && v <= 254)) s.OpenFlags &= ~kScaling;
            return;
    }
}

void ApplyWindowStyle(PlayerSettings& s, int32_t v) {
    uint32_t style;
    switch (v) {
        case 1: style = DISPLAY_NO_DLGFRAME | DISPLAY_THIN_BORDER; break;
        case 2: style = DISPLAY_NO_DLGFRAME | DISPLAY_THIN_BORDER | DISPLAY_NO_CAPTION; break;
        case 3: style = DISPLAY_NO_CAPTION; break;
        case 4: style = DISPLAY_NO_DLGFRAME | DISPLAY_NO_CAPTION; break;
        case 255: return;
        default: style = 0; break;
    }
    s.DisplayFlags = (s.DisplayFlags & ~static_cast<uint32_t>(DISPLAY_STYLE_MASK)) | style;
}

void ApplyVideoType(PlayerSettings& s, int32_t v) {
    const uint32_t u = static_cast<uint32_t>(v);
    switch (u & 0x180) {
        case 0x180: s.DisplayFlags |= DISPLAY_NO_DIRECTDRAW; break;
        case 0x100: s.DisplayFlags |= DISPLAY_SMOOTH; break;
        case 0x080: s.DisplayFlags |= DISPLAY_INTERLACED; break;
    }
    const uint32_t type = u & ~0x180u;
    if (type >= 1 && type <= 4) s.DisplayFlags = (s.DisplayFlags & ~static_cast<uint32_t>(DISPLAY_TYPE_MASK)) | (21 + type);
}

}  // namespace

void TrimBlanks(char* text) {
    size_t end = std::strlen(text);
    while (end > 0 && IsBlank(text[end - 1])) --end;
    size_t start = 0;
    while (start < end && IsBlank(text[start])) ++start;
    std::memmove(text, text + start, end - start);
    text[end - start] = '\0';
}

bool IsBlankText(const char* text) {
    for (; *text; ++text)
        if (!IsBlank(*text)) return false;
    return true;
}

bool ParseSwitches(char* text) {
    PlayerSettings& s = Settings;
    int32_t v = 0;
    TrimBlanks(text);

    if (TakeNumber(text, 'X', &v)) s.WindowX = v;
    if (TakeNumber(text, 'Y', &v)) s.WindowY = v;
    if (TakeFlag(text, 'B')) s.DisplayFlags |= DISPLAY_DOUBLE_BUFFER;
    if (TakeFlag(text, 'C')) s.DisplayFlags |= DISPLAY_NO_CLEAR;
    if (TakeFlag(text, 'O')) s.SoundOnly = true;
    if (TakeNumber(text, 'M', &v)) {
        s.SimulatedRate = static_cast<uint32_t>(v);
        if (v != 0) s.OpenFlags |= OPEN_SIMULATE_RATE;
        else s.OpenFlags &= ~static_cast<uint32_t>(OPEN_SIMULATE_RATE);
    }
    if (TakeNumber(text, 'E', &v)) s.ExtraBuffer = static_cast<uint32_t>(v);
    if (TakeNumber(text, 'L', &v) && v != 0) s.LoopCount = static_cast<uint32_t>(v);
    if (TakeFlag(text, 'L')) s.LoopCount = 0xFFFFFFFFu;
    if (TakeFlag(text, 'P')) s.OpenFlags |= OPEN_PRELOAD;
    if (TakeFlag(text, 'N')) s.OpenFlags |= OPEN_NEVER_SKIP;
    s.NoMmx = TakeFlag(text, '@');
    if (TakeFlag(text, 'G')) s.OpenFlags |= OPEN_FILL_BUFFER;
    if (TakeNumber(text, 'T', &v))
        s.OpenFlags = (s.OpenFlags & ~static_cast<uint32_t>(OPEN_ALL_TRACKS)) |
                      ((static_cast<uint32_t>(v) & 0x7F) * OPEN_TRACK0);
    if (TakeNumber(text, 'A', &v)) ApplyHeightScaling(s, v);
    if (TakeNumber(text, 'F', &v)) {
        // Small negative values are milliseconds; the stored unit is 10 us.
        if (v >= -1500 && v <= -2) v *= 100;
        s.FrameRate = v;
    }
    if (TakeFlag(text, 'F')) s.FrameRate = 0;
    if (TakeNumber(text, 'U', &v)) s.DisabledControls = static_cast<uint32_t>(v);
    if (TakeFlag(text, 'S')) s.ShowSummary = true;
    if (TakeFlag(text, 'K')) s.DifferencesOnly = true;
    if (TakeFlag(text, 'Q')) s.FrameInCaption = true;
    s.UseDirectSound = TakeFlag(text, 'Z') && UseDirectSoundHook && UseDirectSoundHook();
    if (TakeNumber(text, 'I', &v)) ApplyWindowStyle(s, v);
    s.RemapOption = TakeNumber(text, 'R', &v) ? static_cast<uint8_t>(v & 0xFF) : 0;
    if (TakeNumber(text, 'V', &v)) ApplyVideoType(s, v);
    if (TakeFlag(text, 'J')) s.KeepPlayingUnfocused = true;
    if (TakeNumber(text, 'H', &v)) s.StretchHeight = v;
    if (TakeNumber(text, 'W', &v)) s.StretchWidth = v;
    if (TakeNumber(text, 'D', &v)) s.DisplayMode = v;

    if (s.FrameRate != -1) s.OpenFlags |= OPEN_RATE_OVERRIDE;
    // Sound only: no picture, so the plain DIB display is all the bar needs.
    if (s.SoundOnly) s.DisplayFlags = (s.DisplayFlags & ~7u) | kVideoTypeStandard;

    TrimBlanks(text);
    if (std::strchr(text, '/')) {
        ShowUsageBox();
        return false;
    }
    return true;
}

uintptr_t TakeParentSwitch(char* text) {
    int32_t v = 0;
    uintptr_t handle = 0;
    if (TakeNumber(text, '#', &v)) handle = static_cast<uint32_t>(v);
    TakeFlag(text, '#');
    return handle;
}

bool CopyCommandLine(char (&dst)[kCommandLineSize], const char* commandLine) {
    dst[0] = '\0';
    if (!commandLine) return true;
    const size_t n = strnlen(commandLine, kCommandLineSize);
    if (n >= kCommandLineSize) return false;
    std::memcpy(dst, commandLine, n + 1);
    return true;
}

char* PrepareNames(char* config, char* commandLine) {
    // The self-play area is patched after the build; never trust its terminator.
    config[kConfigTextSize - 1] = '\0';
    commandLine[kCommandLineSize - 1] = '\0';
    char* text = commandLine;
    if (config[0] != '\0') {
        if (!ParseSwitches(config)) return nullptr;
        const size_t used = std::strlen(config);
        const size_t extra = std::strlen(commandLine);
        if (extra > 0) {
            if (used + 1 + extra >= kConfigTextSize) {
                ShowUsageBox();
                return nullptr;
            }
            config[used] = ' ';
            std::memcpy(config + used + 1, commandLine, extra + 1);
        }
        text = config;
    }
    if (!ParseSwitches(text)) return nullptr;
    // No names, or more than the name list holds: nothing sensible to play.
    if (IsBlankText(text) || std::strlen(text) >= kNameListSize) {
        ShowUsageBox();
        return nullptr;
    }
    return text;
}

bool TakeFirstName(char* name, size_t nameSize, char* list) {
    size_t lead = 0;
    while (list[lead] != '\0' && IsBlank(list[lead])) ++lead;
    if (lead) std::memmove(list, list + lead, std::strlen(list + lead) + 1);

    const char* start = list;
    size_t length = 0;
    const char* rest = list;
    const char* close = list[0] == '"' ? std::strchr(list + 1, '"') : nullptr;
    if (close) {
        start = list + 1;
        length = static_cast<size_t>(close - start);
        rest = close + 1;
    } else if (list[0] == '"') {
        // An unclosed quote: the quote and everything after it is the name.
        length = std::strlen(list);
        rest = list + length;
    } else {
        const char* p = list;
        while (*p != '\0' && !IsBlank(*p)) ++p;
        length = static_cast<size_t>(p - list);
        while (*p != '\0' && IsBlank(*p)) ++p;
        if (*p == ',') ++p;
        rest = p;
    }
    while (length > 0 && IsBlank(start[0])) ++start, --length;
    while (length > 0 && IsBlank(start[length - 1])) --length;

    bool fits = length < nameSize;
    if (nameSize > 0) {
        const size_t n = fits ? length : nameSize - 1;
        std::memcpy(name, start, n);
        name[n] = '\0';
    }
    std::memmove(list, rest, std::strlen(rest) + 1);
    TrimBlanks(list);
    return fits;
}

bool HasExtension(const char* name) {
    for (size_t i = std::strlen(name); i-- > 0;) {
        if (name[i] == '.') return true;
        if (name[i] == ':' || name[i] == '\\') return false;
    }
    return false;
}

bool AddDefaultExtension(char* name, size_t nameSize) {
    if (name[0] == ':' || HasExtension(name)) return true;
    const size_t n = std::strlen(name);
    const size_t extra = sizeof(kDefaultExtension) - 1;
    if (n + extra >= nameSize) return false;
    std::memcpy(name + n, kDefaultExtension, extra + 1);
    return true;
}
