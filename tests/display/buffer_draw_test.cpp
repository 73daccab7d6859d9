#include <tuple>

#include "display_test_util.h"

namespace {

// Every client pixel of the w x h picture area at (ox, oy) shows the pattern
// scaled by sx/sy (integers), and the pixels around it are untouched.
void ExpectPicture(int ox, int oy, int w, int h, int sx = 1, int sy = 1) {
    for (int y = -1; y <= h * sy; y++) {
        for (int x = -1; x <= w * sx; x++) {
            const uint32_t got = MemoryScreenPixel(ox + x, oy + y);
            if (x < 0 || y < 0 || x == w * sx || y == h * sy) {
                if (ox + x >= 0 && oy + y >= 0) ASSERT_EQ(got, kUntouched) << x << "," << y;
            } else {
                ASSERT_EQ(got, TestColour(PatternAt(x / sx, y / sy))) << x << "," << y;
            }
        }
    }
}

// Only the client rectangle (l, t, r, b) holds picture pixels (unscaled, origin ox, oy).
void ExpectOnlyRect(int ox, int oy, int l, int t, int r, int b, int extentW, int extentH) {
    for (int y = 0; y < extentH; y++) {
        for (int x = 0; x < extentW; x++) {
            const uint32_t got = MemoryScreenPixel(ox + x, oy + y);
            if (x >= l && x < r && y >= t && y < b)
                ASSERT_EQ(got, TestColour(PatternAt(x, y))) << x << "," << y;
            else
                ASSERT_EQ(got, kUntouched) << x << "," << y;
        }
    }
}

struct Variant {
    uint32_t type;
    bool dibSections;
    bool wing;
    int32_t wingHeight;
};

void PrintTo(const Variant& v, std::ostream* os) {
    *os << "type " << v.type << (v.dibSections ? " with DIB sections" : "") << (v.wing ? " with WinG" : "");
}

class BufferDraw : public DisplayTest, public ::testing::WithParamInterface<Variant> {
protected:
    void SetUp() override {
        MemoryScreenConfig c;
        c.dibSections = GetParam().dibSections;
        c.wing = GetParam().wing;
        c.wingHeight = GetParam().wingHeight;
        Reset(c);
    }
};

}  // namespace

TEST_P(BufferDraw, WholeBufferAtTheOrigin) {
    ASSERT_NE(OpenWithColours(GetParam().type, 37, 21), nullptr);
    EXPECT_EQ(QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 37, 21), 0u);
    ExpectPicture(0, 0, 37, 21);
    EXPECT_EQ(buffer->drawn, 1u);
}

TEST_P(BufferDraw, RectangleLandsAtOriginPlusSource) {
    ASSERT_NE(OpenWithColours(GetParam().type, 64, 40), nullptr);
    int dc = 0;
    QuarvBufferBlit(buffer, &dc, 10, 5, 8, 3, 16, 9);
    EXPECT_FALSE(MemoryScreenStatsNow().lastDrawUsedWindowDc);
    // Picture point (8..23, 3..11) at client (18.., 8..).
    ExpectOnlyRect(10, 5, 8, 3, 24, 12, 64, 40);
    QuarvBufferBlit(buffer, nullptr, 10, 5, 40, 30, 24, 10);  // the bottom right corner
    for (int y = 30; y < 40; y++)
        for (int x = 40; x < 64; x++) ASSERT_EQ(MemoryScreenPixel(10 + x, 5 + y), TestColour(PatternAt(x, y)));
    EXPECT_TRUE(MemoryScreenStatsNow().lastDrawUsedWindowDc);
}

TEST_P(BufferDraw, DoubledOutputRepeatsEveryPixel) {
    ASSERT_NE(OpenWithColours(GetParam().type, 40, 30, 80, 60), nullptr);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 40, 30);
    ExpectPicture(0, 0, 40, 30, 2, 2);

    MemoryScreenFill(kUntouched);
    QuarvBufferBlit(buffer, nullptr, 3, 4, 10, 6, 5, 7);  // lands at (3 + 20, 4 + 12), 10 x 14
    for (int y = 0; y < 60 + 4; y++)
        for (int x = 0; x < 80 + 3; x++) {
            const bool inside = x >= 23 && x < 33 && y >= 16 && y < 30;
            const uint32_t want = inside ? TestColour(PatternAt((x - 3) / 2, (y - 4) / 2)) : kUntouched;
            ASSERT_EQ(MemoryScreenPixel(x, y), want) << x << "," << y;
        }
}

TEST_P(BufferDraw, UnevenStretchScalesTheRectangleWithProductsFirst) {
    ASSERT_NE(OpenWithColours(GetParam().type, 30, 20, 45, 50), nullptr);  // 1.5 x 2.5
    QuarvBufferBlit(buffer, nullptr, 0, 0, 7, 3, 5, 3);
    // x: 7 * 45 / 30 = 10, width 5 * 45 / 30 = 7; y: 3 * 50 / 20 = 7, height 3 * 50 / 20 = 7.
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 45; x++) {
            const bool inside = x >= 10 && x < 17 && y >= 7 && y < 14;
            EXPECT_EQ(MemoryScreenPixel(x, y) != kUntouched, inside) << x << "," << y;
        }
    // The corners come from the rectangle's corner pixels.
    EXPECT_EQ(MemoryScreenPixel(10, 7), TestColour(PatternAt(7, 3)));
    EXPECT_EQ(MemoryScreenPixel(16, 13), TestColour(PatternAt(11, 5)));
}

INSTANTIATE_TEST_SUITE_P(Types, BufferDraw,
                         ::testing::Values(Variant{4, true, false, -1},  // top-down plain DIB
                                           Variant{4, false, false, -1},  // bottom-up plain DIB
                                           Variant{5, true, false, -1},  // DIB section
                                           Variant{5, false, true, 1},   // WinG, bottom-up
                                           Variant{5, false, true, -1}),  // WinG, top-down
                         [](const ::testing::TestParamInfo<Variant>& i) {
                             return "Type" + std::to_string(i.param.type) + (i.param.dibSections ? "Dib" : "") +
                                    (i.param.wing ? (i.param.wingHeight < 0 ? "WinGTopDown" : "WinGBottomUp")
                                                  : "");
                         });

class BufferBlit : public DisplayTest {};

TEST_F(BufferBlit, RedrawAllDrawsTheWholeBufferThroughTheWindow) {
    ASSERT_NE(OpenWithColours(4, 32, 16), nullptr);
    buffer->redrawAll = 1;
    int dc = 0;
    EXPECT_EQ(QuarvBufferBlit(buffer, &dc, 0, 0, 4, 4, 2, 2), 256u);
    EXPECT_TRUE(MemoryScreenStatsNow().lastDrawUsedWindowDc);
    EXPECT_EQ(buffer->redrawAll, 0u);
    ExpectPicture(0, 0, 32, 16);
    MemoryScreenFill(kUntouched);
    EXPECT_EQ(QuarvBufferBlit(buffer, &dc, 0, 0, 4, 4, 2, 2), 0u);
    ExpectOnlyRect(0, 0, 4, 4, 6, 6, 32, 16);
}

TEST_F(BufferBlit, TypesUseTheirOwnDrawingCalls) {
    ASSERT_NE(OpenWithColours(4, 32, 16, 64, 32), nullptr);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 8, 8);
    EXPECT_EQ(MemoryScreenStatsNow().stretchDibCalls, 1);
    QuarvBufferClose(buffer);
    ASSERT_NE(OpenWithColours(5, 32, 16), nullptr);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 8, 8);
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 1);
    QuarvBufferClose(buffer);
    ASSERT_NE(OpenWithColours(5, 32, 16, 64, 32), nullptr);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 8, 8);
    const MemoryScreenStats s = MemoryScreenStatsNow();
    EXPECT_EQ(s.stretchBltCalls, 1);
    EXPECT_EQ(s.bitBltCalls, 1);
    EXPECT_EQ(s.stretchDibCalls, 1);
    EXPECT_FALSE(s.lastDrawUsedWinG);
}

TEST_F(BufferBlit, NoDeviceContextDrawsNothing) {
    MemoryScreenConfig c;
    c.failDc = true;
    Reset(c);
    ASSERT_NE(OpenWithColours(4, 32, 16), nullptr);
    buffer->redrawAll = 1;
    EXPECT_EQ(QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 32, 16), 0u);
    EXPECT_EQ(buffer->redrawAll, 1u);  // still owed
    EXPECT_EQ(MemoryScreenPixel(0, 0), kUntouched);
}

TEST_F(BufferBlit, NullBufferIsIgnored) {
    EXPECT_EQ(QuarvBufferBlit(nullptr, nullptr, 0, 0, 0, 0, 1, 1), 0u);
    EXPECT_EQ(QuarvBufferRealize(nullptr), 0u);
    QuarvBufferClear(nullptr, 3);
    QuarvBufferStartRects(nullptr);
    QuarvBufferFlushRects(nullptr);
    UpdateDisplayPalette(nullptr, nullptr);
    QuarvBufferClose(nullptr);
}

TEST_F(BufferBlit, ClearFillsTheWidthOfEveryRowOnly) {
    buffer = QuarvBufferOpen(&window, 4, 13, 5, 0, 0);
    ASSERT_NE(buffer, nullptr);
    ASSERT_EQ(buffer->pitch, 16u);
    memset(buffer->pixels, 0x55, 16 * 5);
    QuarvBufferClear(buffer, 0x1A7);  // the low byte is the colour
    for (int y = 0; y < 5; y++)
        for (int x = 0; x < 16; x++) ASSERT_EQ(buffer->pixels[y * 16 + x], x < 13 ? 0xA7 : 0x55) << x << "," << y;
}

TEST_F(BufferBlit, PaletteIsMadeOnFirstUseWithTheFreeRange) {
    MemoryScreenConfig c;
    c.bitsPerPixel = 8;
    Reset(c);
    buffer = QuarvBufferOpen(&window, 5, 32, 16, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->paletteHandle, nullptr);
    for (int i = 0; i < 256; i++) buffer->palette[i * 4 + 2] = static_cast<uint8_t>(i);  // red = index
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 4, 4);
    uint32_t n = 0;
    const LogicalPaletteEntry* e = MemoryPaletteEntries(buffer->paletteHandle, &n);
    ASSERT_EQ(n, 256u);
    for (uint32_t i = 0; i < 256; i++) {
        EXPECT_EQ(e[i].flags, (i >= 10 && i <= 245) ? kPaletteNoCollapse : 0) << i;
        EXPECT_EQ(e[i].red, i);
    }
    // Type 5 gets the same colours in its DIB's colour table.
    EXPECT_EQ(MemoryDibColours(buffer)[200], 200u << 16);
}

TEST_F(BufferBlit, RealizeInvalidatesOnlyAfterDrawing) {
    buffer = QuarvBufferOpen(&window, 4, 32, 16, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(QuarvBufferRealize(buffer), 256u);
    EXPECT_NE(buffer->paletteHandle, nullptr);
    EXPECT_EQ(MemoryScreenStatsNow().invalidates, 0);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 4, 4);
    QuarvBufferRealize(buffer);
    EXPECT_EQ(MemoryScreenStatsNow().invalidates, 1);
}
