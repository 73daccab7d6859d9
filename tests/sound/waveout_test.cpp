// The waveOut back-end on a fake device that plays written blocks in order
// at the format's byte rate, on a clock the test moves.
#include <gtest/gtest.h>

#include <deque>
#include <random>

#include "movie/open_close.h"
#include "sound/waveout/waveout_driver.h"
#include "tests/sound/sound_fixture.h"
#include "tests/sound/sound_pack.h"

using soundtest::FakeMs;
using soundtest::Format;
using soundtest::Ramp;
using soundtest::TestMovie;

namespace {

struct FakeHeader {
    uint8_t* data;
    uint32_t length;
    uint32_t done;
    uint32_t prepared;
};
static_assert(sizeof(FakeHeader) <= kWaveHeaderBytes, "fits the header area");

struct FakeDevice {
    uint32_t openError = 0;
    bool neverFinish = false;
    PcmFormat format{};
    uintptr_t instance = 0;
    int opens = 0, closes = 0, resets = 0;
    std::vector<uint32_t> writeLengths;
    std::vector<uint8_t> played;  // the bytes of finished blocks, in order
    struct Queued {
        FakeHeader* h;
        uint32_t finish;
    };
    std::deque<Queued> queue;
    uint32_t busyUntil = 0;
    bool open = false;

    // Finishes every block whose time has come.
    void Update() {
        if (neverFinish) return;
        uint32_t now = NowMs();
        while (!queue.empty() && static_cast<int32_t>(now - queue.front().finish) >= 0) {
            FakeHeader* h = queue.front().h;
            played.insert(played.end(), h->data, h->data + h->length);
            h->done = 1;
            queue.pop_front();
        }
    }
};

FakeDevice* Dev = nullptr;
FakeHeader* H(void* h) { return static_cast<FakeHeader*>(h); }

const WaveOutCalls kFakeCalls = {
    [](uintptr_t* device, const PcmFormat& f, uintptr_t instance) -> uint32_t {
        Dev->opens++;
        if (Dev->openError) return Dev->openError;
        Dev->format = f;
        Dev->instance = instance;
        Dev->open = true;
        *device = 0x1234;
        return 0;
    },
    [](uintptr_t) -> uint32_t {
        Dev->closes++;
        Dev->open = false;
        return 0;
    },
    [](uintptr_t) -> uint32_t {
        Dev->resets++;
        for (auto& q : Dev->queue) q.h->done = 1;
        Dev->queue.clear();
        Dev->busyUntil = 0;
        return 0;
    },
    [](void* h, uint8_t* data, uint32_t length) {
        std::memset(h, 0, kWaveHeaderBytes);
        H(h)->data = data;
        H(h)->length = length;
    },
    [](uintptr_t, void* h) -> uint32_t {
        H(h)->prepared = 1;
        return 0;
    },
    [](uintptr_t, void* h) -> uint32_t {
        H(h)->prepared = 0;
        return 0;
    },
    [](uintptr_t, void* h) -> uint32_t {
        Dev->writeLengths.push_back(H(h)->length);
        uint32_t now = NowMs();
        uint32_t from = static_cast<int32_t>(Dev->busyUntil - now) > 0 ? Dev->busyUntil : now;
        uint32_t bps = Dev->format.AvgBytesPerSecond;
        Dev->busyUntil = from + static_cast<uint32_t>(uint64_t{H(h)->length} * 1000 / bps);
        Dev->queue.push_back({H(h), Dev->busyUntil});
        return 0;
    },
    [](void* h, uint32_t length) { H(h)->length = length; },
    [](const void* h) -> bool {
        Dev->Update();
        return static_cast<const FakeHeader*>(h)->done != 0;
    },
    [](void* h, bool done) { H(h)->done = done; },
};

uint32_t SteppingClock() { return FakeMs() += 7; }

struct WaveOutTest : ::testing::Test {
    FakeDevice device;
    void SetUp() override {
        Dev = &device;
        FakeMs() = 50000;
        SetClock(soundtest::FakeClock);
        SetWaveOutCalls(&kFakeCalls);
        UninstallSoundDriver();
        InstallWaveOutSoundDriver();
    }
    void TearDown() override {
        UninstallSoundDriver();
        SetWaveOutCalls(nullptr);
        SetClock(nullptr);
        Dev = nullptr;
    }
    static void Fill(SoundTrack* t, const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) {
            *t->WritePos++ = b;
            if (t->WritePos == t->RingEnd) t->WritePos = t->RingStart;
        }
        RingCountAdd(t, static_cast<uint32_t>(bytes.size()));
    }
    static uint32_t Position(SoundTrack* t) { return SoundDriverTable.play_position(t); }
};

TEST_F(WaveOutTest, OpensTwoQuarterSecondBlocksAndStartsWithFourSilentBytes) {
    TestMovie mv;
    mv.m->OpenFlags = OPEN_VOLUME_CONTROL;
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true)));
    WaveOutState s = WaveOutStateOf(mv.track(0));
    EXPECT_EQ(s.BlockSize, 24576u);
    EXPECT_EQ(s.BlockB - s.BlockA, 24576 + kWaveHeaderBytes);
    EXPECT_EQ(s.OpenArg, static_cast<uint32_t>(OPEN_VOLUME_CONTROL));
    EXPECT_EQ(device.instance, static_cast<uintptr_t>(OPEN_VOLUME_CONTROL));
    EXPECT_EQ(device.format.Channels, 2u);
    EXPECT_EQ(device.format.Rate, 22050u);
    EXPECT_EQ(device.format.Bits, 16u);
    EXPECT_EQ(device.format.BlockAlign, 4u);
    EXPECT_EQ(device.format.AvgBytesPerSecond, 88200u);
    EXPECT_EQ(device.writeLengths, std::vector<uint32_t>({4}));
    EXPECT_EQ(device.played, std::vector<uint8_t>(4, 0x00));
    EXPECT_NE(s.Device, 0u);

    TestMovie mono;
    ASSERT_TRUE(mono.AddTrack(0, Format(8000, false, false)));
    EXPECT_EQ(WaveOutStateOf(mono.track(0)).BlockSize, 4096u);
    EXPECT_EQ(std::vector<uint8_t>(device.played.begin() + 4, device.played.end()),
              std::vector<uint8_t>(4, 0x80));
}

TEST_F(WaveOutTest, ServiceWritesOneBlockPerCallAndRaisesUnderrunWhenIdle) {
    TestMovie mv;
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true)));
    SoundTrack* t = mv.track(0);
    Fill(t, {1, 2, 3});
    SoundDriverTable.service();
    EXPECT_EQ(device.writeLengths.size(), 1u);  // only the start write
    EXPECT_EQ(t->Underrun, 1u);
    t->Underrun = 0;
    SoundDriverTable.service();
    EXPECT_EQ(t->Underrun, 1u);  // raised again while the device stays idle

    std::vector<uint8_t> sound = Ramp(60000, 9);
    Fill(t, sound);  // after the 3 bytes already there
    SoundDriverTable.service();  // still idle when it looks, then queues block A
    EXPECT_EQ(t->Underrun, 1u);
    t->Underrun = 0;
    SoundDriverTable.service();
    SoundDriverTable.service();  // both blocks queued: nothing more
    EXPECT_EQ(device.writeLengths, std::vector<uint32_t>({4, 24576, 24576}));
    EXPECT_EQ(t->Count, 60003u - 2 * 24576);
    EXPECT_EQ(t->Underrun, 0u);
    FakeMs() += 300;  // block A has played
    SoundDriverTable.service();
    EXPECT_EQ(device.writeLengths.back(), 60003u - 2 * 24576);
    EXPECT_EQ(t->Count, 0u);
    FakeMs() += 1000;
    SoundDriverTable.service();
    std::vector<uint8_t> want(4, 0);
    want.insert(want.end(), {1, 2, 3});
    want.insert(want.end(), sound.begin(), sound.end());
    EXPECT_EQ(device.played, want);
    EXPECT_EQ(t->Underrun, 1u);
}

TEST_F(WaveOutTest, AShortBlockIsPaddedWithSilenceAndReadsAcrossTheRingEnd) {
    TestMovie mv;
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false)));
    SoundTrack* t = mv.track(0);
    t->ReadPos = t->WritePos = t->RingEnd - 10;
    Fill(t, Ramp(30, 1));
    SoundDriverTable.service();
    WaveOutState s = WaveOutStateOf(t);
    const uint8_t* data = s.BlockA + kWaveHeaderBytes;
    EXPECT_EQ(std::vector<uint8_t>(data, data + 30), Ramp(30, 1));
    EXPECT_EQ(std::vector<uint8_t>(data + 30, data + s.BlockSize), std::vector<uint8_t>(s.BlockSize - 30, 0x80));
    EXPECT_EQ(t->ReadPos, t->RingStart + 20);
}

TEST_F(WaveOutTest, PositionFollowsTheBytesHandedOverAndTheClock) {
    TestMovie mv;
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true)));
    SoundTrack* t = mv.track(0);
    EXPECT_EQ(Position(t), 0u);  // nothing written yet
    const uint32_t t0 = FakeMs();
    Fill(t, Ramp(24576, 0));
    EXPECT_EQ(Position(t), 0u);  // written just now
    WaveOutState s = WaveOutStateOf(t);
    EXPECT_EQ(s.BlockStart, t0);
    EXPECT_EQ(s.BlockBytes, 24576u);
    EXPECT_EQ(s.BlockDuration, 278u);  // 24576 x 1000 / 88200
    FakeMs() = t0 + 139;
    EXPECT_EQ(Position(t), 12288u);
    // A write before the group has run out extends it.
    FakeMs() = t0 + 200;
    Fill(t, Ramp(24576, 0));
    SoundDriverTable.service();
    s = WaveOutStateOf(t);
    EXPECT_EQ(s.BlockBytes, 49152u);
    EXPECT_EQ(s.BlockDuration, 557u);
    EXPECT_EQ(Position(t), static_cast<uint32_t>(49152ull * 200 / 557));
    // Once the group's time is over the position stays put.
    FakeMs() = t0 + 600;
    EXPECT_EQ(Position(t), 49152u);
    FakeMs() = t0 + 900;
    EXPECT_EQ(Position(t), 49152u);
    // The next write starts a new group on top of the old one.
    Fill(t, Ramp(8820, 0));
    EXPECT_EQ(Position(t), 49152u);
    s = WaveOutStateOf(t);
    EXPECT_EQ(s.PosBase, 49152u);
    EXPECT_EQ(s.BlockStart, t0 + 900);
    FakeMs() = t0 + 950;
    EXPECT_EQ(Position(t), 49152u + 4410);

    SoundDriverTable.reset(t);
    s = WaveOutStateOf(t);
    EXPECT_EQ(s.PosBase + s.BlockBytes + s.BlockDuration + s.BlockStart, 0u);
    EXPECT_EQ(Position(t), 0u);
    EXPECT_EQ(device.resets, 1);
}

TEST_F(WaveOutTest, AtTheEndThePlayOutWaitsForTheDeviceNotTheEstimateNoLongerThanTheLead) {
    // Two blocks (0 to 278 ms, 278 to 557 ms on the device) are queued at
    // once, so the estimate passes byte 30000, where the shown frames' sound
    // ends, long before the device has returned the block that holds it.
    struct Case {
        uint32_t leadBytes, afterMs, stillPlaying;
    } const cases[] = {{44100, 400, 1}, {44100, 560, 0}, {8820, 150, 0}, {8820, 90, 1}};
    for (const Case& c : cases) {
        device = FakeDevice{};
        TestMovie mv;
        ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true), c.leadBytes));
        SoundTrack* t = mv.track(0);
        Fill(t, Ramp(49152, 0));
        SoundDriverTable.service();
        SoundDriverTable.service();
        t->Clock = 30000 * 1024;
        const uint32_t t0 = FakeMs();
        EXPECT_EQ(QuarvPlayOut(mv.m), 1u);  // starts the lead's time
        FakeMs() = t0 + c.afterMs;
        if (c.afterMs >= 400) EXPECT_GT(Position(t), 30000u) << "the estimate is past the end";
        EXPECT_EQ(QuarvPlayOut(mv.m), c.stillPlaying) << c.leadBytes << " bytes of lead, " << c.afterMs << " ms";
        PlaybackSummary summary;
        QuarvSummary(mv.m, &summary);
        EXPECT_EQ(summary.TotalTime, t0) << "the play-out is no part of the playing time";
    }
}

TEST_F(WaveOutTest, PositionNeverPassesTheBytesWrittenNorGoesBack) {
    TestMovie mv;
    ASSERT_TRUE(mv.AddTrack(0, Format(11025, false, true)));
    SoundTrack* t = mv.track(0);
    std::mt19937 rng(3);
    uint32_t written = 0, last = 0;
    for (int i = 0; i < 3000; i++) {
        if (rng() % 3 == 0 && t->Count < 10000) {
            uint32_t n = 4 * (1 + rng() % 1500);
            Fill(t, std::vector<uint8_t>(n, 0x11));
        }
        uint32_t before = t->Count;
        uint32_t p = Position(t);  // services first
        written += before - t->Count;
        ASSERT_LE(p, written);
        ASSERT_GE(p, last);
        last = p;
        FakeMs() += rng() % 40;
    }
    EXPECT_GT(last, 0u);
}

TEST_F(WaveOutTest, PauseClosesTheDeviceAndResumeStartsItAgain) {
    TestMovie mv;
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false)));
    SoundTrack* t = mv.track(0);
    Fill(t, Ramp(3000, 0));
    SoundDriverTable.service();
    SoundDriverTable.pause(t);
    EXPECT_EQ(WaveOutStateOf(t).Device, 0u);
    EXPECT_FALSE(device.open);
    EXPECT_EQ(device.closes, 1);
    SoundDriverTable.service();  // a closed device is not fed
    EXPECT_EQ(device.writeLengths.size(), 2u);
    ASSERT_TRUE(SoundDriverTable.resume(t));
    EXPECT_TRUE(device.open);
    EXPECT_EQ(device.opens, 2);
    EXPECT_EQ(device.writeLengths.back(), 4u);  // the start write again
}

TEST_F(WaveOutTest, ADeviceThatNeverStartsFailsAfterOneSecond) {
    device.neverFinish = true;
    SetClock(SteppingClock);
    TestMovie mv;
    uint32_t before = FakeMs();
    EXPECT_FALSE(mv.AddTrack(0, Format(22050, true, true)));
    uint32_t waited = FakeMs() - before;
    EXPECT_GE(waited, 1000u);
    EXPECT_LT(waited, 3100u);  // the start, plus at most a second per block at the stop
    EXPECT_EQ(device.opens, 1);
    EXPECT_EQ(device.closes, 1);
    EXPECT_FALSE(device.open);
    EXPECT_EQ(mv.m->Track[0], nullptr);
}

TEST_F(WaveOutTest, OpenErrorsAreLoggedAndFailTheTrack) {
    setenv("QUARVEL_PROFILE_QUARVEL_DEBUG", "1", 1);
    ResetDebugFlag();
    device.openError = 2;
    TestMovie mv;
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(mv.AddTrack(0, Format(22050, true, true)));
    std::string log = ::testing::internal::GetCapturedStderr();
    unsetenv("QUARVEL_PROFILE_QUARVEL_DEBUG");
    ResetDebugFlag();
    EXPECT_EQ(log, "Using standard waveOut\r\nWaveOut open failed - error #: 2\r\n");
    EXPECT_EQ(OpenTrackCount, 0u);
}

TEST_F(WaveOutTest, ClosedTracksLeaveTheServiceList) {
    TestMovie a, b;
    ASSERT_TRUE(a.AddTrack(0, Format(8000, false, false)));
    ASSERT_TRUE(b.AddTrack(0, Format(8000, false, false)));
    CloseTracks(a.m);
    EXPECT_EQ(device.closes, 1);
    Fill(b.track(0), Ramp(100, 0));
    SoundDriverTable.service();
    EXPECT_EQ(device.writeLengths.back(), 100u);
    EXPECT_EQ(b.track(0)->Count, 0u);
}

// The sound step and the back-end together: everything sent is played, in
// order, after the start write's four silent bytes.
TEST_F(WaveOutTest, PlaysAMoviesSoundWhole) {
    TestMovie mv(6666);
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true), 17640));
    std::vector<uint8_t> sent;
    for (int f = 0; f < 60; f++) {
        std::vector<uint8_t> pcm = Ramp(f == 0 ? 17640 : 5880, static_cast<uint8_t>(f));
        sent.insert(sent.end(), pcm.begin(), pcm.end());
        mv.SetChunk(0, soundpack::RawChunk(pcm));
        SoundStep(mv.m);
        for (int i = 0; i < 4; i++) {
            FakeMs() += 16;
            QuarvSoundService();
        }
    }
    for (int i = 0; i < 20; i++) {
        FakeMs() += 100;
        QuarvSoundService();
    }
    std::vector<uint8_t> want(4, 0);
    want.insert(want.end(), sent.begin(), sent.end());
    EXPECT_EQ(device.played, want);
    EXPECT_EQ(mv.track(0)->SoundSkips, 0u);
}

}  // namespace
