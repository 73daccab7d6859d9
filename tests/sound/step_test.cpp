// Setting a track up, and the per-frame sound step that fills its ring, on
// the headless device with a clock only the test moves (the device takes
// sound only when the test lets time pass: 8 bytes a ms at 8000 Hz 8-bit).
#include "blit/blit.h"
#include "sound/headless/headless_driver.h"
#include "tests/sound/sound_fixture.h"
#include "writer/writer.h"

using namespace soundtest;
using movietest::TestClock;

namespace {

struct Headless : ::testing::Test {
    TestClock clock{1000};
    void SetUp() override { UninstallSoundDriver(), InstallHeadlessSoundDriver(); }
    void TearDown() override { HeadlessFailOpens(0), UninstallSoundDriver(); }
};

// The ring holds a second and two frames of sound in whole pages (two at
// least), the lead is whole words and never more than the ring, and the
// record, the ring and the unpacker scratch count as the movie's. Tracks the
// file lacks, a refusing device or missing memory leave the track out (its
// ring given back); the first track set up paces the picture; the scratch
// is the process's, freed with its last track; with no driver installed
// the default one is.
TEST_F(Headless, SetUpTracks) {
    // Format, frame time, SoundLead; bytes a second, a frame's bytes x 1024, ring, lead.
    const std::tuple<uint32_t, uint32_t, uint32_t, std::vector<uint32_t>> cases[] = {
        {Format(22050, true, true, true), 6666, 94080, {88200, 6020517, 102400, 94080}},
        {Format(11025, false, false), 6666, 1003, {11025, 752564, 16384, 1000}},
        {Format(1000, false, true), 0, 0, {2000, 0, 8192, 0}},
        {Format(11025, true, false), 6666, 200000, {22050, 1505129, 28672, 28672}},
    };
    for (const auto& [format, frameTime, lead, expect] : cases) {
        TestMovie mv(frameTime);
        ASSERT_TRUE(mv.AddTrack(2, format, lead));
        const SoundTrack* t = mv.track(2);
        EXPECT_EQ(std::vector<uint32_t>({t->BytesPerSecond, t->FrameBytes, t->RingSize, t->Lead}), expect);
        EXPECT_TRUE(mv.m->MemUsed == sizeof(SoundTrack) + 8192 + expect[2] && mv.m->TimingTrack == 2);
        EXPECT_TRUE(t->ReadPos == t->RingStart && t->WritePos == t->RingStart && t->RingEnd - t->RingStart == expect[2]);
    }
    UninstallSoundDriver();
    TestMovie a, b;
    EXPECT_FALSE(a.AddTrack(0, 22050 | kTrackBits16) || a.AddTrack(1, kTrackPresent));  // not present; rate 0
    for (const char* failing : {"scratch", "device", "ring"}) {
        SetAllocFailCountdown(failing[0] == 'd' ? -1 : 1);  // the record, then not the next allocation
        HeadlessFailOpens(failing[0] == 'd');
        EXPECT_FALSE(a.AddTrack(2, Format(11025, false, false))) << failing;
        SetAllocFailCountdown(-1);
        EXPECT_EQ(a.m->MemUsed, failing[0] == 's' ? 0u : 8192u) << failing;
    }
    ASSERT_TRUE(a.AddTrack(3, Format(11025, false, false)) && a.AddTrack(4, Format(11025, false, false)) && b.AddTrack(0, Format(11025, false, false)));
    EXPECT_EQ(std::vector<uint32_t>({uint32_t(a.m->TimingTrack), b.m->MemUsed, OpenTrackCount + HeadlessOpenTracks()}),
              std::vector<uint32_t>({3, sizeof(SoundTrack) + 16384, 6}));  // b has no scratch of its own
    CloseTracks(a.m);
    for (TestMovie* mv : {&a, &b}) {  // while b holds a track the scratch stays; then it is allocated afresh
        const uint32_t before = mv->m->MemUsed;
        ASSERT_TRUE(mv->AddTrack(0, Format(11025, false, false)));
        EXPECT_EQ(mv->m->MemUsed - before, sizeof(SoundTrack) + 16384 + (mv == &b ? 8192 : 0));
        CloseTracks(a.m), CloseTracks(b.m);
    }
}

// Raw chunks go into the ring, read only as far as their record holds them;
// a full ring cuts a chunk and counts it; a frame without the timing track's
// chunk writes no track at all, and disabled tracks are skipped.
TEST_F(Headless, StepFillsTheRings) {
    TestMovie mv(10000);
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false), 1000) && mv.AddTrack(2, Format(8000, false, false)));
    SoundTrack *t = mv.track(0), *other = mv.track(2);
    mv.StepChunk(Cat({movietest::Le32(1004), Ramp(1000, 0)}), 604);  // the record ends 400 bytes early
    mv.SetChunk(2, Cat({movietest::Le32(104), Ramp(100, 7)}));
    mv.StepChunk({8, 0}, 2);  // too short for its length word: no chunk
    EXPECT_EQ(t->NoData + other->Count, 1u);
    mv.Step(Ramp(6000, 1));
    mv.m->OpenFlags &= ~uint32_t{OPEN_TRACK2};
    mv.Step(Ramp(6000, 2));
    EXPECT_EQ(Queued(t), Cat({Ramp(600, 0), Ramp(6000, 1), Ramp(5688, 2)}));
    EXPECT_EQ(std::vector<uint32_t>({t->Delivered, t->Overflows, other->Count}), std::vector<uint32_t>({12288, 1, 100}));
}

// A device that ran dry is answered once, with silence up to the lead (never
// before any sound was delivered, never past the ring), and the picture
// waits for it; a chunk of at least the lead needs none.
TEST_F(Headless, StepAnswersAnUnderrunWithSilence) {
    TestMovie mv(0);  // untimed: the clock moves only by the silence
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, false, false), 1000));
    SoundTrack* t = mv.track(0);
    t->Underrun = 1;  // before any sound
    mv.Step(Ramp(400, 1));
    mv.Step(Ramp(400, 2));
    TestClock::ms += 200;  // the device wanted 1600
    QuarvSoundService();
    mv.Step(Ramp(300, 7));
    EXPECT_EQ(t->ClockBase, 700u);
    mv.Step(Ramp(300, 9));  // the same underrun is not answered twice
    t->Underrun = 1;
    mv.Step(Ramp(1000, 3));
    EXPECT_EQ(Queued(t), Cat({Bytes(700, 0x80), Ramp(300, 7), Ramp(300, 9), Ramp(1000, 3)}));
    mv.Step(Ramp(5592, 0));  // 300 bytes of the 8192 free
    t->Underrun = 1;
    mv.Step(Ramp(100, 1));
    const Bytes q = Queued(t);
    EXPECT_EQ(Bytes(q.end() - 300, q.end()), Cat({Bytes(200, 0x80), Ramp(100, 1)}));
    EXPECT_EQ(std::vector<uint32_t>({t->SoundSkips, t->Count, mv.m->SyncPending}), std::vector<uint32_t>({2, 8192, 0}));
}

// Compressed chunks are unpacked into the ring and count their unpacked
// size, also when their presence bit is 0 (nothing written); a chunk too
// short for its header is no chunk, and a lying unpacked size is held to the
// ring's room. The blitter's long table build feeds the device before and
// after it.
TEST_F(Headless, StepUnpacksCompressedChunks) {
    TestMovie mv(10000);
    ASSERT_TRUE(mv.AddTrack(0, Format(8000, true, true, true), 1000));
    SoundTrack* t = mv.track(0);
    const Bytes pcm = Ramp(4000, 3);
    Bytes chunk = qvw::EncodeSoundChunk(pcm.data(), pcm.size(), 16, 2, true);
    mv.StepChunk(chunk);
    const Bytes before(t->RingStart, t->RingEnd);
    mv.StepChunk(Cat({movietest::Le32(10), movietest::Le32(640), {0x00, 0xFF}}));
    EXPECT_EQ(Bytes(t->RingStart, t->RingEnd), before);
    mv.StepChunk(chunk, 7);
    EXPECT_EQ(t->NoData + t->Count, 4641u);
    std::fill(chunk.begin() + 4, chunk.begin() + 8, 0xFF);
    mv.StepChunk(chunk);
    EXPECT_EQ(t->Count + t->Overflows, t->RingSize + 1);
    EXPECT_EQ(Bytes(t->RingStart, t->RingStart + 4000), pcm);
    EXPECT_EQ(Bytes(t->RingStart + 4640, t->RingStart + 8640), pcm);
    Blitter* b = QuarvBlitOpen(0x4);  // 8-bit smoothing
    uint8_t palette[768];
    for (int i = 0; i < 768; ++i) palette[i] = uint8_t(i * 7);
    for (uint32_t fed : {1u, 0u}) {  // the same colours again: no build, no feeding
        const uint32_t count = t->Count;
        TestClock::ms += 100;
        QuarvBlitSetPalette(b, palette, 0);
        EXPECT_EQ(count - t->Count, fed * 3200);
    }
    QuarvBlitClose(b);
}

}  // namespace
