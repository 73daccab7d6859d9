// Test material shared by the benchmark programs: movies made by the writer
// library (the demo, a picture of full blocks, a mixture of all block kinds)
// with their tables built and frames located, and sound like a recording.
#pragma once
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "video/huffman.h"
#include "writer/writer.h"

namespace benchdata {

inline uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

struct Prepared {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> file;
    std::vector<uint8_t> tables;
    std::vector<std::pair<const uint8_t*, uint32_t>> videos;  // per frame
    std::array<uint64_t, 4> blockCounts{};
};

// Content generators: a picture per frame (palette indices).
using Painter = std::vector<uint8_t> (*)(uint32_t w, uint32_t h, uint32_t f);

// Detailed texture that scrolls every frame: almost every block needs three
// or more colours. Colours stay near their neighbours, as in real pictures.
inline std::vector<uint8_t> Texture(uint32_t w, uint32_t h, uint32_t f) {
    std::vector<uint8_t> p(w * h);
    uint32_t seed = 12345 + f;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            seed = seed * 1103515245 + 12345;
            const double v = 40 * std::sin((x + 3 * f) * 0.05) + 40 * std::cos((y + 2 * f) * 0.07);
            p[y * w + x] = static_cast<uint8_t>(128 + static_cast<int>(v) + static_cast<int>(seed >> 29));
        }
    return p;
}

// A still background with moving solid shapes, two-colour text-like marks and
// a textured window: all four block kinds.
inline std::vector<uint8_t> Mixed(uint32_t w, uint32_t h, uint32_t f) {
    std::vector<uint8_t> p(w * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) p[y * w + x] = static_cast<uint8_t>(((x / 32) ^ (y / 32)) & 1 ? 20 : 21);
    for (int s = 0; s < 6; ++s) {  // moving boxes
        const uint32_t bx = (37 * s + 5 * f) % (w - 80), by = (53 * s + 3 * f) % (h - 60);
        for (uint32_t y = by; y < by + 60; ++y)
            for (uint32_t x = bx; x < bx + 80; ++x) p[y * w + x] = static_cast<uint8_t>(40 + s);
    }
    for (uint32_t y = 300; y < 340; ++y)  // scrolling stripes of text
        for (uint32_t x = 0; x < w; ++x) p[y * w + x] = ((x + 7 * f) * 7 / 5 + y * 3) % 11 < 4 ? 1 : 15;
    for (uint32_t y = 360; y < 460; ++y)  // a window of changing texture
        for (uint32_t x = 200; x < 440; ++x)
            p[y * w + x] = static_cast<uint8_t>(100 + ((x * 13 + y * 7 + f * 29) % 23) + ((x ^ y) & 3));
    return p;
}

inline qvw::Palette Greys() {
    qvw::Palette pal;
    for (int i = 0; i < 256; ++i) pal[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i / 2)};
    return pal;
}

inline Prepared Prepare(const qvw::MoviePlan& plan) {
    Prepared p;
    p.width = plan.width;
    p.height = plan.height;
    qvw::WriteReport report;
    p.file = qvw::WriteMovie(plan, &report);
    p.blockCounts = report.block_counts;
    const uint8_t* h = p.file.data();
    uint32_t sizes[4] = {U32(h + 56), U32(h + 60), U32(h + 64), U32(h + 68)};
    uint64_t total = DecodeTablesFixedSize();
    for (uint32_t s : sizes) total += s;
    p.tables.assign(total, 0);
    std::vector<uint8_t> work(std::max<size_t>(8192, (4096 + report.tree_block_size + 3) & ~size_t{3}), 0);
    std::memcpy(work.data() + 4096, h + report.tree_block_offset, report.tree_block_size);
    BuildDecodeTables(work.data(), static_cast<uint32_t>(work.size()), reinterpret_cast<DecodeTables*>(p.tables.data()),
                      sizes);
    uint64_t at = report.first_record_offset;
    for (uint32_t i = 0; i < plan.frames.size(); ++i) {
        const uint32_t v = report.video_offsets[i];
        p.videos.push_back({h + at + v, report.frame_sizes[i] - v});
        at += report.frame_sizes[i];
    }
    return p;
}

inline qvw::MoviePlan Generated(uint32_t w, uint32_t h, uint32_t frames, Painter paint) {
    qvw::MoviePlan plan;
    plan.width = w;
    plan.height = h;
    for (uint32_t f = 0; f < frames; ++f) {
        qvw::FramePlan fs;
        fs.picture = paint(w, h, f);
        if (f == 0) fs.palette = Greys();
        plan.frames.push_back(std::move(fs));
    }
    return plan;
}

enum Content { kDemo, kFull, kMix };

inline const Prepared& Load(Content c) {
    static std::map<Content, std::unique_ptr<Prepared>> cache;
    auto& slot = cache[c];
    if (!slot) {
        qvw::MoviePlan plan;
        if (c == kDemo) {
            plan = qvw::MakeDemoPlan(150);
            plan.tracks[0].reset();  // only the picture is timed
        } else {
            plan = Generated(640, 480, 30, c == kFull ? Texture : Mixed);
        }
        slot = std::make_unique<Prepared>(Prepare(plan));
    }
    return *slot;
}

inline std::vector<uint8_t> MakeSound(bool stereo, bool wide, size_t bytes) {
    std::mt19937 rng(7);
    size_t fs = (stereo ? 2 : 1) * (wide ? 2 : 1);
    std::vector<uint8_t> pcm(bytes / fs * fs);
    double level[2] = {0, 0}, speed[2] = {0, 0};
    std::normal_distribution<double> noise(0.0, wide ? 160.0 : 0.6);
    for (size_t f = 0; f < pcm.size() / fs; f++)
        for (int ch = 0; ch < (stereo ? 2 : 1); ch++) {
            speed[ch] = speed[ch] * 0.95 + noise(rng);
            level[ch] = level[ch] * 0.999 + speed[ch];
            int v = static_cast<int>(level[ch]);
            uint8_t* p = &pcm[f * fs + ch * (wide ? 2 : 1)];
            if (wide) {
                p[0] = static_cast<uint8_t>(v);
                p[1] = static_cast<uint8_t>(v >> 8);
            } else {
                p[0] = static_cast<uint8_t>(v + 128);
            }
        }
    return pcm;
}

// The packed stream of one chunk of this sound (what follows its two header
// words), as the writer packs it.
inline std::vector<uint8_t> PackSound(const std::vector<uint8_t>& pcm, bool stereo, bool wide) {
    const std::vector<uint8_t> chunk = qvw::EncodeSoundChunk(pcm.data(), pcm.size(), wide ? 16 : 8, stereo ? 2 : 1, true);
    return std::vector<uint8_t>(chunk.begin() + 8, chunk.end());
}

}  // namespace benchdata
