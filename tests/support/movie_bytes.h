// Builds small movie files byte by byte for tests: header, the two frame
// tables, a tree block (by default four absent trees) and frame records made
// of palette, sound and video chunks.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "common/platform.h"
#include "movie/movie.h"

namespace movietest {

using Bytes = std::vector<uint8_t>;

struct Record {
    uint8_t type = 0;
    Bytes bytes;
};

// Chunks in file order: palette, sound tracks 0..6, video.
class RecordBuilder {
public:
    // commands: the palette payload after the length byte; padded to whole
    // 4-byte units.
    RecordBuilder& Palette(const Bytes& commands);
    // A palette chunk given byte for byte (length byte included).
    RecordBuilder& RawPalette(const Bytes& chunk);
    // A sound chunk: length word (4 + payload) then the payload.
    RecordBuilder& Sound(int track, const Bytes& payload);
    // A sound chunk whose length word is given (it may lie).
    RecordBuilder& SoundWithLength(int track, uint32_t lengthWord, const Bytes& payload);
    RecordBuilder& Video(const Bytes& bytes);
    Record Build() const;

private:
    uint8_t type_ = 0;
    Bytes palette_;
    Bytes sound_[kMaxTracks];
    Bytes video_;
};

// A record of n video bytes whose value is `fill`.
Record VideoRecord(uint32_t n, uint8_t fill = 0x5A);

struct MoviePlan {
    MovieHeader header{};  // Frames, TreeBlockSize and Flags bit 0 are filled from the fields below
    bool ring = false;     // the last record is the ring frame
    Bytes trees{0x00};     // four absent trees
    std::vector<Record> records;
    // Table entries to write instead of the records' real sizes (same count).
    std::vector<uint32_t> sizeOverride;
};

// Header with magic, 16 x 16, FrameRate -6666 (15 fps), tree sizes 12.
MovieHeader DefaultHeader();
Bytes MovieBytes(const MoviePlan& plan);

uint32_t LE32(const uint8_t* p);
void PutLE32(Bytes& b, uint32_t v);

// Writes bytes to a fresh temporary file; the path is removed by the
// destructor.
class TempFile {
public:
    explicit TempFile(const Bytes& bytes);
    ~TempFile();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// A file layer serving one in-memory file and recording every operation,
// installed for its lifetime.
class MemoryFile {
public:
    struct Op {
        char kind;  // 'o' open, 'r' read, 's' seek, 'c' close
        uint32_t pos;   // read: offset before; seek: new position
        uint32_t size;  // read: asked
        uint32_t got;   // read: delivered
    };
    explicit MemoryFile(Bytes bytes);
    ~MemoryFile();
    QvFile handle() const { return kHandle; }
    // The handle as QuarvOpen takes it with OPEN_FROM_HANDLE.
    const void* handleArg() const { return reinterpret_cast<const void*>(kHandle); }
    static const char* name() { return "memory:movie"; }
    void SetPosition(uint32_t pos) { pos_ = pos; }
    // Reads shorter than asked after this offset (the file "ends" there for reads).
    void TruncateReadsAt(uint32_t end) { readEnd_ = end; }
    std::vector<Op> ops;
    std::vector<Op> Reads() const;
    size_t Seeks() const;
    int closes = 0;

private:
    static constexpr QvFile kHandle = 77;
    static QvFile Open(const char* name);
    static uint32_t Read(QvFile f, void* dst, uint32_t count);
    static uint32_t Seek(QvFile f, int32_t offset, uint32_t origin);
    static void Close(QvFile f);
    Bytes bytes_;
    uint32_t pos_ = 0;
    uint32_t readEnd_ = 0xFFFFFFFFu;
    FileLayer layer_;
};

}  // namespace movietest
