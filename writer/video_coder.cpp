#include "writer/video_coder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace qvw {
namespace {

int ValuesPerBlock(BlockKind k) {
    return k == BlockKind::TwoColor ? 2 : k == BlockKind::Full ? 8 : 0;
}

// Largest run-length index whose length is at most n (n >= 1).
unsigned IndexAtMost(uint32_t n) {
    unsigned idx = 0;
    for (unsigned i = 0; i < 64; ++i)
        if (RunLength(i) <= n) idx = i;
    return idx;
}
// Smallest run-length index whose length is at least n (n <= 2048).
unsigned IndexAtLeast(uint32_t n) {
    for (unsigned i = 0; i < 64; ++i)
        if (RunLength(i) >= n) return i;
    return 63;
}

}  // namespace

uint32_t RunLength(unsigned index) {
    static const uint32_t kLong[5] = {128, 256, 512, 1024, 2048};
    return index < 59 ? index + 1 : kLong[std::min(index - 59, 4u)];
}

VideoCoder::VideoCoder(uint32_t width, uint32_t height)
    : width_(width), height_(height), blocks_x_(width / 4), blocks_y_(height / 4),
      shown_(size_t(width) * height, 0) {}

void VideoCoder::Load(const uint8_t* base, uint8_t px[16]) const {
    for (int r = 0; r < 4; ++r) std::memcpy(px + 4 * r, base + size_t(r) * width_, 4);
}

void VideoCoder::Store(uint32_t block, const uint8_t px[16]) {
    uint8_t* base = shown_.data() + size_t(block / blocks_x_) * 4 * width_ + (block % blocks_x_) * 4;
    for (int r = 0; r < 4; ++r) std::memcpy(base + size_t(r) * width_, px + 4 * r, 4);
}

void VideoCoder::SetPalette(const Palette& p) {
    if (dist_ready_ && p == dist_palette_) return;
    dist_.resize(256 * 256);
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < 256; ++j) {
            int dr = p[i].r - p[j].r, dg = p[i].g - p[j].g, db = p[i].b - p[j].b;
            dist_[i * 256 + j] = uint32_t(dr * dr + dg * dg + db * db);
        }
    dist_palette_ = p;
    dist_ready_ = true;
}

void VideoCoder::MakeSolid(const uint8_t px[16], uint8_t colour, Coded* c) const {
    c->kind = BlockKind::Solid;
    c->colour = colour;
    c->nvals = 0;
    std::memset(c->out, colour, 16);
}

// Pixels equal to `b` (or, for a block of more colours, nearer to b) take
// the mask's 1 bits; the pair is ordered so that the top-left pixel is the
// 0 colour, which keeps every mask even and leaves values free in the trees.
void VideoCoder::MakeTwo(const uint8_t px[16], uint8_t a, uint8_t b, Coded* c) const {
    uint16_t mask = 0;
    for (int i = 0; i < 16; ++i) {
        bool high;
        if (px[i] == a) high = false;
        else if (px[i] == b) high = true;
        else high = dist_[px[i] * 256 + b] < dist_[px[i] * 256 + a];
        if (high) mask |= uint16_t(1u << i);
    }
    if (mask & 1) {
        std::swap(a, b);
        mask = static_cast<uint16_t>(~mask);
    }
    c->kind = BlockKind::TwoColor;
    c->colour = 0;
    c->nvals = 2;
    c->vals[0] = static_cast<uint16_t>(a | b << 8);
    c->vals[1] = mask;
    for (int i = 0; i < 16; ++i) c->out[i] = (mask >> i & 1) ? b : a;
}

void VideoCoder::MakeFull(const uint8_t px[16], Coded* c) const {
    c->kind = BlockKind::Full;
    c->colour = 0;
    c->nvals = 8;
    for (int r = 0; r < 4; ++r) {
        const uint8_t* row = px + 4 * r;
        c->vals[2 * r] = static_cast<uint16_t>(row[2] | row[3] << 8);      // right half first
        c->vals[2 * r + 1] = static_cast<uint16_t>(row[0] | row[1] << 8);  // then left half
    }
    std::memcpy(c->out, px, 16);
    if (banned_ < 0) return;
    for (int i = 0; i < 8; ++i) {
        if (c->vals[i] != banned_) continue;
        c->vals[i] = substitute_;
        uint8_t* at = c->out + 4 * (i / 2) + (i % 2 ? 0 : 2);
        at[0] = static_cast<uint8_t>(substitute_);
        at[1] = static_cast<uint8_t>(substitute_ >> 8);
    }
}

// The pair nearest to the banned one that differs in one pixel.
void VideoCoder::ChooseSubstitute(int banned) {
    banned_ = banned;
    if (banned < 0) return;
    const int lo = banned & 0xFF, hi = banned >> 8;
    uint32_t best = UINT32_MAX;
    for (int c = 0; c < 256; ++c) {
        if (c != lo && dist_[lo * 256 + c] < best) best = dist_[lo * 256 + c], substitute_ = static_cast<uint16_t>(c | hi << 8);
        if (c != hi && dist_[hi * 256 + c] < best) best = dist_[hi * 256 + c], substitute_ = static_cast<uint16_t>(lo | c << 8);
    }
}

uint32_t VideoCoder::BestSolid(const uint8_t px[16], uint8_t* colour) {
    uint32_t best = UINT32_MAX;
    for (int i = 0; i < 16; ++i) {
        uint32_t e = 0;
        for (int j = 0; j < 16; ++j) e += dist_[px[i] * 256 + px[j]];
        if (e < best) best = e, *colour = px[i];
    }
    return best;
}

uint32_t VideoCoder::BestPair(const uint8_t px[16], uint8_t* a, uint8_t* b) {
    uint8_t cols[16];
    int n = 0;
    for (int i = 0; i < 16; ++i)
        if (std::find(cols, cols + n, px[i]) == cols + n) cols[n++] = px[i];
    if (n == 1) {
        *a = *b = cols[0];
        return 0;
    }
    uint32_t best = UINT32_MAX;
    for (int i = 0; i < n; ++i)
        for (int j = i + 1; j < n; ++j) {
            const uint32_t* di = &dist_[cols[i] * 256];
            const uint32_t* dj = &dist_[cols[j] * 256];
            uint32_t e = 0;
            for (int k = 0; k < 16 && e < best; ++k) e += std::min(di[px[k]], dj[px[k]]);
            if (e < best) best = e, *a = cols[i], *b = cols[j];
        }
    return best;
}

void VideoCoder::Choose(const uint8_t px[16], const uint8_t ref[16], BlockKind forced,
                        double threshold, Coded* c) {
    // Exact facts first: unchanged, and how many colours (up to 3).
    const bool unchanged = shown_valid_ && std::memcmp(px, ref, 16) == 0;
    uint8_t a = px[0], b = px[0];
    int colours = 1;
    for (int i = 1; i < 16 && colours < 3; ++i) {
        if (px[i] == a || (colours == 2 && px[i] == b)) continue;
        if (colours == 1) b = px[i];
        ++colours;
    }
    auto skip = [&] {
        c->kind = BlockKind::Skip;
        c->nvals = 0;
        std::memcpy(c->out, ref, 16);
    };
    switch (forced) {
    case BlockKind::Skip: skip(); return;
    case BlockKind::Full: MakeFull(px, c); return;
    case BlockKind::Solid:
        if (colours == 1) {
            MakeSolid(px, a, c);
        } else {
            uint8_t col = a;
            BestSolid(px, &col);
            MakeSolid(px, col, c);
        }
        return;
    case BlockKind::TwoColor:
        if (colours <= 2) {
            MakeTwo(px, a, b, c);
        } else {
            BestPair(px, &a, &b);
            MakeTwo(px, a, b, c);
        }
        return;
    case BlockKind::Auto: break;
    }
    if (unchanged) return skip();
    if (colours == 1) return MakeSolid(px, a, c);
    if (threshold > 0) {
        const uint32_t limit = static_cast<uint32_t>(std::min(threshold * 16, 4e9));
        if (shown_valid_) {
            uint32_t e = 0;
            for (int i = 0; i < 16 && e <= limit; ++i) e += dist_[px[i] * 256 + ref[i]];
            if (e <= limit) return skip();
        }
        uint8_t col;
        if (BestSolid(px, &col) <= limit) return MakeSolid(px, col, c);
        if (colours == 2) return MakeTwo(px, a, b, c);
        uint8_t x, y;
        if (BestPair(px, &x, &y) <= limit) return MakeTwo(px, x, y, c);
        return MakeFull(px, c);
    }
    if (colours == 2) return MakeTwo(px, a, b, c);
    MakeFull(px, c);
}

void VideoCoder::PushValue(int tree, uint16_t v) {
    unsigned hits = cache_[tree].Use(v);
    run_values_.push_back(MakeToken(tree, v, hits));
}

void VideoCoder::Flush(bool final_run, bool overshoot) {
    const int per = ValuesPerBlock(run_kind_);
    const uint16_t colour_bits = static_cast<uint16_t>(run_kind_ == BlockKind::Solid ? run_colour_ << 8 : 0);
    uint32_t remaining = run_len_;
    size_t offset = 0;
    while (remaining > 0) {
        unsigned idx;
        uint32_t take;
        if (final_run && overshoot && remaining <= 2048) {
            idx = IndexAtLeast(remaining);
            take = remaining;
        } else {
            idx = IndexAtMost(remaining);
            take = RunLength(idx);
        }
        uint16_t desc = static_cast<uint16_t>(uint16_t(run_kind_) | idx << 2 | colour_bits);
        tokens_->push_back(MakeToken(kTypeTree, desc, cache_[kTypeTree].Use(desc)));
        tokens_->insert(tokens_->end(), run_values_.begin() + offset,
                        run_values_.begin() + offset + size_t(take) * per);
        offset += size_t(take) * per;
        remaining -= take;
    }
    run_len_ = 0;
    run_values_.clear();
}

void VideoCoder::Add(const Coded& c, bool last_block, bool overshoot) {
    if (run_len_ > 0 && (c.kind != run_kind_ || (c.kind == BlockKind::Solid && c.colour != run_colour_)))
        Flush(false, overshoot);
    run_kind_ = c.kind;
    run_colour_ = c.colour;
    ++run_len_;
    if (c.kind == BlockKind::TwoColor) {
        PushValue(kColorTree, c.vals[0]);
        PushValue(kMapTree, c.vals[1]);
    } else if (c.kind == BlockKind::Full) {
        for (int i = 0; i < 8; ++i) PushValue(kFullTree, c.vals[i]);
    }
    if (last_block) Flush(true, overshoot);
}

void VideoCoder::CodeFrame(const uint8_t* picture, const FramePlan& fs, const Palette& palette,
                           const Options& opt, std::vector<uint32_t>* tokens,
                           std::array<uint64_t, 4>* kind_counts) {
    const uint32_t blocks = Blocks();
    if (!fs.block_kinds.empty() && fs.block_kinds.size() != blocks)
        throw std::invalid_argument("block_kinds must have one entry per block");
    // Colour distances are needed for lossy choices and for forced kinds
    // that cannot show a block exactly.
    if (opt.threshold > 0 || !fs.block_kinds.empty() || !fs.runs.empty() || opt.banned_pair >= 0)
        SetPalette(palette);
    ChooseSubstitute(opt.banned_pair);
    tokens_ = tokens;
    for (RecentValues& rv : cache_) rv = RecentValues{};
    run_len_ = 0;
    run_values_.clear();

    uint8_t px[16], ref[16];
    Coded c;
    auto code_block = [&](uint32_t blk, BlockKind forced) {
        const size_t off = size_t(blk / blocks_x_) * 4 * width_ + (blk % blocks_x_) * 4;
        Load(picture + off, px);
        Load(shown_.data() + off, ref);
        Choose(px, ref, forced, opt.threshold, &c);
        if (c.kind != BlockKind::Skip) Store(blk, c.out);
        (*kind_counts)[static_cast<int>(c.kind)]++;
    };

    if (fs.runs.empty()) {
        for (uint32_t blk = 0; blk < blocks; ++blk) {
            code_block(blk, fs.block_kinds.empty() ? BlockKind::Auto : fs.block_kinds[blk]);
            Add(c, blk + 1 == blocks, opt.overshoot);
        }
    } else {
        uint32_t blk = 0;
        size_t r = 0;
        for (; r < fs.runs.size() && blk < blocks; ++r) {
            const Run& run = fs.runs[r];
            if (run.length_index > 63 || run.kind == BlockKind::Auto)
                throw std::invalid_argument("bad run descriptor");
            const uint16_t desc =
                static_cast<uint16_t>(uint16_t(run.kind) | run.length_index << 2 | run.colour << 8);
            tokens->push_back(MakeToken(kTypeTree, desc, cache_[kTypeTree].Use(desc)));
            const uint32_t end = std::min(blocks, blk + RunLength(run.length_index));
            for (; blk < end; ++blk) {
                if (run.kind == BlockKind::Solid) {
                    MakeSolid(px, run.colour, &c);
                    Store(blk, c.out);
                    (*kind_counts)[3]++;
                    continue;
                }
                code_block(blk, run.kind);
                for (int i = 0; i < c.nvals; ++i) {
                    const int tree = c.kind == BlockKind::Full ? kFullTree : (i == 0 ? kColorTree : kMapTree);
                    tokens->push_back(MakeToken(tree, c.vals[i], cache_[tree].Use(c.vals[i])));
                }
            }
        }
        if (blk < blocks) throw std::invalid_argument("the frame's runs do not cover every block");
        if (r < fs.runs.size()) throw std::invalid_argument("runs go on after the frame's last block");
    }
    shown_valid_ = true;
    tokens_ = nullptr;
}

}  // namespace qvw
