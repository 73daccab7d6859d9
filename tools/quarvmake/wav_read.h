// WAV files for quarvmake: uncompressed PCM, 8 or 16 bits, mono or stereo.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct WavSound {
    uint32_t rate = 0;
    int bits = 0, channels = 0;
    std::vector<uint8_t> pcm;  // as stored: 8-bit unsigned, 16-bit signed little-endian
};

// False with a reason in *error for unreadable or unsupported files.
bool ReadWav(const std::string& path, WavSound* out, std::string* error);
// The same for bytes already in memory (`name` is used in messages).
bool ParseWav(const std::vector<uint8_t>& file, const std::string& name, WavSound* out, std::string* error);
