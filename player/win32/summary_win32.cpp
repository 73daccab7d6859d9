// The summary box, and the display description it ends with.
#include "blit/blit.h"
#include "common/aligned_alloc.h"
#include "display/display.h"
#include "player/message_box.h"
#include "player/summary.h"

void DescribeDisplay(const QuarvBuffer* display, char* text, size_t size) {
    char blitMode[64];
    const char* mode = nullptr;
    // Only a blitter that has drawn straight to the screen counts.
    if (display->blitter && display->screenRectKnown) mode = QuarvBlitString(display->blitter, blitMode);
    DescribeDisplayText(text, size, display->type, DisplayHasDibSections(), mode);
}

void ShowSummary() {
    const SummaryFigures& figures = SummaryData();
    if (figures.record.FramesDecoded == 0) return;
    auto* text = static_cast<char*>(AlignedAlloc(kSummaryTextSize));
    if (!text) return;
    ComposeSummary(text, kSummaryTextSize, figures);
    ShowMessage("Quarvel Summary", text, nullptr, nullptr, 0);
    AlignedFree(text);
}
