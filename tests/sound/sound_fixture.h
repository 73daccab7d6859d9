// Shared by the sound tests: a Movie as QuarvOpen leaves it before its
// tracks are set up, frames whose chunks the test supplies, and PCM to send.
#pragma once
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "common/aligned_alloc.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "sound/sound_driver.h"
#include "tests/support/movie_bytes.h"

namespace soundtest {

using movietest::Bytes;
using movietest::Cat;

inline uint32_t Format(uint32_t rate, bool stereo, bool wide, bool compressed = false) {
    return kTrackPresent | rate | (stereo ? kTrackStereo : 0u) | (wide ? kTrackBits16 : 0u) | (compressed ? kTrackCompressed : 0u);
}

inline Bytes Ramp(size_t n, uint8_t from) {
    Bytes v(n);
    return std::iota(v.begin(), v.end(), from), v;
}

struct TestMovie {
    Movie* m = static_cast<Movie*>(std::memset(AlignedAlloc(sizeof(Movie)), 0, sizeof(Movie)));
    std::vector<Bytes> chunks = std::vector<Bytes>(kMaxTracks);

    explicit TestMovie(uint32_t frameTime = 6666) { m->TimingTrack = -1, m->FrameTime = frameTime; }
    ~TestMovie() { CloseTracks(m), AlignedFree(m); }
    // Allocates the record and sets the track up, as QuarvOpen does.
    bool AddTrack(int t, uint32_t format, uint32_t lead = 0) {
        m->Header.TrackFormat[t] = format, m->Header.SoundLead[t] = lead;
        if (!(m->Track[t] = static_cast<SoundTrack*>(MovieAllocZero(m, sizeof(SoundTrack))))) return false;
        if (SetUpTrack(m, t)) return m->OpenFlags |= OPEN_TRACK0 << t, true;
        AlignedFree(m->Track[t]);
        m->Track[t] = nullptr, m->MemUsed -= sizeof(SoundTrack);
        return false;
    }
    SoundTrack* track(int t) { return m->Track[t]; }
    // The current frame's chunk of track t; `available`: the bytes of it the
    // frame record holds (all by default).
    void SetChunk(int t, Bytes chunk, int64_t available = -1) {
        chunks[t] = std::move(chunk);
        m->SoundChunk[t] = chunks[t].empty() ? nullptr : chunks[t].data();
        m->SoundChunkSize[t] = available < 0 ? uint32_t(chunks[t].size()) : uint32_t(available);
    }
    // One frame through the sound step, with this chunk (or raw sound) for track 0.
    void StepChunk(Bytes chunk, int64_t available = -1) { SetChunk(0, std::move(chunk), available), SoundStep(m); }
    void Step(const Bytes& pcm) { StepChunk(Cat({movietest::Le32(uint32_t(pcm.size() + 4)), pcm})); }
};

// The bytes queued in a track's ring, from ReadPos on.
inline Bytes Queued(const SoundTrack* t) {
    Bytes out;
    for (uint32_t i = 0; i < t->Count; ++i) out.push_back(t->RingStart[(t->ReadPos - t->RingStart + i) % t->RingSize]);
    return out;
}

}  // namespace soundtest
