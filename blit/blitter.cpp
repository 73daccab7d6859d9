// The Blitter handle: its block, palette copy, lazily rebuilt tables, and
// the exported calls that route rectangles to the kernels.
#include <cstring>
#include <new>

#include "blit/blit.h"
#include "blit/kernels.h"
#include "blit/pixel_io.h"
#include "common/aligned_alloc.h"
#include "common/color_table16.h"
#include "common/cpu.h"

namespace {

void (*g_soundService)() = nullptr;

bool Is16Bit(uint32_t flags) { return (flags & kBlitFormatMask) != 0; }
bool FormatDefined(uint32_t flags) { return (flags & kBlitFormatMask) != kBlitUndefinedFormat; }
bool IsSmoothing(uint32_t mode) { return mode == 3 || mode == 9; }

void ServiceSound() {
    if (g_soundService) g_soundService();
}

// Brings the tables in line with the stored palette and the current mode.
// colorTable16 follows the palette serial and the 16-bit format; the
// SmoothTable also follows the destination depth. The 8-bit SmoothTable is
// the one slow build, so the sound output is serviced on both sides of it.
void UpdateTables(Blitter* b) {
    const BlitDSP& dsp = CurrentBlitDsp();
    const uint32_t format = b->flags & kBlitFormatMask;
    if (b->mode >= 6 && (b->colorTableSerial != b->paletteSerial || b->colorTableFormat != format)) {
        if (format == kBlit565) {
            BuildColorTable565(b->colorTable16, b->palette);
        } else {
            BuildColorTable555(b->colorTable16, b->palette);
        }
        b->colorTableSerial = b->paletteSerial;
        b->colorTableFormat = format;
    }
    if (!IsSmoothing(b->mode)) return;
    const uint32_t depth = b->mode < 6 ? 8 : 16;
    const uint32_t smoothFormat = depth == 16 ? format : 0;
    if (b->smoothDepth == depth && b->smoothSerial == b->paletteSerial && b->smoothFormat == smoothFormat) return;
    ServiceSound();
    if (depth == 8) {
        dsp.buildSmooth8(b->smoothTable, b->palette);
    } else {
        uint16_t* table = reinterpret_cast<uint16_t*>(b->smoothTable);
        if (format == kBlit565) {
            dsp.buildSmooth16_565(table, b->palette);
        } else {
            dsp.buildSmooth16_555(table, b->palette);
        }
    }
    ServiceSound();
    b->smoothSerial = b->paletteSerial;
    b->smoothDepth = depth;
    b->smoothFormat = smoothFormat;
}

const char* const kModeNames[10] = {
    "8-bit 1x",  "8-bit 2x",  "8-bit 2x Interlaced",  "8-bit 2x Smoothing",  nullptr,
    nullptr,     "16-bit 1x", "16-bit 2x",            "16-bit 2x Interlaced", "16-bit 2x Smoothing",
};

// Byte offset of (x, y) with `bytes` per pixel, in a wide type so that large
// pitches cannot overflow 32 bits on a 64-bit build.
inline ptrdiff_t At(int32_t x, int32_t y, int32_t pitch, int bytes) {
    return static_cast<ptrdiff_t>(y) * pitch + static_cast<ptrdiff_t>(x) * bytes;
}

}  // namespace

void SetBlitSoundService(void (*service)()) { g_soundService = service; }

uint32_t BlitMode(uint32_t flags) {
    const uint32_t base = Is16Bit(flags) ? 6 : 0;
    if (flags & kBlitSmooth) return base + 3;
    if (flags & kBlitInterlace) return base + 2;
    if (flags & kBlit2x) return base + 1;
    return base;
}

size_t BlitterBlockSize(uint32_t flags) {
    size_t size = kBlitterHeadSize;
    if (Is16Bit(flags)) size += kColorTable16Size;
    if (Is16Bit(flags) || (flags & kBlitSmooth)) size += kBlitPaletteSize;
    if (flags & kBlitSmooth) size += kSmoothTableSize;
    return size;
}

extern "C" {

Blitter* QUARV_API QuarvBlitOpen(uint32_t flags) {
    if (!FormatDefined(flags)) return nullptr;
    const size_t size = BlitterBlockSize(flags);
    auto* block = static_cast<uint8_t*>(AlignedAlloc(size));
    if (!block) return nullptr;
    std::memset(block, 0, size);
    Blitter* b = new (block) Blitter{};
    size_t offset = kBlitterHeadSize;
    if (Is16Bit(flags)) {
        b->colorTable16 = reinterpret_cast<uint16_t*>(block + offset);
        offset += kColorTable16Size;
    }
    if (Is16Bit(flags) || (flags & kBlitSmooth)) {
        b->palette = block + offset;
        offset += kBlitPaletteSize;
    }
    if (flags & kBlitSmooth) b->smoothTable = block + offset;
    b->flags = flags;
    b->mode = BlitMode(flags);
    b->firstPalette = 1;
    // The zeroed colorTable16 already is the table of the zeroed palette.
    b->colorTableFormat = flags & kBlitFormatMask;
    return b;
}

void QUARV_API QuarvBlitSetPalette(Blitter* b, const void* palette, uint32_t layout) {
    if (!b || !b->palette || !palette) return;
    size_t red = 0, green = 1, blue = 2, entry = 3;
    if (layout & kPaletteFourBytes) {
        entry = 4;
        if (layout & kPaletteSkipFirst) red = 1, green = 2, blue = 3;
    }
    if (layout & kPaletteBlueFirst) {
        const size_t t = red;
        red = blue;
        blue = t;
    }
    if (layout & kPaletteWords) red *= 2, green *= 2, blue *= 2, entry *= 2;
    const auto* in = static_cast<const uint8_t*>(palette);
    uint8_t colours[kBlitPaletteSize];
    for (size_t i = 0; i < 256; ++i, in += entry) {
        colours[3 * i] = in[red];
        colours[3 * i + 1] = in[green];
        colours[3 * i + 2] = in[blue];
    }
    if (!b->firstPalette && std::memcmp(colours, b->palette, kBlitPaletteSize) == 0) return;
    ++b->paletteSerial;
    std::memcpy(b->palette, colours, kBlitPaletteSize);
    UpdateTables(b);
    b->firstPalette = 0;
}

uint32_t QUARV_API QuarvBlitSetFlags(Blitter* b, uint32_t flags) {
    if (!b || !FormatDefined(flags)) return 0;
    if (Is16Bit(flags) && !b->colorTable16) return 0;
    if ((flags & kBlitSmooth) && !b->smoothTable) return 0;
    b->mode = BlitMode(flags);
    b->flags = flags;
    UpdateTables(b);
    return 1;
}

char* QUARV_API QuarvBlitString(Blitter* b, char* text) {
    if (!text) return text;
    text[0] = 0;
    if (!b || b->mode >= 10 || !kModeNames[b->mode]) return text;
    std::strcpy(text, kModeNames[b->mode]);
    const uint32_t m = b->mode;
    if ((m == 1 || m == 2 || m == 7 || m == 8) && QuarvUseMMX(2)) std::strcat(text, " using MMX");
    return text;
}

void QUARV_API QuarvBlit(Blitter* b, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY, const void* src,
                         int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width, int32_t height) {
    if (!b || !dst || !src || width <= 0 || height <= 0) return;
    const BlitDSP& dsp = CurrentBlitDsp();
    auto* d = static_cast<uint8_t*>(dst);
    const uint8_t* s = static_cast<const uint8_t*>(src) + At(srcX, srcY, srcPitch, 1);
    const ptrdiff_t dp = dstPitch, sp = srcPitch, w = width;
    switch (b->mode) {
        case 0: dsp.copy8(d + At(dstX, dstY, dstPitch, 1), dp - w, s, sp - w, width, height); break;
        case 1: dsp.double8(d + 2 * At(dstX, dstY, dstPitch, 1), dp, s, sp - w, width, height); break;
        case 2: dsp.interlace8(d + 2 * At(dstX, dstY, dstPitch, 1), 2 * (dp - w), s, sp - w, width, height); break;
        case 3: dsp.smooth8(d + 2 * At(dstX, dstY, dstPitch, 1), dp, s, sp, width, height, b->smoothTable); break;
        case 6:
            dsp.lookup16(d + At(dstX, dstY, dstPitch, 2), dp - 2 * w, s, sp - w, width, height, b->colorTable16);
            break;
        case 7:
            dsp.double16(d + 2 * At(dstX, dstY, dstPitch, 2), dp, s, sp - w, width, height, b->colorTable16);
            break;
        case 8:
            dsp.interlace16(d + 2 * At(dstX, dstY, dstPitch, 2), 2 * (dp - 2 * w), s, sp - w, width, height,
                            b->colorTable16);
            break;
        case 9:
            dsp.smooth16(d + 2 * At(dstX, dstY, dstPitch, 2), dp, s, sp, width, height,
                         reinterpret_cast<const uint16_t*>(b->smoothTable));
            break;
        default: break;
    }
}

void QUARV_API QuarvBlitTrans(Blitter* b, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY, const void* src,
                              int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width, int32_t height,
                              uint32_t transparent) {
    if (!b || b->mode != 0 || !dst || !src || width <= 0 || height <= 0) return;
    const ptrdiff_t w = width;
    CurrentBlitDsp().trans8(static_cast<uint8_t*>(dst) + At(dstX, dstY, dstPitch, 1), dstPitch - w,
                            static_cast<const uint8_t*>(src) + At(srcX, srcY, srcPitch, 1), srcPitch - w, width,
                            height, transparent);
}

void QUARV_API QuarvBlitMask(Blitter* b, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY, const void* src,
                             int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width, int32_t height,
                             uint32_t transparent, const void* mask) {
    if (!b || b->mode != 0 || !dst || !src || !mask || width <= 0 || height <= 0) return;
    const ptrdiff_t w = width, at = At(srcX, srcY, srcPitch, 1);
    CurrentBlitDsp().mask8(static_cast<uint8_t*>(dst) + At(dstX, dstY, dstPitch, 1), dstPitch - w,
                           static_cast<const uint8_t*>(src) + at, srcPitch - w, width, height, transparent,
                           static_cast<const uint8_t*>(mask) + at);
}

void QUARV_API QuarvBlitMerge(Blitter* b, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY, const void* src,
                              int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width, int32_t height,
                              uint32_t transparent, const void* other) {
    if (!b || b->mode != 0 || !dst || !src || !other || width <= 0 || height <= 0) return;
    const ptrdiff_t w = width, at = At(srcX, srcY, srcPitch, 1);
    CurrentBlitDsp().merge8(static_cast<uint8_t*>(dst) + At(dstX, dstY, dstPitch, 1), dstPitch - w,
                            static_cast<const uint8_t*>(src) + at, srcPitch - w, width, height, transparent,
                            static_cast<const uint8_t*>(other) + at);
}

void QUARV_API QuarvBlitClear(Blitter* b, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY, int32_t width,
                              int32_t height, int32_t colour) {
    if (!b || !dst || width <= 0 || height <= 0) return;
    const bool wide = b->mode >= 6;
    uint32_t pixel;
    if (colour < 0) {
        pixel = 0u - static_cast<uint32_t>(colour);  // the raw pixel value
    } else if (wide) {
        // A palette index: only its low byte can name one of the 256 entries.
        pixel = b->colorTable16 ? b->colorTable16[colour & 0xFF] : 0;
    } else {
        pixel = static_cast<uint32_t>(colour);
    }
    auto* row = static_cast<uint8_t*>(dst) + At(dstX, dstY, dstPitch, wide ? 2 : 1);
    for (int32_t y = 0; y < height; ++y, row += dstPitch) {
        if (!wide) {
            std::memset(row, static_cast<int>(pixel & 0xFF), static_cast<size_t>(width));
            continue;
        }
        for (int32_t x = 0; x < width; ++x) blit_io::Store16(row + 2 * x, pixel);
    }
}

void QUARV_API QuarvBlitClose(Blitter* b) { AlignedFree(b); }

}  // extern "C"
