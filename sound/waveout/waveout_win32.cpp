// The waveOut back-end's device calls: the real waveOut functions.
#include <windows.h>
#include <mmsystem.h>

#include <cstring>

#include "sound/waveout/waveout_driver.h"

static_assert(sizeof(WAVEHDR) == kWaveHeaderBytes, "a block's header area is one WAVEHDR");

namespace {

WAVEHDR* Hdr(void* h) { return static_cast<WAVEHDR*>(h); }
HWAVEOUT Dev(uintptr_t d) { return reinterpret_cast<HWAVEOUT>(d); }

uint32_t Open(uintptr_t* device, const PcmFormat& f, uintptr_t instance) {
    WAVEFORMATEX format;
    std::memset(&format, 0, sizeof format);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(f.Channels);
    format.nSamplesPerSec = f.Rate;
    format.wBitsPerSample = static_cast<WORD>(f.Bits);
    format.nBlockAlign = static_cast<WORD>(f.BlockAlign);
    format.nAvgBytesPerSec = f.AvgBytesPerSecond;
    HWAVEOUT h = nullptr;
    MMRESULT r = waveOutOpen(&h, WAVE_MAPPER, &format, 0, instance, CALLBACK_NULL);
    if (r != MMSYSERR_NOERROR) return r;
    *device = reinterpret_cast<uintptr_t>(h);
    return 0;
}

uint32_t Close(uintptr_t d) { return waveOutClose(Dev(d)); }
uint32_t Reset(uintptr_t d) { return waveOutReset(Dev(d)); }

void InitHeader(void* h, uint8_t* data, uint32_t length) {
    std::memset(h, 0, sizeof(WAVEHDR));
    Hdr(h)->lpData = reinterpret_cast<LPSTR>(data);
    Hdr(h)->dwBufferLength = length;
}

uint32_t Prepare(uintptr_t d, void* h) { return waveOutPrepareHeader(Dev(d), Hdr(h), sizeof(WAVEHDR)); }
uint32_t Unprepare(uintptr_t d, void* h) { return waveOutUnprepareHeader(Dev(d), Hdr(h), sizeof(WAVEHDR)); }
uint32_t Write(uintptr_t d, void* h) { return waveOutWrite(Dev(d), Hdr(h), sizeof(WAVEHDR)); }
void SetLength(void* h, uint32_t length) { Hdr(h)->dwBufferLength = length; }

// The device sets WHDR_DONE from its own thread.
bool IsDone(const void* h) {
    const volatile DWORD* flags = &static_cast<const WAVEHDR*>(h)->dwFlags;
    return (*flags & WHDR_DONE) != 0;
}

void SetDone(void* h, bool done) {
    volatile DWORD* flags = &Hdr(h)->dwFlags;
    if (done)
        *flags = *flags | WHDR_DONE;
    else
        *flags = *flags & ~static_cast<DWORD>(WHDR_DONE);
}

const WaveOutCalls kCalls = {Open, Close, Reset, InitHeader, Prepare, Unprepare, Write, SetLength, IsDone, SetDone};

}  // namespace

const WaveOutCalls* PlatformWaveOutCalls() { return &kCalls; }
