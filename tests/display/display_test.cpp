// The graphics buffer on the native memory back-end, which draws into a
// simulated client area with the GDI's rules: which back-end each request
// gets, the palette ranges, what every kind of buffer puts on the screen,
// rectangle collection, palette updates, full-screen type 3 and the rules
// of the DirectDraw path. (Types 1 and 2 and the DirectDraw path itself are
// checked under Wine.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/aligned_alloc.h"
#include "display/display.h"
#include "display/display_backend.h"
#include "display/memory_display.h"

namespace {

// Index i of the test palette is (i, 255 - i, i ^ 0x5A); the test picture
// holds x * 7 + y * 13 + 1 at (x, y).
uint32_t Colour(uint8_t i) { return uint32_t(i) << 16 | uint32_t(255 - i) << 8 | (i ^ 0x5A); }
uint8_t PatternAt(int x, int y) { return static_cast<uint8_t>(x * 7 + y * 13 + 1); }

enum Screen { kDib, kWinGDown, kWinGUp, kNoDib, kDriver, kNoDriverWindow, kFailBitmap, kFailDc, kEightBit, kSixteen };

// Each test leaves no palette object, bitmap or device context behind.
class Display : public ::testing::Test {
protected:
    void TearDown() override {
        QuarvBufferClose(buffer);
        EXPECT_EQ(MemoryScreenStatsNow().paletteObjects + MemoryScreenStatsNow().bitmaps + MemoryScreenStatsNow().dcsHeld, 0);
    }
    QuarvBuffer* Open(Screen s, uint32_t type, uint32_t w, uint32_t h, uint32_t ow = 0, uint32_t oh = 0) {
        MemoryScreenConfig c;
        c.dibSections = s != kWinGDown && s != kWinGUp && s != kNoDib;
        c.wing = s == kWinGDown || s == kWinGUp, c.wingHeight = s == kWinGUp ? 1 : -1;
        c.fullScreenDriver = s == kDriver || s == kNoDriverWindow, c.failDriverWindow = s == kNoDriverWindow;
        c.failBitmap = s == kFailBitmap, c.failDc = s == kFailDc;
        c.bitsPerPixel = s == kEightBit ? 8 : s == kSixteen ? 4 : 24;
        QuarvBufferClose(buffer);
        MemoryScreenReset(c);
        return buffer = QuarvBufferOpen(&window, type, w, h, ow, oh);
    }
    // The test colours and picture, written through the buffer's orientation.
    void Paint() {
        for (int i = 0; i < 256; i++) colours[3 * i] = uint8_t(i), colours[3 * i + 1] = uint8_t(255 - i), colours[3 * i + 2] = uint8_t(i ^ 0x5A);
        UpdateDisplayPalette(buffer, colours);
        buffer->redrawAll = 0;
        for (uint32_t y = 0; y < buffer->height; y++)
            for (uint32_t x = 0; x < buffer->width; x++)
                buffer->pixels[(buffer->bottomUp ? buffer->height - 1 - y : y) * buffer->pitch + x] = PatternAt(x, y);
    }
    int window = 0;
    uint8_t colours[768];
    QuarvBuffer* buffer = nullptr;
};

// Automatic takes a DIB section, else WinG, else standard DIBs, never a
// full-screen type; a missing or unknown type, a size that cannot be shown
// or a failed allocation gives nothing, and sends the full-screen driver
// nothing. The record says "type, orientation, pitch x lines, size on the
// screen, rectangle mode": the pitch is the width rounded up to 8, and type 5
// keeps one rectangle list unless it scales both sides by quarters. Type 3
// draws straight into display memory, sending no pixels.
TEST_F(Display, EachRequestGetsItsBackEndOrNothing) {
    const struct {
        Screen screen;
        uint32_t type, w, h, ow, oh;
        const char* got;
    } cases[] = {
        {kDib, 0, 320, 240, 0, 0, "5 down 320x240 320x240 0"},      {kWinGDown, 0, 320, 240, 0, 0, "5 down 320x240 320x240 0"},
        {kWinGUp, 5, 100, 30, 0, 0, "5 up 104x30 100x30 0"},        {kNoDib, 0, 320, 240, 0, 0, "4 up 320x240 320x240 1"},
        {kDib, 4, 321, 200, 0, 0, "4 down 328x200 321x200 1"},      {kDib, 4, 320, 240, 640, 0, "4 down 320x240 640x240 1"},
        {kDib, 5, 320, 240, 480, 360, "5 down 320x240 480x360 0"},  {kDib, 5, 320, 240, 500, 240, "5 down 320x240 500x240 1"},
        {kDib, 5, 320, 240, 320, 250, "5 down 320x240 320x250 1"},  {kDib, 0x385, 32, 32, 0, 0, "5 down 32x32 32x32 0"},
        {kDriver, 0, 320, 200, 0, 0, "5 down 320x200 320x200 0"},   {kDriver, 1, 160, 120, 0, 0, "1 up 160x204 160x120 1"},
        {kDriver, 2, 100, 60, 0, 0, "2 up 104x60 100x60 1"},        {kDriver, 3, 200, 100, 0, 0, "3 up 320x200 200x100 2"},
        {kNoDib, 5, 320, 240, 0, 0, "none"},  {kNoDib, 0x85, 320, 240, 0, 0, "none"},   {kDib, 1, 320, 200, 0, 0, "none"},
        {kDriver, 1, 320, 256, 0, 0, "none"}, {kDriver, 2, 320, 201, 0, 0, "none"},     {kDriver, 3, 321, 200, 0, 0, "none"},
        {kDriver, 2, 160, 100, 320, 200, "none"}, {kDib, 6, 320, 240, 0, 0, "none"},   {kDib, 4, 40000, 240, 0, 0, "none"},
        {kDib, 4, 320, 0x80000000u, 0, 0, "none"}, {kDib, 5, 320, 240, 70000, 0, "none"}, {kDib, 0, 0, 240, 0, 0, "none"},
        {kFailBitmap, 0, 64, 48, 0, 0, "none"}, {kNoDriverWindow, 1, 320, 240, 0, 0, "none"},
    };
    for (const auto& c : cases) {
        char got[64] = "none";
        if (QuarvBuffer* b = Open(c.screen, c.type, c.w, c.h, c.ow, c.oh))
            std::snprintf(got, sizeof got, "%u %s %ux%u %ux%u %u", b->type, b->bottomUp ? "up" : "down", b->pitch, b->height,
                          b->outWidth, b->outHeight, b->memoryKind);
        EXPECT_STREQ(got, c.got) << "screen " << c.screen << " type " << c.type;
        EXPECT_TRUE(buffer || MemoryDriverRequests().empty());
        if (!buffer) continue;
        EXPECT_EQ(buffer->stretched, (c.ow && c.ow != c.w) || (c.oh && c.oh != c.h) ? 1u : 0u);
        EXPECT_EQ(buffer->rectCapacity, RectCapacityFor(c.w, c.h));
        EXPECT_TRUE(std::all_of(buffer->palette, buffer->palette + 1024, [](uint8_t v) { return v == 0; }));  // black on true colour
        for (uint32_t i = 0; buffer->memoryKind != 2 && i < buffer->pitch * buffer->height; i += 7) ASSERT_EQ(buffer->pixels[i], 0) << i;
    }
    ASSERT_EQ(Open(kDriver, 3, 320, 200)->pixels, reinterpret_cast<uint8_t*>(DisplayMemoryAddress()));
    EXPECT_TRUE(QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 320, 200) + QuarvBufferRealize(buffer) == 0 && MemoryDriverRequests().size() == 1);
    EXPECT_TRUE(RectCapacityFor(320, 200) == 125u && RectCapacityFor(63, 4000) == 16u);
    for (int n = 0; n < 6; n++) {  // types 4, 1 and 3: the record, then the pixels or the saved screen
        SetAllocFailCountdown(n / 3);
        EXPECT_TRUE(!Open(n % 3 ? kDriver : kDib, n % 3 ? n % 3 * 2 - 1 : 4, 320, 200) && MemoryDriverRequests().empty()) << n;
        SetAllocFailCountdown(-1);
    }
}

// Every kind of buffer (DIBs both ways, DIB section, WinG both ways) shows
// the rectangle at the origin plus its scaled position (products first,
// nearest-pixel stretching) and nothing around it, through the context it
// is given; the whole buffer at the client's corner, through the window's
// context, when a redraw is owed. Without a device context nothing is
// drawn. Clearing fills the width of each row, not the pitch.
TEST_F(Display, EveryBufferShowsItsRectangleAndNothingElse) {
    const std::pair<Screen, uint32_t> kinds[] = {{kDib, 4}, {kNoDib, 4}, {kDib, 5}, {kWinGUp, 5}, {kWinGDown, 5}};
    const int draws[][10] = {{37, 21, 37, 21, 0, 0, 0, 0, 37, 21},  {64, 40, 64, 40, 10, 5, 8, 3, 16, 9}, {64, 40, 64, 40, 10, 5, 40, 30, 24, 10},
                             {40, 30, 80, 60, 3, 4, 10, 6, 5, 7}, {30, 20, 45, 50, 0, 0, 7, 3, 5, 3}};  // w h, shown, x y, rectangle
    for (const auto& [screen, type] : kinds)
        for (const auto& d : draws)
            for (bool redraw : {false, true}) {
                SCOPED_TRACE(testing::Message() << "screen " << screen << " type " << type << " draw " << &d - draws << " redraw " << redraw);
                ASSERT_NE(Open(screen, type, d[0], d[1], d[2], d[3]), nullptr);
                Paint();
                buffer->redrawAll = redraw;
                int dc = 0;
                EXPECT_EQ(QuarvBufferBlit(buffer, &dc, d[4], d[5], d[6], d[7], d[8], d[9]), redraw ? 256u : 0u);
                EXPECT_EQ(MemoryScreenStatsNow().lastDrawUsedWindowDc, redraw);
                const int sx = redraw ? 0 : d[6], sy = redraw ? 0 : d[7], sw = redraw ? d[0] : d[8], sh = redraw ? d[1] : d[9];
                const int dw = sw * d[2] / d[0], dh = sh * d[3] / d[1];
                const int left = (redraw ? 0 : d[4]) + sx * d[2] / d[0], top = (redraw ? 0 : d[5]) + sy * d[3] / d[1];
                for (int y = 0; y < d[3] + d[5] + 2; y++)
                    for (int x = 0; x < d[2] + d[4] + 2; x++) {
                        const bool in = x >= left && x < left + dw && y >= top && y < top + dh;
                        ASSERT_EQ(MemoryScreenPixel(x, y), in ? Colour(PatternAt(sx + (x - left) * sw / dw, sy + (y - top) * sh / dh)) : kUntouched)
                            << x << "," << y;
                    }
            }
    ASSERT_NE(Open(kFailDc, 4, 13, 5), nullptr);
    EXPECT_TRUE(!QuarvBufferBlit(buffer, nullptr, 0, 0, 0, 0, 13, 5) && MemoryScreenPixel(0, 0) == kUntouched);
    std::memset(buffer->pixels, 0x55, 16 * 5), QuarvBufferClear(buffer, 0x1A7);  // the low byte
    for (int i = 0; i < 16 * 5; i++) ASSERT_EQ(buffer->pixels[i], i % 16 < 13 ? 0xA7 : 0x55) << i;
}

// A frame's rectangles are collected and drawn together at the flush, with
// the context they came with; once the list is full further ones draw at
// once. A redraw owed replaces them; a flush with nothing collected draws
// nothing.
TEST_F(Display, CollectedRectanglesDrawTogether) {
    ASSERT_NE(Open(kDib, 5, 64, 64), nullptr);
    ASSERT_EQ(buffer->rectCapacity, 16u);
    Paint();
    auto shown = [](int x, int y) { return MemoryScreenPixel(x, y) != kUntouched; };
    buffer->drawn = 0;
    int dc = 0;
    QuarvBufferStartRects(buffer);
    for (int i = 0; i < 16; i++) QuarvBufferBlit(buffer, &dc, 0, 0, i * 4, 0, 4, 4);
    EXPECT_FALSE(buffer->drawn || shown(0, 0));
    QuarvBufferBlit(buffer, &dc, 0, 0, 0, 32, 4, 4);  // the 17th
    EXPECT_TRUE(shown(0, 32) && !shown(0, 0));
    QuarvBufferFlushRects(buffer);
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 17);
    EXPECT_FALSE(MemoryScreenStatsNow().lastDrawUsedWindowDc);
    for (int i = 0; i < 64 * 64; i++)
        ASSERT_EQ(MemoryScreenPixel(i % 64, i / 64),
                  i < 256 || (i % 64 < 4 && i / 64 >= 32 && i / 64 < 36) ? Colour(PatternAt(i % 64, i / 64)) : kUntouched) << i;
    QuarvBufferFlushRects(buffer);  // nothing collected since: nothing drawn
    EXPECT_EQ(MemoryScreenStatsNow().bitBltCalls, 17);
    QuarvBufferStartRects(buffer);
    QuarvBufferBlit(buffer, nullptr, 0, 0, 8, 8, 4, 4);
    buffer->redrawAll = 1;
    QuarvBufferFlushRects(buffer);
    EXPECT_TRUE(MemoryScreenStatsNow().bitBltCalls == 18 && shown(63, 63));
}

// On a palettised screen the buffer's palette starts as the system palette
// (blue, green, red, 0); only the entries between the static colours take
// the movie's colours, marked not to collapse, and none may equal an upper
// static colour: its red moves one step (down from a value ending in binary
// 11), checked against each static colour in turn. The palette object is
// made on first use and replaced by each update; the DIB section takes the
// same colours. A true-colour screen redraws everything after an update;
// a 16-colour one keeps its palette.
TEST_F(Display, PaletteUpdatesKeepTheStaticColours) {
    uint8_t system[768];
    for (int i = 0; i < 768; i++) system[i] = static_cast<uint8_t>(0x11 * (i % 3) + i / 3);
    const uint8_t statics[][4] = {{246, 0x40, 0x50, 0x60}, {250, 0x41, 0x50, 0x60}, {252, 0xFF, 0xFF, 0xFF}, {247, 0x43, 0, 0}, {248, 0x42, 0, 0}};
    const uint8_t clashes[][5] = {{20, 0x40, 0x50, 0x60, 0x42}, {21, 0xFF, 0xFF, 0xFF, 0xFE}, {22, 0x42, 0, 0, 0x43},
                                  {23, 0x05, 0, 0, 0x05},       {24, 0x41, 0x50, 0x60, 0x42}};  // index, colour, red shown
    for (const auto& st : statics) std::memcpy(system + 3 * st[0], st + 1, 3);
    ASSERT_NE(Open(kEightBit, 5, 32, 16), nullptr);
    Paint();
    for (const auto& c : clashes) std::memcpy(colours + 3 * c[0], c + 1, 3);
    MemoryScreenSetSystemPalette(system);
    QuarvBufferClose(buffer);
    buffer = QuarvBufferOpen(&window, 5, 32, 16, 0, 0);
    ASSERT_TRUE(buffer->paletteStart == 10 && buffer->paletteEnd == 246 && buffer->freeColours == 236);
    for (int i = 0; i < 1024; i++) ASSERT_EQ(buffer->palette[i], i % 4 == 3 ? 0 : system[i / 4 * 3 + 2 - i % 4]) << i;
    EXPECT_EQ(QuarvBufferRealize(buffer), 256u);
    UpdateDisplayPalette(buffer, colours);
    UpdateDisplayPalette(buffer, colours);
    EXPECT_TRUE(MemoryScreenStatsNow().paletteObjects == 1 && !buffer->redrawAll);
    uint32_t n = 0;
    const LogicalPaletteEntry* e = MemoryPaletteEntries(buffer->paletteHandle, &n);
    ASSERT_EQ(n, 256u);
    for (int i = 0; i < 256; i++) {
        const bool free = i >= 10 && i < 246;
        const uint8_t* rgb = (free ? colours : system) + 3 * i;
        uint32_t want = rgb[0] << 16 | rgb[1] << 8 | rgb[2];
        for (const auto& c : clashes) want = i == c[0] ? (want & 0xFFFF) | c[4] << 16 : want;
        EXPECT_EQ(uint32_t(e[i].red << 16 | e[i].green << 8 | e[i].blue), want) << i;
        EXPECT_EQ(e[i].flags, free ? kPaletteNoCollapse : 0) << i;
        EXPECT_EQ(MemoryDibColours(buffer)[i], want) << i;
        EXPECT_EQ(buffer->palette[4 * i + 2], want >> 16) << i;
    }
    Open(kDib, 4, 32, 16);
    UpdateDisplayPalette(buffer, colours);
    e = MemoryPaletteEntries(buffer->paletteHandle, &n);
    EXPECT_TRUE(buffer->redrawAll && std::all_of(e, e + 256, [](const LogicalPaletteEntry& x) { return x.flags == kPaletteNoCollapse; }));
    Open(kSixteen, 4, 32, 16), UpdateDisplayPalette(buffer, colours);  // a 16-colour screen keeps its (black) palette
    EXPECT_TRUE(buffer->drawn && !buffer->paletteHandle && std::all_of(buffer->palette, buffer->palette + 1024, [](uint8_t v) { return !v; }));
}

// The DirectDraw path (tried for real under Wine): wanted on screens of 256
// to 65,536 colours for an output of exactly 1x or 2x; a rectangle clipped
// to the screen area, a doubled one by whole source pixels so that nothing
// lands outside.
TEST(DirectDrawRules, WhenWantedAndClipping) {
    EXPECT_TRUE(DirectDrawWanted(65536, 5, 320, 240, 640, 480) && DirectDrawWanted(256, 5, 320, 240, 320, 240));
    EXPECT_FALSE(DirectDrawWanted(1u << 24, 5, 320, 240, 640, 480) || DirectDrawWanted(65536, 5, 320, 240, 480, 360));
    const int32_t screen[4] = {0, 20, 640, 460};  // a work area below a bar
    const struct {
        int32_t ox, oy, scale, w, h;
        const char* got;  // what is left: source x, y, width, height
    } clips[] = {{100, 100, 2, 16, 12, "0,0 16x12"}, {-30, 15, 1, 100, 50, "30,5 70x45"}, {600, 400, 1, 100, 100, "0,0 40x60"},
                 {-41, 100, 2, 64, 10, "21,0 43x10"}, {500, 100, 2, 71, 10, "0,0 70x10"}, {639, 100, 2, 10, 10, "none"}};
    for (const auto& c : clips) {
        int32_t x = 0, y = 0, w = c.w, h = c.h;
        char got[64] = "none";
        if (ClipDirectRect(c.ox, c.oy, c.scale, screen, &x, &y, &w, &h)) std::snprintf(got, sizeof got, "%d,%d %dx%d", x, y, w, h);
        EXPECT_STREQ(got, c.got) << c.ox << "," << c.oy << " x" << c.scale;
    }
}

}  // namespace
