// The portable rules of the DirectDraw path: when it is wanted, the blitter
// flags for a surface and the buffer's modifiers, and clipping to the screen.
#include <gtest/gtest.h>

#include "blit/blit.h"
#include "display/display.h"
#include "display/display_backend.h"

namespace {

TEST(DirectDrawWanted, OnlyForPaletteOrHighColourScreensAtOneOrTwoTimes) {
    // Screen colours: 256 and 65,536 are the bounds.
    EXPECT_TRUE(DirectDrawWanted(256, 5, 320, 240, 320, 240));
    EXPECT_TRUE(DirectDrawWanted(65536, 5, 320, 240, 640, 480));
    EXPECT_FALSE(DirectDrawWanted(16, 5, 320, 240, 320, 240));
    EXPECT_FALSE(DirectDrawWanted(1u << 24, 5, 320, 240, 640, 480));
    // Output sizes: both sides 1x or both 2x, nothing in between.
    EXPECT_FALSE(DirectDrawWanted(65536, 5, 320, 240, 480, 360));
    EXPECT_FALSE(DirectDrawWanted(65536, 5, 320, 240, 640, 240));
    EXPECT_FALSE(DirectDrawWanted(65536, 5, 320, 240, 320, 480));
    EXPECT_FALSE(DirectDrawWanted(65536, 5, 320, 240, 641, 480));
    // The no-DirectDraw bit wins, also together with the other modifiers.
    EXPECT_FALSE(DirectDrawWanted(65536, 5 | kBufferNoDirectDraw, 320, 240, 640, 480));
    EXPECT_FALSE(DirectDrawWanted(65536, 0x188, 320, 240, 640, 480));
    EXPECT_TRUE(DirectDrawWanted(65536, 5 | kBufferSmooth | kBufferInterlace, 320, 240, 640, 480));
}

TEST(DirectBlitFlags, SurfaceFormats) {
    EXPECT_EQ(SurfaceFormatFlags({8, 0, 0, 0}), 0u);
    EXPECT_EQ(SurfaceFormatFlags({16, 0xF800, 0x07E0, 0x001F}), 0xC0000000u);
    EXPECT_EQ(SurfaceFormatFlags({16, 0x7C00, 0x03E0, 0x001F}), 0x80000000u);
    // Blue on top, or deeper surfaces, cannot be drawn by the blitter.
    EXPECT_EQ(SurfaceFormatFlags({16, 0x001F, 0x07E0, 0xF800}), kSurfaceUnusable);
    EXPECT_EQ(SurfaceFormatFlags({24, 0xFF0000, 0xFF00, 0xFF}), kSurfaceUnusable);
    EXPECT_EQ(SurfaceFormatFlags({32, 0xFF0000, 0xFF00, 0xFF}), kSurfaceUnusable);
    EXPECT_EQ(SurfaceFormatFlags({0, 0, 0, 0}), kSurfaceUnusable);
}

TEST(DirectBlitFlags, ScalingFromTheModifiers) {
    EXPECT_EQ(DirectScaleFlags(false, 5), 1u);
    EXPECT_EQ(DirectScaleFlags(false, 5 | kBufferSmooth | kBufferInterlace), 1u);
    EXPECT_EQ(DirectScaleFlags(true, 5), 2u);
    EXPECT_EQ(DirectScaleFlags(true, 5 | kBufferSmooth), 4u);
    EXPECT_EQ(DirectScaleFlags(true, 5 | kBufferInterlace), 8u);
    EXPECT_EQ(DirectScaleFlags(true, 5 | kBufferSmooth | kBufferInterlace), 4u);
    // Together with a 5-6-5 surface these are the blitter modes the player shows.
    EXPECT_EQ(BlitMode(DirectScaleFlags(true, 5) | 0xC0000000u), 7u);
    EXPECT_EQ(BlitMode(DirectScaleFlags(true, 5 | kBufferInterlace) | 0xC0000000u), 8u);
}

struct Clip {
    int32_t srcX, srcY, w, h;
    bool any;
};
Clip ClipOnScreen(int32_t ox, int32_t oy, int32_t scale, int32_t x, int32_t y, int32_t w, int32_t h) {
    const int32_t screen[4] = {0, 20, 640, 460};  // a work area below a bar
    Clip c{x, y, w, h, false};
    c.any = ClipDirectRect(ox, oy, scale, screen, &c.srcX, &c.srcY, &c.w, &c.h);
    return c;
}

TEST(ClipDirectRect, InsideIsLeftAlone) {
    const Clip c = ClipOnScreen(100, 100, 2, 8, 4, 16, 12);
    EXPECT_TRUE(c.any);
    EXPECT_EQ(c.srcX, 8);
    EXPECT_EQ(c.srcY, 4);
    EXPECT_EQ(c.w, 16);
    EXPECT_EQ(c.h, 12);
}

TEST(ClipDirectRect, UnstretchedMovesByTheAmountOutside) {
    // Window 30 pixels left of the screen and 5 above the work area.
    const Clip c = ClipOnScreen(-30, 15, 1, 10, 0, 100, 50);
    EXPECT_TRUE(c.any);
    EXPECT_EQ(c.srcX, 30);
    EXPECT_EQ(c.w, 80);
    EXPECT_EQ(c.srcY, 5);
    EXPECT_EQ(c.h, 45);
    // Past the right and bottom edges only the size shrinks.
    const Clip r = ClipOnScreen(600, 400, 1, 0, 0, 100, 100);
    EXPECT_EQ(r.srcX, 0);
    EXPECT_EQ(r.w, 40);
    EXPECT_EQ(r.h, 60);
}

TEST(ClipDirectRect, DoubledMovesByHalfNeverDrawingOutside) {
    const Clip even = ClipOnScreen(-40, 100, 2, 0, 0, 64, 10);
    EXPECT_EQ(even.srcX, 20);
    EXPECT_EQ(even.w, 44);
    // 41 screen pixels outside: 21 source pixels go, so the first doubled
    // pixel starts at x = 1 on the screen, not at -1.
    const Clip odd = ClipOnScreen(-41, 100, 2, 0, 0, 64, 10);
    EXPECT_EQ(odd.srcX, 21);
    EXPECT_EQ(odd.w, 43);
    EXPECT_GE(-41 + odd.srcX * 2, 0);
    // Right edge: the doubled rectangle ends at or before it.
    const Clip right = ClipOnScreen(500, 100, 2, 0, 0, 71, 10);
    EXPECT_LE(500 + (right.srcX + right.w) * 2, 640);
    EXPECT_EQ(right.w, 70);
}

TEST(ClipDirectRect, WhollyOutsideIsSkipped) {
    EXPECT_FALSE(ClipOnScreen(-200, 100, 1, 0, 0, 100, 10).any);
    EXPECT_FALSE(ClipOnScreen(100, 460, 1, 0, 0, 10, 10).any);
    EXPECT_FALSE(ClipOnScreen(100, -40, 2, 0, 0, 10, 10).any);  // reaches y = -20 + 20 = 0: above the work area
    EXPECT_FALSE(ClipOnScreen(639, 100, 2, 0, 0, 10, 10).any);  // half a source pixel fits: none is drawn
}

}  // namespace
