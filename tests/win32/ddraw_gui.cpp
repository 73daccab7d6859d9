// The DirectDraw path of the graphics buffer on a real X screen.
//   ddraw_gui DIR DISPLAYFLAGS WIDTH HEIGHT OUTW OUTH WANTBLITFLAGS
// Opens a type 5 buffer for a window of its own, checks the blitter flags
// the buffer chose (WANTBLITFLAGS 0: no direct path), draws a pattern and
// compares screenshots with the picture computed here: the frame doubled
// by hand, interlaced over black, or smoothed by a blitter of its own.
// Then another window takes the foreground and covers part of ours: a blit
// must go through GDI and leave the other window whole; when ours comes
// back the whole frame is drawn again. Handshake as in player_display_gui:
// readyN.txt asks the script for shotN.xwd. Results in DIR\result.txt.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blit/blit.h"
#include "display/display.h"

namespace {

std::string dir;
FILE* result = nullptr;
int failures = 0;

void Check(bool ok, const char* what, long a = 0, long b = 0) {
    std::fprintf(result, "%s %s (%ld, %ld)\n", ok ? "PASS" : "FAIL", what, a, b);
    std::fflush(result);
    if (!ok) failures++;
}

uint8_t Pattern1(int x, int y) { return static_cast<uint8_t>(x * 7 + y * 13 + 1); }
uint8_t Pattern2(int x, int y) { return static_cast<uint8_t>(x * 3 + y * 29 + 5); }
void Colour(int i, uint8_t rgb[3]) {
    rgb[0] = static_cast<uint8_t>(i);
    rgb[1] = static_cast<uint8_t>(255 - i);
    rgb[2] = static_cast<uint8_t>((i * 37) ^ 0x5A);
}

LRESULT CALLBACK PlainProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        BeginPaint(w, &ps);
        EndPaint(w, &ps);
        return 0;
    }
    if (m == WM_ERASEBKGND) return 1;
    return DefWindowProcA(w, m, wp, lp);
}

void Pump(DWORD ms) {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

struct Shot {
    int width = 0, height = 0;
    uint32_t bitsPerPixel = 0, bytesPerLine = 0, msbFirst = 0;
    std::vector<uint8_t> data;
    uint32_t Pixel(int x, int y) const {
        // On a 16-bit server xwd stores three bytes per pixel (rows padded)
        // holding the root's own 5-6-5 values.
        const int n = static_cast<int>(bitsPerPixel / 8);
        const uint8_t* p = &data[size_t(y) * bytesPerLine + size_t(x) * n];
        uint32_t v = 0;
        for (int i = 0; i < n; i++) v |= uint32_t(p[msbFirst ? i : n - 1 - i]) << (8 * (n - 1 - i));
        return v;
    }
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
    shot->width = static_cast<int>(field(4));
    shot->height = static_cast<int>(field(5));
    shot->msbFirst = field(7);
    shot->bitsPerPixel = field(11);
    shot->bytesPerLine = field(12);
    const size_t offset = size_t(field(0)) + size_t(field(19)) * 12;
    const size_t size = size_t(shot->bytesPerLine) * shot->height;
    if (field(1) != 7 || (shot->bitsPerPixel != 16 && shot->bitsPerPixel != 24 && shot->bitsPerPixel != 32) || file.size() < offset + size) {
        std::fprintf(result, "  unreadable screenshot: version %u, %u bits per pixel, %zu bytes for %zu\n", field(1),
                     shot->bitsPerPixel, file.size(), offset + size);
        return false;
    }
    shot->data.assign(file.begin() + offset, file.begin() + offset + size);
    return true;
}

bool TakeShot(int n, Shot* shot) {
    Pump(700);
    const std::string ready = dir + "\\ready" + std::to_string(n) + ".txt";
    FILE* f = std::fopen(ready.c_str(), "w");
    std::fputs("go\n", f);
    std::fclose(f);
    const std::string path = dir + "\\shot" + std::to_string(n) + ".xwd";
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < 60000) {
        if (GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) {
            Sleep(200);
            return ReadXwd(path, shot);
        }
        Pump(100);
    }
    return false;
}

// The screen pixel a colour gives: 5-6-5 on a 16-bit screen, 8-8-8 else.
uint32_t ScreenValue(const uint8_t rgb[3], int bits) {
    if (bits == 16) return uint32_t(rgb[0] >> 3) << 11 | uint32_t(rgb[1] >> 2) << 5 | (rgb[2] >> 3);
    return uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
}

// Expected output pixels, outW x outH, as screen values.
std::vector<uint32_t> Expected(uint32_t w, uint32_t h, uint32_t outW, uint32_t outH, uint32_t blitFlags, int bits,
                               uint8_t (*pattern)(int, int), const uint8_t* palette) {
    std::vector<uint32_t> out(size_t(outW) * outH);
    if (blitFlags & kBlitSmooth) {
        // The smoothing kernel's in-between colours come from a blitter.
        Blitter* own = QuarvBlitOpen(blitFlags);
        QuarvBlitSetPalette(own, palette, 0);
        std::vector<uint8_t> src(size_t(w) * h);
        for (uint32_t y = 0; y < h; y++)
            for (uint32_t x = 0; x < w; x++) src[y * w + x] = pattern(int(x), int(y));
        std::vector<uint16_t> dst(size_t(outW) * outH);
        QuarvBlit(own, dst.data(), int32_t(outW * 2), 0, 0, src.data(), int32_t(w), 0, 0, int32_t(w), int32_t(h));
        QuarvBlitClose(own);
        for (size_t i = 0; i < out.size(); i++) out[i] = dst[i];
        return out;
    }
    for (uint32_t y = 0; y < outH; y++)
        for (uint32_t x = 0; x < outW; x++) {
            const uint8_t* rgb = palette + 3 * pattern(int(x * w / outW), int(y * h / outH));
            const bool blackLine = (blitFlags & kBlitInterlace) && (y & 1);
            const uint8_t black[3] = {0, 0, 0};
            out[size_t(y) * outW + x] = ScreenValue(blackLine ? black : rgb, bits);
        }
    return out;
}

// Compares the client area with want; pixels inside `skip` (screen
// coordinates) are left out. The number of differing pixels.
int screenBits = 0;

long Compare(const char* what, const Shot& shot, POINT at, uint32_t outW, uint32_t outH,
             const std::vector<uint32_t>& want, const RECT* skip) {
    long bad = 0;
    for (uint32_t y = 0; y < outH; y++)
        for (uint32_t x = 0; x < outW; x++) {
            const int X = at.x + int(x), Y = at.y + int(y);
            if (skip && X >= skip->left && X < skip->right && Y >= skip->top && Y < skip->bottom) continue;
            const uint32_t got = shot.Pixel(X, Y) & (screenBits == 16 ? 0xFFFF : 0xFFFFFF);
            if (got != want[size_t(y) * outW + x] && !bad++)
                std::fprintf(result, "  %s: at (%u, %u) 0x%06x, wanted 0x%06x\n", what, x, y, got,
                             want[size_t(y) * outW + x]);
        }
    Check(bad == 0, what, bad);
    return bad;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    if (__argc < 8) return 2;
    dir = __argv[1];
    result = std::fopen((dir + "\\result.txt").c_str(), "w");
    if (!result) return 2;
    const uint32_t flags = uint32_t(std::strtoul(__argv[2], nullptr, 0));
    const uint32_t w = uint32_t(std::atoi(__argv[3])), h = uint32_t(std::atoi(__argv[4]));
    const uint32_t outW = uint32_t(std::atoi(__argv[5])), outH = uint32_t(std::atoi(__argv[6]));
    const uint32_t wantFlags = uint32_t(std::strtoul(__argv[7], nullptr, 0));
    HDC screen = GetDC(nullptr);
    const int bits = GetDeviceCaps(screen, BITSPIXEL);
    ReleaseDC(nullptr, screen);
    screenBits = bits;

    WNDCLASSA wc{};
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    wc.lpszClassName = "DirectPathTest";
    RegisterClassA(&wc);
    wc.lpszClassName = "DirectPathCover";
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
    wc.lpfnWndProc = DefWindowProcA;
    RegisterClassA(&wc);
    const POINT at = {48, 40};
    HWND window = CreateWindowExA(0, "DirectPathTest", "direct", WS_POPUP | WS_VISIBLE, at.x, at.y, int(outW),
                                  int(outH), nullptr, nullptr, instance, nullptr);
    SetForegroundWindow(window);
    // Let the window reach the screen first: under Wine a window mapped
    // after the direct write would cover it with its own (empty) picture.
    Pump(300);
    // Park the pointer away from the picture.
    SetCursorPos(GetSystemMetrics(SM_CXSCREEN) - 4, GetSystemMetrics(SM_CYSCREEN) - 4);

    QuarvBuffer* b = QuarvBufferOpen(window, flags, w, h, outW, outH);
    if (!b) {
        Check(false, "QuarvBufferOpen");
        std::fclose(result);
        return 1;
    }
    std::fprintf(result, "%d-bit screen: type %u blitFlags 0x%08x blitter %p hidePointer %u\n", bits, b->type,
                 b->blitFlags, static_cast<void*>(b->blitter), b->hidePointer);
    Check(b->type == 5, "type 5", long(b->type));
    if (wantFlags) {
        Check(b->blitter != nullptr && b->blitFlags == wantFlags, "direct path with the wanted blitter flags",
              long(b->blitFlags), long(wantFlags));
        char text[64] = "";
        if (b->blitter) QuarvBlitString(b->blitter, text);
        std::fprintf(result, "  blitter: %s\n", text);
        const char* name = (wantFlags & kBlitSmooth) ? "16-bit 2x Smoothing"
                           : (wantFlags & kBlitInterlace) ? "16-bit 2x Interlaced"
                           : (wantFlags & kBlit2x)        ? "16-bit 2x"
                                                          : "16-bit 1x";
        Check(std::strncmp(text, name, std::strlen(name)) == 0 &&
                  (text[std::strlen(name)] == 0 || std::strcmp(text + std::strlen(name), " using MMX") == 0),
              "blitter mode name");
    } else {
        Check(b->blitter == nullptr && b->primarySurface == nullptr, "no direct path");
    }

    uint8_t palette[768];
    for (int i = 0; i < 256; i++) Colour(i, palette + i * 3);
    UpdateDisplayPalette(b, palette);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) b->pixels[y * b->pitch + x] = Pattern1(int(x), int(y));
    const uint32_t first = QuarvBufferBlit(b, nullptr, 0, 0, 0, 0, int32_t(w), int32_t(h));
    if (wantFlags) Check(b->directActive == 1 && b->screenRectKnown == 1, "direct drawing active after a blit");
    (void)first;
    Shot shot;
    const std::vector<uint32_t> want1 = Expected(w, h, outW, outH, b->blitFlags, bits, Pattern1, palette);
    if (TakeShot(1, &shot))
        Compare("whole picture", shot, at, outW, outH, want1, nullptr);
    else
        Check(false, "screenshot 1");

    // Another window in front, covering the top-left quarter of ours.
    const RECT cover = {at.x, at.y, at.x + LONG(outW / 2), at.y + LONG(outH / 2)};
    HWND other = CreateWindowExA(WS_EX_TOPMOST, "DirectPathCover", "other", WS_POPUP | WS_VISIBLE, cover.left,
                                 cover.top, cover.right - cover.left, cover.bottom - cover.top, nullptr, nullptr,
                                 instance, nullptr);
    SetForegroundWindow(other);
    Pump(300);
    Check(GetForegroundWindow() == other, "the other window has the foreground");
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) b->pixels[y * b->pitch + x] = Pattern2(int(x), int(y));
    const uint32_t away = QuarvBufferBlit(b, nullptr, 0, 0, 0, 0, int32_t(w), int32_t(h));
    if (wantFlags) {
        Check(b->directActive == 0, "direct drawing off while another window is in front");
        Check(away == 256, "the whole buffer redrawn through GDI on losing the foreground", long(away));
    }
    if (TakeShot(2, &shot)) {
        // The picture outside the cover, drawn through GDI (no interlacing).
        const std::vector<uint32_t> want2 = Expected(w, h, outW, outH, b->blitFlags & ~kBlitInterlace &
                                                     ~kBlitSmooth, bits, Pattern2, palette);
        Compare("picture through GDI beside the other window", shot, at, outW, outH, want2, &cover);
        // What the other window shows is Wine's business; the frame drawn
        // while it was in front must not be there.
        long overwritten = 0;
        for (LONG y = cover.top; y < cover.bottom; y++)
            for (LONG x = cover.left; x < cover.right; x++)
                overwritten += (shot.Pixel(x, y) & (bits == 16 ? 0xFFFF : 0xFFFFFF)) ==
                               want2[size_t(y - at.y) * outW + size_t(x - at.x)];
        Check(overwritten < (cover.right - cover.left) * (cover.bottom - cover.top) / 16,
              "the other window not drawn over", overwritten);
    } else {
        Check(false, "screenshot 2");
    }

    // Ours in front again: a one-pixel change brings the whole frame back.
    DestroyWindow(other);
    SetForegroundWindow(window);
    Pump(300);
    for (uint32_t y = 0; y < h; y++)
        for (uint32_t x = 0; x < w; x++) b->pixels[y * b->pitch + x] = Pattern1(int(x), int(y));
    const uint32_t back = QuarvBufferBlit(b, nullptr, 0, 0, 1, 1, 1, 1);
    if (wantFlags) {
        Check(b->directActive == 1, "direct drawing again in the foreground");
        Check(back == 256, "the whole frame redrawn on coming back", long(back));
        if (TakeShot(3, &shot))
            Compare("whole picture after coming back", shot, at, outW, outH, want1, nullptr);
        else
            Check(false, "screenshot 3");
    }

    QuarvBufferClose(b);
    QuarvBufferFreeLibraries();
    DestroyWindow(window);
    std::fprintf(result, "%s\n", failures ? "FAILED" : "ALL PASSED");
    std::fclose(result);
    return failures ? 1 : 0;
}
