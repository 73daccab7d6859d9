// The DirectSound back-end: one half-second looping buffer per track, fed
// from the track's ring by a feeder that runs on a periodic multimedia timer
// and on the library's service calls. Its logic is portable; the DirectSound,
// window and timer calls go through a table that the Win32 build fills with
// the real ones and that tests replace.
#pragma once
#include <cstdint>

#include "sound/pcm_format.h"

struct SoundTrack;

// Buffer description flags.
enum : uint32_t {
    kDsPrimaryBuffer = 0x1,
    kDsCtrlPan = 0x40,
    kDsCtrlVolume = 0x80,
    kDsGetCurrentPosition2 = 0x10000,
    kDsGlobalFocus = 0x8000,
};

// Results are COM-style: negative means failure.
struct DsCalls {
    // Loads the library (system error boxes suppressed) and finds its
    // creation entry; false when either is missing.
    bool (*Load)();
    int32_t (*Create)(void** object);
    int32_t (*SetCooperativeLevel)(void* object, void* window);  // priority level
    // The first top-level window of this process, else the active window.
    void* (*ProcessWindow)();
    // format null: the primary buffer (flags kDsPrimaryBuffer, bytes 0).
    int32_t (*CreateBuffer)(void* object, uint32_t flags, uint32_t bytes, const PcmFormat* format, void** buffer);
    int32_t (*SetFormat)(void* buffer, const PcmFormat& format);
    int32_t (*Play)(void* buffer);  // from the current position, looping
    int32_t (*Stop)(void* buffer);
    int32_t (*SetCurrentPosition)(void* buffer, uint32_t offset);
    int32_t (*GetCurrentPosition)(void* buffer, uint32_t* play);
    int32_t (*Lock)(void* buffer, uint32_t offset, uint32_t bytes, uint8_t** part1, uint32_t* size1,
                    uint8_t** part2, uint32_t* size2);
    int32_t (*Unlock)(void* buffer, uint8_t* part1, uint32_t size1, uint8_t* part2, uint32_t size2);
    void (*ReleaseBuffer)(void* buffer);
    void (*ReleaseObject)(void* object);
    // A periodic timer (75 ms, 25 ms resolution) calling tick on its own
    // thread; 0 when it cannot be started.
    uint32_t (*StartTimer)(void (*tick)());
    void (*KillTimer)(uint32_t id);
};

// The platform's own calls (null where there is no DirectSound).
const DsCalls* PlatformDsCalls();
// Replaces the calls (null: back to the platform's own). Tests only; also
// forgets the process-wide object, window and pass timing.
void SetDsCalls(const DsCalls* calls);

// One feeder pass (the driver's service operation, also the timer's tick).
void DsFeederPass();

// The back-end's view of a track and of the process (tests, diagnostics).
struct DsTrackState {
    void* Buffer;
    uint32_t BufferBytes;
    uint32_t WriteOffset;
    uint32_t Stopped;
    uint32_t Written;
    uint32_t Room;
    uint32_t LastPlay;
    uint32_t StopMark;  // 0xFFFFFFFF: none
    uint32_t SilenceEnd;
    uint32_t Flags;
};
DsTrackState DsTrackStateOf(const SoundTrack* track);

struct DsProcessState {
    void* Object;
    bool OwnObject;
    bool PrimaryPending;
    void* Window;
    uint32_t BufferCount;
    uint32_t TimerId;
    uint32_t OpenTracks;
};
DsProcessState DsProcessStateOf();
