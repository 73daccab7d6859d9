#include "movie/chunk_pcm.h"

#include <cstring>

#include "movie/movie.h"
#include "movie/sound_unpack.h"

namespace {

// Larger than any chunk can unpack to; a claim beyond it is a broken file.
constexpr uint32_t kMaxChunkPcm = 256u << 20;

// The chunk of the track in the current frame, or null; size gets the bytes
// of it that lie inside the frame record.
const uint8_t* Chunk(const Movie* m, int track, uint32_t* size) {
    if (!m || track < 0 || track >= kMaxTracks || !m->SoundChunk[track]) return nullptr;
    *size = m->SoundChunkSize[track];
    return m->SoundChunk[track];
}

bool Compressed(const Movie* m, int track) { return (m->Header.TrackFormat[track] & kTrackCompressed) != 0; }

}  // namespace

uint32_t ChunkPcmSize(const Movie* m, int track) {
    uint32_t size = 0;
    const uint8_t* chunk = Chunk(m, track, &size);
    if (!chunk || size < 4) return 0;
    if (!Compressed(m, track)) return size - 4;
    if (size < 8) return 0;
    uint32_t n;
    std::memcpy(&n, chunk + 4, 4);
    return n > kMaxChunkPcm ? kChunkPcmOutOfRange : n;
}

void ChunkPcmWrite(const Movie* m, int track, uint8_t* dst, uint32_t* scratch) {
    const uint32_t n = ChunkPcmSize(m, track);
    if (n == 0 || n == kChunkPcmOutOfRange) return;
    uint32_t size = 0;
    const uint8_t* chunk = Chunk(m, track, &size);
    if (!Compressed(m, track)) {
        std::memcpy(dst, chunk + 4, n);
        return;
    }
    std::memset(dst, (m->Header.TrackFormat[track] & kTrackBits16) ? 0 : 0x80, n);
    UnpackSound(chunk + 8, size - 8, n, scratch, dst, dst + n, dst);
}
