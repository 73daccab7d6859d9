// The movie container: the header checks, the two per-frame tables, the
// walk over one frame record's chunks and the figures derived from the
// frame sizes at open. Everything here is pure and bounded: it never looks
// outside the bytes it is given.
#pragma once
#include <cstdint>
#include <cstring>

#include "movie/movie.h"

constexpr uint32_t kHeaderBytes = 104;
constexpr uint32_t kPageBytes = 4096;

// "QVL2" in file order.
bool HeaderMagicOk(const MovieHeader& header);

// FrameRate (ms when positive, -10 us units when negative) to the frame
// duration in 10 us units; 0 means untimed.
uint32_t FrameTimeFromRate(int32_t frameRate);
// Frames in one second for the peak-rate scan (at least 1; 100000 untimed).
uint32_t FramesPerSecond(uint32_t frameTime);

// Entries of FrameSizes / FrameTypes: Frames plus the ring frame.
uint64_t TableEntryCount(const MovieHeader& header);

// FrameSizes lies right after the n type bytes, so it is not aligned: read
// its entries through these.
inline uint32_t LoadU32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
// Entry i of the movie's FrameSizes; 0 past the table.
inline uint32_t FrameSizeAt(const Movie* m, uint32_t i) {
    if (i >= m->TableEntries) return 0;
    return LoadU32(reinterpret_cast<const uint8_t*>(m->FrameSizesPtr) + 4u * i);
}
// Byte offset of record `index` from the first record (sum of the sizes
// before it).
uint64_t RecordOffset(const Movie* m, uint32_t index);

struct FrameStats {
    uint64_t Total;      // sum of all sizes
    uint32_t Largest;
    uint32_t PeakRate;   // best one-second window after the first
    uint32_t PeakFrame;  // 1-based start of that window
    uint32_t Average;    // Total / n
};
// sizes: n little-endian u32 at any alignment; n >= 1; framesPerSecond >= 1.
// The window that starts at frame 0 never counts, so a movie without a
// later window that beats 0 reports PeakRate 0 at frame 1.
FrameStats ComputeFrameStats(const uint8_t* sizes, uint32_t n, uint32_t framesPerSecond);

// Read-ahead size and the preload decision at open.
struct BufferChoice {
    bool Preload;
    uint32_t BufSize;  // the read-ahead size chosen (a multiple of 4096, >= 8192)
};
// extraBuffer 0xFFFFFFFF chooses from the data rate.
BufferChoice ChooseBuffering(uint32_t extraBuffer, uint32_t frameTime, uint32_t peakRate, uint64_t total);

// Where the chunks of one record lie. Offsets are from the record's start;
// every offset + size stays within the record.
struct ChunkLayout {
    bool HasPalette;
    uint32_t PaletteSize;           // record bytes from the palette chunk on
    bool HasSound[kMaxTracks];
    uint32_t SoundOffset[kMaxTracks];
    uint32_t SoundSize[kMaxTracks];  // the chunk's length word, cut at the record's end
    uint32_t VideoOffset;
    uint32_t VideoSize;
};
// Walks a record of `size` bytes whose type byte is `type`. A chunk that
// runs past the record is cut at its end; a sound chunk whose length word is
// below 4 (or that has no room for it) cannot be stepped over, so it and
// everything after it count as absent and the video is empty.
void SplitRecord(const uint8_t* record, uint32_t size, uint8_t type, ChunkLayout* out);
