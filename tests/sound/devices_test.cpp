// The three sound back-ends on devices that keep time: the headless one,
// and the waveOut and DirectSound logic on fake devices that play what they
// are given at the format's byte rate on the test's clock and keep what
// they played.
#include <array>
#include <atomic>
#include <chrono>
#include <deque>
#include <memory>
#include <random>
#include <thread>

#include "sound/directsound/directsound_driver.h"
#include "sound/headless/headless_driver.h"
#include "sound/waveout/waveout_driver.h"
#include "tests/sound/sound_fixture.h"

using namespace soundtest;
using movietest::Logged;
using movietest::TestClock;

namespace {

// A waveOut device: written blocks play one after another at the format's rate.
struct WaveBlock {
    uint8_t* data;
    uint32_t length, done;
};
struct WaveDevice {
    static inline WaveDevice* current = nullptr;
    uint32_t openError = 0, busyUntil = 0;
    bool neverFinishes = false, open = false;
    PcmFormat format{};
    Bytes played;
    std::deque<std::pair<WaveBlock*, uint32_t>> queue;  // block, when it finishes
    void Update() {
        for (; !neverFinishes && !queue.empty() && int32_t(NowMs() - queue.front().second) >= 0; queue.pop_front()) {
            WaveBlock* b = queue.front().first;
            played.insert(played.end(), b->data, b->data + b->length), b->done = 1;
        }
    }
};
WaveBlock* W(const void* h) { return static_cast<WaveBlock*>(const_cast<void*>(h)); }
WaveDevice& Dev() { return *WaveDevice::current; }
const WaveOutCalls kWaveCalls = {
    [](uintptr_t* device, const PcmFormat& f, uintptr_t) { return Dev().openError ? Dev().openError : (Dev().format = f, Dev().open = true, *device = 1, 0u); },
    [](uintptr_t) { return Dev().open = false, 0u; },
    [](uintptr_t) {
        for (auto& q : Dev().queue) q.first->done = 1;
        return Dev().queue.clear(), Dev().busyUntil = 0u;
    },
    [](void* h, uint8_t* data, uint32_t length) { *W(h) = {data, length, 0}; },
    [](uintptr_t, void*) { return 0u; },
    [](uintptr_t, void*) { return 0u; },
    [](uintptr_t, void* h) {
        const uint32_t from = int32_t(Dev().busyUntil - NowMs()) > 0 ? Dev().busyUntil : NowMs();
        Dev().busyUntil = from + uint32_t(uint64_t{W(h)->length} * 1000 / Dev().format.AvgBytesPerSecond);
        return Dev().queue.push_back({W(h), Dev().busyUntil}), 0u;
    },
    [](void* h, uint32_t length) { W(h)->length = length; },
    [](const void* h) { return Dev().Update(), W(h)->done != 0; },
    [](void* h, bool done) { W(h)->done = done; },
};

// A DirectSound: looping buffers whose cursor moves on in whole sample
// frames; the timer is a thread when asked for, else nothing ticks it.
struct DsBuffer {
    PcmFormat format{};
    Bytes mem, played, written;  // what the cursor passed over, what was put in
    bool playing = false, primary = false;
    uint32_t cursor = 0, lastMs = NowMs(), speed = 100;  // speed: percent of the format's rate it plays at
    uint64_t playMs = 0, consumed = 0;
    void Advance() {
        playMs += playing ? uint32_t(NowMs() - lastMs) : 0, lastMs = NowMs();
        const uint64_t due = playMs * format.AvgBytesPerSecond * speed / 100000 / format.BlockAlign * format.BlockAlign;
        for (; consumed < due; ++consumed, cursor = (cursor + 1) % mem.size()) played.push_back(mem[cursor]);
    }
};
struct FakeDs {
    static inline FakeDs* current = nullptr;
    bool loads = true, threaded = false;
    int32_t createError = 0, coopError = 0;
    int bufferFailures = 0, lockFailures = 0, objectReleases = 0, speed = 100;  // speed: of the buffers made
    std::string log;  // the calls that set things up, in order
    std::vector<std::unique_ptr<DsBuffer>> buffers;
    std::atomic<bool> ticking{false};
    std::thread timer;
    DsBuffer* Secondary() {
        for (auto& b : buffers)
            if (!b->primary) return b.get();
        return nullptr;
    }
};
FakeDs& Ds() { return *FakeDs::current; }
DsBuffer* B(void* b) { return static_cast<DsBuffer*>(b); }
void* const kObject = reinterpret_cast<void*>(0xD50);
const DsCalls kDsCalls = {
    [] { return Ds().loads; },
    [](void** object) { return Ds().log += "create ", Ds().createError ? Ds().createError : (*object = kObject, 0); },
    [](void*, void* window) { return Ds().log += "window " + std::to_string(uintptr_t(window)) + " ", Ds().coopError; },
    [] { return reinterpret_cast<void*>(0x5150); },
    [](void*, uint32_t flags, uint32_t bytes, const PcmFormat* format, void** buffer) -> int32_t {
        Ds().log += "buffer " + std::to_string(flags) + " " + std::to_string(bytes) + " ";
        if (format && Ds().bufferFailures > 0 && Ds().bufferFailures--) return int32_t(0x88780032u);
        Ds().buffers.push_back(std::make_unique<DsBuffer>());
        DsBuffer* b = Ds().buffers.back().get();
        b->primary = !format, b->format = format ? *format : PcmFormat{0, 0, 0, 1, 0}, b->mem.assign(bytes, 0xEE), b->speed = Ds().speed, *buffer = b;
        return 0;
    },
    [](void* b, const PcmFormat& f) { return B(b)->format = f, 0; },
    [](void* b) { return B(b)->Advance(), B(b)->playing = true, 0; },
    [](void* b) { return B(b)->Advance(), B(b)->playing = false, 0; },
    [](void* b, uint32_t offset) { return B(b)->Advance(), B(b)->cursor = offset, 0; },
    [](void* b, uint32_t* play) { return B(b)->Advance(), *play = B(b)->cursor, 0; },
    [](void* b, uint32_t offset, uint32_t bytes, uint8_t** p1, uint32_t* n1, uint8_t** p2, uint32_t* n2) {
        if (Ds().lockFailures > 0) return --Ds().lockFailures, int32_t(0x80004005u);
        if (Ds().threaded) std::this_thread::sleep_for(std::chrono::microseconds(100));  // slow on the timer thread
        const uint32_t size = uint32_t(B(b)->mem.size());
        EXPECT_TRUE(offset < size && bytes <= size) << offset << " " << bytes;
        *p1 = B(b)->mem.data() + offset, *n1 = std::min(bytes, size - offset), *n2 = bytes - *n1, *p2 = B(b)->mem.data();
        return B(b)->Advance(), 0;
    },
    [](void* b, uint8_t* p1, uint32_t n1, uint8_t* p2, uint32_t n2) {
        B(b)->written.insert(B(b)->written.end(), p1, p1 + n1);
        return B(b)->written.insert(B(b)->written.end(), p2, p2 + n2), 0;
    },
    [](void*) { Ds().log += "release "; },
    [](void*) { ++Ds().objectReleases; },
    [](void (*tick)()) {
        Ds().log += "timer ";
        if (Ds().threaded)
            Ds().ticking = true, Ds().timer = std::thread([tick] {
                while (Ds().ticking) tick(), std::this_thread::sleep_for(std::chrono::microseconds(50));
            });
        return 7u;
    },
    [](uint32_t) {
        if (Ds().timer.joinable()) Ds().ticking = false, Ds().timer.join();
    },
};

enum Backend { kHeadless, kWaveOut, kDirectSound };

struct Devices : ::testing::Test {
    TestClock clock{100000};
    WaveDevice wave;
    FakeDs ds;
    Devices() { WaveDevice::current = &wave, FakeDs::current = &ds; }
    void SetUp() override { SetWaveOutCalls(&kWaveCalls), SetDsCalls(&kDsCalls), UninstallSoundDriver(), HeadlessRecord(true); }
    void TearDown() override { HeadlessRecord(false), UninstallSoundDriver(), SetWaveOutCalls(nullptr), SetDsCalls(nullptr); }
    static void Pass(uint32_t ms) { TestClock::ms += ms, QuarvSoundService(); }
};

// A movie's sound through the sound step on each back-end, the player
// calling in every 10 ms and asking the position 9 ms after each call too:
// the device plays everything sent, in order (waveOut after its 4-byte
// silent start, DirectSound then silence, where it stops); its play position
// never goes back (also when a DirectSound device plays a fifth slower than
// its rate, so that the position guessed between passes runs ahead of the
// next one measured), never passes what was handed to it, and never runs
// ahead of the clock (the headless one in whole sample frames).
TEST_F(Devices, PlayTheSoundWholeAndKeepTime) {
    // Rate, 16-bit stereo (else 8-bit mono); each back-end's buffer (headless none, waveOut block, DirectSound
    // buffer); the DirectSound device's speed in percent.
    const std::tuple<uint32_t, bool, std::array<uint32_t, 3>, int> formats[] = {{8000, false, {0, 4096, 4096}, 100}, {22050, true, {0, 24576, 45056}, 80}};
    for (const auto& [rate, wide, deviceBytes, speed] : formats)
        for (Backend b : {kHeadless, kWaveOut, kDirectSound}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz, back-end " + std::to_string(b));
            WaveDevice wave;  // fresh devices for every round
            FakeDs ds;
            WaveDevice::current = &wave, FakeDs::current = &ds, ds.speed = speed;
            TearDown(), SetUp();
            b == kHeadless ? InstallHeadlessSoundDriver() : b == kWaveOut ? InstallWaveOutSoundDriver() : void(QuarvUseDirectSound(nullptr));
            const uint32_t frame = wide ? 4 : 1, bps = rate * frame, perFrame = bps / 15 / frame * frame;
            Bytes sent;
            TestMovie mv(6666);
            TestClock::step = 1;  // the clock moves while the waveOut start write is waited for
            ASSERT_TRUE(mv.AddTrack(0, Format(rate, wide, wide), 3 * perFrame));
            TestClock::step = 0;
            SoundTrack* t = mv.track(0);
            EXPECT_EQ(b == kWaveOut ? WaveOutStateOf(t).BlockSize : b == kDirectSound ? DsTrackStateOf(t).BufferBytes : 0, deviceBytes[b]);
            uint32_t last = 0, lastMs = TestClock::ms;
            for (int i = 0; i < 780; ++i) {
                if (i % 13 == 0 && i < 480) {
                    const Bytes pcm = Ramp(i ? perFrame : 3 * perFrame, uint8_t(i));
                    sent.insert(sent.end(), pcm.begin(), pcm.end());
                    mv.Step(pcm);
                }
                i % 2 ? Pass(1) : void(TestClock::ms += 9);
                const uint32_t p = SoundDriverTable.play_position(t);
                const uint32_t handed = b == kHeadless ? uint32_t(HeadlessRecording(t)->size())
                                        : b == kDirectSound ? DsTrackStateOf(t).Written : t->Delivered - t->Count;
                ASSERT_TRUE(p >= last && p <= handed) << i << ": " << last << " " << p << " " << handed;
                ASSERT_TRUE(b == kDirectSound || p - last <= (TestClock::ms - lastMs + 1) * bps / 1000 + frame) << i;
                ASSERT_TRUE(b != kHeadless || p % frame == 0) << i;
                last = p, lastMs = TestClock::ms;
            }
            EXPECT_EQ(t->SoundSkips, 0u);
            const Bytes& heard = b == kHeadless ? *HeadlessRecording(t) : b == kWaveOut ? wave.played : ds.Secondary()->played;
            const size_t lead = b == kWaveOut ? 4 : 0;
            ASSERT_GE(heard.size(), lead + sent.size());
            EXPECT_EQ(Bytes(heard.begin() + lead, heard.begin() + lead + sent.size()), sent);
            EXPECT_EQ(std::count(heard.begin(), heard.end(), wide ? 0 : 0x80), long(heard.size() - sent.size()) + std::count(sent.begin(), sent.end(), wide ? 0 : 0x80));
            EXPECT_TRUE(b != kDirectSound || !ds.Secondary()->playing);
        }
}

// At a movie's natural end the sound of the shown frames is played out: the
// play-out waits until the waveOut device has given back the block holding
// the last shown byte (not until the wall-clock estimate has passed it), at
// most for the lead's time, and that wait is no part of the playing time.
TEST_F(Devices, PlayOutWaitsForTheDeviceNoLongerThanTheLead) {
    // Lead, time since the play-out began, whether it still waits. Two
    // blocks play on the device from 0 to 278 ms and from 278 to 557 ms; the
    // shown frames' sound ends at byte 30000, inside the second.
    const std::array<uint32_t, 3> cases[] = {{44100, 400, 1}, {44100, 560, 0}, {8820, 150, 0}, {8820, 90, 1}};
    for (const auto& [lead, afterMs, waits] : cases) {
        SCOPED_TRACE(std::to_string(lead) + " bytes of lead, " + std::to_string(afterMs) + " ms");
        wave = WaveDevice{};
        TearDown(), SetUp();
        InstallWaveOutSoundDriver();
        TestMovie mv;
        TestClock::step = 1;  // the clock moves while the start write is waited for
        ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true), lead));
        TestClock::step = 0;
        SoundTrack* t = mv.track(0);
        mv.Step(Ramp(49152, 0));
        Pass(0), Pass(0);
        t->Clock = 30000 * 1024;
        const uint32_t start = TestClock::ms;
        EXPECT_EQ(QuarvPlayOut(mv.m), 1u);
        TestClock::ms = start + afterMs;
        if (afterMs >= 400) EXPECT_GT(SoundDriverTable.play_position(t), 30000u) << "the estimate is past the end";
        EXPECT_EQ(QuarvPlayOut(mv.m), waits);
        PlaybackSummary summary;
        QuarvSummary(mv.m, &summary);
        EXPECT_EQ(summary.TotalTime, start);
    }
}

// A waveOut device that never finishes its start write fails the track after
// a second instead of hanging, and open errors are logged. DirectSound is
// installed only when its library loads and no other driver is; a failed
// object or buffer drops the track (the log says why, an object made for it
// is given back), and a buffer refused with global focus is asked for again
// without it.
TEST_F(Devices, DeviceFailures) {
    InstallWaveOutSoundDriver();
    wave.neverFinishes = true;
    SetClock([] { return TestClock::ms += 7; });
    TestMovie mv;
    const uint32_t before = TestClock::ms;
    EXPECT_FALSE(mv.AddTrack(0, Format(22050, true, true)));
    EXPECT_TRUE(TestClock::ms - before >= 1000 && TestClock::ms - before < 3100 && !wave.open) << TestClock::ms - before;
    wave.openError = 2;
    EXPECT_EQ(Logged("1", [&] { EXPECT_FALSE(mv.AddTrack(0, Format(22050, true, true))); }), "Using standard waveOut\r\nWaveOut open failed - error #: 2\r\n");
    EXPECT_FALSE(QuarvUseDirectSound(nullptr));  // waveOut is installed
    UninstallSoundDriver();
    ds.loads = false;
    EXPECT_FALSE(QuarvUseDirectSound(nullptr));
    ds.loads = true;
    EXPECT_TRUE(QuarvUseDirectSound(nullptr) && QuarvUseDirectSound(nullptr));
    ds.createError = int32_t(0x80004005u);
    EXPECT_EQ(Logged("1", [&] { EXPECT_FALSE(mv.AddTrack(0, Format(8000, false, false))); }), "Using DirectSound\r\nUnable to create DirectSound object - error #: -2147467259\r\n");
    ds.createError = 0, ds.bufferFailures = 2;
    EXPECT_FALSE(mv.AddTrack(0, Format(8000, false, false)));
    EXPECT_EQ(ds.objectReleases, 1);
    ds.log.clear(), ds.bufferFailures = 1, mv.m->OpenFlags = OPEN_PAN_CONTROL | OPEN_VOLUME_CONTROL;
    ASSERT_TRUE(mv.AddTrack(0, Format(22050, true, true)));
    EXPECT_EQ(ds.log, "create window 20816 buffer 98496 45056 buffer 65728 45056 timer ");
}

// A DirectSound buffer whose lock failed is neither written nor started
// (it would play what it held before); the next pass fills and starts it.
TEST_F(Devices, AFailedLockStartsNothing) {
    ASSERT_TRUE(QuarvUseDirectSound(nullptr));
    TestMovie mv;
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false)));
    mv.Step(Ramp(800, 1));
    ds.lockFailures = 1;
    Pass(20);
    DsBuffer* b = ds.Secondary();
    EXPECT_TRUE(!b->playing && b->written.empty());
    Pass(20);
    EXPECT_TRUE(b->playing);
    EXPECT_EQ(b->written, Ramp(800, 1));
}

// The feeder on the timer's thread while the sound step writes on the
// player's: every byte sent goes into the buffer once, in order. Both threads
// read a clock run 16 times fast, so that passes come every 0.6 ms; locks on
// the timer thread take a while, so the step adds to Count while a pass is
// between reading and taking it.
TEST_F(Devices, TimerThreadAndSoundStepShareTheRing) {
    SetClock([] { return uint32_t(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch()).count() / 62); });
    ds.threaded = true;
    ASSERT_TRUE(QuarvUseDirectSound(nullptr));
    Bytes sent;
    {
        TestMovie mv(1000);
        ASSERT_TRUE(mv.AddTrack(0, Format(44100, true, true)));
        SoundTrack* t = mv.track(0);
        std::mt19937 rng(5);
        const uint32_t start = NowMs();
        for (uint32_t seq = 1; NowMs() - start < 3000 * 16;) {
            const uint32_t n = 4 * (1 + rng() % 16);
            if (sent.size() + n <= uint64_t{NowMs() - start} * t->BytesPerSecond / 1000 + 8192 && RingCountGet(t) + n <= t->RingSize) {
                Bytes pcm(n);
                for (uint32_t i = 0; i < n; i += 4, ++seq) std::memcpy(&pcm[i], &seq, 4);
                sent.insert(sent.end(), pcm.begin(), pcm.end());
                mv.Step(pcm);
            }
            if (rng() % 64 == 0) SoundDriverTable.play_position(t);
        }
        for (int i = 0; i < 400 && RingCountGet(t); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(RingCountGet(t) + t->Overflows, 0u);
    }  // closing joins the timer thread
    const Bytes& written = ds.Secondary()->written;
    Bytes words;  // the silence put after the sound whenever the ring ran dry left out
    for (size_t i = 0; i + 4 <= written.size(); i += 4)
        if (written[i] | written[i + 1] | written[i + 2] | written[i + 3]) words.insert(words.end(), &written[i], &written[i] + 4);
    EXPECT_GT(sent.size(), 100000u);
    EXPECT_TRUE(words == sent);
}

}  // namespace
