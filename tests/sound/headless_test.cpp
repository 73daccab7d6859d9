// The headless back-end end to end with the sound step: frames of sound go
// into the rings, the model device takes them at the track's rate on a clock
// the test moves, and what it recorded is compared with what was sent.
#include <gtest/gtest.h>

#include <random>

#include "sound/headless/headless_driver.h"
#include "tests/sound/sound_fixture.h"
#include "tests/sound/sound_pack.h"

using soundtest::FakeMs;
using soundtest::Format;
using soundtest::Ramp;
using soundtest::TestMovie;

namespace {

struct HeadlessTest : ::testing::Test {
    void SetUp() override {
        UninstallSoundDriver();
        InstallHeadlessSoundDriver();
        HeadlessRecord(true);
        HeadlessTakeClosedRecordings();
        FakeMs() = 5000;
        SetClock(soundtest::FakeClock);
    }
    void TearDown() override {
        SetClock(nullptr);
        HeadlessRecord(false);
        HeadlessSetInstant(false);
        HeadlessFailResume(false);
        HeadlessFailOpens(0);
        UninstallSoundDriver();
    }
    static uint32_t Position(SoundTrack* t) { return SoundDriverTable.play_position(t); }
};

// 8000 Hz 8-bit mono at 10 frames per second: 800 bytes per frame.
TEST_F(HeadlessTest, PlaysEveryByteInOrderAtTheTracksRate) {
    TestMovie mv(10000);
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false), 1600));
    SoundTrack* t = mv.track(0);
    std::vector<uint8_t> sent;
    for (int f = 0; f < 20; f++) {
        std::vector<uint8_t> pcm = Ramp(f == 0 ? 1600 : 800, static_cast<uint8_t>(f * 7));
        sent.insert(sent.end(), pcm.begin(), pcm.end());
        mv.SetChunk(0, soundpack::RawChunk(pcm));
        SoundStep(mv.m);
        // 1600 bytes lead, 800 more per frame: the device at 8000 bytes per
        // second has taken exactly 800 per 100 ms.
        EXPECT_EQ(Position(t), 800u * f);
        FakeMs() += 100;
    }
    FakeMs() += 50;
    EXPECT_EQ(Position(t), 800u * 20 + 400);
    EXPECT_EQ(HeadlessUnderruns(t), 0u);
    FakeMs() += 1000;
    EXPECT_EQ(Position(t), static_cast<uint32_t>(sent.size()));
    EXPECT_EQ(*HeadlessRecording(t), sent);
    EXPECT_EQ(t->Underrun, 1u);  // it ran dry at the end
    CloseTracks(mv.m);
    std::vector<std::vector<uint8_t>> closed = HeadlessTakeClosedRecordings();
    ASSERT_EQ(closed.size(), 1u);
    EXPECT_EQ(closed[0], sent);
}

TEST_F(HeadlessTest, AnUnderrunInsertsSilenceAndThePictureWaitsForIt) {
    TestMovie mv(10000);
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false), 1600));
    SoundTrack* t = mv.track(0);
    mv.SetChunk(0, soundpack::RawChunk(Ramp(1600, 0)));
    SoundStep(mv.m);
    FakeMs() += 300;  // the player stalls: 2400 bytes wanted, 1600 there
    QuarvSoundService();
    EXPECT_EQ(t->Underrun, 1u);
    EXPECT_EQ(HeadlessUnderruns(t), 1u);
    EXPECT_EQ(Position(t), 1600u);
    mv.SetChunk(0, soundpack::RawChunk(Ramp(800, 100)));
    SoundStep(mv.m);
    EXPECT_EQ(t->SoundSkips, 1u);
    FakeMs() += 1000;
    std::vector<uint8_t> want = Ramp(1600, 0);
    want.insert(want.end(), 800, 0x80);  // the lead minus the chunk
    std::vector<uint8_t> chunk = Ramp(800, 100);
    want.insert(want.end(), chunk.begin(), chunk.end());
    EXPECT_EQ(Position(t), 3200u);
    EXPECT_EQ(*HeadlessRecording(t), want);
}

TEST_F(HeadlessTest, PauseStopsTheDeviceAndResetRestartsThePosition) {
    TestMovie mv(0);
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false)));
    SoundTrack* t = mv.track(0);
    mv.SetChunk(0, soundpack::RawChunk(Ramp(4000, 0)));
    SoundStep(mv.m);
    FakeMs() += 100;
    EXPECT_EQ(Position(t), 800u);
    SoundDriverTable.pause(t);
    FakeMs() += 200;
    EXPECT_EQ(Position(t), 800u);
    EXPECT_EQ(t->Count, 3200u);
    ASSERT_TRUE(SoundDriverTable.resume(t));
    FakeMs() += 50;  // no backlog from the paused time
    EXPECT_EQ(Position(t), 1200u);
    SoundDriverTable.reset(t);
    EXPECT_EQ(Position(t), 0u);
    FakeMs() += 10;
    EXPECT_EQ(Position(t), 80u);
    HeadlessFailResume(true);
    SoundDriverTable.pause(t);
    EXPECT_FALSE(SoundDriverTable.resume(t));
}

TEST_F(HeadlessTest, InstantModeTakesEverythingAtOnce) {
    HeadlessSetInstant(true);
    TestMovie mv(6666);
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true)));
    mv.SetChunk(0, soundpack::RawChunk(Ramp(5000, 1)));
    SoundStep(mv.m);
    EXPECT_EQ(Position(mv.track(0)), 5000u);
    EXPECT_EQ(mv.track(0)->Count, 0u);
}

TEST_F(HeadlessTest, RefusedOpensDropTheTrack) {
    HeadlessFailOpens(1);
    TestMovie mv;
    EXPECT_FALSE(mv.AddTrack(0, Format(8000, false, false)));
    EXPECT_TRUE(mv.AddTrack(1, Format(8000, false, false)));
    EXPECT_EQ(HeadlessOpenTracks(), 1u);
    EXPECT_EQ(mv.m->TimingTrack, 1);
}

// Two compressed tracks of different layouts, played through: each
// recording is that track's sound, continuous across chunks.
TEST_F(HeadlessTest, CompressedTracksComeBackWhole) {
    TestMovie mv(6666);
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true, true)));
    ASSERT_TRUE(mv.AddTrack(3, Format(11025, false, false, true)));
    std::mt19937 rng(99);
    std::vector<uint8_t> sent0, sent3;
    int32_t l = 0, r = 0, m = 128;
    for (int f = 0; f < 30; f++) {
        std::vector<uint8_t> a(f == 0 ? 8820 : 5880), b(f == 0 ? 1470 : 735);
        for (size_t i = 0; i < a.size(); i += 4) {
            l += static_cast<int32_t>(rng() % 301) - 150;
            r += static_cast<int32_t>(rng() % 301) - 150;
            a[i] = static_cast<uint8_t>(l);
            a[i + 1] = static_cast<uint8_t>(l >> 8);
            a[i + 2] = static_cast<uint8_t>(r);
            a[i + 3] = static_cast<uint8_t>(r >> 8);
        }
        for (auto& s : b) s = static_cast<uint8_t>(m += static_cast<int32_t>(rng() % 5) - 2);
        sent0.insert(sent0.end(), a.begin(), a.end());
        sent3.insert(sent3.end(), b.begin(), b.end());
        mv.SetChunk(0, soundpack::Chunk(soundpack::Pack(a, true, true), static_cast<uint32_t>(a.size())));
        mv.SetChunk(3, soundpack::Chunk(soundpack::Pack(b, false, false), static_cast<uint32_t>(b.size())));
        SoundStep(mv.m);
        FakeMs() += 67;
        QuarvSoundService();
    }
    FakeMs() += 2000;
    QuarvSoundService();
    EXPECT_EQ(*HeadlessRecording(mv.track(0)), sent0);
    EXPECT_EQ(*HeadlessRecording(mv.track(3)), sent3);
    EXPECT_EQ(mv.track(0)->Overflows, 0u);
    EXPECT_EQ(mv.track(0)->SoundSkips, 0u);
}

}  // namespace
