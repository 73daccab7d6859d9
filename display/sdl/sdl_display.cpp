// The SDL display: QuarvBuffer pixels -> blitter -> 16-bit shadow of the
// output -> changed rectangles into the texture -> renderer.
#include "display/sdl/sdl_display.h"

#include <SDL.h>

#include <cstdio>
#include <cstring>

#include "blit/blit.h"
#include "common/aligned_alloc.h"
#include "display/display.h"
#include "display/display_backend.h"

struct SdlDisplay {
    QuarvBuffer buffer;
    SDL_Renderer* renderer;
    SDL_Texture* texture;
    uint32_t scale;
    uint16_t* shadow;   // the output in 5-6-5: outWidth x outHeight
    uint16_t* scratch;  // smoothing: a rectangle with its neighbours, same size
};

namespace {

// Largest frame side: the output must fit a texture.
constexpr uint32_t kMaxSide = 4096;

int32_t ShadowPitch(const SdlDisplay* d) { return static_cast<int32_t>(d->buffer.outWidth * 2); }

SDL_Rect OutRect(const DisplayRect& r) { return SDL_Rect{r.srcX, r.srcY, r.width, r.height}; }

// Output areas not yet uploaded, in the record's rectangle list (srcX,
// srcY, width, height). A full list becomes one rectangle around them all.
void AddDirty(SdlDisplay* d, int32_t x, int32_t y, int32_t w, int32_t h) {
    QuarvBuffer& b = d->buffer;
    if (b.rectCount == b.rectCapacity) {
        SDL_Rect all = OutRect(b.rectList[0]);
        for (uint32_t i = 1; i < b.rectCount; i++) {
            const SDL_Rect r = OutRect(b.rectList[i]);
            SDL_UnionRect(&all, &r, &all);
        }
        b.rectList[0] = DisplayRect{0, 0, all.x, all.y, all.w, all.h};
        b.rectCount = 1;
    }
    b.rectList[b.rectCount++] = DisplayRect{0, 0, x, y, w, h};
}

// One rectangle of frame pixels into the shadow.
void Convert(SdlDisplay* d, int32_t x, int32_t y, int32_t w, int32_t h) {
    QuarvBuffer& b = d->buffer;
    const int32_t s = static_cast<int32_t>(d->scale);
    if (!(b.blitFlags & kBlitSmooth)) {
        QuarvBlit(b.blitter, d->shadow, ShadowPitch(d), x, y, b.pixels, static_cast<int32_t>(b.pitch), x, y, w, h);
        AddDirty(d, x * s, y * s, w * s, h * s);
        return;
    }
    // A smoothed block takes in-between colours from the pixels left of and
    // above it, and the blitter lets a rectangle's edge pixels stand in for
    // the neighbours outside it: converted alone, a rectangle would show
    // seams. So it is converted with one more pixel on each side, and the
    // blocks kept are the rectangle's and those right of and below it
    // (whose neighbours changed), each made from its true neighbours.
    const int32_t W = static_cast<int32_t>(b.width), H = static_cast<int32_t>(b.height);
    const int32_t x0 = x > 0 ? x - 1 : 0, y0 = y > 0 ? y - 1 : 0;
    const int32_t x1 = x + w < W ? x + w + 1 : W, y1 = y + h < H ? y + h + 1 : H;
    QuarvBlit(b.blitter, d->scratch, ShadowPitch(d), 0, 0, b.pixels, static_cast<int32_t>(b.pitch), x0, y0, x1 - x0,
              y1 - y0);
    const size_t row = b.outWidth;
    const size_t keepWidth = static_cast<size_t>(x1 - x) * 2 * sizeof(uint16_t);
    for (int32_t line = 2 * y; line < 2 * y1; line++) {
        const uint16_t* from = d->scratch + static_cast<size_t>(line - 2 * y0) * row + (x - x0) * 2;
        std::memcpy(d->shadow + static_cast<size_t>(line) * row + 2 * x, from, keepWidth);
    }
    AddDirty(d, 2 * x, 2 * y, 2 * (x1 - x), 2 * (y1 - y));
}

// Only the changed areas go to the texture.
void Upload(SdlDisplay* d) {
    QuarvBuffer& b = d->buffer;
    for (uint32_t i = 0; i < b.rectCount; i++) {
        const SDL_Rect r = OutRect(b.rectList[i]);
        const uint16_t* from = d->shadow + static_cast<size_t>(r.y) * b.outWidth + r.x;
        SDL_UpdateTexture(d->texture, &r, from, ShadowPitch(d));
    }
    b.rectCount = 0;
}

bool InsideFrame(const QuarvBuffer& b, int32_t x, int32_t y, int32_t w, int32_t h) {
    return x >= 0 && y >= 0 && w > 0 && h > 0 && x + w <= static_cast<int32_t>(b.width) &&
           y + h <= static_cast<int32_t>(b.height);
}

}  // namespace

SdlDisplay* SdlDisplayOpen(SDL_Window* window, uint32_t width, uint32_t height, uint32_t scale, uint32_t doubling) {
    if (!window || width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || (scale != 1 && scale != 2)) {
        SDL_SetError("a %ux%u frame cannot be shown %u times as large", width, height, scale);
        return nullptr;
    }
    auto* d = static_cast<SdlDisplay*>(AlignedAlloc(sizeof(SdlDisplay)));
    if (!d) return nullptr;
    std::memset(d, 0, sizeof *d);
    QuarvBuffer& b = d->buffer;
    d->scale = scale;
    b.type = kBufferTypeSdl;
    b.width = width;
    b.height = height;
    b.pitch = (width + 7) & ~7u;
    b.stretched = scale != 1;
    b.outWidth = width * scale;
    b.outHeight = height * scale;
    b.screenColours = 65536;  // what a 5-6-5 texture can show
    b.paletteSize = 256;
    b.paletteStart = 0;
    b.paletteEnd = 256;
    b.freeColours = 256;
    b.paletteLayout = 6;
    b.rectCapacity = RectCapacityFor(width, height);
    b.playerWindow = window;
    b.blitFlags = kBlit565 | DirectScaleFlags(b.stretched != 0, doubling);

    const size_t shadowBytes = size_t{b.outWidth} * b.outHeight * sizeof(uint16_t);
    b.pixels = static_cast<uint8_t*>(AlignedAlloc(size_t{b.pitch} * height));
    b.rectList = static_cast<DisplayRect*>(AlignedAlloc(size_t{b.rectCapacity} * sizeof(DisplayRect)));
    d->shadow = static_cast<uint16_t*>(AlignedAlloc(shadowBytes));
    if (b.blitFlags & kBlitSmooth) d->scratch = static_cast<uint16_t*>(AlignedAlloc(shadowBytes));
    b.blitter = QuarvBlitOpen(b.blitFlags);
    if (!b.pixels || !b.rectList || !d->shadow || ((b.blitFlags & kBlitSmooth) && !d->scratch) || !b.blitter) {
        SdlDisplayClose(d);
        SDL_SetError("out of memory");
        return nullptr;
    }
    std::memset(b.pixels, 0, size_t{b.pitch} * height);
    std::memset(d->shadow, 0, shadowBytes);  // interlacing leaves every other line black
    // The tables are built by the first palette; black until the movie's.
    QuarvBlitSetPalette(b.blitter, b.palette, b.paletteLayout);

    d->renderer = SDL_CreateRenderer(window, -1, 0);
    if (d->renderer) {
        // Resized or full screen: scaled with the aspect kept, nearest pixel.
        SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
        SDL_RenderSetLogicalSize(d->renderer, static_cast<int>(b.outWidth), static_cast<int>(b.outHeight));
        d->texture = SDL_CreateTexture(d->renderer, SDL_PIXELFORMAT_RGB565, SDL_TEXTUREACCESS_STREAMING,
                                       static_cast<int>(b.outWidth), static_cast<int>(b.outHeight));
    }
    if (!d->texture) {
        SdlDisplayClose(d);
        return nullptr;
    }
    AddDirty(d, 0, 0, static_cast<int32_t>(b.outWidth), static_cast<int32_t>(b.outHeight));
    Upload(d);
    SdlDisplayPresent(d);
    return d;
}

void SdlDisplayClose(SdlDisplay* d) {
    if (!d) return;
    if (d->texture) SDL_DestroyTexture(d->texture);
    if (d->renderer) SDL_DestroyRenderer(d->renderer);
    QuarvBlitClose(d->buffer.blitter);
    AlignedFree(d->scratch);
    AlignedFree(d->shadow);
    AlignedFree(d->buffer.rectList);
    AlignedFree(d->buffer.pixels);
    AlignedFree(d);
}

QuarvBuffer* SdlDisplayBuffer(SdlDisplay* d) { return d ? &d->buffer : nullptr; }

uint32_t SdlDisplayBlit(SdlDisplay* d, int32_t x, int32_t y, int32_t width, int32_t height) {
    if (!d) return 0;
    QuarvBuffer& b = d->buffer;
    b.drawn = 1;
    uint32_t whole = 0;
    if (b.redrawAll) {
        // New colours: every pixel of the output changes.
        b.redrawAll = 0;
        x = y = 0;
        width = static_cast<int32_t>(b.width);
        height = static_cast<int32_t>(b.height);
        whole = 256;
    }
    if (!InsideFrame(b, x, y, width, height)) return whole;
    Convert(d, x, y, width, height);
    if (b.rectMode != 2) {
        Upload(d);
        SdlDisplayPresent(d);
    }
    return whole;
}

void SdlDisplayStartRects(SdlDisplay* d) {
    if (d) d->buffer.rectMode = 2;
}

void SdlDisplayFlushRects(SdlDisplay* d) {
    if (!d) return;
    d->buffer.rectMode = 0;
    if (d->buffer.rectCount == 0) return;  // nothing changed: the window shows the frame already
    Upload(d);
    SdlDisplayPresent(d);
}

void SdlDisplaySetPalette(SdlDisplay* d, const uint8_t colours[768]) {
    if (!d) return;
    QuarvBuffer& b = d->buffer;
    for (int i = 0; i < 256; i++) {
        b.palette[i * 4] = colours[i * 3 + 2];
        b.palette[i * 4 + 1] = colours[i * 3 + 1];
        b.palette[i * 4 + 2] = colours[i * 3];
        b.palette[i * 4 + 3] = 0;
    }
    b.drawn = 1;
    b.redrawAll = 1;
    QuarvBlitSetPalette(b.blitter, b.palette, b.paletteLayout);
}

void SdlDisplayClear(SdlDisplay* d, uint32_t colourIndex) {
    if (!d) return;
    QuarvBuffer& b = d->buffer;
    for (uint32_t row = 0; row < b.height; row++)
        std::memset(b.pixels + size_t{row} * b.pitch, static_cast<uint8_t>(colourIndex), b.width);
}

void SdlDisplayPresent(SdlDisplay* d) {
    if (!d) return;
    SDL_SetRenderDrawColor(d->renderer, 0, 0, 0, 255);
    SDL_RenderClear(d->renderer);
    SDL_RenderCopy(d->renderer, d->texture, nullptr, nullptr);
    SDL_RenderPresent(d->renderer);
}

size_t SdlDisplayDescribe(const SdlDisplay* d, char* text, size_t size) {
    if (!size) return 0;
    text[0] = 0;
    if (!d) return 0;
    SDL_RendererInfo info{};
    if (SDL_GetRendererInfo(d->renderer, &info) != 0) info.name = "unknown";
    char mode[64];
    QuarvBlitString(d->buffer.blitter, mode);
    const int n = std::snprintf(text, size, "SDL texture on the %s renderer with accelerated blitting (%s)", info.name,
                                mode);
    return n < 0 ? 0 : (static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1);
}
