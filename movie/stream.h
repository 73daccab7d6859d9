// The stream reader of a movie that is not preloaded: bytes in file order
// out of a ring-shaped read-ahead buffer that idle time fills. Every file read
// it makes is whole 4096-byte pages at page-aligned file offsets, except the
// one alignment read after the stream is repositioned.
#pragma once
#include <cstdint>

struct Movie;

// Delivers up to count bytes at StreamPos into dest; the result is what was
// delivered. Without a read-ahead buffer (at open) it is one plain read.
uint32_t ReadStream(Movie* movie, uint8_t* dest, uint32_t count);
// Streamed movies: reads record FrameNum into FrameBuffer (FrameData,
// FrameSize). Preloaded movies: nothing.
void ReadFrame(Movie* movie);
// One background read of a page into the read-ahead buffer, while frames
// remain and a page is free; the bytes read (0 at the end of the file).
uint32_t ReadAhead(Movie* movie);
// Moves the stream to filePos (keeping buffered data when the target is in
// the buffer) and reads the current record there.
void PositionStream(Movie* movie, uint32_t filePos);

// The process-wide simulated read speed (bytes per second, 0 = none).
uint32_t SimulatedReadSpeed();
