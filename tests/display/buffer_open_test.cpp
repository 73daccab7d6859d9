#include "common/aligned_alloc.h"
#include "display_test_util.h"

namespace {

class BufferOpen : public DisplayTest {};

MemoryScreenConfig Screen(uint32_t bits, bool dib = true, bool wing = false) {
    MemoryScreenConfig c;
    c.bitsPerPixel = bits;
    c.dibSections = dib;
    c.wing = wing;
    return c;
}

}  // namespace

TEST_F(BufferOpen, AutomaticPrefersDibSectionThenStandardDibs) {
    buffer = QuarvBufferOpen(&window, 0, 320, 240, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->type, 5u);
    EXPECT_TRUE(DisplayHasDibSections());
    EXPECT_EQ(buffer->bottomUp, 0u);  // DIB sections are made top-down

    Reset(Screen(24, false, true));  // WinG only
    buffer = QuarvBufferOpen(&window, 0, 320, 240, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->type, 5u);
    EXPECT_FALSE(DisplayHasDibSections());

    Reset(Screen(24, false, false));  // neither
    buffer = QuarvBufferOpen(&window, 0, 320, 240, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->type, 4u);
    EXPECT_EQ(buffer->bottomUp, 1u);  // plain DIBs are bottom-up without DIB sections
}

TEST_F(BufferOpen, RequestedTypeThatIsMissingFails) {
    Reset(Screen(24, false, false));
    EXPECT_EQ(QuarvBufferOpen(&window, 5, 320, 240, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(&window, 5 | kBufferNoDirectDraw, 320, 240, 0, 0), nullptr);
    buffer = QuarvBufferOpen(&window, 4, 320, 240, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->type, 4u);
}

TEST_F(BufferOpen, FullScreenTypesFailWithoutTheDriver) {
    for (uint32_t t : {1u, 2u, 3u, 2u | 0x100u}) EXPECT_EQ(QuarvBufferOpen(&window, t, 320, 200, 0, 0), nullptr) << t;
    EXPECT_EQ(QuarvBufferOpen(&window, 1, 320, 256, 0, 0), nullptr);
    // Automatic never picks a full-screen type, even for a small frame.
    buffer = QuarvBufferOpen(&window, 0, 320, 200, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->fullScreen, 0u);
    EXPECT_EQ(buffer->type, 5u);
}

TEST_F(BufferOpen, UnknownTypesAndUnshowableSizesFail) {
    for (uint32_t t : {6u, 7u, 0x7Fu, 0x86u}) EXPECT_EQ(QuarvBufferOpen(&window, t, 320, 240, 0, 0), nullptr) << t;
    EXPECT_EQ(QuarvBufferOpen(&window, 0, 0, 240, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(&window, 0, 320, 0, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(&window, 4, 40000, 240, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(&window, 4, 320, 0x80000000u, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(&window, 5, 320, 240, 70000, 0), nullptr);
    // Modifier bits do not change the type.
    buffer = QuarvBufferOpen(&window, 5 | kBufferNoDirectDraw | kBufferSmooth | kBufferInterlace, 32, 32, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->type, 5u);
}

TEST_F(BufferOpen, SizesPitchAndStretching) {
    buffer = QuarvBufferOpen(&window, 4, 321, 200, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->width, 321u);
    EXPECT_EQ(buffer->height, 200u);
    EXPECT_EQ(buffer->pitch, 328u);
    EXPECT_EQ(buffer->outWidth, 321u);
    EXPECT_EQ(buffer->outHeight, 200u);
    EXPECT_EQ(buffer->stretched, 0u);
    EXPECT_EQ(buffer->paletteLayout, 6u);
    EXPECT_EQ(buffer->playerWindow, &window);
    QuarvBufferClose(buffer);

    buffer = QuarvBufferOpen(&window, 4, 320, 240, 640, 0);  // height 0: the frame's
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->pitch, 320u);
    EXPECT_EQ(buffer->outWidth, 640u);
    EXPECT_EQ(buffer->outHeight, 240u);
    EXPECT_EQ(buffer->stretched, 1u);
}

TEST_F(BufferOpen, MemoryKindFollowsTheType) {
    struct Case {
        uint32_t type, w, h, ow, oh, kind;
    } cases[] = {
        {4, 320, 240, 0, 0, 1},     {4, 320, 240, 640, 480, 1}, {5, 320, 240, 0, 0, 0},
        {5, 320, 240, 640, 480, 0}, {5, 320, 240, 480, 360, 0},  // 4 x 480 is 6 x 320
        {5, 320, 240, 500, 240, 1},                             // 4 x 500 is no multiple of 320
        {5, 320, 240, 320, 250, 1},
    };
    for (const Case& c : cases) {
        QuarvBuffer* b = QuarvBufferOpen(&window, c.type, c.w, c.h, c.ow, c.oh);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->memoryKind, c.kind) << c.type << " " << c.ow << "x" << c.oh;
        QuarvBufferClose(b);
    }
}

TEST_F(BufferOpen, RectCapacity) {
    EXPECT_EQ(RectCapacityFor(320, 200), 125u);
    EXPECT_EQ(RectCapacityFor(64, 64), 16u);
    EXPECT_EQ(RectCapacityFor(640, 480), 600u);
    EXPECT_EQ(RectCapacityFor(63, 4000), 16u);
    buffer = QuarvBufferOpen(&window, 0, 320, 200, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->rectCapacity, 125u);
}

TEST_F(BufferOpen, ScreenColoursAndPaletteRanges) {
    struct Case {
        uint32_t bits, planes, reserved;
        bool noStatic;
        uint32_t colours, size, start, end;
    } cases[] = {
        {24, 1, 20, false, 1u << 24, 256, 0, 256}, {32, 1, 20, false, 1u << 24, 256, 0, 256},
        {16, 1, 20, false, 65536, 256, 0, 256},    {8, 1, 20, false, 256, 256, 10, 246},
        {8, 1, 20, true, 256, 256, 1, 255},        {8, 1, 0, false, 256, 256, 0, 256},
        {4, 1, 20, false, 16, 16, 0, 16},          {1, 4, 20, false, 16, 16, 0, 16},
        {24, 1, 20, true, 1u << 24, 256, 1, 255},
    };
    for (const Case& c : cases) {
        MemoryScreenConfig cfg;
        cfg.bitsPerPixel = c.bits;
        cfg.planes = c.planes;
        cfg.reservedEntries = c.reserved;
        cfg.noStatic = c.noStatic;
        for (uint32_t type : {4u, 5u}) {
            Reset(cfg);
            buffer = QuarvBufferOpen(&window, type, 64, 48, 0, 0);
            ASSERT_NE(buffer, nullptr);
            EXPECT_EQ(buffer->screenColours, c.colours) << c.bits << " type " << type;
            EXPECT_EQ(buffer->paletteSize, c.size) << c.bits << " type " << type;
            EXPECT_EQ(buffer->paletteStart, c.start) << c.bits << " type " << type;
            EXPECT_EQ(buffer->paletteEnd, c.end) << c.bits << " type " << type;
            EXPECT_EQ(buffer->freeColours, c.end - c.start) << c.bits << " type " << type;
        }
    }
}

TEST_F(BufferOpen, PaletteStartsAsTheSystemPaletteOnPalettisedScreens) {
    uint8_t rgb[768];
    for (int i = 0; i < 768; i++) rgb[i] = static_cast<uint8_t>(i * 5 + 3);
    MemoryScreenConfig cfg;
    cfg.bitsPerPixel = 8;
    Reset(cfg);
    MemoryScreenSetSystemPalette(rgb);
    buffer = QuarvBufferOpen(&window, 4, 64, 48, 0, 0);
    ASSERT_NE(buffer, nullptr);
    for (int i = 0; i < 256; i++) {
        EXPECT_EQ(buffer->palette[i * 4], rgb[i * 3 + 2]);
        EXPECT_EQ(buffer->palette[i * 4 + 1], rgb[i * 3 + 1]);
        EXPECT_EQ(buffer->palette[i * 4 + 2], rgb[i * 3]);
        EXPECT_EQ(buffer->palette[i * 4 + 3], 0);
    }

    Reset(MemoryScreenConfig{});  // true colour: the palette stays black
    MemoryScreenSetSystemPalette(rgb);
    buffer = QuarvBufferOpen(&window, 4, 64, 48, 0, 0);
    ASSERT_NE(buffer, nullptr);
    for (int i = 0; i < 1024; i++) ASSERT_EQ(buffer->palette[i], 0) << i;
}

TEST_F(BufferOpen, PixelsStartAtIndexZero) {
    for (uint32_t type : {4u, 5u}) {
        buffer = QuarvBufferOpen(&window, type, 100, 30, 0, 0);
        ASSERT_NE(buffer, nullptr);
        for (uint32_t i = 0; i < buffer->pitch * buffer->height; i++) ASSERT_EQ(buffer->pixels[i], 0) << i;
        QuarvBufferClose(buffer);
        buffer = nullptr;
    }
}

TEST_F(BufferOpen, ProcessSetUpRunsOnce) {
    MemoryScreenConfig cfg;
    cfg.windowsMajor = 3;
    Reset(cfg);
    QuarvBuffer* a = QuarvBufferOpen(&window, 4, 64, 48, 0, 0);
    QuarvBuffer* b = QuarvBufferOpen(&window, 5, 64, 48, 0, 0);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(MemoryScreenStatsNow().systemPaletteClears, 1);
    EXPECT_EQ(DisplayMemoryAddress(), 0xB0000u);
    QuarvBufferClose(a);
    QuarvBufferClose(b);

    Reset(MemoryScreenConfig{});
    buffer = QuarvBufferOpen(&window, 4, 64, 48, 0, 0);
    EXPECT_EQ(DisplayMemoryAddress(), 0xA0000u);
    // The shared header's colour slots hold the identity indices.
    const auto* slots = reinterpret_cast<const uint16_t*>(SharedHeaderForTests()->colours);
    for (int i = 0; i < 256; i++) ASSERT_EQ(slots[i], i);
}

TEST_F(BufferOpen, DibSectionHeader) {
    buffer = QuarvBufferOpen(&window, 5, 100, 30, 0, 0);
    ASSERT_NE(buffer, nullptr);
    const SharedBitmapHeader* h = SharedHeaderForTests();
    EXPECT_EQ(h->size, 40u);
    EXPECT_EQ(h->width, 104);
    EXPECT_EQ(h->height, -30);
    EXPECT_EQ(h->planes, 1);
    EXPECT_EQ(h->bitCount, 8);
    EXPECT_EQ(h->compression, 0u);
}

TEST_F(BufferOpen, WinGOrientationComesFromItsRecommendation) {
    MemoryScreenConfig cfg = Screen(24, false, true);
    cfg.wingHeight = 1;  // bottom-up
    Reset(cfg);
    buffer = QuarvBufferOpen(&window, 5, 100, 30, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->bottomUp, 1u);
    EXPECT_EQ(SharedHeaderForTests()->height, 30);
    cfg.wingHeight = -1;
    Reset(cfg);
    buffer = QuarvBufferOpen(&window, 5, 100, 30, 0, 0);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->bottomUp, 0u);
    EXPECT_EQ(SharedHeaderForTests()->height, -30);
}

TEST_F(BufferOpen, FailuresLeaveNothingBehind) {
    MemoryScreenConfig cfg;
    cfg.failBitmap = true;
    Reset(cfg);
    EXPECT_EQ(QuarvBufferOpen(&window, 5, 64, 48, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(&window, 0, 64, 48, 0, 0), nullptr);  // no fallback once type 5 was chosen

    Reset(MemoryScreenConfig{});
    // A countdown of n lets n allocations through.
    for (int32_t countdown = 0; countdown <= 1; countdown++) {
        SetAllocFailCountdown(countdown);
        QuarvBuffer* b = QuarvBufferOpen(&window, 4, 64, 48, 0, 0);
        SetAllocFailCountdown(-1);
        EXPECT_EQ(b, nullptr) << countdown;  // the record, then the pixels
    }
    SetAllocFailCountdown(2);
    buffer = QuarvBufferOpen(&window, 4, 64, 48, 0, 0);
    SetAllocFailCountdown(-1);
    EXPECT_NE(buffer, nullptr);
}
