// Splitting the name list, extensions, and the limits of the name buffers.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "player/cmdline.h"

namespace {

// Splits `list` completely; each name comes from its own 128-byte buffer.
std::vector<std::string> Split(const std::string& list) {
    std::vector<char> buffer(list.begin(), list.end());
    buffer.push_back('\0');
    std::vector<std::string> names;
    for (int guard = 0; guard < 100; ++guard) {
        char name[kNameSize];
        EXPECT_TRUE(TakeFirstName(name, sizeof name, buffer.data()));
        if (name[0] == '\0' && buffer[0] == '\0') break;
        names.push_back(name);
    }
    return names;
}

using Names = std::vector<std::string>;

TEST(TakeFirstName, SplitsAtBlanksAndOneComma) {
    EXPECT_EQ(Split("a b  c"), (Names{"a", "b", "c"}));
    EXPECT_EQ(Split("  a , b"), (Names{"a", "b"}));
    EXPECT_EQ(Split("a,b"), (Names{"a,b"}));  // a comma alone does not split
    EXPECT_EQ(Split("a ,,b"), (Names{"a", ",b"}));  // only one comma is consumed
    EXPECT_EQ(Split("a\tb\x80" "c"), (Names{"a", "b", "c"}));  // control and high bytes are blanks
    EXPECT_EQ(Split(""), Names{});
    EXPECT_EQ(Split(" \t "), Names{});
}

TEST(TakeFirstName, QuotedNamesKeepTheirBlanks) {
    EXPECT_EQ(Split("\"my clip.qvl\" other"), (Names{"my clip.qvl", "other"}));
    EXPECT_EQ(Split("\"a b\"c d"), (Names{"a b", "c", "d"}));  // the list resumes right after the quote
    EXPECT_EQ(Split("\"  padded  \" x"), (Names{"padded", "x"}));
    EXPECT_EQ(Split("\"a\" , b"), (Names{"a", ",", "b"}));  // no comma rule after a quoted name
}

TEST(TakeFirstName, UnclosedQuoteRunsToTheEnd) {
    char list[64] = "\"abc def ghi";
    char name[kNameSize];
    EXPECT_TRUE(TakeFirstName(name, sizeof name, list));
    EXPECT_EQ(std::string(name), "\"abc def ghi");
    EXPECT_EQ(std::string(list), "");
}

TEST(TakeFirstName, RestIsMovedToTheStartAndTrimmed) {
    char list[64] = "  first   second third  ";
    char name[kNameSize];
    ASSERT_TRUE(TakeFirstName(name, sizeof name, list));
    EXPECT_EQ(std::string(name), "first");
    EXPECT_EQ(std::string(list), "second third");
}

TEST(TakeFirstName, OverlongNameIsCutAndReported) {
    std::string list(200, 'n');
    list += " next";
    std::vector<char> buffer(list.begin(), list.end());
    buffer.push_back('\0');
    std::vector<char> name(kNameSize);  // exact size, so a write past it is caught
    EXPECT_FALSE(TakeFirstName(name.data(), name.size(), buffer.data()));
    EXPECT_EQ(std::string(name.data()), std::string(kNameSize - 1, 'n'));
    EXPECT_EQ(std::string(buffer.data()), "next");

    std::string fits(kNameSize - 1, 'f');
    std::vector<char> exact(fits.begin(), fits.end());
    exact.push_back('\0');
    EXPECT_TRUE(TakeFirstName(name.data(), name.size(), exact.data()));
    EXPECT_EQ(std::string(name.data()), fits);
}

TEST(Extension, FoundBeforeColonBackslashOrStart) {
    EXPECT_FALSE(HasExtension("clip"));
    EXPECT_TRUE(HasExtension("clip."));
    EXPECT_TRUE(HasExtension("dir.d\\clip.x"));
    EXPECT_FALSE(HasExtension("dir.d\\clip"));
    EXPECT_FALSE(HasExtension("c:clip"));
    EXPECT_FALSE(HasExtension("a.b:clip"));
    EXPECT_TRUE(HasExtension(".qvl"));  // the first character counts
    EXPECT_FALSE(HasExtension(""));
    EXPECT_TRUE(HasExtension("dir/clip.qvl"));  // only "\" separates folders
}

TEST(Extension, DefaultIsAppendedOnlyWhenMissing) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"clip", "clip.Qvl"},       {"clip.", "clip."},         {"dir.d\\clip.x", "dir.d\\clip.x"},
        {"dir.d\\clip", "dir.d\\clip.Qvl"}, {":94720", ":94720"}, {"c:clip", "c:clip.Qvl"},
    };
    for (const auto& c : cases) {
        char name[kNameSize];
        std::snprintf(name, sizeof name, "%s", c.in);
        EXPECT_TRUE(AddDefaultExtension(name, sizeof name)) << c.in;
        EXPECT_EQ(std::string(name), c.out) << c.in;
    }
}

TEST(Extension, AppendingNeverOverflowsTheNameBuffer) {
    std::vector<char> name(kNameSize);
    std::string longest(kNameSize - 5, 'x');  // + ".Qvl" + terminator = 128
    std::snprintf(name.data(), name.size(), "%s", longest.c_str());
    EXPECT_TRUE(AddDefaultExtension(name.data(), name.size()));
    EXPECT_EQ(std::string(name.data()), longest + ".Qvl");

    std::string tooLong(kNameSize - 4, 'x');
    std::snprintf(name.data(), name.size(), "%s", tooLong.c_str());
    EXPECT_FALSE(AddDefaultExtension(name.data(), name.size()));
    EXPECT_EQ(std::string(name.data()), tooLong);
}

}  // namespace
