// Shared pieces of the sound tests: a hand-built Movie with sound tracks,
// frames whose chunks the test supplies, a clock the test moves, and a
// recording fake driver.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/aligned_alloc.h"
#include "common/platform.h"
#include "movie/movie.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "sound/sound_driver.h"

namespace soundtest {

inline uint32_t& FakeMs() {
    static uint32_t ms = 1000;
    return ms;
}
inline uint32_t FakeClock() { return FakeMs(); }

inline uint32_t Format(uint32_t rate, bool stereo, bool wide, bool compressed = false) {
    uint32_t f = kTrackPresent | rate;
    if (stereo) f |= kTrackStereo;
    if (wide) f |= kTrackBits16;
    if (compressed) f |= kTrackCompressed;
    return f;
}

// A Movie as QuarvOpen leaves it before the tracks are set up.
struct TestMovie {
    Movie* m;
    std::vector<std::vector<uint8_t>> chunks = std::vector<std::vector<uint8_t>>(kMaxTracks);

    explicit TestMovie(uint32_t frameTime = 6666) {
        m = static_cast<Movie*>(AlignedAlloc(sizeof(Movie)));
        std::memset(m, 0, sizeof(Movie));
        m->TimingTrack = -1;
        m->FrameTime = frameTime;
    }
    ~TestMovie() {
        CloseTracks(m);
        AlignedFree(m);
    }
    TestMovie(const TestMovie&) = delete;
    TestMovie& operator=(const TestMovie&) = delete;

    // Allocates the record and sets the track up, as QuarvOpen does.
    bool AddTrack(int t, uint32_t format, uint32_t lead = 0) {
        m->Header.TrackFormat[t] = format;
        m->Header.SoundLead[t] = lead;
        m->Track[t] = static_cast<SoundTrack*>(MovieAllocZero(m, sizeof(SoundTrack)));
        if (!m->Track[t]) return false;
        if (!SetUpTrack(m, t)) {
            AlignedFree(m->Track[t]);
            m->Track[t] = nullptr;
            m->MemUsed -= sizeof(SoundTrack);
            return false;
        }
        m->OpenFlags |= OPEN_TRACK0 << t;
        return true;
    }
    SoundTrack* track(int t) { return m->Track[t]; }

    // The next frame's chunk for track t (whole chunk, length word first);
    // available: bytes the frame record holds (default: all of it).
    void SetChunk(int t, std::vector<uint8_t> chunk, int64_t available = -1) {
        chunks[t] = std::move(chunk);
        m->SoundChunk[t] = chunks[t].empty() ? nullptr : chunks[t].data();
        m->SoundChunkSize[t] =
            available < 0 ? static_cast<uint32_t>(chunks[t].size()) : static_cast<uint32_t>(available);
    }
    void ClearChunks() {
        for (int t = 0; t < kMaxTracks; t++) SetChunk(t, {});
    }
};

// Bytes of the ring from ReadPos on, Count of them.
inline std::vector<uint8_t> Queued(const SoundTrack* t) {
    std::vector<uint8_t> out;
    const uint8_t* p = t->ReadPos;
    for (uint32_t i = 0; i < t->Count; i++) {
        out.push_back(*p++);
        if (p == t->RingEnd) p = t->RingStart;
    }
    return out;
}

inline std::vector<uint8_t> Ramp(size_t n, uint8_t from) {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = static_cast<uint8_t>(from + i);
    return v;
}

// A driver that records calls and takes nothing.
struct FakeDriver {
    static FakeDriver*& Current() {
        static FakeDriver* d = nullptr;
        return d;
    }
    int opens = 0, closes = 0, services = 0, resets = 0;
    uint32_t lastFlags = 0;
    bool refuse = false;
    std::vector<uint32_t> countAtService;  // the timing track's Count seen by each service
    SoundTrack* watched = nullptr;

    FakeDriver() {
        Current() = this;
        UninstallSoundDriver();
        SoundDriverTable.open_track = [](SoundTrack*, uint32_t flags) {
            FakeDriver* d = Current();
            d->opens++;
            d->lastFlags = flags;
            return !d->refuse;
        };
        SoundDriverTable.close_track = [](SoundTrack*) { Current()->closes++; };
        SoundDriverTable.play_position = [](SoundTrack*) -> uint32_t { return 0; };
        SoundDriverTable.reset = [](SoundTrack*) { Current()->resets++; };
        SoundDriverTable.pause = [](SoundTrack*) {};
        SoundDriverTable.resume = [](SoundTrack*) { return true; };
        SoundDriverTable.service = []() {
            FakeDriver* d = Current();
            d->services++;
            if (d->watched) d->countAtService.push_back(d->watched->Count);
        };
    }
    ~FakeDriver() {
        UninstallSoundDriver();
        Current() = nullptr;
    }
};

}  // namespace soundtest
