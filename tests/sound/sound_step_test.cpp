// Track set-up and the per-frame sound step, against a fake driver that
// takes nothing unless the test drains the ring by hand.
#include <gtest/gtest.h>

#include "movie/sound_unpack.h"
#include "sound/headless/headless_driver.h"
#include "tests/sound/sound_fixture.h"
#include "tests/sound/sound_pack.h"

using soundtest::FakeDriver;
using soundtest::Format;
using soundtest::Queued;
using soundtest::Ramp;
using soundtest::TestMovie;

namespace {

// Takes n bytes from the ring as a driver would.
void Drain(SoundTrack* t, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) {
        if (++t->ReadPos == t->RingEnd) t->ReadPos = t->RingStart;
    }
    RingCountSub(t, n);
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// 8000 Hz 8-bit mono at 10 frames per second: 800 bytes per frame, a
// 12288-byte ring ((1600 + 8000 + 4095) rounded down to 4096s).
constexpr uint32_t kTenFps = 10000;

TEST(SetUpTrack, SizesA22050HzSixteenBitStereoTrack) {
    FakeDriver driver;
    TestMovie mv(6666);
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true, true), 94080));
    SoundTrack* t = mv.track(0);
    EXPECT_EQ(t->BytesPerSecond, 88200u);
    EXPECT_EQ(t->FrameBytes, 6020517u);
    EXPECT_EQ(t->RingSize, 102400u);
    EXPECT_EQ(t->RingEnd - t->RingStart, 102400);
    EXPECT_EQ(t->LateMark, 88200u * 512);
    EXPECT_EQ(t->Lead, 94080u);
    EXPECT_EQ(t->Rate, 22050u);
    EXPECT_EQ(t->Bits16, 1u);
    EXPECT_EQ(t->Stereo, 1u);
    EXPECT_EQ(t->ReadPos, t->RingStart);
    EXPECT_EQ(t->WritePos, t->RingStart);
    EXPECT_EQ(t->Count, 0u);
    EXPECT_EQ(mv.m->TimingTrack, 0);
    EXPECT_EQ(OpenTrackCount, 1u);
    // Record, scratch and ring are all counted against the movie.
    EXPECT_EQ(mv.m->MemUsed, sizeof(SoundTrack) + 8192 + 102400);
}

TEST(SetUpTrack, RingSizesAndLeadRounding) {
    FakeDriver driver;
    {
        TestMovie mv(6666);
        ASSERT_TRUE(mv.AddTrack(0, Format(11025, false, false), 1003));
        EXPECT_EQ(mv.track(0)->BytesPerSecond, 11025u);
        EXPECT_EQ(mv.track(0)->FrameBytes, 752564u);
        EXPECT_EQ(mv.track(0)->RingSize, 16384u);
        EXPECT_EQ(mv.track(0)->Lead, 1000u);
        EXPECT_EQ(mv.track(0)->Bits16, 0u);
        EXPECT_EQ(mv.track(0)->Stereo, 0u);
    }
    {
        // Untimed, slow: the ring is never below two pages.
        TestMovie mv(0);
        ASSERT_TRUE(mv.AddTrack(0, Format(1000, false, false)));
        EXPECT_EQ(mv.track(0)->FrameBytes, 0u);
        EXPECT_EQ(mv.track(0)->RingSize, 8192u);
    }
    {
        // A lead beyond the ring could never be replayed from it.
        TestMovie mv(6666);
        ASSERT_TRUE(mv.AddTrack(0, Format(11025, false, false), 200000));
        EXPECT_EQ(mv.track(0)->Lead, 16384u);
    }
}

TEST(SetUpTrack, RefusesAbsentTracksAndDriverFailures) {
    FakeDriver driver;
    TestMovie mv;
    EXPECT_FALSE(mv.AddTrack(0, 22050 | kTrackBits16));  // present bit clear
    EXPECT_FALSE(mv.AddTrack(1, kTrackPresent));         // rate 0
    EXPECT_EQ(driver.opens, 0);
    EXPECT_EQ(mv.m->MemUsed, 0u);

    driver.refuse = true;
    EXPECT_FALSE(mv.AddTrack(2, Format(22050, false, false)));
    EXPECT_EQ(driver.opens, 1);
    // The ring went back; the shared scratch stays until the last close.
    EXPECT_EQ(mv.m->MemUsed, 8192u);
    EXPECT_EQ(OpenTrackCount, 0u);
    EXPECT_EQ(mv.m->TimingTrack, -1);

    // The first track that sets up paces the picture.
    driver.refuse = false;
    ASSERT_TRUE(mv.AddTrack(3, Format(22050, false, false)));
    ASSERT_TRUE(mv.AddTrack(4, Format(22050, false, false)));
    EXPECT_EQ(mv.m->TimingTrack, 3);
    EXPECT_EQ(OpenTrackCount, 2u);
}

TEST(SetUpTrack, PassesTheOpenFlagsAsTheyStand) {
    FakeDriver driver;
    TestMovie mv;
    mv.m->OpenFlags = OPEN_PAN_CONTROL;
    ASSERT_TRUE(mv.AddTrack(1, Format(22050, false, false)));
    EXPECT_EQ(driver.lastFlags, static_cast<uint32_t>(OPEN_PAN_CONTROL));
    ASSERT_TRUE(mv.AddTrack(5, Format(22050, false, false)));
    EXPECT_EQ(driver.lastFlags, static_cast<uint32_t>(OPEN_PAN_CONTROL | OPEN_TRACK1));
}

TEST(SetUpTrack, AllocationFailuresFailTheTrack) {
    FakeDriver driver;
    TestMovie mv;
    mv.m->Track[0] = static_cast<SoundTrack*>(MovieAllocZero(mv.m, sizeof(SoundTrack)));
    mv.m->Header.TrackFormat[0] = Format(22050, false, false);
    SetAllocFailCountdown(0);  // the scratch
    EXPECT_FALSE(SetUpTrack(mv.m, 0));
    SetAllocFailCountdown(1);  // scratch given, the ring refused
    EXPECT_FALSE(SetUpTrack(mv.m, 0));
    SetAllocFailCountdown(-1);
    EXPECT_EQ(driver.opens, 0);
    EXPECT_EQ(OpenTrackCount, 0u);
    EXPECT_TRUE(SetUpTrack(mv.m, 0));
}

TEST(SetUpTrack, InstallsTheDefaultDriverWhenNoneIs) {
    UninstallSoundDriver();
    {
        TestMovie mv;
        ASSERT_TRUE(mv.AddTrack(0, Format(22050, false, false)));
        EXPECT_NE(SoundDriverTable.open_track, nullptr);
        EXPECT_EQ(HeadlessOpenTracks(), 1u);
    }
    EXPECT_EQ(HeadlessOpenTracks(), 0u);
    UninstallSoundDriver();
}

TEST(CloseTracks, FreesTheScratchWithTheLastTrackOfTheProcess) {
    FakeDriver driver;
    const uint32_t ring = 16384;  // 11025 Hz mono at 15 fps
    const uint32_t record = sizeof(SoundTrack);
    TestMovie a;
    ASSERT_TRUE(a.AddTrack(0, Format(11025, false, false)));
    EXPECT_EQ(a.m->MemUsed, record + 8192 + ring);
    {
        TestMovie b;
        ASSERT_TRUE(b.AddTrack(0, Format(11025, false, false)));
        EXPECT_EQ(b.m->MemUsed, record + ring);  // the scratch is shared
        CloseTracks(a.m);
        EXPECT_EQ(a.m->Track[0], nullptr);
        EXPECT_EQ(a.m->TimingTrack, -1);
        EXPECT_EQ(driver.closes, 1);
        TestMovie c;
        ASSERT_TRUE(c.AddTrack(0, Format(11025, false, false)));
        EXPECT_EQ(c.m->MemUsed, record + ring);  // b still holds a track
    }
    EXPECT_EQ(OpenTrackCount, 0u);
    TestMovie d;
    ASSERT_TRUE(d.AddTrack(0, Format(11025, false, false)));
    EXPECT_EQ(d.m->MemUsed, record + 8192 + ring);  // allocated afresh
}

struct SoundStepTest : ::testing::Test {
    FakeDriver driver;
    TestMovie mv{kTenFps};
    SoundTrack* t = nullptr;
    void SetUp() override {
        ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false), 1000));
        t = mv.track(0);
        ASSERT_EQ(t->RingSize, 12288u);
        ASSERT_EQ(t->FrameBytes, 800u * 1024);
    }
    void Frame(const std::vector<uint8_t>& pcm) {
        mv.SetChunk(0, soundpack::RawChunk(pcm));
        SoundStep(mv.m);
    }
};

TEST_F(SoundStepTest, RawChunksCopyAcrossTheRingEnd) {
    std::vector<uint8_t> a = Ramp(5000, 0), b = Ramp(5000, 50), c = Ramp(5000, 100);
    Frame(a);
    Frame(b);
    Drain(t, 8000);
    Frame(c);  // 2288 bytes to the ring's end, then 2712 from its start
    EXPECT_EQ(t->WritePos, t->RingStart + 2712);
    EXPECT_EQ(Queued(t), Concat({std::vector<uint8_t>(b.begin() + 3000, b.end()), c}));
    EXPECT_EQ(t->Delivered, 15000u);
    EXPECT_EQ(t->Overflows, 0u);
}

TEST_F(SoundStepTest, AFullRingCutsTheChunk) {
    Frame(Ramp(7000, 0));
    Frame(Ramp(6000, 1));
    EXPECT_EQ(t->Count, 12288u);
    EXPECT_EQ(t->Overflows, 1u);
    EXPECT_EQ(t->Delivered, 12288u);
    EXPECT_EQ(t->WritePos, t->RingStart);
    std::vector<uint8_t> second = Ramp(5288, 1);
    EXPECT_EQ(Queued(t), Concat({Ramp(7000, 0), second}));
    Frame(Ramp(100, 9));
    EXPECT_EQ(t->Overflows, 2u);
    EXPECT_EQ(t->Count, 12288u);
}

TEST_F(SoundStepTest, AnUnderrunIsAnsweredOnceWithSilence) {
    // A still clock, so ClockBase shows the padding alone.
    mv.m->FrameTime = 0;
    t->FrameBytes = 0;
    Frame(Ramp(500, 1));
    Drain(t, 500);
    t->Underrun = 1;  // the device ran dry
    Frame(Ramp(300, 7));
    EXPECT_EQ(t->SoundSkips, 1u);
    EXPECT_EQ(t->UnderrunSeen, 1u);
    EXPECT_EQ(Queued(t), Concat({std::vector<uint8_t>(700, 0x80), Ramp(300, 7)}));
    EXPECT_EQ(t->Delivered, 1500u);
    // The picture waits for the silence.
    EXPECT_EQ(t->ClockBase, 700u);

    // The same underrun seen again is not answered twice.
    Frame(Ramp(300, 9));
    EXPECT_EQ(t->Underrun, 0u);
    EXPECT_EQ(t->UnderrunSeen, 0u);
    EXPECT_EQ(t->SoundSkips, 1u);
    EXPECT_EQ(t->Count, 1300u);

    // A chunk of at least the lead needs no padding.
    t->Underrun = 1;
    Frame(Ramp(1000, 3));
    EXPECT_EQ(t->SoundSkips, 1u);
    EXPECT_EQ(t->UnderrunSeen, 1u);
}

TEST_F(SoundStepTest, UnderrunPaddingStopsAtTheRingsCapacity) {
    Frame(Ramp(6000, 0));
    Frame(Ramp(5988, 0));  // 300 bytes free
    t->Underrun = 1;
    Frame(Ramp(100, 1));
    EXPECT_EQ(t->Count, 12288u);
    EXPECT_EQ(t->SoundSkips, 1u);
    EXPECT_EQ(t->Delivered, 12288u);
    std::vector<uint8_t> q = Queued(t);
    EXPECT_EQ(std::vector<uint8_t>(q.end() - 300, q.end()),
              Concat({std::vector<uint8_t>(200, 0x80), Ramp(100, 1)}));
}

TEST_F(SoundStepTest, NoPaddingBeforeAnySoundWasDelivered) {
    t->Underrun = 1;
    Frame(Ramp(100, 1));
    EXPECT_EQ(t->SoundSkips, 0u);
    EXPECT_EQ(t->Count, 100u);
}

TEST_F(SoundStepTest, ClockAdvancesPerFrameAndFallsBackToDeliveredSound) {
    const uint32_t lateMark0 = 8000 * 512;
    Frame(Ramp(800, 0));
    EXPECT_EQ(mv.m->SyncPending, 1u);
    EXPECT_EQ(t->Clock, 800u * 1024);
    EXPECT_EQ(t->LateMark, lateMark0 + 800 * 1024);
    EXPECT_EQ(t->ClockBase, 0u);
    Frame(Ramp(500, 0));  // due at 1600 bytes, only 1300 delivered
    EXPECT_EQ(t->Clock, 0u);
    EXPECT_EQ(t->ClockBase, 1300u);
    EXPECT_EQ(t->LateMark, lateMark0);
    Frame(Ramp(800, 0));  // due at 2100, 2100 delivered: no pull-back
    EXPECT_EQ(t->Clock, 800u * 1024);
    EXPECT_EQ(t->ClockBase, 1300u);
}

TEST_F(SoundStepTest, ClockIsRebasedBeforeItOutgrows32Bits) {
    t->Delivered = 100000000;  // far ahead, so no pull-back interferes
    t->Clock = 0xFA00000 - 100;
    t->LateMark = 0xFA00000 + 0x100000;
    Frame(Ramp(4, 0));
    EXPECT_EQ(t->Clock, 800u * 1024 - 100);
    EXPECT_EQ(t->LateMark, 0x100000u + 800 * 1024);
    EXPECT_EQ(t->ClockBase, 256000u);
    // Both must be past their marks: a low LateMark holds the rebase off.
    t->Clock = 0xFA00000;
    t->LateMark = 0x2000000 - 800 * 1024;
    Frame(Ramp(4, 0));
    EXPECT_EQ(t->Clock, 0xFA00000u + 800 * 1024);
    EXPECT_EQ(t->ClockBase, 256000u);
}

TEST_F(SoundStepTest, UntimedMovieRaisesNoSync) {
    mv.m->FrameTime = 0;
    Frame(Ramp(8, 0));
    EXPECT_EQ(mv.m->SyncPending, 0u);
}

TEST_F(SoundStepTest, PausedOrSoundlessMoviesAreLeftAlone) {
    mv.m->SoundPaused = 1;
    Frame(Ramp(8, 0));
    EXPECT_EQ(t->Count, 0u);
    EXPECT_EQ(t->Clock, 0u);
    EXPECT_EQ(mv.m->SyncPending, 0u);
    mv.m->SoundPaused = 0;
    mv.m->TimingTrack = -1;
    Frame(Ramp(8, 0));
    EXPECT_EQ(t->Count, 0u);
    mv.m->TimingTrack = 0;
}

TEST_F(SoundStepTest, ServiceRunsBeforeTheFirstWrite) {
    driver.watched = t;
    Frame(Ramp(64, 0));
    ASSERT_EQ(driver.countAtService.size(), 1u);
    EXPECT_EQ(driver.countAtService[0], 0u);
    mv.ClearChunks();
    SoundStep(mv.m);  // nothing to write: no service either
    EXPECT_EQ(driver.services, 1);
}

TEST_F(SoundStepTest, ARawChunkIsReadOnlyAsFarAsTheRecordHoldsIt) {
    std::vector<uint8_t> pcm = Ramp(1000, 0);
    mv.SetChunk(0, soundpack::RawChunk(pcm), 604);  // the record ends 400 bytes early
    SoundStep(mv.m);
    EXPECT_EQ(Queued(t), Ramp(600, 0));
    // A chunk too short for its length word counts as missing.
    mv.SetChunk(0, {8, 0}, 2);
    SoundStep(mv.m);
    EXPECT_EQ(t->NoData, 1u);
    EXPECT_EQ(t->Count, 600u);
}

TEST_F(SoundStepTest, AFrameWithoutTheTimingTracksChunkWritesNoTrack) {
    ASSERT_TRUE(mv.AddTrack(2, Format(8000, false, false)));
    SoundTrack* other = mv.track(2);
    mv.SetChunk(2, soundpack::RawChunk(Ramp(100, 0)));
    SoundStep(mv.m);
    EXPECT_EQ(t->NoData, 1u);
    EXPECT_EQ(other->Count, 0u);
    EXPECT_EQ(other->Delivered, 0u);
    mv.SetChunk(0, soundpack::RawChunk(Ramp(50, 0)));
    SoundStep(mv.m);
    EXPECT_EQ(t->NoData, 0u);
    EXPECT_EQ(t->Count, 50u);
    EXPECT_EQ(other->Count, 100u);
    // Disabled tracks are skipped even when their record and chunk exist.
    mv.m->OpenFlags &= ~static_cast<uint32_t>(OPEN_TRACK2);
    SoundStep(mv.m);
    EXPECT_EQ(other->Count, 100u);
    EXPECT_EQ(t->Count, 100u);
}

struct CompressedStepTest : ::testing::Test {
    FakeDriver driver;
    TestMovie mv{kTenFps};
    SoundTrack* t = nullptr;
    void SetUp() override {
        ASSERT_TRUE(mv.AddTrack(0, Format(8000, true, true, true), 1000));
        t = mv.track(0);
    }
};

TEST_F(CompressedStepTest, UnpacksIntoTheRingAndCountsTheUnpackedSize) {
    std::vector<uint8_t> pcm = Ramp(4000, 3);
    mv.SetChunk(0, soundpack::Chunk(soundpack::Pack(pcm, true, true), 4000));
    SoundStep(mv.m);
    EXPECT_EQ(Queued(t), pcm);
    EXPECT_EQ(t->Delivered, 4000u);
}

TEST_F(CompressedStepTest, APresenceBitOfZeroStillAdvancesTheRing) {
    std::vector<uint8_t> before(t->RingStart, t->RingEnd);
    mv.SetChunk(0, soundpack::Chunk({0x00, 0xFF}, 640));
    SoundStep(mv.m);
    EXPECT_EQ(t->Count, 640u);
    EXPECT_EQ(t->WritePos, t->RingStart + 640);
    EXPECT_EQ(std::vector<uint8_t>(t->RingStart, t->RingEnd), before);
}

TEST_F(CompressedStepTest, ChunksTooShortForTheirHeaderCarryNoSound) {
    std::vector<uint8_t> chunk = soundpack::Chunk(soundpack::Pack(Ramp(400, 0), true, true), 400);
    mv.SetChunk(0, chunk, 7);
    SoundStep(mv.m);
    EXPECT_EQ(t->NoData, 1u);
    EXPECT_EQ(t->Count, 0u);
    // A lying unpacked size is held to the ring's free space.
    chunk[4] = chunk[5] = chunk[6] = chunk[7] = 0xFF;
    mv.SetChunk(0, chunk);
    SoundStep(mv.m);
    EXPECT_EQ(t->Count, t->RingSize);
    EXPECT_EQ(t->Overflows, 1u);
    EXPECT_EQ(std::vector<uint8_t>(t->RingStart, t->RingStart + 400), Ramp(400, 0));
}

}  // namespace
