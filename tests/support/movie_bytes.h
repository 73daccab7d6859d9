// Movies for the library's tests and the ways to serve them: movies built
// byte by byte whose records tell where they came from, temporary files, an
// in-memory file layer that records every read and seek, and a clock the
// test moves.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "common/platform.h"
#include "movie/movie.h"

namespace movietest {

using Bytes = std::vector<uint8_t>;
Bytes Le32(uint32_t v);
Bytes Cat(std::initializer_list<Bytes> parts);

using Record = std::pair<uint8_t, Bytes>;  // the type byte, the record's bytes

// A movie byte by byte: the header (16 x 16 at 15 fps, four absent trees),
// the two tables, a tree block padded so that the frame data starts at
// `firstFrame`, and the records.
struct RawMovie {
    MovieHeader header{};
    bool ring = false;  // the last record is the ring frame
    uint32_t firstFrame = 0;
    std::vector<Record> records;
    std::vector<uint32_t> sizeOverride;  // table entries written instead of the records' sizes
    Bytes Build() const;
};

// Type-0 records of the given sizes whose bytes depend on the record and the
// position, so that a record delivered from the wrong place shows.
RawMovie PatternMovie(const std::vector<uint32_t>& sizes, uint32_t firstFrame, bool ring = false);
// The record in memory is the one the movie calls current, split whole.
void ExpectCurrentRecord(const Movie* m, const RawMovie& plan);

// What the library's debug log said while f ran with the profile value
// given (null: none), the log switched off again afterwards.
std::string Logged(const char* profile, const std::function<void()>& f);

// The library's clock, set and moved by the test; each reading also moves it
// on by `step` ms.
struct TestClock {
    static inline uint32_t ms = 0, step = 0;
    static uint32_t Read() { return (ms += step) - step; }
    explicit TestClock(uint32_t start, uint32_t readingStep = 0) {
        ms = start, step = readingStep;
        SetClock(Read);
    }
    ~TestClock() { SetClock(nullptr); }
};

// A file that exists for the object's lifetime.
class TempFile {
public:
    explicit TempFile(const Bytes& bytes);
    ~TempFile();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The library's file layer while it lives: one in-memory file, opened by the
// name kName or used through its handle, that records what was done to it.
struct MemoryFile {
    struct Op {
        char kind;           // 'r' read, 's' seek
        uint32_t pos;        // read: the offset before it; seek: the new position
        uint32_t size, got;  // read: asked, delivered
    };
    static constexpr const char* kName = "memory:movie";
    static constexpr QvFile kHandle = 77;
    explicit MemoryFile(Bytes bytes);
    ~MemoryFile() { SetFileLayer(nullptr); }
    const void* handleArg() const { return reinterpret_cast<const void*>(kHandle); }
    std::vector<Op> ops;
    uint32_t pos = 0;
    int closes = 0;
    Bytes bytes;
    FileLayer layer;
};

}  // namespace movietest
