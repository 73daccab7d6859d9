// The PCM wave format of a sound track, as both output back-ends describe it
// to the platform.
#pragma once
#include <cstdint>

#include "movie/sound_track.h"

struct PcmFormat {
    uint32_t Channels;
    uint32_t Rate;               // samples per second
    uint32_t Bits;               // 8 or 16
    uint32_t BlockAlign;         // channels x bytes per sample
    uint32_t AvgBytesPerSecond;  // BlockAlign x Rate
};

inline PcmFormat PcmFormatOf(const SoundTrack* t) {
    PcmFormat f;
    f.Channels = t->Stereo + 1;
    f.Rate = t->Rate;
    f.Bits = t->Bits16 ? 16 : 8;
    f.BlockAlign = f.Channels * (f.Bits / 8);
    f.AvgBytesPerSecond = f.BlockAlign * f.Rate;
    return f;
}

inline uint8_t SilenceOf(const SoundTrack* t) { return t->Bits16 ? 0x00 : 0x80; }
