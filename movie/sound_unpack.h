// Unpacker of compressed sound chunks: delta-coded PCM whose deltas come
// from up to four small Huffman trees stored at the head of every chunk.
#pragma once
#include <cstdint>

// Bytes of scratch the unpacker needs: four trees of 2048 bytes each.
constexpr uint32_t kSoundScratchBytes = 8192;

// Unpacks one compressed chunk into a ring buffer.
//   source, sourceSize: the packed stream (the chunk from its offset 8 on) and
//     its length in bytes; bits past the end read as 0, nothing past it is read.
//   byteCount: the unpacked size; rounded down to whole sample frames (the
//     bytes beyond the last whole frame are left as they are).
//   scratch: kSoundScratchBytes bytes, 4-byte aligned; tree k (1..4) is built
//     as 32-bit nodes at byte 2048 * (k - 1).
//   ringStart, ringEnd, writePos: the ring and where to write; writing wraps
//     from ringEnd to ringStart and never leaves the ring.
// Stateless between calls; not reentrant (the scratch is shared).
void UnpackSound(const uint8_t* source, uint32_t sourceSize, uint32_t byteCount, uint32_t* scratch,
                 uint8_t* ringStart, uint8_t* ringEnd, uint8_t* writePos);
