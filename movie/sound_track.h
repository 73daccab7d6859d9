// The sound-track record: one per enabled track, owned by the Movie. The
// library's sound step fills its ring; the installed sound driver drains it.
#pragma once
#include <cstdint>

struct SoundTrack {
    uint8_t* RingStart;
    uint8_t* RingEnd;
    uint8_t* ReadPos;   // moved only by the driver
    uint8_t* WritePos;  // moved only by the sound step
    uint32_t Count;     // shared with a driver thread: change only through RingCountAdd/RingCountSub
    uint32_t BytesPerSecond;
    uint32_t RingSize;
    uint32_t FrameBytes;
    uint32_t Clock;
    uint32_t ClockBase;
    uint32_t LateMark;
    uint32_t Delivered;
    uint32_t Overflows;
    uint32_t SoundSkips;
    uint32_t Lead;
    SoundTrack* Next;        // driver's list link
    uintptr_t DriverWord[2]; // driver use (waveOut: DeviceHandle, BlockSize; DirectSound: -, DsBufferBytes)
    uint32_t Rate;
    uint32_t NoData;
    uint32_t Bits16;
    uint32_t Stereo;
    uint32_t Underrun;
    uint32_t UnderrunSeen;
    uintptr_t DriverData[13];  // driver use
};

// Count is shared between the player's thread and a driver's timer thread:
// every change is one atomic read-modify-write.
inline void RingCountAdd(SoundTrack* t, uint32_t n) { __atomic_fetch_add(&t->Count, n, __ATOMIC_SEQ_CST); }
inline void RingCountSub(SoundTrack* t, uint32_t n) { __atomic_fetch_sub(&t->Count, n, __ATOMIC_SEQ_CST); }
inline uint32_t RingCountGet(const SoundTrack* t) { return __atomic_load_n(&t->Count, __ATOMIC_SEQ_CST); }
// Copies n bytes from the ring at ReadPos (wrapping) and takes them: what a
// device back-end does as it hands sound on.
void TakeFromRing(SoundTrack* t, uint8_t* dst, uint32_t n);
inline void RingCountSet(SoundTrack* t, uint32_t n) { __atomic_store_n(&t->Count, n, __ATOMIC_SEQ_CST); }
