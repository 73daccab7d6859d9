// The stream reader: which file reads it makes, where the bytes go, and that
// every record arrives intact whatever the order of deliveries and
// background reads.
#include <gtest/gtest.h>

#include <random>

#include "movie/container.h"
#include "movie/sequence.h"
#include "movie/stream.h"
#include "tests/movie/movie_test_util.h"

using namespace movietest;

namespace {

// Reads recorded after the open.
std::vector<MemoryFile::Op> ReadsSince(const MemoryFile& f, size_t from) {
    std::vector<MemoryFile::Op> r;
    for (size_t i = from; i < f.ops.size(); ++i)
        if (f.ops[i].kind == 'r') r.push_back(f.ops[i]);
    return r;
}

TEST(StreamReader, LargeDeliveryGoesDirectThenRefillsOnePage) {
    // Frame data starts on a page; record 0 is one page, record 1 is 10000 bytes.
    const MoviePlan plan = PatternMovie({4096, 10000, 1000, 20000}, 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->BufSize, 8192u);
    ASSERT_EQ(m->BufCount, 0u);  // the page of record 0 was delivered whole
    const size_t mark = file.ops.size();

    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    const auto reads = ReadsSince(file, mark);
    ASSERT_EQ(reads.size(), 2u);
    EXPECT_EQ(reads[0].pos, 8192u);
    EXPECT_EQ(reads[0].size, 8192u);  // straight into the frame buffer
    EXPECT_EQ(reads[1].pos, 16384u);
    EXPECT_EQ(reads[1].size, 4096u);  // the refill
    EXPECT_EQ(m->BufCount, 2288u);    // 4096 - 1808 stay buffered
    EXPECT_EQ(m->StreamPos, 4096u + 4096 + 10000);

    // Record 2 (1000 bytes) comes from the buffer alone.
    const size_t mark2 = file.ops.size();
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    EXPECT_EQ(file.ops.size(), mark2);
    EXPECT_EQ(m->BufCount, 1288u);
    QuarvClose(m);
}

TEST(StreamReader, DirectReadsAreAtMostFourPages) {
    const MoviePlan plan = PatternMovie({4096, 50000, 100}, 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    const size_t mark = file.ops.size();
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    std::vector<uint32_t> sizes;
    for (const auto& r : ReadsSince(file, mark)) {
        EXPECT_EQ(r.pos % 4096, 0u);
        sizes.push_back(r.size);
    }
    // 50000 = 3 x 16384 + 848: three direct reads, then one page through the buffer.
    EXPECT_EQ(sizes, (std::vector<uint32_t>{16384, 16384, 16384, 4096}));
    QuarvClose(m);
}

TEST(StreamReader, JumpInsideTheBufferReadsAndSeeksNothing) {
    const MoviePlan plan = PatternMovie({4096, 300, 300, 300, 300, 30000}, 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    QuarvNextFrame(m);  // record 1 arrives with a page read; 3796 bytes stay buffered
    ASSERT_EQ(m->BufCount, 4096u - 300);
    const size_t mark = file.ops.size();
    // Jump over record 2 to record 3, which is buffered.
    m->FrameNum = 3;
    PositionStream(m, m->FirstFramePos + 4096 + 600);
    SplitFrame(m);
    ExpectCurrentRecord(m, plan);
    EXPECT_EQ(file.ops.size(), mark);
    EXPECT_EQ(m->StreamPos, m->FirstFramePos + 4096 + 900);
    EXPECT_EQ(0, std::memcmp(m->FrameData, plan.records[3].bytes.data(), 300));
    EXPECT_EQ(m->BufCount, 4096u - 900);
    QuarvClose(m);
}

TEST(StreamReader, JumpOutsideTheBufferSeeksAndAlignsFirst) {
    // Ring frame: 0, 1, 2, ring, then a jump back to record 1 at an unaligned offset.
    const MoviePlan plan = PatternMovie({5000, 3000, 9000, 2000}, 4096, true);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->BufStart, nullptr);
    for (int i = 0; i < 3; ++i) QuarvNextFrame(m);
    ASSERT_EQ(m->FrameNum, 3u);  // the ring frame
    ExpectCurrentRecord(m, plan);
    const size_t mark = file.ops.size();
    QuarvNextFrame(m);
    ASSERT_EQ(m->FrameNum, 1u);
    ExpectCurrentRecord(m, plan);
    // A seek to record 1 (file offset 4096 + 5000 = 9096), a read up to the
    // next page (8192 + 4096 = 12288: 3192 bytes), and nothing more: record 1
    // is 3000 bytes.
    std::vector<MemoryFile::Op> ops(file.ops.begin() + mark, file.ops.end());
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_EQ(ops[0].kind, 's');
    EXPECT_EQ(ops[0].pos, 9096u);
    EXPECT_EQ(ops[1].kind, 'r');
    EXPECT_EQ(ops[1].pos, 9096u);
    EXPECT_EQ(ops[1].size, 3192u);
    EXPECT_EQ(m->BufCount, 192u);
    QuarvClose(m);
}

TEST(StreamReader, OpenAlignsReadsToTheFileNotTheMovie) {
    // The movie starts at byte 94720 of a bigger file (23 pages and 512
    // bytes), so pages of the file and of the movie differ.
    const uint32_t base = 94720;
    const MoviePlan plan = PatternMovie({6000, 7000, 8000, 9000}, 300);
    const Bytes movie = MovieBytes(plan);
    Bytes bytes(base + movie.size() + 5000, 0xDD);
    std::fill(bytes.begin(), bytes.begin() + base, 0xCC);
    std::copy(movie.begin(), movie.end(), bytes.begin() + base);
    MemoryFile file(bytes);
    file.SetPosition(base);
    Movie* m = QuarvOpen(file.handleArg(), OPEN_FROM_HANDLE, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->FirstFramePos, base + 300);
    ASSERT_NE(m->BufStart, nullptr);
    // The first read after the tree block ends on a page of the file.
    auto reads = file.Reads();
    size_t i = 0;
    while (i < reads.size() && reads[i].pos != base + 300) ++i;
    ASSERT_LT(i, reads.size());
    EXPECT_EQ(reads[i].size, 4096 - (base + 300) % 4096);
    for (++i; i < reads.size(); ++i) {
        EXPECT_EQ(reads[i].pos % 4096, 0u) << i;
        EXPECT_EQ(reads[i].size % 4096, 0u) << i;
    }
    for (int k = 0; k < 3; ++k) {
        ExpectCurrentRecord(m, plan);
        QuarvNextFrame(m);
    }
    ExpectCurrentRecord(m, plan);
    for (const auto& r : file.Reads()) {
        if (r.pos > base + 300) {
            EXPECT_EQ(r.pos % 4096, 0u);
        }
    }
    QuarvClose(m);
    EXPECT_EQ(file.closes, 0);  // the caller's handle stays open
}

TEST(StreamReader, BackgroundReadsWrapThroughTheOverhang) {
    // Buffer of 8192 bytes; records of 3000 bytes with data starting 100
    // bytes before a page, so background pages straddle the nominal end.
    std::vector<uint32_t> sizes(40, 3000);
    const MoviePlan plan = PatternMovie(sizes, 4096 - 100);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->BufSize, 8192u);
    bool raised = false;
    for (int k = 0; k < 38; ++k) {
        while (ReadAhead(m) != 0) {
            EXPECT_LE(m->BufCount, m->BufSize);
            raised |= m->BufEnd > m->BufStart + m->BufSize;
        }
        EXPECT_GE(m->BufCount, m->BufSize - 4095);  // full up to less than a page
        QuarvNextFrame(m);
        ExpectCurrentRecord(m, plan);
    }
    EXPECT_TRUE(raised);
    EXPECT_GT(m->BufHighWater, 4096u);
    EXPECT_LE(m->BufHighWater, 8192u);
    QuarvClose(m);
}

TEST(StreamReader, BufferEmptiedExactlyAtTheWrapMark) {
    // Page-sized records from a page boundary with an 8192-byte buffer: one
    // background page lands exactly at the nominal end, the next record
    // empties the buffer there, and the page after that must be written
    // where the reader continues (the front), not into the overhang.
    const MoviePlan plan = PatternMovie(std::vector<uint32_t>(8, 4096), 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->BufSize, 8192u);
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(ReadAhead(m), 4096u);
        QuarvNextFrame(m);
        ExpectCurrentRecord(m, plan);
    }
    QuarvClose(m);
}

TEST(StreamReader, JumpToTheEndOfTheBufferedData) {
    // The buffered data ends exactly at the wrap mark and a jump lands on
    // its end, at an empty record: the next background page must still
    // follow on where the reader continues.
    const MoviePlan plan = PatternMovie({4096, 2000, 2096, 0, 4096, 4096}, 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(ReadAhead(m), 4096u);  // records 1 and 2, up to the wrap mark
    ASSERT_EQ(m->BufWrite, m->BufEnd);
    m->FrameNum = 3;
    PositionStream(m, m->FirstFramePos + 8192);  // skips records 1 and 2
    SplitFrame(m);
    ExpectCurrentRecord(m, plan);
    EXPECT_EQ(m->BufCount, 0u);
    EXPECT_EQ(ReadAhead(m), 4096u);
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    QuarvClose(m);
}

TEST(StreamReader, BackgroundReadStopsAtTheEndAndAtTheLastFrame) {
    // 11000 bytes of frame data from offset 4096: after record 0 the last
    // 4000 bytes fit in the 8192-byte buffer, so background reads reach the end.
    const MoviePlan plan = PatternMovie({7000, 2000, 2000}, 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->BufSize, 8192u);
    ASSERT_EQ(m->BufCount, 1192u);
    EXPECT_EQ(ReadAhead(m), 2808u);  // the file ends inside this page
    EXPECT_EQ(ReadAhead(m), 0u);
    EXPECT_EQ(m->BufCount, 4000u);
    EXPECT_EQ(m->BgBytesRead, 2808u);
    EXPECT_EQ(m->BufHighWater, 4000u);
    const size_t mark = file.ops.size();
    QuarvNextFrame(m);
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    EXPECT_EQ(file.ops.size(), mark);  // both records came from the buffer
    m->FrameNum = m->Header.Frames;  // past the last frame: no more background reads
    EXPECT_EQ(ReadAhead(m), 0u);
    EXPECT_EQ(file.ops.size(), mark);
    QuarvClose(m);
}

TEST(StreamReader, ShortReadSetsReadErrorAndRefillStaysInsideTheBuffer) {
    // Record 3 (30000 bytes) is cut 5000 bytes in: the direct reads come up
    // short with most of the record still owed, and the refill that follows
    // must ask no more than the buffer holds.
    const MoviePlan plan = PatternMovie({4096, 30000, 100, 30000}, 4096);
    Bytes bytes = MovieBytes(plan);
    bytes.resize(4096 + 34196 + 5000);
    MemoryFile file(bytes);
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->BufStart, nullptr);
    QuarvNextFrame(m);
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    ASSERT_EQ(m->ReadError, 0u);
    const size_t mark = file.ops.size();
    QuarvNextFrame(m);
    EXPECT_EQ(m->ReadError, 1u);
    const auto reads = ReadsSince(file, mark);
    ASSERT_FALSE(reads.empty());
    for (const auto& r : reads) EXPECT_LE(r.size, std::max<uint32_t>(16384u, m->BufSize));
    EXPECT_EQ(reads.back().got, 0u);  // the file was at its end
    EXPECT_LE(m->BufCount, m->BufSize);
    QuarvClose(m);
}

TEST(StreamReader, SimulatedRateThrottlesEveryRead) {
    const MoviePlan plan = PatternMovie({4096, 4096, 4096, 4096, 4096}, 4096);
    MemoryFile file(MovieBytes(plan));
    QuarvSimulateRate(150000);
    Movie* m = QuarvOpen(MemoryFile::name(), OPEN_SIMULATE_RATE, 0);
    QuarvSimulateRate(0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->SimulatedRate, 150000u);
    TestClock clock(5000, 1);  // every reading moves time on by 1 ms
    const uint32_t before = m->BgReadTime;
    EXPECT_EQ(ReadAhead(m), 4096u);
    // 4096 bytes at 150000 bytes/s take 27.3 ms.
    EXPECT_GE(m->BgReadTime - before, 27u);
    EXPECT_LE(m->BgReadTime - before, 30u);
    QuarvClose(m);

    // Without the flag the movie is not throttled.
    MemoryFile file2(MovieBytes(plan));
    QuarvSimulateRate(150000);
    m = QuarvOpen(MemoryFile::name(), 0, 0);
    QuarvSimulateRate(0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->SimulatedRate, 0u);
    const uint32_t t0 = TestClock::Ms();
    ReadAhead(m);
    EXPECT_LE(TestClock::Ms() - t0, 3u);
    QuarvClose(m);
}

// Any mix of deliveries, jumps and background reads must hand every record
// over intact, read the file only in pages (apart from one alignment read
// per repositioning) and keep the buffer's bookkeeping inside its memory.
TEST(StreamReader, RandomPlaybackDeliversEveryRecordIntact) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        const bool ring = rng() % 2;
        const uint32_t n = 3 + rng() % 25;
        std::vector<uint32_t> sizes;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t kind = rng() % 10;
            sizes.push_back(kind == 0   ? 0
                            : kind < 4  ? rng() % 3000
                            : kind < 6  ? 1024 * (1 + rng() % 4)
                            : kind < 9  ? rng() % 20000
                                        : 4096 * (1 + rng() % 5));
        }
        sizes[0] = std::max<uint32_t>(sizes[0], 1);
        // Frame data on a page boundary a third of the time, so that buffer
        // contents end exactly at the wrap mark now and then.
        const uint32_t first = rng() % 3 == 0 ? 4096 * (1 + rng() % 2) : 104 + 5 * n + 1 + rng() % 9000;
        const MoviePlan plan = PatternMovie(sizes, first, ring);
        MemoryFile file(MovieBytes(plan));
        const uint32_t extra = (rng() % 2) ? 0 : 4096 * (rng() % 6);
        Movie* m = QuarvOpen(MemoryFile::name(), 0, extra);
        ASSERT_NE(m, nullptr);
        if (!m->BufStart) {
            QuarvClose(m);
            continue;  // preloaded: nothing streamed
        }
        size_t mark = 0;
        for (size_t i = 0; i < file.ops.size(); ++i)
            if (file.ops[i].kind == 'r' && file.ops[i].pos == m->FirstFramePos) mark = i + 1;
        for (int step = 0; step < 120; ++step) {
            const uint32_t action = rng() % 4;
            if (action == 0) {
                for (uint32_t k = rng() % 6; k > 0; --k) ReadAhead(m);
            } else {
                QuarvNextFrame(m);
            }
            ASSERT_EQ(m->ReadError, 0u);
            ExpectCurrentRecord(m, plan);
            ASSERT_LE(m->BufCount, m->BufSize);
            ASSERT_GE(m->BufRead, m->BufStart);
            ASSERT_LT(m->BufRead, m->BufEnd);
            ASSERT_LE(m->BufEnd, m->BufStart + m->BufSize + 4096);
        }
        for (size_t i = mark; i < file.ops.size(); ++i) {
            const auto& op = file.ops[i];
            if (op.kind != 'r') continue;
            const bool paged = op.pos % 4096 == 0 && op.size % 4096 == 0 && op.size <= 16384;
            const bool aligning = op.size < 4096 && (op.pos + op.size) % 4096 == 0 && i > 0 &&
                                  file.ops[i - 1].kind == 's';
            const bool atEnd = op.got == 0;  // after a short last page the position is the file's end
            EXPECT_TRUE(paged || aligning || atEnd) << "read at " << op.pos << " of " << op.size << " got " << op.got;
        }
        QuarvClose(m);
    }
}

}  // namespace
