// The /D resolution change against a stand-in for ChangeDisplaySettingsA:
// Wine cannot change the mode of a virtual X screen, so this program
// redirects the function's first bytes in user32 to a recorder and checks
// the calls ChangeDisplayMode makes (mode record, fields, sizes, flags).
//   display_mode_standin RESULTFILE
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "player/display_mode.h"
#include "player/win32/display_mode_win32.cpp"  // the code under test, built into the player only

namespace {

FILE* result = nullptr;
int failures = 0;

void Check(bool ok, const char* what, long a = 0, long b = 0) {
    std::fprintf(result, "%s %s (%ld, %ld)\n", ok ? "PASS" : "FAIL", what, a, b);
    if (!ok) failures++;
}

struct Call {
    bool record;
    WORD size;
    DWORD fields, width, height, flags;
};
std::vector<Call> calls;
LONG answer = DISP_CHANGE_SUCCESSFUL;

LONG WINAPI StandIn(DEVMODEA* mode, DWORD flags) {
    Call c{mode != nullptr, 0, 0, 0, 0, flags};
    if (mode) {
        c.size = mode->dmSize;
        c.fields = mode->dmFields;
        c.width = mode->dmPelsWidth;
        c.height = mode->dmPelsHeight;
    }
    calls.push_back(c);
    return answer;
}

// Writes a jump to StandIn over the start of the named export.
bool Redirect(const char* name) {
    auto* target = reinterpret_cast<uint8_t*>(GetProcAddress(LoadLibraryA("user32.dll"), name));
    if (!target) {
        std::fprintf(result, "  %s not found\n", name);
        return false;
    }
    uint8_t code[16];
    size_t n;
#if defined(_WIN64)
    code[0] = 0x48, code[1] = 0xB8;  // mov rax, StandIn
    const uint64_t to = reinterpret_cast<uint64_t>(&StandIn);
    memcpy(code + 2, &to, 8);
    code[10] = 0xFF, code[11] = 0xE0;  // jmp rax
    n = 12;
#else
    code[0] = 0xE9;  // jmp rel32
    const int32_t rel = int32_t(reinterpret_cast<intptr_t>(&StandIn) - reinterpret_cast<intptr_t>(target + 5));
    memcpy(code + 1, &rel, 4);
    n = 5;
#endif
    DWORD old;
    if (!VirtualProtect(target, n, PAGE_EXECUTE_READWRITE, &old)) {
        std::fprintf(result, "  VirtualProtect failed: %lu\n", GetLastError());
        return false;
    }
    memcpy(target, code, n);
    VirtualProtect(target, n, old, &old);
    FlushInstructionCache(GetCurrentProcess(), target, n);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    result = std::fopen(argv[1], "w");
    if (!result) return 2;
    if (!Redirect("ChangeDisplaySettingsA")) {
        Check(false, "stand-in installed");
        std::fclose(result);
        return 1;
    }
    Check(ChangeDisplayMode(2), "/D2 reports success");
    Check(calls.size() == 1, "one call", long(calls.size()));
    if (calls.size() == 1) {
        const Call& c = calls[0];
        Check(c.record && c.size == 156, "a mode record of size 156", c.size);
        Check(c.fields == (DM_PELSWIDTH | DM_PELSHEIGHT), "width and height fields only", long(c.fields));
        Check(c.width == 640 && c.height == 480, "640 x 480", long(c.width), long(c.height));
        Check(c.flags == CDS_FULLSCREEN, "CDS_FULLSCREEN", long(c.flags));
    }
    const int32_t modes[4][3] = {{1, 640, 400}, {3, 800, 600}, {4, 1024, 768}, {0, 0, 0}};
    for (const auto& m : modes) {
        calls.clear();
        ChangeDisplayMode(m[0]);
        const bool ok = calls.size() == 1 &&
                        (m[0] == 0 ? !calls[0].record && calls[0].flags == CDS_FULLSCREEN
                                   : calls[0].width == DWORD(m[1]) && calls[0].height == DWORD(m[2]));
        Check(ok, m[0] == 0 ? "restore: no record, CDS_FULLSCREEN" : "mode size", m[0], long(calls.size()));
    }
    calls.clear();
    Check(!ChangeDisplayMode(5) && !ChangeDisplayMode(-1) && calls.empty(), "other numbers make no call",
          long(calls.size()));
    answer = DISP_CHANGE_BADMODE;
    Check(!ChangeDisplayMode(2), "a refused change reports failure");
    std::fprintf(result, "%s\n", failures ? "FAILED" : "ALL PASSED");
    std::fclose(result);
    return failures ? 1 : 0;
}
