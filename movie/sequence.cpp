#include "movie/sequence.h"

#include <cstring>

#include "common/platform.h"
#include "movie/container.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "movie/stream.h"
#include "sound/sound_driver.h"
#include "video/decode_tables.h"

namespace {

int32_t g_rate_override = 0;

uint8_t FrameTypeAt(const Movie* m, uint32_t i) { return i < m->TableEntries ? m->FrameTypesPtr[i] : 0; }

// Rewinding to frame 0 restarts the sound, but only when no other movie is
// using the sound device: the tracks from the timing track on must be every
// track open in the process.
void RestartSoundAtFrameZero(Movie* m) {
    if (m->TimingTrack < 0 || m->TimingTrack >= kMaxTracks) return;
    const SoundTrack* timing = m->Track[m->TimingTrack];
    if (!timing || timing->Delivered == 0) return;
    uint32_t count = 0;
    for (int t = m->TimingTrack; t < kMaxTracks; ++t)
        if (m->Track[t]) ++count;
    if (count != OpenTrackCount) return;
    for (int t = m->TimingTrack; t < kMaxTracks; ++t) {
        SoundTrack* s = m->Track[t];
        if (!s) continue;
        if (SoundDriverTable.reset) SoundDriverTable.reset(s);
        RingCountSet(s, 0);
        s->ReadPos = s->WritePos;
        s->LateMark -= s->Clock;
        s->ClockBase = 0;
        s->Clock = 0;
        s->Delivered = 0;
    }
}

}  // namespace

int32_t FrameRateOverride() { return g_rate_override; }

void QuarvSetFrameRate(int32_t rate) { g_rate_override = rate >= 1 ? -100000 / rate : rate; }

void SeekToFrame(Movie* m) {
    if (m->FrameNum == 0) {
        std::memset(m->Palette, 0, sizeof m->Palette);
        RestartSoundAtFrameZero(m);
    }
    const uint64_t offset = RecordOffset(m, m->FrameNum);
    if (!m->BufStart) {
        m->FrameData = m->FrameBuffer + (offset <= m->FrameBufferSize ? offset : m->FrameBufferSize);
        return;
    }
    const uint64_t pos = m->FirstFramePos + offset;
    if (pos > 0xFFFFFFFFu) {  // beyond any file the platform reads
        m->ReadError = 1;
        return;
    }
    PositionStream(m, static_cast<uint32_t>(pos));
}

void SplitFrame(Movie* m) {
    m->FrameDue = 0;
    const uint32_t frames = m->Header.Frames;
    if (static_cast<int32_t>(m->FrameNum - frames) >= 0) {
        const bool ring = (m->Header.Flags & kHeaderRingFrame) != 0;
        if (ring && m->FrameNum == frames) {
            ReadFrame(m);
        } else {
            m->FrameNum = ring && m->FrameNum > frames ? 1 : 0;
            SeekToFrame(m);
        }
    }

    // The record must lie inside the frame buffer; anything else (which a
    // well-formed movie never produces) is treated as an empty record.
    uint8_t* const rec = m->FrameData;
    uint32_t size = FrameSizeAt(m, m->FrameNum);
    const uint8_t* const bufEnd = m->FrameBuffer + m->FrameBufferSize;
    if (!rec || rec < m->FrameBuffer || rec > bufEnd) {
        size = 0;
    } else if (size > static_cast<uint64_t>(bufEnd - rec)) {
        size = static_cast<uint32_t>(bufEnd - rec);
    }
    m->FrameSize = size;

    ChunkLayout layout;
    SplitRecord(rec, size, FrameTypeAt(m, m->FrameNum), &layout);
    m->PaletteChunk = rec;
    m->PaletteChunkSize = layout.HasPalette ? layout.PaletteSize : 0;
    for (int t = 0; t < kMaxTracks; ++t) {
        m->SoundChunk[t] = layout.HasSound[t] ? rec + layout.SoundOffset[t] : nullptr;
        m->SoundChunkSize[t] = layout.HasSound[t] ? layout.SoundSize[t] : 0;
    }
    m->VideoData = rec ? rec + layout.VideoOffset : rec;
    m->VideoOffset = layout.VideoOffset;
    m->VideoSize = layout.VideoSize;

    if (layout.HasPalette) {
        if (rec) ApplyPaletteChunk(rec, layout.PaletteSize, m->Palette);
        // A frame whose palette the decoder already took (a jump back to
        // it) does not announce the palette again.
        if (m->PaletteFrame != static_cast<int32_t>(m->FrameNum)) {
            m->NewPalette = 1;
            m->PaletteSeen = 1;
        } else {
            m->NewPalette = 0;
        }
    } else {
        m->NewPalette = 0;
    }
}

void MeasureFrameTime(Movie* m) {
    const uint32_t t = NowMs();
    if (m->FrameStart != 0) {
        const uint32_t d = t - m->FrameStart;
        m->FrameStart = 0;
        if (d > m->SlowestTime) {
            if (m->SlowestFrame != m->FrameNum) {
                m->SecondSlowestTime = m->SlowestTime;
                m->SecondSlowestFrame = m->SlowestFrame;
                m->SlowestFrame = m->FrameNum;
            }
            m->SlowestTime = d;
        } else if (d > m->SecondSlowestTime && m->SlowestFrame != m->FrameNum) {
            m->SecondSlowestTime = d;
            m->SecondSlowestFrame = m->FrameNum;
        }
    }
    if (m->CopyStart != 0) {
        m->CopyTime += t - m->CopyStart;
        m->CopyStart = 0;
    }
    if (m->DecodeStart != 0) {
        m->DecodeTime += t - m->DecodeStart;
        m->DecodeStart = 0;
    }
}

void QuarvNextFrame(Movie* m) {
    if (!m) return;
    if (m->ReadError) {
        m->FrameNum += 1;
        return;
    }
    ServiceIfTracksOpen();
    MeasureFrameTime(m);
    m->FrameData += FrameSizeAt(m, m->FrameNum);
    m->FrameNum += 1;
    if (m->FrameNum < m->Header.Frames) ReadFrame(m);
    SplitFrame(m);
    ServiceIfTracksOpen();
}

void QuarvSummary(Movie* m, PlaybackSummary* s) {
    if (!m || !s) return;
    MeasureFrameTime(m);
    const uint32_t now = m->PlayOutStart ? m->PlayOutStart : NowMs();  // playing ended where the play-out began
    s->TotalTime = now - m->PlayStart;
    s->FrameTime = m->FrameTime;
    s->OpenTime = m->OpenTime;
    s->FramesDecoded = m->FramesDecoded;
    s->FramesSkipped = m->FramesSkipped;
    const SoundTrack* timing =
        m->TimingTrack >= 0 && m->TimingTrack < kMaxTracks ? m->Track[m->TimingTrack] : nullptr;
    s->SoundSkips = timing ? timing->SoundSkips : 0;
    s->CopyTime = m->CopyTime;
    s->ReadTime = m->ReadTime - m->OpenReadTime;
    s->DecodeTime = m->DecodeTime;
    s->BgReadTime = m->BgReadTime;
    // 64-bit: the byte count times 1000 leaves 32 bits after 4 MB.
    const uint64_t bytes = static_cast<uint64_t>(m->BytesRead) + m->BgBytesRead;
    const uint64_t ms = static_cast<uint64_t>(m->ReadTime) + m->BgReadTime;
    const uint64_t rate = ms ? bytes * 1000u / ms : 0;
    s->ReadRate = rate > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(rate);
    // A slowest time of 0 means no frame was ever timed.
    s->SlowestTime = m->SlowestTime ? m->SlowestTime : 1000;
    s->SecondSlowestTime = m->SecondSlowestTime ? m->SecondSlowestTime : 1000;
    s->SlowestFrame = m->SlowestFrame + 1;
    s->SecondSlowestFrame = m->SecondSlowestFrame + 1;
    s->AverageFrameSize = m->AverageFrameSize;
    s->PeakMemUsed = m->PeakMemUsed;
    s->BufSize = m->BufSize;
    s->BufHighWater = m->BufHighWater;
}
