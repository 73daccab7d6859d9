// Binding buffers (QuarvToBuffer): geometry, sizes, reuse, the colour table's
// place, and refusals.
#include <gtest/gtest.h>

#include "common/aligned_alloc.h"
#include "tests/video/decode_rig.h"

using namespace vtest;

TEST(Target, GeometryOfTheFourLayouts) {
    uint8_t buf[1];
    {
        Rig rig(64, 48);
        QuarvToBuffer(rig.movie.get(), 8, 2, 100, 60, buf, 0);
        const FrameTarget* t = rig.Target();
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->Start, buf + 2 * 100 + 8);
        EXPECT_EQ(t->BlocksPerRow, 16u);
        EXPECT_EQ(t->BlockRows, 12u);
        EXPECT_EQ(t->NextBlockStep, 296);
        EXPECT_EQ(t->FillStep, 300);
        EXPECT_EQ(t->LineStep, 100);
        EXPECT_EQ(t->RowStep, 336);
        EXPECT_EQ(t->Doubled, 0);
        EXPECT_EQ(t->PixelFormat, 0);
        EXPECT_EQ(rig.movie->TargetLeft, 8);
        EXPECT_EQ(rig.movie->TargetTop, 2);
    }
    {
        // Bottom-up, 16-bit 5-6-5, doubled (the header height is doubled).
        Rig rig(64, 96, OPEN_Y_DOUBLE);
        QuarvToBuffer(rig.movie.get(), 4, 1, 200, 100, buf, 0xC0000001u);
        const FrameTarget* t = rig.Target();
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->Start, buf + 98 * 200 + 8);
        EXPECT_EQ(t->BlockRows, 12u);
        EXPECT_EQ(t->Rows, 48u);
        EXPECT_EQ(t->NextBlockStep, -(7 * 200 + 8));
        EXPECT_EQ(t->FillStep, -1400);
        EXPECT_EQ(t->LineStep, -200);
        EXPECT_EQ(t->RowStep, -1600 - 128);
        EXPECT_EQ(t->Doubled, 1);
        EXPECT_EQ(t->PixelFormat, 0xC0);
    }
    {
        // Interlaced: every other line.
        Rig rig(64, 96, OPEN_Y_INTERLACE);
        QuarvToBuffer(rig.movie.get(), 0, 0, 64, 96, buf, 0x80000000u);
        const FrameTarget* t = rig.Target();
        ASSERT_EQ(t, nullptr);  // 64 pixels of 2 bytes do not fit a 64-byte pitch
        QuarvToBuffer(rig.movie.get(), 0, 0, 128, 96, buf, 0x80000000u);
        t = rig.Target();
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->LineStep, 256);
        EXPECT_EQ(t->FillStep, 768);
        EXPECT_EQ(t->RowStep, 1024 - 128);
        EXPECT_EQ(t->Doubled, 0);
        EXPECT_EQ(t->PixelFormat, 0x80);
    }
}

TEST(Target, SizesAccountingAndRelease) {
    Rig rig(320, 240);
    uint8_t buf[1];
    rig.movie->MemUsed = 1000;
    QuarvToBuffer(rig.movie.get(), 0, 0, 320, 240, buf, 0);
    const uint32_t size8 = rig.movie->TargetSize;
    EXPECT_EQ(rig.movie->MemUsed, 1000 + size8);
    EXPECT_EQ(rig.movie->TargetColorTable, nullptr);
    // Room for the frame's 300 groups and the closing byte.
    EXPECT_GE(rig.Target()->MapRoom, 301u);
    EXPECT_EQ(size8 % 4, 0u);

    QuarvToBuffer(rig.movie.get(), 0, 0, 640, 240, buf, 0x80000000u);
    EXPECT_EQ(rig.movie->TargetSize, size8 + 512);
    EXPECT_EQ(rig.movie->MemUsed, 1000 + size8 + 512);  // the old one was released
    EXPECT_EQ(reinterpret_cast<uint8_t*>(rig.movie->TargetColorTable),
              reinterpret_cast<uint8_t*>(rig.Target()) + size8 + 512 - 512);

    QuarvToBuffer(rig.movie.get(), 0, 0, 640, 240, nullptr, 0);
    EXPECT_EQ(rig.Target(), nullptr);
    EXPECT_EQ(rig.movie->TargetSize, 0u);
    EXPECT_EQ(rig.movie->TargetColorTable, nullptr);
    EXPECT_EQ(rig.movie->MemUsed, 1000u);
    QuarvToBuffer(nullptr, 0, 0, 640, 240, buf, 0);  // ignored
}

TEST(Target, ALargeEnoughTargetIsKeptWithItsContents) {
    Rig rig(320, 240);
    uint8_t buf[1];
    QuarvToBuffer(rig.movie.get(), 0, 0, 640, 240, buf, 0xC0000000u);
    FrameTarget* first = rig.Target();
    uint16_t* table = rig.movie->TargetColorTable;
    for (int i = 0; i < 256; ++i) table[i] = static_cast<uint16_t>(i * 3);
    first->ChangeMap()[7] = 1;

    // 8-bit now: smaller, so the same memory, map and table bytes untouched.
    QuarvToBuffer(rig.movie.get(), 0, 0, 320, 240, buf, 0);
    EXPECT_EQ(rig.Target(), first);
    EXPECT_EQ(rig.movie->TargetColorTable, nullptr);
    EXPECT_EQ(first->ChangeMap()[7], 1);
    // Back to 16-bit in the same memory: the table is where it was.
    QuarvToBuffer(rig.movie.get(), 0, 0, 640, 240, buf, 0x80000000u);
    EXPECT_EQ(rig.Target(), first);
    EXPECT_EQ(rig.movie->TargetColorTable, table);
    EXPECT_EQ(table[100], 300);

    // A bigger movie needs a new target: the table moves with it.
    rig.movie->Header.Width = 640;
    rig.movie->Header.Height = 480;
    QuarvToBuffer(rig.movie.get(), 0, 0, 1280, 480, buf, 0x80000000u);
    ASSERT_NE(rig.Target(), nullptr);
    EXPECT_NE(rig.Target(), first);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(rig.movie->TargetColorTable[i], i * 3);
}

TEST(Target, RefusedLayoutsLeaveNoTarget) {
    uint8_t buf[1];
    struct Case {
        uint32_t width, height;
        int32_t left, top, pitch;
        uint32_t lines;
    } cases[] = {
        {100000, 8, 0, 0, 100000, 8},         // absurd width
        {4096, 40000, 0, 0, 4096, 40000},     // absurd height
        {30000, 30000, 0, 0, 30000, 30000},   // absurd area
        {64, 48, 0, 0, 63, 48},               // wider than the pitch
        {64, 48, 1, 0, 64, 48},               // pushed past the pitch
        {64, 48, 0, 1, 64, 48},               // pushed past the last line
        {64, 48, -1, 0, 100, 48},             // before the first column
        {64, 48, 0, -1, 64, 60},              // before the first line
        {64, 48, 0, 0, -64, 48},              // negative pitch
        {64, 48, 0, 0, 0x7FFFFFFF, 48},       // steps too large for 32 bits
    };
    for (const Case& c : cases) {
        Rig rig(64, 48);
        rig.movie->MemUsed = 100;
        QuarvToBuffer(rig.movie.get(), 0, 0, 256, 256, buf, 0);
        ASSERT_NE(rig.Target(), nullptr);
        rig.movie->Header.Width = c.width;
        rig.movie->Header.Height = c.height;
        QuarvToBuffer(rig.movie.get(), c.left, c.top, c.pitch, c.lines, buf, 0);
        EXPECT_EQ(rig.Target(), nullptr) << c.width << "x" << c.height << " pitch " << c.pitch;
        EXPECT_EQ(rig.movie->MemUsed, 100u);
    }
}

TEST(Target, AllocationFailureReleasesTheOldTarget) {
    Rig rig(64, 48);
    uint8_t buf[1];
    QuarvToBuffer(rig.movie.get(), 0, 0, 64, 48, buf, 0);
    ASSERT_NE(rig.Target(), nullptr);
    SetAllocFailCountdown(0);
    QuarvToBuffer(rig.movie.get(), 0, 0, 128, 48, buf, 0x80000000u);
    SetAllocFailCountdown(-1);
    EXPECT_EQ(rig.Target(), nullptr);
    EXPECT_EQ(rig.movie->TargetSize, 0u);
    EXPECT_EQ(rig.movie->MemUsed, 0u);
}
