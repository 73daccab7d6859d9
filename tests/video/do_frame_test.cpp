// QuarvDoFrame: what it records, when it decodes, and the 16-bit colours.
#include <gtest/gtest.h>

#include "common/platform.h"
#include "movie/sound_track.h"
#include "sound/sound_driver.h"
#include "tests/video/decode_rig.h"

using namespace vtest;

namespace {

uint32_t g_now = 0;
uint32_t FakeNow() { return g_now; }

struct ClockGuard {
    explicit ClockGuard(uint32_t start) {
        g_now = start;
        SetClock(FakeNow);
    }
    ~ClockGuard() { SetClock(nullptr); }
};

// 8 x 4: a solid block of colour 5, then a two-colour block 01/02 with only
// its top-left pixel high.
Script TwoBlocks() { return Script().Run(kSolidRun, 1, 5).Run(kTwoColorRun, 1).TwoColor(0x0201, 0x0001); }

}  // namespace

TEST(DoFrame, NullMovieAndReadErrorDoNothing) {
    EXPECT_EQ(QuarvDoFrame(nullptr), 0u);
    Rig rig(8, 4);
    rig.Bind(0, 0, 8, 4, 0);
    rig.movie->ReadError = 1;
    EXPECT_EQ(rig.DoFrame(TwoBlocks()), 0u);
    EXPECT_EQ(rig.movie->FramesDecoded, 0u);
    EXPECT_EQ(rig.movie->FrameDecoded, 0u);
    EXPECT_EQ(rig.At(0, 0), 0xEE);
}

TEST(DoFrame, DecodesAndRecordsTheFrame) {
    ClockGuard clock(1234);
    Rig rig(8, 4);
    rig.Bind(0, 0, 8, 4, 0);
    rig.movie->FrameNum = 7;
    rig.movie->NewPalette = 1;
    rig.movie->PaletteFrame = -1;
    EXPECT_EQ(rig.DoFrame(TwoBlocks()), 0u);
    EXPECT_EQ(rig.At(0, 0), 5);
    EXPECT_EQ(rig.At(4, 0), 2);
    EXPECT_EQ(rig.At(5, 0), 1);
    EXPECT_EQ(rig.movie->FrameStart, 1234u);
    EXPECT_EQ(rig.movie->DecodeStart, 1234u);
    EXPECT_EQ(rig.movie->PlayStart, 1234u);
    EXPECT_EQ(rig.movie->PaletteFrame, 7);
    EXPECT_EQ(rig.movie->FramesDecoded, 1u);
    EXPECT_EQ(rig.movie->FrameDecoded, 1u);

    g_now = 2000;
    rig.movie->NewPalette = 0;
    rig.movie->FrameNum = 8;
    rig.DoFrame(TwoBlocks());
    EXPECT_EQ(rig.movie->PlayStart, 1234u);  // taken once
    EXPECT_EQ(rig.movie->FrameStart, 2000u);
    EXPECT_EQ(rig.movie->PaletteFrame, 7);
    EXPECT_EQ(rig.movie->FramesDecoded, 2u);
}

TEST(DoFrame, WithoutTargetOnlyCounts) {
    Rig rig(8, 4);
    EXPECT_EQ(rig.DoFrame(TwoBlocks()), 0u);
    EXPECT_EQ(rig.movie->FramesDecoded, 1u);
    EXPECT_EQ(rig.movie->FrameDecoded, 0u);
    EXPECT_EQ(rig.movie->FramesSkipped, 0u);
}

TEST(DoFrame, SixteenBitColoursFollowThePalette) {
    Rig rig(8, 4);
    rig.Bind(0, 0, 16, 4, 0xC0000000u);
    for (int i = 0; i < 256; ++i) rig.movie->TargetColorTable[i] = static_cast<uint16_t>(0x1000 + i);
    // No palette seen yet: the target's table is used as it stands.
    rig.DoFrame(TwoBlocks());
    EXPECT_EQ(rig.At16(0, 0), 0x1005);
    EXPECT_EQ(rig.At16(4, 0), 0x1002);
    // Once a palette arrived, the table is rebuilt before every frame.
    rig.movie->PaletteSeen = 1;
    rig.movie->Palette[3 * 5 + 0] = 255;  // colour 5: red
    rig.movie->Palette[3 * 2 + 2] = 255;  // colour 2: blue
    rig.movie->Palette[3 * 1 + 1] = 255;  // colour 1: green
    rig.DoFrame(TwoBlocks());
    EXPECT_EQ(rig.At16(0, 0), 0xF800);
    EXPECT_EQ(rig.At16(4, 0), 0x001F);
    EXPECT_EQ(rig.At16(5, 0), 0x07E0);
    EXPECT_EQ(rig.movie->TargetColorTable[5], 0xF800);
}

namespace {

uint32_t FarAhead(SoundTrack*) { return 1u << 30; }

// A timing track whose sound has played far past every frame.
struct LateSound {
    Rig& rig;
    SoundTrack track{};
    SoundDriver saved = SoundDriverTable;
    explicit LateSound(Rig& r) : rig(r) {
        SoundDriverTable.play_position = FarAhead;
        rig.movie->Track[0] = &track;
        rig.movie->TimingTrack = 0;
        rig.movie->FrameTime = 6666;
    }
    ~LateSound() {
        rig.movie->Track[0] = nullptr;
        rig.movie->TimingTrack = -1;
        SoundDriverTable = saved;
    }
};

}  // namespace

TEST(DoFrame, LateFramesAreSkippedUnlessNeverSkip) {
    Rig rig(8, 4);
    rig.Bind(0, 0, 8, 4, 0);
    LateSound late(rig);
    EXPECT_EQ(rig.DoFrame(TwoBlocks()), 1u);
    EXPECT_EQ(rig.movie->FramesSkipped, 1u);
    EXPECT_EQ(rig.movie->FramesDecoded, 1u);
    EXPECT_EQ(rig.movie->FrameDecoded, 0u);
    EXPECT_EQ(rig.At(0, 0), 0xEE);

    rig.movie->OpenFlags |= OPEN_NEVER_SKIP;
    EXPECT_EQ(rig.DoFrame(TwoBlocks()), 1u);
    EXPECT_EQ(rig.movie->FramesSkipped, 1u);
    EXPECT_EQ(rig.movie->FrameDecoded, 1u);
    EXPECT_EQ(rig.At(0, 0), 5);
}
