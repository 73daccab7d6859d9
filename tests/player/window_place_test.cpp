#include <gtest/gtest.h>

#include "player/settings.h"
#include "player/window.h"

namespace {

// A window with a 3-pixel frame and a 19-pixel caption (on top of the frame).
const WindowFrame kFrame{3, 22, 6, 25};

}  // namespace

TEST(WindowStyle, FollowsTheStyleBits) {
    struct Case {
        uint32_t flags;
        uint32_t style;
        uint32_t exStyle;
    } cases[] = {
        {0, 0x820A0000 | 0x00C00000, 1},       // default: dialog frame and caption
        {0xC000, 0x820A0000 | 0x00C00000, 0},  // /I1 thin border
        {0xC200, 0x820A0000 | 0x00800000, 0},  // /I2 thin, no caption
        {0x200, 0x820A0000, 1},                // /I3 no caption
        {0x4200, 0x820A0000, 0},               // /I4 nothing
    };
    for (const Case& c : cases) {
        WindowStyle s = StyleForDisplayFlags(c.flags | 0x1000 | 0x19);  // other bits change nothing
        EXPECT_EQ(s.style, c.style) << std::hex << c.flags;
        EXPECT_EQ(s.exStyle, c.exStyle) << std::hex << c.flags;
    }
}

TEST(BufferType, FromVideoTypeCodeAndModifiers) {
    EXPECT_EQ(BufferTypeFor(0), 0u);
    EXPECT_EQ(BufferTypeFor(21), 0u);
    EXPECT_EQ(BufferTypeFor(22), 1u);
    EXPECT_EQ(BufferTypeFor(23), 3u);                          // direct 320x200
    EXPECT_EQ(BufferTypeFor(23 | DISPLAY_DOUBLE_BUFFER), 2u);  // /B: buffered
    EXPECT_EQ(BufferTypeFor(24), 4u);
    EXPECT_EQ(BufferTypeFor(25), 5u);
    EXPECT_EQ(BufferTypeFor(26), 0u);
    EXPECT_EQ(BufferTypeFor(25 | DISPLAY_NO_DIRECTDRAW), 0x85u);
    EXPECT_EQ(BufferTypeFor(25 | DISPLAY_SMOOTH), 0x105u);
    EXPECT_EQ(BufferTypeFor(25 | DISPLAY_INTERLACED), 0x205u);
    EXPECT_EQ(BufferTypeFor(DISPLAY_NO_DIRECTDRAW | DISPLAY_SMOOTH | DISPLAY_INTERLACED), 0x380u);
    EXPECT_EQ(BufferTypeFor(24 | DISPLAY_DOUBLE_BUFFER | 0xC200 | 0x1000), 4u);
}

TEST(PlaceWindow, CentresTheClientArea) {
    WindowPlacement p = PlaceWindow(kFrame, -1, -1, 320, 240, 800, 600);
    // Client area at ((800 - 320) / 2, (600 - 240) / 2) = (240, 180).
    EXPECT_EQ(p.x + kFrame.clientLeft, 240);
    EXPECT_EQ(p.y + kFrame.clientTop, 180);
    EXPECT_EQ(p.width, 326);
    EXPECT_EQ(p.height, 265);

    p = PlaceWindow(kFrame, -1, -1, 321, 241, 800, 600);  // odd sizes round down
    EXPECT_EQ(p.x, 239 - 3);
    EXPECT_EQ(p.y, 179 - 22);
}

TEST(PlaceWindow, ExplicitPositionIsTheOuterCorner) {
    WindowPlacement p = PlaceWindow(kFrame, 0, 0, 160, 1, 640, 480);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.width, 166);
    EXPECT_EQ(p.height, 26);
    p = PlaceWindow(kFrame, 17, -1, 160, 100, 640, 480);
    EXPECT_EQ(p.x, 17);
    EXPECT_EQ(p.y, 190 - 22);
    p = PlaceWindow(kFrame, -1, 5, 160, 100, 640, 480);
    EXPECT_EQ(p.x, 240 - 3);
    EXPECT_EQ(p.y, 5);
}

TEST(PlaceWindow, BorderlessClientEqualsShownSize) {
    const WindowFrame none{0, 0, 0, 0};
    WindowPlacement p = PlaceWindow(none, -1, -1, 640, 480, 640, 480);
    EXPECT_EQ(p.x, 0);
    EXPECT_EQ(p.y, 0);
    EXPECT_EQ(p.width, 640);
    EXPECT_EQ(p.height, 480);
}

TEST(PlaceWindow, LargerThanTheScreenGoesOffTheTopLeft) {
    WindowPlacement p = PlaceWindow(kFrame, -1, -1, 1024, 768, 800, 600);
    EXPECT_EQ(p.x, -112 - 3);
    EXPECT_EQ(p.y, -84 - 22);
}

TEST(AlignLeftEdge, ClientAreaStartsOnTheNearestMultipleOf8) {
    // Client left 3: a window at 0 has its client area at 3, which rounds to 0.
    EXPECT_EQ(AlignLeftEdge(0, 3), -3);
    // Client left 4: remainder 4 rounds down.
    EXPECT_EQ(AlignLeftEdge(0, 4), -4);
    // Client left 5: rounds up to 8.
    EXPECT_EQ(AlignLeftEdge(0, 5), 3);
    for (int32_t x = -40; x < 40; x++) {
        for (int32_t cl : {0, 1, 3, 4, 8}) {
            const int32_t client = AlignLeftEdge(x, cl) + cl;
            EXPECT_EQ(((client % 8) + 8) % 8, 0) << x << " " << cl;
            const int32_t moved = client - (x + cl);
            EXPECT_GE(moved, -4) << x << " " << cl;
            EXPECT_LE(moved, 3) << x << " " << cl;
        }
    }
    EXPECT_EQ(AlignLeftEdge(100, 0), 96);  // remainder 4 rounds down
    EXPECT_EQ(AlignLeftEdge(101, 0), 104);
}
