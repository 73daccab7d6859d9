// Loads the player executable as a module, as another program would, looks
// up every exported blitter function by its decorated stdcall name and calls
// the main ones through those pointers. Declares its own types on purpose:
// it sees the exports only as names and 32-bit arguments.
//
// A loader need not prepare an executable loaded as a module the way it
// prepares a DLL: Wine maps it elsewhere than its preferred base without
// applying its base relocations, binds none of its imports and runs none of
// its start-up code. So this program relocates the image and binds its
// imports itself before the first call, as any caller of the player's
// exports under such a loader has to. (Where the loader did both, the
// image base in the headers is already the actual one and the imports are
// bound again to the same addresses.)
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

IMAGE_NT_HEADERS* Headers(BYTE* base) {
    return reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

// Applies the base relocations for the distance between the image base the
// headers name and where the image really is. Returns the entries applied.
int Relocate(BYTE* base) {
    IMAGE_NT_HEADERS* nt = Headers(base);
    const ULONG_PTR delta = reinterpret_cast<ULONG_PTR>(base) - nt->OptionalHeader.ImageBase;
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
    if (!delta || !dir.VirtualAddress) return 0;
    int applied = 0;
    for (DWORD at = 0; at + sizeof(IMAGE_BASE_RELOCATION) <= dir.Size;) {
        auto* block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(base + dir.VirtualAddress + at);
        if (block->SizeOfBlock < sizeof *block) break;
        auto* entries = reinterpret_cast<WORD*>(block + 1);
        const DWORD count = (block->SizeOfBlock - sizeof *block) / sizeof(WORD);
        for (DWORD i = 0; i < count; ++i) {
            BYTE* where = base + block->VirtualAddress + (entries[i] & 0xFFF);
            switch (entries[i] >> 12) {
                case IMAGE_REL_BASED_HIGHLOW: *reinterpret_cast<DWORD*>(where) += static_cast<DWORD>(delta); break;
                case IMAGE_REL_BASED_DIR64: *reinterpret_cast<ULONGLONG*>(where) += delta; break;
                default: continue;
            }
            ++applied;
        }
        at += block->SizeOfBlock;
    }
    nt->OptionalHeader.ImageBase = reinterpret_cast<ULONG_PTR>(base);
    return applied;
}

// Fills the module's import address table from the libraries it names.
// Returns the number of functions bound, or -1 when one cannot be found.
int BindImports(BYTE* base) {
    IMAGE_NT_HEADERS* nt = Headers(base);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (!dir.VirtualAddress) return 0;
    int bound = 0;
    for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d) {
        HMODULE library = LoadLibraryA(reinterpret_cast<const char*>(base + d->Name));
        if (!library) return -1;
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (d->OriginalFirstThunk ? d->OriginalFirstThunk
                                                                                          : d->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
        for (; names->u1.AddressOfData; ++names, ++slots) {
            FARPROC f;
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                f = GetProcAddress(library, MAKEINTRESOURCEA(IMAGE_ORDINAL(names->u1.Ordinal)));
            } else {
                auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                f = GetProcAddress(library, reinterpret_cast<const char*>(byName->Name));
            }
            if (!f) return -1;
            slots->u1.Function = reinterpret_cast<ULONG_PTR>(f);
            ++bound;
        }
    }
    return bound;
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
    // The image stays writable afterwards: this process only calls into it.
    auto* image = reinterpret_cast<BYTE*>(module);
    DWORD old;
    VirtualProtect(image, Headers(image)->OptionalHeader.SizeOfImage, PAGE_EXECUTE_READWRITE, &old);
    const int relocated = Relocate(image);
    const int bound = BindImports(image);
    std::printf("applied %d relocations, bound %d imports\n", relocated, bound);
    Check(bound > 0, "the executable's imports bound");
    if (bound <= 0) return 1;

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
