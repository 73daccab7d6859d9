// The process-wide table of sound-driver operations. A back-end fills it;
// the library fills each track's ring and calls the driver at fixed points.
#pragma once
#include <cstdint>

struct SoundTrack;

struct SoundDriver {
    bool (*open_track)(SoundTrack* track, uint32_t openFlags);
    void (*close_track)(SoundTrack* track);
    uint32_t (*play_position)(SoundTrack* track);  // bytes played since the track's last start or reset
    // Bytes the device itself has finished playing, on the play position's
    // scale, where the play position is an estimate that may run ahead of
    // the device; null: the play position is the device's own.
    uint32_t (*played)(SoundTrack* track);
    void (*reset)(SoundTrack* track);
    void (*pause)(SoundTrack* track);
    bool (*resume)(SoundTrack* track);
    void (*service)();
};

// All null until a back-end installs itself.
extern SoundDriver SoundDriverTable;

// The default back-end, installed by the first track set-up when none is:
// waveOut on Windows, the headless back-end elsewhere.
void InstallDefaultSoundDriver();

// Empties the table (tests only: lets the next set-up install afresh).
void UninstallSoundDriver();
