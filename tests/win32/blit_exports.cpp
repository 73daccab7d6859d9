// Uses the player's exported blitter the way any other program would: loads
// the executable with LoadLibraryA, finds the fourteen decorated names with
// GetProcAddress and calls them, with nothing done to the image in between.
// It declares its own types on purpose: it sees the exports only as names
// and 32-bit arguments, and the graphics-buffer record only as its
// documented field order.
//   blit_exports.exe <quarvplay.exe> [relocated]
// Without "relocated" the executable is loaded as it stands, which Wine maps
// at another base, unrelocated and unbound. With it the file given is a
// copy marked as a library, loaded with DONT_RESOLVE_DLL_REFERENCES: mapped
// at another base and relocated, but unbound, as Windows leaves an
// executable. The program checks that the loader left the image in the
// state named, once per load.
// Rounds: for each export, a fresh load whose first call goes through that
// export, then every check; last, fourteen threads making their first calls
// at once, each through another export, then every check in each thread.
// Exit code 0 when everything held.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

typedef void* (__stdcall* OpenFn)(DWORD flags);
typedef void(__stdcall* SetPaletteFn)(void* blitter, const void* palette, DWORD layout);
typedef DWORD(__stdcall* SetFlagsFn)(void* blitter, DWORD flags);
typedef char*(__stdcall* StringFn)(void* blitter, char* text);
typedef void(__stdcall* BlitFn)(void* blitter, void* dst, LONG dstPitch, LONG dstX, LONG dstY, const void* src,
                                LONG srcPitch, LONG srcX, LONG srcY, LONG width, LONG height);
typedef void(__stdcall* TransFn)(void* blitter, void* dst, LONG dstPitch, LONG dstX, LONG dstY, const void* src,
                                 LONG srcPitch, LONG srcX, LONG srcY, LONG width, LONG height, DWORD transparent);
typedef void(__stdcall* SelectFn)(void* blitter, void* dst, LONG dstPitch, LONG dstX, LONG dstY, const void* src,
                                  LONG srcPitch, LONG srcX, LONG srcY, LONG width, LONG height, DWORD transparent,
                                  const void* second);
typedef void(__stdcall* ClearFn)(void* blitter, void* dst, LONG dstPitch, LONG dstX, LONG dstY, LONG width,
                                 LONG height, LONG colour);
typedef void(__stdcall* CloseFn)(void* blitter);

// The graphics-buffer record in its documented order, up to the pixels;
// the display's own fields follow and mean nothing to the copies.
struct Record {
    DWORD bottomUp, memoryKind, type, fullScreen, width, height, pitch, stretched, outWidth, outHeight,
        screenColours, paletteSize, freeColours, paletteStart, paletteEnd;
    BYTE palette[1024];
    DWORD paletteLayout, redrawAll, drawn;
    BYTE* pixels;
    BYTE displayFields[128];
};
typedef void(__stdcall* CopyFn)(Record* dest, LONG destX, LONG destY, const Record* src, LONG srcX, LONG srcY,
                                LONG width, LONG height);
typedef void(__stdcall* CopyTransFn)(Record* dest, LONG destX, LONG destY, const Record* src, LONG srcX, LONG srcY,
                                     LONG width, LONG height, DWORD transparent);
typedef void(__stdcall* CopySelectFn)(Record* dest, LONG destX, LONG destY, const Record* src, LONG srcX, LONG srcY,
                                      LONG width, LONG height, DWORD transparent, const Record* second);

const char* const kNames[] = {
    "_QuarvBlitOpen@4",       "_QuarvBlitSetPalette@12",      "_QuarvBlitSetFlags@8",
    "_QuarvBlitString@8",     "_QuarvBlit@44",                "_QuarvBlitTrans@48",
    "_QuarvBlitMask@52",      "_QuarvBlitMerge@52",           "_QuarvBlitClear@32",
    "_QuarvBlitClose@4",      "_QuarvBufferToBuffer@32",      "_QuarvBufferToBufferTrans@36",
    "_QuarvBufferToBufferMask@40", "_QuarvBufferToBufferMerge@40",
};
constexpr int kExports = sizeof kNames / sizeof kNames[0];
enum { kOpen, kSetPalette, kSetFlags, kString, kBlit, kTrans, kMask, kMerge, kClear, kClose, kCopy };

void* g_found[kExports];
template <class Fn>
Fn Export(int which) {
    return reinterpret_cast<Fn>(g_found[which]);
}
volatile LONG g_failures = 0;
int g_checks = 0;  // counted by the first thread only

void Check(bool ok, const char* what, int thread) {
    if (thread == 0) ++g_checks;
    if (ok) return;
    InterlockedIncrement(&g_failures);
    std::printf("FAILED (thread %d): %s\n", thread, what);
}

// Calls an export with all its arguments 0 (the count comes from the
// decorated name): any export can so be the first call into the image.
template <size_t>
using Zero = DWORD;
template <size_t... I>
DWORD CallZeros(void* f, std::index_sequence<I...>) {
    return reinterpret_cast<DWORD(__stdcall*)(Zero<I>...)>(f)(Zero<I>{0}...);
}
template <size_t... N>
DWORD CallWithZeros(void* f, size_t count, std::index_sequence<N...>) {
    DWORD result = 0;
    ((count == N ? (result = CallZeros(f, std::make_index_sequence<N>{}), 0) : 0), ...);
    return result;
}
void FirstCall(int which) {
    const size_t count = std::strtoul(std::strchr(kNames[which], '@') + 1, nullptr, 10) / 4;
    const DWORD result = CallWithZeros(g_found[which], count, std::make_index_sequence<14>{});
    if (which == kOpen) Export<CloseFn>(kClose)(reinterpret_cast<void*>(result));
}

// What a loader did to the image: mapped it elsewhere than its preferred
// base, applied its relocations (read at the first one), bound its imports
// (the first import slot no longer holds its name entry).
struct LoaderState {
    bool moved, relocated, bound;
};
LoaderState Inspect(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const auto& opt = nt->OptionalHeader;
    auto* block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(
        base + opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress);
    const WORD entry = *reinterpret_cast<WORD*>(block + 1);
    ULONG_PTR value;
    std::memcpy(&value, base + block->VirtualAddress + (entry & 0xFFF), sizeof value);
    auto* imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(
        base + opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    const ULONG_PTR slot = *reinterpret_cast<ULONG_PTR*>(base + imports->FirstThunk);
    const ULONG_PTR name = *reinterpret_cast<ULONG_PTR*>(base + imports->OriginalFirstThunk);
    const ULONG_PTR here = reinterpret_cast<ULONG_PTR>(base);
    return {here != opt.ImageBase, value - here < opt.SizeOfImage, slot != name};
}

WORD Pack565(const BYTE* bgr0) {
    return static_cast<WORD>((bgr0[2] >> 3) << 11 | (bgr0[1] >> 2) << 5 | bgr0[0] >> 3);
}

// The rule of each 8-bit copy: source s, mask or other pixel m, old
// destination d, transparent t.
enum Op { kCopyOp, kTransOp, kMaskOp, kMergeOp };
BYTE Expected(Op op, BYTE s, BYTE m, BYTE d, BYTE t) {
    switch (op) {
        case kTransOp: return s == t ? d : s;
        case kMaskOp: return m == t ? d : s;
        case kMergeOp: return s == t ? m : s;
        default: return s;
    }
}
BYTE Sample(int x, int y, int salt) { return static_cast<BYTE>((x * 7 + y * 5 + salt) % 4); }

// 16-bit 5-6-5 doubled, the palette as a display keeps it (blue, green,
// red, spare: layout 6); then the mode switches and the clears.
void CheckWide(int thread) {
    const auto open = Export<OpenFn>(kOpen);
    void* b = open(0xC0000002u);
    Check(b != nullptr, "QuarvBlitOpen(0xC0000002)", thread);
    if (!b) return;
    BYTE palette[1024];
    for (int i = 0; i < 1024; ++i) palette[i] = static_cast<BYTE>(i * 37 + thread);
    Export<SetPaletteFn>(kSetPalette)(b, palette, 6);
    const BYTE src[2][5] = {{1, 200, 0, 77, 9}, {255, 1, 128, 3, 64}};  // pitch 5, 4 x 2 used from column 1
    constexpr int kPitch = 2 * 2 * 4 + 6;
    BYTE dst[4 * kPitch];
    std::memset(dst, 0xAA, sizeof dst);
    Export<BlitFn>(kBlit)(b, dst, kPitch, 0, 0, src, 5, 1, 0, 4, 2);
    bool same = true;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) {
            WORD got;
            std::memcpy(&got, dst + y * kPitch + 2 * x, 2);
            same = same && got == Pack565(palette + 4 * src[y / 2][1 + x / 2]);
        }
    for (int y = 0; y < 4; ++y) same = same && dst[y * kPitch + 16] == 0xAA;
    Check(same, "QuarvBlit 16-bit 5-6-5 2x gives 2x2 blocks of the palette's pixels", thread);
    char text[64] = "x";
    Check(std::strncmp(Export<StringFn>(kString)(b, text), "16-bit 2x", 9) == 0 &&
              text[9] != 'I',
          "QuarvBlitString names 16-bit 2x", thread);
    const auto setFlags = Export<SetFlagsFn>(kSetFlags);
    Check(setFlags(b, 0xC0000008u) == 1 && setFlags(b, 0xC0000004u) == 0, "QuarvBlitSetFlags: interlaced yes, smoothing no",
          thread);
    Export<StringFn>(kString)(b, text);
    Check(std::strncmp(text, "16-bit 2x Interlaced", 20) == 0, "QuarvBlitString follows the flags", thread);
    WORD line[6] = {};
    Export<ClearFn>(kClear)(b, line, 12, 1, 0, 2, 1, -5);
    Export<ClearFn>(kClear)(b, line, 12, 3, 0, 2, 1, 200);
    const WORD want[6] = {0, 5, 5, Pack565(palette + 800), Pack565(palette + 800), 0};
    Check(std::memcmp(line, want, sizeof line) == 0, "QuarvBlitClear: -5 is pixel 5, 200 is palette entry 200", thread);
    Export<CloseFn>(kClose)(b);
}

// 8-bit 1x: the copy and the three selecting copies between raw buffers;
// 8-bit smoothing: one pixel becomes a 2x2 block of itself.
void CheckNarrow(int thread) {
    const auto open = Export<OpenFn>(kOpen);
    void* b = open(0x1);
    Check(b != nullptr, "QuarvBlitOpen(1)", thread);
    if (!b) return;
    constexpr int kSrcPitch = 12, kDstPitch = 16, kT = 2;
    BYTE src[5 * kSrcPitch], second[5 * kSrcPitch];
    for (int i = 0; i < 5 * kSrcPitch; ++i) {
        src[i] = Sample(i % kSrcPitch, i / kSrcPitch, 0);
        second[i] = Sample(i % kSrcPitch, i / kSrcPitch, 3);
    }
    const Op ops[] = {kCopyOp, kTransOp, kMaskOp, kMergeOp};
    for (Op op : ops) {
        BYTE dst[6 * kDstPitch], want[6 * kDstPitch];
        for (int i = 0; i < 6 * kDstPitch; ++i) dst[i] = want[i] = static_cast<BYTE>(100 + i);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 9; ++x) {
                BYTE& d = want[(1 + y) * kDstPitch + 2 + x];
                const int at = (1 + y) * kSrcPitch + 1 + x;
                d = Expected(op, src[at], second[at], d, kT);
            }
        if (op == kCopyOp)
            Export<BlitFn>(kBlit)(b, dst, kDstPitch, 2, 1, src, kSrcPitch, 1, 1, 9, 3);
        else if (op == kTransOp)  // only the low byte of transparent counts
            Export<TransFn>(kTrans)(b, dst, kDstPitch, 2, 1, src, kSrcPitch, 1, 1, 9, 3, 0x100 | kT);
        else
            Export<SelectFn>(op == kMaskOp ? kMask : kMerge)(b, dst, kDstPitch, 2, 1, src,
                                                                                kSrcPitch, 1, 1, 9, 3, kT, second);
        char what[80];
        std::snprintf(what, sizeof what, "8-bit 1x %s between raw buffers", kNames[kBlit + op]);
        Check(std::memcmp(dst, want, sizeof dst) == 0, what, thread);
    }
    Export<CloseFn>(kClose)(b);

    b = open(0x4);
    Check(b != nullptr, "QuarvBlitOpen(4)", thread);
    if (!b) return;
    BYTE palette[768];
    for (int i = 0; i < 768; ++i) palette[i] = static_cast<BYTE>(i * 11);
    Export<SetPaletteFn>(kSetPalette)(b, palette, 0);
    const BYTE pixel = 45;
    BYTE block[2][3] = {{0, 0, 9}, {0, 0, 9}};
    Export<BlitFn>(kBlit)(b, block, 3, 0, 0, &pixel, 1, 0, 0, 1, 1);
    Check(block[0][0] == 45 && block[0][1] == 45 && block[1][0] == 45 && block[1][1] == 45 && block[0][2] == 9,
          "QuarvBlit 8-bit smoothing of one pixel", thread);
    Export<CloseFn>(kClose)(b);
}

struct Buffer {
    Record record;
    BYTE pixels[7 * 16];
};
void MakeBuffer(Buffer* b, bool bottomUp, DWORD width, DWORD height, int salt) {
    std::memset(&b->record, 0, sizeof b->record);
    b->record.bottomUp = bottomUp;
    b->record.width = width;
    b->record.height = height;
    b->record.pitch = (width + 7) & ~7u;
    b->record.outWidth = width;
    b->record.outHeight = height;
    b->record.paletteLayout = 6;
    b->record.pixels = b->pixels;
    for (int i = 0; i < 7 * 16; ++i) b->pixels[i] = Sample(i, i / 3, salt);
}
// The pixel at (x, y) of the picture, whichever way up the memory holds it.
BYTE& Pixel(Buffer& b, int x, int y) {
    const DWORD row = b.record.bottomUp ? b.record.height - 1 - y : y;
    return b.pixels[row * b.record.pitch + x];
}

// The four copies between records, from and to either orientation.
void CheckRecords(int thread) {
    constexpr int kW = 8, kH = 4, kSrcX = 2, kSrcY = 1, kDestX = 1, kDestY = 2, kT = 1;
    for (int c = 0; c < 16; ++c) {
        const Op op = static_cast<Op>(c % 4);
        const bool srcUp = c & 4, destUp = c & 8;
        Buffer src, second, dest, want;
        MakeBuffer(&src, srcUp, 13, 6, 0);
        MakeBuffer(&second, srcUp, 13, 6, 2);
        MakeBuffer(&dest, destUp, 11, 7, 1);
        want = dest;
        want.record.pixels = want.pixels;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                BYTE& d = Pixel(want, kDestX + x, kDestY + y);
                d = Expected(op, Pixel(src, kSrcX + x, kSrcY + y), Pixel(second, kSrcX + x, kSrcY + y), d, kT);
            }
        Record* d = &dest.record;
        const Record* s = &src.record;
        if (op == kCopyOp)
            Export<CopyFn>(kCopy)(d, kDestX, kDestY, s, kSrcX, kSrcY, kW, kH);
        else if (op == kTransOp)
            Export<CopyTransFn>(kCopy + op)(d, kDestX, kDestY, s, kSrcX, kSrcY, kW, kH, kT);
        else
            Export<CopySelectFn>(kCopy + op)(d, kDestX, kDestY, s, kSrcX, kSrcY, kW, kH, kT,
                                                                &second.record);
        char what[96];
        std::snprintf(what, sizeof what, "%s %s to %s", kNames[kCopy + op], srcUp ? "bottom-up" : "top-down",
                      destUp ? "bottom-up" : "top-down");
        Check(std::memcmp(dest.pixels, want.pixels, sizeof dest.pixels) == 0, what, thread);
    }
}

void RunChecks(int thread) {
    CheckWide(thread);
    CheckNarrow(thread);
    CheckRecords(thread);
}

// A fault anywhere (a wrong address in the image) ends the program at once
// with a message, rather than with the system's crash handling.
LONG WINAPI ReportFault(EXCEPTION_POINTERS* e) {
    std::printf("FAILED: exception 0x%08lx at %p\n", e->ExceptionRecord->ExceptionCode,
                e->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    ExitProcess(3);
}

struct ThreadStart {
    HANDLE go;
    int index;
};
DWORD WINAPI ThreadMain(void* arg) {
    auto* start = static_cast<ThreadStart*>(arg);
    WaitForSingleObject(start->go, INFINITE);
    FirstCall(start->index);
    RunChecks(start->index);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::printf("usage: blit_exports <quarvplay.exe> [relocated]\n");
        return 2;
    }
    SetUnhandledExceptionFilter(ReportFault);
    const bool relocated = argc > 2 && std::strcmp(argv[2], "relocated") == 0;
    // Round r < kExports: one thread whose first call is export r; round
    // kExports: every export first in a thread of its own, all at once.
    for (int round = 0; round <= kExports; ++round) {
        HMODULE module = relocated ? LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES)
                                   : LoadLibraryA(argv[1]);
        if (!module) {
            std::printf("FAILED: cannot load %s (error %lu)\n", argv[1], GetLastError());
            return 1;
        }
        const LoaderState state = Inspect(module);
        if (!state.moved || state.relocated != relocated || state.bound) {
            std::printf("FAILED: the loader left the image moved %d, relocated %d, bound %d\n", state.moved,
                        state.relocated, state.bound);
            return 1;
        }
        for (int i = 0; i < kExports; ++i)
            if (!(g_found[i] = reinterpret_cast<void*>(GetProcAddress(module, kNames[i])))) {
                std::printf("FAILED: %s is not exported\n", kNames[i]);
                return 1;
            }
        if (round < kExports) {
            FirstCall(round);
            RunChecks(0);
        } else {
            HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
            ThreadStart starts[kExports];
            HANDLE threads[kExports];
            for (int i = 0; i < kExports; ++i) {
                starts[i] = {go, i};
                threads[i] = CreateThread(nullptr, 0, ThreadMain, &starts[i], 0, nullptr);
            }
            Sleep(50);  // all of them waiting on the event
            SetEvent(go);
            WaitForMultipleObjects(kExports, threads, TRUE, INFINITE);
            for (HANDLE t : threads) CloseHandle(t);
            CloseHandle(go);
        }
        std::printf("round %d: first call %s; %d checks, %ld failed so far\n", round,
                    round < kExports ? kNames[round] : "by 14 threads at once", g_checks, g_failures);
        FreeLibrary(module);
    }
    std::printf("%s\n", g_failures ? "blit_exports: FAILED" : "blit_exports: all checks passed");
    return g_failures ? 1 : 0;
}
