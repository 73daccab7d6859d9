// Start-up: the self-play text, the command line appended to it, overrides,
// the usage box for no names, and the fixed sizes of the texts.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/selfplay.h"
#include "player/settings.h"

namespace {

int g_usage_boxes = 0;
void CountUsage() { ++g_usage_boxes; }

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPlayerSettings();
        UsageHook = CountUsage;
        g_usage_boxes = 0;
        config.assign(kConfigTextSize, '\0');
        line.assign(kCommandLineSize, '\0');
    }
    void TearDown() override {
        UsageHook = nullptr;
        ResetPlayerSettings();
    }
    // Exact-size buffers, so that any write or read past them is caught.
    void Set(const std::string& configText, const std::string& commandLine) {
        ASSERT_LT(configText.size(), config.size());
        ASSERT_LT(commandLine.size(), line.size());
        std::memcpy(config.data(), configText.c_str(), configText.size() + 1);
        std::memcpy(line.data(), commandLine.c_str(), commandLine.size() + 1);
    }
    // PrepareNames, then the names it left, split.
    bool Prepare(std::vector<std::string>* names = nullptr) {
        char* text = PrepareNames(config.data(), line.data());
        if (!text) return false;
        while (names) {
            char name[kNameSize];
            TakeFirstName(name, sizeof name, text);
            if (!name[0]) break;
            names->push_back(name);
        }
        return true;
    }
    std::vector<char> config, line;
    PlayerSettings& s = Settings;
};

using Names = std::vector<std::string>;

TEST_F(Startup, PlainPlayerPlaysTheCommandLineNames) {
    Set("", "/S a.qvl b");
    Names names;
    ASSERT_TRUE(Prepare(&names));
    EXPECT_EQ(names, (Names{"a.qvl", "b"}));
    EXPECT_TRUE(s.ShowSummary);
    EXPECT_EQ(g_usage_boxes, 0);
}

TEST_F(Startup, NoNamesShowsTheUsageBox) {
    for (const char* commandLine : {"", "   ", "/S /L3", "/X1 \x90"}) {
        SetUp();
        Set("", commandLine);
        EXPECT_FALSE(Prepare()) << commandLine;
        EXPECT_EQ(g_usage_boxes, 1) << commandLine;
    }
}

TEST_F(Startup, BadSwitchShowsTheUsageBoxOnce) {
    Set("", "/X10 /X20 a");
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(g_usage_boxes, 1);
}

TEST_F(Startup, SelfPlayTextAlonePlaysTheBuiltInMovie) {
    Set(":94720 /W640/I4/J/D2/T1/U2/A2", "");
    Names names;
    ASSERT_TRUE(Prepare(&names));
    EXPECT_EQ(names, (Names{":94720"}));
    EXPECT_EQ(s.StretchWidth, 640);
    EXPECT_EQ(s.DisplayFlags, 0x4200u);
    EXPECT_TRUE(s.KeepPlayingUnfocused);
    EXPECT_EQ(s.DisplayMode, 2);
    EXPECT_EQ(s.OpenFlags, uint32_t(OPEN_TRACK0 | OPEN_Y_DOUBLE));
    EXPECT_EQ(s.DisabledControls, uint32_t(CONTROL_SKIP));
}

TEST_F(Startup, CommandLineNamesFollowTheBuiltInMovieAndItsSwitchesOverride) {
    Set(":94720 /X10 /T1 /S", "/L2 /X20 other.qvl");
    Names names;
    ASSERT_TRUE(Prepare(&names));
    EXPECT_EQ(names, (Names{":94720", "other.qvl"}));
    EXPECT_EQ(s.LoopCount, 2u);
    EXPECT_EQ(s.WindowX, 20);  // the command line's repeat wins
    EXPECT_EQ(s.OpenFlags & 0xFE000u, uint32_t(OPEN_TRACK0));  // built-in switch in force
    EXPECT_TRUE(s.ShowSummary);
    EXPECT_EQ(g_usage_boxes, 0);
}

TEST_F(Startup, ReEvaluatedSwitchesHoldOnlyFromTheCommandLine) {
    Set(":1 /R1 /@", "x");
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(s.RemapOption, 0);
    EXPECT_FALSE(s.NoMmx);
    SetUp();
    Set(":1", "/R2 /@ x");
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(s.RemapOption, 2);
    EXPECT_TRUE(s.NoMmx);
}

TEST_F(Startup, BadSelfPlayTextStopsBeforeTheCommandLine) {
    Set(":1 /Q/", "/S x");
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(g_usage_boxes, 1);
    EXPECT_FALSE(s.ShowSummary);
}

TEST_F(Startup, SelfPlayTextWithTheCommandLineMustFitItsBuffer) {
    // After the configuration's parse "a" is left: 1 + a blank + the command
    // line may use 215 bytes, the buffer's last one being the terminator.
    std::string digits(kConfigTextSize - 1 - 2 - 2, '7');
    Set("a /S", "/M" + digits);
    ASSERT_TRUE(Prepare());
    EXPECT_EQ(g_usage_boxes, 0);

    SetUp();
    Set("a /S", "/M" + digits + "7");
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(g_usage_boxes, 1);
    EXPECT_EQ(config.back(), '\0');
}

TEST_F(Startup, NameListMustFitItsBuffer) {
    Set("", "/S " + std::string(kNameListSize - 1, 'n'));
    ASSERT_TRUE(Prepare());
    SetUp();
    Set("", "/S " + std::string(kNameListSize, 'n'));
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(g_usage_boxes, 1);
}

TEST_F(Startup, UnterminatedSelfPlayAreaIsReadSafely) {
    Set("", "");
    std::memset(config.data(), 'c', config.size());
    // 215 bytes of one name: read up to the buffer's last byte, which ends
    // the text, and then refused as longer than the name list.
    EXPECT_FALSE(Prepare());
    EXPECT_EQ(g_usage_boxes, 1);
    EXPECT_EQ(config.back(), '\0');

    SetUp();
    std::memset(config.data(), ' ', config.size());
    std::memcpy(config.data(), ":94720", 6);
    Names names;
    ASSERT_TRUE(Prepare(&names));
    EXPECT_EQ(names, (Names{":94720"}));
}

TEST(CommandLine, CopyRefusesWhatDoesNotFit) {
    char dst[kCommandLineSize];
    std::string fits(kCommandLineSize - 1, 'a');
    EXPECT_TRUE(CopyCommandLine(dst, fits.c_str()));
    EXPECT_EQ(std::string(dst), fits);
    std::string over(kCommandLineSize, 'a');
    EXPECT_FALSE(CopyCommandLine(dst, over.c_str()));
    EXPECT_EQ(dst[0], '\0');
    EXPECT_TRUE(CopyCommandLine(dst, nullptr));
    EXPECT_EQ(dst[0], '\0');
}

TEST(SelfPlayArea, TaggedEmptyAndWritable) {
    EXPECT_EQ(std::memcmp(QuarvelSelfPlayArea, "SELFPLAY", kSelfPlayTagSize), 0);
    char* text = SelfPlayConfigText();
    EXPECT_EQ(text, QuarvelSelfPlayArea + kSelfPlayTagSize);
    EXPECT_EQ(text[0], '\0');
    // Filled by a tool without a terminator: the accessor still ends the text
    // inside the area, and leaves the tag alone.
    std::memset(text, 'x', kConfigTextSize);
    text = SelfPlayConfigText();
    EXPECT_EQ(std::strlen(text), kConfigTextSize - 1);
    EXPECT_EQ(std::memcmp(QuarvelSelfPlayArea, "SELFPLAY", kSelfPlayTagSize), 0);
    std::memset(text, 0, kConfigTextSize);
}

}  // namespace
