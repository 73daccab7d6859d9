// Sound tracks of a movie: set-up on the installed driver, the per-frame
// sound step that fills each track's ring from the frame's chunks, and the
// timing clock that the picture follows.
#include <cstring>

#include "blit/blit.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "movie/sound_unpack.h"
#include "sound/sound_driver.h"

uint32_t OpenTrackCount = 0;

namespace {

// The unpacker's trees, shared by every track of the process: the one buffer
// the library keeps beyond a movie's lifetime, on purpose. It is always
// kSoundScratchBytes and goes back when the last track of the process closes.
uint32_t* SoundScratch = nullptr;

// 0xFA00000 = 256000 bytes x 1024: the clock is rebased by this much so
// that Clock and LateMark stay well inside 32 bits on long movies.
constexpr uint32_t kRebaseScaled = 0xFA00000;
constexpr uint32_t kRebaseBytes = 256000;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Underrun is raised by the driver, possibly from its own thread.
uint32_t UnderrunGet(const SoundTrack* t) { return __atomic_load_n(&t->Underrun, __ATOMIC_SEQ_CST); }
void UnderrunSet(SoundTrack* t, uint32_t v) { __atomic_store_n(&t->Underrun, v, __ATOMIC_SEQ_CST); }

uint8_t SilenceByte(const SoundTrack* t) { return t->Bits16 ? 0x00 : 0x80; }

// Moves a ring position on by n bytes, wrapping at RingEnd.
uint8_t* RingAdvance(const SoundTrack* t, uint8_t* pos, uint32_t n) {
    size_t offset = static_cast<size_t>(pos - t->RingStart) + n;
    return t->RingStart + offset % t->RingSize;
}

// Copies n bytes (n <= RingSize) into the ring at pos, in two runs when they
// cross RingEnd; the second run continues with the byte after the first.
void RingCopy(const SoundTrack* t, uint8_t* pos, const uint8_t* src, uint32_t n) {
    size_t room = static_cast<size_t>(t->RingEnd - pos);
    size_t first = n < room ? n : room;
    std::memcpy(pos, src, first);
    if (n > first) std::memcpy(t->RingStart, src + first, n - first);
}

void RingFill(const SoundTrack* t, uint8_t* pos, uint8_t value, uint32_t n) {
    size_t room = static_cast<size_t>(t->RingEnd - pos);
    size_t first = n < room ? n : room;
    std::memset(pos, value, first);
    if (n > first) std::memset(t->RingStart, value, n - first);
}

// The frame's sound for track t: the unpacked size n that the chunk claims,
// and where its payload starts with how many bytes of it the record holds.
struct ChunkView {
    uint32_t n = 0;
    const uint8_t* data = nullptr;
    uint32_t available = 0;
    bool compressed = false;
};

ChunkView FrameChunk(const Movie* m, int t) {
    ChunkView v;
    const uint8_t* chunk = m->SoundChunk[t];
    uint32_t size = m->SoundChunkSize[t];
    if (!chunk || size < 4) return v;
    v.compressed = (m->Header.TrackFormat[t] & kTrackCompressed) != 0;
    if (v.compressed) {
        if (size < 8) return v;
        v.n = ReadLe32(chunk + 4);
        v.data = chunk + 8;
        v.available = size - 8;
    } else {
        // Raw samples: only what the record really holds is counted.
        uint32_t length = ReadLe32(chunk);
        v.n = length >= 4 ? length - 4 : 0;
        v.data = chunk + 4;
        v.available = size - 4;
        if (v.n > v.available) v.n = v.available;
    }
    return v;
}

// Steps 5 to 9 of the sound step for one track.
void WriteTrack(SoundTrack* t, const ChunkView& c) {
    uint32_t n = c.n;
    uint32_t count = RingCountGet(t);
    if (count > t->RingSize) count = t->RingSize;
    if (n > t->RingSize - count) {
        n = t->RingSize - count;
        t->Overflows++;
    }

    if (t->UnderrunSeen) {
        UnderrunSet(t, 0);
        t->UnderrunSeen = 0;
    }
    uint32_t pad = 0;
    if (UnderrunGet(t)) {
        t->UnderrunSeen = 1;
        if (n < t->Lead && t->Delivered != 0) {
            pad = t->Lead - n;
            if (pad > t->RingSize - count - n) pad = t->RingSize - count - n;
        }
        if (pad) {
            // The device ran dry: put back a lead of silence so the sound has
            // room to run ahead again, and let the picture wait for it.
            t->SoundSkips++;
            RingFill(t, t->WritePos, SilenceByte(t), pad);
            t->ClockBase += pad;
            t->WritePos = RingAdvance(t, t->WritePos, pad);
        }
    }

    if (n) {
        if (c.compressed) {
            UnpackSound(c.data, c.available, n, SoundScratch, t->RingStart, t->RingEnd, t->WritePos);
        } else {
            RingCopy(t, t->WritePos, c.data, n);
        }
    }
    t->Delivered += pad + n;
    t->WritePos = RingAdvance(t, t->WritePos, n);
    // Publish the bytes last: a driver thread may take them at once.
    RingCountAdd(t, pad + n);
}

}  // namespace

bool SetUpTrack(Movie* movie, int t) {
    if (!movie || t < 0 || t >= kMaxTracks || !movie->Track[t]) return false;
    SoundTrack* track = movie->Track[t];
    if (!SoundDriverTable.open_track) InstallDefaultSoundDriver();
    if (!SoundDriverTable.open_track) return false;
    // The blitter's long smoothing-table build keeps a thread-less driver fed
    // through this hook once there is sound to feed.
    SetBlitSoundService(QuarvSoundService);

    uint32_t format = movie->Header.TrackFormat[t];
    uint32_t rate = (format & kTrackPresent) ? format & kTrackRateMask : 0;
    if (!rate) return false;
    uint32_t stereo = (format & kTrackStereo) ? 1 : 0;
    uint32_t bits16 = (format & kTrackBits16) ? 1 : 0;
    uint32_t bytesPerSecond = (bits16 + 1) * (stereo + 1) * rate;

    if (!SoundScratch) {
        SoundScratch = static_cast<uint32_t*>(MovieAlloc(movie, kSoundScratchBytes));
        if (!SoundScratch) return false;
    }

    std::memset(track, 0, sizeof(*track));
    track->FrameBytes =
        static_cast<uint32_t>(static_cast<uint64_t>(bytesPerSecond) * 1024 * movie->FrameTime / 100000);
    track->LateMark = bytesPerSecond * 512;
    // One second plus two frames of sound, in whole 4096-byte pages.
    uint32_t ringSize = (track->FrameBytes / 512 + bytesPerSecond + 4095) & ~4095u;
    if (ringSize < 8192) ringSize = 8192;
    uint8_t* ring = static_cast<uint8_t*>(MovieAlloc(movie, ringSize));
    if (!ring) return false;
    track->RingSize = ringSize;
    track->RingStart = track->ReadPos = track->WritePos = ring;
    track->RingEnd = ring + ringSize;

    track->BytesPerSecond = bytesPerSecond;
    track->Rate = rate;
    track->Bits16 = bits16;
    track->Stereo = stereo;
    if (!SoundDriverTable.open_track(track, movie->OpenFlags)) {
        MovieFree(movie, ring, ringSize);
        track->RingStart = track->RingEnd = track->ReadPos = track->WritePos = nullptr;
        return false;
    }

    // The lead is replayed from the ring on resume, so it can never be more
    // than the ring holds.
    uint32_t lead = movie->Header.SoundLead[t] & ~3u;
    track->Lead = lead < ringSize ? lead : ringSize;
    if (movie->TimingTrack < 0) movie->TimingTrack = t;
    OpenTrackCount++;
    return true;
}

void CloseTracks(Movie* movie) {
    if (!movie) return;
    for (int t = 0; t < kMaxTracks; t++) {
        SoundTrack* track = movie->Track[t];
        if (!track) continue;
        if (SoundDriverTable.close_track) SoundDriverTable.close_track(track);
        MovieFree(movie, track->RingStart, track->RingSize);
        MovieFree(movie, track, sizeof(SoundTrack));
        movie->Track[t] = nullptr;
        if (OpenTrackCount) OpenTrackCount--;
    }
    movie->TimingTrack = -1;
    if (OpenTrackCount == 0 && SoundScratch) {
        MovieFree(nullptr, SoundScratch, kSoundScratchBytes);
        SoundScratch = nullptr;
    }
}

void ServiceIfTracksOpen() {
    if (OpenTrackCount && SoundDriverTable.service) SoundDriverTable.service();
}

void QuarvSoundService() { ServiceIfTracksOpen(); }

void SoundStep(Movie* movie) {
    if (!movie || movie->TimingTrack < 0 || movie->TimingTrack >= kMaxTracks || movie->SoundPaused) return;
    SoundTrack* timing = movie->Track[movie->TimingTrack];
    if (!timing) return;

    if (movie->FrameTime) movie->SyncPending = 1;
    timing->Clock += timing->FrameBytes;
    timing->LateMark += timing->FrameBytes;
    if (timing->Clock > kRebaseScaled && timing->LateMark > 0x2000000) {
        timing->Clock -= kRebaseScaled;
        timing->LateMark -= kRebaseScaled;
        timing->ClockBase += kRebaseBytes;
    }

    bool first = true;
    for (int t = 0; t < kMaxTracks; t++) {
        if (!(movie->OpenFlags & (OPEN_TRACK0 << t)) || !movie->Track[t]) continue;
        SoundTrack* track = movie->Track[t];
        ChunkView chunk = FrameChunk(movie, t);
        if (first) {
            first = false;
            // Without the pacing track's chunk no track is written, so every
            // track keeps its place relative to the others.
            track->NoData = chunk.n == 0;
            if (chunk.n == 0) break;
            ServiceIfTracksOpen();
        }
        WriteTrack(track, chunk);
    }

    // The picture never waits for sound that was never delivered.
    if (timing->ClockBase + timing->Clock / 1024 > timing->Delivered) {
        timing->LateMark -= timing->Clock;
        timing->Clock = 0;
        timing->ClockBase = timing->Delivered;
    }
}

void TakeFromRing(SoundTrack* t, uint8_t* dst, uint32_t n) {
    uint32_t run = static_cast<uint32_t>(t->RingEnd - t->ReadPos);
    if (run > n) run = n;
    std::memcpy(dst, t->ReadPos, run);
    t->ReadPos += run;
    if (t->ReadPos == t->RingEnd) t->ReadPos = t->RingStart;
    if (n > run) {
        std::memcpy(dst + run, t->ReadPos, n - run);
        t->ReadPos += n - run;
    }
    RingCountSub(t, n);
}
