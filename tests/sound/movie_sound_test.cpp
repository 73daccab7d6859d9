// Writer-made movies with sound played through the library's frame loop on
// the headless device, with a clock the test moves: what the device played
// must be the movie's sound, in order and whole.
#include <gtest/gtest.h>

#include <random>

#include "sound/headless/headless_driver.h"
#include "tests/sound/sound_fixture.h"
#include "tests/support/movie_bytes.h"
#include "writer/writer.h"

using soundtest::FakeMs;

namespace {

std::vector<uint8_t> WalkPcm(size_t bytes, int bits, int channels, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> pcm(bytes);
    int32_t level[2] = {0, 0};
    size_t fs = static_cast<size_t>(bits / 8 * channels);
    for (size_t f = 0; f + fs <= bytes; f += fs)
        for (int ch = 0; ch < channels; ch++) {
            level[ch] += static_cast<int32_t>(rng() % 201) - 100;
            if (bits == 16) {
                pcm[f + ch * 2] = static_cast<uint8_t>(level[ch]);
                pcm[f + ch * 2 + 1] = static_cast<uint8_t>(level[ch] >> 8);
            } else {
                pcm[f + ch] = static_cast<uint8_t>(128 + level[ch] / 64);
            }
        }
    return pcm;
}

struct MovieSoundTest : ::testing::Test {
    void SetUp() override {
        UninstallSoundDriver();
        InstallHeadlessSoundDriver();
        HeadlessRecord(true);
        HeadlessTakeClosedRecordings();
        FakeMs() = 10000;
        SetClock(soundtest::FakeClock);
    }
    void TearDown() override {
        SetClock(nullptr);
        HeadlessRecord(false);
        UninstallSoundDriver();
    }

    // A 16 x 16 movie of `frames` frames at 15 fps with one sound track.
    std::vector<uint8_t> Write(uint32_t frames, const qvw::TrackPlan& track, qvw::WriteReport* report) {
        qvw::MoviePlan plan;
        plan.width = 16;
        plan.height = 16;
        plan.frame_rate = qvw::FrameRateForFps(15);
        for (uint32_t f = 0; f < frames; f++) {
            qvw::FramePlan fs;
            fs.picture.assign(16 * 16, static_cast<uint8_t>(f));
            plan.frames.push_back(fs);
        }
        plan.tracks[0] = track;
        return qvw::WriteMovie(plan, report);
    }

    static std::vector<uint8_t> AllChunks(const qvw::WriteReport& r) {
        std::vector<uint8_t> out;
        for (const auto& c : r.track_chunks[0]) out.insert(out.end(), c.begin(), c.end());
        return out;
    }

    // Plays to the last frame the way the player does; `hook` runs after
    // each frame is shown.
    template <class Hook>
    std::vector<uint8_t> Play(Movie* m, Hook hook) {
        SoundTrack* t = m->Track[m->TimingTrack];
        const std::vector<uint8_t>* rec = HeadlessRecording(t);
        for (;;) {
            QuarvDoFrame(m);
            hook(m);
            if (m->FrameNum == m->Header.Frames - 1) break;
            QuarvNextFrame(m);
            for (int spins = 0; QuarvWait(m); spins++) {
                FakeMs() += 1;
                if (spins > 100000) {
                    ADD_FAILURE() << "frame " << m->FrameNum << " never came due";
                    return *rec;
                }
            }
        }
        FakeMs() += 5000;
        QuarvSoundService();
        return *rec;
    }
};

TEST_F(MovieSoundTest, SixteenBitStereoCompressedPlaysWhole) {
    qvw::TrackPlan track;
    track.rate = 22050;
    track.bits = 16;
    track.channels = 2;
    track.compressed = true;
    track.pcm = WalkPcm(88200 * 3, 16, 2, 5);
    qvw::WriteReport report;
    movietest::TempFile file(Write(40, track, &report));
    Movie* m = QuarvOpen(file.path().c_str(), OPEN_TRACK0, 0xFFFFFFFF);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->TimingTrack, 0);
    EXPECT_EQ(m->Track[0]->Lead, report.sound_lead[0] & ~3u);
    std::vector<uint8_t> played = Play(m, [](Movie*) {});
    EXPECT_EQ(m->Track[0]->SoundSkips, 0u);
    EXPECT_EQ(m->Track[0]->Overflows, 0u);
    EXPECT_EQ(played, AllChunks(report));
    QuarvClose(m);
    EXPECT_EQ(OpenTrackCount, 0u);
}

TEST_F(MovieSoundTest, EightBitMonoRawPlaysWhole) {
    qvw::TrackPlan track;
    track.rate = 11025;
    track.bits = 8;
    track.channels = 1;
    track.compressed = false;
    track.pcm = WalkPcm(11025 * 3, 8, 1, 6);
    qvw::WriteReport report;
    movietest::TempFile file(Write(30, track, &report));
    Movie* m = QuarvOpen(file.path().c_str(), OPEN_TRACK0, 0xFFFFFFFF);
    ASSERT_NE(m, nullptr);
    std::vector<uint8_t> played = Play(m, [](Movie*) {});
    EXPECT_EQ(played, AllChunks(report));
    QuarvClose(m);
}

// Pausing and resuming on the same frame drops what was queued and replays
// the last lead of sound written before the pause.
TEST_F(MovieSoundTest, PauseAndResumeReplayTheLead) {
    qvw::TrackPlan track;
    track.rate = 11025;
    track.bits = 16;
    track.channels = 2;
    track.compressed = true;
    track.pcm = WalkPcm(44100 * 3, 16, 2, 7);
    track.lead_bytes = 22048;  // half a second, whole sample frames
    qvw::WriteReport report;
    movietest::TempFile file(Write(30, track, &report));
    Movie* m = QuarvOpen(file.path().c_str(), OPEN_TRACK0, 0xFFFFFFFF);
    ASSERT_NE(m, nullptr);
    SoundTrack* t = m->Track[0];
    const std::vector<uint8_t> sent = AllChunks(report);
    uint32_t playedAtPause = 0, writtenAtPause = 0;
    std::vector<uint8_t> played = Play(m, [&](Movie* mm) {
        if (mm->FrameNum != 12) return;
        playedAtPause = SoundDriverTable.play_position(t);
        writtenAtPause = t->Delivered;
        ASSERT_EQ(QuarvSoundOnOff(mm, 0), 1u);
        FakeMs() += 700;  // nothing plays while paused
        EXPECT_EQ(SoundDriverTable.play_position(t), playedAtPause);
        ASSERT_EQ(QuarvSoundOnOff(mm, 1), 1u);
    });
    const uint32_t lead = t->Lead;
    ASSERT_GT(writtenAtPause, lead);
    std::vector<uint8_t> want(sent.begin(), sent.begin() + playedAtPause);
    want.insert(want.end(), sent.begin() + (writtenAtPause - lead), sent.begin() + writtenAtPause);
    want.insert(want.end(), sent.begin() + writtenAtPause, sent.end());
    EXPECT_EQ(played.size(), want.size());
    EXPECT_EQ(played, want);
    QuarvClose(m);
}

}  // namespace
