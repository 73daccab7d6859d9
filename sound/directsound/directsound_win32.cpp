// The DirectSound back-end's platform calls: DSOUND.DLL loaded at run time,
// its object and buffer interfaces, the process's windows and the
// multimedia timer.
#include <windows.h>
#include <mmsystem.h>
#include <dsound.h>

#include <cstring>

#include "sound/directsound/directsound_driver.h"

namespace {

typedef HRESULT(WINAPI* CreateFn)(LPCGUID, LPDIRECTSOUND*, LPUNKNOWN);
CreateFn DirectSoundCreateEntry = nullptr;
void (*TimerTick)() = nullptr;

// The buffer description as the first DirectSound versions defined it
// (20 bytes in the 32-bit program).
constexpr DWORD kDescSize = sizeof(DSBUFFERDESC1);

IDirectSound* Object(void* o) { return static_cast<IDirectSound*>(o); }
IDirectSoundBuffer* Buf(void* b) { return static_cast<IDirectSoundBuffer*>(b); }

void ToWave(const PcmFormat& f, WAVEFORMATEX* w) {
    std::memset(w, 0, sizeof *w);
    w->wFormatTag = WAVE_FORMAT_PCM;
    w->nChannels = static_cast<WORD>(f.Channels);
    w->nSamplesPerSec = f.Rate;
    w->wBitsPerSample = static_cast<WORD>(f.Bits);
    w->nBlockAlign = static_cast<WORD>(f.BlockAlign);
    w->nAvgBytesPerSec = f.AvgBytesPerSecond;
}

bool Load() {
    if (DirectSoundCreateEntry) return true;
    UINT old = SetErrorMode(SEM_NOOPENFILEERRORBOX);
    HMODULE lib = LoadLibraryA("DSOUND.DLL");
    SetErrorMode(old);
    if (reinterpret_cast<uintptr_t>(lib) < 32) return false;
    DirectSoundCreateEntry = reinterpret_cast<CreateFn>(reinterpret_cast<void*>(GetProcAddress(lib, "DirectSoundCreate")));
    if (!DirectSoundCreateEntry) {
        // A library without the entry is as good as none.
        FreeLibrary(lib);
        return false;
    }
    return true;
}

int32_t Create(void** object) {
    if (!DirectSoundCreateEntry) return E_FAIL;
    LPDIRECTSOUND ds = nullptr;
    HRESULT r = DirectSoundCreateEntry(nullptr, &ds, nullptr);
    *object = ds;
    return r;
}

int32_t SetCooperativeLevel(void* object, void* window) {
    return Object(object)->SetCooperativeLevel(static_cast<HWND>(window), DSSCL_PRIORITY);
}

void* ProcessWindow() {
    DWORD me = GetCurrentProcessId();
    for (HWND w = GetTopWindow(nullptr); w; w = GetWindow(w, GW_HWNDNEXT)) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == me) return w;
    }
    return GetActiveWindow();
}

int32_t CreateBuffer(void* object, uint32_t flags, uint32_t bytes, const PcmFormat* format, void** buffer) {
    WAVEFORMATEX wave;
    DSBUFFERDESC desc;
    std::memset(&desc, 0, sizeof desc);
    desc.dwSize = kDescSize;
    desc.dwFlags = flags;
    desc.dwBufferBytes = bytes;
    if (format) {
        ToWave(*format, &wave);
        desc.lpwfxFormat = &wave;
    }
    LPDIRECTSOUNDBUFFER b = nullptr;
    HRESULT r = Object(object)->CreateSoundBuffer(&desc, &b, nullptr);
    *buffer = b;
    return r;
}

int32_t SetFormat(void* buffer, const PcmFormat& format) {
    WAVEFORMATEX wave;
    ToWave(format, &wave);
    return Buf(buffer)->SetFormat(&wave);
}

int32_t Play(void* buffer) { return Buf(buffer)->Play(0, 0, DSBPLAY_LOOPING); }
int32_t Stop(void* buffer) { return Buf(buffer)->Stop(); }
int32_t SetCurrentPosition(void* buffer, uint32_t offset) { return Buf(buffer)->SetCurrentPosition(offset); }

int32_t GetCurrentPosition(void* buffer, uint32_t* play) {
    DWORD p = 0, w = 0;
    HRESULT r = Buf(buffer)->GetCurrentPosition(&p, &w);
    *play = p;
    return r;
}

int32_t Lock(void* buffer, uint32_t offset, uint32_t bytes, uint8_t** part1, uint32_t* size1, uint8_t** part2,
             uint32_t* size2) {
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    HRESULT r = Buf(buffer)->Lock(offset, bytes, &p1, &n1, &p2, &n2, 0);
    *part1 = static_cast<uint8_t*>(p1);
    *part2 = static_cast<uint8_t*>(p2);
    *size1 = n1;
    *size2 = n2;
    return r;
}

int32_t Unlock(void* buffer, uint8_t* part1, uint32_t size1, uint8_t* part2, uint32_t size2) {
    return Buf(buffer)->Unlock(part1, size1, part2, size2);
}

void ReleaseBuffer(void* buffer) { Buf(buffer)->Release(); }
void ReleaseObject(void* object) { Object(object)->Release(); }

void CALLBACK Tick(UINT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR) {
    if (TimerTick) TimerTick();
}

uint32_t StartTimer(void (*tick)()) {
    TimerTick = tick;
    return timeSetEvent(75, 25, Tick, 0, TIME_PERIODIC);
}

void KillTimer(uint32_t id) { timeKillEvent(id); }

const DsCalls kCalls = {Load,  Create, SetCooperativeLevel, ProcessWindow, CreateBuffer,  SetFormat,
                        Play,  Stop,   SetCurrentPosition,  GetCurrentPosition, Lock, Unlock,
                        ReleaseBuffer, ReleaseObject, StartTimer, KillTimer};

}  // namespace

const DsCalls* PlatformDsCalls() { return &kCalls; }
