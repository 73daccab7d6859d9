// Rectangles between two graphics buffers, either of which may store its
// picture bottom-up. The destination is walked in memory order; the source
// row and direction are chosen so that the picture arrives upright.
//
// These calls are exported, so the records may come from other programs.
// Unlike QuarvBlit they know both buffers' sizes, and a rectangle that does
// not lie inside both (or a negative size) is refused rather than copied
// outside the pixels.
#include "blit/blit.h"
#include "blit/kernels.h"
#include "display/display.h"

namespace {

struct CopyPlan {
    uint8_t* dst;
    ptrdiff_t dstStep;
    ptrdiff_t srcOffset;  // of the first source pixel, also used for the mask/other buffer
    ptrdiff_t srcStep;
    int64_t lowestRow, highestRow;  // source memory rows touched
};

bool Inside(const QuarvBuffer* b, int32_t x, int32_t y, int32_t width, int32_t height) {
    return b->pixels && x >= 0 && y >= 0 && static_cast<int64_t>(x) + width <= b->pitch &&
           static_cast<int64_t>(y) + height <= b->height;
}

bool Plan(QuarvBuffer* dest, int32_t destX, int32_t destY, const QuarvBuffer* src, int32_t srcX, int32_t srcY,
          int32_t width, int32_t height, CopyPlan* plan) {
    if (!dest || !src || width <= 0 || height <= 0) return false;
    if (!Inside(dest, destX, destY, width, height) || !Inside(src, srcX, srcY, width, height)) return false;
    const int64_t destRows = dest->height, srcRows = src->height, h = height;
    const int64_t destPitch = dest->pitch, srcPitch = src->pitch;
    const int64_t destRow = dest->bottomUp ? destRows - destY - h : destY;
    int64_t srcRow, srcStep;
    if (!dest->bottomUp) {
        srcRow = src->bottomUp ? srcRows - srcY - 1 : srcY;
        srcStep = src->bottomUp ? -srcPitch : srcPitch;
    } else {
        srcRow = src->bottomUp ? srcRows - h - srcY : srcY + h - 1;
        srcStep = src->bottomUp ? srcPitch : -srcPitch;
    }
    plan->dst = dest->pixels + destRow * destPitch + destX;
    plan->dstStep = static_cast<ptrdiff_t>(destPitch - width);
    plan->srcOffset = static_cast<ptrdiff_t>(srcRow * srcPitch + srcX);
    plan->srcStep = static_cast<ptrdiff_t>(srcStep - width);
    const int64_t lastRow = srcRow + (srcStep > 0 ? h - 1 : 1 - h);
    plan->lowestRow = srcRow < lastRow ? srcRow : lastRow;
    plan->highestRow = srcRow < lastRow ? lastRow : srcRow;
    return true;
}

// The mask or other buffer is read at the source's memory positions, so it
// must share the source's orientation and pitch and hold every row read.
bool SecondFits(const QuarvBuffer* second, const QuarvBuffer* src, const CopyPlan& plan) {
    return second && second->pixels && (second->bottomUp != 0) == (src->bottomUp != 0) &&
           second->pitch == src->pitch && plan.highestRow < second->height;
}

}  // namespace

extern "C" {

void QUARV_API QuarvBufferToBuffer(QuarvBuffer* destBuf, int32_t destX, int32_t destY, const QuarvBuffer* srcBuf,
                                   int32_t srcX, int32_t srcY, int32_t width, int32_t height) {
    CopyPlan p;
    if (!Plan(destBuf, destX, destY, srcBuf, srcX, srcY, width, height, &p)) return;
    CurrentBlitDsp().copy8(p.dst, p.dstStep, srcBuf->pixels + p.srcOffset, p.srcStep, width, height);
}

void QUARV_API QuarvBufferToBufferTrans(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                        const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, uint32_t transparent) {
    CopyPlan p;
    if (!Plan(destBuf, destX, destY, srcBuf, srcX, srcY, width, height, &p)) return;
    CurrentBlitDsp().trans8(p.dst, p.dstStep, srcBuf->pixels + p.srcOffset, p.srcStep, width, height, transparent);
}

void QUARV_API QuarvBufferToBufferMask(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                       const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                       int32_t height, uint32_t transparent, const QuarvBuffer* maskBuf) {
    CopyPlan p;
    if (!Plan(destBuf, destX, destY, srcBuf, srcX, srcY, width, height, &p)) return;
    if (!SecondFits(maskBuf, srcBuf, p)) return;
    CurrentBlitDsp().mask8(p.dst, p.dstStep, srcBuf->pixels + p.srcOffset, p.srcStep, width, height, transparent,
                           maskBuf->pixels + p.srcOffset);
}

void QUARV_API QuarvBufferToBufferMerge(QuarvBuffer* destBuf, int32_t destX, int32_t destY,
                                        const QuarvBuffer* srcBuf, int32_t srcX, int32_t srcY, int32_t width,
                                        int32_t height, uint32_t transparent, const QuarvBuffer* otherBuf) {
    CopyPlan p;
    if (!Plan(destBuf, destX, destY, srcBuf, srcX, srcY, width, height, &p)) return;
    if (!SecondFits(otherBuf, srcBuf, p)) return;
    CurrentBlitDsp().merge8(p.dst, p.dstStep, srcBuf->pixels + p.srcOffset, p.srcStep, width, height, transparent,
                            otherBuf->pixels + p.srcOffset);
}

}  // extern "C"
