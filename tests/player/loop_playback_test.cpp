// The playback loop driven through stand-ins for the library, the window
// and the display: which movies open, which frames are shown, and what keys,
// the focus, palettes and failures do to the run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "display/display.h"
#include "movie/movie.h"
#include "player/playback_loop.h"
#include "player/settings.h"
#include "player/summary.h"

namespace {

struct ScriptedKey {
    uint32_t afterFrames;  // available once this many frames were decoded in all
    uint32_t idleWaits;    // ... and this many wait passes went by since the last
    int key;
};

class FakeHost : public PlaybackHost {
public:
    // Movies that open, by the name the loop asks for, with their frame counts.
    std::map<std::string, uint32_t> files;
    uint32_t ownImageFrames = 0;  // 0: the own executable holds no movie
    std::vector<ScriptedKey> keys;
    std::function<bool()> focused = [] { return true; };
    bool windowOpens = true;
    uint32_t freeColours = 256;
    std::vector<uint32_t> paletteFrames;  // frames that carry a new palette
    int soundOnFailures = 0;              // SoundOnOff(.., 1) fails this often first
    uint32_t rectsPerFrame = 1;
    uint32_t wholeBufferAtRect = 0;  // Blit answers 256 at this rectangle of a frame (1-based), 0 never
    uint32_t playOutPasses = 0;      // PlayOut answers 1 this often after a frame, then 0

    std::vector<std::string> log;
    std::vector<std::string> shown;  // "name:frame" for every frame decoded
    std::vector<std::string> messages;
    std::vector<std::string> captions;
    uint32_t framesDecoded = 0;
    uint32_t idleWaits = 0;
    uint32_t totalWaits = 0;
    uint32_t playOuts = 0;
    uint32_t waitsAtLastFrame = 0, waitsAtSummary = 0;
    uint32_t windowWidth = 0, windowHeight = 0;
    std::vector<uint8_t> lastScreenRow;
    int openMovies = 0;

    ~FakeHost() override { delete display_; }

    void SimulateRate(uint32_t rate) override { log.push_back("rate " + std::to_string(rate)); }
    void SetFrameRate(int32_t rate) override { log.push_back("fps " + std::to_string(rate)); }
    Movie* OpenMovie(const char* name, uint32_t flags, uint32_t extra) override {
        log.push_back("open " + std::string(name));
        openFlags = flags;
        openExtra = extra;
        auto it = files.find(name);
        return it == files.end() ? nullptr : Make(name, it->second);
    }
    Movie* OpenOwnImage(uint32_t offset, uint32_t flags, uint32_t extra) override {
        log.push_back("own " + std::to_string(offset));
        openFlags = flags;
        return ownImageFrames ? Make("self", ownImageFrames) : nullptr;
    }
    void CloseMovie(Movie* movie) override {
        log.push_back("close " + NameOf(movie));
        movies_.erase(std::remove_if(movies_.begin(), movies_.end(),
                                     [movie](const std::unique_ptr<Entry>& e) { return &e->movie == movie; }),
                      movies_.end());
        openMovies--;
    }
    void SoundSetWindow() override { log.push_back("sound window"); }
    void ToBuffer(Movie* movie, int32_t pitch, uint32_t height, void* pixels, uint32_t flags) override {
        log.push_back("to buffer " + std::to_string(pitch) + "x" + std::to_string(height) +
                      (pixels == display_->pixels ? " display" : " elsewhere") + " flags " + std::to_string(flags));
    }
    void ColorRemap(Movie*, const uint8_t* palette, uint32_t count, uint32_t layout) override {
        log.push_back(std::string("remap ") + (palette == display_->palette ? "display palette " : "other ") +
                      std::to_string(count) + " " + std::to_string(layout));
    }
    uint32_t DoFrame(Movie* movie) override {
        framesDecoded++;
        idleWaits = 0;
        waitsAtLastFrame = totalWaits;
        shown.push_back(NameOf(movie) + ":" + std::to_string(movie->FrameNum));
        log.push_back("frame " + shown.back());
        rectsLeft_ = rectsPerFrame;
        rectIndex_ = 0;
        playOutsSinceFrame_ = 0;
        return 1;
    }
    uint32_t ToBufferNext(Movie* movie, uint32_t mode) override {
        if (!rectsLeft_) return 0;
        rectsLeft_--;
        rectIndex_++;
        movie->LastRect = QuarvRect{static_cast<int32_t>(rectIndex_), 2, 3, 4};
        log.push_back("next rect mode " + std::to_string(mode));
        return 1;
    }
    void NextFrame(Movie* movie) override {
        Entry* e = EntryOf(movie);
        movie->FrameNum = (movie->FrameNum + 1) % e->frames;
        movie->NewPalette = std::count(paletteFrames.begin(), paletteFrames.end(), movie->FrameNum) ? 1 : 0;
    }
    uint32_t SoundOnOff(Movie*, uint32_t on) override {
        log.push_back("sound " + std::to_string(on));
        if (on == 1 && soundOnFailures > 0) {
            soundOnFailures--;
            return 0;
        }
        return 1;
    }
    uint32_t Wait(Movie*) override {
        if (++totalWaits > 200000) throw std::runtime_error("the loop never got past its wait");
        // Each frame is due on the second pass.
        return idleWaits++ == 0 ? 1 : 0;
    }
    uint32_t PlayOut(Movie* movie) override {
        playOuts++;
        idleWaits++;
        if (playOutsSinceFrame_++ == 0) log.push_back("play out " + NameOf(movie));
        return playOutsSinceFrame_ <= playOutPasses ? 1 : 0;
    }
    void Summary(Movie* movie, PlaybackSummary* s) override {
        log.push_back("summary " + NameOf(movie));
        waitsAtSummary = totalWaits;
        s->FramesDecoded = 1000 + static_cast<uint32_t>(movie->Header.Frames);
    }

    void SetDisplayMode(int32_t mode) override { log.push_back("mode " + std::to_string(mode)); }
    bool OpenWindow(uint32_t w, uint32_t h, int32_t x, int32_t y, uint32_t flags) override {
        log.push_back("window " + std::to_string(w) + "x" + std::to_string(h) + " at " + std::to_string(x) + "," +
                      std::to_string(y) + " flags " + std::to_string(flags));
        if (!windowOpens) return false;
        windowWidth = w;
        windowHeight = h;
        if (!display_ || display_->width != w || display_->height != h) MakeDisplay(w, h);
        return true;
    }
    void CloseWindow() override { log.push_back("close window"); }
    QuarvBuffer* Display() override { return display_; }
    bool KeyWaiting() override {
        return !keys.empty() && framesDecoded >= keys.front().afterFrames && idleWaits >= keys.front().idleWaits;
    }
    int GetKey() override {
        const int key = keys.front().key;
        keys.erase(keys.begin());
        log.push_back("key " + std::to_string(key));
        return key;
    }
    bool DisplayFocused() override { return focused(); }
    bool WindowLost() override { return false; }
    void SetCaption(const char* text) override { captions.push_back(text); }
    void ShowMessage(const char* a, const char* b, const char* c, int icon) override {
        messages.push_back(std::string(a ? a : "") + "|" + (b ? b : "") + "|" + (c ? c : "") + "|" +
                           std::to_string(icon));
        log.push_back("message");
    }
    void ShowSummary() override { log.push_back("show summary " + std::to_string(SummaryData().record.FramesDecoded)); }

    void UpdatePalette(const uint8_t colours[768]) override {
        log.push_back(std::string("palette ") + (colours[0] == 0xEE ? "screen" : "movie " + std::to_string(colours[0])));
    }
    void ReadScreenPalette(uint8_t colours[768]) override { std::memset(colours, 0xEE, 768); }
    void* GetDrawContext() override { return &dc_; }
    void ReleaseDrawContext(void* dc) override { log.push_back(dc == &dc_ ? "release dc" : "release other"); }
    void StartRects() override { log.push_back("start rects"); }
    void FlushRects() override { log.push_back("flush rects"); }
    uint32_t Blit(void* dc, int32_t x, int32_t y, int32_t w, int32_t h) override {
        log.push_back(std::string("blit ") + (dc == &dc_ ? "dc " : dc ? "other " : "none ") + std::to_string(x) + "," +
                      std::to_string(y) + " " + std::to_string(w) + "x" + std::to_string(h));
        if (display_ && display_->height == 1)
            lastScreenRow.assign(display_->pixels, display_->pixels + display_->width);
        return wholeBufferAtRect && rectIndex_ == wholeBufferAtRect ? 256 : 0;
    }
    void Clear(uint32_t colour) override { log.push_back("clear " + std::to_string(colour)); }

    uint32_t openFlags = 0, openExtra = 0;

    // The log entries that start with `prefix`.
    std::vector<std::string> Only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& s : log)
            if (s.compare(0, prefix.size(), prefix) == 0) out.push_back(s);
        return out;
    }
    // The index of the first log entry equal to `s`, or -1.
    int IndexOf(const std::string& s, int from = 0) const {
        for (size_t i = static_cast<size_t>(from); i < log.size(); i++)
            if (log[i] == s) return static_cast<int>(i);
        return -1;
    }

private:
    struct Entry {
        Movie movie;
        std::string name;
        uint32_t frames;
    };
    Movie* Make(const std::string& name, uint32_t frames) {
        auto e = std::make_unique<Entry>();
        std::memset(&e->movie, 0, sizeof e->movie);
        e->movie.Header.Width = 64;
        e->movie.Header.Height = 48;
        e->movie.Header.Frames = frames;
        e->movie.NewPalette = std::count(paletteFrames.begin(), paletteFrames.end(), 0u) ? 1 : 0;
        for (int i = 0; i < 768; i++) e->movie.Palette[i] = static_cast<uint8_t>(0x40 + movies_.size());
        e->movie.PeakRate = 500 + frames;
        e->movie.PeakFrame = 7;
        e->name = name;
        e->frames = frames;
        movies_.push_back(std::move(e));
        openMovies++;
        return &movies_.back()->movie;
    }
    Entry* EntryOf(Movie* m) {
        for (auto& e : movies_)
            if (&e->movie == m) return e.get();
        throw std::runtime_error("a movie that is not open");
    }
    std::string NameOf(Movie* m) { return EntryOf(m)->name; }
    void MakeDisplay(uint32_t w, uint32_t h) {
        delete display_;
        display_ = new QuarvBuffer;
        std::memset(display_, 0, sizeof *display_);
        display_->width = w;
        display_->height = h;
        display_->pitch = (w + 7) & ~7u;
        pixels_.assign(display_->pitch * h, 0x55);
        display_->pixels = pixels_.data();
        display_->bottomUp = 1;
        display_->memoryKind = 1;
        display_->paletteSize = 236;
        display_->freeColours = freeColours;
        display_->paletteLayout = 6;
    }

    std::vector<std::unique_ptr<Entry>> movies_;
    QuarvBuffer* display_ = nullptr;
    std::vector<uint8_t> pixels_;
    int dc_ = 0;
    uint32_t rectsLeft_ = 0, rectIndex_ = 0, playOutsSinceFrame_ = 0;
};

class LoopPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        ResetPlayerSettings();
        std::memset(&SummaryData(), 0, sizeof(SummaryFigures));
    }
    void TearDown() override { ResetPlayerSettings(); }

    void Play(const char* names) {
        ASSERT_NO_THROW(RunPlayback(names, host));
        EXPECT_EQ(host.openMovies, 0) << "every opened movie is closed";
    }

    static std::vector<std::string> Frames(const std::string& name, uint32_t from, uint32_t to) {
        std::vector<std::string> out;
        for (uint32_t f = from; f <= to; f++) out.push_back(name + ":" + std::to_string(f));
        return out;
    }
    static std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> out;
        for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
        return out;
    }

    FakeHost host;
};

TEST_F(LoopPlayback, OneMoviePlaysToItsLastFrameThenEverythingIsTakenDown) {
    host.files["clip.qvl"] = 4;
    Play("clip.qvl");
    EXPECT_EQ(host.shown, Frames("clip.qvl", 0, 3));
    const std::vector<std::string> expectedStart = {
        "rate 0", "fps -1", "open clip.qvl", "window 64x48 at -1,-1 flags 0", "to buffer 64x48 display flags 1"};
    ASSERT_GE(host.log.size(), expectedStart.size());
    EXPECT_EQ(std::vector<std::string>(host.log.begin(), host.log.begin() + 5), expectedStart);
    const std::vector<std::string> expectedEnd = {"summary clip.qvl", "close clip.qvl", "close window"};
    EXPECT_EQ(std::vector<std::string>(host.log.end() - 3, host.log.end()), expectedEnd)
        << "no summary box, no mode change without /S and /D";
    EXPECT_EQ(host.openFlags, OPEN_ALL_TRACKS);
    EXPECT_EQ(host.openExtra, 0xFFFFFFFFu);
    EXPECT_EQ(SummaryData().peakRate, 504u);
    EXPECT_EQ(SummaryData().peakFrame, 7u);
}

TEST_F(LoopPlayback, TheLastFrameIsHeldForItsTimeBeforeTheMovieCloses) {
    host.files["clip.qvl"] = 2;
    Play("clip.qvl");
    const int last = host.IndexOf("frame clip.qvl:1");
    const int close = host.IndexOf("summary clip.qvl");
    ASSERT_GE(last, 0);
    ASSERT_GT(close, last);
    // The wait after the last frame ran until the frame was due (the stand-in
    // makes every frame due on the second pass).
    EXPECT_EQ(host.waitsAtSummary - host.waitsAtLastFrame, 2u);
}

TEST_F(LoopPlayback, AMovieThatEndsByItselfLetsItsSoundPlayOutWithTheKeysWorking) {
    struct Case {
        std::vector<ScriptedKey> keys;
        std::vector<std::string> playedOut, opened;
        uint32_t calls;
    };
    // Two 2-frame movies; the play-out answers "still playing" three times.
    // Escape or "." during a frame's wait closes at once, during the
    // play-out it ends the play-out.
    const Case cases[] = {
        {{}, {"play out a.qvl", "play out b.qvl"}, {"open a.qvl", "open b.qvl"}, 8},
        {{{2, 3, 27}}, {"play out a.qvl"}, {"open a.qvl"}, 1},
        {{{1, 1, 27}}, {}, {"open a.qvl"}, 0},
        {{{1, 1, 46}}, {"play out b.qvl"}, {"open a.qvl", "open b.qvl"}, 4},
    };
    for (const Case& c : cases) {
        FakeHost h;
        h.files = {{"a.qvl", 2}, {"b.qvl", 2}};
        h.playOutPasses = 3;
        h.keys = c.keys;
        ASSERT_NO_THROW(RunPlayback("a.qvl b.qvl", h));
        EXPECT_EQ(h.Only("play out"), c.playedOut);
        EXPECT_EQ(h.Only("open"), c.opened);
        EXPECT_EQ(h.playOuts, c.calls);
        for (const std::string& p : c.playedOut) {
            const std::string name = p.substr(9);
            EXPECT_LT(h.IndexOf("frame " + name + ":1"), h.IndexOf(p)) << "after the last frame's wait";
            EXPECT_LT(h.IndexOf(p), h.IndexOf("summary " + name)) << "before the movie closes";
        }
    }
}

TEST_F(LoopPlayback, OneMovieWithLoopTwoPlaysTwiceWithoutReopening) {
    host.files["clip.qvl"] = 3;
    Settings.LoopCount = 2;
    Play("clip.qvl");
    EXPECT_EQ(host.shown, Join({Frames("clip.qvl", 0, 2), Frames("clip.qvl", 0, 2)}));
    EXPECT_EQ(host.Only("open").size(), 1u);
    EXPECT_EQ(host.Only("window").size(), 1u);
}

TEST_F(LoopPlayback, TwoNamesWithLoopTwoPlayABAB) {
    host.files["a.qvl"] = 2;
    host.files["b.qvl"] = 3;
    Settings.LoopCount = 2;
    Play("a.qvl b.qvl");
    EXPECT_EQ(host.shown,
              Join({Frames("a.qvl", 0, 1), Frames("b.qvl", 0, 2), Frames("a.qvl", 0, 1), Frames("b.qvl", 0, 2)}));
    EXPECT_EQ(host.Only("open"), (std::vector<std::string>{"open a.qvl", "open b.qvl", "open a.qvl", "open b.qvl"}));
    EXPECT_EQ(host.Only("close window").size(), 1u) << "the window stays from movie to movie";
}

TEST_F(LoopPlayback, TwoNamesPlayOnceEachByDefault) {
    host.files["a.qvl"] = 2;
    host.files["b.qvl"] = 2;
    Play("a.qvl ,b.qvl");  // a comma after the blanks separates names too
    EXPECT_EQ(host.shown, Join({Frames("a.qvl", 0, 1), Frames("b.qvl", 0, 1)}));
}

TEST_F(LoopPlayback, NamesWithoutExtensionGetTheDefaultOne) {
    host.files["clip.Qvl"] = 1;
    host.files["dir.d\\movie.x"] = 1;
    Play("clip dir.d\\movie.x");
    EXPECT_EQ(host.Only("open"), (std::vector<std::string>{"open clip.Qvl", "open dir.d\\movie.x"}));
}

TEST_F(LoopPlayback, AnOwnImageNameOpensTheProgramAtItsOffset) {
    host.ownImageFrames = 2;
    Settings.OpenFlags = OPEN_TRACK0 | OPEN_PRELOAD;
    Play(":94720");
    EXPECT_EQ(host.Only("own"), std::vector<std::string>{"own 94720"});
    EXPECT_EQ(host.openFlags, OPEN_TRACK0 | OPEN_PRELOAD | OPEN_FROM_HANDLE);
    EXPECT_EQ(host.shown, Frames("self", 0, 1));
}

TEST_F(LoopPlayback, AMissingSecondNameOfThreeEndsTheListWithItsBox) {
    host.files["a.qvl"] = 2;
    host.files["c.qvl"] = 2;
    Settings.LoopCount = 3;
    Settings.ShowSummary = true;
    Play("a.qvl b c.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 1));
    EXPECT_EQ(host.Only("open"), (std::vector<std::string>{"open a.qvl", "open b.Qvl"}));
    EXPECT_EQ(host.messages, std::vector<std::string>{"  Error opening file: |b.Qvl|.|1"});
    // The run still ends properly, with the figures of the movie before.
    const std::vector<std::string> expectedEnd = {"message", "close window", "show summary 1002"};
    EXPECT_EQ(std::vector<std::string>(host.log.end() - 3, host.log.end()), expectedEnd);
}

TEST_F(LoopPlayback, AMissingFirstNameLeavesNoFiguresForTheSummary) {
    SummaryData().record.FramesDecoded = 99;
    Settings.ShowSummary = true;
    Play("nothing.qvl");
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(host.Only("show summary"), std::vector<std::string>{"show summary 0"});
}

TEST_F(LoopPlayback, AWindowThatCannotOpenClosesTheMovieAndEndsEverything) {
    host.files["a.qvl"] = 2;
    host.files["b.qvl"] = 2;
    host.windowOpens = false;
    Settings.LoopCount = 2;
    Play("a.qvl b.qvl");
    EXPECT_TRUE(host.shown.empty());
    EXPECT_EQ(host.messages, std::vector<std::string>{"  Error opening graphics buffer.|||1"});
    EXPECT_EQ(host.Only("open"), std::vector<std::string>{"open a.qvl"});
    EXPECT_EQ(host.Only("summary"), std::vector<std::string>{"summary a.qvl"}) << "the movie is closed unplayed";
}

TEST_F(LoopPlayback, EscapeEndsEverythingAtOnce) {
    host.files["a.qvl"] = 10;
    host.files["b.qvl"] = 10;
    Settings.LoopCount = 5;
    host.keys = {{3, 0, 27}};
    Play("a.qvl b.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 2));
    EXPECT_EQ(host.Only("open").size(), 1u);
}

TEST_F(LoopPlayback, ClosingTheWindowQuitsLikeEscape) {
    host.files["a.qvl"] = 10;
    host.keys = {{2, 0, 241}};
    Settings.LoopCount = 0xFFFFFFFFu;
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 1));
}

TEST_F(LoopPlayback, QuitDisabledIgnoresEscapeAndClosing) {
    host.files["a.qvl"] = 5;
    Settings.DisabledControls = 4;
    host.keys = {{1, 0, 27}, {2, 0, 241}, {3, 0, 27}};
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 4));
    EXPECT_TRUE(host.keys.empty()) << "the keys were taken, and did nothing";
}

TEST_F(LoopPlayback, PeriodSkipsToTheNextNameAndTheListStillRepeats) {
    host.files["a.qvl"] = 10;
    host.files["b.qvl"] = 2;
    host.files["c.qvl"] = 2;
    Settings.LoopCount = 2;
    host.keys = {{2, 0, 46}};
    Play("a.qvl b.qvl c.qvl");
    EXPECT_EQ(host.shown, Join({Frames("a.qvl", 0, 1), Frames("b.qvl", 0, 1), Frames("c.qvl", 0, 1),
                                Frames("a.qvl", 0, 9), Frames("b.qvl", 0, 1), Frames("c.qvl", 0, 1)}));
}

TEST_F(LoopPlayback, PeriodEndsASingleMovieEvenWithLoopsLeft) {
    host.files["a.qvl"] = 10;
    Settings.LoopCount = 3;
    host.keys = {{4, 0, 46}};
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 3));
}

TEST_F(LoopPlayback, SkipDisabledIgnoresPeriod) {
    host.files["a.qvl"] = 4;
    Settings.DisabledControls = 2;
    host.keys = {{1, 0, 46}};
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 3));
}

TEST_F(LoopPlayback, SpaceThenEnterThreeTimesAdvancesExactlyThreeFrames) {
    host.files["a.qvl"] = 20;
    // After frame 2: pause, then three steps; the resume comes only after the
    // loop has sat idle for a while, so any frame shown without a step would
    // come before it.
    host.keys = {{3, 0, 32}, {3, 0, 13}, {4, 0, 13}, {5, 0, 13}, {6, 50, 32}};
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 19));
    const int pause = host.IndexOf("sound 0");
    const int resume = host.IndexOf("sound 255");
    ASSERT_GE(pause, 0);
    ASSERT_GT(resume, pause);
    std::vector<std::string> between;
    for (int i = pause; i < resume; i++)
        if (host.log[i].rfind("frame ", 0) == 0) between.push_back(host.log[i]);
    EXPECT_EQ(between, (std::vector<std::string>{"frame a.qvl:3", "frame a.qvl:4", "frame a.qvl:5"}));
    EXPECT_EQ(host.Only("sound"), (std::vector<std::string>{"sound 0", "sound 255"}))
        << "the sound stays off while stepping";
}

TEST_F(LoopPlayback, EnterDoesNothingWhileRunningAndPauseDisabledIgnoresSpace) {
    host.files["a.qvl"] = 4;
    Settings.DisabledControls = 1;
    host.keys = {{1, 0, 13}, {2, 0, 32}};
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 3));
    EXPECT_TRUE(host.Only("sound").empty());
}

TEST_F(LoopPlayback, PauseCarriesOverToTheNextMovie) {
    host.files["a.qvl"] = 3;
    host.files["b.qvl"] = 3;
    // Paused on a's last frame; the step ends a, and b starts paused.
    host.keys = {{3, 0, 32}, {3, 0, 13}, {4, 20, 32}};
    Play("a.qvl b.qvl");
    EXPECT_EQ(host.shown, Join({Frames("a.qvl", 0, 2), Frames("b.qvl", 0, 2)}));
    const int bFirst = host.IndexOf("frame b.qvl:0");
    const int resume = host.IndexOf("sound 255");
    ASSERT_GE(bFirst, 0);
    EXPECT_GT(resume, bFirst) << "b's first frame is shown by the step, then b waits for the resume";
    EXPECT_LT(resume, host.IndexOf("frame b.qvl:1"));
}

TEST_F(LoopPlayback, LosingTheFocusStopsTheSoundAndThePicture) {
    host.files["a.qvl"] = 6;
    // The focus goes after frame 2 and comes back 40 wait passes later.
    host.focused = [this] { return !(host.framesDecoded == 3 && host.idleWaits < 40); };
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 5));
    EXPECT_EQ(host.Only("sound"), (std::vector<std::string>{"sound 0", "sound 1"}));
    const int on = host.IndexOf("sound 1");
    EXPECT_LT(on, host.IndexOf("frame a.qvl:3")) << "no frame while the focus was away";
    EXPECT_GE(host.totalWaits, 40u);
}

TEST_F(LoopPlayback, KeepPlayingUnfocusedLeavesTheSoundOn) {
    host.files["a.qvl"] = 4;
    Settings.KeepPlayingUnfocused = true;
    host.focused = [] { return false; };
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 3));
    EXPECT_TRUE(host.Only("sound").empty());
}

TEST_F(LoopPlayback, SoundThatWillNotRestartIsTriedAgainOnEveryPass) {
    host.files["a.qvl"] = 4;
    host.soundOnFailures = 5;
    host.focused = [this] { return !(host.framesDecoded == 2 && host.idleWaits < 3); };
    Play("a.qvl");
    EXPECT_EQ(host.shown, Frames("a.qvl", 0, 3));
    EXPECT_EQ(host.Only("sound 1").size(), 6u) << "five refusals, then it runs";
}

TEST_F(LoopPlayback, PausedWhileTheFocusComesBackTheSoundRestartsButThePictureWaits) {
    host.files["a.qvl"] = 5;
    host.keys = {{2, 0, 32}, {2, 80, 32}};
    host.focused = [this] { return !(host.framesDecoded == 2 && host.idleWaits > 10 && host.idleWaits < 30); };
    Play("a.qvl");
    EXPECT_EQ(host.Only("sound"), (std::vector<std::string>{"sound 0", "sound 0", "sound 1", "sound 255"}));
    EXPECT_GT(host.IndexOf("frame a.qvl:2"), host.IndexOf("sound 255"));
}

TEST_F(LoopPlayback, ShowFrameDrawsEveryChangedRectangleTogether) {
    host.files["a.qvl"] = 1;
    host.rectsPerFrame = 3;
    Play("a.qvl");
    const int start = host.IndexOf("start rects");
    ASSERT_GE(start, 0);
    const std::vector<std::string> expected = {"start rects",      "next rect mode 1", "blit dc 1,2 3x4",
                                               "next rect mode 1", "blit dc 2,2 3x4",  "next rect mode 1",
                                               "blit dc 3,2 3x4",  "flush rects",      "release dc"};
    EXPECT_EQ(std::vector<std::string>(host.log.begin() + start, host.log.begin() + start + expected.size()), expected);
}

TEST_F(LoopPlayback, ShowFrameStopsWhenTheWholeBufferWasDrawn) {
    host.files["a.qvl"] = 1;
    host.rectsPerFrame = 3;
    host.wholeBufferAtRect = 2;
    Play("a.qvl");
    EXPECT_EQ(host.Only("blit").size(), 2u);
    EXPECT_EQ(host.Only("next rect").size(), 2u);
    EXPECT_EQ(host.Only("flush rects").size(), 1u);
}

TEST_F(LoopPlayback, NewPalettesGoToTheDisplayAndAreRemappedWhenColoursAreShort) {
    host.files["a.qvl"] = 4;
    host.paletteFrames = {0, 2};
    host.freeColours = 236;
    Play("a.qvl");
    EXPECT_EQ(host.Only("palette"), (std::vector<std::string>{"palette movie 64", "palette movie 64"}));
    EXPECT_EQ(host.Only("remap"),
              (std::vector<std::string>{"remap display palette 236 6", "remap display palette 236 6"}));
    EXPECT_LT(host.IndexOf("remap display palette 236 6"), host.IndexOf("frame a.qvl:0"));
}

TEST_F(LoopPlayback, AFullPaletteNeedsNoRemapAndR2NeverRemaps) {
    host.files["a.qvl"] = 2;
    host.paletteFrames = {0};
    Play("a.qvl");
    EXPECT_EQ(host.Only("palette").size(), 1u);
    EXPECT_TRUE(host.Only("remap").empty());

    FakeHost second;
    second.files["a.qvl"] = 2;
    second.paletteFrames = {0};
    second.freeColours = 20;
    Settings.RemapOption = 2;
    RunPlayback("a.qvl", second);
    EXPECT_EQ(second.Only("palette").size(), 1u);
    EXPECT_TRUE(second.Only("remap").empty());
}

TEST_F(LoopPlayback, R1TakesTheScreenPaletteInsteadOfTheMovies) {
    host.files["a.qvl"] = 2;
    host.paletteFrames = {1};
    host.freeColours = 200;
    Settings.RemapOption = 1;
    Play("a.qvl");
    EXPECT_EQ(host.Only("palette"), std::vector<std::string>{"palette screen"});
    EXPECT_EQ(host.Only("remap").size(), 1u);
}

TEST_F(LoopPlayback, SoundOnlyShowsAGrowingBarAndNoPicture) {
    host.files["a.qvl"] = 4;
    host.paletteFrames = {0, 1};
    Settings.SoundOnly = true;
    Play("a.qvl");
    EXPECT_EQ(host.windowWidth, 160u);
    EXPECT_EQ(host.windowHeight, 1u);
    EXPECT_TRUE(host.Only("to buffer").empty()) << "nothing is decoded into the display";
    EXPECT_TRUE(host.Only("palette").empty()) << "the movie's palette is not taken";
    EXPECT_EQ(host.Only("blit"), std::vector<std::string>(4, "blit none 0,0 160x1"));
    ASSERT_EQ(host.lastScreenRow.size(), 160u);
    // Last frame: 3 x 160 / 4 + 1 = 121 pixels of colour 9, the rest 0.
    EXPECT_EQ(std::count(host.lastScreenRow.begin(), host.lastScreenRow.begin() + 121, 9), 121);
    EXPECT_EQ(std::count(host.lastScreenRow.begin() + 121, host.lastScreenRow.end(), 0), 39);
}

TEST_F(LoopPlayback, DifferencesOnlyClearsAndShowsBeforeEachFrame) {
    host.files["a.qvl"] = 2;
    Settings.DifferencesOnly = true;
    Play("a.qvl");
    for (const char* frame : {"frame a.qvl:0", "frame a.qvl:1"}) {
        const int f = host.IndexOf(frame);
        ASSERT_GE(f, 2);
        EXPECT_EQ(host.log[f - 2], "clear 0");
        EXPECT_EQ(host.log[f - 1], "blit none 0,0 64x48");
    }
}

TEST_F(LoopPlayback, CaptionsCountFramesFromOne) {
    host.files["a.qvl"] = 3;
    Settings.FrameInCaption = true;
    Play("a.qvl");
    EXPECT_EQ(host.captions, (std::vector<std::string>{"QuarvPlay - Frame: 1", "QuarvPlay - Frame: 2",
                                                       "QuarvPlay - Frame: 3"}));
}

TEST_F(LoopPlayback, DisplayModeIsSetBeforeEachMovieAndRestoredOnce) {
    host.files["a.qvl"] = 1;
    host.files["b.qvl"] = 1;
    Settings.DisplayMode = 2;
    Play("a.qvl b.qvl");
    EXPECT_EQ(host.Only("mode"), (std::vector<std::string>{"mode 2", "mode 2", "mode 0"}));
    EXPECT_LT(host.IndexOf("mode 2"), host.IndexOf("window 64x48 at -1,-1 flags 0"));
    EXPECT_EQ(host.log.back(), "mode 0");
}

TEST_F(LoopPlayback, SettingsReachTheLibraryAndTheWindow) {
    host.files["a.qvl"] = 1;
    Settings.SimulatedRate = 150000;
    Settings.FrameRate = -4000;
    Settings.ExtraBuffer = 65536;
    Settings.WindowX = 0;
    Settings.WindowY = 16;
    Settings.DisplayFlags = 0x4219;
    Settings.UseDirectSound = true;
    Play("a.qvl");
    EXPECT_EQ(host.log[0], "rate 150000");
    EXPECT_EQ(host.log[1], "fps -4000");
    EXPECT_EQ(host.openExtra, 65536u);
    EXPECT_GE(host.IndexOf("window 64x48 at 0,16 flags 16921"), 0);
    EXPECT_EQ(host.IndexOf("sound window"), host.IndexOf("window 64x48 at 0,16 flags 16921") + 1);
}

TEST_F(LoopPlayback, SummaryIsShownAfterTheWindowIsClosedWithTheLastMoviesFigures) {
    host.files["a.qvl"] = 2;
    host.files["b.qvl"] = 5;
    Settings.ShowSummary = true;
    Play("a.qvl b.qvl");
    const std::vector<std::string> expectedEnd = {"close window", "show summary 1005"};
    EXPECT_EQ(std::vector<std::string>(host.log.end() - 2, host.log.end()), expectedEnd);
    EXPECT_EQ(SummaryData().peakRate, 505u);
}

}  // namespace
