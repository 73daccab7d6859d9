// Palette chunks: shortest command lists, read back by the test reader.
#include <gtest/gtest.h>

#include "tests/writer/helpers.h"

namespace {

using wtest::Decoded;

qvw::Palette Distinct(uint32_t seed) {
    // Widened 6-bit colours, all different and none black.
    qvw::Palette p;
    for (int i = 0; i < 256; ++i) {
        uint32_t v = (i * 2654435761u + seed) % 262143 + 1;
        p[i] = {qvw::Widen6(v & 63), qvw::Widen6((v >> 6) & 63), qvw::Widen6((v >> 12) & 63)};
    }
    for (int i = 0; i < 256; ++i)
        for (int j = 0; j < i; ++j)
            if (p[i] == p[j]) p[i].r = qvw::Widen6(static_cast<uint8_t>((qvw::Narrow8(p[i].r) + 1) & 63));
    return p;
}

TEST(Palette, ChunksAreTheShortestAndReadBackExactly) {
    std::vector<qvw::Palette> seq;
    qvw::Palette a = Distinct(1);
    seq.push_back(a);  // 0: 256 new colours
    qvw::Palette rot = a;  // 1: entries 64..127 rotate by one
    for (int i = 64; i < 128; ++i) rot[i] = a[i == 127 ? 64 : i + 1];
    seq.push_back(rot);
    qvw::Palette one = rot;  // 2: one entry changes
    one[100] = {qvw::Widen6(1), qvw::Widen6(2), qvw::Widen6(3)};
    seq.push_back(one);
    seq.push_back(one);  // 3: unchanged but forced
    qvw::Palette shift;  // 4: everything moves up one place
    shift[0] = {qvw::Widen6(5), qvw::Widen6(6), qvw::Widen6(7)};
    for (int i = 1; i < 256; ++i) shift[i] = one[i - 1];
    seq.push_back(shift);
    qvw::MoviePlan plan;
    plan.width = plan.height = 8;
    for (const auto& p : seq) {
        qvw::FramePlan f;
        f.palette = p;
        plan.frames.push_back(f);
    }
    plan.frames[3].force_palette_chunk = true;
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    for (size_t i = 0; i < seq.size(); ++i) EXPECT_TRUE(wtest::SamePalette(d.palettes[i], seq[i])) << i;
    // 1 length byte + 256 x 3, padded to 4.
    EXPECT_EQ(d.frames[0].palette_chunk_size, 772u);
    // keep 64, copy 63 from 65, copy 1 from 64, keep 128 = 6 bytes + length.
    EXPECT_EQ(d.frames[1].palette_chunk_size, 8u);
    // keep 100, new colour, keep 128, keep 27 = 6 bytes + length.
    EXPECT_EQ(d.frames[2].palette_chunk_size, 8u);
    // keep 128, keep 128.
    EXPECT_EQ(d.frames[3].palette_chunk_size, 4u);
    // new colour, then 255 entries copied from one place lower: 4 copies.
    EXPECT_EQ(d.frames[4].palette_chunk_size, 12u);
}

TEST(Palette, UnchangedPaletteGivesNoChunkAndComponentsAre6Bit) {
    qvw::MoviePlan plan;
    plan.width = plan.height = 8;
    qvw::Palette p{};
    p[1] = {255, 0, 65};
    p[2] = {254, 3, 66};  // not representable: nearest 6-bit values
    plan.frames.resize(3);
    plan.frames[0].palette = p;
    plan.frames[1].palette = qvw::CodedPalette(p);  // same after coding
    Decoded d;
    wtest::DecodeAll(qvw::WriteMovie(plan), &d);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_TRUE(d.frames[0].has_palette);
    EXPECT_FALSE(d.frames[1].has_palette);
    EXPECT_FALSE(d.frames[2].has_palette);
    EXPECT_EQ(d.palettes[0][1], (testread::Rgb3{255, 0, 65}));
    EXPECT_EQ(d.palettes[0][2], (testread::Rgb3{255, 4, 65}));

    EXPECT_EQ(qvw::Widen6(0), 0);
    EXPECT_EQ(qvw::Widen6(1), 4);
    EXPECT_EQ(qvw::Widen6(16), 65);
    EXPECT_EQ(qvw::Widen6(63), 255);
    for (int c = 0; c < 64; ++c) EXPECT_EQ(qvw::Narrow8(qvw::Widen6(static_cast<uint8_t>(c))), c);
    for (int v = 0; v < 256; ++v) EXPECT_LE(std::abs(qvw::Widen6(qvw::Narrow8(static_cast<uint8_t>(v))) - v), 2);
}

TEST(Palette, ApplyingFollowsCommandsAndRejectsChunksOutsideTheFormat) {
    qvw::Palette base;
    for (int i = 0; i < 256; ++i) base[i] = {static_cast<uint8_t>(i), 0, 0};
    auto apply = [&](std::vector<uint8_t> c, qvw::Palette* p) {
        *p = base;
        return qvw::ApplyPaletteChunkTo(p, c.data(), c.size());
    };
    qvw::Palette p;
    ASSERT_TRUE(apply({0x01, 0xFF, 0xFF, 0x00}, &p));
    EXPECT_TRUE(p == base);
    // copy 1 from 5, colour 3F 00 10, keep the rest (128 + 126).
    ASSERT_TRUE(apply({0x02, 0x40, 0x05, 0x3F, 0x00, 0x10, 0xFF, 0xFD}, &p));
    EXPECT_EQ(p[0], (qvw::Rgb{5, 0, 0}));
    EXPECT_EQ(p[1], (qvw::Rgb{255, 0, 65}));
    EXPECT_EQ(p[2], base[2]);
    // Overlapping copy reads the entries as they were before the chunk.
    ASSERT_TRUE(apply({0x03, 0x00, 0x00, 0x00, 0x7F, 0x00, 0x7F, 0x40, 0x7F, 0x80, 0x7E, 0xC0}, &p));
    for (int i = 1; i < 256; ++i) ASSERT_EQ(p[i], base[i - 1]) << i;
    EXPECT_FALSE(apply({0x02, 0xFF, 0xFE, 0x41, 0x00, 0, 0, 0}, &p));  // 257 entries
    EXPECT_FALSE(apply({0x01, 0x7F, 0xF0, 0x00}, &p));              // copy source past 255
    EXPECT_FALSE(apply({0x02, 0x3F, 0x40, 0x00, 0xFF, 0xFE, 0, 0}, &p));  // component 64
    EXPECT_FALSE(apply({0x01, 0xFF, 0x00, 0x00, 0xFF}, &p));        // commands past the length
    EXPECT_FALSE(apply({0x00}, &p));
}

}  // namespace
