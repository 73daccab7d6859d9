#include "common/aligned_alloc.h"
#include "display_test_util.h"

namespace {

class RectCollect : public DisplayTest {
protected:
    void SetUp() override {
        DisplayTest::SetUp();
        ASSERT_NE(OpenWithColours(5, 64, 64), nullptr);  // capacity 16
        ASSERT_EQ(buffer->rectCapacity, 16u);
    }
    bool Shown(int x, int y) { return MemoryScreenPixel(x, y) != kUntouched; }
};

}  // namespace

TEST_F(RectCollect, DrawsNothingUntilFlushedThenEverything) {
    int dc = 0;
    buffer->drawn = 0;  // the palette update counts as drawing
    QuarvBufferStartRects(buffer);
    EXPECT_EQ(buffer->rectMode, 2u);
    EXPECT_EQ(QuarvBufferBlit(buffer, &dc, 0, 0, 0, 0, 8, 8), 0u);
    EXPECT_EQ(QuarvBufferBlit(buffer, &dc, 0, 0, 32, 16, 8, 4), 0u);
    EXPECT_EQ(QuarvBufferBlit(buffer, &dc, 0, 0, 56, 60, 8, 4), 0u);
    EXPECT_EQ(buffer->rectCount, 3u);
    EXPECT_FALSE(Shown(0, 0));
    EXPECT_EQ(buffer->drawn, 0u);

    QuarvBufferFlushRects(buffer);
    EXPECT_EQ(buffer->rectMode, 0u);
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 3);
    EXPECT_FALSE(MemoryScreenStatsNow().lastDrawUsedWindowDc);  // the remembered dc
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++) {
            const bool inside = (x < 8 && y < 8) || (x >= 32 && x < 40 && y >= 16 && y < 20) || (x >= 56 && y >= 60);
            ASSERT_EQ(MemoryScreenPixel(x, y), inside ? TestColour(PatternAt(x, y)) : kUntouched) << x << "," << y;
        }
}

TEST_F(RectCollect, AFullListDrawsFurtherRectanglesAtOnce) {
    QuarvBufferStartRects(buffer);
    for (int i = 0; i < 16; i++) QuarvBufferBlit(buffer, nullptr, 0, 0, i * 4, 0, 4, 4);
    EXPECT_FALSE(Shown(0, 0));
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 32, 4, 4);  // the 17th
    EXPECT_TRUE(Shown(0, 32));
    EXPECT_FALSE(Shown(0, 0));
    QuarvBufferFlushRects(buffer);
    for (int i = 0; i < 16; i++) EXPECT_TRUE(Shown(i * 4 + 3, 3)) << i;
}

TEST_F(RectCollect, StartingAgainForgetsTheLastFrame) {
    QuarvBufferStartRects(buffer);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 4, 4);
    QuarvBufferFlushRects(buffer);
    MemoryScreenFill(kUntouched);
    QuarvBufferStartRects(buffer);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 8, 8, 4, 4);
    QuarvBufferFlushRects(buffer);
    EXPECT_FALSE(Shown(0, 0));
    EXPECT_TRUE(Shown(8, 8));
}

TEST_F(RectCollect, EmptyOrUnstartedFlushDrawsNothing) {
    QuarvBufferStartRects(buffer);
    QuarvBufferFlushRects(buffer);
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 0);
    QuarvBufferStartRects(buffer);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 4, 4);
    QuarvBufferFlushRects(buffer);
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 1);
    QuarvBufferFlushRects(buffer);  // nothing collected since: no redraw of old rectangles
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 1);
}

TEST_F(RectCollect, RedrawAllReplacesTheCollectedRectangles) {
    QuarvBufferStartRects(buffer);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 4, 4);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 8, 8, 4, 4);
    buffer->redrawAll = 1;
    QuarvBufferFlushRects(buffer);
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 1);
    EXPECT_TRUE(Shown(63, 63));
    EXPECT_EQ(buffer->redrawAll, 0u);
    EXPECT_EQ(buffer->rectMode, 0u);
}

TEST_F(RectCollect, WithoutRoomForTheListRectanglesDrawAtOnce) {
    QuarvBufferClose(buffer);
    ASSERT_NE(OpenWithColours(5, 64, 64), nullptr);
    SetAllocFailCountdown(0);
    QuarvBufferStartRects(buffer);
    SetAllocFailCountdown(-1);
    EXPECT_EQ(buffer->rectMode, 0u);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 4, 4);
    EXPECT_TRUE(Shown(0, 0));
    QuarvBufferFlushRects(buffer);
}
