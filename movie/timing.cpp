// When a frame is due: by the timing track's play position when the movie
// has sound, else by the millisecond clock; and pausing the sound.
#include <algorithm>
#include <cstring>

#include "common/platform.h"
#include "movie/movie_internal.h"
#include "movie/sequence.h"
#include "movie/sound_track.h"
#include "movie/stream.h"
#include "sound/sound_driver.h"

namespace {

SoundTrack* TimingTrackOf(Movie* m) {
    if (m->TimingTrack < 0 || m->TimingTrack >= kMaxTracks) return nullptr;
    return m->Track[m->TimingTrack];
}

uint32_t PlayPosition(SoundTrack* s) { return SoundDriverTable.play_position ? SoundDriverTable.play_position(s) : 0; }

// The pause and resume paths run the driver's service even when the process
// has no open track.
void Service() {
    if (SoundDriverTable.service) SoundDriverTable.service();
}

void FillSilence(SoundTrack* s, uint8_t* from, uint32_t n) {
    const int value = s->Bits16 ? 0 : 0x80;
    const uint32_t first = std::min<uint32_t>(n, static_cast<uint32_t>(s->RingEnd - from));
    std::memset(from, value, first);
    std::memset(s->RingStart, value, n - first);
}

void PauseTracks(Movie* m) {
    m->PauseFrame = m->FrameNum;
    m->SoundPaused = 1;
    for (SoundTrack* s : m->Track) {
        if (!s) continue;
        if (SoundDriverTable.pause) SoundDriverTable.pause(s);
        s->Delivered -= RingCountGet(s);
        RingCountSet(s, 0);
        s->ReadPos = s->WritePos;
    }
    Service();
}

bool ResumeTracks(Movie* m, uint32_t on) {
    for (SoundTrack* s : m->Track) {
        if (!s) continue;
        const uint32_t p = PlayPosition(s);
        if (m->FrameNum != 0) {
            // Queue the last Lead bytes again, as sound or, when the picture
            // has moved on since the pause, as silence. A lead larger than
            // the ring can only be the ring.
            const uint32_t ringSize = static_cast<uint32_t>(s->RingEnd - s->RingStart);
            const uint32_t lead = std::min(s->Lead, ringSize);
            const uint32_t behind = static_cast<uint32_t>(s->WritePos - s->RingStart);
            s->ReadPos = behind >= lead ? s->WritePos - lead : s->RingEnd - (lead - behind);
            if (m->FrameNum != m->PauseFrame || (on & 0x80000000u)) FillSilence(s, s->ReadPos, lead);
            const uint32_t oldCount = RingCountGet(s);
            RingCountSet(s, lead);
            s->LateMark -= s->Clock;
            s->Clock = 0;
            s->ClockBase = p;
            s->Delivered += lead - oldCount;
        }
        if (!SoundDriverTable.resume || !SoundDriverTable.resume(s)) return false;
        Service();
        __atomic_store_n(&s->Underrun, 0u, __ATOMIC_SEQ_CST);  // a driver thread may raise it meanwhile
    }
    m->SoundPaused = 0;
    Service();
    return true;
}

}  // namespace

uint32_t QuarvWait(Movie* m) {
    if (!m || m->ReadError) return 0;
    ServiceIfTracksOpen();
    if (SoundTrack* s = TimingTrackOf(m)) {
        if (!m->SyncPending || m->SoundPaused) return 0;
        const uint32_t p = PlayPosition(s);
        if (s->ClockBase + s->Clock / 1024 > p + 8) {
            ReadAhead(m);
            return 1;
        }
        m->SyncPending = 0;
        return 0;
    }
    if (m->FrameDue) return 0;
    const uint32_t t = NowMs() * 100u;
    if (m->NextDue == 0xFFFFFFFFu) {
        m->NextDue = t + m->FrameTime;
        ReadAhead(m);
        return 1;
    }
    // Signed differences keep the comparison right across the wrap of the
    // 10 us clock (every 11.9 hours of uptime).
    if (static_cast<int32_t>(m->NextDue - t) > 0) {
        ReadAhead(m);
        return 1;
    }
    m->NextDue += m->FrameTime;
    // More than one further frame behind: restart the pace from now rather
    // than race to catch up.
    if (static_cast<int64_t>(static_cast<int32_t>(t - m->NextDue)) > static_cast<int64_t>(m->FrameTime))
        m->NextDue = t + m->FrameTime;
    if (m->FrameTime != 0) m->FrameDue = 1;
    return 0;
}

uint32_t QuarvPlayOut(Movie* m) {
    if (!m || m->ReadError) return 0;
    SoundTrack* s = TimingTrackOf(m);
    if (!s || m->SoundPaused) return 0;
    ServiceIfTracksOpen();
    const uint32_t now = NowMs();
    if (!m->PlayOutStart) {
        // The frames' playing ends here: the last frame's time is closed
        // now, and the summary counts no further.
        MeasureFrameTime(m);
        m->PlayOutStart = now ? now : 1;
    }
    // Sound runs ahead of the picture by the lead, so the device cannot
    // hold more of the shown frames' sound than that.
    if (static_cast<uint64_t>(now - m->PlayOutStart) * s->BytesPerSecond >= static_cast<uint64_t>(s->Lead) * 1000)
        return 0;
    const uint32_t played = SoundDriverTable.played ? SoundDriverTable.played(s) : PlayPosition(s);
    return s->ClockBase + s->Clock / 1024 > played + 8 ? 1 : 0;
}

uint32_t FrameIsLate(Movie* m) {
    if (!m) return 0;
    SoundTrack* s = TimingTrackOf(m);
    if (!s || m->SoundPaused || s->NoData) return 0;
    const uint32_t p = PlayPosition(s);
    if (s->ClockBase + s->LateMark / 1024 > p) return 0;
    m->SyncPending = 0;
    return 1;
}

uint32_t QuarvSoundOnOff(Movie* m, uint32_t on) {
    if (!m) return 0;
    if (!TimingTrackOf(m)) return 1;
    if (on == 0) {
        if (m->SoundPaused)
            Service();
        else
            PauseTracks(m);
        return 1;
    }
    if (!m->SoundPaused) {
        Service();
        return 1;
    }
    return ResumeTracks(m, on) ? 1 : 0;
}
