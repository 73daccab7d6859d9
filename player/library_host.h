// The part of a playback host that is the same for every program: the
// movie's own calls go straight to the library. A program's host adds its
// window, keys, display, messages and how it opens movies.
#pragma once
#include "movie/movie.h"
#include "player/playback_loop.h"

class LibraryPlaybackHost : public PlaybackHost {
public:
    void SimulateRate(uint32_t bytesPerSecond) override { QuarvSimulateRate(bytesPerSecond); }
    void SetFrameRate(int32_t rate) override { QuarvSetFrameRate(rate); }
    void ToBuffer(Movie* movie, int32_t pitch, uint32_t height, void* pixels, uint32_t flags) override {
        QuarvToBuffer(movie, 0, 0, pitch, height, pixels, flags);
    }
    void ColorRemap(Movie* movie, const uint8_t* palette, uint32_t count, uint32_t layout) override {
        QuarvColorRemap(movie, palette, count, layout);
    }
    uint32_t DoFrame(Movie* movie) override { return QuarvDoFrame(movie); }
    uint32_t ToBufferNext(Movie* movie, uint32_t mode) override { return QuarvToBufferNext(movie, mode); }
    void NextFrame(Movie* movie) override { QuarvNextFrame(movie); }
    uint32_t SoundOnOff(Movie* movie, uint32_t on) override { return QuarvSoundOnOff(movie, on); }
    uint32_t Wait(Movie* movie) override { return QuarvWait(movie); }
    uint32_t PlayOut(Movie* movie) override { return QuarvPlayOut(movie); }
    void Summary(Movie* movie, PlaybackSummary* summary) override { QuarvSummary(movie, summary); }
};
