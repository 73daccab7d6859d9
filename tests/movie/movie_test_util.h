// Helpers shared by the movie tests: movies whose frame data starts at a
// chosen file offset, records whose bytes tell where they came from, a clock
// the test moves, and a sound driver whose play position the test sets.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "common/platform.h"
#include "movie/movie.h"
#include "movie/movie_internal.h"
#include "movie/sound_track.h"
#include "sound/sound_driver.h"
#include "tests/support/movie_bytes.h"

namespace movietest {

// A byte that depends on the record and the position inside it, so that a
// record delivered from the wrong place shows.
inline uint8_t PatternByte(uint32_t record, uint32_t i) {
    const uint32_t x = record * 2654435761u + i * 40503u;
    return static_cast<uint8_t>(x >> 13);
}

inline Record PatternRecord(uint32_t record, uint32_t size) {
    Record r;
    r.bytes.resize(size);
    for (uint32_t i = 0; i < size; ++i) r.bytes[i] = PatternByte(record, i);
    return r;
}

// Records of the given sizes (type 0, patterned), with frame data starting
// at offset `firstFrame` of the movie (>= 104 + 5n + 1): the tree block is
// padded to get there.
inline MoviePlan PatternMovie(const std::vector<uint32_t>& sizes, uint32_t firstFrame, bool ring = false) {
    MoviePlan plan;
    plan.header = DefaultHeader();
    plan.ring = ring;
    for (uint32_t i = 0; i < sizes.size(); ++i) plan.records.push_back(PatternRecord(i, sizes[i]));
    const uint32_t tables = 104 + 5 * static_cast<uint32_t>(sizes.size());
    EXPECT_GT(firstFrame, tables);
    plan.trees.assign(firstFrame - tables, 0);  // four absent trees, then ignored bytes
    return plan;
}

// Checks that the current record in memory is the record the movie says.
inline void ExpectCurrentRecord(const Movie* m, const MoviePlan& plan) {
    ASSERT_LT(m->FrameNum, plan.records.size());
    const Bytes& want = plan.records[m->FrameNum].bytes;
    ASSERT_NE(m->FrameData, nullptr);
    ASSERT_EQ(m->VideoOffset + m->VideoSize, want.size()) << "frame " << m->FrameNum;
    if (!want.empty()) {
        EXPECT_EQ(0, std::memcmp(m->FrameData, want.data(), want.size())) << "frame " << m->FrameNum;
    }
}

// A clock the test moves; every reading may also advance it by `step`.
struct TestClock {
    static uint32_t& Ms() {
        static uint32_t ms = 0;
        return ms;
    }
    static uint32_t& Step() {
        static uint32_t step = 0;
        return step;
    }
    static uint32_t Read() {
        const uint32_t now = Ms();
        Ms() += Step();
        return now;
    }
    TestClock(uint32_t start, uint32_t step = 0) {
        Ms() = start;
        Step() = step;
        SetClock(Read);
    }
    ~TestClock() { SetClock(nullptr); }
};

// A sound driver that only reports a play position the test sets and counts
// what the library asked of it.
struct FakeDriver {
    static FakeDriver*& Current() {
        static FakeDriver* d = nullptr;
        return d;
    }
    uint32_t position = 0;
    bool resumeFails = false;
    int resets = 0, pauses = 0, resumes = 0, services = 0, closes = 0;
    std::vector<uint32_t> openFlags;  // what each open-track call was given
    SoundDriver saved;
    uint32_t savedOpenTracks;

    FakeDriver() {
        saved = SoundDriverTable;
        savedOpenTracks = OpenTrackCount;
        Current() = this;
        SoundDriverTable.open_track = [](SoundTrack*, uint32_t flags) {
            Current()->openFlags.push_back(flags);
            return true;
        };
        SoundDriverTable.close_track = [](SoundTrack*) { ++Current()->closes; };
        SoundDriverTable.play_position = [](SoundTrack*) { return Current()->position; };
        SoundDriverTable.reset = [](SoundTrack*) { ++Current()->resets; };
        SoundDriverTable.pause = [](SoundTrack*) { ++Current()->pauses; };
        SoundDriverTable.resume = [](SoundTrack*) {
            ++Current()->resumes;
            return !Current()->resumeFails;
        };
        SoundDriverTable.service = [] { ++Current()->services; };
    }
    ~FakeDriver() {
        SoundDriverTable = saved;
        OpenTrackCount = savedOpenTracks;
        Current() = nullptr;
    }
};

// A track record with its own ring, attached to a movie by hand (the test
// keeps ownership: Detach before closing the movie).
struct HandTrack {
    SoundTrack rec{};
    std::vector<uint8_t> ring;
    HandTrack(uint32_t ringSize, bool bits16, uint32_t lead) : ring(ringSize, 0) {
        rec.RingStart = ring.data();
        rec.RingEnd = ring.data() + ringSize;
        rec.ReadPos = rec.WritePos = ring.data();
        rec.RingSize = ringSize;
        rec.Bits16 = bits16;
        rec.Lead = lead;
    }
    void Attach(Movie* m, int t) {
        m->Track[t] = &rec;
        if (m->TimingTrack < 0) m->TimingTrack = t;
    }
    static void DetachAll(Movie* m) {
        for (auto& t : m->Track) t = nullptr;
        m->TimingTrack = -1;
    }
};

}  // namespace movietest
