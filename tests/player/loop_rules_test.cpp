// The small rules of the playback loop: keys, advancing, the focus, the
// progress bar, own-image names and the /D sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "display/display.h"
#include "player/loop_rules.h"

namespace {

TEST(LoopKeys, EachKeyDoesItsOneThing) {
    EXPECT_EQ(ActionForKey(13, 0xFF, 0), KeyAction::Step);
    EXPECT_EQ(ActionForKey(13, 0, 0), KeyAction::None) << "Enter only steps while paused";
    EXPECT_EQ(ActionForKey(27, 0, 0), KeyAction::Quit);
    EXPECT_EQ(ActionForKey(241, 0, 0), KeyAction::Quit) << "closing the window quits like Escape";
    EXPECT_EQ(ActionForKey(32, 0, 0), KeyAction::TogglePause);
    EXPECT_EQ(ActionForKey(32, 0xFF, 0), KeyAction::TogglePause);
    EXPECT_EQ(ActionForKey(46, 0, 0), KeyAction::Skip);
    for (int other : {0, 9, 33, 47, 137, 208, 240, 242, 255}) EXPECT_EQ(ActionForKey(other, 0, 0), KeyAction::None);
}

TEST(LoopKeys, DisabledControlsAreIgnored) {
    EXPECT_EQ(ActionForKey(32, 0, 1), KeyAction::None);
    EXPECT_EQ(ActionForKey(46, 0, 2), KeyAction::None);
    EXPECT_EQ(ActionForKey(27, 0, 4), KeyAction::None);
    EXPECT_EQ(ActionForKey(241, 0, 4), KeyAction::None);
    // Each bit disables its own key only.
    EXPECT_EQ(ActionForKey(27, 0, 3), KeyAction::Quit);
    EXPECT_EQ(ActionForKey(32, 0, 6), KeyAction::TogglePause);
    EXPECT_EQ(ActionForKey(46, 0, 5), KeyAction::Skip);
    // Stepping is never disabled.
    EXPECT_EQ(ActionForKey(13, 0xFF, 7), KeyAction::Step);
}

TEST(LoopAdvance, SingleMovieCountsPassesAtTheLastFrame) {
    uint32_t count = 2;
    EXPECT_FALSE(FrameEndsMovie(0, 9, false, &count));
    EXPECT_FALSE(FrameEndsMovie(8, 9, false, &count));
    EXPECT_EQ(count, 2u) << "only the last frame counts";
    EXPECT_FALSE(FrameEndsMovie(9, 9, false, &count)) << "first pass over: the movie goes round again";
    EXPECT_EQ(count, 1u);
    EXPECT_TRUE(FrameEndsMovie(9, 9, false, &count));
    EXPECT_EQ(count, 0u);
}

TEST(LoopAdvance, EndlessLoopCountsDownFromAllOnes) {
    uint32_t count = 0xFFFFFFFFu;
    EXPECT_FALSE(FrameEndsMovie(4, 4, false, &count));
    EXPECT_EQ(count, 0xFFFFFFFEu);
}

TEST(LoopAdvance, ListMoviesEndAtTheirLastFrameAndTheListCountsPasses) {
    uint32_t count = 3;
    EXPECT_TRUE(FrameEndsMovie(4, 4, true, &count));
    EXPECT_EQ(count, 3u) << "a movie of a list leaves the count to the list";
    EXPECT_TRUE(ListRepeats(&count));
    EXPECT_TRUE(ListRepeats(&count));
    EXPECT_FALSE(ListRepeats(&count));
}

TEST(LoopFocus, SoundFollowsTheFocusUnlessKeptPlaying) {
    EXPECT_EQ(FocusRule(false, false, true), FocusAction::SoundOff);
    EXPECT_EQ(FocusRule(false, false, false), FocusAction::None) << "already off";
    EXPECT_EQ(FocusRule(false, true, false), FocusAction::SoundOn);
    EXPECT_EQ(FocusRule(false, true, true), FocusAction::None);
    EXPECT_EQ(FocusRule(true, false, true), FocusAction::None) << "/J keeps playing";
    EXPECT_EQ(FocusRule(true, false, false), FocusAction::SoundOn) << "/J still restarts stopped sound";
}

TEST(LoopFocus, WaitEndsOnlyWhenDueActiveAndNotHeld) {
    EXPECT_TRUE(WaitIsOver(0, true, 0, false));
    EXPECT_FALSE(WaitIsOver(1, true, 0, false)) << "not yet due";
    EXPECT_FALSE(WaitIsOver(0, false, 0, false)) << "sound stopped for lack of focus";
    EXPECT_FALSE(WaitIsOver(0, true, 0xFF, false)) << "paused";
    EXPECT_TRUE(WaitIsOver(0, true, 0xFF, true)) << "paused, one step";
    EXPECT_FALSE(WaitIsOver(1, true, 0xFF, true));
}

TEST(LoopFocus, FocusTestByDisplayKind) {
    QuarvBuffer display;
    std::memset(&display, 0, sizeof display);
    int window = 0, other = 0;
    display.playerWindow = &window;
    EXPECT_TRUE(DisplayHasFocus(&display, &window));
    EXPECT_FALSE(DisplayHasFocus(&display, &other));
    EXPECT_FALSE(DisplayHasFocus(&display, nullptr));
    display.fullScreen = 1;
    EXPECT_FALSE(DisplayHasFocus(&display, &window)) << "a full-screen display answers by its own activation";
    display.active = 1;
    EXPECT_TRUE(DisplayHasFocus(&display, nullptr));
    EXPECT_FALSE(DisplayHasFocus(nullptr, &window));
}

// The bar as a string of '#' (colour 9) and '.' (colour 0), with a guard
// byte after the row.
std::string Bar(uint32_t width, uint32_t frameNum, uint32_t frames, uint32_t* n = nullptr) {
    std::vector<uint8_t> row(width + 1, 0x77);
    const uint32_t got = DrawProgressBar(row.data(), width, frameNum, frames);
    if (n) *n = got;
    std::string s;
    for (uint8_t b : row) s += b == 9 ? '#' : b == 0 ? '.' : b == 0x77 ? '|' : '?';
    return s;
}

TEST(LoopProgressBar, GrowsFromOneToTheWholeRow) {
    EXPECT_EQ(Bar(8, 0, 4), "#.......|");
    EXPECT_EQ(Bar(8, 1, 4), "###.....|");
    EXPECT_EQ(Bar(8, 3, 4), "#######.|");
    uint32_t n = 0;
    Bar(160, 0, 2062, &n);
    EXPECT_EQ(n, 1u);
    Bar(160, 2061, 2062, &n);
    EXPECT_EQ(n, 160u);
    Bar(160, 1031, 2062, &n);
    EXPECT_EQ(n, 81u);
}

TEST(LoopProgressBar, RingFrameAndOddCountsStayInsideTheRow) {
    // The ring frame is numbered Frames: the formula gives width + 1.
    EXPECT_EQ(Bar(8, 4, 4), "########|");
    EXPECT_EQ(Bar(160, 2062, 2062).back(), '|');
    EXPECT_EQ(Bar(8, 0, 0), "#.......|") << "no frames: no division by zero";
    // Large frame numbers do not wrap the product.
    uint32_t n = 0;
    Bar(160, 30000000, 30000001, &n);
    EXPECT_EQ(n, 160u);
}

TEST(LoopProgressBar, KeepsOnlyTheLowEightBits) {
    // A 300-pixel row would reach 256 at 255/300 of the movie and start again.
    uint32_t n = 0;
    Bar(300, 255, 300, &n);
    EXPECT_EQ(n, 0u);
    Bar(300, 100, 300, &n);
    EXPECT_EQ(n, 101u);
}

TEST(LoopCaption, CountsFromOne) {
    char text[64];
    FrameCaption(text, sizeof text, 0);
    EXPECT_STREQ(text, "QuarvPlay - Frame: 1");
    FrameCaption(text, sizeof text, 2061);
    EXPECT_STREQ(text, "QuarvPlay - Frame: 2062");
    FrameCaption(text, sizeof text, 0xFFFFFFFFu);
    EXPECT_STREQ(text, "QuarvPlay - Frame: 4294967296");
    char small[8];
    FrameCaption(small, sizeof small, 5);
    EXPECT_STREQ(small, "QuarvPl");
}

TEST(LoopOwnImage, ColonNamesAndTheirOffsets) {
    EXPECT_TRUE(IsOwnImageName(":94720"));
    EXPECT_FALSE(IsOwnImageName("c:\\clip"));
    EXPECT_FALSE(IsOwnImageName(""));
    uint32_t offset = 1;
    ASSERT_TRUE(OwnImageOffset(":94720", &offset));
    EXPECT_EQ(offset, 94720u);
    ASSERT_TRUE(OwnImageOffset(":", &offset));
    EXPECT_EQ(offset, 0u);
    ASSERT_TRUE(OwnImageOffset(":12x3", &offset));
    EXPECT_EQ(offset, 12u) << "the number ends at the first non-digit";
    ASSERT_TRUE(OwnImageOffset(":2147483647", &offset));
    EXPECT_EQ(offset, 2147483647u);
    EXPECT_FALSE(OwnImageOffset(":2147483648", &offset)) << "beyond a signed 32-bit file position";
    EXPECT_FALSE(OwnImageOffset(":99999999999999999999", &offset));
}

TEST(LoopDisplayMode, FourSizesAndNothingElse) {
    uint32_t w = 0, h = 0;
    const uint32_t sizes[4][2] = {{640, 400}, {640, 480}, {800, 600}, {1024, 768}};
    for (int n = 1; n <= 4; n++) {
        ASSERT_TRUE(DisplayModeSize(n, &w, &h));
        EXPECT_EQ(w, sizes[n - 1][0]);
        EXPECT_EQ(h, sizes[n - 1][1]);
    }
    for (int n : {0, -1, 5, 100}) EXPECT_FALSE(DisplayModeSize(n, &w, &h)) << n;
}

}  // namespace
