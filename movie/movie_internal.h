// What the library's subsystems share behind the public entry points.
#pragma once
#include <cstddef>
#include <cstdint>

#include "movie/movie.h"

// Accounting allocator: adds size to MemUsed (raising PeakMemUsed), then takes
// memory from the aligned allocator. Null on failure (nothing is counted then).
void* MovieAlloc(Movie* movie, uint32_t size);
// Same, zero-filled.
void* MovieAllocZero(Movie* movie, uint32_t size);
// Gives back a block of `size` bytes that MovieAlloc handed out and takes it
// off MemUsed (null does nothing). With a null movie only the process-wide
// count below changes: for the library's own record, and for the sound
// scratch, which may outlive the movie that counted it.
void MovieFree(Movie* movie, void* p, uint32_t size);
// Bytes handed out by MovieAlloc and not yet given back, all movies of the
// process together: once every movie is closed, what it was before the first
// open.
size_t MovieBytesHeld();

// The library's debug log: on only when the profile asks for it (read once).
bool DebugLogOn();
void LogText(const char* text);
void LogNumber(const char* prefix, int64_t value);  // prefix, decimal value, "\r\n"

// Sound: the number of tracks open in the whole process.
extern uint32_t OpenTrackCount;
// Runs the driver's service operation when any track is open.
void ServiceIfTracksOpen();
// Sets up sound track t (its record already allocated into Track[t]) on the
// installed sound driver, installing the default driver when none is.
bool SetUpTrack(Movie* movie, int t);
// Closes every sound track of the movie (the driver's close-track, ring and
// record freed, Track[t] = null, TimingTrack = -1) and frees the process's
// sound scratch buffer once no track is open anywhere. QuarvClose calls it.
void CloseTracks(Movie* movie);
// The per-frame sound step (called by QuarvDoFrame before any video work).
void SoundStep(Movie* movie);
// Whether the current frame is late (called only when FrameTime != 0).
uint32_t FrameIsLate(Movie* movie);
