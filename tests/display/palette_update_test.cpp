#include "display_test_util.h"

namespace {

// An 8-bit screen with 20 static colours: 10 at each end of the palette.
class PaletteUpdate : public DisplayTest {
protected:
    void SetUp() override {
        MemoryScreenConfig c;
        c.bitsPerPixel = 8;
        c.reservedEntries = 20;
        Reset(c);
        for (int i = 0; i < 768; i++) system[i] = static_cast<uint8_t>(0x11 * (i % 3) + i / 3);
        // Upper static colours the movie's colours will collide with.
        SetSystem(246, 0x40, 0x50, 0x60);
        SetSystem(250, 0x41, 0x50, 0x60);
        SetSystem(252, 0xFF, 0xFF, 0xFF);
        SetSystem(247, 0x43, 0x00, 0x00);
        SetSystem(248, 0x42, 0x00, 0x00);
        MemoryScreenSetSystemPalette(system);
        buffer = QuarvBufferOpen(&window, 5, 32, 16, 0, 0);
        ASSERT_NE(buffer, nullptr);
        ASSERT_EQ(buffer->paletteStart, 10u);
        ASSERT_EQ(buffer->paletteEnd, 246u);
        TestColours(colours);
    }
    void SetSystem(int i, uint8_t r, uint8_t g, uint8_t b) {
        system[i * 3] = r;
        system[i * 3 + 1] = g;
        system[i * 3 + 2] = b;
    }
    void SetColour(int i, uint8_t r, uint8_t g, uint8_t b) {
        colours[i * 3] = r;
        colours[i * 3 + 1] = g;
        colours[i * 3 + 2] = b;
    }
    uint8_t system[768];
    uint8_t colours[768];
};

}  // namespace

TEST_F(PaletteUpdate, OnlyFreeEntriesChangeAndTheyDoNotCollapse) {
    UpdateDisplayPalette(buffer, colours);
    uint32_t n = 0;
    const LogicalPaletteEntry* e = MemoryPaletteEntries(buffer->paletteHandle, &n);
    ASSERT_EQ(n, 256u);
    for (int i = 0; i < 256; i++) {
        const uint8_t* want = (i >= 10 && i < 246) ? colours + i * 3 : system + i * 3;
        EXPECT_EQ(e[i].red, want[0]) << i;
        EXPECT_EQ(e[i].green, want[1]) << i;
        EXPECT_EQ(e[i].blue, want[2]) << i;
        EXPECT_EQ(e[i].flags, (i >= 10 && i < 246) ? kPaletteNoCollapse : 0) << i;
        // The display's own copy is blue, green, red, 0.
        EXPECT_EQ(buffer->palette[i * 4], want[2]) << i;
        EXPECT_EQ(buffer->palette[i * 4 + 1], want[1]) << i;
        EXPECT_EQ(buffer->palette[i * 4 + 2], want[0]) << i;
        EXPECT_EQ(buffer->palette[i * 4 + 3], 0) << i;
    }
    EXPECT_EQ(buffer->drawn, 1u);
    EXPECT_EQ(buffer->redrawAll, 0u);  // 256 colours: the palette change repaints by itself
    // Type 5: the DIB's colour table follows.
    EXPECT_EQ(MemoryDibColours(buffer)[100], TestColour(100));
}

TEST_F(PaletteUpdate, ColoursEqualToUpperStaticOnesAreNudged) {
    SetColour(20, 0x40, 0x50, 0x60);  // equals 246, then the nudged 0x41 equals 250: 0x42
    SetColour(21, 0xFF, 0xFF, 0xFF);  // red 255 has both low bits set: down to 254
    SetColour(22, 0x42, 0x00, 0x00);  // 247 (0x43) first: no match; 248 (0x42): up to 0x43; not checked again
    SetColour(23, 0x05, 0x00, 0x00);  // equal to low static 0 would not matter; nothing here
    SetColour(24, 0x41, 0x50, 0x60);  // equals 250 only: up to 0x42
    UpdateDisplayPalette(buffer, colours);
    uint32_t n = 0;
    const LogicalPaletteEntry* e = MemoryPaletteEntries(buffer->paletteHandle, &n);
    EXPECT_EQ(e[20].red, 0x42);
    EXPECT_EQ(e[20].green, 0x50);
    EXPECT_EQ(e[20].blue, 0x60);
    EXPECT_EQ(e[21].red, 0xFE);
    EXPECT_EQ(e[22].red, 0x43);
    EXPECT_EQ(e[23].red, 0x05);
    EXPECT_EQ(e[24].red, 0x42);
    EXPECT_EQ(buffer->palette[20 * 4 + 2], 0x42);  // the display keeps the nudged colour
}

TEST_F(PaletteUpdate, TrueColourScreensRedrawEverything) {
    Reset(MemoryScreenConfig{});
    buffer = QuarvBufferOpen(&window, 4, 32, 16, 0, 0);
    ASSERT_NE(buffer, nullptr);
    SetColour(5, 0, 0, 0);
    UpdateDisplayPalette(buffer, colours);
    EXPECT_EQ(buffer->redrawAll, 1u);
    uint32_t n = 0;
    const LogicalPaletteEntry* e = MemoryPaletteEntries(buffer->paletteHandle, &n);
    ASSERT_EQ(n, 256u);
    for (int i = 0; i < 256; i++) EXPECT_EQ(e[i].flags, kPaletteNoCollapse) << i;
    EXPECT_EQ(e[255].red, 255);
}

TEST_F(PaletteUpdate, ScreensWithFewerColoursKeepTheirPalette) {
    MemoryScreenConfig c;
    c.bitsPerPixel = 4;
    Reset(c);
    buffer = QuarvBufferOpen(&window, 4, 32, 16, 0, 0);
    ASSERT_NE(buffer, nullptr);
    UpdateDisplayPalette(buffer, colours);
    EXPECT_EQ(buffer->drawn, 1u);
    EXPECT_EQ(buffer->paletteHandle, nullptr);
    for (int i = 0; i < 1024; i++) ASSERT_EQ(buffer->palette[i], 0) << i;
}

TEST_F(PaletteUpdate, ReplacesThePaletteObject) {
    UpdateDisplayPalette(buffer, colours);
    UpdateDisplayPalette(buffer, colours);
    EXPECT_EQ(MemoryScreenStatsNow().paletteObjects, 1);
}
