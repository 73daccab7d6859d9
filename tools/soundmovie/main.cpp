// Makes test movies with sound and checks what a sound device recorded.
//
//   soundmovie write OUT.qvl OUT.pcm RATE BITS CHANNELS raw|packed FRAMES [FPS [LEAD]]
//     A small movie with one sound track of generated sound (LEAD bytes in
//     frame 0, else about a second), and next to it the track's sound as the
//     movie carries it (every chunk unpacked, in order). The sound is a wandering tone with no sample frame equal to
//     silence, so silence a player adds can always be told apart from it.
//
//   soundmovie check SOUND.pcm TRACK RECORDED RECORDING [WRITTEN LEAD]
//     Whether RECORDING (raw samples a sound device took) holds the movie's
//     sound in order and complete, apart from whole sample frames of silence.
//     TRACK is the track's RATE-CHANNELS-BITS, RECORDED the recording's
//     RATE-CHANNELS-BITS-FORMAT (FORMAT: S16_LE, U8 or FLOAT_LE). With WRITTEN and LEAD (bytes
//     sent when the sound was paused, and the track's lead), the recording
//     may go back once, to WRITTEN - LEAD, no later than WRITTEN: a pause
//     drops what was queued and the resume replays the lead. Prints where
//     the added silence lies; exit 0 when it matches, 1 when not.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "writer/writer.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: soundmovie write OUT.qvl OUT.pcm RATE BITS CHANNELS raw|packed FRAMES [FPS [LEAD]]\n"
                 "       soundmovie check SOUND.pcm TRACK RECORDED RECORDING [WRITTEN LEAD]\n");
    return 2;
}

bool ReadFile(const char* path, std::vector<uint8_t>* out) {
    std::FILE* f = std::fopen(path, "rb");
    if (!f) return false;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    std::fclose(f);
    return true;
}

int Check(int argc, char** argv) {
    if (argc != 6 && argc != 8) return Usage();
    std::vector<uint8_t> sound, wav;
    if (!ReadFile(argv[2], &sound) || !ReadFile(argv[5], &wav)) {
        std::printf("FAIL: cannot read %s or %s\n", argv[2], argv[5]);
        return 1;
    }
    unsigned rate = 0, channels = 0, bits = 0, recRate = 0, recChannels = 0, recBits = 0;
    char recFormat[32] = "";
    if (std::sscanf(argv[3], "%u-%u-%u", &rate, &channels, &bits) != 3 ||
        std::sscanf(argv[4], "%u-%u-%u-%31s", &recRate, &recChannels, &recBits, recFormat) != 4 ||
        (bits != 8 && bits != 16) || (channels != 1 && channels != 2))
        return Usage();
    const size_t fs = bits / 8 * channels;
    const bool paused = argc == 8;
    const size_t written = paused ? std::strtoul(argv[6], nullptr, 10) / fs : 0;
    const size_t lead = paused ? std::strtoul(argv[7], nullptr, 10) / fs : 0;

    // The device took either the track's own format, or 32-bit float stereo
    // at the track's rate (a mixer's format), which gives the samples back
    // exactly as fractions of full scale. Anything else was converted.
    const std::string own = bits == 16 ? "S16_LE" : "U8";
    const bool same = recRate == rate && recChannels == channels && recBits == bits && recFormat == own;
    const bool floatStereo = recRate == rate && recChannels == 2 && recBits == 32 && !std::strcmp(recFormat, "FLOAT_LE");
    if (!same && !floatStereo) {
        std::printf("FAIL: recorded as %s, the track is %s\n", argv[4], argv[3]);
        return 1;
    }
    const size_t data = 0;
    if (floatStereo) {
        // A mono track must sound the same on both sides.
        std::vector<uint8_t> pcm;
        for (size_t i = 0; i + 8 <= wav.size(); i += 8) {
            float side[2];
            std::memcpy(side, &wav[i], 8);
            for (uint32_t ch = 0; ch < channels; ch++) {
                if (bits == 16) {
                    long v = std::lrint(side[ch] * 32768.0);
                    v = v < -32768 ? -32768 : v > 32767 ? 32767 : v;
                    pcm.push_back(static_cast<uint8_t>(v));
                    pcm.push_back(static_cast<uint8_t>(v >> 8));
                } else {
                    long v = std::lrint(side[ch] * 128.0) + 128;
                    v = v < 0 ? 0 : v > 255 ? 255 : v;
                    pcm.push_back(static_cast<uint8_t>(v));
                }
            }
            if (channels == 1 && side[0] != side[1]) {
                std::printf("FAIL: a mono track sounds different left and right at byte %zu\n", i);
                return 1;
            }
        }
        wav.swap(pcm);
    }
    const size_t recorded = (wav.size() - data) / fs, expected = sound.size() / fs;
    auto rec = [&](size_t i) { return &wav[data + i * fs]; };
    auto exp = [&](size_t j) { return &sound[j * fs]; };
    auto silent = [&](const uint8_t* f) {
        for (size_t k = 0; k < fs; k++)
            if (f[k] != (bits == 16 ? 0x00 : 0x80)) return false;
        return true;
    };
    size_t j = 0, lead0 = 0, inner = 0, tail = 0, run = 0, wentBack = 0;
    bool jumped = false;
    for (size_t i = 0; i < recorded; i++) {
        const uint8_t* r = rec(i);
        if (j < expected && !std::memcmp(r, exp(j), fs)) {
            if (j == 0 && !jumped) lead0 = run;
            else inner += run;
            run = 0;
            j++;
            continue;
        }
        if (silent(r)) {
            run++;
            continue;
        }
        if (paused && !jumped && j <= written && written >= lead && !std::memcmp(r, exp(written - lead), fs)) {
            jumped = true;
            wentBack = j;
            inner += run;
            run = 0;
            j = written - lead + 1;
            continue;
        }
        std::printf("FAIL: recorded frame %zu differs from the movie's frame %zu of %zu\n", i, j, expected);
        return 1;
    }
    tail = run;
    if (j != expected) {
        std::printf("FAIL: the recording ends after %zu of %zu frames\n", j, expected);
        return 1;
    }
    std::printf("ok: %zu frames of sound in order; silence frames added: %zu before, %zu inside, %zu after",
                expected, lead0, inner, tail);
    if (paused) {
        if (jumped)
            std::printf("; replayed from frame %zu after frame %zu", written - lead, wentBack);
        else
            std::printf("; the lead followed on seamlessly");
    }
    std::printf("\n");
    return 0;
}

std::vector<uint8_t> MakeSound(uint32_t rate, int bits, int channels, size_t frames) {
    std::mt19937 rng(rate * 31 + bits * 7 + channels);
    std::vector<uint8_t> pcm;
    double phase[2] = {0, 1}, step[2] = {440.0 / rate, 660.0 / rate};
    for (size_t f = 0; f < frames; f++) {
        bool silent = true;
        size_t at = pcm.size();
        for (int ch = 0; ch < channels; ch++) {
            phase[ch] += step[ch] * 6.283185307179586;
            step[ch] *= 1.0 + (static_cast<int>(rng() % 3) - 1) * 0.0005;
            double v = std::sin(phase[ch]) * 0.6 + (static_cast<int>(rng() % 201) - 100) / 2000.0;
            if (bits == 16) {
                int s = static_cast<int>(v * 20000);
                pcm.push_back(static_cast<uint8_t>(s));
                pcm.push_back(static_cast<uint8_t>(s >> 8));
                if (s != 0) silent = false;
            } else {
                int s = 128 + static_cast<int>(v * 100);
                pcm.push_back(static_cast<uint8_t>(s));
                if (s != 0x80) silent = false;
            }
        }
        if (silent) pcm[at] ^= 1;  // never a whole frame of silence
    }
    return pcm;
}

}  // namespace

int Write(int argc, char** argv) {
    if (argc < 9 || argc > 11) return Usage();
    argv++;  // past "write"
    argc--;
    const uint32_t rate = static_cast<uint32_t>(std::atoi(argv[3]));
    const int bits = std::atoi(argv[4]);
    const int channels = std::atoi(argv[5]);
    const std::string mode = argv[6];
    const uint32_t frames = static_cast<uint32_t>(std::atoi(argv[7]));
    const uint32_t fps = argc > 8 ? static_cast<uint32_t>(std::atoi(argv[8])) : 15;
    const long lead = argc > 9 ? std::atol(argv[9]) : -1;
    if (!rate || (bits != 8 && bits != 16) || (channels != 1 && channels != 2) ||
        (mode != "raw" && mode != "packed") || frames < 2 || !fps)
        return Usage();

    qvw::MoviePlan plan;
    plan.width = 32;
    plan.height = 16;
    plan.frame_rate = qvw::FrameRateForFps(fps);
    for (uint32_t f = 0; f < frames; f++) {
        qvw::FramePlan frame;
        frame.picture.assign(32 * 16, static_cast<uint8_t>(f % 7));
        if (f == 0) {
            qvw::Palette p{};
            for (int i = 0; i < 256; i++) p[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 128};
            frame.palette = p;
        }
        plan.frames.push_back(frame);
    }
    qvw::TrackPlan track;
    track.rate = rate;
    track.bits = bits;
    track.channels = channels;
    track.compressed = mode == "packed";
    if (lead >= 0) track.lead_bytes = static_cast<uint32_t>(lead);
    track.pcm = MakeSound(rate, bits, channels, static_cast<size_t>(rate) * (frames / fps + 3));
    plan.tracks[0] = track;

    qvw::WriteReport report;
    std::string error;
    if (!qvw::WriteMovieFile(plan, argv[1], &error, &report)) {
        std::fprintf(stderr, "soundmovie: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> carried;
    for (const auto& chunk : report.track_chunks[0]) carried.insert(carried.end(), chunk.begin(), chunk.end());
    if (!qvw::WriteBytesFile(carried, argv[2], &error)) {
        std::fprintf(stderr, "soundmovie: %s\n", error.c_str());
        return 1;
    }
    std::printf("%zu bytes of sound, lead %u\n", carried.size(), report.sound_lead[0]);
    return 0;
}

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "write")) return Write(argc, argv);
    if (argc >= 2 && !std::strcmp(argv[1], "check")) return Check(argc, argv);
    return Usage();
}
