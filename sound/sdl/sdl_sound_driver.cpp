// The SDL back-end. SDL calls Feed on its own audio thread whenever the
// device wants another period; the ring is shared with the player's thread
// as with the DirectSound feeder: Feed only moves ReadPos and takes from
// Count with atomic subtractions, the sound step only adds. Everything else
// Feed writes (the position history) is read under the device's lock,
// which SDL holds around every call of Feed.
//
// The play position: SDL keeps its device playing all the time (silence
// while the ring is dry or the track paused), with about two periods queued
// in it, so what Feed hands over is heard that much later, after any sound
// handed before it. Feed notes when each period's sound will start to be
// heard; the position is the sound heard by now, at the track's byte rate.
// It counts the ring's bytes only (never the silence Feed adds), so it never
// passes what was written, and it never decreases.
#include "sound/sdl/sdl_sound_driver.h"

#include <SDL.h>

#include <cstring>

#include "common/aligned_alloc.h"
#include "common/platform.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "sound/pcm_format.h"
#include "sound/sound_driver.h"

namespace {

// A period's sound: `bytes` bytes following the first `before`, heard from
// `start` (ms) on.
struct Heard {
    uint32_t before;
    uint32_t bytes;
    uint32_t start;
};
constexpr int kHeardPeriods = 8;  // more than the device ever holds

struct SdlTrack {
    SoundTrack* track;
    SDL_AudioDeviceID device;
    uint32_t frameBytes;   // one sample frame: channels x bytes per sample
    uint32_t latencyMs;    // how long the device takes to reach what Feed hands it
    uint32_t handed;       // bytes of the ring handed over
    uint32_t soundEnd;     // when the sound handed over will have been heard (ms)
    bool soundEndSet;
    Heard heard[kHeardPeriods];  // the latest periods with sound, oldest first
    int heardCount;
};

SoundTrack* Tracks = nullptr;  // open tracks, newest first, linked through Next

SdlTrack* StateOf(const SoundTrack* t) { return reinterpret_cast<SdlTrack*>(t->DriverData[0]); }

// Periods of about a twentieth of a second: short enough for the position
// to follow the device closely, long enough for a busy machine.
uint16_t PeriodSamples(uint32_t rate) {
    uint32_t samples = 256;
    while (samples < rate / 25 && samples < 8192) samples *= 2;
    return static_cast<uint16_t>(samples);
}

void SDLCALL Feed(void* userdata, Uint8* out, int length) {
    SdlTrack* s = static_cast<SdlTrack*>(userdata);
    SoundTrack* t = s->track;
    const uint32_t want = static_cast<uint32_t>(length);
    uint32_t n = RingCountGet(t);
    if (n > want) n = want;
    n -= n % s->frameBytes;  // whole sample frames only
    if (n) TakeFromRing(t, out, n);
    if (n < want) {
        // The device ran dry: silence now, and the sound step answers the
        // raised flag with a lead of silence in the ring.
        std::memset(out + n, SilenceOf(t), want - n);
        __atomic_store_n(&t->Underrun, 1u, __ATOMIC_SEQ_CST);
    }
    if (!n) return;
    const uint32_t now = NowMs();
    uint32_t start = now + s->latencyMs;
    if (s->soundEndSet && static_cast<int32_t>(s->soundEnd - start) > 0) start = s->soundEnd;
    if (s->heardCount == kHeardPeriods) {
        std::memmove(s->heard, s->heard + 1, sizeof(Heard) * (kHeardPeriods - 1));
        s->heardCount--;
    }
    s->heard[s->heardCount++] = Heard{s->handed, n, start};
    s->handed += n;
    s->soundEnd = start + static_cast<uint32_t>(uint64_t{n} * 1000 / t->BytesPerSecond);
    s->soundEndSet = true;
}

bool OpenTrack(SoundTrack* t, uint32_t) {
    auto* s = static_cast<SdlTrack*>(AlignedAlloc(sizeof(SdlTrack)));
    if (!s) return false;
    std::memset(s, 0, sizeof *s);
    const PcmFormat format = PcmFormatOf(t);
    s->track = t;
    s->frameBytes = format.BlockAlign;

    SDL_AudioSpec want{};
    want.freq = static_cast<int>(format.Rate);
    want.format = format.Bits == 16 ? AUDIO_S16LSB : AUDIO_U8;
    want.channels = static_cast<Uint8>(format.Channels);
    want.samples = PeriodSamples(format.Rate);
    want.callback = Feed;
    want.userdata = s;
    SDL_AudioSpec have{};
    // No changes allowed: the device plays the track's own format, and SDL
    // converts only if the sound system cannot take it as it is.
    s->device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (s->device == 0) {
        LogText("SDL audio open failed: ");
        LogText(SDL_GetError());
        LogText("\r\n");
        AlignedFree(s);
        return false;
    }
    // Two periods: the one being played and the next, already queued.
    s->latencyMs = static_cast<uint32_t>(uint64_t{have.samples} * 2 * 1000 / format.Rate);
    t->DriverData[0] = reinterpret_cast<uintptr_t>(s);
    t->Next = Tracks;
    Tracks = t;
    SDL_PauseAudioDevice(s->device, 0);
    return true;
}

void CloseTrack(SoundTrack* t) {
    SoundTrack** link = &Tracks;
    while (*link && *link != t) link = &(*link)->Next;
    if (!*link) return;
    *link = t->Next;
    t->Next = nullptr;
    SdlTrack* s = StateOf(t);
    SDL_CloseAudioDevice(s->device);  // waits for Feed to return; Feed is not called again
    AlignedFree(s);
    t->DriverData[0] = 0;
}

uint32_t PlayPosition(SoundTrack* t) {
    SdlTrack* s = StateOf(t);
    SDL_LockAudioDevice(s->device);
    const uint32_t now = NowMs();
    uint32_t position = s->heardCount ? s->heard[0].before : s->handed;
    for (int i = 0; i < s->heardCount; i++) {
        const Heard& h = s->heard[i];
        const int32_t since = static_cast<int32_t>(now - h.start);
        if (since < 0) break;  // not yet reached, nor any after it
        const uint64_t into = static_cast<uint64_t>(since) * t->BytesPerSecond / 1000;
        position = h.before + static_cast<uint32_t>(into < h.bytes ? into : h.bytes);
    }
    SDL_UnlockAudioDevice(s->device);
    return position;
}

void Reset(SoundTrack* t) {
    SdlTrack* s = StateOf(t);
    SDL_LockAudioDevice(s->device);
    s->handed = 0;
    s->heardCount = 0;
    s->soundEndSet = false;
    // The caller empties the ring next; doing it here, while Feed cannot
    // run, keeps Feed from copying out of a ring being emptied.
    const uint32_t count = RingCountGet(t);
    const size_t offset = static_cast<size_t>(t->ReadPos - t->RingStart) + count;
    t->ReadPos = t->RingStart + offset % t->RingSize;
    RingCountSub(t, count);
    SDL_UnlockAudioDevice(s->device);
}

// A paused device plays silence and does not call Feed, so the ring is the
// library's again until the resume.
void Pause(SoundTrack* t) { SDL_PauseAudioDevice(StateOf(t)->device, 1); }

bool Resume(SoundTrack* t) {
    SDL_PauseAudioDevice(StateOf(t)->device, 0);
    return true;
}

bool Installed() { return SoundDriverTable.open_track == OpenTrack; }

}  // namespace

bool InstallSdlSoundDriver() {
    if (SoundDriverTable.open_track) return Installed();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SoundDriverTable.open_track = OpenTrack;
    SoundDriverTable.close_track = CloseTrack;
    SoundDriverTable.play_position = PlayPosition;
    // The position is what has been heard already, not an estimate ahead of it.
    SoundDriverTable.played = nullptr;
    SoundDriverTable.reset = Reset;
    SoundDriverTable.pause = Pause;
    SoundDriverTable.resume = Resume;
    // No service: SDL's audio thread feeds the device by itself.
    SoundDriverTable.service = nullptr;
    return true;
}
