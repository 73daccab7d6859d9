// Frame order, rewinding, palettes across frames, ReadError, and the
// statistics of QuarvSummary.
#include <gtest/gtest.h>

#include "movie/container.h"
#include "movie/sequence.h"
#include "movie/stream.h"
#include "tests/movie/movie_test_util.h"

using namespace movietest;

namespace {

std::vector<uint32_t> FrameOrder(Movie* m, const MoviePlan& plan, int steps) {
    std::vector<uint32_t> order{m->FrameNum};
    for (int i = 0; i < steps; ++i) {
        QuarvNextFrame(m);
        ExpectCurrentRecord(m, plan);
        order.push_back(m->FrameNum);
    }
    return order;
}

TEST(Sequence, RingFrameReplacesFrameZeroWhenLooping) {
    const MoviePlan plan = PatternMovie({900, 5000, 7000, 3000, 6000}, 2000, true);
    for (uint32_t extra : {0u, 1000000u}) {  // streamed, preloaded
        MemoryFile file(MovieBytes(plan));
        Movie* m = QuarvOpen(MemoryFile::name(), 0, extra);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->BufStart == nullptr, extra != 0);
        EXPECT_EQ(FrameOrder(m, plan, 11), (std::vector<uint32_t>{0, 1, 2, 3, 4, 1, 2, 3, 4, 1, 2, 3}));
        QuarvClose(m);
    }
}

TEST(Sequence, WithoutRingFrameTheMovieRewindsToFrameZero) {
    const MoviePlan plan = PatternMovie({900, 5000, 7000}, 2000);
    for (uint32_t extra : {0u, 1000000u}) {
        MemoryFile file(MovieBytes(plan));
        Movie* m = QuarvOpen(MemoryFile::name(), 0, extra);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(FrameOrder(m, plan, 7), (std::vector<uint32_t>{0, 1, 2, 0, 1, 2, 0, 1}));
        QuarvClose(m);
    }
}

TEST(Sequence, SingleFrameMovies) {
    // One frame: it repeats. One frame and a ring frame: the ring frame repeats.
    const MoviePlan one = PatternMovie({500}, 300);
    MemoryFile f1(MovieBytes(one));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(FrameOrder(m, one, 3), (std::vector<uint32_t>{0, 0, 0, 0}));
    QuarvClose(m);

    const MoviePlan ring = PatternMovie({500, 600}, 300, true);
    MemoryFile f2(MovieBytes(ring));
    m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(FrameOrder(m, ring, 3), (std::vector<uint32_t>{0, 1, 1, 1}));
    QuarvClose(m);
}

TEST(Sequence, RewindClearsThePaletteAndPaletteFlagsFollowTheChunks) {
    MoviePlan plan = PatternMovie({0, 0, 0}, 300);
    plan.records[0] = RecordBuilder().Video({1, 2, 3}).Build();  // no palette
    plan.records[1] = RecordBuilder().Palette({0x80}).Video({4}).Build();
    plan.records[2] = RecordBuilder().Palette({0x80}).Build();
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->NewPalette, 0u);
    EXPECT_EQ(m->PaletteSeen, 0u);
    QuarvNextFrame(m);
    EXPECT_EQ(m->NewPalette, 1u);
    EXPECT_EQ(m->PaletteSeen, 1u);
    EXPECT_EQ(m->PaletteChunkSize, 5u);
    // The frame decoder took frame 2's palette already (as after a jump back).
    m->PaletteFrame = 2;
    QuarvNextFrame(m);
    EXPECT_EQ(m->NewPalette, 0u);
    EXPECT_EQ(m->PaletteSeen, 1u);
    // Rewinding to frame 0 (no palette chunk) leaves black.
    std::memset(m->Palette, 0x77, sizeof m->Palette);
    QuarvNextFrame(m);
    ASSERT_EQ(m->FrameNum, 0u);
    EXPECT_EQ(m->NewPalette, 0u);
    for (uint8_t c : m->Palette) ASSERT_EQ(c, 0);
    EXPECT_EQ(m->PaletteSeen, 1u);  // never cleared
    QuarvClose(m);
}

TEST(Sequence, ReadErrorFreezesATruncatedMovie) {
    const MoviePlan plan = PatternMovie({5000, 5000, 5000, 5000, 5000}, 4096);
    Bytes bytes = MovieBytes(plan);
    bytes.resize(4096 + 12000);  // records 2.. are cut
    MemoryFile file(bytes);
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    QuarvNextFrame(m);
    ASSERT_EQ(m->ReadError, 1u);
    const size_t ops = file.ops.size();
    const uint8_t* data = m->FrameData;
    // From now on: no reads, only the frame count moves on, and the wait
    // and decode entry points return at once.
    for (int i = 0; i < 10; ++i) {
        QuarvNextFrame(m);
        EXPECT_EQ(QuarvWait(m), 0u);
        EXPECT_EQ(QuarvDoFrame(m), 0u);
    }
    EXPECT_EQ(m->FrameNum, 12u);
    EXPECT_EQ(m->FrameData, data);
    EXPECT_EQ(file.ops.size(), ops);
    QuarvClose(m);
}

TEST(Sequence, ChunkLengthsNeverLeaveTheRecord) {
    MoviePlan plan = PatternMovie({0, 0, 0, 0}, 300);
    plan.records[0] = RecordBuilder().Video(Bytes(20000, 9)).Build();  // enough to be streamed
    // Palette chunk claiming 1020 bytes in a 12-byte record.
    Record r1;
    r1.type = 0x01 | 0x02;
    r1.bytes = {255, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    plan.records[1] = r1;
    plan.records[2] = RecordBuilder().SoundWithLength(0, 0x7FFFFFFF, Bytes(20, 3)).Build();
    plan.records[3] = RecordBuilder().SoundWithLength(4, 2, Bytes(20, 3)).Sound(5, {1}).Video({1}).Build();
    for (uint32_t extra : {0u, 1000000u}) {
        MemoryFile file(MovieBytes(plan));
        Movie* m = QuarvOpen(MemoryFile::name(), 0, extra);
        ASSERT_NE(m, nullptr);
        ASSERT_EQ(m->BufStart == nullptr, extra != 0);
        QuarvNextFrame(m);
        EXPECT_EQ(m->PaletteChunkSize, 12u);
        EXPECT_EQ(m->SoundChunk[0], nullptr);
        EXPECT_EQ(m->VideoData, m->FrameData + 12);
        EXPECT_EQ(m->VideoSize, 0u);
        QuarvNextFrame(m);
        EXPECT_EQ(m->SoundChunk[0], m->FrameData);
        EXPECT_EQ(m->SoundChunkSize[0], 24u);
        EXPECT_EQ(m->VideoSize, 0u);
        QuarvNextFrame(m);
        EXPECT_EQ(m->SoundChunk[4], nullptr);
        EXPECT_EQ(m->SoundChunk[5], nullptr);
        EXPECT_EQ(m->SoundChunkSize[5], 0u);
        EXPECT_EQ(m->VideoSize, 0u);
        EXPECT_EQ(m->VideoData, m->FrameData + plan.records[3].bytes.size());
        QuarvClose(m);
    }
}

TEST(Summary, MovieNeverShown) {
    const MoviePlan plan = PatternMovie({3000, 3000, 3000, 3000}, 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    PlaybackSummary s;
    std::memset(&s, 0xAB, sizeof s);
    QuarvSummary(m, &s);
    EXPECT_EQ(s.SlowestTime, 1000u);
    EXPECT_EQ(s.SecondSlowestTime, 1000u);
    EXPECT_EQ(s.SlowestFrame, 1u);
    EXPECT_EQ(s.SecondSlowestFrame, 1u);
    EXPECT_EQ(s.FramesDecoded, 0u);
    EXPECT_EQ(s.FramesSkipped, 0u);
    EXPECT_EQ(s.SoundSkips, 0u);
    EXPECT_EQ(s.FrameTime, 6666u);
    EXPECT_EQ(s.AverageFrameSize, 3000u);
    EXPECT_EQ(s.BufSize, 8192u);
    EXPECT_EQ(s.ReadTime, 0u);  // nothing read since the open
    EXPECT_EQ(s.PeakMemUsed, m->PeakMemUsed);
    EXPECT_GT(s.PeakMemUsed, 8192u + 4096u);
    QuarvSummary(nullptr, &s);  // ignored
    QuarvClose(m);
}

TEST(Summary, FrameTimesAndRates) {
    TestClock clock(10000);
    const MoviePlan plan = PatternMovie(std::vector<uint32_t>(8, 3000), 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    // Frame durations 30, 50, 20, 40 ms (frames 0..3), with copy and decode
    // parts, as QuarvDoFrame and the copy step mark them.
    const uint32_t durations[] = {30, 50, 20, 40};
    for (uint32_t d : durations) {
        m->FrameStart = m->DecodeStart = TestClock::Ms();
        if (m->PlayStart == 0) m->PlayStart = TestClock::Ms();
        TestClock::Ms() += d / 2;
        m->CopyStart = TestClock::Ms();
        m->DecodeTime += m->CopyStart - m->DecodeStart;
        m->DecodeStart = 0;
        TestClock::Ms() += d - d / 2;
        QuarvNextFrame(m);
    }
    // Background reads are timed too.
    m->BytesRead = 600000;
    m->BgBytesRead = 400000;
    m->ReadTime = 300;
    m->BgReadTime = 200;
    m->OpenReadTime = 100;
    TestClock::Ms() += 5;
    PlaybackSummary s;
    QuarvSummary(m, &s);
    EXPECT_EQ(s.SlowestTime, 50u);
    EXPECT_EQ(s.SlowestFrame, 2u);
    EXPECT_EQ(s.SecondSlowestTime, 40u);
    EXPECT_EQ(s.SecondSlowestFrame, 4u);
    EXPECT_EQ(s.DecodeTime, 15u + 25 + 10 + 20);
    EXPECT_EQ(s.CopyTime, 15u + 25 + 10 + 20);
    EXPECT_EQ(s.TotalTime, 145u);
    EXPECT_EQ(s.ReadTime, 200u);
    EXPECT_EQ(s.BgReadTime, 200u);
    EXPECT_EQ(s.ReadRate, 2000000u);  // 1000000 bytes in 500 ms
    QuarvClose(m);
}

TEST(Summary, SlowFrameTwiceDoesNotTakeBothPlaces) {
    TestClock clock(500);
    const MoviePlan plan = PatternMovie({100, 100, 100}, 300);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    // Frame 0 measured at 10 ms, then (same frame, via the summary) 30 ms.
    m->FrameStart = TestClock::Ms();
    TestClock::Ms() += 10;
    MeasureFrameTime(m);
    m->FrameStart = TestClock::Ms();
    TestClock::Ms() += 30;
    MeasureFrameTime(m);
    EXPECT_EQ(m->SlowestTime, 30u);
    EXPECT_EQ(m->SlowestFrame, 0u);
    EXPECT_EQ(m->SecondSlowestTime, 0u);
    // A faster time of the same frame does not become the second.
    m->FrameStart = TestClock::Ms();
    TestClock::Ms() += 20;
    MeasureFrameTime(m);
    EXPECT_EQ(m->SecondSlowestTime, 0u);
    QuarvClose(m);
}

}  // namespace
