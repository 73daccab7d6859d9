// probe exports EXE [relocated]: the player's exported blitter used the way
// any other program would: LoadLibraryA on the executable, GetProcAddress of
// the fourteen decorated names, calls, with nothing done to the image in
// between. Its types are its own on purpose: a caller sees the exports only
// as names with word-sized arguments, and the graphics-buffer record only in
// its documented field order.
// Without "relocated" EXE is loaded as it stands, which Wine maps at another
// base, unrelocated and unbound. With it EXE is a copy marked as a library,
// loaded with DONT_RESOLVE_DLL_REFERENCES: relocated but unbound, as Windows
// leaves an executable. Each load's state is checked. Rounds: for each export
// a fresh load whose first call goes through it, then every check; last,
// fourteen threads making their first calls at once, each through another.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "tests/win32/probe.h"

namespace {

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
R Call(int which, A... args) {
    return reinterpret_cast<R(__stdcall*)(A...)>(g_found[which])(args...);
}

// With every argument 0 (the count comes from the decorated name), so that
// any export can be the first call into the image.
template <size_t... I>
ULONG_PTR Zeros(int which, std::index_sequence<I...>) {
    return Call(which, ((void)I, ULONG_PTR{0})...);
}
template <size_t... N>
void FirstCall(int which, std::index_sequence<N...>) {
    const size_t count = std::strtoul(std::strchr(kNames[which], '@') + 1, nullptr, 10) / 4;
    ULONG_PTR result = 0;
    ((count == N ? (result = Zeros(which, std::make_index_sequence<N>{}), 0) : 0), ...);
    if (which == kOpen) Call(kClose, result);
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
struct Buffer {
    Record record;
    BYTE pixels[7 * 16];
    BYTE& At(int x, int y) { return pixels[(record.bottomUp ? record.height - 1 - y : y) * record.pitch + x]; }
};

WORD Pack565(const BYTE* bgr0) { return static_cast<WORD>((bgr0[2] >> 3) << 11 | (bgr0[1] >> 2) << 5 | bgr0[0] >> 3); }
BYTE Sample(int x, int y, int salt) { return static_cast<BYTE>((x * 7 + y * 5 + salt) % 4); }

// The rule of each 8-bit copy: source s, mask or other pixel m, old
// destination d, transparent t.
enum Op { kCopyOp, kTransOp, kMaskOp, kMergeOp };
BYTE Expected(int op, BYTE s, BYTE m, BYTE d, BYTE t) {
    return op == kTransOp ? (s == t ? d : s) : op == kMaskOp ? (m == t ? d : s) : op == kMergeOp ? (s == t ? m : s) : s;
}

std::string In(int thread, const std::string& what) { return "thread " + std::to_string(thread) + ": " + what; }

// 16-bit 5-6-5 doubled with the palette as a display keeps it (blue, green,
// red, spare: layout 6); the mode switches; the clears.
void CheckWide(int t) {
    void* b = Call<void*>(kOpen, 0xC0000002u);
    Check(b != nullptr, In(t, "QuarvBlitOpen(0xC0000002)"));
    if (!b) return;
    BYTE palette[1024];
    for (int i = 0; i < 1024; ++i) palette[i] = static_cast<BYTE>(i * 37 + t);
    Call(kSetPalette, b, palette, 6);
    const BYTE src[2][5] = {{1, 200, 0, 77, 9}, {255, 1, 128, 3, 64}};  // pitch 5, 4 x 2 used from column 1
    constexpr int kPitch = 2 * 2 * 4 + 6;
    BYTE dst[4 * kPitch];
    std::memset(dst, 0xAA, sizeof dst);
    Call(kBlit, b, dst, kPitch, 0, 0, src, 5, 1, 0, 4, 2);
    bool same = true;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 8; ++x) {
            WORD got;
            std::memcpy(&got, dst + y * kPitch + 2 * x, 2);
            same = same && got == Pack565(palette + 4 * src[y / 2][1 + x / 2]);
        }
        same = same && dst[y * kPitch + 16] == 0xAA;
    }
    Check(same, In(t, "QuarvBlit 16-bit 5-6-5 2x gives 2x2 blocks of the palette's pixels"));
    char text[64] = "x";
    Check(!std::strncmp(Call<char*>(kString, b, text), "16-bit 2x", 9) && text[9] != 'I', In(t, "QuarvBlitString: 16-bit 2x"));
    Check(Call<DWORD>(kSetFlags, b, 0xC0000008u) == 1 && Call<DWORD>(kSetFlags, b, 0xC0000004u) == 0,
          In(t, "QuarvBlitSetFlags: interlaced yes, smoothing no"));
    Call(kString, b, text);
    Check(!std::strncmp(text, "16-bit 2x Interlaced", 20), In(t, "QuarvBlitString follows the flags"));
    WORD line[6] = {};
    Call(kClear, b, line, 12, 1, 0, 2, 1, -5);
    Call(kClear, b, line, 12, 3, 0, 2, 1, 200);
    const WORD want[6] = {0, 5, 5, Pack565(palette + 800), Pack565(palette + 800), 0};
    Check(!std::memcmp(line, want, sizeof line), In(t, "QuarvBlitClear: -5 is pixel 5, 200 is palette entry 200"));
    Call(kClose, b);
}

// 8-bit 1x: the copy and the three selecting copies between raw buffers
// (only the low byte of the transparent value counts); 8-bit smoothing: one
// pixel becomes a 2x2 block of itself.
void CheckNarrow(int t) {
    void* b = Call<void*>(kOpen, 1);
    Check(b != nullptr, In(t, "QuarvBlitOpen(1)"));
    if (!b) return;
    constexpr int kSrcPitch = 12, kDstPitch = 16;
    constexpr int kT = 2;
    BYTE src[5 * kSrcPitch], other[5 * kSrcPitch];
    for (int i = 0; i < 5 * kSrcPitch; ++i) src[i] = Sample(i % kSrcPitch, i / kSrcPitch, 0), other[i] = Sample(i % kSrcPitch, i / kSrcPitch, 3);
    for (int op = kCopyOp; op <= kMergeOp; ++op) {
        BYTE dst[6 * kDstPitch], want[6 * kDstPitch];
        for (int i = 0; i < 6 * kDstPitch; ++i) dst[i] = want[i] = static_cast<BYTE>(100 + i);
        for (int y = 1; y < 4; ++y)
            for (int x = 1; x < 10; ++x) {
                BYTE& d = want[y * kDstPitch + 1 + x];
                d = Expected(op, src[y * kSrcPitch + x], other[y * kSrcPitch + x], d, kT);
            }
        if (op == kCopyOp)
            Call(kBlit, b, dst, kDstPitch, 2, 1, src, kSrcPitch, 1, 1, 9, 3);
        else if (op == kTransOp)
            Call(kTrans, b, dst, kDstPitch, 2, 1, src, kSrcPitch, 1, 1, 9, 3, 0x100 | kT);
        else
            Call(kBlit + op, b, dst, kDstPitch, 2, 1, src, kSrcPitch, 1, 1, 9, 3, kT, other);
        Check(!std::memcmp(dst, want, sizeof dst), In(t, std::string("8-bit 1x between raw buffers: ") + kNames[kBlit + op]));
    }
    Call(kClose, b);
    b = Call<void*>(kOpen, 4);
    Check(b != nullptr, In(t, "QuarvBlitOpen(4)"));
    if (!b) return;
    BYTE palette[768];
    for (int i = 0; i < 768; ++i) palette[i] = static_cast<BYTE>(i * 11);
    Call(kSetPalette, b, palette, 0);
    const BYTE pixel = 45;
    BYTE block[2][3] = {{0, 0, 9}, {0, 0, 9}};
    Call(kBlit, b, block, 3, 0, 0, &pixel, 1, 0, 0, 1, 1);
    Check(block[0][0] == 45 && block[0][1] == 45 && block[1][0] == 45 && block[1][1] == 45 && block[0][2] == 9,
          In(t, "QuarvBlit 8-bit smoothing of one pixel"));
    Call(kClose, b);
}

// The four copies between records, from and to either orientation.
void CheckRecords(int t) {
    constexpr int kW = 8, kH = 4, kSrcX = 2, kSrcY = 1, kDestX = 1, kDestY = 2, kT = 1;
    for (int c = 0; c < 16; ++c) {
        const int op = c % 4;
        Buffer bufs[4];  // source, other, destination, wanted
        const DWORD up[4] = {DWORD(c & 4), DWORD(c & 4), DWORD(c & 8), DWORD(c & 8)}, w[4] = {13, 13, 11, 11},
                    h[4] = {6, 6, 7, 7};
        for (int k = 0; k < 4; ++k) {
            std::memset(&bufs[k].record, 0, sizeof(Record));
            Record& r = bufs[k].record;
            r.bottomUp = up[k], r.width = r.outWidth = w[k], r.height = r.outHeight = h[k], r.pitch = (w[k] + 7) & ~7u;
            r.paletteLayout = 6, r.pixels = bufs[k].pixels;
            for (int i = 0; i < 7 * 16; ++i) bufs[k].pixels[i] = Sample(i, i / 3, k == 3 ? 1 : k == 2 ? 1 : k == 1 ? 2 : 0);
        }
        Buffer &src = bufs[0], &other = bufs[1], &dest = bufs[2], &want = bufs[3];
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x) {
                BYTE& d = want.At(kDestX + x, kDestY + y);
                d = Expected(op, src.At(kSrcX + x, kSrcY + y), other.At(kSrcX + x, kSrcY + y), d, kT);
            }
        if (op == kCopyOp)
            Call(kCopy, &dest.record, kDestX, kDestY, &src.record, kSrcX, kSrcY, kW, kH);
        else if (op == kTransOp)
            Call(kCopy + op, &dest.record, kDestX, kDestY, &src.record, kSrcX, kSrcY, kW, kH, kT);
        else
            Call(kCopy + op, &dest.record, kDestX, kDestY, &src.record, kSrcX, kSrcY, kW, kH, kT, &other.record);
        Check(!std::memcmp(dest.pixels, want.pixels, sizeof dest.pixels),
              In(t, std::string(kNames[kCopy + op]) + (c & 4 ? " bottom-up" : " top-down") + (c & 8 ? " to bottom-up" : " to top-down")));
    }
}

DWORD WINAPI Round(void* arg) {
    const auto which = static_cast<int>(reinterpret_cast<INT_PTR>(arg)) & 0xFF;
    if (reinterpret_cast<INT_PTR>(arg) & 0x100) WaitForSingleObject(OpenEventA(SYNCHRONIZE, FALSE, "ProbeGo"), INFINITE);
    FirstCall(which, std::make_index_sequence<14>{});
    CheckWide(which), CheckNarrow(which), CheckRecords(which);
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
        if (!module) {
            std::printf("FAIL cannot load %s (error %lu)\n", argv[1], GetLastError());
            return 1;
        }
        CheckLoader(module, relocated);
        for (int i = 0; i < kExports; ++i) g_found[i] = reinterpret_cast<void*>(GetProcAddress(module, kNames[i]));
        for (int i = 0; i < kExports; ++i) Check(g_found[i] != nullptr, std::string(kNames[i]) + " is exported");
        for (void* f : g_found)
            if (!f) return Verdict();
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
