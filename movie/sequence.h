// Moving a movie from frame to frame, and the playback statistics.
#pragma once
#include <cstdint>

struct Movie;

// Sets the chunk pointers and lengths of the current record and decodes its
// palette chunk; wraps past the last frame (to the ring frame, or back).
void SplitFrame(Movie* movie);
// Makes record FrameNum current (frame 0: black palette, sound restarted
// when this movie owns every open track).
void SeekToFrame(Movie* movie);
// Closes the running frame, copy and decode time measurements.
void MeasureFrameTime(Movie* movie);

// The process-wide frame-rate override, in the header's FrameRate encoding.
int32_t FrameRateOverride();
