// The DirectSound back-end on a fake DirectSound whose looping buffers play
// at the format's byte rate on the test's clock and record what their play
// cursor passed over.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <random>
#include <thread>

#include "movie/open_close.h"
#include "sound/directsound/directsound_driver.h"
#include "sound/headless/headless_driver.h"
#include "tests/sound/sound_fixture.h"
#include "tests/sound/sound_pack.h"

using soundtest::FakeMs;
using soundtest::Format;
using soundtest::Ramp;
using soundtest::TestMovie;

namespace {

struct FakeBuffer {
    bool primary = false;
    uint32_t flags = 0;
    PcmFormat format{};
    std::vector<uint8_t> mem;
    bool playing = false;
    uint32_t cursor = 0;
    uint32_t lastMs = 0;
    uint64_t playMs = 0, consumed = 0;
    int plays = 0, stops = 0, setPositions = 0, locks = 0;
    std::vector<uint8_t> played;    // what the play cursor passed over
    std::vector<uint8_t> unlocked;  // what was written, in order
    bool released = false;

    void Advance() {
        uint32_t now = NowMs();
        if (playing && !mem.empty()) {
            playMs += static_cast<uint32_t>(now - lastMs);
            uint64_t due = playMs * format.AvgBytesPerSecond / 1000 / format.BlockAlign * format.BlockAlign;
            uint64_t n = due - consumed;
            consumed = due;
            for (uint64_t i = 0; i < n; i++) {
                played.push_back(mem[cursor]);
                cursor = (cursor + 1) % mem.size();
            }
        }
        lastMs = now;
    }
};

struct FakeDs {
    bool loadOk = true;
    int32_t createError = 0;
    int creates = 0, objectReleases = 0;
    int bufferFailures = 0;  // the next this many secondary creations fail
    std::vector<uint32_t> bufferFlags;
    void* processWindow = reinterpret_cast<void*>(0x5150);
    std::vector<void*> coopWindows;
    int32_t coopError = 0;
    std::vector<std::unique_ptr<FakeBuffer>> buffers;
    FakeBuffer* primary = nullptr;
    int timerStarts = 0, timerKills = 0;
    void (*tick)() = nullptr;
    std::function<void()> duringStop;
    std::function<void()> duringGetPosition;
    bool lockFails = false;
    int positionCalls = 0;
    // Locks made on the timer thread take a while, so that the other thread
    // runs while a pass is between reading Count and taking from it.
    bool slowTimerLocks = false;
    // A thread that ticks like the multimedia timer (stress test).
    bool threadedTimer = false;
    std::atomic<bool> timerRunning{false};
    std::thread timerThread;

    FakeBuffer* Secondary(size_t i = 0) {
        size_t k = 0;
        for (auto& b : buffers)
            if (!b->primary && k++ == i) return b.get();
        return nullptr;
    }
};

FakeDs* Ds = nullptr;
FakeBuffer* B(void* b) { return static_cast<FakeBuffer*>(b); }
void* const kObject = reinterpret_cast<void*>(0xD50);

const DsCalls kFake = {
    []() { return Ds->loadOk; },
    [](void** object) -> int32_t {
        Ds->creates++;
        if (Ds->createError) return Ds->createError;
        *object = kObject;
        return 0;
    },
    [](void*, void* window) -> int32_t {
        Ds->coopWindows.push_back(window);
        return Ds->coopError;
    },
    []() { return Ds->processWindow; },
    [](void*, uint32_t flags, uint32_t bytes, const PcmFormat* format, void** buffer) -> int32_t {
        if (!format) {
            auto b = std::make_unique<FakeBuffer>();
            b->primary = true;
            b->flags = flags;
            Ds->primary = b.get();
            *buffer = b.get();
            Ds->buffers.push_back(std::move(b));
            return 0;
        }
        Ds->bufferFlags.push_back(flags);
        if (Ds->bufferFailures > 0) {
            Ds->bufferFailures--;
            return static_cast<int32_t>(0x88780032u);
        }
        auto b = std::make_unique<FakeBuffer>();
        b->flags = flags;
        b->format = *format;
        b->mem.assign(bytes, 0xEE);
        b->lastMs = NowMs();
        *buffer = b.get();
        Ds->buffers.push_back(std::move(b));
        return 0;
    },
    [](void* b, const PcmFormat& f) -> int32_t {
        B(b)->format = f;
        return 0;
    },
    [](void* b) -> int32_t {
        B(b)->Advance();
        B(b)->playing = true;
        B(b)->plays++;
        return 0;
    },
    [](void* b) -> int32_t {
        B(b)->Advance();
        B(b)->playing = false;
        B(b)->stops++;
        if (Ds->duringStop) Ds->duringStop();
        return 0;
    },
    [](void* b, uint32_t offset) -> int32_t {
        B(b)->Advance();
        B(b)->cursor = offset;
        B(b)->setPositions++;
        return 0;
    },
    [](void* b, uint32_t* play) -> int32_t {
        Ds->positionCalls++;

        if (Ds->duringGetPosition) Ds->duringGetPosition();
        B(b)->Advance();
        *play = B(b)->cursor;
        return 0;
    },
    [](void* b, uint32_t offset, uint32_t bytes, uint8_t** p1, uint32_t* n1, uint8_t** p2, uint32_t* n2) -> int32_t {
        FakeBuffer* f = B(b);
        f->locks++;
        if (Ds->slowTimerLocks && std::this_thread::get_id() == Ds->timerThread.get_id())
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        if (Ds->lockFails) return static_cast<int32_t>(0x80004005u);
        f->Advance();
        uint32_t size = static_cast<uint32_t>(f->mem.size());
        EXPECT_LT(offset, size);
        EXPECT_LE(bytes, size);
        *p1 = f->mem.data() + offset;
        *n1 = std::min(bytes, size - offset);
        *n2 = bytes - *n1;
        *p2 = *n2 ? f->mem.data() : nullptr;
        return 0;
    },
    [](void* b, uint8_t* p1, uint32_t n1, uint8_t* p2, uint32_t n2) -> int32_t {
        FakeBuffer* f = B(b);
        if (p1) f->unlocked.insert(f->unlocked.end(), p1, p1 + n1);
        if (p2) f->unlocked.insert(f->unlocked.end(), p2, p2 + n2);
        return 0;
    },
    [](void* b) { B(b)->released = true; },
    [](void*) { Ds->objectReleases++; },
    [](void (*tick)()) -> uint32_t {
        Ds->timerStarts++;
        Ds->tick = tick;
        if (Ds->threadedTimer) {
            Ds->timerRunning = true;
            Ds->timerThread = std::thread([] {
                while (Ds->timerRunning) {
                    Ds->tick();
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                }
            });
        }
        return 7;
    },
    [](uint32_t id) {
        EXPECT_EQ(id, 7u);
        Ds->timerKills++;
        if (Ds->timerThread.joinable()) {
            Ds->timerRunning = false;
            Ds->timerThread.join();
        }
    },
};

struct DirectSoundTest : ::testing::Test {
    FakeDs fake;
    void SetUp() override {
        Ds = &fake;
        FakeMs() = 100000;
        SetClock(soundtest::FakeClock);
        SetDsCalls(&kFake);
        UninstallSoundDriver();
    }
    void TearDown() override {
        UninstallSoundDriver();
        SetDsCalls(nullptr);
        SetClock(nullptr);
        Ds = nullptr;
    }
    void Install() { ASSERT_TRUE(QuarvUseDirectSound(nullptr)); }
    static void Fill(SoundTrack* t, const std::vector<uint8_t>& bytes) {
        for (uint8_t b : bytes) {
            *t->WritePos++ = b;
            if (t->WritePos == t->RingEnd) t->WritePos = t->RingStart;
        }
        RingCountAdd(t, static_cast<uint32_t>(bytes.size()));
    }
    // Moves the clock on and runs the driver's service.
    static void After(uint32_t ms) {
        FakeMs() += ms;
        SoundDriverTable.service();
    }
    static uint32_t Position(SoundTrack* t) { return SoundDriverTable.play_position(t); }
    struct Log {
        Log() {
            setenv("QUARVEL_PROFILE_QUARVEL_DEBUG", "1", 1);
            ResetDebugFlag();
            ::testing::internal::CaptureStderr();
        }
        std::string Text() {
            std::string s = ::testing::internal::GetCapturedStderr();
            unsetenv("QUARVEL_PROFILE_QUARVEL_DEBUG");
            ResetDebugFlag();
            return s;
        }
    };
};

TEST_F(DirectSoundTest, InstallingNeedsTheLibraryAndAnEmptyTable) {
    fake.loadOk = false;
    EXPECT_FALSE(QuarvUseDirectSound(kObject));
    EXPECT_EQ(SoundDriverTable.open_track, nullptr);
    EXPECT_EQ(DsProcessStateOf().Object, nullptr);

    InstallHeadlessSoundDriver();
    SoundDriver before = SoundDriverTable;
    fake.loadOk = true;
    EXPECT_FALSE(QuarvUseDirectSound(nullptr));
    EXPECT_EQ(SoundDriverTable.open_track, before.open_track);
    EXPECT_EQ(SoundDriverTable.service, before.service);

    UninstallSoundDriver();
    EXPECT_TRUE(QuarvUseDirectSound(nullptr));
    EXPECT_NE(SoundDriverTable.open_track, before.open_track);
    EXPECT_TRUE(QuarvUseDirectSound(nullptr));  // already this back-end
}

TEST_F(DirectSoundTest, OpensAHalfSecondBufferWithTheAskedControls) {
    Install();
    Log log;
    TestMovie mv;
    mv.m->OpenFlags = OPEN_PAN_CONTROL | OPEN_VOLUME_CONTROL;
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true)));
    std::string text = log.Text();
    DsTrackState s = DsTrackStateOf(mv.track(0));
    EXPECT_EQ(s.BufferBytes, 45056u);
    EXPECT_EQ(s.Flags, 0x18000u | 0x40 | 0x80);
    EXPECT_EQ(s.Stopped, 1u);
    EXPECT_EQ(s.StopMark, 0xFFFFFFFFu);
    ASSERT_NE(fake.Secondary(), nullptr);
    EXPECT_EQ(fake.Secondary()->mem.size(), 45056u);
    EXPECT_EQ(fake.Secondary()->format.AvgBytesPerSecond, 88200u);
    // The object was made here, for the process's window.
    DsProcessState p = DsProcessStateOf();
    EXPECT_TRUE(p.OwnObject);
    EXPECT_TRUE(p.PrimaryPending);
    EXPECT_EQ(p.Window, fake.processWindow);
    EXPECT_EQ(fake.coopWindows, std::vector<void*>({fake.processWindow}));
    EXPECT_EQ(text, "Using DirectSound\r\nDirectSound using HWND: " +
                        std::to_string(reinterpret_cast<uintptr_t>(fake.processWindow)) + "\r\n");
    EXPECT_EQ(fake.timerStarts, 1);

    TestMovie plain;
    ASSERT_TRUE(plain.AddTrack(0, Format(8000, false, false)));
    EXPECT_EQ(DsTrackStateOf(plain.track(0)).Flags, 0x18000u);
    EXPECT_EQ(DsTrackStateOf(plain.track(0)).BufferBytes, 4096u);
    EXPECT_EQ(fake.timerStarts, 1);  // one timer for all tracks
    EXPECT_EQ(fake.creates, 1);      // and one object
}

TEST_F(DirectSoundTest, ACallersObjectAndWindowAreUsedAndKept) {
    void* mine = reinterpret_cast<void*>(0xABC0);
    ASSERT_TRUE(QuarvUseDirectSound(mine));
    void* window = reinterpret_cast<void*>(0x4242);
    QuarvSoundSetWindow(window);
    EXPECT_EQ(fake.coopWindows, std::vector<void*>({window}));
    {
        TestMovie mv;
        ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false)));
        EXPECT_EQ(fake.creates, 0);
        EXPECT_FALSE(DsProcessStateOf().OwnObject);
        EXPECT_FALSE(DsProcessStateOf().PrimaryPending);
    }
    EXPECT_EQ(fake.objectReleases, 0);
    EXPECT_EQ(DsProcessStateOf().Object, mine);
    EXPECT_EQ(fake.timerKills, 1);
}

TEST_F(DirectSoundTest, FailuresAreLoggedAndDropTheTrack) {
    Install();
    {
        fake.createError = static_cast<int32_t>(0x80004005u);
        Log log;
        TestMovie mv;
        EXPECT_FALSE(mv.AddTrack(0, Format(8000, false, false)));
        EXPECT_EQ(log.Text(), "Using DirectSound\r\nUnable to create DirectSound object - error #: -2147467259\r\n");
        fake.createError = 0;
    }
    {
        // Refused with global focus, taken without it.
        fake.bufferFailures = 1;
        TestMovie mv;
        ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false)));
        EXPECT_EQ(fake.bufferFlags, std::vector<uint32_t>({0x18000, 0x10000}));
    }
    {
        fake.bufferFailures = 2;
        fake.coopError = -5;
        int releases = fake.objectReleases;
        Log log;
        TestMovie mv;
        EXPECT_FALSE(mv.AddTrack(0, Format(8000, false, false)));
        EXPECT_EQ(log.Text(), "Using DirectSound\r\nUnable to set cooperative level - Error #: -5\r\n"
                              "DirectSound using HWND: " +
                                  std::to_string(reinterpret_cast<uintptr_t>(fake.processWindow)) +
                                  "\r\nUnable to create sound buffer - Error #: -2005401550\r\n");
        EXPECT_EQ(fake.objectReleases, releases + 1);  // the object it made for nothing
        EXPECT_EQ(DsProcessStateOf().Object, nullptr);
    }
}

TEST_F(DirectSoundTest, AFailingSecondTrackLeavesTheFirstOnItsObject) {
    Install();
    TestMovie mv;
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false)));
    fake.bufferFailures = 2;
    EXPECT_FALSE(mv.AddTrack(1, Format(8000, false, false)));
    EXPECT_EQ(fake.objectReleases, 0);
    EXPECT_NE(DsProcessStateOf().Object, nullptr);
    Fill(mv.track(0), Ramp(100, 0));
    After(10);
    EXPECT_EQ(fake.Secondary()->unlocked, Ramp(100, 0));
}

// 8000 Hz 8-bit mono: a 4096-byte buffer, a quarter of 1024 bytes.
struct DsFeedTest : DirectSoundTest {
    std::unique_ptr<TestMovie> mv;
    SoundTrack* t = nullptr;
    FakeBuffer* buf = nullptr;
    void SetUp() override {
        DirectSoundTest::SetUp();
        Install();
        mv = std::make_unique<TestMovie>();
        ASSERT_TRUE(mv->AddTrack(0, Format(8000, false, false)));
        t = mv->track(0);
        buf = fake.Secondary();
        ASSERT_EQ(DsTrackStateOf(t).BufferBytes, 4096u);
    }
    void TearDown() override {
        mv.reset();
        DirectSoundTest::TearDown();
    }
};

TEST_F(DsFeedTest, FillsFromTheRingAndStartsPlaying) {
    Fill(t, Ramp(3000, 0));
    After(0);
    DsTrackState s = DsTrackStateOf(t);
    EXPECT_EQ(s.Written, 3000u);
    EXPECT_EQ(s.WriteOffset, 3000u);
    EXPECT_EQ(s.Room, 1096u);
    EXPECT_EQ(s.Stopped, 0u);
    EXPECT_EQ(t->Count, 0u);
    EXPECT_TRUE(buf->playing);
    EXPECT_EQ(std::vector<uint8_t>(buf->mem.begin(), buf->mem.begin() + 3000), Ramp(3000, 0));
    // The primary buffer was set up once, with this track's format.
    ASSERT_NE(fake.primary, nullptr);
    EXPECT_EQ(fake.primary->flags, 0x1u);
    EXPECT_EQ(fake.primary->format.Rate, 8000u);
    EXPECT_TRUE(fake.primary->playing);
    EXPECT_FALSE(DsProcessStateOf().PrimaryPending);

    // 100 ms later 800 bytes have played: 1896 free, written across the end.
    Fill(t, Ramp(2000, 100));
    After(100);
    s = DsTrackStateOf(t);
    EXPECT_EQ(s.Written, 4896u);
    EXPECT_EQ(s.WriteOffset, 800u);
    EXPECT_EQ(s.Room, 0u);
    EXPECT_EQ(t->Count, 104u);
    std::vector<uint8_t> more = Ramp(2000, 100);
    EXPECT_EQ(std::vector<uint8_t>(buf->mem.begin() + 3000, buf->mem.end()),
              std::vector<uint8_t>(more.begin(), more.begin() + 1096));
    EXPECT_EQ(std::vector<uint8_t>(buf->mem.begin(), buf->mem.begin() + 800),
              std::vector<uint8_t>(more.begin() + 1096, more.begin() + 1896));

    // With no more than a quarter free nothing is written.
    int locks = buf->locks;
    After(50);  // 400 bytes played
    EXPECT_EQ(buf->locks, locks);
    EXPECT_EQ(DsTrackStateOf(t).Room, 400u);
}

TEST_F(DsFeedTest, PassesComeAtMostEveryTenMilliseconds) {
    Fill(t, Ramp(3000, 0));
    After(0);
    int calls = fake.positionCalls;
    After(0);
    After(9);
    EXPECT_EQ(fake.positionCalls, calls);
    After(1);
    EXPECT_EQ(fake.positionCalls, calls + 1);
    fake.tick();  // the timer within the same 10 ms
    EXPECT_EQ(fake.positionCalls, calls + 1);
}

TEST_F(DsFeedTest, ATimerTickDuringTheCallersWorkIsSkipped) {
    Fill(t, Ramp(3000, 0));
    After(0);
    FakeMs() += 50;
    int calls = 0;
    // Inside the caller's own pass (same thread, re-entered) ...
    fake.duringGetPosition = [&] {
        calls++;
        if (calls == 1) fake.tick();
    };
    SoundDriverTable.service();
    EXPECT_EQ(calls, 1);
    fake.duringGetPosition = nullptr;
    // ... and inside a DirectSound call the caller makes outside the feeder.
    FakeMs() += 50;
    int before = fake.positionCalls;
    fake.duringStop = [] { Ds->tick(); };
    SoundDriverTable.pause(t);
    fake.duringStop = nullptr;
    EXPECT_EQ(fake.positionCalls, before);
}

TEST_F(DsFeedTest, RunningDryAddsAQuarterOfSilenceThenStopsAndRestarts) {
    Fill(t, Ramp(1000, 1));
    After(0);
    After(50);  // 400 played: 3496 free, more than four fifths, ring empty
    DsTrackState s = DsTrackStateOf(t);
    EXPECT_EQ(s.StopMark, 1000u);
    EXPECT_EQ(s.SilenceEnd, 2024u);
    EXPECT_EQ(s.WriteOffset, 2024u);
    EXPECT_EQ(t->Underrun, 1u);
    EXPECT_EQ(std::vector<uint8_t>(buf->mem.begin() + 1000, buf->mem.begin() + 2024),
              std::vector<uint8_t>(1024, 0x80));
    t->Underrun = 0;
    Fill(t, Ramp(40, 9));  // too late: nothing more goes in after the silence
    After(50);
    EXPECT_EQ(DsTrackStateOf(t).Written, 1000u);
    EXPECT_TRUE(buf->playing);
    After(50);  // the cursor is in the silence now
    s = DsTrackStateOf(t);
    EXPECT_EQ(t->Underrun, 1u);
    EXPECT_EQ(buf->stops, 1);
    EXPECT_EQ(buf->setPositions, 1);
    // It was rewound and refilled from the start with what the ring had.
    EXPECT_EQ(s.Written, 1040u);
    EXPECT_EQ(s.StopMark, 0xFFFFFFFFu);
    EXPECT_EQ(buf->cursor, 0u);
    EXPECT_TRUE(buf->playing);
    EXPECT_EQ(std::vector<uint8_t>(buf->mem.begin(), buf->mem.begin() + 40), Ramp(40, 9));
    std::vector<uint8_t> heard = buf->played;
    ASSERT_EQ(heard.size(), 1200u);
    EXPECT_EQ(std::vector<uint8_t>(heard.begin(), heard.begin() + 1000), Ramp(1000, 1));
    EXPECT_EQ(std::vector<uint8_t>(heard.begin() + 1000, heard.end()), std::vector<uint8_t>(200, 0x80));
    // Dry again with nothing queued: it stops and stays stopped.
    After(100);
    After(100);
    After(100);
    EXPECT_FALSE(buf->playing);
    int locks = buf->locks;
    After(100);
    EXPECT_EQ(buf->locks, locks);
    EXPECT_FALSE(buf->playing);
}

TEST_F(DsFeedTest, AFailedLockWritesNothingAndStartsNothing) {
    Fill(t, Ramp(100, 0));
    fake.lockFails = true;
    After(0);
    EXPECT_EQ(DsTrackStateOf(t).Written, 0u);
    EXPECT_EQ(t->Count, 100u);
    EXPECT_FALSE(buf->playing);
}

TEST_F(DsFeedTest, PositionIsSmoothNeverBackwardsAndNeverPastTheBytesWritten) {
    std::mt19937 rng(11);
    uint32_t last = 0;
    for (int i = 0; i < 4000; i++) {
        if (t->Count < 3000 && rng() % 4 == 0) Fill(t, std::vector<uint8_t>(4 * (1 + rng() % 300), 0x42));
        uint32_t p = Position(t);
        DsTrackState s = DsTrackStateOf(t);
        ASSERT_LE(p, s.Written) << i;
        ASSERT_GE(p, last) << i;
        last = p;
        FakeMs() += rng() % 12;
    }
    EXPECT_GT(last, 8000u);
}

TEST_F(DsFeedTest, PositionInterpolatesWhileThePassesSeeNoProgress) {
    Fill(t, Ramp(4000, 0));
    After(0);
    After(100);  // 800 played; the pass refills
    uint32_t p = Position(t);
    EXPECT_EQ(p, 800u);
    // Within 10 ms no pass runs, so the measured position stands still and
    // the interpolation carries it on at 8 bytes per ms.
    FakeMs() += 5;
    EXPECT_EQ(Position(t), 840u);
}

TEST_F(DsFeedTest, PauseReleasesTheBufferAndResumeMakesANewOne) {
    Fill(t, Ramp(2000, 0));
    After(0);
    SoundDriverTable.pause(t);
    EXPECT_TRUE(buf->released);
    EXPECT_EQ(DsTrackStateOf(t).Buffer, nullptr);
    EXPECT_EQ(DsProcessStateOf().BufferCount, 0u);
    EXPECT_EQ(fake.objectReleases, 1);  // ours, and no buffer left on it
    After(20);                          // a pass leaves a track without buffer alone
    ASSERT_TRUE(SoundDriverTable.resume(t));
    EXPECT_EQ(fake.creates, 2);
    FakeBuffer* again = fake.Secondary(1);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(DsTrackStateOf(t).Buffer, again);
    EXPECT_EQ(DsTrackStateOf(t).Stopped, 1u);
    EXPECT_TRUE(SoundDriverTable.resume(t));  // already has one
    EXPECT_EQ(fake.creates, 2);
}

TEST_F(DsFeedTest, ResetStopsRewindsAndEmptiesTheRing) {
    Fill(t, Ramp(4000, 0));
    After(0);
    Fill(t, Ramp(500, 0));
    After(100);
    SoundDriverTable.reset(t);
    EXPECT_FALSE(buf->playing);
    EXPECT_EQ(buf->cursor, 0u);
    EXPECT_EQ(DsTrackStateOf(t).Written, 0u);
    EXPECT_EQ(t->Count, 0u);
    EXPECT_EQ(t->ReadPos, t->WritePos);
    EXPECT_EQ(Position(t), 0u);
    Fill(t, Ramp(8, 5));
    After(10);
    EXPECT_TRUE(buf->playing);
    EXPECT_EQ(std::vector<uint8_t>(buf->mem.begin(), buf->mem.begin() + 8), Ramp(8, 5));
}

TEST_F(DsFeedTest, TheLastCloseKillsTheTimerAndReleasesTheObject) {
    mv.reset();
    EXPECT_EQ(fake.timerKills, 1);
    EXPECT_EQ(fake.objectReleases, 1);
    EXPECT_TRUE(buf->released);
    DsProcessState p = DsProcessStateOf();
    EXPECT_EQ(p.Object, nullptr);
    EXPECT_FALSE(p.PrimaryPending);
    EXPECT_EQ(p.OpenTracks, 0u);
}

// The sound step and the back-end together on the test's clock: the play
// cursor passes over everything sent, in order, then over silence only.
TEST_F(DirectSoundTest, PlaysAMoviesSoundWhole) {
    Install();
    TestMovie mv(6666);
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true), 17640));
    std::vector<uint8_t> sent;
    for (int f = 0; f < 60; f++) {
        std::vector<uint8_t> pcm = Ramp(f == 0 ? 17640 : 5880, static_cast<uint8_t>(f * 3));
        sent.insert(sent.end(), pcm.begin(), pcm.end());
        mv.SetChunk(0, soundpack::RawChunk(pcm));
        SoundStep(mv.m);
        for (int i = 0; i < 4; i++) After(16);
    }
    for (int i = 0; i < 40; i++) After(25);
    FakeBuffer* buf = fake.Secondary();
    EXPECT_FALSE(buf->playing);
    ASSERT_GE(buf->played.size(), sent.size());
    EXPECT_EQ(std::vector<uint8_t>(buf->played.begin(), buf->played.begin() + sent.size()), sent);
    EXPECT_EQ(std::vector<uint8_t>(buf->played.begin() + sent.size(), buf->played.end()),
              std::vector<uint8_t>(buf->played.size() - sent.size(), 0));
    EXPECT_EQ(mv.track(0)->SoundSkips, 0u);
}

// The feeder on a second thread while the sound step writes: every byte
// sent reaches the buffer once, in order.
// Both threads read this clock: real time run 16 times fast, so that passes
// (at most one per 10 clock ms) come every 0.6 real ms.
uint32_t FastClock() {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count() / 62);
}

TEST_F(DirectSoundTest, TimerThreadAndSoundStepShareTheRingSafely) {
    SetClock(FastClock);
    fake.threadedTimer = true;
    fake.slowTimerLocks = true;
    Install();
    std::vector<uint8_t> sent;
    {
        TestMovie mv(1000);  // 100 frames per second
        ASSERT_TRUE(mv.AddTrack(0, Format(44100, true, true)));
        SoundTrack* t = mv.track(0);
        uint32_t seq = 0;
        auto start = std::chrono::steady_clock::now();
        const uint32_t clock0 = FastClock();
        std::mt19937 rng(5);
        while (std::chrono::steady_clock::now() - start < std::chrono::seconds(3)) {
            // Small chunks at about the rate the buffer plays them, so the
            // ring holds little and the step adds to Count all the time,
            // also while a timer pass is taking from it.
            uint32_t n = 4 * (1 + rng() % 16);
            uint64_t due = uint64_t{FastClock() - clock0} * t->BytesPerSecond / 1000 + 8192;
            if (sent.size() + n <= due && RingCountGet(t) + n <= t->RingSize) {
                std::vector<uint8_t> pcm(n);
                for (uint32_t i = 0; i < n; i += 4, seq++) std::memcpy(&pcm[i], &seq, 4);
                sent.insert(sent.end(), pcm.begin(), pcm.end());
                mv.SetChunk(0, soundpack::RawChunk(pcm));
                SoundStep(mv.m);
            }
            if (rng() % 64 == 0) SoundDriverTable.play_position(t);
        }
        // Let the rest drain, then close (which joins the timer thread).
        for (int i = 0; i < 400 && RingCountGet(t); i++) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(RingCountGet(t), 0u);
        EXPECT_EQ(t->Overflows, 0u);
    }
    FakeBuffer* buf = fake.Secondary();
    ASSERT_NE(buf, nullptr);
    // What went into the buffer, silence tails removed, is what was sent.
    std::vector<uint8_t> data;
    const std::vector<uint8_t>& w = buf->unlocked;
    for (size_t i = 0; i + 4 <= w.size(); i += 4) {
        uint32_t v;
        std::memcpy(&v, &w[i], 4);
        if (v != 0) data.insert(data.end(), w.begin() + i, w.begin() + i + 4);
    }
    std::vector<uint8_t> want;
    for (size_t i = 0; i + 4 <= sent.size(); i += 4) {
        uint32_t v;
        std::memcpy(&v, &sent[i], 4);
        if (v != 0) want.insert(want.end(), sent.begin() + i, sent.begin() + i + 4);
    }
    EXPECT_GT(want.size(), 100000u);
    EXPECT_EQ(data.size(), want.size());
    EXPECT_TRUE(data == want);
}

}  // namespace
