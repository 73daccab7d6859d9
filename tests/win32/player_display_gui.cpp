// Opens the player window and its display as the player does, draws a
// pattern, and checks what reached the X screen pixel for pixel: the script
// (test_player_display.sh) takes the screenshots on request. Then the
// window's pixels are painted white behind the player's back, and its
// window procedure gets the palette messages: a palette change it made
// itself leaves them white, WM_QUERYNEWPALETTE and a change by another
// window realise the palette and repaint the picture (WM_PAINT; every other
// line black where DirectDraw doubles interlaced).
//   player_display_gui DIR DISPLAYFLAGS WIDTH HEIGHT STRETCHW STRETCHH X Y
// Handshake through DIR: this program writes readyN.txt (the client area's
// screen origin) and waits for shotN.ppm (the whole screen as binary PPM).
// Results go to DIR\result.txt; exit code 0 when every check passed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/display.h"
#include "player/settings.h"
#include "player/win32/app_win32.h"
#include "player/window.h"

HINSTANCE AppInstance = nullptr;
HCURSOR ArrowCursor = nullptr;
HWND PlayerWindow = nullptr;

namespace {

std::string dir;
FILE* result = nullptr;
int failures = 0;

void Check(bool ok, const char* what, long a = 0, long b = 0) {
    std::fprintf(result, "%s %s (%ld, %ld)\n", ok ? "PASS" : "FAIL", what, a, b);
    std::fflush(result);
    if (!ok) failures++;
}

// Two palettes and two patterns whose neighbouring pixels all differ.
uint8_t Pattern1(int x, int y) { return static_cast<uint8_t>(x * 7 + y * 13 + 1); }
uint8_t Pattern2(int x, int y) { return static_cast<uint8_t>(x * 3 + y * 29 + 5); }
void Colour(int i, uint8_t rgb[3]) {
    rgb[0] = static_cast<uint8_t>(i);
    rgb[1] = static_cast<uint8_t>(255 - i);
    rgb[2] = static_cast<uint8_t>((i * 37) ^ 0x5A);
}

void Fill(QuarvBuffer* b, uint8_t (*pattern)(int, int), int l, int t, int w, int h) {
    for (int y = t; y < t + h; y++) {
        const uint32_t row = b->bottomUp ? b->height - 1 - y : y;
        for (int x = l; x < l + w; x++) b->pixels[row * b->pitch + x] = pattern(x, y);
    }
}

void PumpFor(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        PumpMessages();
        Sleep(10);
    }
}

// A screenshot as xwd writes it: a big-endian header, the window name, the
// colour map, then the pixels (TrueColor: components by mask).
struct Shot {
    int width = 0, height = 0;
    uint32_t bitsPerPixel = 0, bytesPerLine = 0, msbFirst = 0;
    uint32_t masks[3] = {};
    std::vector<uint8_t> data;

    uint32_t Pixel(int x, int y) const {
        const int n = BytesPerPixel();
        const uint8_t* p = &data[size_t(y) * bytesPerLine + size_t(x) * n];
        uint32_t v = 0;
        for (int i = 0; i < n; i++) v |= uint32_t(p[msbFirst ? i : n - 1 - i]) << (8 * (n - 1 - i));
        return v;
    }
    int BytesPerPixel() const { return static_cast<int>(bitsPerPixel / 8); }
};

uint32_t BigEndian(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]; }

bool ReadXwd(const std::string& path, Shot* shot) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        std::fprintf(result, "  cannot open %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> file;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) file.insert(file.end(), chunk, chunk + n);
    std::fclose(f);
    if (file.size() < 100) return false;
    auto field = [&](int i) { return BigEndian(&file[size_t(i) * 4]); };
    const uint32_t headerSize = field(0), colours = field(19);
    shot->width = static_cast<int>(field(4));
    shot->height = static_cast<int>(field(5));
    shot->msbFirst = field(7);
    shot->bitsPerPixel = field(11);
    shot->bytesPerLine = field(12);
    shot->masks[0] = field(14);
    shot->masks[1] = field(15);
    shot->masks[2] = field(16);
    const size_t offset = size_t(headerSize) + size_t(colours) * 12;
    const size_t size = size_t(shot->bytesPerLine) * shot->height;
    if (field(1) != 7 || (shot->bitsPerPixel != 16 && shot->bitsPerPixel != 24 && shot->bitsPerPixel != 32) || file.size() < offset + size) {
        std::fprintf(result, "  unreadable screenshot: version %u, %u bits per pixel, %zu bytes for %zu\n", field(1),
                     shot->bitsPerPixel, file.size(), offset + size);
        return false;
    }
    shot->data.assign(file.begin() + offset, file.begin() + offset + size);
    return true;
}

// Asks the script for a screenshot and waits for it.
bool TakeShot(int n, POINT client, Shot* shot) {
    PumpFor(700);  // let every paint reach the screen
    const std::string ready = dir + "\\ready" + std::to_string(n) + ".txt";
    FILE* f = std::fopen(ready.c_str(), "w");
    std::fprintf(f, "%ld %ld\n", client.x, client.y);
    std::fclose(f);
    const std::string path = dir + "\\shot" + std::to_string(n) + ".xwd";
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) return ReadXwd(path, shot);
        PumpFor(100);
    }
    return false;
}

// On a 16-bit server with Wine's windows up, xwd labels the root image with
// the masks of a 24-bit visual, but the values it holds are the root's own
// 5-6-5 pixels.
bool FixMasks(Shot* shot, int screenBits) {
    if (screenBits == 16 && shot->masks[0] == 0xFF0000 && shot->masks[1] == 0xFF00 && shot->masks[2] == 0xFF) {
        shot->masks[0] = 0xF800;
        shot->masks[1] = 0x07E0;
        shot->masks[2] = 0x001F;
    }
    return true;
}

// Each component compares at the depth of the screen as the GDI reports it
// (5-6-5 on a 16-bit screen), whatever depth the X image has.
bool SameColour(const Shot& shot, uint32_t pixel, const uint8_t want[3], int screenBits) {
    for (int c = 0; c < 3; c++) {
        uint32_t mask = shot.masks[c], value = pixel & mask;
        if (!mask) return false;
        while (!(mask & 1)) mask >>= 1, value >>= 1;
        int width = 0;
        while (mask & 1) mask >>= 1, width++;
        const uint32_t value8 = width >= 8 ? value >> (width - 8) : value << (8 - width);
        int keep = screenBits == 16 ? (c == 1 ? 6 : 5) : 8;
        if (keep > width) keep = width;
        if (value8 >> (8 - keep) != uint32_t(want[c]) >> (8 - keep)) return false;
    }
    return true;
}

// Compares the client area (outW x outH at `client`) with the picture the
// buffer should show: inNew(x, y) picks pattern 2 for a picture point; with
// `white` the area must be white instead.
void ComparePicture(const char* what, const Shot& shot, POINT client, const QuarvBuffer* b, int bits,
                    bool (*inNew)(int, int), bool white = false) {
    // The direct path doubling interlaced writes every other line only.
    const bool interlaced = b->directActive && (b->blitFlags & 0x8);
    const int sx = static_cast<int>(b->outWidth / b->width), sy = static_cast<int>(b->outHeight / b->height);
    long bad = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < static_cast<int>(b->outHeight); y++) {
        for (int x = 0; x < static_cast<int>(b->outWidth); x++) {
            const int px = x / sx, py = y / sy;
            uint8_t want[3] = {255, 255, 255};
            if (!white && interlaced && y % 2)
                want[0] = want[1] = want[2] = 0;
            else if (!white)
                Colour(inNew && inNew(px, py) ? Pattern2(px, py) : Pattern1(px, py), want);
            const int X = client.x + x, Y = client.y + y;
            if (X < 0 || Y < 0 || X >= shot.width || Y >= shot.height) continue;
            if (!SameColour(shot, shot.Pixel(X, Y), want, bits)) {
                if (!bad++) {
                    firstX = x, firstY = y;
                    std::fprintf(result, "  at (%d, %d): pixel 0x%08x, wanted %02x%02x%02x (masks %x %x %x, %u bpp)\n",
                                 x, y, shot.Pixel(X, Y), want[0], want[1], want[2], shot.masks[0], shot.masks[1],
                                 shot.masks[2], shot.bitsPerPixel);
                }
            }
        }
    }
    Check(bad == 0, what, firstX, firstY);
    if (bad) std::fprintf(result, "  %ld pixels differ, first at client (%ld, %ld)\n", bad, firstX, firstY);
}

const int kRects[2][4] = {{8, 5, 40, 20}, {-33, -17, 24, 9}};  // negative: from the right/bottom

bool InRect(int x, int y, const QuarvBuffer* b, int i) {
    int l = kRects[i][0], t = kRects[i][1];
    if (l < 0) l += static_cast<int>(b->width);
    if (t < 0) t += static_cast<int>(b->height);
    return x >= l && x < l + kRects[i][2] && y >= t && y < t + kRects[i][3];
}
const QuarvBuffer* current = nullptr;
bool InNewRects(int x, int y) { return InRect(x, y, current, 0) || InRect(x, y, current, 1); }

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc < 9) return 2;
    dir = __argv[1];
    result = std::fopen((dir + "\\result.txt").c_str(), "w");
    if (!result) return 2;
    AppInstance = instance;
    ArrowCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    const uint32_t flags = static_cast<uint32_t>(std::strtoul(__argv[2], nullptr, 0));
    const uint32_t w = static_cast<uint32_t>(std::atoi(__argv[3])), h = static_cast<uint32_t>(std::atoi(__argv[4]));
    Settings.StretchWidth = std::atoi(__argv[5]);
    Settings.StretchHeight = std::atoi(__argv[6]);
    const int32_t x = std::atoi(__argv[7]), y = std::atoi(__argv[8]);
    Settings.DisplayFlags = flags;

    HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    std::fprintf(result, "screen %dx%d, %d bits; flags 0x%x, %ux%u -> %dx%d at (%d, %d)\n", screenW, screenH, bits,
                 flags, w, h, Settings.StretchWidth, Settings.StretchHeight, x, y);

    if (!OpenPlayerWindow(w, h, x, y, flags)) {
        Check(false, "OpenPlayerWindow");
        std::fclose(result);
        return 1;
    }
    QuarvBuffer* b = PlayerDisplay();
    current = b;
    std::fprintf(result, "display: type %u bottomUp %u pitch %u out %ux%u memoryKind %u palette %u-%u blit 0x%x\n", b->type,
                 b->bottomUp, b->pitch, b->outWidth, b->outHeight, b->memoryKind, b->paletteStart, b->paletteEnd,
                 b->blitFlags);

    // Where the window went, by the placement rules.
    HWND window = PlayerWindow;
    POINT client = {0, 0};
    ClientToScreen(window, &client);
    RECT outer, inner;
    GetWindowRect(window, &outer);
    GetClientRect(window, &inner);
    Check(inner.right == static_cast<LONG>(b->outWidth) && inner.bottom == static_cast<LONG>(b->outHeight),
          "client area is the shown size", inner.right, inner.bottom);
    const long frameLeft = client.x - outer.left;
    if (x == -1) {
        // Centred, then the client's left edge on the nearest multiple of 8 (4 rounds down).
        const long centred = (screenW - static_cast<long>(b->outWidth)) / 2;
        Check(client.x == ((centred + 3) & ~7L), "client centred horizontally on a multiple of 8", client.x, centred);
    } else {
        Check(client.x == ((x + frameLeft + 3) & ~7L), "explicit left edge moved to a multiple of 8", client.x,
              outer.left);
    }
    if (y == -1)
        Check(client.y == (screenH - static_cast<long>(b->outHeight)) / 2, "client centred vertically", client.y);
    else
        Check(outer.top == y, "explicit top edge", outer.top, y);
    if ((flags & DISPLAY_STYLE_MASK) == 0x4200)
        Check(outer.left == client.x && outer.top == client.y && outer.right - outer.left == inner.right &&
                  outer.bottom - outer.top == inner.bottom,
              "no border and no caption: window is the client area", outer.right - outer.left,
              outer.bottom - outer.top);

    // The whole picture.
    uint8_t palette[768];
    for (int i = 0; i < 256; i++) Colour(i, palette + i * 3);
    UpdateDisplayPalette(b, palette);
    Fill(b, Pattern1, 0, 0, static_cast<int>(w), static_cast<int>(h));
    QuarvBufferBlit(b, nullptr, 0, 0, 0, 0, static_cast<int32_t>(w), static_cast<int32_t>(h));
    Shot shot;
    if (TakeShot(1, client, &shot) && FixMasks(&shot, bits))
        ComparePicture("whole picture", shot, client, b, bits, nullptr);
    else
        Check(false, "screenshot 1");

    // Two changed rectangles, collected and drawn together.
    QuarvBufferStartRects(b);
    for (int i = 0; i < 2; i++) {
        int l = kRects[i][0], t = kRects[i][1];
        if (l < 0) l += static_cast<int>(w);
        if (t < 0) t += static_cast<int>(h);
        Fill(b, Pattern2, l, t, kRects[i][2], kRects[i][3]);
        QuarvBufferBlit(b, nullptr, 0, 0, l, t, kRects[i][2], kRects[i][3]);
    }
    QuarvBufferFlushRects(b);
    if (TakeShot(2, client, &shot) && FixMasks(&shot, bits))
        ComparePicture("changed rectangles", shot, client, b, bits, InNewRects);
    else
        Check(false, "screenshot 2");

    // Palette messages after the screen was spoilt behind the window's back.
    struct Poke {
        const char* what;
        UINT message;
        bool bySelf, repainted;
    };
    const Poke pokes[] = {
        {"WM_PALETTECHANGED by the window itself: nothing redrawn", WM_PALETTECHANGED, true, false},
        {"WM_QUERYNEWPALETTE: realised and repainted", WM_QUERYNEWPALETTE, false, true},
        {"WM_PALETTECHANGED by another window: realised and repainted", WM_PALETTECHANGED, false, true},
    };
    for (int i = 0; i < 3; i++) {
        HDC dc = GetDC(window);
        PatBlt(dc, 0, 0, static_cast<int>(b->outWidth), static_cast<int>(b->outHeight), WHITENESS);
        ReleaseDC(window, dc);
        SendMessageA(window, pokes[i].message,
                     reinterpret_cast<WPARAM>(pokes[i].bySelf ? window : GetDesktopWindow()), 0);
        if (TakeShot(3 + i, client, &shot) && FixMasks(&shot, bits))
            ComparePicture(pokes[i].what, shot, client, b, bits, InNewRects, !pokes[i].repainted);
        else
            Check(false, "screenshot", 3 + i);
    }

    ClosePlayerWindow();
    Check(PlayerWindow == nullptr && !IsWindow(window), "window gone after ClosePlayerWindow");
    std::fprintf(result, "%s\n", failures ? "FAILED" : "ALL PASSED");
    std::fclose(result);
    return failures ? 1 : 0;
}
