// probe exports EXE [relocated]: the player's exported blitter used the way
// any other program would: LoadLibraryA on the executable, GetProcAddress of
// the fourteen decorated names, calls, with nothing done to the image in
// between. Its types are its own on purpose: a caller sees the exports only
// as names with word-sized arguments, and the graphics-buffer record only in
// its documented field order. What they give is compared with what the
// library linked into this program gives (the pixel rules themselves are
// the native blitter tests' concern).
// Without "relocated" EXE is loaded as it stands, which Wine maps at another
// base, unrelocated and unbound. With it EXE is a copy marked as a library,
// loaded with DONT_RESOLVE_DLL_REFERENCES: relocated but unbound, as Windows
// leaves an executable. Each load's state is checked. Rounds: for each export
// a fresh load whose first call goes through it, then every check; last,
// fourteen threads making their first calls at once, each through another.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "blit/blit.h"
#include "display/display.h"
#include "tests/win32/probe.h"

namespace {

std::string In(int thread, const std::string& what) { return "thread " + std::to_string(thread) + ": " + what; }

const char* const kNames[] = {
    "_QuarvBlitOpen@4",        "_QuarvBlitSetPalette@12",      "_QuarvBlitSetFlags@8",         "_QuarvBlitString@8",
    "_QuarvBlit@44",           "_QuarvBlitTrans@48",           "_QuarvBlitMask@52",            "_QuarvBlitMerge@52",
    "_QuarvBlitClear@32",      "_QuarvBlitClose@4",            "_QuarvBufferToBuffer@32",      "_QuarvBufferToBufferTrans@36",
    "_QuarvBufferToBufferMask@40", "_QuarvBufferToBufferMerge@40"};
constexpr int kExports = 14;
enum { kOpen, kSetPalette, kSetFlags, kString, kBlit, kTrans, kMask, kMerge, kClear, kClose, kCopy };
void* g_found[kExports];

// Calls export `which` (stdcall; each argument one machine word or less).
template <class R = ULONG_PTR, class... A>
R Call(void* const* api, int which, A... args) {
    return reinterpret_cast<R(__stdcall*)(A...)>(api[which])(args...);
}

// With every argument 0 (the count comes from the decorated name), so that
// any export can be the first call into the image.
template <size_t... I>
ULONG_PTR Zeros(int which, std::index_sequence<I...>) {
    return Call(g_found, which, ((void)I, ULONG_PTR{0})...);
}
template <size_t... N>
void FirstCall(int which, std::index_sequence<N...>) {
    const size_t count = std::strtoul(std::strchr(kNames[which], '@') + 1, nullptr, 10) / 4;
    ULONG_PTR result = 0;
    ((count == N ? (result = Zeros(which, std::make_index_sequence<N>{}), 0) : 0), ...);
    if (which == kOpen) Call(g_found, kClose, result);
}

// The graphics-buffer record in its documented order, up to the pixels; the
// display's own fields follow and mean nothing to the copies.
struct Record {
    DWORD bottomUp, memoryKind, type, fullScreen, width, height, pitch, stretched, outWidth, outHeight, screenColours,
        paletteSize, freeColours, paletteStart, paletteEnd;
    BYTE palette[1024];
    DWORD paletteLayout, redrawAll, drawn;
    BYTE* pixels;
    BYTE displayFields[128];
};

// Everything each export returns or writes, on inputs that depend on `t`,
// called through `api` (the loaded image's exports, or this program's own
// copy of the library, which the native tests check against the pixel
// rules) with Rec as the graphics-buffer record. The two must agree: a
// wrong binding, argument, calling convention, record layout or a fault of
// the unrepaired image shows as a difference.
template <class Rec>
std::vector<std::pair<std::string, std::string>> Outputs(void* const* api, int t) {
    std::vector<std::pair<std::string, std::string>> out;
    auto keep = [&out](const std::string& what, const void* p, size_t n) { out.push_back({what, std::string(static_cast<const char*>(p), n)}); };
    BYTE src[8 * 16], other[8 * 16], palette[1024];
    for (int i = 0; i < 1024; ++i) palette[i] = static_cast<BYTE>(i * 37 + t);
    for (int i = 0; i < 8 * 16; ++i) src[i] = static_cast<BYTE>((i * 7 + t) % 4), other[i] = static_cast<BYTE>((i * 5 + t) % 4);
    // 8-bit 1x, 8-bit smoothing, 16-bit 5-6-5 doubled with the palette as a display keeps it.
    for (const DWORD flags : {1u, 4u, 0xC0000002u}) {
        void* b = Call<void*>(api, kOpen, flags);
        Check(b != nullptr, In(t, "QuarvBlitOpen(" + std::to_string(flags) + ")"));
        if (!b) continue;
        Call(api, kSetPalette, b, palette, flags == 1 ? 0 : 6);
        for (int op = kBlit; op <= kClear; ++op) {
            BYTE dst[12 * 48];
            std::memset(dst, 0xAA, sizeof dst);
            if (op == kBlit) Call(api, op, b, dst, 48, 2, 1, src, 16, 1, 1, 9, 3);
            if (op == kTrans) Call(api, op, b, dst, 48, 2, 1, src, 16, 1, 1, 9, 3, 0x100 | 2);  // only the low byte counts
            if (op == kMask || op == kMerge) Call(api, op, b, dst, 48, 2, 1, src, 16, 1, 1, 9, 3, 2, other);
            if (op == kClear) Call(api, op, b, dst, 48, 1, 0, 2, 1, -5), Call(api, op, b, dst, 48, 3, 2, 2, 1, 200);
            keep(kNames[op] + (" " + std::to_string(flags)), dst, sizeof dst);
        }
        char text[2][64] = {};
        const bool same = Call<char*>(api, kString, b, text[0]) == text[0];
        const DWORD set[] = {Call<DWORD>(api, kSetFlags, b, 0xC0000008u), Call<DWORD>(api, kSetFlags, b, 0xC0000004u)};
        Call(api, kString, b, text[1]);  // follows the flags
        keep("QuarvBlitString", text, sizeof text), keep("QuarvBlitSetFlags", set, sizeof set), keep("its text", &same, 1);
        Call(api, kClose, b);
    }
    for (int c = 0; c < 16; ++c) {  // the four copies between records, from and to either orientation
        Rec recs[3] = {};  // source, other, destination
        BYTE pixels[3][7 * 16];
        for (int k = 0; k < 3; ++k) {
            Rec& r = recs[k];
            r.bottomUp = c & (k == 2 ? 8 : 4), r.width = r.outWidth = k == 2 ? 11 : 13, r.height = r.outHeight = k == 2 ? 7 : 6;
            r.pitch = (r.width + 7) & ~7u, r.paletteLayout = 6, r.pixels = pixels[k];
            for (int i = 0; i < 7 * 16; ++i) pixels[k][i] = static_cast<BYTE>((i * 7 + i / 3 * 5 + k + t) % 4);
        }
        const int op = kCopy + c % 4;
        if (op == kCopy) Call(api, op, &recs[2], 1, 2, &recs[0], 2, 1, 8, 4);
        if (op == kCopy + 1) Call(api, op, &recs[2], 1, 2, &recs[0], 2, 1, 8, 4, 1);
        if (op > kCopy + 1) Call(api, op, &recs[2], 1, 2, &recs[0], 2, 1, 8, 4, 1, &recs[1]);
        keep(kNames[op] + std::string(c & 4 ? " bottom-up" : " top-down") + (c & 8 ? " to bottom-up" : " to top-down"), pixels[2], sizeof pixels[2]);
    }
    return out;
}

void* const kDirect[kExports] = {
    reinterpret_cast<void*>(&QuarvBlitOpen), reinterpret_cast<void*>(&QuarvBlitSetPalette), reinterpret_cast<void*>(&QuarvBlitSetFlags),
    reinterpret_cast<void*>(&QuarvBlitString), reinterpret_cast<void*>(&QuarvBlit), reinterpret_cast<void*>(&QuarvBlitTrans),
    reinterpret_cast<void*>(&QuarvBlitMask), reinterpret_cast<void*>(&QuarvBlitMerge), reinterpret_cast<void*>(&QuarvBlitClear),
    reinterpret_cast<void*>(&QuarvBlitClose), reinterpret_cast<void*>(&QuarvBufferToBuffer), reinterpret_cast<void*>(&QuarvBufferToBufferTrans),
    reinterpret_cast<void*>(&QuarvBufferToBufferMask), reinterpret_cast<void*>(&QuarvBufferToBufferMerge)};

DWORD WINAPI Round(void* arg) {
    const auto which = static_cast<int>(reinterpret_cast<INT_PTR>(arg)) & 0xFF;
    if (reinterpret_cast<INT_PTR>(arg) & 0x100) WaitForSingleObject(OpenEventA(SYNCHRONIZE, FALSE, "ProbeGo"), INFINITE);
    FirstCall(which, std::make_index_sequence<14>{});
    const auto got = Outputs<Record>(g_found, which), want = Outputs<QuarvBuffer>(kDirect, which);
    size_t i = 0;
    while (i < got.size() && i < want.size() && got[i] == want[i]) ++i;
    Check(got.size() == want.size() && i == got.size(), In(which, (i < got.size() ? got[i].first : "the number of outputs") + " differs from the library's"));
    return 0;
}

// What a loader did to the image: mapped it away from its preferred base,
// applied its relocations (read at the first one), bound its imports (the
// first import slot no longer holds its name entry).
void CheckLoader(HMODULE module, bool relocated) {
    auto* base = reinterpret_cast<BYTE*>(module);
    const auto& opt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew)->OptionalHeader;
    auto* block = reinterpret_cast<IMAGE_BASE_RELOCATION*>(base + opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC].VirtualAddress);
    ULONG_PTR value;
    std::memcpy(&value, base + block->VirtualAddress + (*reinterpret_cast<WORD*>(block + 1) & 0xFFF), sizeof value);
    auto* imports = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + opt.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
    const bool bound = *reinterpret_cast<ULONG_PTR*>(base + imports->FirstThunk) !=
                       *reinterpret_cast<ULONG_PTR*>(base + imports->OriginalFirstThunk);
    const bool moved = reinterpret_cast<ULONG_PTR>(base) != opt.ImageBase;
    Check(moved && (value - reinterpret_cast<ULONG_PTR>(base) < opt.SizeOfImage) == relocated && !bound,
          std::string("the loader left the image ") + (relocated ? "moved, relocated and unbound" : "moved, unrelocated and unbound"));
}

// A fault anywhere (a wrong address in the image) ends the program at once
// with a message, rather than with the system's crash handling.
LONG WINAPI ReportFault(EXCEPTION_POINTERS* e) {
    std::printf("FAIL exception 0x%08lx at %p\n", e->ExceptionRecord->ExceptionCode, e->ExceptionRecord->ExceptionAddress);
    std::fflush(stdout);
    ExitProcess(3);
}

}  // namespace

int ExportsMain(int argc, char** argv) {
    SetUnhandledExceptionFilter(ReportFault);
    const bool relocated = argc > 2 && !std::strcmp(argv[2], "relocated");
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "ProbeGo");
    for (int round = 0; round <= kExports; ++round) {
        HMODULE module = relocated ? LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES) : LoadLibraryA(argv[1]);
        if (!module) return std::printf("FAIL cannot load %s (error %lu)\n", argv[1], GetLastError()), 1;
        CheckLoader(module, relocated);
        bool all = true;
        for (int i = 0; i < kExports; ++i) {
            all &= (g_found[i] = reinterpret_cast<void*>(GetProcAddress(module, kNames[i]))) != nullptr;
            Check(g_found[i] != nullptr, std::string(kNames[i]) + " is exported");
        }
        if (!all) return Verdict();
        if (round < kExports) {
            Round(reinterpret_cast<void*>(INT_PTR{round}));
        } else {
            HANDLE threads[kExports];
            for (int i = 0; i < kExports; ++i) threads[i] = CreateThread(nullptr, 0, Round, reinterpret_cast<void*>(INT_PTR{0x100 | i}), 0, nullptr);
            Sleep(50);  // all of them waiting
            SetEvent(go);
            WaitForMultipleObjects(kExports, threads, TRUE, INFINITE);
            for (HANDLE h : threads) CloseHandle(h);
        }
        std::printf("round %d: first call %s\n", round, round < kExports ? kNames[round] : "by 14 threads at once");
        FreeLibrary(module);
    }
    return Verdict();
}
