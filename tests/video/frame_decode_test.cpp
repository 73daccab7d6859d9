// The frame decoder: block kinds, runs across block rows, the four writer
// sets, target geometries and the ChangeMap.
#include <gtest/gtest.h>

#include <random>

#include "tests/video/decode_rig.h"

using namespace vtest;

namespace {

// Pixel (x, y) of an 8-bit top-down picture bound at (0, 0).
struct Expect {
    Rig& rig;
    void Block(uint32_t bx, uint32_t by, uint8_t v) {
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(rig.At(4 * bx + x, 4 * by + y), v) << "block " << bx << "," << by;
    }
};

}  // namespace

TEST(FrameDecode, TwoColorMasksPickTheHighColourPerBit) {
    for (uint32_t level : {1u, 2u}) {
        Rig rig(8, 4);
        rig.Bind(0, 0, 16, 4, 0);
        rig.Play(Script().Run(kTwoColorRun, 2).TwoColor(0xB0A0, 0x0001).TwoColor(0xB0A0, 0x8000), level);
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 8; ++x) {
                const bool high = (x == 0 && y == 0) || (x == 7 && y == 3);
                EXPECT_EQ(rig.At(x, y), high ? 0xB0 : 0xA0) << x << "," << y;
            }
        EXPECT_EQ(rig.At(8, 0), 0xEE);  // past the movie's width
    }
    // Bits 4r..4r+3 are row r, bit 0 of each nibble the leftmost pixel.
    Rig rig(4, 4);
    rig.Bind(0, 0, 4, 4, 0);
    rig.Play(Script().Run(kTwoColorRun, 1).TwoColor(0x0201, 0x8421));
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(rig.At(x, y), x == y ? 2 : 1) << x << "," << y;
}

TEST(FrameDecode, FullBlockRowTakesItsRightHalfFromTheFirstValue) {
    Rig rig(4, 4);
    rig.Bind(0, 0, 4, 4, 0);
    Script s;
    s.Run(kFullRun, 1).Put(kFullTree, 0x2211).Put(kFullTree, 0x4433);
    s.FullRow(1, 2, 3, 4).FullRow(5, 6, 7, 8).FullRow(9, 10, 11, 12);
    rig.Play(s);
    const uint8_t expect[4][4] = {{0x33, 0x44, 0x11, 0x22}, {1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
    for (uint32_t y = 0; y < 4; ++y)
        for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(rig.At(x, y), expect[y][x]);
}

TEST(FrameDecode, RunsEndAtRowEndsAndCrossRows) {
    // 4 blocks per row, 3 block rows.
    for (uint32_t level : {1u, 2u}) {
        Rig rig(16, 12);
        rig.Bind(0, 0, 16, 12, 0);
        Script s;
        s.Run(kSolidRun, 4, 1);                               // row 0, ending at its end
        s.Run(kSolidRun, 3, 2);                               // row 1, columns 0-2
        s.Run(kFullRun, 2).FullBlock(3).FullBlock(4);         // row 1 col 3, row 2 col 0
        s.Run(kTwoColorRun, 2).TwoColor(0x0505, 0).TwoColor(0x0606, 0xFFFF);  // row 2 cols 1-2
        s.Run(kSkipRun, 1);                                   // row 2 col 3
        rig.Play(s, level);
        Expect e{rig};
        for (uint32_t c = 0; c < 4; ++c) e.Block(c, 0, 1);
        for (uint32_t c = 0; c < 3; ++c) e.Block(c, 1, 2);
        e.Block(3, 1, 3);
        e.Block(0, 2, 4);
        e.Block(1, 2, 5);
        e.Block(2, 2, 6);
        e.Block(3, 2, 0xEE);
    }
}

TEST(FrameDecode, SkipOverTheWholeFrameChangesNothing) {
    Rig rig(64, 48);
    rig.Bind(0, 0, 64, 48, 0, 0x5C);
    // First a frame that draws everything, so the map starts all 1.
    rig.Play(Script().Run(kSolidRun, 128, 1).Run(kSolidRun, 59, 1).Run(kSolidRun, 5, 1));
    for (uint32_t g = 0; g < 12; ++g) EXPECT_EQ(rig.Target()->ChangeMap()[g], 1) << g;
    std::vector<uint8_t> before = rig.buffer;
    rig.Play(Script().Run(kSkipRun, 128).Run(kSkipRun, 128));
    EXPECT_EQ(rig.buffer, before);
    for (uint32_t g = 0; g < 12; ++g) EXPECT_EQ(rig.Target()->ChangeMap()[g], 0) << g;
}

TEST(FrameDecode, SolidRunOf2048BlocksFillsAcrossBlockRows) {
    Rig rig(320, 240);
    rig.Bind(0, 0, 320, 240, 0);
    rig.Play(Script().Run(kSolidRun, 2048, 9).Run(kSkipRun, 2048).Run(kSkipRun, 1024));
    // 2048 = 25 rows of 80 blocks and 48 blocks of row 25.
    Expect e{rig};
    e.Block(79, 24, 9);
    e.Block(47, 25, 9);
    e.Block(48, 25, 0xEE);
    e.Block(0, 26, 0xEE);
    size_t nine = 0;
    for (uint8_t b : rig.buffer) nine += b == 9;
    EXPECT_EQ(nine, 2048u * 16);
}

TEST(FrameDecode, ColumnsAndRowsPastTheLastWholeBlockAreNeverWritten) {
    for (uint32_t level : {1u, 2u}) {
        Rig rig(322, 242);
        rig.Bind(0, 0, 322, 242, 0);
        EXPECT_EQ(rig.Target()->BlocksPerRow, 80u);
        EXPECT_EQ(rig.Target()->BlockRows, 60u);
        rig.Play(Script().Run(kSolidRun, 2048, 7).Run(kSolidRun, 2048, 7).Run(kSolidRun, 1024, 7), level);
        for (uint32_t y = 0; y < 242; ++y)
            for (uint32_t x = 0; x < 322; ++x)
                ASSERT_EQ(rig.At(x, y), (x < 320 && y < 240) ? 7 : 0xEE) << x << "," << y;
        EXPECT_TRUE(rig.GuardsIntact());
    }
}

TEST(FrameDecode, FinalRunPastTheLastBlockEndsTheFrame) {
    Rig rig(8, 8);  // 4 blocks
    rig.Bind(0, 0, 8, 8, 0);
    // A 59-block two-colour run: only 4 blocks' values are read, so the
    // values after them (which would paint 0x77) never are.
    Script s;
    s.Run(kTwoColorRun, 59);
    for (int i = 0; i < 4; ++i) s.TwoColor(0x0303, 0);
    for (int i = 0; i < 8; ++i) s.TwoColor(0x7777, 0);
    rig.Play(s);
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(rig.At(x, y), 3);
    // The run counted 59 blocks: group marks past the frame's one group are
    // dropped, within the map's room.
    EXPECT_EQ(rig.Target()->ChangeMap()[0], 1);
    EXPECT_TRUE(rig.GuardsIntact());
}

TEST(FrameDecode, ChangeMapMarksGroupsOfSixteenBlocks) {
    Rig rig(64, 48);  // 192 blocks, 12 groups
    rig.Bind(0, 0, 64, 48, 0);
    rig.Play(Script().Run(kSolidRun, 128, 1).Run(kSolidRun, 59, 1).Run(kSolidRun, 5, 1));
    // 20 skipped, then 1 solid: the first group was skipped whole, the
    // second holds the solid block.
    rig.Play(Script().Run(kSkipRun, 20).Run(kSolidRun, 1, 4).Run(kSkipRun, 128).Run(kSkipRun, 43));
    const uint8_t* map = rig.Target()->ChangeMap();
    EXPECT_EQ(map[0], 0);
    EXPECT_EQ(map[1], 1);
    for (uint32_t g = 2; g < 12; ++g) EXPECT_EQ(map[g], 0) << g;
    // A drawn run entering a group marks it at once, even if skips follow.
    rig.Play(Script().Run(kSkipRun, 31).Run(kSolidRun, 2, 4).Run(kSkipRun, 128).Run(kSkipRun, 31));
    EXPECT_EQ(map[0], 0);
    EXPECT_EQ(map[1], 1);
    EXPECT_EQ(map[2], 1);
    EXPECT_EQ(map[3], 0);
}

TEST(FrameDecode, FinalSkipRunClosesAPartlyCoveredGroup) {
    Rig rig(40, 8);  // 20 blocks: group 1 holds blocks 16-19 only
    rig.Bind(0, 0, 40, 8, 0);
    rig.Play(Script().Run(kSolidRun, 20, 1));
    EXPECT_EQ(rig.Target()->ChangeMap()[1], 1);
    rig.Play(Script().Run(kSolidRun, 1, 2).Run(kSkipRun, 19));
    EXPECT_EQ(rig.Target()->ChangeMap()[0], 1);
    EXPECT_EQ(rig.Target()->ChangeMap()[1], 0);
}

TEST(FrameDecode, DoubledAndInterlacedTargets) {
    Script s;
    s.Run(kFullRun, 1).FullRow(1, 1, 1, 1).FullRow(2, 2, 2, 2).FullRow(3, 3, 3, 3).FullRow(4, 4, 4, 4);
    s.Run(kSolidRun, 1, 9);
    {
        // Doubled: each decoded row on two adjacent lines, 8 lines per band.
        Rig rig(4, 16, OPEN_Y_DOUBLE);  // the header height is already doubled
        rig.Bind(0, 0, 4, 16, 0);
        EXPECT_EQ(rig.Target()->Doubled, 1);
        rig.Play(s);
        for (uint32_t line = 0; line < 16; ++line)
            EXPECT_EQ(rig.At(0, line), line < 8 ? 1 + line / 2 : 9) << line;
    }
    {
        // Interlaced: decoded rows on every other line; the others untouched.
        Rig rig(4, 16, OPEN_Y_INTERLACE);
        rig.Bind(0, 0, 4, 16, 0);
        EXPECT_EQ(rig.Target()->Doubled, 0);
        rig.Play(s);
        for (uint32_t line = 0; line < 16; ++line) {
            const uint8_t expect = line % 2 ? 0xEE : (line < 8 ? 1 + line / 2 : 9);
            EXPECT_EQ(rig.At(2, line), expect) << line;
        }
    }
}

TEST(FrameDecode, SixteenBitTargetsWriteColorTableEntries) {
    uint16_t colors[256];
    for (int i = 0; i < 256; ++i) colors[i] = static_cast<uint16_t>(0x8000 | i * 0x21);
    Script s;
    s.Run(kTwoColorRun, 1).TwoColor(0x0504, 0x0001);
    s.Run(kFullRun, 1).FullRow(10, 11, 12, 13).FullRow(14, 15, 16, 17).FullRow(18, 19, 20, 21).FullRow(22, 23, 24, 25);
    s.Run(kSolidRun, 1, 200);
    for (uint32_t flags : {0x80000000u, 0xC0000000u}) {
        for (bool doubled : {false, true}) {
            Rig rig(12, doubled ? 8 : 4, doubled ? OPEN_Y_DOUBLE : 0);
            rig.Bind(0, 0, 24, doubled ? 8 : 4, flags);
            EXPECT_EQ(rig.Target()->PixelFormat, flags >> 24);
            rig.Play(s, doubled ? 2 : 1, colors);
            for (uint32_t line = 0; line < (doubled ? 8u : 4u); ++line) {
                const uint32_t row = doubled ? line / 2 : line;
                EXPECT_EQ(rig.At16(0, line), colors[row == 0 ? 5 : 4]) << line;
                EXPECT_EQ(rig.At16(3, line), colors[4]);
                for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(rig.At16(4 + x, line), colors[10 + 4 * row + x]);
                for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(rig.At16(8 + x, line), colors[200]);
            }
            EXPECT_TRUE(rig.GuardsIntact());
        }
    }
}

TEST(FrameDecode, BottomUpBufferGetsTheTopRowOnItsLastLine) {
    Rig rig(4, 8);
    rig.Bind(2, 1, 8, 12, kBufferBottomUp);  // movie at x 2, y 1 of a 12-line buffer
    Script s;
    s.Run(kFullRun, 1).FullRow(1, 1, 1, 1).FullRow(2, 2, 2, 2).FullRow(3, 3, 3, 3).FullRow(4, 4, 4, 4);
    s.Run(kSolidRun, 1, 5);
    rig.Play(s);
    // Movie row y sits on memory line 12 - 1 - 1 - y.
    for (uint32_t y = 0; y < 8; ++y) EXPECT_EQ(rig.At(2, 10 - y), y < 4 ? 1 + y : 5) << y;
    EXPECT_EQ(rig.At(2, 11), 0xEE);
    EXPECT_EQ(rig.At(1, 10), 0xEE);
    EXPECT_EQ(rig.At(6, 10), 0xEE);
}

namespace {

// A random frame of all four kinds over a 40 x 24 movie.
Script RandomFrame(std::mt19937& rng) {
    Script s;
    int left = 60;
    while (left > 0) {
        const uint32_t kind = rng() % 4;
        const uint32_t n = 1 + rng() % (left < 12 ? left : 12);
        s.Run(kind, n, kind == kSolidRun ? rng() % 256 : 0);
        for (uint32_t b = 0; b < n; ++b) {
            if (kind == kTwoColorRun) s.TwoColor(rng() % 65536, rng() % 65536);
            if (kind == kFullRun)
                for (int r = 0; r < 4; ++r) s.Put(kFullTree, rng() % 65536).Put(kFullTree, rng() % 65536);
        }
        left -= static_cast<int>(n);
    }
    return s;
}

}  // namespace

TEST(FrameDecode, WriterSetsAndReadersAgree) {
    std::mt19937 rng(2024);
    uint16_t colors[256];
    for (int i = 0; i < 256; ++i) colors[i] = static_cast<uint16_t>(i * 257 + 3);
    for (int iter = 0; iter < 20; ++iter) {
        Script s = RandomFrame(rng);
        TreePlan trees[4];
        std::vector<uint8_t> stream;
        s.Make(trees, &stream);

        Rig plain(40, 24);
        plain.Bind(0, 0, 40, 24, 0);
        plain.UseTrees(trees);
        plain.Decode(stream, 1);
        // The same over another background tells the pixels never written.
        Rig other(40, 24);
        other.Bind(0, 0, 40, 24, 0, 0x11);
        other.UseTrees(trees);
        other.Decode(stream, 1);
        Rig wide(40, 24);
        wide.Bind(0, 0, 40, 24, 0);
        wide.UseTrees(trees);
        wide.Decode(stream, 2);
        ASSERT_EQ(plain.buffer, wide.buffer);

        // 16-bit: the colour of every 8-bit pixel; doubled: each line twice.
        Rig w16(40, 24);
        w16.Bind(0, 0, 80, 24, 0xC0000000u);
        w16.UseTrees(trees);
        w16.Decode(stream, 1, colors);
        Rig dbl(40, 48, OPEN_Y_DOUBLE);
        dbl.Bind(0, 0, 40, 48, 0);
        dbl.UseTrees(trees);
        dbl.Decode(stream, 2);
        for (uint32_t y = 0; y < 24; ++y)
            for (uint32_t x = 0; x < 40; ++x) {
                const uint8_t p = plain.At(x, y);
                const uint16_t expect = p != other.At(x, y) ? 0xEEEE : colors[p];
                ASSERT_EQ(w16.At16(x, y), expect);
                ASSERT_EQ(dbl.At(x, 2 * y), p);
                ASSERT_EQ(dbl.At(x, 2 * y + 1), p);
            }
        ASSERT_EQ(0, std::memcmp(plain.Target()->ChangeMap(), wide.Target()->ChangeMap(), 4));
    }
}

TEST(FrameDecode, DataEndingEarlyGivesZerosNotOverreads) {
    std::mt19937 rng(5);
    Script s = RandomFrame(rng);
    TreePlan trees[4];
    std::vector<uint8_t> stream;
    s.Make(trees, &stream);
    for (size_t cut = 0; cut <= stream.size(); cut += 1 + stream.size() / 17) {
        std::vector<uint8_t> part(stream.begin(), stream.begin() + cut);
        for (uint32_t level : {1u, 2u}) {
            Rig rig(40, 24);
            rig.Bind(0, 0, 40, 24, 0);
            rig.UseTrees(trees);
            rig.Decode(part, level);
            EXPECT_TRUE(rig.GuardsIntact());
        }
    }
}

TEST(FrameDecode, MovieWithoutBlocksDecodesNothing) {
    Rig rig(3, 3);
    rig.Bind(0, 0, 4, 3, 0);
    rig.Play(Script().Run(kSolidRun, 59, 1));
    for (uint8_t b : rig.buffer) EXPECT_EQ(b, 0xEE);
}

TEST(FrameDecode, ProbesTheProcessorOnFirstUse) {
    Rig rig(4, 4);
    rig.Bind(0, 0, 4, 4, 0);
    TreePlan trees[4];
    std::vector<uint8_t> stream;
    Script().Run(kSolidRun, 1, 3).Make(trees, &stream);
    rig.UseTrees(trees);
    const uint32_t savedLevel = MmxLevel, savedState = MmxState;
    MmxLevel = 0;
    MmxState = 0;
    DecodeFrame(stream.data(), static_cast<uint32_t>(stream.size()), rig.tables.get(), rig.Target(), nullptr);
    EXPECT_NE(MmxState & 2, 0u);
    EXPECT_EQ(MmxLevel, MmxState == 3 ? 2u : 1u);
    EXPECT_EQ(rig.At(0, 0), 3);
    MmxLevel = savedLevel;
    MmxState = savedState;
}
