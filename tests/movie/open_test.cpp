// QuarvOpen and QuarvClose: where the movie comes from, what is refused, the
// buffering decision, caller storage, allocation failures and the flags.
#include <gtest/gtest.h>

#include "common/aligned_alloc.h"
#include "movie/container.h"
#include "movie/sequence.h"
#include "tests/movie/movie_test_util.h"

using namespace movietest;

namespace {

TEST(Open, ByNameReadsHeaderTablesAndFrameZero) {
    MoviePlan plan = PatternMovie({700, 20, 300}, 400);
    plan.header.Width = 320;
    plan.header.Height = 240;
    plan.records[0] = RecordBuilder().Palette({0x3F, 0, 0x10}).Sound(2, Bytes(8, 1)).Video(Bytes(50, 7)).Build();
    const Bytes bytes = MovieBytes(plan);
    TempFile file(bytes);
    Movie* m = QuarvOpen(file.path().c_str(), 0, 0xFFFFFFFFu);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->Header.Width, 320u);
    EXPECT_EQ(m->Header.Height, 240u);
    EXPECT_EQ(m->Header.Frames, 3u);
    EXPECT_EQ(m->FrameTime, 6666u);
    EXPECT_EQ(m->FrameNum, 0u);
    EXPECT_EQ(m->FirstFramePos, 400u);
    const uint32_t size0 = static_cast<uint32_t>(plan.records[0].bytes.size());
    EXPECT_EQ(m->LargestFrame, std::max(size0, 300u));
    EXPECT_EQ(m->AverageFrameSize, (size0 + 320) / 3);
    EXPECT_EQ(m->PeakRate, size0 + 320);  // shorter than a second
    EXPECT_EQ(m->PeakFrame, 1u);
    // Small: preloaded, file closed.
    EXPECT_NE(m->OpenFlags & OPEN_PRELOAD, 0u);
    EXPECT_EQ(m->FileHandle, kNoFile);
    EXPECT_EQ(m->BufSize, 0u);
    EXPECT_EQ(m->FrameBufferSize, size0 + 320);
    // Frame 0 split: palette, track 2's chunk, video.
    EXPECT_EQ(m->PaletteChunk, m->FrameData);
    EXPECT_EQ(m->NewPalette, 1u);
    EXPECT_EQ(m->PaletteSeen, 1u);
    EXPECT_EQ(m->PaletteFrame, -1);
    EXPECT_EQ(m->SoundChunk[2], m->FrameData + 4);
    EXPECT_EQ(m->SoundChunkSize[2], 12u);
    EXPECT_EQ(m->SoundChunk[0], nullptr);
    EXPECT_EQ(m->VideoOffset, 16u);
    EXPECT_EQ(m->VideoSize, 50u);
    EXPECT_EQ(m->VideoData[0], 7);
    EXPECT_EQ(m->TimingTrack, -1);
    EXPECT_EQ(m->NextDue, 0xFFFFFFFFu);
    EXPECT_EQ(m->ReadError, 0u);
    EXPECT_GE(m->PeakMemUsed, m->MemUsed);
    EXPECT_GE(m->MemUsed, sizeof(Movie) + m->FrameBufferSize);
    QuarvClose(m);
    QuarvClose(nullptr);
}

TEST(Open, NullArgumentAndMissingFile) {
    EXPECT_EQ(QuarvOpen(nullptr, 0, 0), nullptr);
    EXPECT_EQ(QuarvOpen("/nonexistent/dir/movie.qvl", 0, 0), nullptr);
    EXPECT_EQ(QuarvOpen(reinterpret_cast<const void*>(intptr_t{-1}), OPEN_FROM_HANDLE, 0), nullptr);
}

// Every malformed file fails the open cleanly: nothing allocated is kept and
// the file is closed.
TEST(Open, RefusesWhatCannotBeAMovie) {
    const MoviePlan good = PatternMovie({100, 200, 300}, 300);
    const Bytes goodBytes = MovieBytes(good);
    auto withHeader = [&](void (*edit)(MovieHeader&)) {
        Bytes b = goodBytes;
        MovieHeader h;
        std::memcpy(&h, b.data(), sizeof h);
        edit(h);
        std::memcpy(b.data(), &h, sizeof h);
        return b;
    };
    struct Case {
        const char* what;
        Bytes bytes;
    };
    std::vector<Case> cases = {
        {"empty file", {}},
        {"three bytes of magic", {'Q', 'V', 'L'}},
        {"wrong magic", withHeader([](MovieHeader& h) { h.Magic[3] = '1'; })},
        {"magic only", {'Q', 'V', 'L', '2'}},
        {"header cut short", Bytes(goodBytes.begin(), goodBytes.begin() + 60)},
        {"no frames", withHeader([](MovieHeader& h) { h.Frames = 0; })},
        {"ring frame only", withHeader([](MovieHeader& h) {
             h.Frames = 0;
             h.Flags |= 1;
         })},
        {"frame count beyond the file", withHeader([](MovieHeader& h) { h.Frames = 0x40000000; })},
        {"frame count that wraps with the ring frame", withHeader([](MovieHeader& h) {
             h.Frames = 0xFFFFFFFFu;
             h.Flags |= 1;
         })},
        {"tree block beyond the file", withHeader([](MovieHeader& h) { h.TreeBlockSize = 0xFFFFF000u; })},
        {"tree sizes the block cannot hold", withHeader([](MovieHeader& h) { h.MapTreeSize = 0x7FFFFFF0u; })},
        {"tree sizes that overflow 32 bits", withHeader([](MovieHeader& h) {
             h.MapTreeSize = h.ColorTreeSize = h.FullTreeSize = h.TypeTreeSize = 0xFFFFFFF0u;
         })},
        {"tables cut short", Bytes(goodBytes.begin(), goodBytes.begin() + 110)},
    };
    {
        // A record larger than everything after the tables.
        MoviePlan bad = good;
        bad.sizeOverride = {100, 1000000, 300};
        cases.push_back({"record larger than the file", MovieBytes(bad)});
    }
    for (const Case& c : cases) {
        MemoryFile file(c.bytes);
        EXPECT_EQ(QuarvOpen(MemoryFile::name(), 0, 0xFFFFFFFFu), nullptr) << c.what;
        EXPECT_EQ(file.closes, 1) << c.what;
    }
}

TEST(Open, RefusesFrameDataThatOverflowsThirtyTwoBits) {
    // 5000 records of 1 MB each claimed, in a file of a little over 1 MB:
    // every record fits the file but the total is 5 GB.
    const uint32_t n = 5000;
    MoviePlan plan = PatternMovie(std::vector<uint32_t>(n, 0), 104 + 5 * n + 1);
    plan.records.back().bytes.assign(1 << 20, 1);
    plan.sizeOverride.assign(n, 1 << 20);
    MemoryFile file(MovieBytes(plan));
    EXPECT_EQ(QuarvOpen(MemoryFile::name(), 0, 0xFFFFFFFFu), nullptr);
    EXPECT_EQ(file.closes, 1);
}

TEST(Open, FromHandleInsideABiggerFile) {
    const uint32_t base = 94720;
    MoviePlan plan = PatternMovie({150, 250, 350}, 500);
    const Bytes movie = MovieBytes(plan);
    Bytes bytes(base + movie.size() + 777, 0x22);
    std::fill(bytes.begin(), bytes.begin() + base, 0x11);
    std::copy(movie.begin(), movie.end(), bytes.begin() + base);
    MemoryFile file(bytes);
    file.SetPosition(base);
    Movie* m = QuarvOpen(file.handleArg(), OPEN_FROM_HANDLE, 0xFFFFFFFFu);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->FirstFramePos, base + 500);
    EXPECT_EQ(file.Reads().front().pos, base);  // the header is read where the handle stood
    EXPECT_NE(m->OpenFlags & OPEN_FROM_HANDLE, 0u);
    EXPECT_EQ(m->FileHandle, kNoFile);  // preloaded
    ExpectCurrentRecord(m, plan);
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    QuarvClose(m);
    EXPECT_EQ(file.closes, 0);  // never the library's to close
}

TEST(Open, CallerStorageByNameAndByHandle) {
    const MoviePlan plan = PatternMovie({4000, 4000, 4000, 4000}, 4096);
    MemoryFile file(MovieBytes(plan));
    alignas(16) static uint8_t storage[kMovieRecordSize];
    std::memset(storage, 0xEE, sizeof storage);
    std::strcpy(reinterpret_cast<char*>(storage), MemoryFile::name());
    Movie* m = QuarvOpen(storage, OPEN_CALLER_RECORD, 0);
    ASSERT_EQ(static_cast<void*>(m), static_cast<void*>(storage));
    EXPECT_NE(m->BufStart, nullptr);  // streamed: the file stays open
    ExpectCurrentRecord(m, plan);
    EXPECT_NE(m->OpenFlags & OPEN_CALLER_RECORD, 0u);
    QuarvClose(m);  // must not free the storage (the sanitizer would tell)
    EXPECT_EQ(file.closes, 1);
    EXPECT_EQ(storage[0], 0);  // the record is zeroed at close

    std::memset(storage, 0xEE, sizeof storage);
    const int32_t handle = static_cast<int32_t>(file.handle());
    std::memcpy(storage, &handle, 4);
    file.SetPosition(0);
    m = QuarvOpen(storage, OPEN_CALLER_RECORD | OPEN_FROM_HANDLE, 0);
    ASSERT_EQ(static_cast<void*>(m), static_cast<void*>(storage));
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    QuarvClose(m);
    EXPECT_EQ(file.closes, 1);  // the caller's handle is left open
}

TEST(Open, BufferSizeChoices) {
    // 40 records of 3000 bytes at 15 fps: peak 45000 bytes a second.
    const MoviePlan plan = PatternMovie(std::vector<uint32_t>(40, 3000), 4096);
    MemoryFile file(MovieBytes(plan));
    struct Case {
        uint32_t extra;
        uint32_t bufSize;
    } cases[] = {{0xFFFFFFFFu, 32768},  // the peak, 45000, capped at T / 4 = 30000
                 {0, 8192}, {1, 8192}, {5000, 8192}, {8193, 12288}, {94208, 94208}};
    for (const Case& c : cases) {
        Movie* m = QuarvOpen(MemoryFile::name(), 0, c.extra);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->BufSize, c.bufSize) << c.extra;
        EXPECT_EQ(m->BufEnd - m->BufStart, static_cast<ptrdiff_t>(c.bufSize));
        EXPECT_EQ(m->FrameBufferSize, 3000u);
        EXPECT_EQ(m->OpenFlags & OPEN_PRELOAD, 0u);
        EXPECT_EQ(m->PeakRate, 45000u);
        EXPECT_EQ(m->PeakFrame, 2u);
        EXPECT_GE(m->MemUsed, sizeof(Movie) + c.bufSize + 4096 + 3000 + 8);
        QuarvClose(m);
    }
    // T = 120000: preloaded once the buffer reaches 96000 (T * 4 / 5 <= B),
    // that is from 24 pages on.
    for (uint32_t extra : {94209u, 98304u, 200000u}) {
        const int closesBefore = file.closes;
        Movie* m = QuarvOpen(MemoryFile::name(), 0, extra);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->BufSize, 0u) << extra;
        EXPECT_NE(m->OpenFlags & OPEN_PRELOAD, 0u) << extra;
        EXPECT_EQ(m->FrameBufferSize, 120000u);
        EXPECT_EQ(file.closes, closesBefore + 1);  // closed at open
        QuarvClose(m);
    }
    // OPEN_PRELOAD forces it.
    Movie* m = QuarvOpen(MemoryFile::name(), OPEN_PRELOAD, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->BufStart, nullptr);
    for (int i = 0; i < 45; ++i) {
        ExpectCurrentRecord(m, plan);
        QuarvNextFrame(m);
    }
    QuarvClose(m);
}

TEST(Open, TruncatedMovieThatWouldBePreloadedIsStreamedAndStops) {
    MoviePlan plan = PatternMovie({1000, 1000, 1000, 1000}, 300);
    Bytes bytes = MovieBytes(plan);
    bytes.resize(300 + 2500);  // records 2 and 3 missing
    MemoryFile file(bytes);
    Movie* m = QuarvOpen(MemoryFile::name(), OPEN_PRELOAD, 0xFFFFFFFFu);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->OpenFlags & OPEN_PRELOAD, 0u);
    EXPECT_NE(m->BufStart, nullptr);
    EXPECT_LE(m->BufSize, 8192u);
    ExpectCurrentRecord(m, plan);
    QuarvNextFrame(m);
    ExpectCurrentRecord(m, plan);
    EXPECT_EQ(m->ReadError, 0u);
    QuarvNextFrame(m);
    EXPECT_EQ(m->ReadError, 1u);
    QuarvClose(m);
}

TEST(Open, EveryAllocationFailureUnwinds) {
    // Streamed and preloaded, by name: fail each allocation in turn.
    for (uint32_t extra : {0u, 0xFFFFFFF0u}) {
        const MoviePlan plan = PatternMovie({3000, 3000, 3000, 3000, 3000}, 4096);
        MemoryFile file(MovieBytes(plan));
        int failures = 0;
        for (int k = 0; k < 12; ++k) {
            const int closesBefore = file.closes;
            SetAllocFailCountdown(k);
            Movie* m = QuarvOpen(MemoryFile::name(), 0, extra);
            SetAllocFailCountdown(-1);
            if (!m) {
                ++failures;
                EXPECT_EQ(file.closes, closesBefore + 1) << k;
                continue;
            }
            ExpectCurrentRecord(m, plan);
            QuarvClose(m);
        }
        // Record, table block, decode tables, tree scratch, frame buffer, and
        // the read-ahead buffer when streamed.
        EXPECT_EQ(failures, extra == 0 ? 6 : 5) << extra;
    }
}

TEST(Open, HeightScaling) {
    struct Case {
        uint32_t fileFlags;
        uint32_t openFlags;
        uint32_t headerFlags;
        uint32_t scaling;
    } cases[] = {
        {0, 0, 0, 0},
        {2, 0, 2, OPEN_Y_INTERLACE},
        {4, 0, 4, OPEN_Y_DOUBLE},
        {6, 0, 6, 0},  // both bits: no scaling
        {0, OPEN_Y_INTERLACE, 2, OPEN_Y_INTERLACE},
        {4, OPEN_Y_INTERLACE, 2, OPEN_Y_INTERLACE},
        {2, OPEN_Y_DOUBLE, 4, OPEN_Y_DOUBLE},
        {6, OPEN_Y_NONE, 0, 0},
    };
    for (const Case& c : cases) {
        MoviePlan plan = PatternMovie({100, 100}, 300);
        plan.header.Flags = c.fileFlags;
        plan.header.Height = 24;
        MemoryFile file(MovieBytes(plan));
        Movie* m = QuarvOpen(MemoryFile::name(), c.openFlags, 0);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->Header.Flags & 6, c.headerFlags) << c.fileFlags << " " << c.openFlags;
        EXPECT_EQ(m->OpenFlags & OPEN_Y_NONE, c.scaling) << c.fileFlags << " " << c.openFlags;
        EXPECT_EQ(m->Header.Height, c.scaling ? 48u : 24u);
        QuarvClose(m);
    }
}

TEST(Open, RateOverride) {
    const MoviePlan plan = PatternMovie({100, 100}, 300);
    MemoryFile file(MovieBytes(plan));
    QuarvSetFrameRate(15);
    EXPECT_EQ(FrameRateOverride(), -6666);
    Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
    EXPECT_EQ(m->Header.FrameRate, -6666);  // the file's own, no override asked
    QuarvClose(m);
    QuarvSetFrameRate(7);
    m = QuarvOpen(MemoryFile::name(), OPEN_RATE_OVERRIDE, 0);
    EXPECT_EQ(m->Header.FrameRate, -14285);
    EXPECT_EQ(m->FrameTime, 14285u);
    QuarvClose(m);
    QuarvSetFrameRate(0);
    m = QuarvOpen(MemoryFile::name(), OPEN_RATE_OVERRIDE, 0);
    EXPECT_EQ(m->FrameTime, 0u);
    QuarvClose(m);
    QuarvSetFrameRate(-2500);  // a raw FrameRate value
    m = QuarvOpen(MemoryFile::name(), OPEN_RATE_OVERRIDE, 0);
    EXPECT_EQ(m->FrameTime, 2500u);
    QuarvClose(m);
    QuarvSetFrameRate(40);  // positive: milliseconds
    EXPECT_EQ(FrameRateOverride(), -2500);
    QuarvSetFrameRate(0);
}

TEST(Open, FillBufferReadsUntilFullAndCountsAsForeground) {
    const MoviePlan plan = PatternMovie(std::vector<uint32_t>(30, 3000), 4096);
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), OPEN_FILL_BUFFER, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_GT(m->BufCount, m->BufSize - 4096);
    EXPECT_GT(m->BgBytesRead, 0u);
    EXPECT_EQ(m->BgReadTime, 0u);
    // Background bytes of the open count among the foreground ones.
    uint32_t fileBytes = 0;
    for (const auto& r : file.Reads()) fileBytes += r.got;
    EXPECT_EQ(m->BytesRead, fileBytes);  // frame data starts on a page: no uncounted alignment read
    EXPECT_EQ(m->OpenReadTime, m->ReadTime);
    for (int i = 0; i < 29; ++i) {
        QuarvNextFrame(m);
        ExpectCurrentRecord(m, plan);
    }
    QuarvClose(m);
}

TEST(Open, TracksAreSetUpLowestFirst) {
    FakeDriver driver;
    MoviePlan plan = PatternMovie({100, 100}, 300);
    plan.header.TrackFormat[1] = kTrackPresent | 8000;
    plan.header.TrackFormat[5] = kTrackPresent | kTrackBits16 | kTrackStereo | 22050;
    MemoryFile file(MovieBytes(plan));
    const uint32_t openBefore = OpenTrackCount;
    Movie* m = QuarvOpen(MemoryFile::name(), OPEN_TRACK1 | OPEN_TRACK3 | OPEN_TRACK5 | OPEN_PAN_CONTROL, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->OpenFlags & OPEN_ALL_TRACKS, uint32_t{OPEN_TRACK1 | OPEN_TRACK5});
    EXPECT_EQ(m->TimingTrack, 1);
    EXPECT_NE(m->Track[1], nullptr);
    EXPECT_EQ(m->Track[3], nullptr);  // not in the file
    EXPECT_NE(m->Track[5], nullptr);
    EXPECT_EQ(OpenTrackCount, openBefore + 2);
    // Each track's open sees the flags as they stand: earlier tracks' bits
    // set, the requested ones cleared, the preload the open chose included.
    const uint32_t base = OPEN_PAN_CONTROL | OPEN_PRELOAD;
    EXPECT_EQ(driver.openFlags, (std::vector<uint32_t>{base, base | OPEN_TRACK1}));
    QuarvClose(m);
    EXPECT_EQ(driver.closes, 2);
    EXPECT_EQ(OpenTrackCount, openBefore);
}

TEST(Open, MissingTracksAreLeftOut) {
    FakeDriver driver;
    MoviePlan plan = PatternMovie({100, 100}, 300);
    plan.header.TrackFormat[1] = kTrackBits16 | 22050;  // not present
    plan.header.TrackFormat[2] = kTrackPresent;         // rate 0
    MemoryFile file(MovieBytes(plan));
    Movie* m = QuarvOpen(MemoryFile::name(), OPEN_TRACK1 | OPEN_TRACK2, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->OpenFlags & OPEN_ALL_TRACKS, 0u);
    EXPECT_EQ(m->Track[1], nullptr);
    EXPECT_EQ(m->Track[2], nullptr);
    EXPECT_EQ(m->TimingTrack, -1);
    QuarvClose(m);
}

}  // namespace
