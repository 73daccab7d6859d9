// Writes small writer-made movies as seeds for the movie fuzz target: every
// sound layout, raw and packed, a ring frame, both height scalings, palette
// changes and pictures that use every block kind.
#include <cstdio>
#include <string>

#include "writer/writer.h"

namespace {

qvw::MoviePlan Pictures(uint32_t w, uint32_t h, uint32_t frames) {
    qvw::MoviePlan plan;
    plan.width = w;
    plan.height = h;
    plan.frame_rate = qvw::FrameRateForFps(15);
    for (uint32_t f = 0; f < frames; ++f) {
        qvw::FramePlan frame;
        frame.picture.resize(w * h);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x) {
                uint8_t v = 0;
                if (y < h / 3) v = static_cast<uint8_t>((x / 4 + f) % 5);            // solid and two-colour blocks
                else if (y < 2 * h / 3) v = static_cast<uint8_t>((x * 7 + y * 3 + f) % 23);  // full blocks
                else v = (x + f) % 8 < 4 ? 9 : 11;                                     // stripes that move
                frame.picture[y * w + x] = v;
            }
        if (f % 2 == 0) {
            qvw::Palette p{};
            for (int i = 0; i < 256; ++i)
                p[i] = {static_cast<uint8_t>(i * 3 + f * 10), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)};
            frame.palette = p;
        }
        plan.frames.push_back(frame);
    }
    return plan;
}

qvw::TrackPlan Track(uint32_t rate, int bits, int channels, bool compressed, uint32_t seconds_x10) {
    qvw::TrackPlan t;
    t.rate = rate;
    t.bits = bits;
    t.channels = channels;
    t.compressed = compressed;
    size_t bytes = static_cast<size_t>(rate) * (bits / 8) * channels * seconds_x10 / 10;
    t.pcm.resize(bytes);
    for (size_t i = 0; i < bytes; ++i) t.pcm[i] = static_cast<uint8_t>((i * 13) ^ (i >> 5));
    return t;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: movie_seeds OUTDIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::string error;
    int failures = 0;
    auto write = [&](const qvw::MoviePlan& plan, const char* name) {
        if (!qvw::WriteMovieFile(plan, dir + "/" + name, &error)) {
            std::fprintf(stderr, "movie_seeds: %s: %s\n", name, error.c_str());
            ++failures;
        }
    };

    write(Pictures(32, 24, 6), "plain.qvl");
    {
        auto s = Pictures(16, 16, 8);
        s.tracks[0] = Track(8000, 8, 1, true, 8);
        s.tracks[1] = Track(4000, 16, 1, true, 8);
        write(s, "packed_mono.qvl");
    }
    {
        auto s = Pictures(16, 16, 8);
        s.tracks[0] = Track(6000, 16, 2, true, 8);
        s.tracks[3] = Track(5000, 8, 2, true, 8);
        write(s, "packed_stereo.qvl");
    }
    {
        auto s = Pictures(20, 16, 6);
        s.ring = true;
        s.tracks[0] = Track(4000, 8, 1, false, 6);
        s.tracks[6] = Track(3000, 16, 2, false, 6);
        write(s, "ring_raw.qvl");
    }
    {
        auto s = Pictures(16, 12, 4);
        s.y_double = true;
        write(s, "ydouble.qvl");
        s.y_double = false;
        s.y_interlace = true;
        write(s, "yinterlace.qvl");
    }
    return failures ? 1 : 0;
}
