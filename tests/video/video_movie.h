// Writer-made movies played through the library as the player plays them:
// opened from memory, decoded into a caller's buffer with guard bands, and
// each frame's changed rectangles asked for.
#pragma once
#include <random>
#include <string>

#include "tests/support/movie_bytes.h"
#include "writer/writer.h"

namespace vtest {

using movietest::Bytes;

// A picture of 4 x 4 blocks as real movies have them (flat, two colours,
// noisy), over colours 1..colours; with a previous picture, only about a
// third of the blocks change.
inline Bytes BlockPicture(uint32_t w, uint32_t h, std::mt19937& rng, int colours, const Bytes* previous = nullptr) {
    Bytes p = previous ? *previous : Bytes(size_t{w} * h, 1);
    for (uint32_t by = 0; by < h; by += 4)
        for (uint32_t bx = 0; bx < w; bx += 4) {
            if (previous && rng() % 3) continue;
            const uint32_t kind = rng() % 3, a = 1 + rng() % colours, b = 1 + rng() % colours, mask = rng();
            for (uint32_t i = 0; i < 16; ++i) {
                const uint32_t x = bx + i % 4, y = by + i / 4;
                if (x < w && y < h) p[size_t{y} * w + x] = static_cast<uint8_t>(kind == 0 ? a : kind == 1 ? (mask >> i & 1 ? a : b) : 1 + rng() % colours);
            }
        }
    return p;
}

struct PlayedMovie {
    qvw::WriteReport report;
    movietest::MemoryFile file;
    Movie* m;
    Bytes buffer;
    int32_t pitch = 0;
    static constexpr size_t kGuard = 64;

    explicit PlayedMovie(const qvw::MoviePlan& plan, uint32_t openFlags = 0)
        : file((report.keep_pictures = true, qvw::WriteMovie(plan, &report))), m(QuarvOpen(movietest::MemoryFile::kName, openFlags, 0)) {}
    ~PlayedMovie() { QuarvClose(m); }
    void Bind(int32_t left, int32_t top, int32_t pitchBytes, uint32_t lines, uint32_t flags, uint8_t fill = 0xEE) {
        pitch = pitchBytes;
        buffer.assign(2 * kGuard + size_t(pitch) * lines, fill);
        QuarvToBuffer(m, left, top, pitch, lines, buffer.data() + kGuard, flags);
    }
    uint8_t& At(uint32_t x, uint32_t line) { return buffer[kGuard + size_t(line) * pitch + x]; }
    bool GuardsIntact() const { return std::count(buffer.begin(), buffer.begin() + kGuard, 0xEE) + std::count(buffer.end() - kGuard, buffer.end(), 0xEE) == 2 * kGuard; }
    // The rectangles handed out with the modes given, the last one repeated
    // until none is left ("-" for an earlier call that gave none).
    std::string Rects(const std::string& modes = "0") {
        std::string out;
        for (size_t i = 0; i < 64; ++i) {
            if (!QuarvToBufferNext(m, modes[std::min(i, modes.size() - 1)] - '0')) {
                if (i + 1 >= modes.size()) break;
                out += "-";
                continue;
            }
            const QuarvRect& r = m->LastRect;
            out += "(" + std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
                   std::to_string(r.height) + ")";
        }
        return out;
    }
};

}  // namespace vtest
