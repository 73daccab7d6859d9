// waveOut output: per track, one allocation holding two blocks (a device
// header and BlockSize bytes each). Service hands at most one block per
// track to the device per call; the play position is the bytes handed over,
// spread over wall-clock time, never the device's own position.
#include "sound/waveout/waveout_driver.h"

#include <cstring>
#include <initializer_list>

#include "common/aligned_alloc.h"
#include "common/platform.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "sound/sound_driver.h"

namespace {

const WaveOutCalls* Calls = nullptr;
bool CallsChosen = false;

const WaveOutCalls* Api() {
    if (!CallsChosen) {
        Calls = PlatformWaveOutCalls();
        CallsChosen = true;
    }
    return Calls;
}

SoundTrack* Tracks = nullptr;  // open tracks, newest first

// The record's driver words: DeviceHandle and BlockSize after Next; the
// rest at the record's end (the lengths last written in each block too).
enum { kPosBase, kBlockA, kBlockB, kBlockStart, kBlockDuration, kBlockBytes, kOpenArg, kLengthA, kLengthB };

uintptr_t& Device(SoundTrack* t) { return t->DriverWord[0]; }
uint32_t BlockSize(const SoundTrack* t) { return static_cast<uint32_t>(t->DriverWord[1]); }
uintptr_t& Word(SoundTrack* t, int i) { return t->DriverData[i]; }
uint32_t Get(const SoundTrack* t, int i) { return static_cast<uint32_t>(t->DriverData[i]); }
void Set(SoundTrack* t, int i, uint32_t v) { t->DriverData[i] = v; }
uint8_t* BlockA(const SoundTrack* t) { return reinterpret_cast<uint8_t*>(t->DriverData[kBlockA]); }
uint8_t* BlockB(const SoundTrack* t) { return reinterpret_cast<uint8_t*>(t->DriverData[kBlockB]); }
uint8_t* DataOf(uint8_t* block) { return block + kWaveHeaderBytes; }

constexpr uint32_t kStartTimeoutMs = 1000;

// Waits (polling the clock) until the device has marked the block done.
bool WaitDone(uint8_t* block, uint32_t timeoutMs) {
    uint32_t start = NowMs();
    while (!Api()->IsDone(block)) {
        if (NowMs() - start >= timeoutMs) return false;
        SleepMs(1);
    }
    return true;
}

void StopDevice(SoundTrack* t) {
    uintptr_t device = Device(t);
    if (!device) return;
    Api()->Reset(device);
    // A reset returns every block; one that a broken device never returns
    // is taken back by hand rather than waited for forever.
    for (uint8_t* block : {BlockA(t), BlockB(t)}) {
        if (!WaitDone(block, kStartTimeoutMs)) Api()->SetDone(block, true);
    }
    Api()->Unprepare(device, BlockA(t));
    Api()->Unprepare(device, BlockB(t));
    Api()->Close(device);
    Device(t) = 0;
}

bool StartDevice(SoundTrack* t) {
    if (Device(t)) return true;
    PcmFormat format = PcmFormatOf(t);
    LogText("Using standard waveOut\r\n");
    uintptr_t device = 0;
    uint32_t error = Api()->Open(&device, format, Get(t, kOpenArg));
    if (error) {
        LogNumber("WaveOut open failed - error #: ", error);
        return false;
    }
    Device(t) = device;
    uint8_t* a = BlockA(t);
    uint8_t* b = BlockB(t);
    uint32_t size = BlockSize(t);
    Api()->InitHeader(a, DataOf(a), size);
    Api()->InitHeader(b, DataOf(b), size);
    Api()->Prepare(device, a);
    Api()->Prepare(device, b);
    Api()->SetDone(b, true);

    // A short silent write starts the device; wait until it has played it.
    std::memset(DataOf(a), SilenceOf(t), size);
    Api()->SetLength(a, 4);
    Api()->SetDone(a, false);
    Api()->Write(device, a);
    if (!WaitDone(a, kStartTimeoutMs)) {
        Api()->SetDone(a, true);
        StopDevice(t);
        return false;
    }
    return true;
}

void ServiceTrack(SoundTrack* t) {
    if (!Device(t)) return;
    uint8_t* a = BlockA(t);
    uint8_t* b = BlockB(t);
    bool aDone = Api()->IsDone(a);
    bool bDone = Api()->IsDone(b);
    if (aDone && bDone) __atomic_store_n(&t->Underrun, 1u, __ATOMIC_SEQ_CST);

    uint32_t count = RingCountGet(t);
    if (count <= 3 || !(aDone || bDone)) return;
    uint8_t* block = aDone ? a : b;
    uint32_t size = BlockSize(t);
    uint32_t n = count < size ? count : size;
    TakeFromRing(t, DataOf(block), n);
    Api()->SetLength(block, n);
    Api()->SetDone(block, false);
    std::memset(DataOf(block) + n, SilenceOf(t), size - n);
    Api()->Write(Device(t), block);
    Set(t, block == a ? kLengthA : kLengthB, n);

    // The position is the bytes handed over, spread over the time they take;
    // a write after the previous group ran out starts a new group.
    uint32_t now = NowMs();
    uint32_t start = Get(t, kBlockStart);
    if (start == 0) {
        Set(t, kBlockStart, now);
        Set(t, kBlockBytes, n);
    } else if (static_cast<int32_t>(now - (start + Get(t, kBlockDuration))) > 0) {
        Set(t, kPosBase, Get(t, kPosBase) + Get(t, kBlockBytes));
        Set(t, kBlockStart, now);
        Set(t, kBlockBytes, n);
    } else {
        Set(t, kBlockBytes, Get(t, kBlockBytes) + n);
    }
    Set(t, kBlockDuration, static_cast<uint32_t>(static_cast<uint64_t>(Get(t, kBlockBytes)) * 1000 /
                                                 t->BytesPerSecond));
}

void Service() {
    for (SoundTrack* t = Tracks; t; t = t->Next) ServiceTrack(t);
}

bool OpenTrack(SoundTrack* t, uint32_t flags) {
    // A quarter of a second in whole pages (a page at least).
    uint32_t size = (t->BytesPerSecond / 4 + 4095) & ~4095u;
    if (size == 0) size = 4096;
    uint8_t* blocks = static_cast<uint8_t*>(AlignedAlloc(2 * size + 2 * kWaveHeaderBytes));
    if (!blocks) return false;
    t->DriverWord[1] = size;
    Device(t) = 0;
    Word(t, kBlockA) = reinterpret_cast<uintptr_t>(blocks);
    Word(t, kBlockB) = reinterpret_cast<uintptr_t>(blocks + size + kWaveHeaderBytes);
    Set(t, kPosBase, 0);
    Set(t, kBlockStart, 0);
    Set(t, kBlockDuration, 0);
    Set(t, kBlockBytes, 0);
    Set(t, kOpenArg, flags);
    if (!StartDevice(t)) {
        AlignedFree(blocks);
        Word(t, kBlockA) = Word(t, kBlockB) = 0;
        return false;
    }
    t->Next = Tracks;
    Tracks = t;
    return true;
}

bool Unlink(SoundTrack* t) {
    for (SoundTrack** link = &Tracks; *link; link = &(*link)->Next) {
        if (*link == t) {
            *link = t->Next;
            t->Next = nullptr;
            return true;
        }
    }
    return false;
}

void CloseTrack(SoundTrack* t) {
    if (!Unlink(t)) return;
    StopDevice(t);
    AlignedFree(BlockA(t));
    Word(t, kBlockA) = Word(t, kBlockB) = 0;
}

uint32_t PlayPosition(SoundTrack* t) {
    Service();
    uint32_t start = Get(t, kBlockStart);
    if (start == 0) return 0;
    uint32_t elapsed = NowMs() - start;
    uint32_t duration = Get(t, kBlockDuration);
    uint32_t bytes = Get(t, kBlockBytes);
    if (elapsed >= duration) return Get(t, kPosBase) + bytes;
    return Get(t, kPosBase) + static_cast<uint32_t>(static_cast<uint64_t>(bytes) * elapsed / duration);
}

// What the device has returned: everything handed over but the blocks it
// still holds.
uint32_t Played(SoundTrack* t) {
    Service();
    uint32_t held = 0;
    if (Device(t)) {
        if (!Api()->IsDone(BlockA(t))) held += Get(t, kLengthA);
        if (!Api()->IsDone(BlockB(t))) held += Get(t, kLengthB);
    }
    const uint32_t handed = Get(t, kPosBase) + Get(t, kBlockBytes);
    return handed > held ? handed - held : 0;
}

void Reset(SoundTrack* t) {
    if (Device(t)) Api()->Reset(Device(t));
    Set(t, kBlockBytes, 0);
    Set(t, kBlockDuration, 0);
    Set(t, kBlockStart, 0);
    Set(t, kPosBase, 0);
    Set(t, kLengthA, 0);
    Set(t, kLengthB, 0);
}

void Pause(SoundTrack* t) { StopDevice(t); }

bool Resume(SoundTrack* t) { return StartDevice(t); }

}  // namespace

void SetWaveOutCalls(const WaveOutCalls* calls) {
    Calls = calls ? calls : PlatformWaveOutCalls();
    CallsChosen = true;
}

void InstallWaveOutSoundDriver() {
    if (SoundDriverTable.open_track || !Api()) return;
    SoundDriverTable.open_track = OpenTrack;
    SoundDriverTable.close_track = CloseTrack;
    SoundDriverTable.play_position = PlayPosition;
    SoundDriverTable.played = Played;
    SoundDriverTable.reset = Reset;
    SoundDriverTable.pause = Pause;
    SoundDriverTable.resume = Resume;
    SoundDriverTable.service = Service;
}

WaveOutState WaveOutStateOf(const SoundTrack* t) {
    WaveOutState s;
    s.Device = t->DriverWord[0];
    s.BlockSize = BlockSize(t);
    s.PosBase = Get(t, kPosBase);
    s.BlockA = BlockA(t);
    s.BlockB = BlockB(t);
    s.BlockStart = Get(t, kBlockStart);
    s.BlockDuration = Get(t, kBlockDuration);
    s.BlockBytes = Get(t, kBlockBytes);
    s.OpenArg = Get(t, kOpenArg);
    return s;
}
