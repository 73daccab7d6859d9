// Changed spans and rectangles after a decoded frame (QuarvToBufferNext).
#include <gtest/gtest.h>

#include <set>

#include "common/platform.h"
#include "tests/video/decode_rig.h"

using namespace vtest;

namespace {

// A frame that draws exactly the given groups of 16 blocks (solid) and skips
// everything else.
Script Groups(const std::set<uint32_t>& groups, uint32_t totalBlocks) {
    Script s;
    uint32_t at = 0;
    auto skip = [&](uint32_t n) {
        while (n) {
            const uint32_t k = n > 59 ? 59 : n;
            s.Run(kSkipRun, k);
            n -= k;
        }
    };
    for (uint32_t g : groups) {
        skip(16 * g - at);
        s.Run(kSolidRun, 16, 1);
        at = 16 * g + 16;
    }
    if (at < totalBlocks) skip(totalBlocks - at);
    return s;
}

std::vector<QuarvRect> AllRects(Movie* m, uint32_t mode) {
    std::vector<QuarvRect> out;
    while (QuarvToBufferNext(m, mode)) {
        out.push_back(m->LastRect);
        EXPECT_LE(m->PendingCount, 4u);
        if (out.size() > 100) break;
    }
    return out;
}

std::string Str(const std::vector<QuarvRect>& rects) {
    std::string s;
    for (auto& r : rects)
        s += "(" + std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
             std::to_string(r.height) + ")";
    return s;
}

struct Movie320 {
    Rig rig;
    explicit Movie320(int32_t left = 0, int32_t top = 0, uint32_t openFlags = 0, uint32_t lines = 240)
        : rig(320, lines, openFlags) {
        rig.Bind(left, top, 336, top + lines, 0);
    }
    std::string Frame(const std::set<uint32_t>& groups, uint32_t mode = 0) {
        rig.DoFrame(Groups(groups, 4800));
        return Str(AllRects(rig.movie.get(), mode));
    }
};

}  // namespace

TEST(ChangeRects, NothingChangedGivesNothingUnlessThePaletteDid) {
    Movie320 m;
    EXPECT_EQ(m.Frame({}), "");
    EXPECT_EQ(m.rig.movie->FrameDecoded, 0u);
    m.rig.movie->NewPalette = 1;
    EXPECT_EQ(m.Frame({}), "(0,0 0x0)");
    EXPECT_EQ(m.rig.movie->FrameDecoded, 0u);
    // Asked out of order, with no target at all: nothing to read.
    QuarvToBuffer(m.rig.movie.get(), 0, 0, 0, 0, nullptr, 0);
    m.rig.movie->FrameDecoded = 1;
    m.rig.movie->NewPalette = 0;
    EXPECT_EQ(QuarvToBufferNext(m.rig.movie.get(), 0), 0u);
}

TEST(ChangeRects, OneGroupIsOneRectangleAtTheMoviesPlace) {
    Movie320 m(8, 2);
    EXPECT_EQ(m.Frame({0}), "(8,2 64x4)");
    EXPECT_EQ(m.Frame({299}), "(264,238 64x4)");
}

TEST(ChangeRects, GapsSplitAndNeighboursMerge) {
    Movie320 m;
    // Same band, one group between: 192 x 4 exceeds 5/4 of 2 x (64 x 4).
    EXPECT_EQ(m.Frame({0, 2}), "(0,0 64x4)(128,0 64x4)");
    // Same x in successive bands (5 groups per band): one 64 x 8.
    EXPECT_EQ(m.Frame({0, 5}), "(0,0 64x8)");
    // Adjacent groups are one span.
    EXPECT_EQ(m.Frame({1, 2, 3}), "(64,0 192x4)");
    // The third span starts a rectangle of its own, which then joins the
    // first one below it in the pending list.
    EXPECT_EQ(m.Frame({0, 2, 5}), "(0,0 64x8)(128,0 64x4)");
}

TEST(ChangeRects, ModeOneBoundsEverything) {
    Movie320 m;
    EXPECT_EQ(m.Frame({0, 2, 7}, 1), "(0,0 192x8)");
    EXPECT_EQ(m.Frame({3, 299}, 1), "(192,0 128x240)");
}

TEST(ChangeRects, GroupRunningPastTheRightEdgeContinuesOnTheNextBand) {
    // 25 blocks per row: group 1 is blocks 16-24 of row 0 and 0-6 of row 1.
    Rig rig(100, 8);
    rig.Bind(0, 0, 100, 8, 0);
    rig.DoFrame(Groups({1}, 50));
    ChangeSpanOut s;
    ASSERT_TRUE(NextChangeSpan(rig.Target(), &s));
    EXPECT_EQ((std::vector<uint32_t>{s.x, s.y, s.width, s.height}), (std::vector<uint32_t>{64, 0, 36, 4}));
    ASSERT_TRUE(NextChangeSpan(rig.Target(), &s));
    EXPECT_EQ((std::vector<uint32_t>{s.x, s.y, s.width, s.height}), (std::vector<uint32_t>{0, 4, 28, 4}));
    EXPECT_FALSE(NextChangeSpan(rig.Target(), &s));
    EXPECT_FALSE(NextChangeSpan(rig.Target(), &s));
    // As rectangles: the second is widened to 32, which stays in the movie;
    // the first cannot be (64 + 40 would leave it).
    rig.movie->FrameDecoded = 1;
    rig.Target()->IterStarted = rig.Target()->IterDone = 0;
    EXPECT_EQ(Str(AllRects(rig.movie.get(), 0)), "(64,0 36x4)(0,4 32x4)");
}

TEST(ChangeRects, NarrowMovieGroupsCoverSeveralBands) {
    // 2 blocks per row: one group is 8 block rows.
    Rig rig(8, 48);
    rig.Bind(0, 0, 8, 48, 0);
    rig.DoFrame(Groups({0}, 24));
    std::vector<std::vector<uint32_t>> spans;
    ChangeSpanOut s;
    while (NextChangeSpan(rig.Target(), &s)) spans.push_back({s.x, s.y, s.width, s.height});
    ASSERT_EQ(spans.size(), 8u);
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(spans[i], (std::vector<uint32_t>{0, 4 * i, 8, 4}));
    rig.movie->FrameDecoded = 1;
    rig.Target()->IterStarted = rig.Target()->IterDone = 0;
    EXPECT_EQ(Str(AllRects(rig.movie.get(), 0)), "(0,0 8x32)");
}

TEST(ChangeRects, LeftEdgeRoundsToEightInsideTheMovie) {
    Movie320 m(3, 0);
    // L = 64: x 67 rounds down to 64 with the width grown by 3, then up to 72.
    EXPECT_EQ(m.Frame({1}), "(64,0 72x4)");
    // L = 0: x 3 stays, since 0 would leave the movie's area.
    EXPECT_EQ(m.Frame({0}), "(3,0 64x4)");
    // The last group: widening to 72 would pass the movie's right edge.
    EXPECT_EQ(m.Frame({4}), "(256,0 67x4)");
}

TEST(ChangeRects, ScaledMoviesDoubleTopAndBottom) {
    for (uint32_t flags : {uint32_t{OPEN_Y_INTERLACE}, uint32_t{OPEN_Y_DOUBLE}}) {
        Movie320 m(0, 10, flags, 480);
        EXPECT_EQ(m.Frame({5}), "(0,18 64x8)");
    }
}

TEST(ChangeRects, MoreRectanglesThanThePendingRoom) {
    Movie320 m;
    // Six isolated groups: three in band 0, three in band 8.
    EXPECT_EQ(m.Frame({0, 2, 4, 40, 42, 44}),
              "(0,0 64x4)(128,0 64x4)(256,0 64x4)(0,32 64x4)(128,32 64x4)(256,32 64x4)");
}

TEST(ChangeRects, ModeTwoOnlyHandsOutWhatIsPending) {
    Movie320 m;
    Movie* mv = m.rig.movie.get();
    m.rig.DoFrame(Groups({0, 2, 4, 40, 42, 44}, 4800));
    EXPECT_EQ(QuarvToBufferNext(mv, 2), 0u);  // nothing gathered yet
    EXPECT_EQ(mv->FrameDecoded, 1u);
    ASSERT_EQ(QuarvToBufferNext(mv, 0), 1u);
    EXPECT_EQ(mv->PendingCount, 3u);  // four gathered, one handed out
    // Gathering not finished: mode 2 gives nothing.
    EXPECT_EQ(QuarvToBufferNext(mv, 2), 0u);
    EXPECT_EQ(Str(AllRects(mv, 0)), "(128,0 64x4)(256,0 64x4)(0,32 64x4)(128,32 64x4)(256,32 64x4)");
    EXPECT_EQ(mv->FrameDecoded, 0u);
}

TEST(ChangeRects, PendingRectanglesOfAnUnfinishedFrameComeOutFirst) {
    Movie320 m;
    Movie* mv = m.rig.movie.get();
    m.rig.DoFrame(Groups({0, 2, 4, 40, 42, 44}, 4800));
    ASSERT_EQ(QuarvToBufferNext(mv, 0), 1u);
    // The next frame is decoded before the rest were asked for.
    EXPECT_EQ(m.Frame({100}), "(128,0 64x4)(256,0 64x4)(0,32 64x4)(0,80 64x4)");
}

TEST(ChangeRects, CopyStartClosesTheDecodeTime) {
    static uint32_t now;
    SetClock([] { return now; });
    Movie320 m;
    Movie* mv = m.rig.movie.get();
    now = 500;
    m.rig.DoFrame(Groups({0}, 4800));
    EXPECT_EQ(mv->DecodeStart, 500u);
    now = 530;
    EXPECT_EQ(QuarvToBufferNext(mv, 0), 1u);
    EXPECT_EQ(mv->CopyStart, 530u);
    EXPECT_EQ(mv->DecodeTime, 30u);
    EXPECT_EQ(mv->DecodeStart, 0u);
    now = 540;
    EXPECT_EQ(QuarvToBufferNext(mv, 0), 0u);
    EXPECT_EQ(mv->CopyStart, 530u);  // taken once per frame advance
    EXPECT_EQ(mv->DecodeTime, 30u);
    SetClock(nullptr);
    EXPECT_EQ(QuarvToBufferNext(nullptr, 0), 0u);
}
