// DirectSound output. The feeder runs on the timer's thread and on the
// caller's; FeederBusy is a counter changed only by atomic increments and
// decrements: a pass runs only when it takes the counter from 0 to 1, and
// the caller's own DirectSound work holds the counter and waits until it is
// the only holder, so no pass ever overlaps it. The rings are shared without
// a lock: the feeder only moves ReadPos and takes from Count atomically.
#include "sound/directsound/directsound_driver.h"

#include <cstring>

#include "common/platform.h"
#include "movie/movie.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "sound/sound_driver.h"

namespace {

const DsCalls* Calls = nullptr;
bool CallsChosen = false;

const DsCalls* Api() {
    if (!CallsChosen) {
        Calls = PlatformDsCalls();
        CallsChosen = true;
    }
    return Calls;
}

// Process-wide state.
void* DirectSoundObject = nullptr;
bool OwnObject = false;
bool PrimaryPending = false;
void* PrimaryBuffer = nullptr;  // kept for the object's lifetime, never released on its own
void* SoundWindow = nullptr;
uint32_t BufferCount = 0;
SoundTrack* DsTracks = nullptr;
uint32_t TimerId = 0;
int32_t FeederBusy = 0;
uint32_t NextFeed = 0;
bool NextFeedSet = false;

constexpr uint32_t kNoMark = 0xFFFFFFFFu;
constexpr uint32_t kPassSpacingMs = 10;

// --- The counter -------------------------------------------------------------

thread_local int HoldDepth = 0;

// Brackets DirectSound work outside the feeder: once it returns, no pass is
// running and none can start until Leave.
void Enter() {
    if (HoldDepth++ > 0) return;
    __atomic_add_fetch(&FeederBusy, 1, __ATOMIC_SEQ_CST);
    while (__atomic_load_n(&FeederBusy, __ATOMIC_SEQ_CST) != 1) SleepMs(0);
}

void Leave() {
    if (--HoldDepth > 0) return;
    __atomic_sub_fetch(&FeederBusy, 1, __ATOMIC_SEQ_CST);
}

struct Hold {
    Hold() { Enter(); }
    ~Hold() { Leave(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;
};

// --- Record fields -------------------------------------------------------------
// DsBufferBytes is the second driver word after Next; the rest are at the
// record's end.
enum {
    kBuffer,
    kWriteOffset,
    kStopped,
    kWritten,
    kRoom,
    kLastPlay,
    kStopMark,
    kSilenceEnd,
    kPosLast,
    kPosTime,
    kPosMax,
    kFlags,
};

uint32_t Size(const SoundTrack* t) { return static_cast<uint32_t>(t->DriverWord[1]); }
uint32_t Get(const SoundTrack* t, int i) { return static_cast<uint32_t>(t->DriverData[i]); }
void Set(SoundTrack* t, int i, uint32_t v) { t->DriverData[i] = v; }
void* Buffer(const SoundTrack* t) { return reinterpret_cast<void*>(t->DriverData[kBuffer]); }
void SetBuffer(SoundTrack* t, void* b) { t->DriverData[kBuffer] = reinterpret_cast<uintptr_t>(b); }

void RaiseUnderrun(SoundTrack* t) { __atomic_store_n(&t->Underrun, 1u, __ATOMIC_SEQ_CST); }

// --- Object and buffers (callers hold the counter) ---------------------------

void ReleaseObject() {
    if (!OwnObject || !DirectSoundObject) return;
    Api()->ReleaseObject(DirectSoundObject);
    DirectSoundObject = nullptr;
    PrimaryBuffer = nullptr;
}

bool EnsureObject() {
    if (DirectSoundObject) return true;
    void* object = nullptr;
    int32_t r = Api()->Create(&object);
    if (r < 0 || !object) {
        LogNumber("Unable to create DirectSound object - error #: ", r);
        return false;
    }
    DirectSoundObject = object;
    void* window = SoundWindow ? SoundWindow : Api()->ProcessWindow();
    OwnObject = true;
    QuarvSoundSetWindow(window);
    PrimaryPending = true;
    return true;
}

bool CreateBuffer(SoundTrack* t) {
    PcmFormat format = PcmFormatOf(t);
    uint32_t flags = Get(t, kFlags);
    void* buffer = nullptr;
    int32_t r = Api()->CreateBuffer(DirectSoundObject, flags, Size(t), &format, &buffer);
    if (r < 0) {
        // Some systems refuse global focus; ask again without it.
        buffer = nullptr;
        r = Api()->CreateBuffer(DirectSoundObject, flags & ~static_cast<uint32_t>(kDsGlobalFocus), Size(t), &format,
                                &buffer);
        if (r < 0) {
            LogNumber("Unable to create sound buffer - Error #: ", r);
            return false;
        }
    }
    SetBuffer(t, buffer);
    BufferCount++;
    Set(t, kPosLast, 0);
    Set(t, kPosMax, 0);
    Set(t, kStopped, 1);
    Set(t, kStopMark, kNoMark);
    return true;
}

void ReleaseBuffer(SoundTrack* t) {
    void* buffer = Buffer(t);
    if (!buffer) return;
    Api()->Stop(buffer);
    Api()->ReleaseBuffer(buffer);
    SetBuffer(t, nullptr);
    BufferCount--;
    // The object goes only when no buffer lives on it any more.
    if (BufferCount == 0) ReleaseObject();
}

// --- The feeder ------------------------------------------------------------------

bool InSilence(const SoundTrack* t, uint32_t p) {
    uint32_t mark = Get(t, kStopMark), end = Get(t, kSilenceEnd);
    if (mark <= end) return mark <= p && p < end;
    return p >= mark || p < end;  // the silence wraps past the buffer's end
}

void StartPlaying(SoundTrack* t) {
    if (PrimaryPending) {
        PrimaryPending = false;
        void* primary = nullptr;
        if (Api()->CreateBuffer(DirectSoundObject, kDsPrimaryBuffer, 0, nullptr, &primary) >= 0 && primary) {
            PrimaryBuffer = primary;
            Api()->SetFormat(primary, PcmFormatOf(t));
            Api()->Play(primary);
        }
    }
    Set(t, kStopped, 0);
    Api()->Play(Buffer(t));
    Set(t, kLastPlay, 0);
}

void FeedTrack(SoundTrack* t) {
    void* buffer = Buffer(t);
    const uint32_t size = Size(t);
    uint32_t start = 0, free = 0;
    bool ranOut = false;

    // a. How much of the buffer is free, and where writing goes on.
    if (Get(t, kStopped)) {
        start = 0;
        free = size;
        Set(t, kStopMark, kNoMark);
    } else {
        uint32_t p = Get(t, kLastPlay);
        if (Api()->GetCurrentPosition(buffer, &p) < 0 || p >= size) p = Get(t, kLastPlay);
        if (Get(t, kStopMark) != kNoMark && InSilence(t, p)) {
            ranOut = true;
        } else {
            uint32_t played = (p + size - Get(t, kLastPlay)) % size;
            Set(t, kLastPlay, p);
            free = played + Get(t, kRoom);
            if (free >= size)
                ranOut = true;  // everything queued has played
            else
                start = Get(t, kWriteOffset);
        }
    }
    // e. Out of sound: stop, rewind, and refill from the start if there is sound.
    if (ranOut) {
        RaiseUnderrun(t);
        Api()->Stop(buffer);
        Api()->SetCurrentPosition(buffer, 0);
        Set(t, kStopped, 1);
        start = 0;
        Set(t, kStopMark, kNoMark);
        free = size;
    }

    // b. Refill only when more than a quarter is free and no silence tail waits.
    bool wrote = false;
    Set(t, kRoom, free);
    if (free > size / 4 && Get(t, kStopMark) == kNoMark) {
        uint32_t count = RingCountGet(t);
        if (count > 3) {
            // c. Straight from the ring into the locked memory.
            uint32_t n = (free < count ? free : count) & ~3u;
            uint8_t *p1 = nullptr, *p2 = nullptr;
            uint32_t n1 = 0, n2 = 0;
            if (Api()->Lock(buffer, start, n, &p1, &n1, &p2, &n2) >= 0) {
                if (n1 > n) n1 = n;
                if (n2 > n - n1) n2 = n - n1;
                if (p1 && n1) TakeFromRing(t, p1, n1);
                if (p2 && n2) TakeFromRing(t, p2, n2);
                Api()->Unlock(buffer, p1, n1, p2, n2);
                uint32_t done = n1 + n2;
                Set(t, kWriteOffset, (start + done) % size);
                Set(t, kWritten, Get(t, kWritten) + done);
                Set(t, kRoom, free - done);
                wrote = done != 0;
            }
        } else {
            // d. The ring is dry.
            if (Get(t, kStopped)) return;  // nothing to start with
            if (free > size * 4 / 5) {
                // Less than a fifth queued: the last sound, then a quarter
                // buffer of silence that stops the buffer when reached.
                uint32_t lock = size / 4 + count;
                uint8_t *p1 = nullptr, *p2 = nullptr;
                uint32_t n1 = 0, n2 = 0;
                if (Api()->Lock(buffer, start, lock, &p1, &n1, &p2, &n2) >= 0) {
                    if (n1 > lock) n1 = lock;
                    if (n2 > lock - n1) n2 = lock - n1;
                    uint32_t first = count < n1 ? count : n1;
                    if (p1 && first) TakeFromRing(t, p1, first);
                    uint32_t second = count - first < n2 ? count - first : n2;
                    if (p2 && second) TakeFromRing(t, p2, second);
                    uint32_t sound = first + second;
                    Set(t, kWriteOffset, (start + sound) % size);
                    Set(t, kWritten, Get(t, kWritten) + sound);
                    Set(t, kRoom, free - sound);
                    Set(t, kStopMark, Get(t, kWriteOffset));
                    uint8_t silence = SilenceOf(t);
                    if (p1) std::memset(p1 + first, silence, n1 - first);
                    if (p2) std::memset(p2 + second, silence, n2 - second);
                    uint32_t end = (start + n1 + n2) % size;
                    Set(t, kWriteOffset, end);
                    Set(t, kSilenceEnd, end);
                    Api()->Unlock(buffer, p1, n1, p2, n2);
                    RaiseUnderrun(t);
                }
            }
        }
    }

    // f. A stopped buffer starts once sound went into it (never on a failed
    // lock, which would play whatever the buffer held before).
    if (Get(t, kStopped) && wrote) StartPlaying(t);
}

// --- Driver operations ----------------------------------------------------------

bool OpenTrack(SoundTrack* t, uint32_t flags) {
    // Half a second in whole pages (a page at least).
    uint32_t size = (t->BytesPerSecond / 2 + 4095) & ~4095u;
    if (size == 0) size = 4096;
    t->DriverWord[1] = size;
    LogText("Using DirectSound\r\n");
    Hold hold;
    if (!EnsureObject()) return false;
    Set(t, kWritten, 0);
    uint32_t bufferFlags = kDsGetCurrentPosition2 | kDsGlobalFocus;
    if (flags & OPEN_PAN_CONTROL) bufferFlags |= kDsCtrlPan;
    if (flags & OPEN_VOLUME_CONTROL) bufferFlags |= kDsCtrlVolume;
    Set(t, kFlags, bufferFlags);
    Set(t, kRoom, 0);
    Set(t, kWriteOffset, 0);
    if (!CreateBuffer(t)) {
        // Tracks already playing keep the object their buffers live on.
        if (BufferCount == 0) ReleaseObject();
        return false;
    }
    if (!DsTracks) TimerId = Api()->StartTimer(DsFeederPass);
    t->Next = DsTracks;
    DsTracks = t;
    return true;
}

void CloseTrack(SoundTrack* t) {
    Hold hold;
    bool found = false;
    for (SoundTrack** link = &DsTracks; *link; link = &(*link)->Next) {
        if (*link == t) {
            *link = t->Next;
            found = true;
            break;
        }
    }
    if (!found) return;
    t->Next = nullptr;
    if (!DsTracks && TimerId) {
        Api()->KillTimer(TimerId);
        TimerId = 0;
    }
    ReleaseBuffer(t);
    if (!DsTracks) {
        ReleaseObject();
        PrimaryPending = false;
    }
}

uint32_t PlayPosition(SoundTrack* t) {
    DsFeederPass();
    Hold hold;
    uint32_t written = Get(t, kWritten);
    int64_t pos = written;
    if (Buffer(t)) pos -= static_cast<int64_t>(Size(t)) - Get(t, kRoom);  // minus what is still queued
    if (pos < 0) pos = 0;
    uint32_t now = NowMs();
    uint32_t last = Get(t, kPosLast);
    if (pos == last && last != 0) {
        // No progress since the last look: go on at the track's rate.
        uint64_t more = static_cast<uint64_t>(now - Get(t, kPosTime)) * t->BytesPerSecond / 1000;
        uint64_t guess = last + more;
        pos = static_cast<int64_t>(guess < written ? guess : written);
    } else {
        Set(t, kPosLast, static_cast<uint32_t>(pos));
        Set(t, kPosTime, now);
    }
    uint32_t result = static_cast<uint32_t>(pos);
    if (result < Get(t, kPosMax)) result = Get(t, kPosMax);
    Set(t, kPosMax, result);
    return result;
}

void Reset(SoundTrack* t) {
    Hold hold;
    if (void* buffer = Buffer(t)) {
        Api()->Stop(buffer);
        Api()->SetCurrentPosition(buffer, 0);
    }
    Set(t, kStopped, 1);
    Set(t, kStopMark, kNoMark);
    Set(t, kPosLast, 0);
    Set(t, kPosMax, 0);
    Set(t, kWritten, 0);
    // The caller empties the ring next; doing it here, while no pass can
    // run, keeps a timer pass from copying out of a ring being emptied.
    uint32_t count = RingCountGet(t);
    size_t offset = static_cast<size_t>(t->ReadPos - t->RingStart) + count;
    t->ReadPos = t->RingStart + offset % t->RingSize;
    RingCountSub(t, count);
}

void Pause(SoundTrack* t) {
    Hold hold;
    ReleaseBuffer(t);
}

bool Resume(SoundTrack* t) {
    Hold hold;
    if (Buffer(t)) return true;
    if (BufferCount == 0 && !EnsureObject()) return false;
    if (CreateBuffer(t)) return true;
    if (BufferCount == 0) ReleaseObject();
    return false;
}

void Install() {
    SoundDriverTable.open_track = OpenTrack;
    SoundDriverTable.close_track = CloseTrack;
    SoundDriverTable.play_position = PlayPosition;
    SoundDriverTable.reset = Reset;
    SoundDriverTable.pause = Pause;
    SoundDriverTable.resume = Resume;
    SoundDriverTable.service = DsFeederPass;
}

}  // namespace

void DsFeederPass() {
    if (__atomic_add_fetch(&FeederBusy, 1, __ATOMIC_SEQ_CST) != 1) {
        __atomic_sub_fetch(&FeederBusy, 1, __ATOMIC_SEQ_CST);
        return;
    }
    uint32_t now = NowMs();
    if (!NextFeedSet) {
        NextFeed = now;
        NextFeedSet = true;
    }
    if (static_cast<int32_t>(now - NextFeed) >= 0) {
        NextFeed = now + kPassSpacingMs;
        for (SoundTrack* t = DsTracks; t; t = t->Next)
            if (Buffer(t)) FeedTrack(t);
    }
    __atomic_sub_fetch(&FeederBusy, 1, __ATOMIC_SEQ_CST);
}

bool QuarvUseDirectSound(void* directSound) {
    if (SoundDriverTable.open_track && SoundDriverTable.open_track != OpenTrack) return false;
    Hold hold;
    if (SoundDriverTable.open_track) {
        // Already installed: a caller's object replaces ours only while no
        // buffer lives on ours.
        if (!(OwnObject && DirectSoundObject && BufferCount)) {
            if (BufferCount == 0) ReleaseObject();
            DirectSoundObject = directSound;
            OwnObject = false;
        }
        return true;
    }
    DirectSoundObject = directSound;
    OwnObject = false;
    if (!Api() || !Api()->Load()) {
        DirectSoundObject = nullptr;
        return false;
    }
    Install();
    return true;
}

void QuarvSoundSetWindow(void* window) {
    SoundWindow = window;
    if (!DirectSoundObject || !Api()) return;
    int32_t r;
    {
        Hold hold;
        r = Api()->SetCooperativeLevel(DirectSoundObject, window);
    }
    if (r < 0) LogNumber("Unable to set cooperative level - Error #: ", r);
    LogNumber("DirectSound using HWND: ", static_cast<int64_t>(reinterpret_cast<uintptr_t>(window)));
}

void SetDsCalls(const DsCalls* calls) {
    Calls = calls ? calls : PlatformDsCalls();
    CallsChosen = true;
    DirectSoundObject = nullptr;
    OwnObject = false;
    PrimaryPending = false;
    PrimaryBuffer = nullptr;
    SoundWindow = nullptr;
    BufferCount = 0;
    DsTracks = nullptr;
    TimerId = 0;
    NextFeedSet = false;
}

DsTrackState DsTrackStateOf(const SoundTrack* t) {
    DsTrackState s;
    s.Buffer = Buffer(t);
    s.BufferBytes = Size(t);
    s.WriteOffset = Get(t, kWriteOffset);
    s.Stopped = Get(t, kStopped);
    s.Written = Get(t, kWritten);
    s.Room = Get(t, kRoom);
    s.LastPlay = Get(t, kLastPlay);
    s.StopMark = Get(t, kStopMark);
    s.SilenceEnd = Get(t, kSilenceEnd);
    s.Flags = Get(t, kFlags);
    return s;
}

DsProcessState DsProcessStateOf() {
    DsProcessState s;
    s.Object = DirectSoundObject;
    s.OwnObject = OwnObject;
    s.PrimaryPending = PrimaryPending;
    s.Window = SoundWindow;
    s.BufferCount = BufferCount;
    s.TimerId = TimerId;
    s.OpenTracks = 0;
    for (SoundTrack* t = DsTracks; t; t = t->Next) s.OpenTracks++;
    return s;
}
