// When frames are due (clock and sound), lateness, pausing the sound, and
// the sound restart on rewinding.
#include <gtest/gtest.h>

#include "movie/sequence.h"
#include "tests/movie/movie_test_util.h"

using namespace movietest;

namespace {

struct OpenedMovie {
    MemoryFile file;
    Movie* m;
    explicit OpenedMovie(const MoviePlan& plan, uint32_t extra = 0)
        : file(MovieBytes(plan)), m(QuarvOpen(MemoryFile::name(), 0, extra)) {}
    ~OpenedMovie() {
        HandTrack::DetachAll(m);
        QuarvClose(m);
    }
};

MoviePlan Movie15fps(int32_t rate = -6666) {
    MoviePlan plan = PatternMovie(std::vector<uint32_t>(20, 3000), 4096);
    plan.header.FrameRate = rate;
    return plan;
}

TEST(WaitByClock, UntimedMovieWaitsOnceThenNever) {
    TestClock clock(1000);
    OpenedMovie o(Movie15fps(0));
    ASSERT_NE(o.m, nullptr);
    ASSERT_EQ(o.m->FrameTime, 0u);
    const uint32_t bg = o.m->BgBytesRead;
    EXPECT_EQ(QuarvWait(o.m), 1u);
    EXPECT_EQ(o.m->BgBytesRead, bg + 4096);  // the wait was used for a background read
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(QuarvWait(o.m), 0u);
        QuarvNextFrame(o.m);
        TestClock::Ms() += 3;
    }
    EXPECT_EQ(o.m->BgBytesRead, bg + 4096);
}

TEST(WaitByClock, FifteenFramesASecondAndAHoldUp) {
    TestClock clock(1000);
    OpenedMovie o(Movie15fps());
    Movie* m = o.m;
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(QuarvWait(m), 1u);  // first wait: frame 0 due one frame from now
    EXPECT_EQ(m->NextDue, 106666u);
    TestClock::Ms() = 1050;
    EXPECT_EQ(QuarvWait(m), 1u);
    TestClock::Ms() = 1067;
    EXPECT_EQ(QuarvWait(m), 0u);
    EXPECT_EQ(m->NextDue, 113332u);
    EXPECT_EQ(m->FrameDue, 1u);
    EXPECT_EQ(QuarvWait(m), 0u);  // released until the next frame
    QuarvNextFrame(m);
    EXPECT_EQ(m->FrameDue, 0u);
    TestClock::Ms() = 1100;
    EXPECT_EQ(QuarvWait(m), 1u);
    TestClock::Ms() = 1134;
    EXPECT_EQ(QuarvWait(m), 0u);
    QuarvNextFrame(m);
    // Held up for 200 ms: released at once, and the pace restarts from now.
    TestClock::Ms() = 1334;
    EXPECT_EQ(QuarvWait(m), 0u);
    EXPECT_EQ(m->NextDue, 133400u + 6666);
    QuarvNextFrame(m);
    TestClock::Ms() = 1335;
    EXPECT_EQ(QuarvWait(m), 1u);
    TestClock::Ms() = 1401;
    EXPECT_EQ(QuarvWait(m), 0u);
}

TEST(WaitByClock, OneFrameBehindCatchesUpOnTheNextFrame) {
    TestClock clock(2000);
    OpenedMovie o(Movie15fps());
    Movie* m = o.m;
    ASSERT_NE(m, nullptr);
    QuarvWait(m);  // NextDue = 206666
    TestClock::Ms() = 2167;  // 100 ms later: one and a half frames
    EXPECT_EQ(QuarvWait(m), 0u);
    EXPECT_EQ(m->NextDue, 213332u);  // not restarted
    QuarvNextFrame(m);
    EXPECT_EQ(QuarvWait(m), 0u);  // already due
    EXPECT_EQ(m->NextDue, 219998u);
}

TEST(WaitByClock, SurvivesTheWrapOfTheTenMicrosecondClock) {
    // timeGetTime * 100 wraps 32 bits at 42949672 ms.
    TestClock clock(42949600);
    OpenedMovie o(Movie15fps());
    Movie* m = o.m;
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(QuarvWait(m), 1u);
    TestClock::Ms() = 42949670;  // 70 ms on: due, though NextDue wrapped past 0
    EXPECT_EQ(QuarvWait(m), 0u);
    QuarvNextFrame(m);
    EXPECT_EQ(QuarvWait(m), 1u);  // the next frame is not due yet
}

TEST(WaitBySound, FollowsThePlayPosition) {
    FakeDriver driver;
    OpenedMovie o(Movie15fps());
    Movie* m = o.m;
    ASSERT_NE(m, nullptr);
    HandTrack track(8192, true, 400);
    track.Attach(m, 3);
    OpenTrackCount = 1;
    track.rec.ClockBase = 1000;
    track.rec.Clock = 2000 * 1024;  // the frame is due at byte 3000
    m->SyncPending = 1;
    driver.position = 2991;
    const uint32_t bg = m->BgBytesRead;
    EXPECT_EQ(QuarvWait(m), 1u);
    EXPECT_EQ(m->BgBytesRead, bg + 4096);
    driver.position = 2992;  // within 8 bytes: due
    EXPECT_EQ(QuarvWait(m), 0u);
    EXPECT_EQ(m->SyncPending, 0u);
    // Nothing pending, or sound paused: never waits.
    driver.position = 0;
    EXPECT_EQ(QuarvWait(m), 0u);
    m->SyncPending = 1;
    m->SoundPaused = 1;
    EXPECT_EQ(QuarvWait(m), 0u);
    EXPECT_GT(driver.services, 0);
}

TEST(FrameIsLate, HalfASecondBehindTheSound) {
    FakeDriver driver;
    OpenedMovie o(Movie15fps());
    Movie* m = o.m;
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(FrameIsLate(m), 0u);  // no sound: never late
    HandTrack track(8192, false, 0);
    track.Attach(m, 0);
    OpenTrackCount = 1;
    track.rec.ClockBase = 256000;
    track.rec.LateMark = 5000 * 1024;
    m->SyncPending = 1;
    driver.position = 260999;
    EXPECT_EQ(FrameIsLate(m), 0u);
    driver.position = 261000;
    EXPECT_EQ(FrameIsLate(m), 1u);
    EXPECT_EQ(m->SyncPending, 0u);
    m->SyncPending = 1;
    track.rec.NoData = 1;  // the frame brought no sound
    EXPECT_EQ(FrameIsLate(m), 0u);
    track.rec.NoData = 0;
    m->SoundPaused = 1;
    EXPECT_EQ(FrameIsLate(m), 0u);
    EXPECT_EQ(m->SyncPending, 1u);
}

struct PausedSound : ::testing::Test {
    FakeDriver driver;
    OpenedMovie o{Movie15fps()};
    HandTrack a{64, false, 12};  // 8-bit
    HandTrack b{64, true, 8};    // 16-bit
    void SetUp() override {
        ASSERT_NE(o.m, nullptr);
        a.Attach(o.m, 1);
        b.Attach(o.m, 4);
        OpenTrackCount = 2;
        for (int i = 0; i < 64; ++i) {
            a.ring[i] = static_cast<uint8_t>(i + 1);
            b.ring[i] = static_cast<uint8_t>(200 - i);
        }
        // Track a: 20 bytes written from byte 40 (wrapping), 10 not yet played.
        a.rec.WritePos = a.ring.data() + 5;  // wrote up to byte 5, across the end
        a.rec.ReadPos = a.ring.data() + 59;
        RingCountSet(&a.rec, 10);
        a.rec.Delivered = 100;
        a.rec.Clock = 3000;
        a.rec.LateMark = 9000;
        b.rec.WritePos = b.ring.data() + 30;
        b.rec.ReadPos = b.ring.data() + 20;
        RingCountSet(&b.rec, 10);
        b.rec.Delivered = 50;
        b.rec.Clock = 1000;
        b.rec.LateMark = 2000;
        QuarvNextFrame(o.m);
        QuarvNextFrame(o.m);  // frame 2
    }
};

TEST_F(PausedSound, PauseDropsWhatWasNotPlayed) {
    Movie* m = o.m;
    EXPECT_EQ(QuarvSoundOnOff(m, 0), 1u);
    EXPECT_EQ(m->SoundPaused, 1u);
    EXPECT_EQ(m->PauseFrame, 2u);
    EXPECT_EQ(driver.pauses, 2);
    EXPECT_EQ(RingCountGet(&a.rec), 0u);
    EXPECT_EQ(a.rec.Delivered, 90u);
    EXPECT_EQ(a.rec.ReadPos, a.rec.WritePos);
    EXPECT_EQ(b.rec.Delivered, 40u);
    const int services = driver.services;
    EXPECT_EQ(QuarvSoundOnOff(m, 0), 1u);  // already paused: only the service
    EXPECT_EQ(driver.pauses, 2);
    EXPECT_EQ(driver.services, services + 1);
}

TEST_F(PausedSound, ResumeOnTheSameFrameReplaysTheLead) {
    Movie* m = o.m;
    const std::vector<uint8_t> ringA = a.ring, ringB = b.ring;
    QuarvSoundOnOff(m, 0);
    driver.position = 777;
    EXPECT_EQ(QuarvSoundOnOff(m, 1), 1u);
    EXPECT_EQ(m->SoundPaused, 0u);
    EXPECT_EQ(driver.resumes, 2);
    // Track a: the 12 bytes before byte 5 start at byte 57 (wrapping).
    EXPECT_EQ(a.rec.ReadPos, a.ring.data() + 57);
    EXPECT_EQ(RingCountGet(&a.rec), 12u);
    EXPECT_EQ(a.ring, ringA);  // replayed as they were
    EXPECT_EQ(a.rec.Delivered, 90u + 12);
    EXPECT_EQ(a.rec.ClockBase, 777u);
    EXPECT_EQ(a.rec.Clock, 0u);
    EXPECT_EQ(a.rec.LateMark, 6000u);
    EXPECT_EQ(b.rec.ReadPos, b.ring.data() + 22);
    EXPECT_EQ(b.ring, ringB);
    EXPECT_EQ(b.rec.LateMark, 1000u);
    EXPECT_EQ(QuarvSoundOnOff(m, 1), 1u);  // not paused: nothing more
    EXPECT_EQ(driver.resumes, 2);
}

TEST_F(PausedSound, ResumeAfterTheFrameMovedReplaysSilence) {
    Movie* m = o.m;
    QuarvSoundOnOff(m, 0);
    QuarvNextFrame(m);
    ASSERT_EQ(QuarvSoundOnOff(m, 1), 1u);
    for (int i = 57; i < 64; ++i) EXPECT_EQ(a.ring[i], 0x80) << i;
    for (int i = 0; i < 5; ++i) EXPECT_EQ(a.ring[i], 0x80) << i;
    EXPECT_EQ(a.ring[5], 6);  // untouched beyond the lead
    EXPECT_EQ(a.ring[56], 57);
    for (int i = 22; i < 30; ++i) EXPECT_EQ(b.ring[i], 0) << i;
    EXPECT_EQ(b.ring[21], 200 - 21);
    EXPECT_EQ(b.ring[30], 200 - 30);
}

TEST_F(PausedSound, HighBitAsksForSilenceOnTheSameFrame) {
    Movie* m = o.m;
    QuarvSoundOnOff(m, 0);
    ASSERT_EQ(QuarvSoundOnOff(m, 0x80000000u), 1u);
    EXPECT_EQ(a.ring[60], 0x80);
    EXPECT_EQ(b.ring[25], 0);
}

TEST_F(PausedSound, FailedResumeKeepsTheMoviePaused) {
    Movie* m = o.m;
    QuarvSoundOnOff(m, 0);
    driver.resumeFails = true;
    EXPECT_EQ(QuarvSoundOnOff(m, 1), 0u);
    EXPECT_EQ(m->SoundPaused, 1u);
    EXPECT_EQ(driver.resumes, 1);  // stopped at the first track
    driver.resumeFails = false;
    EXPECT_EQ(QuarvSoundOnOff(m, 1), 1u);
    EXPECT_EQ(m->SoundPaused, 0u);
}

TEST_F(PausedSound, ALeadLargerThanTheRingStaysInsideIt) {
    Movie* m = o.m;
    a.rec.Lead = 1000000;
    QuarvSoundOnOff(m, 0);
    QuarvNextFrame(m);
    ASSERT_EQ(QuarvSoundOnOff(m, 1), 1u);
    EXPECT_EQ(RingCountGet(&a.rec), 64u);
    for (uint8_t v : a.ring) EXPECT_EQ(v, 0x80);
}

TEST(SoundOnOff, WithoutSoundOrMovie) {
    EXPECT_EQ(QuarvSoundOnOff(nullptr, 1), 0u);
    OpenedMovie o(Movie15fps());
    EXPECT_EQ(QuarvSoundOnOff(o.m, 0), 1u);
    EXPECT_EQ(o.m->SoundPaused, 0u);
}

struct Rewind : ::testing::Test {
    FakeDriver driver;
    OpenedMovie o{PatternMovie({3000, 3000, 3000}, 4096)};
    HandTrack a{64, false, 0}, b{64, false, 0};
    void SetUp() override {
        ASSERT_NE(o.m, nullptr);
        a.Attach(o.m, 2);
        b.Attach(o.m, 5);
        for (HandTrack* t : {&a, &b}) {
            t->rec.WritePos = t->ring.data() + 30;
            t->rec.ReadPos = t->ring.data() + 10;
            RingCountSet(&t->rec, 20);
            t->rec.Delivered = 500;
            t->rec.Clock = 4096;
            t->rec.ClockBase = 300;
            t->rec.LateMark = 10000;
        }
        QuarvNextFrame(o.m);
        QuarvNextFrame(o.m);
    }
};

TEST_F(Rewind, RestartsTheSoundWhenTheMovieOwnsEveryTrack) {
    OpenTrackCount = 2;
    QuarvNextFrame(o.m);
    ASSERT_EQ(o.m->FrameNum, 0u);
    EXPECT_EQ(driver.resets, 2);
    for (HandTrack* t : {&a, &b}) {
        EXPECT_EQ(RingCountGet(&t->rec), 0u);
        EXPECT_EQ(t->rec.ReadPos, t->rec.WritePos);
        EXPECT_EQ(t->rec.LateMark, 10000u - 4096);
        EXPECT_EQ(t->rec.Clock, 0u);
        EXPECT_EQ(t->rec.ClockBase, 0u);
        EXPECT_EQ(t->rec.Delivered, 0u);
    }
}

TEST_F(Rewind, LeavesTheSoundAloneWhenOtherTracksAreOpen) {
    OpenTrackCount = 3;  // another movie plays too
    QuarvNextFrame(o.m);
    ASSERT_EQ(o.m->FrameNum, 0u);
    EXPECT_EQ(driver.resets, 0);
    EXPECT_EQ(RingCountGet(&a.rec), 20u);
    EXPECT_EQ(b.rec.Delivered, 500u);
}

TEST_F(Rewind, NothingToRestartBeforeAnySoundWasDelivered) {
    OpenTrackCount = 2;
    a.rec.Delivered = 0;  // the timing track
    QuarvNextFrame(o.m);
    EXPECT_EQ(driver.resets, 0);
    EXPECT_EQ(b.rec.Delivered, 500u);
}

}  // namespace
