// The playback summary: the statistics box shown at the end under /S.
// Composing the text is portable; ShowSummary puts it in a message box.
#pragma once
#include <cstddef>
#include <cstdint>

#include "movie/movie.h"

struct QuarvBuffer;

constexpr size_t kSummaryTextSize = 2048;
constexpr size_t kDisplayDescriptionSize = 128;

// What the report is made of. The playback loop fills the record and the
// peak figures after each movie; closing the player window fills the
// display description and the screen colours.
struct SummaryFigures {
    PlaybackSummary record;
    uint32_t peakRate;
    uint32_t peakFrame;
    uint32_t screenColours;
    char display[kDisplayDescriptionSize];
};

// The process's one set of figures (zeroed at start).
SummaryFigures& SummaryData();

// Writers. Each writes a zero-terminated text into text[0..size-1], cut
// short when it would not fit, and returns the length written.
//
// A duration in hours and minutes, minutes and seconds, seconds, or
// milliseconds, singular where the number is 1.
size_t FormatDuration(char* text, size_t size, uint32_t ms);
// value / divisor rounded down to one decimal ("15.0"); a divisor of 0
// counts as 1. The value is 64-bit so that products like frames x 1000 do
// not wrap.
size_t WriteRatio(char* text, size_t size, uint64_t value, uint32_t divisor);
// The display's name by type ("DIBSection" instead of "WinG" when the
// system has DIB sections), followed by the blitter's mode in
// " with accelerated blitting (...)" when blitMode is not null.
size_t DescribeDisplayText(char* text, size_t size, uint32_t type, bool dibSections, const char* blitMode);

// The description of an open display for the summary. Win32 only.
void DescribeDisplay(const QuarvBuffer* display, char* text, size_t size);

// The whole report text.
size_t ComposeSummary(char* text, size_t size, const SummaryFigures& figures);

// Shows the report in the "Quarvel Summary" box; nothing when no frame was
// decoded. Win32 only.
void ShowSummary();
