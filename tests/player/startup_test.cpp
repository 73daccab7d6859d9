// The player's start-up and texts: switches into settings (forms, case,
// order, repeats, each switch's values), the self-play text with the command
// line, the name list and default extensions, the fixed text sizes, the
// summary's numbers, keys and the window's left edge; and quarvselfplay,
// which makes a player self-playing. (The whole summary text, the boxes,
// every key code, the window's class, styles and placement, and copies made
// with quarvselfplay are checked on the real program under Wine.)
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/message_text.h"
#include "player/selfplay.h"
#include "player/settings.h"
#include "player/summary.h"
#include "player/window.h"

namespace {

int g_usageBoxes = 0;

// The settings that differ from the initial ones, in a fixed order, e.g.
// "X10 L3 F-4000 T5 disp=4200 preload S".
std::string Changed() {
    const PlayerSettings& s = Settings;
    const PlayerSettings d = DefaultPlayerSettings();
    std::ostringstream o;
    const std::tuple<const char*, int64_t, int64_t> numbers[] = {
        {"X", s.WindowX, d.WindowX}, {"Y", s.WindowY, d.WindowY}, {"L", s.LoopCount, d.LoopCount}, {"F", s.FrameRate, d.FrameRate},
        {"M", s.SimulatedRate, 0},   {"E", s.ExtraBuffer, d.ExtraBuffer}, {"U", s.DisabledControls, 0}, {"W", s.StretchWidth, 0},
        {"H", s.StretchHeight, 0},   {"D", s.DisplayMode, 0}, {"R", s.RemapOption, 0}, {"T", (s.OpenFlags & OPEN_ALL_TRACKS) >> 13, 0x7F}};
    for (const auto& [name, value, initial] : numbers)
        if (value != initial) o << ' ' << name << value;
    if (s.DisplayFlags) o << " disp=" << std::hex << s.DisplayFlags << std::dec;
    const std::pair<bool, const char*> flags[] = {
        {s.OpenFlags & OPEN_RATE_OVERRIDE, "rate"},    {s.OpenFlags & OPEN_FILL_BUFFER, "fill"}, {s.OpenFlags & OPEN_PRELOAD, "preload"},
        {s.OpenFlags & OPEN_NEVER_SKIP, "neverskip"}, {s.OpenFlags & OPEN_SIMULATE_RATE, "simulate"}, {s.OpenFlags & OPEN_Y_INTERLACE, "yinterlace"},
        {s.OpenFlags & OPEN_Y_DOUBLE, "ydouble"},     {s.ShowSummary, "S"}, {s.DifferencesOnly, "K"}, {s.FrameInCaption, "Q"}, {s.SoundOnly, "O"},
        {s.KeepPlayingUnfocused, "J"}, {s.UseDirectSound, "Z"}, {s.NoMmx, "@"}};
    for (const auto& [on, name] : flags)
        if (on) o << ' ' << name;
    return o.str().empty() ? "" : o.str().substr(1);
}

class Startup : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPlayerSettings(), g_usageBoxes = 0;
        UsageHook = [] { ++g_usageBoxes; }, UseDirectSoundHook = [] { return true; };
    }
    void TearDown() override { UsageHook = nullptr; }
};

// Each case parses its texts ("|" between successive parses) on fresh
// settings: "[text left] settings changed", or "usage: settings changed"
// when the parse failed and showed the usage box (once).
TEST_F(Startup, SwitchesBecomeSettings) {
    const std::pair<const char*, const char*> cases[] = {
        {"clip", "[clip] "}, {"/x10 /y-20 /s /k a", "[a] X10 Y-20 S K"}, {"/X10 /x20 a", "usage: X10"}, {"/S a /s", "usage: S"},
        {"/X a", "usage: "}, {"/X- a", "usage: "}, {"/Xa a", "usage: "}, {"/Ya", "usage: "}, {"/Sx a", "usage: "}, {"/S0 a", "usage: "},
        {"/J9 a", "usage: "}, {"/! a", "usage: "}, {"/", "usage: "}, {"dir/clip.qvl", "usage: "}, {"/X /X7 a", "usage: X7"},
        {"a /X-12 b /S c", "[a  b  c] X-12 S"}, {"a/Y5b", "[ab] Y5"},  // slash, letter, sign and digits go; blanks stay
        {"/S/P/N,a", "[,a] preload neverskip S"}, {"/K.x /Q-y", "[.x -y] K Q"},  // a flag ends at a blank or a byte below '0'
        {"a/J\xA0z", "[a\xA0z] J"}, {"  \t\xFF a b \x81 ", "[a b] "}, {"/S   ", "[] S"},  // bytes 0x80-0xFF are blanks
        {"//X3S a", "[a] X3 S"}, {"//L5P a", "[a] L5 preload"}, {"//D2X3 a", "usage: D2"},  // a fixed order of switches
        {"/L0 a", "[a] "}, {"/L3 a", "[a] L3"}, {"/L4 /L a", "[a] L4294967295"}, {"/F25 a", "[a] F25 rate"}, {"/F-40 a", "[a] F-4000 rate"},
        {"/F a", "[a] F0 rate"}, {"/F-1 a", "[a] "}, {"/F-2 a", "[a] F-200 rate"}, {"/F-1500 a", "[a] F-150000 rate"},
        {"/F-1501 a", "[a] F-1501 rate"}, {"/F10 a|/F-1 a", "[a] rate"}, {"/T5 a", "[a] T5"}, {"/T128 a", "[a] T0"},
        {"/P a|/T64 a|a", "[a] T64 preload"}, {"/A1 a", "[a] yinterlace"}, {"/A3 a|/A255 a|/A1000 a|/A-1 a|a", "[a] yinterlace ydouble"},
        {"/A2 a|/A0 a", "[a] "}, {"/I1 a", "[a] disp=c000"}, {"/I2 a", "[a] disp=c200"}, {"/B /I4 a|/I255 a|a", "[a] disp=4300"},
        {"/B /I2 a|/I0 a", "[a] disp=100"}, {"/I2 a|/I5 a|/I-1 a|/I256 a", "[a] "}, {"/V1 a", "[a] disp=16"}, {"/V4 a|/V5 a|/V0 a", "[a] disp=19"},
        {"/V385 a|/V258 a|/V128 a", "[a] disp=f7"},  // modifiers are set-only
        {"/O /V1 /I4 a|/V4 a", "[a] disp=4218 O"},   // sound only forces standard DIBs
        {"/M150000 a|a", "[a] M150000 simulate"}, {"/M150000 a|/M0 a", "[a] "}, {"/W4294967297 a", "[a] W1"},  // long digit runs wrap
        {"/X0 /Y12 /E65536 /U6 /W640 /H480 /D3 a", "[a] X0 Y12 E65536 U6 W640 H480 D3"},
        {"/B /C /P /N /G /S /K /Q /J /O a|a", "[a] disp=1118 fill preload neverskip S K Q O J"},
        {"/@ /R258 /Z a", "[a] R2 Z @"}, {"/@ /R258 /Z a|a", "[a] "},  // these hold for one parse
    };
    for (const auto& [text, want] : cases) {
        SetUp();
        std::string got;
        std::istringstream parts(text);
        for (std::string part; std::getline(parts, part, '|');) {
            std::vector<char> buffer(part.begin(), part.end());
            buffer.push_back('\0');
            got = ParseSwitches(buffer.data()) ? "[" + std::string(buffer.data()) + "] " : "usage: ";
        }
        EXPECT_EQ(got + Changed(), want) << text;
        EXPECT_EQ(g_usageBoxes, got == "usage: " ? 1 : 0) << text;
    }
    char z[] = "/Z a", z2[] = "/Z a";  // DirectSound that cannot be installed, or none at all
    UseDirectSoundHook = [] { return false; };
    EXPECT_TRUE(ParseSwitches(z) && !Settings.UseDirectSound);
    UseDirectSoundHook = nullptr;
    EXPECT_TRUE(ParseSwitches(z2) && !Settings.UseDirectSound);
    char parent[] = "a /#77 /#";  // /# and its handle go, a bare /# too (the protocol is checked under Wine)
    EXPECT_EQ(TakeParentSwitch(parent), 77u);
    EXPECT_STREQ(parent, "a  ");
    char left[] = " /#2 a";  // a second /# is an unknown switch for the parse
    EXPECT_FALSE(ParseSwitches(left));
}

// The self-play text is parsed first and the command line appended to it;
// the command line's switches override. No names, a bad switch or a text
// beyond its buffer shows the usage box; exact-size buffers catch any
// access past them. Cases give "names / settings changed" (or the names
// alone when the settings are not checked), or "usage".
TEST_F(Startup, SelfPlayTextAndCommandLineGiveTheNames) {
    const std::string fits(kConfigTextSize - 5, '7');  // "a", a blank, "/M" and digits fill the 215 bytes
    const struct {
        std::string config, line, want;
    } cases[] = {
        {"", "/S a.qvl b", "a.qvl|b / S"}, {"", "", "usage"}, {"", "   ", "usage"}, {"", "/S /L3", "usage"}, {"", "/X1 \x90", "usage"},
        {":94720 /W640/I4/J/D2/T1/U2/A2", "", ":94720 / U2 W640 D2 T1 disp=4200 ydouble J"},
        {":94720 /X10 /T1 /S", "/L2 /X20 other.qvl", ":94720|other.qvl / X20 L2 T1 S"},
        {":1 /R1 /@", "x", ":1|x / "}, {":1", "/R2 /@ x", ":1|x / R2 @"}, {":1 /Q/", "/S x", "usage"},  // a bad text stops there
        {"a /S", "/M" + fits, "a"}, {"a /S", "/M" + fits + "7", "usage"},
        {"", "/S " + std::string(kNameListSize - 1, 'n'), std::string(kNameListSize - 1, 'n')},  // the most the list holds
        {"", "/S " + std::string(kNameListSize, 'n'), "usage"},
    };
    for (const auto& c : cases) {
        SetUp();
        std::vector<char> config(c.config.begin(), c.config.end()), line(c.line.begin(), c.line.end());
        config.resize(kConfigTextSize), line.resize(kCommandLineSize);
        char* list = PrepareNames(config.data(), line.data());
        std::string got = list ? "" : "usage";
        for (char name[kNameSize]; list && (TakeFirstName(name, sizeof name, list), name[0]);)
            got += (got.empty() ? "" : "|") + std::string(name);
        if (list && c.want.find(" / ") != std::string::npos) got += " / " + Changed();
        EXPECT_EQ(got, c.want) << c.config << " + " << c.line;
        EXPECT_EQ(g_usageBoxes, list ? 0 : 1) << c.config << " + " << c.line;
        EXPECT_EQ(config.back(), '\0');
    }
    // An unterminated area is read up to its last byte, which ends the text.
    std::vector<char> config(kConfigTextSize, 'c'), line(kCommandLineSize, '\0');
    EXPECT_EQ(PrepareNames(config.data(), line.data()), nullptr);  // one name longer than the list
    // A tool may fill the area without a terminator: its text still ends inside it, the tag stays.
    char* text = SelfPlayConfigText();
    std::memset(text, 'x', kConfigTextSize);
    EXPECT_TRUE(std::strlen(SelfPlayConfigText()) == kConfigTextSize - 1 && !std::memcmp(QuarvelSelfPlayArea, "SELFPLAY", kSelfPlayTagSize));
    std::memset(text, 0, kConfigTextSize);
}

// Names split at blanks and one comma after them; quoted names keep their
// blanks; the rest moves to the front, trimmed; an overlong name is cut and
// reported. ".Qvl" goes on a name with no "." after its last ":" or "\",
// unless it names the program itself or would not fit.
TEST(Names, SplitAndDefaultExtension) {
    const std::pair<const char*, const char*> splits[] = {
        {"a b  c", "a|b|c"}, {"  a , b", "a|b"}, {"a,b", "a,b"}, {"a ,,b", "a|,b"}, {"a\tb\x80" "c", "a|b|c"}, {" \t ", ""},
        {"\"my clip.qvl\" other", "my clip.qvl|other"}, {"\"a b\"c d", "a b|c|d"}, {"\"  padded  \" x", "padded|x"}, {"\"a\" , b", "a|,|b"},
        {"\"abc def ghi", "\"abc def ghi"}};
    for (const auto& [text, want] : splits) {
        std::vector<char> list(text, text + std::strlen(text) + 1);
        std::string names;
        for (char name[kNameSize]; TakeFirstName(name, sizeof name, list.data()) && name[0];) names += (names.empty() ? "" : "|") + std::string(name);
        EXPECT_EQ(names, want) << text;
    }
    std::string overlong = std::string(200, 'n') + " next";
    std::vector<char> name(kNameSize);  // exact size: a write past it is caught
    EXPECT_FALSE(TakeFirstName(name.data(), name.size(), &overlong[0]));
    EXPECT_EQ(std::string(name.data()), std::string(kNameSize - 1, 'n'));
    EXPECT_STREQ(overlong.c_str(), "next");
    const std::pair<std::string, std::string> names[] = {  // what the name becomes, or nothing when refused
        {"clip", "clip.Qvl"}, {"clip.", "clip."}, {"dir.d\\clip.x", "dir.d\\clip.x"}, {"dir.d\\clip", "dir.d\\clip.Qvl"}, {":94720", ":94720"},
        {"c:clip", "c:clip.Qvl"}, {"a.b:clip", "a.b:clip.Qvl"}, {".qvl", ".qvl"}, {"dir/clip.qvl", "dir/clip.qvl"},  // only "\" separates folders
                 {std::string(kNameSize - 5, 'x'), std::string(kNameSize - 5, 'x') + ".Qvl"}, {std::string(kNameSize - 4, 'x'), ""}};
    for (const auto& [in, out] : names) {
        std::vector<char> buffer(in.begin(), in.end());
        buffer.resize(kNameSize);
        EXPECT_EQ(AddDefaultExtension(buffer.data(), buffer.size()), !out.empty()) << in;
        EXPECT_EQ(std::string(buffer.data()), out.empty() ? in : out);
    }
}

// Durations pick their units and the singular; ratios round down to one
// decimal in 64 bits, a divisor of 0 counting as 1; every text is cut to its
// buffer, even with a display description that is not terminated.
TEST(Texts, SummaryNumbersAndLimits) {
    const std::pair<uint32_t, const char*> durations[] = {
        {1, "1 millisecond"}, {999, "999 milliseconds"}, {61000, "1 minute 1 second"}, {3660000, "1 hour 1 minute"},
        {0xFFFFFFFFu, "1193 hours 2 minutes"}};
    char text[64];
    for (const auto& [ms, want] : durations) EXPECT_STREQ((FormatDuration(text, sizeof text, ms), text), want) << ms;
    const std::pair<uint64_t, uint32_t> ratios[] = {{100000, 6666}, {319000, 20000}, {5, 0}, {5000000000, 1000}, {500000005, 10}};
    const char* quotients[] = {"15.0", "15.9", "5.0", "5000000.0", "50000000.5"};
    for (int i = 0; i < 5; ++i) EXPECT_STREQ((WriteRatio(text, sizeof text, ratios[i].first, ratios[i].second), text), quotients[i]);
    std::memset(text, 'x', sizeof text);
    EXPECT_TRUE(DescribeDisplayText(text, 8, 4, true, "8-bit 2x") == 7 && std::string(text, 9) == std::string("Standar\0x", 9));
    EXPECT_TRUE(DescribeDisplayText(text, 0, 4, true, nullptr) == 0 && text[0] == 'S');  // no room: untouched
    SummaryFigures f{};
    f.record.FramesDecoded = 300, f.record.TotalTime = 20000, f.record.FrameTime = 6666;
    std::memset(f.display, 'D', sizeof f.display);
    std::vector<char> whole(kSummaryTextSize, 'x');
    const size_t n = ComposeSummary(whole.data(), whole.size(), f);
    EXPECT_EQ(std::string(whole.data()).substr(n - 144), "Display blitter: " + std::string(kDisplayDescriptionSize - 1, 'D'));
    std::fill(whole.begin(), whole.end(), 'x');
    EXPECT_EQ(ComposeSummary(whole.data(), 32, f), 31u);
    EXPECT_EQ(std::string(whole.data(), 33), std::string("  Frame rate: 15.0\r\n  Frame rate obtained: 15.0").substr(0, 31) + '\0' + 'x');
    const std::string a(1000, 'a'), b(1000, 'b'), c(1000, 'c');  // box texts are joined and cut at 2048 bytes
    ComposeMessageText(whole.data(), whole.size(), a.c_str(), b.c_str(), c.c_str());
    EXPECT_EQ(std::string(whole.data()), (a + b + c).substr(0, kMessageTextSize - 1));
}

// Function keys give 208 on, with Shift 218 on and with Ctrl 228 on (Shift
// first); a move puts the client area's left edge on the nearest multiple of
// 8, a remainder of 4 rounding down.
TEST(Texts, FunctionKeysAndLeftEdge) {
    const int fkeys[][4] = {{112, 0, 0, 208}, {121, 1, 0, 227}, {112, 0, 1, 228}, {115, 1, 1, 221}, {122, 0, 0, -1}};
    for (const auto& k : fkeys) EXPECT_EQ(KeyCodeFor(KeySource::KeyDown, k[0], k[1], k[2], 0), k[3]) << k[0] << " " << k[1] << k[2];
    for (int32_t x = -40; x < 40; x++)
        for (int32_t left : {0, 1, 3, 4, 8}) {
            const int32_t client = AlignLeftEdge(x, left) + left, moved = client - (x + left);
            EXPECT_TRUE(client % 8 == 0 && moved >= -4 && moved <= 3) << x << " " << left;
        }
}

std::string Slurp(const std::string& path) { std::ifstream f(path, std::ios::binary); return {std::istreambuf_iterator<char>(f), {}}; }

// An "executable" of a pattern with a self-play area (the tag and 216
// bytes: `text`, then zeros) at `tagAt`, and maybe a second tag.
std::string Player(size_t size, size_t tagAt, const char* text = "", size_t secondTag = 0) {
    std::string exe(size, ' ');
    for (size_t i = 0; i < size; i++) exe[i] = static_cast<char>(0x20 + i % 90);
    exe.replace(tagAt, 8 + 216, "SELFPLAY" + std::string(216, '\0')).replace(tagAt + 8, std::strlen(text), text);
    return secondTag ? exe.replace(secondTag, 8, "SELFPLAY") : exe;
}

// The movie starts on the next 4096-byte boundary after the player (zeros
// between); the area names its offset and the switches (default or given,
// at most 215 bytes with a terminator); nothing else changes, permissions
// included. What cannot be used is refused with exit code 1 and one line,
// usage errors with 2.
TEST(SelfPlayTool, AppendsTheMovieOrRefuses) {
    char pattern[] = "/tmp/quarvel-selfplay-test.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = std::string(pattern) + "/";
    auto read = [&](const std::string& name) { return Slurp(dir + name); };
    std::string movie = "QVL2";
    for (size_t i = 4; i < 5000; i++) movie += static_cast<char>(i * 7 + 3);
    const std::pair<const char*, std::string> files[] = {{"m.qvl", movie}, {"notmovie.qvl", std::string(300, 'x')}, {"short.qvl", "QVL2"},
                                                         {"notag.exe", std::string(5000, 'a')}, {"two.exe", Player(5000, 1000, "", 4000)},
                                                         {"filled.exe", Player(5000, 1000, ":4096")}};
    for (const auto& [name, bytes] : files) std::ofstream(dir + name, std::ios::binary) << bytes;
    const std::string x209(209, 'x');
    const struct {
        std::string args;  // a player of that size with its area at that offset is p.exe
        size_t size, tagAt;
        int code;
        std::string want;  // the area's text, or what stderr says
    } cases[] = {{"p.exe m.qvl o.exe", 10000, 3000, 0, ":12288 /W640/I4/J/D2/T1/U2/A2"},
                 {"--switches '' p.exe m.qvl o.exe", 8192, 100, 0, ":8192"},
                 {"--switches " + x209 + " p.exe m.qvl o.exe", 4096, 0, 0, ":4096 " + x209},
                 {"--switches " + x209 + "x p.exe m.qvl o.exe", 4096, 0, 1, "at most 215"},
                 {"notag.exe m.qvl o.exe", 0, 0, 1, "has no self-play area"}, {"two.exe m.qvl o.exe", 0, 0, 1, "2 times"},
                 {"filled.exe m.qvl o.exe", 0, 0, 1, "already self-playing"}, {"nothing.exe m.qvl o.exe", 0, 0, 1, "cannot open"},
                 {"p.exe nothing.qvl o.exe", 0, 0, 1, "cannot open"}, {"p.exe notmovie.qvl o.exe", 0, 0, 1, "is not a Quarvel movie"},
                 {"p.exe short.qvl o.exe", 0, 0, 1, "is not a Quarvel movie"}, {"p.exe m.qvl no/such/dir/o.exe", 0, 0, 1, "cannot create"},
                 {"", 0, 0, 2, "usage: quarvselfplay"}, {"a b", 0, 0, 2, "usage"}, {"--bogus a b c", 0, 0, 2, "unknown option --bogus"},
                 {"a b c --switches", 0, 0, 2, "usage"}, {"--help", 0, 0, 0, ""}};
    for (const auto& c : cases) {
        if (c.size) std::ofstream(dir + "p.exe", std::ios::binary) << Player(c.size, c.tagAt);
        chmod((dir + "p.exe").c_str(), 0751);
        const int status = std::system(("cd '" + dir + "' && " + QUARVEL_BIN_DIR + "/quarvselfplay " + c.args + " >/dev/null 2>err").c_str());
        ASSERT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, c.code) << c.args;
        const std::string err = read("err");
        EXPECT_TRUE(!c.code || (err.find(c.want) != std::string::npos && (c.code == 2 || std::count(err.begin(), err.end(), '\n') == 1)))
            << c.args << ": " << err;
        std::string want = c.code || !c.size ? "" : Player(c.size, c.tagAt, c.want.c_str());  // nothing left behind on a refusal
        if (!want.empty()) want.resize((c.size + 4095) / 4096 * 4096, '\0'), want += movie;
        struct stat st;
        EXPECT_TRUE(read("o.exe") == want && (want.empty() || (stat((dir + "o.exe").c_str(), &st) == 0 && (st.st_mode & 0777) == 0751))) << c.args;
        EXPECT_NE(access((dir + "o.exe.part").c_str(), F_OK), 0);
        std::remove((dir + "o.exe").c_str());
    }
    std::system(("rm -rf '" + dir + "'").c_str());
}

}  // namespace
