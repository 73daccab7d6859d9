// Codes pictures as runs of 4 x 4 blocks: skipped (unchanged), solid (one
// colour), two-colour (colour pair + 16-bit mask) or full (eight pixel
// pairs). It keeps the picture the player will be showing, so that skips and
// lossy choices are always made against what is really on screen.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "writer/value_trees.h"
#include "writer/writer.h"

namespace qvw {

class VideoCoder {
public:
    VideoCoder(uint32_t width, uint32_t height);

    struct Options {
        double threshold = 0;  // lossy: mean squared RGB error per pixel allowed
        bool overshoot = true;
        // A full-block pixel pair (low byte = left pixel) never to use: each
        // use becomes the nearest other pair by colour.
        int banned_pair = -1;
    };
    // Codes `picture` (width x height) and appends its tokens. `palette` is the
    // one the frame is shown with.
    void CodeFrame(const uint8_t* picture, const FramePlan& fs, const Palette& palette,
                   const Options& opt, std::vector<uint32_t>* tokens,
                   std::array<uint64_t, 4>* kind_counts);

    const std::vector<uint8_t>& Shown() const { return shown_; }
    uint32_t Blocks() const { return blocks_x_ * blocks_y_; }

private:
    struct Coded {
        BlockKind kind;
        uint8_t colour = 0;
        int nvals = 0;
        uint16_t vals[8];
        uint8_t out[16];  // what the block shows afterwards
    };
    void Load(const uint8_t* base, uint8_t px[16]) const;
    void Store(uint32_t block, const uint8_t px[16]);
    void Choose(const uint8_t px[16], const uint8_t ref[16], BlockKind forced, double threshold,
                Coded* c);
    void MakeSolid(const uint8_t px[16], uint8_t colour, Coded* c) const;
    void MakeTwo(const uint8_t px[16], uint8_t a, uint8_t b, Coded* c) const;
    void MakeFull(const uint8_t px[16], Coded* c) const;
    void ChooseSubstitute(int banned);
    // Best approximations by colour distance; return the squared error.
    uint32_t BestSolid(const uint8_t px[16], uint8_t* colour);
    uint32_t BestPair(const uint8_t px[16], uint8_t* a, uint8_t* b);
    void SetPalette(const Palette& p);

    // Run being collected and its block values.
    void Add(const Coded& c, bool last_block, bool overshoot);
    void Flush(bool final_run, bool overshoot);
    void PushValue(int tree, uint16_t v);

    uint32_t width_, height_, blocks_x_, blocks_y_;
    std::vector<uint8_t> shown_;
    bool shown_valid_ = false;

    std::vector<uint32_t>* tokens_ = nullptr;
    std::array<RecentValues, 4> cache_;
    BlockKind run_kind_ = BlockKind::Auto;
    uint8_t run_colour_ = 0;
    uint32_t run_len_ = 0;
    std::vector<uint32_t> run_values_;

    int banned_ = -1;
    uint16_t substitute_ = 0;

    bool dist_ready_ = false;
    Palette dist_palette_{};
    std::vector<uint32_t> dist_;  // 256 x 256 squared RGB distances
};

}  // namespace qvw
