#include "common/platform.h"

#include <windows.h>
#include <mmsystem.h>

namespace {

QvFile Win32Open(const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<QvFile>(h);
}

uint32_t Win32Read(QvFile f, void* dst, uint32_t count) {
    DWORD got = 0;
    if (!ReadFile(reinterpret_cast<HANDLE>(f), dst, count, &got, nullptr)) return 0;
    return got;
}

uint32_t Win32Seek(QvFile f, int32_t offset, uint32_t origin) {
    return SetFilePointer(reinterpret_cast<HANDLE>(f), offset, nullptr, origin);
}

void Win32Close(QvFile f) { CloseHandle(reinterpret_cast<HANDLE>(f)); }

const FileLayer kWin32Files = {Win32Open, Win32Read, Win32Seek, Win32Close};
const FileLayer* g_files = &kWin32Files;

uint32_t SystemMs() { return timeGetTime(); }
uint32_t (*g_clock)() = SystemMs;

}  // namespace

const FileLayer* GetFileLayer() { return g_files; }
void SetFileLayer(const FileLayer* layer) { g_files = layer ? layer : &kWin32Files; }

uint32_t NowMs() { return g_clock(); }
void SetClock(uint32_t (*clock)()) { g_clock = clock ? clock : SystemMs; }

void SleepMs(uint32_t ms) { Sleep(ms); }

void DebugOut(const char* text) { OutputDebugStringA(text); }

int32_t ProfileInt(const char* section, const char* key, int32_t def) {
    return static_cast<int32_t>(GetProfileIntA(section, key, def));
}
