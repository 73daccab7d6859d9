// Message-box text and title: the one-blank rule and the 2048-byte buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "player/cmdline.h"
#include "player/message_text.h"

namespace {

std::string Compose(const char* a, const char* b, const char* c) {
    std::vector<char> out(kMessageTextSize, '\x55');
    ComposeMessageText(out.data(), out.size(), a, b, c);
    return out.data();
}

TEST(MessageText, DropsOneLeadingSpaceOfTheFirstText) {
    EXPECT_EQ(Compose("  Error opening file: ", "clip.Qvl", "."), " Error opening file: clip.Qvl.");
    EXPECT_EQ(Compose(" x", nullptr, nullptr), "x");
    EXPECT_EQ(Compose("\tx", nullptr, nullptr), "\tx");  // only the space character
    EXPECT_EQ(Compose(nullptr, " b", " c"), " b c");       // only the first text
    EXPECT_EQ(Compose("a", " b", nullptr), "a b");
    EXPECT_EQ(Compose(nullptr, nullptr, nullptr), "");
}

TEST(MessageText, CutsAtTheBufferSize) {
    std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c');
    std::vector<char> out(kMessageTextSize);
    ComposeMessageText(out.data(), out.size(), a.c_str(), b.c_str(), c.c_str());
    std::string got(out.data());
    ASSERT_EQ(got.size(), kMessageTextSize - 1);
    EXPECT_EQ(got, (a + b + c).substr(0, kMessageTextSize - 1));

    // A full buffer after the first text: the later texts add nothing.
    std::string full(5000, 'f');
    ComposeMessageText(out.data(), out.size(), full.c_str(), "tail", nullptr);
    EXPECT_EQ(std::string(out.data()), full.substr(0, kMessageTextSize - 1));

    char tiny[4];
    ComposeMessageText(tiny, sizeof tiny, " abcdef", nullptr, nullptr);
    EXPECT_EQ(std::string(tiny), "abc");
}

TEST(MessageText, UsageTextFitsWhole) {
    std::vector<char> out(kMessageTextSize);
    ComposeMessageText(out.data(), out.size(), kUsageText, nullptr, nullptr);
    EXPECT_EQ(std::string(out.data()), std::string(kUsageText + 1));
}

TEST(MessageText, TitleDefaultsToThePlayerTitle) {
    EXPECT_STREQ(MessageTitle(nullptr), "QuarvPlay");
    EXPECT_STREQ(MessageTitle("Quarvel Summary"), "Quarvel Summary");
    SetPlayerTitle("Other");
    EXPECT_STREQ(MessageTitle(nullptr), "Other");
    SetPlayerTitle(kPlayerTitle);
    EXPECT_STREQ(MessageTitle(nullptr), "QuarvPlay");
}

}  // namespace
