// The display of the native player: the 8-bit frame buffer the decoder
// draws into (a QuarvBuffer), turned by the blitter into 16-bit 5-6-5
// pixels of the output size (1x, or 2x plain, interlaced or smoothed) and
// uploaded, changed rectangles only, into a streaming texture that the
// window's renderer scales to the window.
#pragma once
#include <cstddef>
#include <cstdint>

struct QuarvBuffer;
struct SDL_Window;
struct SdlDisplay;

// The record's type: none of the Windows back-ends.
constexpr uint32_t kBufferTypeSdl = 6;

// A display of width x height frame pixels shown `scale` (1 or 2) times as
// large in `window`; at 2x `doubling` may hold kBufferSmooth or
// kBufferInterlace (display/display.h). Null when the sizes cannot be shown
// or SDL refuses (SDL_GetError says why).
SdlDisplay* SdlDisplayOpen(SDL_Window* window, uint32_t width, uint32_t height, uint32_t scale, uint32_t doubling);
void SdlDisplayClose(SdlDisplay* display);

// The frame buffer: pixels, pitch and the palette fields the playback loop reads.
QuarvBuffer* SdlDisplayBuffer(SdlDisplay* display);

// Converts the rectangle (x, y, width, height) of the frame into the
// output; uploaded and shown at once, or, between StartRects and
// FlushRects, with the other rectangles of the frame. Returns 256 when the
// whole frame was converted (after a palette change), else 0.
uint32_t SdlDisplayBlit(SdlDisplay* display, int32_t x, int32_t y, int32_t width, int32_t height);
void SdlDisplayStartRects(SdlDisplay* display);
void SdlDisplayFlushRects(SdlDisplay* display);

// The movie's colours (256 x red, green, blue): every index is free, so
// the colours are taken as they are; the whole frame is converted next.
void SdlDisplaySetPalette(SdlDisplay* display, const uint8_t colours[768]);
// Fills the frame with one colour index.
void SdlDisplayClear(SdlDisplay* display, uint32_t colourIndex);
// Shows the texture again, scaled to the window as it is now (exposed,
// resized, switched to or from full screen).
void SdlDisplayPresent(SdlDisplay* display);

// For the summary: the texture, the renderer and the blitter's mode.
size_t SdlDisplayDescribe(const SdlDisplay* display, char* text, size_t size);
