// Switch parsing: forms, case, repeats, removal and the value rules of each switch.
#include <gtest/gtest.h>

#include <string>

#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/settings.h"

namespace {

int g_usage_boxes = 0;
int g_directsound_calls = 0;
bool g_directsound_result = false;

void CountUsage() { ++g_usage_boxes; }
bool FakeDirectSound() {
    ++g_directsound_calls;
    return g_directsound_result;
}

class Switches : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPlayerSettings();
        UsageHook = CountUsage;
        UseDirectSoundHook = FakeDirectSound;
        g_usage_boxes = 0;
        g_directsound_calls = 0;
        g_directsound_result = false;
    }
    void TearDown() override {
        UsageHook = nullptr;
        UseDirectSoundHook = nullptr;
        ResetPlayerSettings();
    }
    // Parses a copy of `input`; the text left over is in `rest`.
    bool Parse(const std::string& input) {
        char buffer[512];
        EXPECT_LT(input.size(), sizeof buffer);
        input.copy(buffer, input.size());
        buffer[input.size()] = '\0';
        bool ok = ParseSwitches(buffer);
        rest = buffer;
        return ok;
    }
    std::string rest;
    PlayerSettings& s = Settings;
};

constexpr uint32_t kTrackBits = 0xFE000;
constexpr uint32_t kScalingBits = 0x300000;

TEST_F(Switches, NoSwitchesKeepsTheInitialValues) {
    ASSERT_TRUE(Parse("clip"));
    EXPECT_EQ(rest, "clip");
    EXPECT_EQ(s.WindowX, -1);
    EXPECT_EQ(s.WindowY, -1);
    EXPECT_EQ(s.OpenFlags, 0xFE000u);  // all seven tracks, no rate override
    EXPECT_EQ(s.DisplayFlags, 0u);
    EXPECT_EQ(s.LoopCount, 1u);
    EXPECT_EQ(s.FrameRate, -1);
    EXPECT_EQ(s.SimulatedRate, 0u);
    EXPECT_EQ(s.ExtraBuffer, 0xFFFFFFFFu);
    EXPECT_EQ(s.DisabledControls, 0u);
    EXPECT_EQ(s.StretchWidth, 0);
    EXPECT_EQ(s.StretchHeight, 0);
    EXPECT_EQ(s.DisplayMode, 0);
    EXPECT_EQ(s.RemapOption, 0);
    EXPECT_FALSE(s.ShowSummary || s.DifferencesOnly || s.FrameInCaption || s.SoundOnly ||
                 s.KeepPlayingUnfocused || s.UseDirectSound || s.NoMmx);
    EXPECT_EQ(g_usage_boxes, 0);
}

TEST_F(Switches, LetterCaseDoesNotMatter) {
    ASSERT_TRUE(Parse("/x10 /y-20 /s /k a"));
    EXPECT_EQ(s.WindowX, 10);
    EXPECT_EQ(s.WindowY, -20);
    EXPECT_TRUE(s.ShowSummary);
    EXPECT_TRUE(s.DifferencesOnly);
    EXPECT_EQ(rest, "a");
}

TEST_F(Switches, RepeatedLetterFailsWithTheUsageBox) {
    EXPECT_FALSE(Parse("/X10 /X20 a"));
    EXPECT_EQ(g_usage_boxes, 1);
    EXPECT_EQ(s.WindowX, 10);  // the first one was still taken
    SetUp();
    EXPECT_FALSE(Parse("/x10 /X20 a"));
    EXPECT_EQ(g_usage_boxes, 1);
    SetUp();
    EXPECT_FALSE(Parse("/S a /s"));
    EXPECT_EQ(g_usage_boxes, 1);
}

TEST_F(Switches, LeftoverSlashesFail) {
    for (const char* bad : {"/X a", "/X- a", "/Xa a", "/Y", "/Sx a", "/Ya", "/! a", "dir/clip.qvl", "/", "/1 a", "/9"}) {
        SetUp();
        EXPECT_FALSE(Parse(bad)) << bad;
        EXPECT_EQ(g_usage_boxes, 1) << bad;
    }
}

TEST_F(Switches, NumberFormIsFoundPastOccurrencesWithoutDigits) {
    // The first /X has no digits and is passed over; the second is taken, the
    // first stays and fails the parse.
    EXPECT_FALSE(Parse("/X /X7 a"));
    EXPECT_EQ(s.WindowX, 7);
    EXPECT_EQ(rest, "/X  a");
}

TEST_F(Switches, RemovalTakesSlashLetterSignAndDigitsButNoBlanks) {
    ASSERT_TRUE(Parse("a /X-12 b /S c"));
    EXPECT_EQ(rest, "a  b  c");
    ASSERT_TRUE(Parse("a/Y5b"));
    EXPECT_EQ(rest, "ab");
    EXPECT_EQ(s.WindowY, 5);
}

TEST_F(Switches, FlagFormNeedsABlankEndOrByteBelowZeroAfterIt) {
    ASSERT_TRUE(Parse("/S/P/N,a"));
    EXPECT_TRUE(s.ShowSummary);
    EXPECT_TRUE(s.OpenFlags & OPEN_PRELOAD);
    EXPECT_TRUE(s.OpenFlags & OPEN_NEVER_SKIP);
    EXPECT_EQ(rest, ",a");
    SetUp();
    ASSERT_TRUE(Parse("/K.x /Q-y"));
    EXPECT_EQ(rest, ".x -y");
    // Bytes 0x80..0xFF are blanks too.
    SetUp();
    ASSERT_TRUE(Parse("a/J\xA0z"));
    EXPECT_TRUE(s.KeepPlayingUnfocused);
    EXPECT_EQ(rest, "a\xA0z");
    // A letter or digit after it makes it no flag.
    SetUp();
    EXPECT_FALSE(Parse("/Jz"));
    EXPECT_FALSE(s.KeepPlayingUnfocused);
}

TEST_F(Switches, SwitchesAreTakenInTheirFixedOrder) {
    // Removing /X3 (taken before /S) brings "/" and "S" together.
    ASSERT_TRUE(Parse("//X3S a"));
    EXPECT_EQ(s.WindowX, 3);
    EXPECT_TRUE(s.ShowSummary);
    // /P comes after /L: removing /L5 makes "/P".
    SetUp();
    ASSERT_TRUE(Parse("//L5P a"));
    EXPECT_EQ(s.LoopCount, 5u);
    EXPECT_TRUE(s.OpenFlags & OPEN_PRELOAD);
    // /X is taken before /D, so the /X inside cannot appear later.
    SetUp();
    EXPECT_FALSE(Parse("//D2X3 a"));
    EXPECT_EQ(s.DisplayMode, 2);
    EXPECT_EQ(s.WindowX, -1);
}

TEST_F(Switches, TextIsTrimmedOfBlanks) {
    ASSERT_TRUE(Parse("  \t\xFF a b \x81 "));
    EXPECT_EQ(rest, "a b");
    ASSERT_TRUE(Parse("/S   "));
    EXPECT_EQ(rest, "");
}

TEST_F(Switches, LoopCount) {
    ASSERT_TRUE(Parse("/L0 a"));
    EXPECT_EQ(s.LoopCount, 1u);  // zero is ignored
    ASSERT_TRUE(Parse("/L3 a"));
    EXPECT_EQ(s.LoopCount, 3u);
    ASSERT_TRUE(Parse("/L a"));
    EXPECT_EQ(s.LoopCount, 0xFFFFFFFFu);
    SetUp();
    ASSERT_TRUE(Parse("/L-2 a"));
    EXPECT_EQ(s.LoopCount, 0xFFFFFFFEu);
    // Number and flag forms are separate: both are taken, the flag last.
    SetUp();
    ASSERT_TRUE(Parse("/L4 /L a"));
    EXPECT_EQ(s.LoopCount, 0xFFFFFFFFu);
}

TEST_F(Switches, FrameRate) {
    struct Case {
        const char* text;
        int32_t rate;
        bool override_set;
    } cases[] = {
        {"/F25 a", 25, true},        {"/F-40 a", -4000, true},    {"/F a", 0, true},
        {"/F0 a", 0, true},          {"/F-1 a", -1, false},       {"/F-2 a", -200, true},
        {"/F-1500 a", -150000, true}, {"/F-1501 a", -1501, true}, {"/F-3000 a", -3000, true},
        {"/F25 /F a", 0, true},      {"a", -1, false},
    };
    for (const Case& c : cases) {
        SetUp();
        ASSERT_TRUE(Parse(c.text)) << c.text;
        EXPECT_EQ(s.FrameRate, c.rate) << c.text;
        EXPECT_EQ((s.OpenFlags & OPEN_RATE_OVERRIDE) != 0, c.override_set) << c.text;
    }
    // The override, once set, stays even when a later parse sets -1.
    SetUp();
    ASSERT_TRUE(Parse("/F10 a"));
    ASSERT_TRUE(Parse("/F-1 a"));
    EXPECT_EQ(s.FrameRate, -1);
    EXPECT_TRUE(s.OpenFlags & OPEN_RATE_OVERRIDE);
}

TEST_F(Switches, TrackMaskReplacesTheSevenTrackBits) {
    s.OpenFlags |= OPEN_PRELOAD;
    ASSERT_TRUE(Parse("/T5 a"));
    EXPECT_EQ(s.OpenFlags & kTrackBits, uint32_t(OPEN_TRACK0 | OPEN_TRACK2));
    EXPECT_TRUE(s.OpenFlags & OPEN_PRELOAD);
    ASSERT_TRUE(Parse("/T0 a"));
    EXPECT_EQ(s.OpenFlags & kTrackBits, 0u);
    ASSERT_TRUE(Parse("/T255 a"));
    EXPECT_EQ(s.OpenFlags & kTrackBits, kTrackBits);
    ASSERT_TRUE(Parse("/T128 a"));  // bits above 6 are ignored
    EXPECT_EQ(s.OpenFlags & kTrackBits, 0u);
    ASSERT_TRUE(Parse("/T64 a"));
    EXPECT_EQ(s.OpenFlags & kTrackBits, uint32_t(OPEN_TRACK6));
    EXPECT_EQ(s.OpenFlags & ~kTrackBits, uint32_t(OPEN_PRELOAD));
    ASSERT_TRUE(Parse("a"));  // absent: the current mask stays
    EXPECT_EQ(s.OpenFlags & kTrackBits, uint32_t(OPEN_TRACK6));
}

TEST_F(Switches, HeightScaling) {
    ASSERT_TRUE(Parse("/A1 a"));
    EXPECT_EQ(s.OpenFlags & kScalingBits, uint32_t(OPEN_Y_INTERLACE));
    ASSERT_TRUE(Parse("/A2 a"));
    EXPECT_EQ(s.OpenFlags & kScalingBits, uint32_t(OPEN_Y_DOUBLE));
    ASSERT_TRUE(Parse("/A3 a"));
    EXPECT_EQ(s.OpenFlags & kScalingBits, uint32_t(OPEN_Y_NONE));
    for (const char* leaves : {"/A255 a", "/A1000 a", "/A-1 a", "a"}) {
        ASSERT_TRUE(Parse(leaves));
        EXPECT_EQ(s.OpenFlags & kScalingBits, uint32_t(OPEN_Y_NONE)) << leaves;
    }
    for (const char* clears : {"/A0 a", "/A4 a", "/A254 a"}) {
        s.OpenFlags |= OPEN_Y_DOUBLE;
        ASSERT_TRUE(Parse(clears));
        EXPECT_EQ(s.OpenFlags & kScalingBits, 0u) << clears;
    }
    EXPECT_EQ(s.OpenFlags & kTrackBits, kTrackBits);
}

TEST_F(Switches, WindowStyle) {
    s.DisplayFlags = DISPLAY_DOUBLE_BUFFER;
    const struct {
        const char* text;
        uint32_t style;
    } cases[] = {{"/I1 a", 0xC000}, {"/I2 a", 0xC200}, {"/I3 a", 0x200}, {"/I4 a", 0x4200}};
    for (const auto& c : cases) {
        ASSERT_TRUE(Parse(c.text));
        EXPECT_EQ(s.DisplayFlags, c.style | DISPLAY_DOUBLE_BUFFER) << c.text;
    }
    ASSERT_TRUE(Parse("/I255 a"));
    EXPECT_EQ(s.DisplayFlags, 0x4200u | DISPLAY_DOUBLE_BUFFER);
    ASSERT_TRUE(Parse("a"));
    EXPECT_EQ(s.DisplayFlags, 0x4200u | DISPLAY_DOUBLE_BUFFER);
    for (const char* clears : {"/I0 a", "/I5 a", "/I-1 a", "/I256 a"}) {
        s.DisplayFlags |= 0xC200;
        ASSERT_TRUE(Parse(clears));
        EXPECT_EQ(s.DisplayFlags, uint32_t(DISPLAY_DOUBLE_BUFFER)) << clears;
    }
}

TEST_F(Switches, VideoTypeAndModifiers) {
    ASSERT_TRUE(Parse("/V1 a"));
    EXPECT_EQ(s.DisplayFlags, 22u);
    ASSERT_TRUE(Parse("/V4 a"));
    EXPECT_EQ(s.DisplayFlags, 25u);
    ASSERT_TRUE(Parse("/V5 a"));  // not a type: unchanged
    EXPECT_EQ(s.DisplayFlags, 25u);
    ASSERT_TRUE(Parse("/V0 a"));
    EXPECT_EQ(s.DisplayFlags, 25u);
    ASSERT_TRUE(Parse("/V385 a"));  // 384 + 1
    EXPECT_EQ(s.DisplayFlags, 0x20u | 22u);
    ASSERT_TRUE(Parse("/V258 a"));  // 256 + 2; modifiers are set-only
    EXPECT_EQ(s.DisplayFlags, 0x20u | 0x40u | 23u);
    ASSERT_TRUE(Parse("/V128 a"));
    EXPECT_EQ(s.DisplayFlags, 0x20u | 0x40u | 0x80u | 23u);
    SetUp();
    ASSERT_TRUE(Parse("/V131 a"));  // 128 + 3
    EXPECT_EQ(s.DisplayFlags, 0x80u | 24u);
}

TEST_F(Switches, SoundOnlyForcesStandardDibs) {
    ASSERT_TRUE(Parse("/O /V1 /I4 a"));
    EXPECT_TRUE(s.SoundOnly);
    EXPECT_EQ(s.DisplayFlags & DISPLAY_TYPE_MASK, 24u);
    EXPECT_EQ(s.DisplayFlags & ~uint32_t(DISPLAY_TYPE_MASK), 0x4200u);
    // Set-only, and the forcing follows every later parse.
    ASSERT_TRUE(Parse("/V4 a"));
    EXPECT_EQ(s.DisplayFlags & DISPLAY_TYPE_MASK, 24u);
}

TEST_F(Switches, SimulatedReadSpeed) {
    ASSERT_TRUE(Parse("/M150000 a"));
    EXPECT_EQ(s.SimulatedRate, 150000u);
    EXPECT_TRUE(s.OpenFlags & OPEN_SIMULATE_RATE);
    ASSERT_TRUE(Parse("a"));
    EXPECT_TRUE(s.OpenFlags & OPEN_SIMULATE_RATE);
    ASSERT_TRUE(Parse("/M0 a"));
    EXPECT_EQ(s.SimulatedRate, 0u);
    EXPECT_FALSE(s.OpenFlags & OPEN_SIMULATE_RATE);
}

TEST_F(Switches, PlainValues) {
    ASSERT_TRUE(Parse("/X0 /Y12 /E65536 /U6 /W640 /H480 /D3 a"));
    EXPECT_EQ(s.WindowX, 0);
    EXPECT_EQ(s.WindowY, 12);
    EXPECT_EQ(s.ExtraBuffer, 65536u);
    EXPECT_EQ(s.DisabledControls, 6u);
    EXPECT_EQ(s.StretchWidth, 640);
    EXPECT_EQ(s.StretchHeight, 480);
    EXPECT_EQ(s.DisplayMode, 3);
    ASSERT_TRUE(Parse("/E-1 a"));
    EXPECT_EQ(s.ExtraBuffer, 0xFFFFFFFFu);
    // A digit run longer than 32 bits wraps instead of overflowing.
    ASSERT_TRUE(Parse("/W4294967297 a"));
    EXPECT_EQ(s.StretchWidth, 1);
}

TEST_F(Switches, SetOnlyFlagsStaySet) {
    ASSERT_TRUE(Parse("/B /C /P /N /G /S /K /Q /J /O a"));
    ASSERT_TRUE(Parse("a"));
    EXPECT_EQ(s.DisplayFlags & 0x1100u, 0x1100u);
    EXPECT_EQ(s.OpenFlags & (OPEN_PRELOAD | OPEN_NEVER_SKIP | OPEN_FILL_BUFFER),
              uint32_t(OPEN_PRELOAD | OPEN_NEVER_SKIP | OPEN_FILL_BUFFER));
    EXPECT_TRUE(s.ShowSummary && s.DifferencesOnly && s.FrameInCaption && s.KeepPlayingUnfocused && s.SoundOnly);
}

TEST_F(Switches, SomeSwitchesHoldOnlyForTheParseThatGivesThem) {
    g_directsound_result = true;
    ASSERT_TRUE(Parse("/@ /R258 /Z a"));
    EXPECT_TRUE(s.NoMmx);
    EXPECT_EQ(s.RemapOption, 2);  // the low byte
    EXPECT_TRUE(s.UseDirectSound);
    EXPECT_EQ(g_directsound_calls, 1);
    ASSERT_TRUE(Parse("a"));
    EXPECT_FALSE(s.NoMmx);
    EXPECT_EQ(s.RemapOption, 0);
    EXPECT_FALSE(s.UseDirectSound);
    EXPECT_EQ(g_directsound_calls, 1);
}

TEST_F(Switches, DirectSoundSettingRecordsTheInstallResult) {
    g_directsound_result = false;
    ASSERT_TRUE(Parse("/Z a"));
    EXPECT_FALSE(s.UseDirectSound);
    EXPECT_EQ(g_directsound_calls, 1);
    UseDirectSoundHook = nullptr;  // no DirectSound support at all
    ASSERT_TRUE(Parse("/Z a"));
    EXPECT_FALSE(s.UseDirectSound);
}

TEST_F(Switches, ParentSwitch) {
    char text[64] = "/#1234 clip /S";
    EXPECT_EQ(TakeParentSwitch(text), 1234u);
    EXPECT_EQ(std::string(text), " clip /S");
    char bare[64] = "/# clip";
    EXPECT_EQ(TakeParentSwitch(bare), 0u);
    EXPECT_EQ(std::string(bare), " clip");
    char both[64] = "a /#77 /#";
    EXPECT_EQ(TakeParentSwitch(both), 77u);
    EXPECT_EQ(std::string(both), "a  ");
    char none[64] = "clip /X5";
    EXPECT_EQ(TakeParentSwitch(none), 0u);
    EXPECT_EQ(std::string(none), "clip /X5");
    // A /# left for the switch parse is an unknown switch there.
    char twice[64] = "/#1 /#2 a";
    EXPECT_EQ(TakeParentSwitch(twice), 1u);
    EXPECT_FALSE(ParseSwitches(twice));
}

}  // namespace
