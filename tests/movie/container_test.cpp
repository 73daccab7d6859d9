// The container's pure parts: frame timing, the one-second peak, the
// buffering decision and the walk over a record's chunks.
#include <gtest/gtest.h>

#include "movie/container.h"
#include "tests/support/movie_bytes.h"

using movietest::Bytes;
using movietest::PutLE32;
using movietest::RecordBuilder;

namespace {

Bytes SizeTable(const std::vector<uint32_t>& sizes) {
    Bytes b{0x11};  // an odd start, as in the movie's own table block
    for (uint32_t s : sizes) PutLE32(b, s);
    return b;
}

FrameStats Stats(const std::vector<uint32_t>& sizes, uint32_t fps) {
    const Bytes table = SizeTable(sizes);
    return ComputeFrameStats(table.data() + 1, static_cast<uint32_t>(sizes.size()), fps);
}

TEST(FrameTiming, RateEncodings) {
    EXPECT_EQ(FrameTimeFromRate(-6666), 6666u);
    EXPECT_EQ(FramesPerSecond(6666), 15u);
    EXPECT_EQ(FrameTimeFromRate(50), 5000u);  // 50 ms
    EXPECT_EQ(FramesPerSecond(5000), 20u);
    EXPECT_EQ(FrameTimeFromRate(0), 0u);
    EXPECT_EQ(FramesPerSecond(0), 100000u);  // untimed: one second is 100000 frames
    EXPECT_EQ(FramesPerSecond(200000), 1u);  // two seconds per frame still scans one frame
}

TEST(FrameStats, ShortMovieIsOneSecond) {
    // n - 1 < F: the whole movie is the peak second, starting at frame 1.
    const FrameStats s = Stats({100, 200, 300, 50}, 15);
    EXPECT_EQ(s.Total, 650u);
    EXPECT_EQ(s.Largest, 300u);
    EXPECT_EQ(s.PeakRate, 650u);
    EXPECT_EQ(s.PeakFrame, 1u);
    EXPECT_EQ(s.Average, 162u);
}

TEST(FrameStats, ExactlyOneWindowAfterTheFirstFrameGivesZero) {
    // n - 1 == F: only the window at frame 0 exists, and it never counts.
    const FrameStats s = Stats({500, 1, 1, 1}, 3);
    EXPECT_EQ(s.PeakRate, 0u);
    EXPECT_EQ(s.PeakFrame, 1u);
}

TEST(FrameStats, SlidingWindowSkipsFrameZeroAndTakesTheFirstBest) {
    // F = 2. Windows: [0]=10 (never), [1]=6, [2]=12, [3]=12 (a tie, not better),
    // and the last window is reached only by the final move.
    const FrameStats s = Stats({9, 1, 5, 7, 5, 90}, 2);
    EXPECT_EQ(s.PeakRate, 12u);
    EXPECT_EQ(s.PeakFrame, 3u);
    EXPECT_EQ(s.Largest, 90u);
}

TEST(FrameStats, NoLaterWindowBeatsZero) {
    const FrameStats s = Stats({7, 0, 0, 0, 0, 0}, 2);
    EXPECT_EQ(s.PeakRate, 0u);
    EXPECT_EQ(s.PeakFrame, 1u);
}

TEST(FrameStats, LargeSumsStayExact) {
    const FrameStats s = Stats({0xFFFFFFF0u, 0xFFFFFFF0u}, 15);
    EXPECT_EQ(s.Total, 2ull * 0xFFFFFFF0u);
    EXPECT_EQ(s.Average, 0xFFFFFFF0u);
}

TEST(Buffering, FromThePeakRate) {
    // The sample movie's figures: BufSize 598016, streamed.
    BufferChoice c = ChooseBuffering(0xFFFFFFFFu, 6666, 596440, 53816412);
    EXPECT_FALSE(c.Preload);
    EXPECT_EQ(c.BufSize, 598016u);
    // The peak is first capped at a quarter of the movie, then raised to 12288.
    c = ChooseBuffering(0xFFFFFFFFu, 6666, 24804, 24804);
    EXPECT_FALSE(c.Preload);
    EXPECT_EQ(c.BufSize, 12288u);
    c = ChooseBuffering(0xFFFFFFFFu, 6666, 900000, 1000000);
    EXPECT_EQ(c.BufSize, 253952u);  // 250000 rounded up to pages
    // Untimed movies take 12288.
    c = ChooseBuffering(0xFFFFFFFFu, 0, 900000, 1000000);
    EXPECT_EQ(c.BufSize, 12288u);
}

TEST(Buffering, CallerSizeIsRoundedToPagesAndAtLeastTwo) {
    EXPECT_EQ(ChooseBuffering(0, 6666, 0, 1000000).BufSize, 8192u);
    EXPECT_EQ(ChooseBuffering(1, 6666, 0, 1000000).BufSize, 8192u);
    EXPECT_EQ(ChooseBuffering(8193, 6666, 0, 1000000).BufSize, 12288u);
    EXPECT_EQ(ChooseBuffering(20000, 6666, 0, 1000000).BufSize, 20480u);
}

TEST(Buffering, PreloadsWhenTheDataIsAtMostFiveQuartersOfTheBuffer) {
    // B = 8192: preload up to T * 4 / 5 <= 8192, i.e. T <= 10241.
    EXPECT_TRUE(ChooseBuffering(0, 6666, 0, 10241).Preload);
    EXPECT_FALSE(ChooseBuffering(0, 6666, 0, 10245).Preload);
    // Beyond 1 GB the decision still holds (no 32-bit wrap of T * 4).
    EXPECT_FALSE(ChooseBuffering(0xFFFFFFFFu, 6666, 4000000, 0x40000400u).Preload);
}

TEST(SplitRecord, ChunksInOrder) {
    const auto r = RecordBuilder()
                       .Palette({0x3F, 0x00, 0x10})
                       .Sound(0, Bytes(10, 1))
                       .Sound(3, Bytes(2, 3))
                       .Video(Bytes(5, 9))
                       .Build();
    ChunkLayout L;
    SplitRecord(r.bytes.data(), static_cast<uint32_t>(r.bytes.size()), r.type, &L);
    EXPECT_TRUE(L.HasPalette);
    EXPECT_EQ(L.PaletteSize, r.bytes.size());  // the record from the chunk on
    EXPECT_TRUE(L.HasSound[0]);
    EXPECT_EQ(L.SoundOffset[0], 4u);
    EXPECT_EQ(L.SoundSize[0], 14u);
    EXPECT_FALSE(L.HasSound[1]);
    EXPECT_TRUE(L.HasSound[3]);
    EXPECT_EQ(L.SoundOffset[3], 18u);
    EXPECT_EQ(L.SoundSize[3], 6u);
    EXPECT_EQ(L.VideoOffset, 24u);
    EXPECT_EQ(L.VideoSize, 5u);
}

TEST(SplitRecord, TypeZeroIsAllVideoAndEmptySoundChunkCarriesNoSamples) {
    ChunkLayout L;
    const Bytes video(7, 0xEE);
    SplitRecord(video.data(), 7, 0, &L);
    EXPECT_FALSE(L.HasPalette);
    EXPECT_EQ(L.VideoOffset, 0u);
    EXPECT_EQ(L.VideoSize, 7u);

    const auto r = RecordBuilder().Sound(6, {}).Video({1, 2}).Build();
    SplitRecord(r.bytes.data(), static_cast<uint32_t>(r.bytes.size()), r.type, &L);
    EXPECT_TRUE(L.HasSound[6]);
    EXPECT_EQ(L.SoundSize[6], 4u);
    EXPECT_EQ(L.VideoOffset, 4u);
    EXPECT_EQ(L.VideoSize, 2u);
}

TEST(SplitRecord, ChunksRunningPastTheRecordAreCut) {
    // A palette length byte of 200 (800 bytes) in a 20-byte record.
    Bytes rec(20, 0);
    rec[0] = 200;
    ChunkLayout L;
    SplitRecord(rec.data(), 20, 0x01 | 0x02, &L);
    EXPECT_TRUE(L.HasPalette);
    EXPECT_EQ(L.PaletteSize, 20u);
    EXPECT_FALSE(L.HasSound[0]);  // no room left for its length word
    EXPECT_EQ(L.VideoOffset + L.VideoSize, 20u);
    EXPECT_EQ(L.VideoSize, 0u);

    // A sound chunk claiming 1000 bytes of a 30-byte record.
    const auto r = RecordBuilder().SoundWithLength(1, 1000, Bytes(26, 4)).Build();
    SplitRecord(r.bytes.data(), 30, r.type, &L);
    EXPECT_TRUE(L.HasSound[1]);
    EXPECT_EQ(L.SoundOffset[1], 0u);
    EXPECT_EQ(L.SoundSize[1], 30u);
    EXPECT_EQ(L.VideoOffset, 30u);
    EXPECT_EQ(L.VideoSize, 0u);
}

TEST(SplitRecord, LengthWordBelowFourStopsTheWalk) {
    for (uint32_t bad : {0u, 1u, 3u}) {
        const auto r = RecordBuilder().SoundWithLength(0, bad, Bytes(8, 1)).Sound(2, Bytes(4, 2)).Video({5, 5}).Build();
        ChunkLayout L;
        SplitRecord(r.bytes.data(), static_cast<uint32_t>(r.bytes.size()), r.type, &L);
        EXPECT_FALSE(L.HasSound[0]) << bad;
        EXPECT_FALSE(L.HasSound[2]) << bad;
        EXPECT_EQ(L.VideoSize, 0u) << bad;
        EXPECT_EQ(L.VideoOffset, r.bytes.size()) << bad;
    }
}

TEST(SplitRecord, EmptyRecordWithEveryBitSet) {
    ChunkLayout L;
    uint8_t dummy = 0;
    SplitRecord(&dummy, 0, 0xFF, &L);
    EXPECT_TRUE(L.HasPalette);
    EXPECT_EQ(L.PaletteSize, 0u);
    for (int t = 0; t < kMaxTracks; ++t) EXPECT_FALSE(L.HasSound[t]);
    EXPECT_EQ(L.VideoSize, 0u);
}

}  // namespace
