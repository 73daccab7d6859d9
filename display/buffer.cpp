// The graphics buffer: choosing the back-end, setting up the record and its
// palette range, collecting and drawing rectangles. The platform calls are
// behind display_backend.h.
#include <cstring>

#include "blit/blit.h"
#include "common/aligned_alloc.h"
#include "display/display.h"
#include "display/display_backend.h"

namespace {

// Set up by the first QuarvBufferOpen and kept for the whole process.
struct ProcessDisplay {
    bool setUp;
    uint32_t displayMemory;  // where a full-screen mode's memory starts
    uint32_t screenColours;
    uint32_t paletteSize;
    uint32_t reserved;       // static colours at each end of a palettised screen
};

ProcessDisplay process;
SharedBitmapHeader header;

// Largest frame or output side: GDI takes coordinates as 16-bit values.
constexpr uint32_t kMaxSide = 32767;

void SetIdentityColours() {
    auto* slots = reinterpret_cast<uint16_t*>(header.colours);
    for (uint16_t i = 0; i < 256; i++) slots[i] = i;
}

void SetUpProcess() {
    if (process.setUp) return;
    ScreenFacts facts{};
    backend::ReadScreen(&facts);
    process.displayMemory = facts.windowsMajor < 4 ? 0xB0000 : 0xA0000;
    const uint32_t bits = facts.bitsPerPixel * facts.planes;
    process.screenColours = bits >= 24 ? 1u << 24 : 1u << bits;
    process.paletteSize = process.screenColours < 256 ? process.screenColours : 256;
    process.reserved = process.screenColours == 256 ? facts.reservedEntries / 2 : 0;
    memset(&header, 0, sizeof header);
    SetIdentityColours();
    backend::ClearSystemPalette();
    process.setUp = true;
}

// Type 5 draws through WinG only when the GDI lacks DIB sections.
bool UsesWinG() { return !backend::FindDibSectionFunctions(); }

bool TypeAvailable(uint32_t type, uint32_t width, uint32_t height, bool stretched) {
    switch (type) {
        case 1:
            return width <= 320 && height <= 240 && !stretched && backend::FullScreenDriverAvailable();
        case 2:
        case 3:
            return width <= 320 && height <= 200 && !stretched && backend::FullScreenDriverAvailable();
        case 4:
            backend::FindDibSectionFunctions();
            return true;
        case 5:
            return backend::FindDibSectionFunctions() || backend::LoadWinG();
        default:
            return false;
    }
}

// Fills the shared header for drawing the buffer's pixels.
void DescribeBuffer(const QuarvBuffer* b) {
    header.size = 40;
    header.width = static_cast<int32_t>(b->pitch);
    header.height = static_cast<int32_t>(b->height);
    if (!b->bottomUp) header.height = -header.height;
    header.planes = 1;
    header.bitCount = 8;
    header.compression = 0;
    header.sizeImage = 0;
    header.clrUsed = 0;
    header.clrImportant = 0;
}

// The palette object (and for type 5 the DIB's colours) from palette.
void MakePalette(QuarvBuffer* b) {
    LogicalPaletteEntry entries[256];
    const uint32_t n = b->paletteSize <= 256 ? b->paletteSize : 256;
    for (uint32_t i = 0; i < n; i++) {
        entries[i].red = b->palette[i * 4 + 2];
        entries[i].green = b->palette[i * 4 + 1];
        entries[i].blue = b->palette[i * 4];
        entries[i].flags = (i >= b->paletteStart && i < b->paletteEnd) ? kPaletteNoCollapse : 0;
    }
    backend::CreatePaletteObject(b, entries, n);
    if (b->type == 5) backend::SetDibColours(b, UsesWinG());
}

int64_t Scale(int64_t v, uint32_t out, uint32_t in) { return v * out / in; }

void DrawRect(QuarvBuffer* b, DrawSession* s, const DisplayRect& r, bool first) {
    const int64_t dx = r.x + Scale(r.srcX, b->outWidth, b->width);
    const int64_t dy = r.y + Scale(r.srcY, b->outHeight, b->height);
    const int64_t dw = Scale(r.width, b->outWidth, b->width);
    const int64_t dh = Scale(r.height, b->outHeight, b->height);
    if (b->type == 4) {
        if (first) DescribeBuffer(b);
        // The source row counts from the bottom of the DIB.
        const int64_t sy = static_cast<int64_t>(b->height) - r.srcY - r.height;
        backend::StretchDib(s, b, &header, static_cast<int16_t>(dx), static_cast<int16_t>(dy),
                            static_cast<int16_t>(dw), static_cast<int16_t>(dh), static_cast<int16_t>(r.srcX),
                            static_cast<int16_t>(sy), static_cast<int16_t>(r.width),
                            static_cast<int16_t>(r.height));
    } else if (b->stretched) {
        backend::StretchBlt(s, b, static_cast<int32_t>(dx), static_cast<int32_t>(dy), static_cast<int32_t>(dw),
                            static_cast<int32_t>(dh), r.srcX, r.srcY, r.width, r.height, UsesWinG());
    } else {
        backend::BitBlt(s, b, r.x + r.srcX, r.y + r.srcY, r.width, r.height, r.srcX, r.srcY, UsesWinG());
    }
}

// Sets up the direct path of a type 5 buffer; any failure leaves it on GDI.
void OpenDirectPath(QuarvBuffer* b, uint32_t typeArg) {
    SurfaceFormat format{};
    if (!backend::LoadDirectDraw() || !backend::OpenDirectDraw(b, &format)) return;
    const uint32_t formatFlags = SurfaceFormatFlags(format);
    if (formatFlags != kSurfaceUnusable && backend::TrialLock(b)) {
        b->blitFlags = DirectScaleFlags(b->stretched != 0, typeArg) | formatFlags;
        b->hidePointer = backend::ProbePointer(b);
        b->blitter = QuarvBlitOpen(b->blitFlags);
        if (b->blitter) return;
    }
    backend::CloseDirectDraw(b);
    b->blitFlags = 0;
    b->hidePointer = 0;
}

// How one QuarvBufferBlit call of a type 5 buffer with a Blitter draws.
struct DirectCall {
    bool gdi;        // through GDI this time
    bool nothing;    // the window is hidden: draw nothing
    bool whole;      // the whole buffer instead of the rectangles
    bool locked;
    int pointerHidden;
    int32_t originX, originY;
    uint8_t* memory;
    int32_t pitch;
};

void BeginDirectCall(QuarvBuffer* b, DrawSession* s, DirectCall* c) {
    if (!backend::ClientOrigin(b, &c->originX, &c->originY)) {
        c->nothing = true;
        return;
    }
    if (!backend::PlayerHasForeground(b)) {
        // Another window may cover ours: only GDI knows what is visible.
        if (b->directActive) {
            b->directActive = 0;
            c->whole = true;
        }
        c->gdi = true;
        return;
    }
    if (!b->screenRectKnown) {
        backend::ScreenArea(b, b->screenRect);
        b->screenRectKnown = 1;
    }
    if (!b->directActive) {
        b->directActive = 1;
        c->whole = true;
        if (b->blitFlags & kBlitInterlace)
            backend::PaintBlack(s, 0, 0, static_cast<int32_t>(b->outWidth), static_cast<int32_t>(b->outHeight));
    }
}

// Draws one rectangle straight into the surface; false sends the call
// through GDI.
bool DirectRect(QuarvBuffer* b, DirectCall* c, const DisplayRect& r) {
    const int32_t scale = b->stretched ? 2 : 1;
    const int32_t ox = c->originX + r.x, oy = c->originY + r.y;
    if (b->hidePointer && !c->pointerHidden &&
        backend::HidePointerOver(ox + r.srcX * scale, oy + r.srcY * scale, ox + (r.srcX + r.width) * scale,
                                 oy + (r.srcY + r.height) * scale))
        c->pointerHidden = 1;
    int32_t sx = r.srcX, sy = r.srcY, w = r.width, h = r.height;
    if (!ClipDirectRect(ox, oy, scale, b->screenRect, &sx, &sy, &w, &h)) return true;
    if (!c->locked) {
        if (!backend::LockSurface(b, &c->memory, &c->pitch)) return false;
        c->locked = true;
    }
    const int32_t bytes = (b->blitFlags & kBlitFormatMask) ? 2 : 1;
    uint8_t* dst = c->memory + static_cast<intptr_t>(oy) * c->pitch + static_cast<intptr_t>(ox) * bytes;
    QuarvBlit(b->blitter, dst, c->pitch, sx, sy, b->pixels, static_cast<int32_t>(b->pitch), sx, sy, w, h);
    return true;
}

const uint32_t kSavedScreenSize = 64000;

// The buffer's format with identity colour slots, to the driver.
void SendSetFormat(QuarvBuffer* b) {
    DescribeBuffer(b);
    backend::SendToDriver(b, b->type == 1 ? kDriverSetFormat320x240 : kDriverSetFormat320x200, sizeof header,
                          &header);
}

void SendDraw(QuarvBuffer* b) {
    DescribeBuffer(b);
    backend::SendToDriver(b, kDriverDraw, b->pitch * b->height, b->pixels);
}

void FreeBuffer(QuarvBuffer* b) {
    if (b->fullScreen) {
        backend::CloseFullScreenWindow(b);
        if (b->memoryKind == 2)
            AlignedFree(b->savedScreen);
        else
            AlignedFree(b->pixels);
        b->pixels = nullptr;
    } else if (b->type == 5) {
        backend::DestroyDibBitmap(b);
        backend::CloseDirectDraw(b);
        if (b->blitter) QuarvBlitClose(b->blitter);
    } else {
        AlignedFree(b->pixels);
    }
    AlignedFree(b->rectList);
    backend::DeletePaletteObject(b);
    AlignedFree(b);
}

}  // namespace

uint32_t SurfaceFormatFlags(const SurfaceFormat& f) {
    if (f.bitsPerPixel == 8) return 0;
    if (f.bitsPerPixel == 16 && f.redMask == 0xF800 && f.greenMask == 0x07E0 && f.blueMask == 0x001F)
        return kBlit565;
    if (f.bitsPerPixel == 16 && f.redMask == 0x7C00 && f.greenMask == 0x03E0 && f.blueMask == 0x001F)
        return kBlit555;
    return kSurfaceUnusable;
}

uint32_t DirectScaleFlags(bool stretched, uint32_t typeArg) {
    if (!stretched) return kBlit1x;
    if (typeArg & kBufferSmooth) return kBlitSmooth;
    if (typeArg & kBufferInterlace) return kBlitInterlace;
    return kBlit2x;
}

bool DirectDrawWanted(uint32_t screenColours, uint32_t typeArg, uint32_t width, uint32_t height, uint32_t outWidth,
                      uint32_t outHeight) {
    if (screenColours < 256 || screenColours > 65536 || (typeArg & kBufferNoDirectDraw)) return false;
    const bool same = outWidth == width && outHeight == height;
    const bool twice = outWidth == 2 * width && outHeight == 2 * height;
    return same || twice;
}

bool ClipDirectRect(int32_t originX, int32_t originY, int32_t scale, const int32_t screen[4], int32_t* srcX,
                    int32_t* srcY, int32_t* w, int32_t* h) {
    // Source pixels to drop for `outside` screen pixels: all of them at 1x,
    // half rounded up at 2x so that no half pixel lands off the screen.
    auto drop = [scale](int64_t outside) { return static_cast<int32_t>((outside + scale - 1) / scale); };
    const int64_t left = originX + int64_t{*srcX} * scale, top = originY + int64_t{*srcY} * scale;
    const int64_t right = left + int64_t{*w} * scale, bottom = top + int64_t{*h} * scale;
    if (left < screen[0]) {
        const int32_t d = drop(screen[0] - left);
        *srcX += d;
        *w -= d;
    }
    if (top < screen[1]) {
        const int32_t d = drop(screen[1] - top);
        *srcY += d;
        *h -= d;
    }
    if (right > screen[2]) *w -= drop(right - screen[2]);
    if (bottom > screen[3]) *h -= drop(bottom - screen[3]);
    return *w > 0 && *h > 0;
}

uint32_t RectCapacityFor(uint32_t width, uint32_t height) {
    const uint32_t n = (height / 4) * (width / 64) / 2;
    return n > 16 ? n : 16;
}

bool DisplayHasDibSections() { return backend::FindDibSectionFunctions(); }

uint32_t DisplayMemoryAddress() { return process.displayMemory; }

void ResetDisplayForTests() {
    process = ProcessDisplay{};
    memset(&header, 0, sizeof header);
}

const SharedBitmapHeader* SharedHeaderForTests() { return &header; }

QuarvBuffer* QuarvBufferOpen(void* playerWindow, uint32_t typeArg, uint32_t width, uint32_t height,
                             uint32_t outWidth, uint32_t outHeight) {
    SetUpProcess();
    const uint32_t paletteStart = backend::NoStaticColours() ? 1 : process.reserved;

    if (outWidth == 0) outWidth = width;
    if (outHeight == 0) outHeight = height;
    // Sizes come from a movie's header: refuse what no screen can show
    // rather than let the arithmetic below wrap.
    if (width == 0 || height == 0 || width > kMaxSide || height > kMaxSide || outWidth > kMaxSide ||
        outHeight > kMaxSide)
        return nullptr;
    const bool stretched = outWidth != width || outHeight != height;

    const uint32_t requested = typeArg & kBufferTypeMask;
    uint32_t type = requested ? requested : 5;
    while (!TypeAvailable(type, width, height, stretched)) {
        if (requested || type <= 4) return nullptr;
        type--;
    }
    auto* b = static_cast<QuarvBuffer*>(AlignedAlloc(sizeof(QuarvBuffer)));
    if (!b) return nullptr;
    memset(b, 0, sizeof *b);
    // Stored first: the DirectDraw set-up and the pointer probe below work
    // for this window.
    b->playerWindow = playerWindow;
    b->type = type;
    b->width = width;
    b->height = height;
    b->pitch = (width + 7) & ~7u;
    b->stretched = stretched;
    b->outWidth = outWidth;
    b->outHeight = outHeight;
    b->screenColours = process.screenColours;
    b->paletteLayout = 6;
    b->rectCapacity = RectCapacityFor(width, height);
    // Types 4 and 5 both draw through the screen's palette.
    b->paletteSize = process.paletteSize;
    b->paletteStart = paletteStart < b->paletteSize ? paletteStart : b->paletteSize;
    b->paletteEnd = b->paletteSize - b->paletteStart;
    if (b->paletteEnd < b->paletteStart) b->paletteEnd = b->paletteStart;

    if (type <= 3) {
        b->fullScreen = 1;
        b->bottomUp = 1;
        b->paletteSize = 256;
        b->paletteStart = 0;
        b->paletteEnd = 256;
        if (type == 1 && height <= 200) b->height = 204;
        if (type == 3) {
            b->memoryKind = 2;
            b->width = 320;
            b->height = 200;
            b->pitch = 320;
            b->pixels = reinterpret_cast<uint8_t*>(static_cast<uintptr_t>(process.displayMemory));
            b->savedScreen = static_cast<uint8_t*>(AlignedAlloc(kSavedScreenSize));
            if (b->savedScreen) memset(b->savedScreen, 0, kSavedScreenSize);
        } else {
            b->memoryKind = 1;
            b->pixels = static_cast<uint8_t*>(AlignedAlloc(size_t{b->pitch} * b->height));
        }
        if (type == 3 ? !b->savedScreen : !b->pixels) {
            if (type == 3) b->pixels = nullptr;  // display memory is not ours
            AlignedFree(b->savedScreen);
            AlignedFree(b->pixels);
            AlignedFree(b);
            return nullptr;
        }
    } else if (type == 4) {
        b->memoryKind = 1;
        b->bottomUp = backend::FindDibSectionFunctions() ? 0 : 1;
        b->pixels = static_cast<uint8_t*>(AlignedAlloc(size_t{b->pitch} * height));
        if (!b->pixels) {
            FreeBuffer(b);
            return nullptr;
        }
    } else {
        const bool useWinG = UsesWinG();
        header.size = 40;
        header.planes = 1;
        header.bitCount = 8;
        header.compression = 0;
        header.sizeImage = 0;
        header.clrUsed = 0;
        header.clrImportant = 0;
        header.width = static_cast<int32_t>(b->pitch);
        header.height = useWinG ? backend::WinGRecommendedHeight() : -1;
        b->bottomUp = header.height >= 0;
        header.height = b->bottomUp ? static_cast<int32_t>(height) : -static_cast<int32_t>(height);
        b->memoryKind = ((4 * outWidth) % width == 0 && (4 * outHeight) % height == 0) ? 0 : 1;
        if (!backend::CreateDibBitmap(b, &header, useWinG)) {
            b->type = 0;  // nothing of type 5 to take down
            FreeBuffer(b);
            return nullptr;
        }
        if (!useWinG && DirectDrawWanted(process.screenColours, typeArg, width, height, outWidth, outHeight))
            OpenDirectPath(b, typeArg);
    }

    b->freeColours = b->paletteEnd - b->paletteStart;
    if (b->memoryKind != 2) memset(b->pixels, 0, size_t{b->pitch} * b->height);
    if (b->screenColours <= 256) {
        uint8_t rgb[768];
        backend::ReadSystemPalette(rgb);
        for (uint32_t i = 0; i < b->paletteSize; i++) {
            b->palette[i * 4] = rgb[i * 3 + 2];
            b->palette[i * 4 + 1] = rgb[i * 3 + 1];
            b->palette[i * 4 + 2] = rgb[i * 3];
            b->palette[i * 4 + 3] = 0;
        }
    }
    if (b->fullScreen) {
        if (!backend::OpenFullScreenWindow(b)) {
            FreeBuffer(b);
            return nullptr;
        }
        SendSetFormat(b);
        backend::ShowFullScreen(b);
    }
    return b;
}

void FullScreenActivated(QuarvBuffer* b, bool active) {
    if (!b || !b->fullScreen) return;
    b->active = active ? 1 : 0;
    if (b->type == 3) {
        // The display memory belongs to whoever is active.
        if (active)
            memcpy(b->pixels, b->savedScreen, kSavedScreenSize);
        else
            memcpy(b->savedScreen, b->pixels, kSavedScreenSize);
    } else if (active) {
        SendDraw(b);
    }
}

uint32_t QuarvBufferBlit(QuarvBuffer* b, void* dc, int32_t x, int32_t y, int32_t srcX, int32_t srcY, int32_t width,
                         int32_t height) {
    if (!b) return 0;
    if (b->rectMode == 2 && b->rectCount < b->rectCapacity) {
        b->rectList[b->rectCount++] = DisplayRect{x, y, srcX, srcY, width, height};
        b->rectCursor = b->rectList + b->rectCount;
        b->rectDC = dc;
        return 0;
    }
    b->drawn = 1;
    if (b->fullScreen) {
        if (b->type == 3) return 0;  // the frame is already in display memory
        SendDraw(b);
        return 256;
    }

    DisplayRect one{x, y, srcX, srcY, width, height};
    const DisplayRect* rects = &one;
    uint32_t count = 1;
    const bool whole = b->redrawAll != 0;
    if (whole) {
        one = DisplayRect{0, 0, 0, 0, static_cast<int32_t>(b->width), static_cast<int32_t>(b->height)};
    } else if (b->rectMode == 1) {
        rects = b->rectList;
        count = b->rectCount;
        if (count == 0) return 0;
    }

    if (!b->paletteHandle) MakePalette(b);
    DrawSession session{};
    if (!backend::BeginDraw(b, dc, whole, &session)) return 0;
    if (whole) {
        b->redrawAll = 0;
        b->rectMode = 0;
    }
    bool drewWhole = whole;
    DirectCall direct{};
    direct.gdi = !(b->type == 5 && b->blitter);
    if (!direct.gdi) BeginDirectCall(b, &session, &direct);
    if (direct.whole && !whole) {
        one = DisplayRect{0, 0, 0, 0, static_cast<int32_t>(b->width), static_cast<int32_t>(b->height)};
        rects = &one;
        count = 1;
        drewWhole = true;
    }
    if (!direct.nothing) {
        uint32_t first = 0;
        if (!direct.gdi) {
            for (; first < count; first++) {
                b->rectCursor = b->rectList ? b->rectList + first : nullptr;
                if (!DirectRect(b, &direct, rects[first])) break;
            }
        }
        // Through GDI: the whole call, or what the direct path could not do.
        for (uint32_t i = first; i < count; i++) {
            b->rectCursor = b->rectList ? b->rectList + i : nullptr;
            DrawRect(b, &session, rects[i], i == first);
        }
    }
    if (direct.locked) backend::UnlockSurface(b);
    if (direct.pointerHidden) backend::ShowPointer();
    backend::EndDraw(&session, b);
    return drewWhole ? 256 : 0;
}

void QuarvBufferStartRects(QuarvBuffer* b) {
    if (!b) return;
    if (!b->rectList) {
        b->rectList = static_cast<DisplayRect*>(AlignedAlloc(size_t{b->rectCapacity} * sizeof(DisplayRect)));
        if (!b->rectList) return;  // rectangles then draw at once
    }
    b->rectMode = 2;
    b->rectCount = 0;
    b->rectCursor = b->rectList;
}

void QuarvBufferFlushRects(QuarvBuffer* b) {
    if (!b) return;
    if (b->rectMode == 2) {
        b->rectMode = 1;
        b->rectCursor = b->rectList;
        QuarvBufferBlit(b, b->rectDC, 0, 0, 0, 0, 0, 0);
    }
    b->rectMode = 0;
}

uint32_t QuarvBufferRealize(QuarvBuffer* b) {
    if (!b || b->fullScreen) return 0;
    if (!b->paletteHandle) MakePalette(b);
    return backend::RealizeInWindow(b, b->drawn != 0);
}

void QuarvBufferClear(QuarvBuffer* b, uint32_t colourIndex) {
    if (!b || !b->pixels) return;
    for (uint32_t row = 0; row < b->height; row++)
        memset(b->pixels + size_t{row} * b->pitch, static_cast<uint8_t>(colourIndex), b->width);
}

void QuarvBufferClose(QuarvBuffer* b) {
    if (b) FreeBuffer(b);
}

void QuarvBufferFreeLibraries() { backend::FreeLibraries(); }

void UpdateDisplayPalette(QuarvBuffer* b, const uint8_t colours[768]) {
    if (!b) return;
    b->drawn = 1;
    if (b->paletteSize < 256) return;

    LogicalPaletteEntry entries[256];
    for (uint32_t i = 0; i < 256; i++) {
        entries[i].red = b->palette[i * 4 + 2];
        entries[i].green = b->palette[i * 4 + 1];
        entries[i].blue = b->palette[i * 4];
        entries[i].flags = 0;
    }
    for (uint32_t i = b->paletteStart; i < b->paletteEnd; i++) {
        uint8_t r = colours[i * 3], g = colours[i * 3 + 1], bl = colours[i * 3 + 2];
        // No free colour may equal an upper static colour exactly, or the
        // system would map two indices onto one colour.
        for (uint32_t s = b->paletteEnd; s < 256; s++) {
            const uint8_t* st = b->palette + s * 4;
            if (st[2] == r && st[1] == g && st[0] == bl) r = (r & 3) == 3 ? r - 1 : r + 1;
        }
        entries[i] = LogicalPaletteEntry{r, g, bl, kPaletteNoCollapse};
        b->palette[i * 4] = bl;
        b->palette[i * 4 + 1] = g;
        b->palette[i * 4 + 2] = r;
        b->palette[i * 4 + 3] = 0;
    }
    if (!b->fullScreen) {
        backend::DeletePaletteObject(b);
        backend::CreatePaletteObject(b, entries, b->paletteSize);
        if (b->type == 5) backend::SetDibColours(b, UsesWinG());
    } else {
        // The colours travel in the shared header's slots for this one request.
        DescribeBuffer(b);
        memcpy(header.colours, b->palette, sizeof header.colours);
        backend::SendToDriver(b, b->type == 1 ? kDriverNewColours320x240 : kDriverNewColours320x200, sizeof header,
                              &header);
        SetIdentityColours();
    }
    if (b->screenColours > 256) b->redrawAll = 1;
    if (b->blitter) QuarvBlitSetPalette(b->blitter, b->palette, b->paletteLayout);
}

void ReadScreenPalette(uint8_t colours[768]) { backend::ReadSystemPalette(colours); }
