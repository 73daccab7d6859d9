// The fixture controls: every odd case a decoder test may need, checked by
// reading the written movie back with the independent reader.
#include <gtest/gtest.h>

#include "tests/writer/helpers.h"

namespace {

using qvw::BlockKind;
using wtest::Decoded;

std::vector<uint8_t> Noise(uint32_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto& x : v) x = static_cast<uint8_t>(rng());
    return v;
}

TEST(Fixture, ForcedBlockKindsShowWhatTheWriterSays) {
    const uint32_t w = 32, h = 8;  // 8 x 2 blocks
    qvw::MoviePlan plan;
    plan.width = w;
    plan.height = h;
    qvw::FramePlan f0;
    f0.picture.assign(w * h, 4);
    f0.block_kinds.assign(16, BlockKind::Auto);
    f0.block_kinds[0] = BlockKind::Full;      // a one-colour block as full
    f0.block_kinds[1] = BlockKind::TwoColor;  // ...and as two-colour
    plan.frames.push_back(f0);
    qvw::FramePlan f1;
    f1.picture = Noise(w * h, 3);
    f1.block_kinds.assign(16, BlockKind::Auto);
    f1.block_kinds[2] = BlockKind::Skip;      // changed, but kept
    f1.block_kinds[3] = BlockKind::Solid;     // many colours, one shown
    f1.block_kinds[4] = BlockKind::TwoColor;  // many colours, two shown
    plan.frames.push_back(f1);
    qvw::WriteReport rep;
    rep.keep_pictures = true;
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan, &rep), &d);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.pictures[0], f0.picture);
    EXPECT_EQ(d.frames[0].runs_by_kind[1], 1u);
    EXPECT_EQ(d.frames[0].runs_by_kind[0], 1u);
    EXPECT_EQ(d.pictures[1], rep.pictures[1]);
    auto block = [&](const std::vector<uint8_t>& p, int b) {
        std::vector<uint8_t> px;
        for (int r = 0; r < 4; ++r)
            for (int c = 0; c < 4; ++c) px.push_back(p[(b / 8 * 4 + r) * w + b % 8 * 4 + c]);
        return px;
    };
    EXPECT_EQ(block(d.pictures[1], 2), std::vector<uint8_t>(16, 4));  // skipped: frame 0's
    std::vector<uint8_t> solid = block(d.pictures[1], 3);
    EXPECT_EQ(std::count(solid.begin(), solid.end(), solid[0]), 16);
    std::vector<uint8_t> two = block(d.pictures[1], 4);
    std::sort(two.begin(), two.end());
    EXPECT_EQ(std::unique(two.begin(), two.end()) - two.begin(), 2);
    EXPECT_EQ(block(d.pictures[1], 5), block(f1.picture, 5));  // auto: exact
}

TEST(Fixture, ExplicitRunsWithColourBitsRowCrossingAndOvershoot) {
    const uint32_t w = 32, h = 8;
    std::vector<uint8_t> pic(w * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            pic[y * w + x] = (x >= 12 && x < 16 && y < 4) ? static_cast<uint8_t>(x * y + 40) : ((x + y) % 3) ? 10 : 30;
    qvw::MoviePlan plan;
    plan.width = w;
    plan.height = h;
    qvw::FramePlan f;
    f.picture = pic;
    f.runs = {{BlockKind::Solid, 2, 7},       // blocks 0-2 colour 7
              {BlockKind::Full, 0, 0x55},     // block 3, colour bits in a full run
              {BlockKind::TwoColor, 5, 0x66}, // blocks 4-9, across the row end
              {BlockKind::Skip, 63, 0x77}};   // 2048 blocks: past the frame's end
    plan.frames.push_back(f);
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    const std::vector<uint8_t>& out = d.pictures[0];
    for (uint32_t b = 0; b < 16; ++b)
        for (uint32_t r = 0; r < 4; ++r)
            for (uint32_t c = 0; c < 4; ++c) {
                size_t p = (b / 8 * 4 + r) * w + b % 8 * 4 + c;
                uint8_t want = b < 3 ? 7 : b < 10 ? pic[p] : 0;
                EXPECT_EQ(out[p], want) << "block " << b;
            }
    EXPECT_EQ(d.frames[0].runs_by_kind[3] + d.frames[0].runs_by_kind[1] + d.frames[0].runs_by_kind[0] +
                  d.frames[0].runs_by_kind[2], 4u);
    // Runs that stop short of the last block are a plan error.
    plan.frames[0].runs.pop_back();
    EXPECT_THROW(qvw::WriteMovie(plan), std::invalid_argument);
}

TEST(Fixture, RootLeafTreeCostsNoBitsAndUnusedTreesAreAbsent) {
    qvw::MoviePlan plan;
    plan.width = 64;
    plan.height = 64;  // 256 blocks: one solid run of 256
    qvw::FramePlan f;
    f.picture.assign(64 * 64, 9);
    plan.frames = {f, f};
    plan.trees[qvw::kColorTree].presence = qvw::TreeOverride::Presence::Present;
    Decoded d;
    std::vector<uint8_t> movie = qvw::WriteMovie(plan);
    wtest::DecodeAll(movie, &d);
    ASSERT_TRUE(d.ok) << d.error;
    const testread::Header& h = d.reader.header();
    // Frame 0 is one solid run and frame 1 one skip run: two values, so make
    // a movie with one frame for the single-leaf case.
    EXPECT_EQ(d.reader.tree(3).nodes.size(), 3u);
    EXPECT_FALSE(d.reader.tree(qvw::kMapTree).present);
    EXPECT_FALSE(d.reader.tree(qvw::kFullTree).present);
    EXPECT_EQ(h.tree_size[qvw::kMapTree], 12u);
    EXPECT_EQ(h.tree_size[qvw::kFullTree], 12u);
    ASSERT_TRUE(d.reader.tree(qvw::kColorTree).present);  // forced: one spare leaf
    EXPECT_EQ(d.reader.tree(qvw::kColorTree).nodes.size(), 1u);
    EXPECT_EQ(h.tree_size[qvw::kColorTree], 16u);

    plan.frames.pop_back();
    Decoded one;
    wtest::DecodeAll(qvw::WriteMovie(plan), &one);
    ASSERT_TRUE(one.ok) << one.error;
    EXPECT_EQ(one.reader.tree(3).nodes.size(), 1u);
    EXPECT_EQ(one.reader.header().tree_size[3], 16u);
    EXPECT_EQ(one.frames[0].video_bits_used, 0u);
    EXPECT_EQ(one.pictures[0], f.picture);
}

TEST(Fixture, CodesLongerThanTheLookupWidthUpTo32Bits) {
    for (int len : {11, 13, 20, 32}) {
        SCOPED_TRACE(len);
        qvw::MoviePlan plan;
        plan.width = 16;
        plan.height = 16;  // 16 blocks
        qvw::FramePlan f;
        f.picture = Noise(256, len);  // full blocks everywhere
        for (int i = 0; i < 16; ++i) f.picture[i] = 1;  // block row 0 top: still full
        plan.frames.push_back(f);
        // The single type value (full, 16 blocks) gets a long code; the
        // other lengths are filled with spare leaves.
        const uint32_t desc = 1 | (15 << 2);
        plan.trees[qvw::kTypeTree].code_lengths = {{desc, len}};
        Decoded d;
        wtest::DecodeAll(qvw::WriteMovie(plan), &d);
        ASSERT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.pictures[0], f.picture);
        EXPECT_EQ(d.reader.tree(3).max_depth, uint32_t(len));
        EXPECT_EQ(d.reader.tree(3).nodes.size(), size_t(2 * len + 1));
        EXPECT_EQ(d.reader.header().tree_size[3], 4u * (2 * len + 1 + 3));
    }
    // Lengths that overfill the code space are refused.
    qvw::MoviePlan bad;
    bad.width = bad.height = 4;
    bad.frames.resize(1);
    bad.trees[qvw::kTypeTree].code_lengths = {{3, 1}, {7, 1}, {11, 1}};
    EXPECT_THROW(qvw::WriteMovie(bad), std::invalid_argument);
}

// Alternating and repeated pixel pairs in full blocks: A A B A B B ...
qvw::MoviePlan PairsMovie() {
    qvw::MoviePlan plan;
    plan.width = 16;
    plan.height = 16;
    qvw::FramePlan f;
    f.picture.resize(256);
    const uint16_t pairs[] = {0x0102, 0x0102, 0x0304, 0x0102, 0x0304, 0x0304, 0x0506, 0x0102};
    for (size_t p = 0; p < 256; p += 2) {
        uint16_t v = pairs[(p / 2) % 8];
        f.picture[p] = static_cast<uint8_t>(v);
        f.picture[p + 1] = static_cast<uint8_t>(v >> 8);
    }
    plan.frames.push_back(f);
    return plan;
}

TEST(Fixture, EscapeValuesThatMatchNoLeaf) {
    qvw::MoviePlan plan = PairsMovie();
    plan.trees[qvw::kFullTree].use_escapes = false;
    plan.trees[qvw::kFullTree].escape_values = std::array<uint16_t, 3>{0xAAAA, 0xBBBB, 0xCCCC};
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    const testread::ValueTree& t = d.reader.tree(qvw::kFullTree);
    EXPECT_EQ(t.escape, (std::array<uint16_t, 3>{0xAAAA, 0xBBBB, 0xCCCC}));
    for (const auto& n : t.nodes) EXPECT_LT(n.escape, 0);
    EXPECT_EQ(d.pictures[0], plan.frames[0].picture);
}

TEST(Fixture, TwoEqualEscapeValuesLeaveTheSecondPositionWithoutLeaf) {
    for (bool given_lengths : {false, true}) {
        qvw::MoviePlan plan = PairsMovie();
        qvw::TreeOverride& ov = plan.trees[qvw::kFullTree];
        ov.escape_values = std::array<uint16_t, 3>{0x7777, 0x7777, 0x8888};
        if (given_lengths)  // position 0 is the cheapest code, so it is used
            ov.code_lengths = {{qvw::kEscapeKey + 0, 1}, {0x0102, 2}, {0x0304, 3}, {0x0506, 3}};
        Decoded d;
        wtest::DecodeAll(qvw::WriteMovie(plan), &d);
        ASSERT_TRUE(d.ok) << d.error;
        const testread::ValueTree& t = d.reader.tree(qvw::kFullTree);
        int by_position[3] = {0, 0, 0};
        for (const auto& n : t.nodes)
            if (n.leaf && n.escape >= 0) by_position[n.escape]++;
        if (given_lengths) {
            EXPECT_EQ(by_position[0], 1);
        }
        EXPECT_EQ(by_position[1], 0);  // the copy of E0 never matches
        EXPECT_EQ(d.pictures[0], plan.frames[0].picture);
    }

    // An explicit escape value equal to a needed value turns its leaf into an
    // escape: the value can then only be sent from the cache, which fails
    // for its first use in a frame.
    qvw::MoviePlan clash = PairsMovie();
    clash.trees[qvw::kFullTree].escape_values = std::array<uint16_t, 3>{0x0506, 0x9000, 0x9001};
    EXPECT_THROW(qvw::WriteMovie(clash), std::invalid_argument);
}

TEST(Fixture, ForcedAbsentTreeWithValuesGivesAnUndecodableMovie) {
    qvw::MoviePlan plan = PairsMovie();
    plan.trees[qvw::kFullTree].presence = qvw::TreeOverride::Presence::Absent;
    plan.trees[qvw::kFullTree].size_field = 0;
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    EXPECT_FALSE(d.ok);
    EXPECT_NE(d.error.find("absent tree"), std::string::npos) << d.error;
    EXPECT_EQ(d.reader.header().tree_size[qvw::kFullTree], 0u);
}

TEST(Fixture, ChunkModesHeaderBitsAndRawPayloads) {
    qvw::MoviePlan plan;
    plan.width = 8;
    plan.height = 8;
    plan.frames.resize(5);
    plan.extra_flags = 0x80;
    qvw::TrackPlan packed;
    packed.rate = 8000;
    packed.bits = 8;
    packed.channels = 1;
    packed.compressed = true;
    packed.pcm.assign(20000, 0x90);
    packed.chunk_modes = {{1, qvw::ChunkMode::PresenceBitZero}, {2, qvw::ChunkMode::Absent}};
    packed.format_extra_bits = 0x0F000000;
    qvw::TrackPlan raw = packed;
    raw.compressed = false;
    raw.chunk_modes = {{3, qvw::ChunkMode::LengthOnly}};
    raw.format_extra_bits = 0;
    plan.tracks[0] = packed;
    plan.tracks[4] = raw;
    plan.frames[2].raw_palette_chunk = {0x02, 0xFF, 0xFF, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};  // garbage after
    plan.frames[4].raw_video = std::vector<uint8_t>(12, 0);
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    const testread::Header& h = d.reader.header();
    EXPECT_EQ(h.flags, 0x80u);
    EXPECT_EQ(h.track_format[0], 8000u | 0x40000000u | 0x80000000u | 0x0F000000u);
    EXPECT_EQ(h.track_format[4], 8000u | 0x40000000u);
    const uint32_t per_frame = 533;  // 8000 Hz x 66.66 ms, whole samples
    // Frame 1: a packed chunk whose stream is marked not present.
    EXPECT_TRUE(d.frames[1].has_sound[0]);
    EXPECT_FALSE(d.frames[1].sound_stream_present[0]);
    EXPECT_NEAR(d.frames[1].sound_declared[0], per_frame, 1);
    EXPECT_TRUE(d.frames[1].sound[0].empty());
    // Frame 2: no chunk for track 0, one for track 4.
    EXPECT_EQ(d.frames[2].type & 0x02, 0);
    EXPECT_TRUE(d.frames[2].has_sound[4]);
    EXPECT_EQ(d.frames[2].type & 0x01, 0x01);
    EXPECT_EQ(d.frames[2].palette_chunk_size, 8u);
    // Frame 3: a raw chunk of length 4 carries no samples.
    EXPECT_EQ(d.frames[3].sound_chunk_size[4], 4u);
    EXPECT_TRUE(d.frames[3].sound[4].empty());
    // Frame 4: the given video bytes, as they are.
    EXPECT_EQ(d.frames[4].video_size, 12u);
}

}  // namespace
