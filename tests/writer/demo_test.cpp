// The demo movie reads back exactly and uses what it is meant to show off.
#include <gtest/gtest.h>

#include "tests/writer/helpers.h"

namespace {

TEST(Demo, ReadsBackWithEveryBlockKindPaletteAnimationAndMusic) {
    const uint32_t frames = 40;
    qvw::MoviePlan plan = qvw::MakeDemoPlan(frames);
    ASSERT_EQ(plan.frames.size(), frames);
    qvw::WriteReport rep;
    std::vector<uint8_t> movie = qvw::WriteMovie(plan, &rep);
    wtest::Decoded d;
    wtest::DecodeAll(movie, &d);
    ASSERT_TRUE(d.ok) << d.error;
    const testread::Header& h = d.reader.header();
    EXPECT_EQ(h.width, 320u);
    EXPECT_EQ(h.height, 240u);
    EXPECT_EQ(h.frame_rate, -6666);
    EXPECT_EQ(h.track_format[0], 22050u | 0x10000000u | 0x20000000u | 0x40000000u | 0x80000000u);
    std::array<uint32_t, 4> runs{};
    for (uint32_t i = 0; i < frames; ++i) {
        ASSERT_EQ(d.pictures[i], plan.frames[i].picture) << i;
        ASSERT_TRUE(wtest::SamePalette(d.palettes[i], qvw::CodedPalette(*plan.frames[i].palette))) << i;
        // The colour wheel turns every frame, with a few commands.
        EXPECT_TRUE(d.frames[i].has_palette) << i;
        if (i > 0) {
            EXPECT_LE(d.frames[i].palette_chunk_size, 80u) << i;
        }
        for (int k = 0; k < 4; ++k) runs[k] += d.frames[i].runs_by_kind[k];
        ASSERT_TRUE(d.frames[i].has_sound[0]);
        EXPECT_EQ(d.frames[i].sound[0], rep.track_chunks[0][i]);
    }
    for (int k = 0; k < 4; ++k) EXPECT_GT(runs[k], 0u) << "block kind " << k;
    // Music, not silence, and packed to well under its raw size.
    const std::vector<uint8_t>& s = d.frames[3].sound[0];
    EXPECT_GT(std::count_if(s.begin(), s.end(), [](uint8_t b) { return b != 0; }), long(s.size() / 2));
    EXPECT_LT(d.frames[3].sound_chunk_size[0] * 10, s.size() * 8);
    EXPECT_EQ(h.sound_lead[0], d.frames[0].sound[0].size());
}

}  // namespace
