// A movie record, its decoding tables and a caller's buffer with guard bands,
// for driving the decoder and the target code without a movie file.
#pragma once
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <vector>

#include "common/cpu.h"
#include "movie/movie.h"
#include "tests/video/video_stream.h"
#include "video/frame_target.h"

namespace vtest {

// The values a frame uses, in order; the trees are made balanced over the
// distinct values of each.
class Script {
public:
    Script& Run(uint32_t kind, uint32_t blocks, uint32_t color = 0) {
        return Put(kTypeTree, Descriptor(kind, blocks, color));
    }
    Script& Put(int tree, uint32_t v) {
        items_.push_back({tree, v});
        return *this;
    }
    Script& TwoColor(uint32_t pair, uint32_t mask) { return Put(kColorTree, pair).Put(kMapTree, mask); }
    // One full-block row as its pixels from left to right.
    Script& FullRow(uint8_t p0, uint8_t p1, uint8_t p2, uint8_t p3) {
        return Put(kFullTree, static_cast<uint32_t>(p3) << 8 | p2).Put(kFullTree, static_cast<uint32_t>(p1) << 8 | p0);
    }
    Script& FullBlock(uint8_t v) {
        for (int r = 0; r < 4; ++r) FullRow(v, v, v, v);
        return *this;
    }

    // Trees over the values used (plus any given extras), and the stream.
    void Make(TreePlan trees[4], std::vector<uint8_t>* stream, const std::set<uint32_t> extra[4] = nullptr) const {
        for (int t = 0; t < 4; ++t) {
            std::set<uint32_t> values;
            for (auto& [tree, v] : items_)
                if (tree == t) values.insert(v);
            if (extra) values.insert(extra[t].begin(), extra[t].end());
            if (values.empty()) values.insert(0);
            trees[t] = Balanced(std::vector<uint32_t>(values.begin(), values.end()));
        }
        BitWriter w;
        for (auto& [tree, v] : items_) w.Code(trees[tree].Code(v));
        *stream = w.Bytes();
    }

private:
    std::vector<std::pair<int, uint32_t>> items_;
};

struct Rig {
    std::unique_ptr<Movie> movie{new Movie()};
    Tables tables;
    std::vector<uint8_t> buffer;
    int32_t pitch = 0;
    uint32_t lines = 0;
    static constexpr size_t kGuard = 64;

    Rig(uint32_t width, uint32_t height, uint32_t openFlags = 0) {
        movie->Header.Width = width;
        movie->Header.Height = height;
        movie->OpenFlags = openFlags;
    }
    ~Rig() { QuarvToBuffer(movie.get(), 0, 0, 0, 0, nullptr, 0); }

    // A buffer of `lines` lines of `pitch` bytes, filled with `fill`, with
    // guard bytes before and after it.
    void Bind(int32_t left, int32_t top, int32_t pitchBytes, uint32_t bufferLines, uint32_t flags, uint8_t fill = 0xEE) {
        pitch = pitchBytes;
        lines = bufferLines;
        buffer.assign(2 * kGuard + static_cast<size_t>(pitch) * lines, fill);
        QuarvToBuffer(movie.get(), left, top, pitch, lines, Pixels(), flags);
    }
    uint8_t* Pixels() { return buffer.data() + kGuard; }
    uint8_t At(uint32_t x, uint32_t line) const { return buffer[kGuard + static_cast<size_t>(line) * pitch + x]; }
    uint16_t At16(uint32_t x, uint32_t line) const {
        const uint8_t* p = &buffer[kGuard + static_cast<size_t>(line) * pitch + 2 * x];
        return static_cast<uint16_t>(p[0] | p[1] << 8);
    }
    bool GuardsIntact(uint8_t fill = 0xEE) const {
        for (size_t i = 0; i < kGuard; ++i)
            if (buffer[i] != fill || buffer[buffer.size() - 1 - i] != fill) return false;
        return true;
    }
    FrameTarget* Target() { return movie->FrameTarget; }

    void UseTrees(const TreePlan trees[4]) { tables = Tables::Build(trees); }
    // Decodes with the plain (1) or the wide (2) reader.
    void Decode(const std::vector<uint8_t>& video, uint32_t mmxLevel = 1, const uint16_t* colors = nullptr) {
        const uint32_t savedLevel = MmxLevel;
        MmxLevel = mmxLevel;
        DecodeFrame(video.empty() ? nullptr : video.data(), static_cast<uint32_t>(video.size()), tables.get(),
                    Target(), colors);
        MmxLevel = savedLevel;
    }
    // Through QuarvDoFrame, as the player calls it.
    uint32_t DoFrame(const std::vector<uint8_t>& video) {
        frameData = video;
        movie->DecodeTables = tables.get();
        movie->FrameData = movie->VideoData = frameData.empty() ? nullptr : frameData.data();
        movie->FrameSize = movie->VideoSize = static_cast<uint32_t>(frameData.size());
        return QuarvDoFrame(movie.get());
    }
    uint32_t DoFrame(const Script& s) {
        TreePlan trees[4];
        std::vector<uint8_t> stream;
        s.Make(trees, &stream);
        UseTrees(trees);
        return DoFrame(stream);
    }
    std::vector<uint8_t> frameData;

    void Play(const Script& s, uint32_t mmxLevel = 1, const uint16_t* colors = nullptr) {
        TreePlan trees[4];
        std::vector<uint8_t> stream;
        s.Make(trees, &stream);
        UseTrees(trees);
        Decode(stream, mmxLevel, colors);
    }
};

}  // namespace vtest
