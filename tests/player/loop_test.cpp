// The playback loop driven through a stand-in host (the library, window,
// display, keys and focus), as the player runs it: which movies open, which
// frames are shown and drawn, and what switches, keys, the focus, palettes
// and failures do to the run. Each case plays names under switches and
// compares the events the host saw, filtered by kind, with what must happen.
// (Escape, Alt+F4, /U4, "." in a list, a missing name, default extensions,
// one name with /L2, /Q and /D are played on the real program under Wine.)
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "display/display.h"
#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/loop_rules.h"
#include "player/playback_loop.h"
#include "player/settings.h"
#include "player/summary.h"

namespace {

// Events are logged as tokens without blanks: "open:a.qvl", "@a3" (frame 3
// of a.qvl decoded), "w" (a wait pass), "sound:0", "blit:dc@1,2:3x4", ...
class Host : public PlaybackHost {
public:
    // Files and knobs, e.g. "a.qvl=4 own=2 pal=0,2 free=236 rects=3 whole=2
    // nowindow soundfail=5 key=32@3 key=13@6+50 lost=3:0-40 playout=3 gone=2":
    // a key code once that many frames were decoded (and, after "+", idle
    // wait passes went by); the focus lost while 3 frames were decoded, idle
    // passes 0..39; the sound still playing out for 3 passes after a movie's
    // end; the window taken away once 2 frames were decoded.
    explicit Host(const std::string& script) {
        std::istringstream in(script);
        for (std::string item; in >> item;) {
            const std::string key = item.substr(0, item.find('=')), value = item.substr(key.size() + (key.size() < item.size()));
            if (std::array<uint32_t, 3> k{}; key == "key" && std::sscanf(value.c_str(), "%u@%u+%u", &k[0], &k[1], &k[2]) >= 2) keys_.push_back(k);
            if (key == "lost") std::sscanf(value.c_str(), "%u:%u-%u", &lost_[0], &lost_[1], &lost_[2]);
            for (std::istringstream v(value); key == "pal" && std::getline(v, item, ',');) palettes_.push_back(std::stoul(item));
            if (key != "key" && key != "lost" && key != "pal") knobs_[key] = value.empty() ? 1 : std::stoul(value);
        }
    }
    ~Host() override { EXPECT_TRUE(movies_.empty()) << "every movie opened is closed"; }
    std::vector<std::string> log;

    void SimulateRate(uint32_t rate) override { Log("rate=", rate); }
    void SetFrameRate(int32_t rate) override { Log("fps=", rate); }
    Movie* OpenMovie(const char* name, uint32_t flags, uint32_t extra) override {
        Log("open:", name), Log("flags:", std::hex, flags, "/", extra);
        return knobs_.count(name) ? Make(std::string(name).substr(0, std::string(name).rfind('.')), knobs_[name]) : nullptr;
    }
    Movie* OpenOwnImage(uint32_t offset, uint32_t flags, uint32_t extra) override {
        Log("own:", offset), Log("flags:", std::hex, flags, "/", extra);
        return knobs_["own"] ? Make("self", knobs_["own"]) : nullptr;
    }
    void CloseMovie(Movie* movie) override { Log("close:", names_[movie]), movies_.erase(movie); }
    void SoundSetWindow() override { Log("sndwin"); }
    void ToBuffer(Movie*, int32_t pitch, uint32_t h, void* px, uint32_t flags) override {
        Log("tobuf:", pitch, "x", h, px == pixels_.data() ? "/" : "?", flags);
    }
    void ColorRemap(Movie*, const uint8_t* palette, uint32_t count, uint32_t layout) override {
        Log(palette == display_.palette ? "remap:" : "remap?", count, "/", layout);
    }
    uint32_t DoFrame(Movie* movie) override { return ++decoded_, idle_ = 0, rect_ = 0, outs_ = 0, Log("@", names_[movie], movie->FrameNum), 1; }
    uint32_t ToBufferNext(Movie* movie, uint32_t mode) override {
        if (rect_ == knobs_["rects"]) return 0;
        movie->LastRect = QuarvRect{static_cast<int32_t>(++rect_), 2, 3, 4};
        return Log("next:", mode), 1;
    }
    void NextFrame(Movie* m) override { m->FrameNum = (m->FrameNum + 1) % m->Header.Frames, m->NewPalette = HasPalette(m->FrameNum); }
    uint32_t SoundOnOff(Movie*, uint32_t on) override { return Log("sound:", on), on == 1 && knobs_["soundfail"] ? (knobs_["soundfail"]--, 0) : 1; }
    uint32_t Wait(Movie*) override {
        if (++waits_ > 100000) throw std::runtime_error("the loop never got past its wait");
        return Log("w"), idle_++ == 0 ? 1 : 0;  // each frame is due on the second pass
    }
    uint32_t PlayOut(Movie*) override {
        if (++waits_ > 100000) throw std::runtime_error("the play-out never ended");
        return ++idle_, Log("po"), ++outs_ <= knobs_["playout"] ? 1 : 0;
    }
    bool WindowLost() override { return knobs_["gone"] && decoded_ >= knobs_["gone"]; }
    void Summary(Movie* movie, PlaybackSummary*) override { Log("summary:", names_[movie]); }
    void SetDisplayMode(int32_t mode) override { Log("mode:", mode); }
    bool OpenWindow(uint32_t w, uint32_t h, int32_t x, int32_t y, uint32_t flags) override {
        Log("window:", w, "x", h, "@", x, ",", y, "/", flags);
        display_.width = w, display_.height = h, display_.pitch = (w + 7) & ~7u, display_.bottomUp = 1, display_.memoryKind = 1;
        display_.paletteSize = 236, display_.freeColours = knobs_["free"] ? knobs_["free"] : 256, display_.paletteLayout = 6;
        pixels_.assign(display_.pitch * h, 0x55);
        display_.pixels = pixels_.data();
        return !knobs_["nowindow"];
    }
    void CloseWindow() override { Log("closewin"); }
    QuarvBuffer* Display() override { return &display_; }
    bool KeyWaiting() override { return !keys_.empty() && decoded_ >= keys_.front()[1] && idle_ >= keys_.front()[2]; }
    int GetKey() override {
        const int key = static_cast<int>(keys_.front()[0]);
        return keys_.erase(keys_.begin()), Log("key:", key), key;
    }
    bool DisplayFocused() override { return !(decoded_ == lost_[0] && idle_ >= lost_[1] && idle_ < lost_[2]); }
    void SetCaption(const char*) override { Log("cap"); }
    void ShowMessage(const char* a, const char* b, const char* c, int icon) override {
        const std::string all = std::string(a ? a : "") + "|" + (b ? b : "") + "|" + (c ? c : "") + "|" + std::to_string(icon);
        const bool file = all.rfind("  Error opening file: |", 0) == 0 && all.size() > 27 && all.substr(all.size() - 4) == "|.|1";
        Log(file ? "box:file:" + all.substr(23, all.size() - 27) : all == "  Error opening graphics buffer.|||1" ? "box:buffer" : "box?" + all);
    }
    void ShowSummary() override {}  // the figures shown are checked on the real program
    void UpdatePalette(const uint8_t colours[768]) override { Log("pal:", colours[0] == 0xEE ? "screen" : "movie", int(colours[0])); }
    void ReadScreenPalette(uint8_t colours[768]) override { std::memset(colours, 0xEE, 768); }
    void* GetDrawContext() override { return &dc_; }
    void ReleaseDrawContext(void* dc) override { Log(dc == &dc_ ? "release:dc" : "release?"); }
    void StartRects() override { Log("start"); }
    void FlushRects() override { Log("flush"); }
    uint32_t Blit(void* dc, int32_t x, int32_t y, int32_t w, int32_t h) override {
        Log("blit:", dc == &dc_ ? "dc" : dc ? "other" : "none", "@", x, ",", y, ":", w, "x", h);
        const uint8_t* row = display_.pixels;  // the progress bar of a 1-line display: colour 9, then 0
        const uint32_t n = uint32_t(std::find_if(row, row + display_.width, [](uint8_t v) { return v != 9; }) - row);
        if (display_.height == 1) Log(std::all_of(row + n, row + display_.width, [](uint8_t v) { return v == 0; }) ? "bar:" : "bar?", n);
        return rect_ && rect_ == knobs_["whole"] ? 256 : 0;
    }
    void Clear(uint32_t colour) override { Log("clear:", colour); }

private:
    template <class... Parts>
    void Log(const Parts&... parts) {
        std::ostringstream o;
        (o << ... << parts);
        log.push_back(o.str());
    }
    uint32_t HasPalette(uint32_t frame) const { return std::count(palettes_.begin(), palettes_.end(), frame) ? 1 : 0; }
    Movie* Make(const std::string& name, uint32_t frames) {
        auto m = std::make_unique<Movie>();
        std::memset(m.get(), 0, sizeof(Movie));
        m->Header.Width = 64, m->Header.Height = 48, m->Header.Frames = frames;
        m->NewPalette = HasPalette(0);
        std::memset(m->Palette, 0x40 + opened_++, 768);
        names_[m.get()] = name;
        return (movies_[m.get()] = std::move(m)).get();
    }

    std::map<std::string, uint32_t> knobs_;  // files and their frame counts too
    std::vector<uint32_t> palettes_;         // frames that bring a new palette
    std::vector<std::array<uint32_t, 3>> keys_;
    uint32_t lost_[3] = {0, 0, 0}, opened_ = 0, decoded_ = 0, idle_ = 0, waits_ = 0, rect_ = 0, outs_ = 0;
    std::map<Movie*, std::unique_ptr<Movie>> movies_;
    std::map<Movie*, std::string> names_;
    QuarvBuffer display_{};
    std::vector<uint8_t> pixels_;
    int dc_ = 0;
};

struct Case {
    const char *why, *switches, *names, *script;
    const char* kinds;  // the event kinds compared: token prefixes
    const char* events;
};
void PrintTo(const Case& c, std::ostream* os) { *os << c.why; }

const Case kCases[] = {
    {"one movie to its last frame, each frame due before the next, then all taken down", "", "clip.qvl", "clip.qvl=3",
     "rate fps open flags window tobuf @ w summary close", "rate=0 fps=-1 open:clip.qvl flags:fe000/ffffffff window:64x48@-1,-1/0 "
     "tobuf:64x48/1 @clip0 w w @clip1 w w @clip2 w w summary:clip close:clip closewin"},
    {"/L2: two names A B A B in one window", "/L2", "a.qvl b.qvl", "a.qvl=2 b.qvl=3", "open @ closewin",
     "open:a.qvl @a0 @a1 open:b.qvl @b0 @b1 @b2 open:a.qvl @a0 @a1 open:b.qvl @b0 @b1 @b2 closewin"},
    {"own image at its offset", "/P /T1", ":94720", "own=2", "own flags @", "own:94720 flags:3200/ffffffff @self0 @self1"},
    {"own-image offset past a signed file position", "", ":2147483648", "own=1", "own box", "box:file::2147483648"},
    {"no window: the movie closed unplayed, all ends", "/L2", "a.qvl b.qvl", "a.qvl=2 b.qvl=2 nowindow", "open box summary @",
     "open:a.qvl box:buffer summary:a"},
    {"a period ends a single movie with loops left", "/L3", "a.qvl", "a.qvl=10 key=46@4", "@", "@a0 @a1 @a2 @a3"},
    {"Space pauses the sound too, Enter steps one frame", "", "a.qvl", "a.qvl=8 key=32@3 key=13@3 key=13@4 key=13@5 key=32@6+50",
     "@ sound", "@a0 @a1 @a2 sound:0 @a3 @a4 @a5 sound:255 @a6 @a7"},
    {"a pause carries over to the next movie", "", "a.qvl b.qvl", "a.qvl=3 b.qvl=3 key=32@3 key=13@3 key=32@4+20", "@ sound",
     "@a0 @a1 @a2 sound:0 @b0 sound:255 @b1 @b2"},
    {"no focus: no sound, no picture", "", "a.qvl", "a.qvl=5 lost=3:0-40", "@ sound", "@a0 @a1 @a2 sound:0 sound:1 @a3 @a4"},
    {"/J plays without the focus", "/J", "a.qvl", "a.qvl=3 lost=1:0-99999", "@ sound", "@a0 @a1 @a2"},
    {"sound that will not restart is asked again", "", "a.qvl", "a.qvl=3 soundfail=5 lost=2:0-3", "sound @",
     "@a0 @a1 sound:0 sound:1 sound:1 sound:1 sound:1 sound:1 sound:1 @a2"},
    {"paused as the focus returns: sound on, the picture waits", "", "a.qvl", "a.qvl=4 key=32@2 key=32@2+80 lost=2:11-30", "@ sound",
     "@a0 @a1 sound:0 sound:0 sound:1 sound:255 @a2 @a3"},
    {"every changed rectangle, collected, in the window's context", "", "a.qvl", "a.qvl=1 rects=3", "start next blit flush release",
     "start next:1 blit:dc@1,2:3x4 next:1 blit:dc@2,2:3x4 next:1 blit:dc@3,2:3x4 flush release:dc"},
    {"no more rectangles once all was drawn", "", "a.qvl", "a.qvl=1 rects=3 whole=2", "next blit flush",
     "next:1 blit:dc@1,2:3x4 next:1 blit:dc@2,2:3x4 flush"},
    {"new palettes to the display, remapped first if colours are short", "", "a.qvl", "a.qvl=3 pal=0,2 free=236", "pal remap @",
     "pal:movie64 remap:236/6 @a0 @a1 pal:movie64 remap:236/6 @a2"},
    {"a full palette needs no remap", "", "a.qvl", "a.qvl=2 pal=0", "pal remap @", "pal:movie64 @a0 @a1"},
    {"/R2 never remaps", "/R2", "a.qvl", "a.qvl=2 pal=0 free=20", "pal remap @", "pal:movie64 @a0 @a1"},
    {"/R1 takes the screen's palette", "/R1", "a.qvl", "a.qvl=2 pal=1 free=200", "pal remap @", "@a0 pal:screen238 remap:236/6 @a1"},
    {"/O: a growing bar, no picture", "/O", "a.qvl", "a.qvl=4 pal=0,1", "window tobuf pal bar", "window:160x1@-1,-1/24 bar:1 bar:41 bar:81 bar:121"},
    {"a movie that ends by itself plays its sound out, then closes; one skipped closes at once", "", "a.qvl b.qvl",
     "a.qvl=2 b.qvl=2 playout=3 key=46@1", "@ po key summary", "@a0 key:46 summary:a @b0 @b1 po po po po summary:b"},
    {"quit during the play-out ends it", "", "a.qvl b.qvl", "a.qvl=2 b.qvl=2 playout=3 key=27@2+3", "@ w po key summary",
     "window:64x48@-1,-1/0 @a0 w w @a1 w w po key:27 summary:a"},
    {"a window taken away ends the playback as closing it does", "", "a.qvl b.qvl", "a.qvl=5 b.qvl=2 gone=2", "@ summary closewin",
     "@a0 @a1 summary:a closewin"},
    {"settings reach the library, the window and DirectSound", "/M150000 /F-40 /E65536 /X0 /Y16 /I4 /V4 /Z", "a.qvl", "a.qvl=1",
     "rate fps flags window sndwin", "rate=150000 fps=-4000 flags:fe880/10000 window:64x48@0,16/16921 sndwin"},
};

class Loop : public ::testing::TestWithParam<Case> {};

TEST_P(Loop, PlaysAsTheSwitchesAndKeysSay) {
    const Case& c = GetParam();
    ResetPlayerSettings(), UseDirectSoundHook = [] { return true; };
    std::memset(&SummaryData(), 0, sizeof(SummaryFigures));
    std::string switches = c.switches;
    ASSERT_TRUE(ParseSwitches(&switches[0])) << c.switches;
    std::string got, kind;
    {
        Host host(c.script);
        ASSERT_NO_THROW(RunPlayback(c.names, host));
        for (const std::string& e : host.log)
            for (std::istringstream kinds(c.kinds); kinds >> kind;)
                if (e.rfind(kind, 0) == 0) got += (got.empty() ? "" : " ") + e, kinds.setstate(std::ios::eofbit);
    }
    EXPECT_EQ(got, c.events) << c.why;
}

INSTANTIATE_TEST_SUITE_P(Cases, Loop, ::testing::ValuesIn(kCases));

// The bar of /O: FrameNum x width / Frames + 1 pixels of colour 9, only the
// low 8 bits of that, never more than the row (the ring frame is numbered
// Frames), and no division by zero for a movie without frames.
TEST(LoopRules, ProgressBarStaysInsideItsRow) {
    const uint32_t cases[][4] = {{8, 0, 4, 1},          {8, 3, 4, 7},        {8, 4, 4, 8},       {8, 0, 0, 1},
                                 {160, 2062, 2062, 160}, {160, 30000000, 30000001, 160}, {300, 255, 300, 0}, {300, 100, 300, 101}};
    for (const auto& c : cases) {
        std::vector<uint8_t> row(c[0] + 1, 0x77);
        EXPECT_EQ(DrawProgressBar(row.data(), c[0], c[1], c[2]), c[3]) << c[0] << " " << c[1] << "/" << c[2];
        for (uint32_t i = 0; i <= c[0]; i++) ASSERT_EQ(row[i], i < c[3] ? 9 : i < c[0] ? 0 : 0x77) << i;
    }
}

}  // namespace
