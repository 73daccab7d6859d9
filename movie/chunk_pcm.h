// The PCM that one frame's sound chunk carries, taken straight from the frame
// record without a sound driver or ring: for tools and players that hand the
// sound on themselves (quarvdump's WAV files, the browser page's Web Audio).
#pragma once
#include <cstdint>

struct Movie;

// ChunkPcmSize's answer for a compressed chunk that claims more bytes than
// any chunk can carry.
constexpr uint32_t kChunkPcmOutOfRange = 0xFFFFFFFFu;

// Bytes of PCM in the current frame's chunk of `track`: the raw bytes as
// stored, or the unpacked size of a compressed chunk; 0 without a chunk (or
// with a chunk too short to hold its own length words).
uint32_t ChunkPcmSize(const Movie* movie, int track);

// Writes those ChunkPcmSize bytes to dst. A compressed chunk is unpacked into
// silence first: a stream without its presence bit writes nothing, and a
// trailing part of a sample frame is never unpacked. scratch: the unpacker's
// kSoundScratchBytes, 4-byte aligned.
void ChunkPcmWrite(const Movie* movie, int track, uint8_t* dst, uint32_t* scratch);
