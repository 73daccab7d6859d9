// The C API the browser page calls (built to WebAssembly; natively for the
// fuzz target): a movie opened from bytes in memory, decoded frame by frame
// into RGBA pixels at 1x or 2x (plain or smoothed, through the blitter's
// kernels), with each frame's sound handed out as PCM. One movie at a time:
// the decoder keeps process-wide state and is not reentrant.
#pragma once
#include <cstdint>

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#define QUARV_WEB_API extern "C" EMSCRIPTEN_KEEPALIVE
#else
#define QUARV_WEB_API extern "C"
#endif

// A buffer of size bytes for the movie file, which the page fills before
// QuarvWebOpen; any open movie is closed first. Null when memory runs out.
QUARV_WEB_API uint8_t* QuarvWebFileBuffer(uint32_t size);
// Opens the movie in the file buffer. 1 on success; 0 with QuarvWebError set.
QUARV_WEB_API int QuarvWebOpen();
QUARV_WEB_API void QuarvWebClose();
// The reason of the last failure, empty when there was none.
QUARV_WEB_API const char* QuarvWebError();

// Picture size as decoded (the height doubled for movies stored at half
// height), frame count, and frame duration in units of 10 microseconds (0:
// untimed). All 0 without a movie.
QUARV_WEB_API uint32_t QuarvWebWidth();
QUARV_WEB_API uint32_t QuarvWebHeight();
QUARV_WEB_API uint32_t QuarvWebFrames();
QUARV_WEB_API uint32_t QuarvWebFrameTime();
// Track t (0-6): sample rate in Hz (0 when the movie has no such track),
// bits per sample (8 or 16), channels (1 or 2).
QUARV_WEB_API uint32_t QuarvWebTrackRate(int t);
QUARV_WEB_API uint32_t QuarvWebTrackBits(int t);
QUARV_WEB_API uint32_t QuarvWebTrackChannels(int t);

// Decodes the next frame (the first call gives frame 0) with its sound, and
// at scale 1 or 2 (smooth: 2x with in-between colours) its RGBA picture;
// scale 0 decodes only. Returns the frame's number; -1 after the last frame,
// or on a failure with QuarvWebError set (the movie is closed then).
QUARV_WEB_API int32_t QuarvWebDecodeNext(uint32_t scale, uint32_t smooth);
// Makes the last decoded frame's RGBA picture again at another scale (1 or
// 2). 0 when no frame has been decoded.
QUARV_WEB_API int QuarvWebRedraw(uint32_t scale, uint32_t smooth);
// The last frame's RGBA picture: width x height words, rows top down, bytes
// r, g, b, 255 as a canvas takes them.
QUARV_WEB_API const uint32_t* QuarvWebPixels();
QUARV_WEB_API uint32_t QuarvWebPixelWidth();
QUARV_WEB_API uint32_t QuarvWebPixelHeight();
// The last frame's PCM of track t, in the track's format (8-bit unsigned or
// 16-bit signed little-endian, stereo interleaved left first).
QUARV_WEB_API const uint8_t* QuarvWebSound(int t);
QUARV_WEB_API uint32_t QuarvWebSoundBytes(int t);
