// The blitter as other programs call it: the functions behind the exported
// names of quarvplay.def. A program that loads the player with LoadLibrary
// gets an image its loader left half-prepared, so each export first has it
// repaired (image_repair_win32.cpp) and only then runs the blitter. Should
// the image be beyond repair, the calls do nothing and report failure.
#include "blit/blit.h"
#include "player/win32/image_repair_win32.h"

extern "C" {

Blitter* QUARV_API ExportBlitOpen(uint32_t flags) { return ImageReady() ? QuarvBlitOpen(flags) : nullptr; }

void QUARV_API ExportBlitSetPalette(Blitter* blitter, const void* palette, uint32_t layout) {
    if (ImageReady()) QuarvBlitSetPalette(blitter, palette, layout);
}

uint32_t QUARV_API ExportBlitSetFlags(Blitter* blitter, uint32_t flags) {
    return ImageReady() ? QuarvBlitSetFlags(blitter, flags) : 0;
}

char* QUARV_API ExportBlitString(Blitter* blitter, char* text) {
    if (ImageReady()) return QuarvBlitString(blitter, text);
    if (text) text[0] = 0;
    return text;
}

void QUARV_API ExportBlit(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY, const void* src,
                          int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width, int32_t height) {
    if (ImageReady()) QuarvBlit(blitter, dst, dstPitch, dstX, dstY, src, srcPitch, srcX, srcY, width, height);
}

void QUARV_API ExportBlitTrans(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                               const void* src, int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width,
                               int32_t height, uint32_t transparent) {
    if (ImageReady())
        QuarvBlitTrans(blitter, dst, dstPitch, dstX, dstY, src, srcPitch, srcX, srcY, width, height, transparent);
}

void QUARV_API ExportBlitMask(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                              const void* src, int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width,
                              int32_t height, uint32_t transparent, const void* mask) {
    if (ImageReady())
        QuarvBlitMask(blitter, dst, dstPitch, dstX, dstY, src, srcPitch, srcX, srcY, width, height, transparent,
                      mask);
}

void QUARV_API ExportBlitMerge(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                               const void* src, int32_t srcPitch, int32_t srcX, int32_t srcY, int32_t width,
                               int32_t height, uint32_t transparent, const void* other) {
    if (ImageReady())
        QuarvBlitMerge(blitter, dst, dstPitch, dstX, dstY, src, srcPitch, srcX, srcY, width, height, transparent,
                       other);
}

void QUARV_API ExportBlitClear(Blitter* blitter, void* dst, int32_t dstPitch, int32_t dstX, int32_t dstY,
                               int32_t width, int32_t height, int32_t colour) {
    if (ImageReady()) QuarvBlitClear(blitter, dst, dstPitch, dstX, dstY, width, height, colour);
}

void QUARV_API ExportBlitClose(Blitter* blitter) {
    if (ImageReady()) QuarvBlitClose(blitter);
}

void QUARV_API ExportBufferToBuffer(QuarvBuffer* destBuf, int32_t destX, int32_t destY, const QuarvBuffer* srcBuf,
                                    int32_t srcX, int32_t srcY, int32_t width, int32_t height) {
    if (ImageReady()) QuarvBufferToBuffer(destBuf, destX, destY, srcBuf, srcX, srcY, width, height);
}

void QUARV_API ExportBufferToBufferTrans(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                         const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                         int32_t height, uint32_t transparent) {
    if (ImageReady())
        QuarvBufferToBufferTrans(destBuf, destX, destY, srcBuf, srcX, srcY, width, height, transparent);
}

void QUARV_API ExportBufferToBufferMask(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                        const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, uint32_t transparent, const QuarvBuffer* maskBuf) {
    if (ImageReady())
        QuarvBufferToBufferMask(destBuf, destX, destY, srcBuf, srcX, srcY, width, height, transparent, maskBuf);
}

void QUARV_API ExportBufferToBufferMerge(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                         const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                         int32_t height, uint32_t transparent, const QuarvBuffer* otherBuf) {
    if (ImageReady())
        QuarvBufferToBufferMerge(destBuf, destX, destY, srcBuf, srcX, srcY, width, height, transparent, otherBuf);
}

}  // extern "C"
