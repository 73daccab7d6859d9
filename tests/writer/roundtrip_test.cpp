// Movies written by the writer and read back by the independent test reader.
#include <gtest/gtest.h>

#include <random>

#include "tests/writer/helpers.h"

namespace {

using wtest::Decoded;

qvw::MoviePlan MixedMovie(uint32_t w, uint32_t h, uint32_t frames, uint32_t seed, bool ring) {
    std::mt19937 rng(seed);
    qvw::MoviePlan plan;
    plan.width = w;
    plan.height = h;
    plan.ring = ring;
    const std::vector<uint8_t>* prev = nullptr;
    for (uint32_t i = 0; i < frames; ++i) {
        qvw::FramePlan f;
        f.picture = wtest::MixedPicture(rng, w, h, prev);
        if (i == 0 || rng() % 3 == 0) f.palette = wtest::RandomPalette(rng);
        plan.frames.push_back(std::move(f));
        prev = &plan.frames.back().picture;
    }
    return plan;
}

TEST(RoundTrip, MixedPicturesAndPalettesComeBackExactly) {
    struct Case { uint32_t w, h, frames; bool ring; };
    for (const Case& c : {Case{64, 48, 6, false}, Case{322, 242, 4, true}, Case{4, 4, 5, false},
                          Case{100, 20, 7, true}}) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h));
        qvw::MoviePlan plan = MixedMovie(c.w, c.h, c.frames, c.w * 31 + c.h, c.ring);
        qvw::WriteReport rep;
        rep.keep_pictures = true;
        Decoded d;
        wtest::DecodeAll(qvw::WriteMovie(plan, &rep), &d);
        ASSERT_TRUE(d.ok) << d.error;
        ASSERT_EQ(d.frames.size(), c.frames + (c.ring ? 1u : 0u));
        qvw::Palette expect_palette{};
        for (uint32_t i = 0; i < c.frames; ++i) {
            EXPECT_EQ(wtest::BlockAreaDiff(d.pictures[i], plan.frames[i].picture, c.w, c.h), 0u) << i;
            if (plan.frames[i].palette) expect_palette = qvw::CodedPalette(*plan.frames[i].palette);
            EXPECT_TRUE(wtest::SamePalette(d.palettes[i], expect_palette)) << i;
            // The writer's idea of the shown picture is what a reader shows.
            EXPECT_TRUE(rep.pictures[i] == d.pictures[i]) << i;
        }
        if (c.ring) {
            // The ring frame shows frame 0 again with frame 0's palette...
            EXPECT_EQ(wtest::BlockAreaDiff(d.pictures[c.frames], plan.frames[0].picture, c.w, c.h), 0u);
            EXPECT_TRUE(d.palettes[c.frames] == d.palettes[0]);
            // ...so frame 1 decoded after it looks as it did the first time.
            testread::Frame f;
            ASSERT_TRUE(d.reader.Decode(1, &f)) << d.reader.error();
            EXPECT_TRUE(d.reader.picture() == d.pictures[1]);
            EXPECT_TRUE(d.reader.palette() == d.palettes[1]);
        }
        // Columns and rows outside whole blocks are never drawn.
        for (uint32_t y = 0; y < c.h; ++y)
            for (uint32_t x = c.w / 4 * 4; x < c.w; ++x) EXPECT_EQ(d.pictures.back()[y * c.w + x], 0);
    }
}

TEST(RoundTrip, HeaderTablesAndTreeSizesAreConsistent) {
    qvw::MoviePlan plan = MixedMovie(96, 64, 5, 7, true);
    plan.frame_rate = qvw::FrameRateForFps(25);
    plan.y_double = true;
    qvw::WriteReport rep;
    std::vector<uint8_t> movie = qvw::WriteMovie(plan, &rep);
    Decoded d;
    wtest::DecodeAll(movie, &d);
    ASSERT_TRUE(d.ok) << d.error;
    const testread::Header& h = d.reader.header();
    EXPECT_EQ(h.width, 96u);
    EXPECT_EQ(h.height, 64u);
    EXPECT_EQ(h.frames, 5u);
    EXPECT_EQ(h.frame_rate, -4000);
    EXPECT_EQ(h.flags, 0x1u | 0x4u);
    EXPECT_EQ(h.reserved, 0u);
    ASSERT_EQ(d.reader.records(), 6u);
    // Records fill the file exactly after header, tables and tree block.
    uint64_t total = 104 + 5 * 6 + h.tree_block_size;
    for (uint32_t s : d.reader.frame_sizes()) total += s;
    EXPECT_EQ(total, movie.size());
    EXPECT_EQ(h.tree_block_size % 4, 0u);
    EXPECT_LE(d.reader.tree_block_bits_used(), h.tree_block_size * 8);
    EXPECT_GT(d.reader.tree_block_bits_used() + 32, h.tree_block_size * 8);
    for (int t = 0; t < 4; ++t) {
        const testread::ValueTree& vt = d.reader.tree(t);
        EXPECT_TRUE(vt.present) << t;
        EXPECT_EQ(h.tree_size[t], 4 * (vt.nodes.size() + 3)) << t;
        EXPECT_LE(vt.max_depth, 32u) << t;
    }
    for (uint32_t i = 0; i < d.frames.size(); ++i) {
        const testread::Frame& f = d.frames[i];
        // The payload ends with at least 8 bytes beyond the last bit used,
        // and nothing more than alignment beyond that.
        EXPECT_GE(f.video_size, (f.video_bits_used + 7) / 8 + 8) << i;
        EXPECT_LE(f.video_size, (f.video_bits_used + 7) / 8 + 8 + 3) << i;
        EXPECT_EQ(rep.video_offsets[i], f.video_offset);
    }
}

TEST(RoundTrip, FrameRateHeightFlagsAndEmptyPictures) {
    qvw::MoviePlan plan;
    plan.width = 8;
    plan.height = 8;
    plan.frames.resize(3);  // no pictures at all: frame 0 is index 0 everywhere
    plan.frames[1].picture.assign(64, 9);
    plan.frame_rate = 50;
    plan.y_interlace = true;
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.reader.header().frame_rate, 50);
    EXPECT_EQ(d.reader.header().flags, 0x2u);
    EXPECT_EQ(d.pictures[0], std::vector<uint8_t>(64, 0));
    EXPECT_EQ(d.pictures[2], std::vector<uint8_t>(64, 9));  // empty picture = unchanged
    EXPECT_EQ(d.frames[2].runs_by_kind[2], 1u);             // ...coded as one skip run
    EXPECT_EQ(d.frames[0].type, 0);                         // no palette, no sound

    EXPECT_EQ(qvw::FrameRateForFps(15), -6666);
    EXPECT_EQ(qvw::FrameRateForFps(30), -3333);
    EXPECT_EQ(qvw::FrameTimeOf(-6666), 6666u);
    EXPECT_EQ(qvw::FrameTimeOf(50), 5000u);
    EXPECT_EQ(qvw::FrameTimeOf(0), 0u);

    plan.y_double = true;  // both height modes at once is a mistake
    EXPECT_THROW(qvw::WriteMovie(plan), std::invalid_argument);
}

TEST(RoundTrip, EveryBlockKindAndRowCrossingRuns) {
    // 8 blocks per row. Row 0: solid, row 1: two-colour, row 2: full, and the
    // solid area of row 3 continues the run into row 4 unchanged blocks.
    const uint32_t w = 32, h = 20;
    std::vector<uint8_t> a(w * h), b;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t v = 0;
            if (y < 4) v = 3;
            else if (y < 8) v = (x % 4 < 2) ? 1 : 2;
            else if (y < 12) v = static_cast<uint8_t>(x * 7 + y);
            else v = 3;
            a[y * w + x] = v;
        }
    b = a;
    for (uint32_t y = 12; y < 16; ++y)
        for (uint32_t x = 0; x < 8; ++x) b[y * w + x] = 50;  // two blocks of row 3 change
    qvw::MoviePlan plan;
    plan.width = w;
    plan.height = h;
    plan.frames.resize(2);
    plan.frames[0].picture = a;
    plan.frames[1].picture = b;
    qvw::WriteReport rep;
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan, &rep), &d);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pictures[0], a);
    EXPECT_EQ(d.pictures[1], b);
    const testread::Frame& f0 = d.frames[0];
    // Frame 0: solid 8, two 8, full 8, solid 16 (rows 3 and 4 in one run).
    EXPECT_EQ(f0.runs_by_kind[3], 2u);
    EXPECT_EQ(f0.runs_by_kind[0], 1u);
    EXPECT_EQ(f0.runs_by_kind[1], 1u);
    EXPECT_EQ(f0.runs_by_kind[2], 0u);
    // Frame 1: skip 24, solid 2 of colour 50, skip to the end.
    const testread::Frame& f1 = d.frames[1];
    EXPECT_EQ(f1.runs_by_kind[2], 2u);
    EXPECT_EQ(f1.runs_by_kind[3], 1u);
    EXPECT_EQ(f1.runs_by_kind[0] + f1.runs_by_kind[1], 0u);
    EXPECT_EQ(rep.block_counts[2], 38u);
}

TEST(RoundTrip, EscapeCodesMakeRepeatedValuesCheaper) {
    // Full blocks whose pixel pairs repeat the last few values often: the
    // cache escapes must pay off, and decoding must match either way.
    std::mt19937 rng(5);
    qvw::MoviePlan plan;
    plan.width = 64;
    plan.height = 64;
    for (int i = 0; i < 4; ++i) {
        qvw::FramePlan f;
        f.picture.resize(64 * 64);
        for (size_t p = 0; p < f.picture.size(); p += 2) {
            // Runs of a pair, drawn from a large alphabet: literal codes are long.
            uint16_t pair = static_cast<uint16_t>(rng() % 3000);
            int repeat = 1 + rng() % 6;
            for (int k = 0; k < repeat && p < f.picture.size(); ++k, p += 2) {
                f.picture[p] = static_cast<uint8_t>(pair);
                f.picture[p + 1] = static_cast<uint8_t>(pair >> 8);
            }
            p -= 2;
        }
        plan.frames.push_back(f);
    }
    qvw::WriteReport with_rep, without_rep;
    std::vector<uint8_t> with = qvw::WriteMovie(plan, &with_rep);
    for (auto& t : plan.trees) t.use_escapes = false;
    std::vector<uint8_t> without = qvw::WriteMovie(plan, &without_rep);
    EXPECT_LT(with.size() * 10, without.size() * 9);  // at least 10% smaller
    EXPECT_TRUE(with_rep.escape_leaf[qvw::kFullTree][0]);
    EXPECT_FALSE(without_rep.escape_leaf[qvw::kFullTree][0]);
    for (const auto* movie : {&with, &without}) {
        Decoded d;
        wtest::DecodeAll(*movie, &d);
        ASSERT_TRUE(d.ok) << d.error;
        for (size_t i = 0; i < plan.frames.size(); ++i) EXPECT_EQ(d.pictures[i], plan.frames[i].picture);
    }
}

TEST(RoundTrip, InteriorMarkerValueIsLeftFreeOrTheWriteFails) {
    // The reader's view of the lowest value no leaf stores (escape leaves
    // store 0) matches the writer's.
    qvw::MoviePlan plan = MixedMovie(64, 64, 3, 11, false);
    qvw::WriteReport rep;
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan, &rep), &d);
    ASSERT_TRUE(d.ok) << d.error;
    std::vector<bool> used(65536, false);
    for (int t = 0; t < 4; ++t)
        for (const auto& n : d.reader.tree(t).nodes)
            if (n.leaf) used[n.escape >= 0 ? 0 : n.value] = true;
    uint32_t marker = 0;
    while (used[marker]) ++marker;
    EXPECT_EQ(rep.not_a_leaf, marker);

    // A picture holding all 65536 pixel pairs in full blocks would leave no
    // marker value: one pair is given up for its nearest neighbour, so that
    // exactly one pixel changes, to the nearest colour: in this grey palette
    // several indices share each 6-bit shade, so to the same colour.
    qvw::MoviePlan full;
    full.width = 512;
    full.height = 256;
    qvw::FramePlan f;
    f.picture.resize(512 * 256);
    for (uint32_t k = 0; k < 65536; ++k) {
        uint32_t blk = k / 8, row = (k % 8) / 2, half = k % 2;
        uint32_t x = (blk % 128) * 4 + (half ? 0 : 2), y = (blk / 128) * 4 + row;
        f.picture[y * 512 + x] = static_cast<uint8_t>(k);
        f.picture[y * 512 + x + 1] = static_cast<uint8_t>(k >> 8);
    }
    qvw::Palette grey;
    for (int i = 0; i < 256; ++i) grey[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)};
    f.palette = grey;
    full.frames.push_back(f);
    qvw::WriteReport full_rep;
    Decoded all;
    wtest::DecodeAll(qvw::WriteMovie(full, &full_rep), &all);
    ASSERT_TRUE(all.ok) << all.error;
    size_t changed = 0;
    for (size_t i = 0; i < f.picture.size(); ++i) {
        if (all.pictures[0][i] == f.picture[i]) continue;
        ++changed;
        EXPECT_EQ(all.palettes[0][all.pictures[0][i]], all.palettes[0][f.picture[i]]) << i;
    }
    EXPECT_EQ(changed, 1u);
    EXPECT_NE(full_rep.not_a_leaf, 0);
}

TEST(RoundTrip, LossyCodingStaysWithinTheThresholdAndIsSmaller) {
    // A smooth gradient palette and pictures with noise of +-1 index: lossy
    // coding may replace blocks by near colours only.
    qvw::Palette pal;
    for (int i = 0; i < 256; ++i) pal[i] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i)};
    std::mt19937 rng(9);
    qvw::MoviePlan plan;
    plan.width = 128;
    plan.height = 96;
    for (int i = 0; i < 6; ++i) {
        qvw::FramePlan f;
        f.palette = pal;
        f.picture.resize(128 * 96);
        for (uint32_t y = 0; y < 96; ++y)
            for (uint32_t x = 0; x < 128; ++x)
                f.picture[y * 128 + x] = static_cast<uint8_t>(std::min<uint32_t>(255u, (x + i * 3) + rng() % 3));
        plan.frames.push_back(f);
    }
    const std::vector<uint8_t> exact = qvw::WriteMovie(plan);
    const double threshold = 60;
    plan.lossy_threshold = threshold;
    qvw::WriteReport rep;
    rep.keep_pictures = true;
    const std::vector<uint8_t> lossy = qvw::WriteMovie(plan, &rep);
    EXPECT_LT(lossy.size() * 2, exact.size());
    Decoded d;
    wtest::DecodeAll(lossy, &d);
    ASSERT_TRUE(d.ok) << d.error;
    const qvw::Palette coded = qvw::CodedPalette(pal);
    auto dist = [&](uint8_t a, uint8_t b) {
        int dr = coded[a].r - coded[b].r, dg = coded[a].g - coded[b].g, db = coded[a].b - coded[b].b;
        return double(dr * dr + dg * dg + db * db);
    };
    for (size_t i = 0; i < plan.frames.size(); ++i) {
        EXPECT_TRUE(d.pictures[i] == rep.pictures[i]);
        for (uint32_t by = 0; by < 24; ++by)
            for (uint32_t bx = 0; bx < 32; ++bx) {
                double e = 0;
                for (uint32_t r = 0; r < 4; ++r)
                    for (uint32_t c = 0; c < 4; ++c) {
                        size_t p = (by * 4 + r) * 128 + bx * 4 + c;
                        e += dist(d.pictures[i][p], plan.frames[i].picture[p]);
                    }
                ASSERT_LE(e / 16, threshold) << "frame " << i << " block " << bx << "," << by;
            }
    }
    EXPECT_GT(rep.block_counts[2] + rep.block_counts[3], 0u);
}

}  // namespace
