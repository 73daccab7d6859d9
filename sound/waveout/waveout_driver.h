// The waveOut back-end: two output blocks per track, fed only when the
// library calls the driver's service. Its logic is portable; the device
// calls go through a small table that the Win32 build fills with the real
// waveOut functions and that tests replace.
#pragma once
#include <cstdint>

#include "sound/pcm_format.h"

struct SoundTrack;

// Each output block starts with this many bytes of device header (the
// device's header record: 32 bytes in the 32-bit program, 48 in a 64-bit
// build).
constexpr uint32_t kWaveHeaderBytes = sizeof(void*) == 4 ? 32 : 48;

struct WaveOutCalls {
    // Opens the wave mapper for the format with no callback; `instance` is
    // the instance data. 0 on success, else the device's error code.
    uint32_t (*Open)(uintptr_t* device, const PcmFormat& format, uintptr_t instance);
    uint32_t (*Close)(uintptr_t device);
    uint32_t (*Reset)(uintptr_t device);
    // Zeroes a header and points it at `length` bytes of data.
    void (*InitHeader)(void* header, uint8_t* data, uint32_t length);
    uint32_t (*Prepare)(uintptr_t device, void* header);
    uint32_t (*Unprepare)(uintptr_t device, void* header);
    uint32_t (*Write)(uintptr_t device, void* header);
    void (*SetLength)(void* header, uint32_t length);
    // The done flag: set by the device when it has finished with a block.
    bool (*IsDone)(const void* header);
    void (*SetDone)(void* header, bool done);
};

// The platform's own calls (null where there is no waveOut).
const WaveOutCalls* PlatformWaveOutCalls();
// Replaces the calls (null: back to the platform's own). Tests only.
void SetWaveOutCalls(const WaveOutCalls* calls);

// Fills the driver table with this back-end unless a driver is installed
// (or the platform has no waveOut).
void InstallWaveOutSoundDriver();

// The back-end's view of a track (tests and diagnostics).
struct WaveOutState {
    uintptr_t Device;  // 0 while closed
    uint32_t BlockSize;
    uint32_t PosBase;
    uint8_t* BlockA;  // header, then BlockSize bytes of data
    uint8_t* BlockB;
    uint32_t BlockStart;  // ms; 0 = no group yet
    uint32_t BlockDuration;
    uint32_t BlockBytes;
    uint32_t OpenArg;
};
WaveOutState WaveOutStateOf(const SoundTrack* track);
