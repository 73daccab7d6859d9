// The headless device: per open track, a clock that says how many bytes the
// device has asked for since it started, and a recording of what it got.
#include "sound/headless/headless_driver.h"

#include <algorithm>

#include "common/platform.h"
#include "movie/sound_track.h"
#include "sound/sound_driver.h"

namespace {

struct Device {
    bool playing = true;
    uint32_t lastMs = 0;       // NowMs() at the last look
    uint64_t elapsedMs = 0;    // device time since start, resume or reset
    uint64_t consumed = 0;     // bytes charged against elapsedMs
    uint32_t position = 0;     // bytes played since start or reset
    uint32_t underruns = 0;
    std::vector<uint8_t> recording;
};

SoundTrack* Tracks = nullptr;  // open tracks, newest first, linked through Next
bool Instant = false;
bool Recording = false;
int FailOpens = 0;
bool FailResume = false;
std::vector<std::vector<uint8_t>> Closed;

Device* DeviceOf(const SoundTrack* t) { return reinterpret_cast<Device*>(t->DriverData[0]); }

bool IsOpen(const SoundTrack* t) {
    for (SoundTrack* s = Tracks; s; s = s->Next)
        if (s == t) return true;
    return false;
}

void Restart(Device* d) {
    d->lastMs = NowMs();
    d->elapsedMs = 0;
    d->consumed = 0;
}

// Takes n bytes from the ring at ReadPos (wrapping) into the recording.
void Take(SoundTrack* t, Device* d, uint32_t n) {
    uint32_t done = 0;
    while (done < n) {
        uint32_t run = static_cast<uint32_t>(t->RingEnd - t->ReadPos);
        if (run > n - done) run = n - done;
        if (Recording) d->recording.insert(d->recording.end(), t->ReadPos, t->ReadPos + run);
        t->ReadPos += run;
        if (t->ReadPos == t->RingEnd) t->ReadPos = t->RingStart;
        done += run;
    }
    RingCountSub(t, n);
    d->position += n;
}

void Feed(SoundTrack* t) {
    Device* d = DeviceOf(t);
    if (!d->playing) return;
    uint32_t count = RingCountGet(t);
    uint64_t want;
    if (Instant) {
        want = count;
    } else {
        uint32_t now = NowMs();
        d->elapsedMs += static_cast<uint32_t>(now - d->lastMs);
        d->lastMs = now;
        uint32_t frameBytes = (t->Bits16 + 1) * (t->Stereo + 1);
        uint64_t due = d->elapsedMs * t->BytesPerSecond / 1000 / frameBytes * frameBytes;
        want = due > d->consumed ? due - d->consumed : 0;
    }
    uint32_t take = static_cast<uint32_t>(std::min<uint64_t>(want, count));
    if (take) Take(t, d, take);
    d->consumed += take;
    if (take < want) {
        // The device ran dry: the time without sound is lost, not owed.
        __atomic_store_n(&t->Underrun, 1u, __ATOMIC_SEQ_CST);
        d->underruns++;
        d->consumed += want - take;
    }
}

void Service() {
    for (SoundTrack* t = Tracks; t; t = t->Next) Feed(t);
}

bool OpenTrack(SoundTrack* t, uint32_t) {
    if (FailOpens > 0) {
        FailOpens--;
        return false;
    }
    Device* d = new Device();
    Restart(d);
    t->DriverData[0] = reinterpret_cast<uintptr_t>(d);
    t->Next = Tracks;
    Tracks = t;
    return true;
}

void CloseTrack(SoundTrack* t) {
    if (!IsOpen(t)) return;
    for (SoundTrack** link = &Tracks; *link; link = &(*link)->Next) {
        if (*link == t) {
            *link = t->Next;
            break;
        }
    }
    t->Next = nullptr;
    Device* d = DeviceOf(t);
    if (Recording) Closed.push_back(std::move(d->recording));
    delete d;
    t->DriverData[0] = 0;
}

uint32_t PlayPosition(SoundTrack* t) {
    Service();
    if (!IsOpen(t)) return 0;
    return DeviceOf(t)->position;
}

void Reset(SoundTrack* t) {
    if (!IsOpen(t)) return;
    Device* d = DeviceOf(t);
    d->position = 0;
    Restart(d);
}

void Pause(SoundTrack* t) {
    if (!IsOpen(t)) return;
    DeviceOf(t)->playing = false;
}

bool Resume(SoundTrack* t) {
    if (!IsOpen(t) || FailResume) return false;
    Device* d = DeviceOf(t);
    if (!d->playing) {
        d->playing = true;
        Restart(d);
    }
    return true;
}

}  // namespace

void InstallHeadlessSoundDriver() {
    if (SoundDriverTable.open_track) return;
    SoundDriverTable.open_track = OpenTrack;
    SoundDriverTable.close_track = CloseTrack;
    SoundDriverTable.play_position = PlayPosition;
    SoundDriverTable.reset = Reset;
    SoundDriverTable.pause = Pause;
    SoundDriverTable.resume = Resume;
    SoundDriverTable.service = Service;
}

void HeadlessSetInstant(bool on) {
    Instant = on;
    for (SoundTrack* t = Tracks; t; t = t->Next) Restart(DeviceOf(t));
}

void HeadlessRecord(bool on) {
    Recording = on;
    if (on) return;
    std::vector<std::vector<uint8_t>>().swap(Closed);
    for (SoundTrack* t = Tracks; t; t = t->Next) std::vector<uint8_t>().swap(DeviceOf(t)->recording);
}

void HeadlessFailOpens(int count) { FailOpens = count; }
void HeadlessFailResume(bool fail) { FailResume = fail; }

const std::vector<uint8_t>* HeadlessRecording(const SoundTrack* track) {
    if (!track || !IsOpen(track)) return nullptr;
    return &DeviceOf(track)->recording;
}

uint32_t HeadlessUnderruns(const SoundTrack* track) {
    if (!track || !IsOpen(track)) return 0;
    return DeviceOf(track)->underruns;
}

std::vector<std::vector<uint8_t>> HeadlessTakeClosedRecordings() {
    std::vector<std::vector<uint8_t>> out;
    out.swap(Closed);
    return out;
}

uint32_t HeadlessOpenTracks() {
    uint32_t n = 0;
    for (SoundTrack* t = Tracks; t; t = t->Next) n++;
    return n;
}
