// Loads the player executable as a module, as another program would, looks
// up every exported blitter function by its decorated stdcall name and calls
// the main ones through those pointers. Declares its own types on purpose:
// it sees the exports only as names and 32-bit arguments.
//   blit_exports.exe <path of quarvplay.exe>
// Prints what it checked; exit code 0 when everything held.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

typedef void* (__stdcall* OpenFn)(DWORD flags);
typedef void(__stdcall* SetPaletteFn)(void* blitter, const void* palette, DWORD layout);
typedef DWORD(__stdcall* SetFlagsFn)(void* blitter, DWORD flags);
typedef char*(__stdcall* StringFn)(void* blitter, char* text);
typedef void(__stdcall* BlitFn)(void* blitter, void* dst, LONG dstPitch, LONG dstX, LONG dstY, const void* src,
                                LONG srcPitch, LONG srcX, LONG srcY, LONG width, LONG height);
typedef void(__stdcall* ClearFn)(void* blitter, void* dst, LONG dstPitch, LONG dstX, LONG dstY, LONG width,
                                 LONG height, LONG colour);
typedef void(__stdcall* CloseFn)(void* blitter);

struct Buffer {  // the leading fields of the graphics-buffer record
    DWORD bottomUp, height, pitch;
    BYTE* pixels;
};
typedef void(__stdcall* BufferToBufferFn)(Buffer* dest, LONG destX, LONG destY, const Buffer* src, LONG srcX,
                                          LONG srcY, LONG width, LONG height);

const char* const kExports[] = {
    "_QuarvBlitOpen@4",       "_QuarvBlitSetPalette@12",      "_QuarvBlitSetFlags@8",
    "_QuarvBlitString@8",     "_QuarvBlit@44",                "_QuarvBlitTrans@48",
    "_QuarvBlitMask@52",      "_QuarvBlitMerge@52",           "_QuarvBlitClear@32",
    "_QuarvBlitClose@4",      "_QuarvBufferToBuffer@32",      "_QuarvBufferToBufferTrans@36",
    "_QuarvBufferToBufferMask@40", "_QuarvBufferToBufferMerge@40",
};

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++g_failures;
}

WORD Pixel(const BYTE* line, int x) { return static_cast<WORD>(line[2 * x] | line[2 * x + 1] << 8); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: blit_exports <quarvplay.exe>\n");
        return 2;
    }
    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::printf("FAILED: cannot load %s (error %lu)\n", argv[1], GetLastError());
        return 1;
    }
    FARPROC found[sizeof kExports / sizeof kExports[0]];
    for (size_t i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) {
        found[i] = GetProcAddress(module, kExports[i]);
        char what[80];
        std::snprintf(what, sizeof what, "export %s", kExports[i]);
        Check(found[i] != nullptr, what);
    }
    if (g_failures) return 1;

    auto open = reinterpret_cast<OpenFn>(found[0]);
    auto setPalette = reinterpret_cast<SetPaletteFn>(found[1]);
    auto setFlags = reinterpret_cast<SetFlagsFn>(found[2]);
    auto string = reinterpret_cast<StringFn>(found[3]);
    auto blit = reinterpret_cast<BlitFn>(found[4]);
    auto clear = reinterpret_cast<ClearFn>(found[8]);
    auto close = reinterpret_cast<CloseFn>(found[9]);
    auto bufferToBuffer = reinterpret_cast<BufferToBufferFn>(found[10]);

    // 16-bit 5-5-5, doubled; the palette as a display keeps it: blue, green,
    // red, spare (layout 6). Entry 1 white, entry 2 pure green.
    void* blitter = open(0x80000000u | 0x2);
    Check(blitter != nullptr, "QuarvBlitOpen(0x80000002)");
    if (!blitter) return 1;
    BYTE palette[1024] = {};
    std::memset(palette + 4, 255, 3);
    palette[9] = 255;
    setPalette(blitter, palette, 6);

    const BYTE src[2][4] = {{1, 2, 0, 1}, {2, 1, 1, 0}};
    const int pitch = 2 * 8 + 6;
    BYTE dst[4 * pitch];
    std::memset(dst, 0xAA, sizeof dst);
    blit(blitter, dst, pitch, 0, 0, src, 4, 0, 0, 4, 2);
    bool same = true;
    const WORD colour[3] = {0x0000, 0x7FFF, 0x03E0};
    for (int line = 0; line < 4; ++line)
        for (int x = 0; x < 8; ++x) same = same && Pixel(dst + line * pitch, x) == colour[src[line / 2][x / 2]];
    same = same && dst[pitch - 1] == 0xAA && dst[4 * pitch - 1] == 0xAA;
    Check(same, "QuarvBlit 16-bit 2x: white 0x7FFF, green 0x03E0, each pixel a 2x2 block");

    char text[64] = "";
    string(blitter, text);
    std::printf("mode name: %s\n", text);
    Check(std::strncmp(text, "16-bit 2x", 9) == 0, "QuarvBlitString names 16-bit 2x");

    Check(setFlags(blitter, 0x2) == 1 && setFlags(blitter, 0x4) == 0, "QuarvBlitSetFlags accepts 8-bit, refuses smoothing");
    BYTE cleared[6] = {9, 9, 9, 9, 9, 9};
    clear(blitter, cleared, 6, 1, 0, 3, 1, -5);
    Check(cleared[0] == 9 && cleared[1] == 5 && cleared[3] == 5 && cleared[4] == 9, "QuarvBlitClear -5 writes pixel 5");
    close(blitter);

    // A bottom-up buffer into a top-down one arrives upright.
    BYTE upPixels[2 * 8] = {7, 7, 7, 7, 7, 7, 7, 7, 3, 3, 3, 3, 3, 3, 3, 3};  // bottom row first
    BYTE downPixels[2 * 8] = {};
    Buffer up = {1, 2, 8, upPixels}, down = {0, 2, 8, downPixels};
    bufferToBuffer(&down, 0, 0, &up, 0, 0, 8, 2);
    Check(downPixels[0] == 3 && downPixels[8] == 7, "QuarvBufferToBuffer bottom-up to top-down is upright");

    FreeLibrary(module);
    std::printf("%s\n", g_failures ? "blit_exports: FAILED" : "blit_exports: all checks passed");
    return g_failures ? 1 : 0;
}
