#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "player/summary.h"

namespace {

std::string Duration(uint32_t ms) {
    char text[64];
    FormatDuration(text, sizeof text, ms);
    return text;
}

std::string Ratio(uint64_t value, uint32_t divisor) {
    char text[64];
    WriteRatio(text, sizeof text, value, divisor);
    return text;
}

std::string Compose(const SummaryFigures& f) {
    char text[kSummaryTextSize];
    size_t n = ComposeSummary(text, sizeof text, f);
    EXPECT_EQ(n, strlen(text));
    return text;
}

// A typical 15 fps movie of 300 frames in 20 seconds.
SummaryFigures Sample() {
    SummaryFigures f{};
    PlaybackSummary& r = f.record;
    r.TotalTime = 20000;
    r.FrameTime = 6666;
    r.OpenTime = 250;
    r.FramesDecoded = 300;
    r.FramesSkipped = 3;
    r.SoundSkips = 1;
    r.CopyTime = 1234;
    r.ReadTime = 800;
    r.DecodeTime = 4567;
    r.BgReadTime = 99;
    r.ReadRate = 150000;
    r.SlowestTime = 80;
    r.SecondSlowestTime = 70;
    r.SlowestFrame = 12;
    r.SecondSlowestFrame = 200;
    r.AverageFrameSize = 5120;
    r.PeakMemUsed = 345678;
    r.BufSize = 65536;
    r.BufHighWater = 40000;
    f.peakRate = 98765;
    f.peakFrame = 31;
    f.screenColours = 16777216;
    strcpy(f.display, "DIBSection");
    return f;
}

}  // namespace

TEST(FormatDuration, PicksTheUnitsAndTheSingular) {
    EXPECT_EQ(Duration(0), "0 milliseconds");
    EXPECT_EQ(Duration(1), "1 millisecond");
    EXPECT_EQ(Duration(999), "999 milliseconds");
    EXPECT_EQ(Duration(1000), "1 second");
    EXPECT_EQ(Duration(1500), "1 second");
    EXPECT_EQ(Duration(2000), "2 seconds");
    EXPECT_EQ(Duration(59999), "59 seconds");
    EXPECT_EQ(Duration(60000), "1 minute 0 seconds");
    EXPECT_EQ(Duration(61000), "1 minute 1 second");
    EXPECT_EQ(Duration(120000), "2 minutes 0 seconds");
    EXPECT_EQ(Duration(3599999), "59 minutes 59 seconds");
    EXPECT_EQ(Duration(3600000), "1 hour 0 minutes");
    EXPECT_EQ(Duration(3660000), "1 hour 1 minute");
    EXPECT_EQ(Duration(7380000), "2 hours 3 minutes");
    EXPECT_EQ(Duration(0xFFFFFFFFu), "1193 hours 2 minutes");
}

TEST(WriteRatio, RoundsDownToOneDecimal) {
    EXPECT_EQ(Ratio(100000, 6666), "15.0");
    EXPECT_EQ(Ratio(300 * 1000, 20000), "15.0");
    EXPECT_EQ(Ratio(301 * 1000, 20000), "15.0");
    EXPECT_EQ(Ratio(319 * 1000, 20000), "15.9");
    EXPECT_EQ(Ratio(4567 * 100, 20000), "22.8");
    EXPECT_EQ(Ratio(1000, 3), "333.3");
    EXPECT_EQ(Ratio(0, 7), "0.0");
}

TEST(WriteRatio, TakesADivisorOfZeroAsOne) {
    EXPECT_EQ(Ratio(5, 0), "5.0");
}

TEST(WriteRatio, DoesNotWrapOnLargeProducts) {
    // 5,000,000 frames x 1000 does not fit 32 bits; the rate must still be right.
    EXPECT_EQ(Ratio(uint64_t{5000000} * 1000, 1000), "5000000.0");
    // value x 10 above 2^32 must not lose the decimal.
    EXPECT_EQ(Ratio(500000005, 10), "50000000.5");
}

TEST(DescribeDisplay, NamesEachType) {
    char text[kDisplayDescriptionSize];
    const char* expected[] = {"Automatic", "Full screen 320x240", "Full screen 320x200",
                              "Full screen 320x200 direct", "Standard Windows DIBs", "DIBSection"};
    for (uint32_t t = 0; t < 6; t++) {
        DescribeDisplayText(text, sizeof text, t, true, nullptr);
        EXPECT_STREQ(text, expected[t]) << "type " << t;
    }
    DescribeDisplayText(text, sizeof text, 5, false, nullptr);
    EXPECT_STREQ(text, "WinG");
    DescribeDisplayText(text, sizeof text, 4, false, nullptr);
    EXPECT_STREQ(text, "Standard Windows DIBs");
}

TEST(DescribeDisplay, AddsTheBlitterMode) {
    char text[kDisplayDescriptionSize];
    DescribeDisplayText(text, sizeof text, 5, true, "8-bit 2x Interlaced using MMX");
    EXPECT_STREQ(text, "DIBSection with accelerated blitting (8-bit 2x Interlaced using MMX)");
}

TEST(DescribeDisplay, StaysInsideASmallBuffer) {
    char text[12];
    memset(text, 'x', sizeof text);
    size_t n = DescribeDisplayText(text, 8, 4, true, nullptr);
    EXPECT_EQ(n, 7u);
    EXPECT_STREQ(text, "Standar");
    EXPECT_EQ(text[8], 'x');
    EXPECT_EQ(DescribeDisplayText(text, 0, 4, true, nullptr), 0u);
    EXPECT_EQ(text[0], 'S');  // a zero-size buffer is not touched
}

TEST(ComposeSummary, WritesEveryLineInOrder) {
    const std::string expected =
        "  Frame rate: 15.0"
        "\r\n  Frame rate obtained: 15.0"
        "\r\n  Total frames played: 300"
        "\r\n  Skipped frames: 3"
        "\r\n  Sound skips: 1"
        "\r\n  Total playback time: 20 seconds"
        "\r\n  Total open time: 250 milliseconds"
        "\r\n\r\n  Average frame size: 5120"
        "\r\n  Highest one second data rate: 98765"
        "\r\n  Highest one second data rate start frame: 31"
        "\r\n  Speed of playback device: 150000"
        "\r\n  Memory used for playback: 345678"
        "\r\n  Total extra buffering memory: 65536"
        "\r\n  Highest extra buffering memory used: 40000"
        "\r\n\n  Percentage spent decompressing: 22.8"
        "\r\n  Percentage spent blitting: 6.1"
        "\r\n  Percentage spent reading: 4.0"
        "\r\n  Percentage spent background reading: 0.4"
        " (when idle)\r\n\n  Slowest frame: 12"
        "  Frame rate: 12.5"
        "\r\n  Second slowest frame: 200"
        "  Frame rate: 14.2"
        "\r\n\r\n  Screen colors: 16777216"
        "\r\n  Display blitter: DIBSection";
    EXPECT_EQ(Compose(Sample()), expected);
}

TEST(ComposeSummary, FastPlaybackAndOneFrame) {
    SummaryFigures f = Sample();
    f.record.FrameTime = 0;
    f.record.FramesDecoded = 1;
    f.record.TotalTime = 0;  // divisor 0 counts as 1
    std::string text = Compose(f);
    EXPECT_EQ(text.rfind("  Frame rate: As fast as possible.\r\n  Frame rate obtained: 1000.0\r\n", 0), 0u);
    EXPECT_EQ(text.find("Second slowest"), std::string::npos);
    EXPECT_NE(text.find("  Slowest frame: 12  Frame rate: 12.5\r\n\r\n  Screen colors: "), std::string::npos);
    EXPECT_NE(text.find("Percentage spent decompressing: 456700.0"), std::string::npos);
}

TEST(ComposeSummary, PlainNumbersAreSigned) {
    SummaryFigures f = Sample();
    f.record.ReadRate = 0xFFFFFFFFu;
    EXPECT_NE(Compose(f).find("\r\n  Speed of playback device: -1\r\n"), std::string::npos);
}

TEST(ComposeSummary, NeverRunsPastItsBuffers) {
    SummaryFigures f = Sample();
    memset(f.display, 'D', sizeof f.display);  // not terminated
    std::string text = Compose(f);
    const std::string tail = "Display blitter: " + std::string(kDisplayDescriptionSize - 1, 'D');
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);

    char small[40];
    memset(small, 'x', sizeof small);
    size_t n = ComposeSummary(small, 32, Sample());
    EXPECT_EQ(n, 31u);
    EXPECT_EQ(std::string(small), std::string("  Frame rate: 15.0\r\n  Frame rate obtained: 15.0").substr(0, 31));
    EXPECT_EQ(small[32], 'x');
}
