#include "player/summary.h"

#include <cstring>

namespace {

// Appends to a fixed buffer, always leaving it zero-terminated; text that
// does not fit is dropped.
class TextOut {
public:
    // end_ is the place of the terminator; null for a buffer of size 0.
    TextOut(char* text, size_t size) : start_(text), pos_(text), end_(size ? text + size - 1 : nullptr) {
        if (end_) *pos_ = 0;
    }
    TextOut& Put(const char* s) {
        if (!end_) return *this;
        while (*s && pos_ < end_) *pos_++ = *s++;
        *pos_ = 0;
        return *this;
    }
    TextOut& Unsigned(uint64_t v) {
        char digits[24];
        int n = 0;
        do {
            digits[n++] = static_cast<char>('0' + v % 10);
            v /= 10;
        } while (v);
        char s[24];
        for (int i = 0; i < n; i++) s[i] = digits[n - 1 - i];
        s[n] = 0;
        return Put(s);
    }
    // Plain numbers are written signed, as 32-bit values.
    TextOut& Signed(uint32_t v) {
        int32_t s = static_cast<int32_t>(v);
        if (s < 0) {
            Put("-");
            return Unsigned(static_cast<uint64_t>(-static_cast<int64_t>(s)));
        }
        return Unsigned(static_cast<uint64_t>(s));
    }
    TextOut& Ratio(uint64_t value, uint32_t divisor) {
        const uint64_t d = divisor ? divisor : 1;
        Unsigned(value / d);
        Put(".");
        // value * 10 cannot wrap: value is at most 2^32 * 1000.
        return Unsigned((value * 10 / d) % 10);
    }
    TextOut& Duration(uint32_t ms) {
        if (ms < 1000) {
            Unsigned(ms).Put(" millisecond").Put(ms == 1 ? "" : "s");
        } else if (ms < 60000) {
            const uint32_t s = ms / 1000;
            Unsigned(s).Put(" second").Put(s == 1 ? "" : "s");
        } else if (ms < 3600000) {
            const uint32_t m = ms / 60000, s = ms % 60000 / 1000;
            Unsigned(m).Put(" minute").Put(m == 1 ? " " : "s ");
            Unsigned(s).Put(" second").Put(s == 1 ? "" : "s");
        } else {
            const uint32_t h = ms / 3600000, m = ms % 3600000 / 60000;
            Unsigned(h).Put(" hour").Put(h == 1 ? " " : "s ");
            Unsigned(m).Put(" minute").Put(m == 1 ? "" : "s");
        }
        return *this;
    }
    size_t Length() const { return static_cast<size_t>(pos_ - start_); }

private:
    char* start_;
    char* pos_;
    char* end_;
};

const char* TypeName(uint32_t type, bool dibSections) {
    switch (type) {
        case 0: return "Automatic";
        case 1: return "Full screen 320x240";
        case 2: return "Full screen 320x200";
        case 3: return "Full screen 320x200 direct";
        case 4: return "Standard Windows DIBs";
        case 5: return dibSections ? "DIBSection" : "WinG";
        default: return "";
    }
}

}  // namespace

SummaryFigures& SummaryData() {
    static SummaryFigures figures;
    return figures;
}

size_t FormatDuration(char* text, size_t size, uint32_t ms) {
    return TextOut(text, size).Duration(ms).Length();
}

size_t WriteRatio(char* text, size_t size, uint64_t value, uint32_t divisor) {
    return TextOut(text, size).Ratio(value, divisor).Length();
}

size_t DescribeDisplayText(char* text, size_t size, uint32_t type, bool dibSections, const char* blitMode) {
    TextOut out(text, size);
    out.Put(TypeName(type, dibSections));
    if (blitMode) out.Put(" with accelerated blitting (").Put(blitMode).Put(")");
    return out.Length();
}

size_t ComposeSummary(char* text, size_t size, const SummaryFigures& f) {
    const PlaybackSummary& r = f.record;
    TextOut out(text, size);
    out.Put("  Frame rate: ");
    if (r.FrameTime == 0)
        out.Put("As fast as possible.");
    else
        out.Ratio(100000, r.FrameTime);
    out.Put("\r\n  Frame rate obtained: ").Ratio(uint64_t{r.FramesDecoded} * 1000, r.TotalTime);
    out.Put("\r\n  Total frames played: ").Signed(r.FramesDecoded);
    out.Put("\r\n  Skipped frames: ").Signed(r.FramesSkipped);
    out.Put("\r\n  Sound skips: ").Signed(r.SoundSkips);
    out.Put("\r\n  Total playback time: ").Duration(r.TotalTime);
    out.Put("\r\n  Total open time: ").Duration(r.OpenTime);
    out.Put("\r\n\r\n  Average frame size: ").Signed(r.AverageFrameSize);
    out.Put("\r\n  Highest one second data rate: ").Signed(f.peakRate);
    out.Put("\r\n  Highest one second data rate start frame: ").Signed(f.peakFrame);
    out.Put("\r\n  Speed of playback device: ").Signed(r.ReadRate);
    out.Put("\r\n  Memory used for playback: ").Signed(r.PeakMemUsed);
    out.Put("\r\n  Total extra buffering memory: ").Signed(r.BufSize);
    out.Put("\r\n  Highest extra buffering memory used: ").Signed(r.BufHighWater);
    out.Put("\r\n\n  Percentage spent decompressing: ").Ratio(uint64_t{r.DecodeTime} * 100, r.TotalTime);
    out.Put("\r\n  Percentage spent blitting: ").Ratio(uint64_t{r.CopyTime} * 100, r.TotalTime);
    out.Put("\r\n  Percentage spent reading: ").Ratio(uint64_t{r.ReadTime} * 100, r.TotalTime);
    out.Put("\r\n  Percentage spent background reading: ").Ratio(uint64_t{r.BgReadTime} * 100, r.TotalTime);
    out.Put(" (when idle)\r\n\n  Slowest frame: ").Signed(r.SlowestFrame);
    out.Put("  Frame rate: ").Ratio(1000, r.SlowestTime);
    if (r.FramesDecoded > 1) {
        out.Put("\r\n  Second slowest frame: ").Signed(r.SecondSlowestFrame);
        out.Put("  Frame rate: ").Ratio(1000, r.SecondSlowestTime);
    }
    out.Put("\r\n\r\n  Screen colors: ").Signed(f.screenColours);
    // The description is a fixed buffer filled elsewhere: never read past it.
    char display[kDisplayDescriptionSize];
    memcpy(display, f.display, sizeof display);
    display[sizeof display - 1] = 0;
    out.Put("\r\n  Display blitter: ").Put(display);
    return out.Length();
}
