// When frames are due, by the clock or by the sound, when a frame is late,
// and the sound of a movie played through: switched off and on, rewound.
#include <sstream>

#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "sound/headless/headless_driver.h"
#include "sound/sound_driver.h"
#include "tests/support/movie_bytes.h"
#include "writer/writer.h"

using namespace movietest;

namespace {

// Scripts of waits on the clock: "T" sets the clock to T ms, "W1" / "W0" is
// a QuarvWait and what it says, "N" the next frame. The first wait starts
// the pace; a frame held up by more than a frame restarts it from now (one
// late frame, then the normal pace); one frame behind catches up.
TEST(WaitByClock, FramesComeDueAtTheirPace) {
    const std::pair<int32_t, const char*> cases[] = {
        {0, "1000 W1 W0 N 1003 W0 N 1006 W0 N W0"},  // untimed: one wait, then none
        {-6666, "1000 W1 1050 W1 1067 W0 W0 N 1100 W1 1134 W0 N 1334 W0 N 1335 W1 1400 W1 1401 W0"},
        {-6666, "2000 W1 2167 W0 N W0 N W1 2200 W0"},
        {-6666, "42949600 W1 42949670 W0 N W1 42949733 W1 42949734 W0"},  // the 10 us clock wraps
    };
    RawMovie plan = PatternMovie(std::vector<uint32_t>(20, 3000), 4096);
    for (const auto& [frameRate, script] : cases) {
        TestClock clock(0);
        plan.header.FrameRate = frameRate;
        MemoryFile file(plan.Build());
        Movie* m = QuarvOpen(MemoryFile::kName, 0, 0);
        std::istringstream in(script);
        std::string step, got;
        while (in >> step) {
            if (step[0] == 'W') step = "W" + std::to_string(QuarvWait(m));
            if (step[0] == 'N') QuarvNextFrame(m);
            if (std::isdigit(static_cast<unsigned char>(step[0]))) TestClock::ms = std::stoul(step);
            got += (got.empty() ? "" : " ") + step;
        }
        EXPECT_EQ(got, script);
        QuarvClose(m);
    }
}

// A writer-made movie with one sound track played as the player plays it,
// paced by the headless device on the test's clock: the device plays the
// movie's sound whole. Sound switched off after frame 12 and on again on the
// same frame replays the last lead before the pause as it was; after the
// picture moved on, or when bit 31 asks for it, as silence; a device that
// cannot restart leaves the movie paused. Frames come due by the sound; a
// player held up for 700 ms finds the next frames late (the sound, given a
// second's lead, plays on whole). Without a pause the movie loops once: the rewind
// restarts its sound (what was not played yet is dropped), unless another
// movie has a sound track open too. The summary counts every frame, and the
// frame held up as the slowest.
TEST(SoundOnOff, ResumingReplaysTheLastLead) {
    enum Action { kNone, kSameFrame, kMovedOn, kHighBit, kRefused, kStall };
    const std::pair<Action, int> cases[] = {{kNone, 16}, {kNone, 8}, {kSameFrame, 16}, {kMovedOn, 8}, {kMovedOn, 16}, {kHighBit, 16}, {kRefused, 8}, {kStall, 16}};
    for (const auto& [action, bits] : cases) {
        SCOPED_TRACE(std::to_string(action) + ", " + std::to_string(bits) + "-bit");
        UninstallSoundDriver();
        InstallHeadlessSoundDriver();
        HeadlessRecord(true);
        TestClock clock(10000);
        qvw::MoviePlan plan;
        plan.width = plan.height = 16;
        plan.frames.resize(30);
        plan.tracks[0] = qvw::TrackPlan{11025, bits, 2, bits == 16, Bytes(3 * 11025 * bits / 4), 11024 * bits / (action == kStall ? 4 : 8), {}, {}, 0, {}};
        for (size_t i = 0; i < plan.tracks[0]->pcm.size(); ++i) plan.tracks[0]->pcm[i] = uint8_t(i * 7 / 5 + i / 999);
        qvw::WriteReport report;
        MemoryFile file(qvw::WriteMovie(plan, &report));
        Movie* other = action == kNone && bits == 8 ? QuarvOpen(MemoryFile::kName, OPEN_TRACK0, 0xFFFFFFFFu) : nullptr;
        Movie* m = QuarvOpen(MemoryFile::kName, OPEN_TRACK0, 0xFFFFFFFFu);
        ASSERT_NE(m, nullptr);
        SoundTrack* t = m->Track[0];
        const std::vector<Bytes>& chunks = report.track_chunks[0];
        Bytes want;
        const uint32_t frames = action == kNone ? 36 : 30;
        uint32_t late = 0;
        for (uint32_t f = 0;; ++f) {
            late += QuarvDoFrame(m);
            want = Cat({want, chunks[f % 30]});
            if (f == 12 && action != kNone && action != kStall) {
                const uint32_t played = SoundDriverTable.play_position(t), lead = t->Lead, silence = bits == 16 ? 0 : 0x80;
                const Bytes before(want.end() - lead, want.end());
                want = Cat({Bytes(want.begin(), want.begin() + played), action == kSameFrame || action == kRefused ? before : Bytes(lead, silence)});
                ASSERT_EQ(QuarvSoundOnOff(m, 0), 1u);
                TestClock::ms += 700;  // nothing plays while paused
                EXPECT_EQ(SoundDriverTable.play_position(t), played);
                if (action == kMovedOn) QuarvNextFrame(m), QuarvDoFrame(m), ++f;
                HeadlessFailResume(action == kRefused);
                EXPECT_EQ(QuarvSoundOnOff(m, action == kHighBit ? 0x80000001u : 1), action == kRefused ? 0u : 1u);
                EXPECT_EQ(m->SoundPaused, action == kRefused ? 1u : 0u);
                HeadlessFailResume(false);
                EXPECT_TRUE(action != kRefused || QuarvSoundOnOff(m, 1) == 1u);
            }
            if (f + 1 == frames) break;
            if (f == 20 && action == kStall) TestClock::ms += 700;
            if (f == 29 && !other) want.resize(SoundDriverTable.play_position(t));
            QuarvNextFrame(m);
            for (int spins = 0; QuarvWait(m); ++spins) {
                TestClock::ms += 1;
                ASSERT_LT(spins, 100000) << "frame " << f + 1 << " never came due";
            }
        }
        PlaybackSummary s;  // the frame held up by the pause is the slowest, and only in one place
        QuarvSummary(m, &s);
        EXPECT_EQ(std::vector<uint32_t>({s.FramesDecoded, s.SoundSkips, t->Overflows, s.FrameTime, s.TotalTime, late > 0}),
                  std::vector<uint32_t>({frames, 0, 0, 6666, TestClock::ms - m->PlayStart, action == kStall}));
        const uint32_t heldUp = action == kStall ? 21 : 13;
        EXPECT_TRUE(action == kNone ? s.SlowestTime == 1000 && s.SlowestFrame == 1  // no frame took time before its advance
                                    : s.SlowestFrame == heldUp && s.SlowestTime >= 700 && s.SecondSlowestFrame != heldUp)
            << s.SlowestFrame << " " << s.SlowestTime << " " << s.SecondSlowestFrame;
        TestClock::ms += 5000;
        QuarvSoundService();
        EXPECT_EQ(*HeadlessRecording(t), want);
        QuarvClose(m);
        QuarvClose(other);
        UninstallSoundDriver();
    }
    EXPECT_EQ(QuarvSoundOnOff(nullptr, 1), 0u);
    MemoryFile file(PatternMovie({100, 100}, 300).Build());
    Movie* silent = QuarvOpen(MemoryFile::kName, 0, 0);  // no sound at all: nothing to switch
    EXPECT_EQ(QuarvSoundOnOff(silent, 0) + silent->SoundPaused, 1u);
    QuarvClose(silent);
}

}  // namespace
