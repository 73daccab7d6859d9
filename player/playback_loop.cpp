#include "player/playback_loop.h"

#include <cstring>

#include "display/display.h"
#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/loop_rules.h"
#include "player/settings.h"
#include "player/summary.h"

namespace {

constexpr uint32_t kProgressWidth = 160;
constexpr uint32_t kProgressHeight = 1;
constexpr size_t kCaptionSize = 64;

// How a movie's frame cycle ended.
enum class CycleEnd { Done, Skip, Quit };

class Loop {
public:
    Loop(const char* names, PlaybackHost& host) : host_(host) {
        CopyText(saved_, names);
        std::strcpy(list_, saved_);
        loopCount_ = Settings.LoopCount;
    }

    void Run() {
        TakeFirstName(name_, sizeof name_, list_);
        multiFile_ = list_[0] != 0;
        SummaryData().record.FramesDecoded = 0;

        while (name_[0]) {
            host_.SimulateRate(Settings.SimulatedRate);
            host_.SetFrameRate(Settings.FrameRate);
            Movie* movie = Open();
            if (!movie) {
                host_.ShowMessage("  Error opening file: ", name_, ".", 1);
                break;  // neither a further name nor a repetition
            }
            if (Settings.DisplayMode) host_.SetDisplayMode(Settings.DisplayMode);
            PlayOpenMovie(movie);
            Close(movie);

            if (multiFile_ && !list_[0] && ListRepeats(&loopCount_)) std::strcpy(list_, saved_);
            TakeFirstName(name_, sizeof name_, list_);
        }

        host_.CloseWindow();
        if (Settings.DisplayMode) host_.SetDisplayMode(0);
        if (Settings.ShowSummary) host_.ShowSummary();
    }

private:
    static void CopyText(char (&dst)[kNameListSize], const char* src) {
        // The start-up refuses longer name lists; anything longer is cut.
        std::strncpy(dst, src ? src : "", sizeof dst - 1);
        dst[sizeof dst - 1] = 0;
    }

    Movie* Open() {
        if (IsOwnImageName(name_)) {
            uint32_t offset = 0;
            if (!OwnImageOffset(name_, &offset)) return nullptr;
            return host_.OpenOwnImage(offset, Settings.OpenFlags | OPEN_FROM_HANDLE, Settings.ExtraBuffer);
        }
        // A name with no room left for its extension cannot be the file meant.
        if (!AddDefaultExtension(name_, sizeof name_)) return nullptr;
        return host_.OpenMovie(name_, Settings.OpenFlags, Settings.ExtraBuffer);
    }

    void Quit() {
        list_[0] = 0;
        saved_[0] = 0;
    }

    void PlayOpenMovie(Movie* movie) {
        const bool soundOnly = Settings.SoundOnly;
        const uint32_t width = soundOnly ? kProgressWidth : movie->Header.Width;
        const uint32_t height = soundOnly ? kProgressHeight : movie->Header.Height;
        QuarvBuffer* display = nullptr;
        if (host_.OpenWindow(width, height, Settings.WindowX, Settings.WindowY, Settings.DisplayFlags))
            display = host_.Display();
        if (!display) {
            host_.ShowMessage("  Error opening graphics buffer.", nullptr, nullptr, 1);
            Quit();
            return;
        }
        if (Settings.UseDirectSound) host_.SoundSetWindow();
        if (!soundOnly)
            host_.ToBuffer(movie, static_cast<int32_t>(display->pitch), display->height, display->pixels,
                           display->bottomUp);

        // A movie always has a frame; the guard keeps a zero count from
        // making a last frame that never comes.
        const uint32_t lastFrame = movie->Header.Frames ? movie->Header.Frames - 1 : 0;
        if (FrameCycle(movie, display, lastFrame) == CycleEnd::Quit) Quit();
    }

    CycleEnd FrameCycle(Movie* movie, QuarvBuffer* display, uint32_t lastFrame) {
        for (;;) {
            if (movie->NewPalette && !Settings.SoundOnly) TakePalette(movie, display);
            if (Settings.DifferencesOnly) {
                host_.Clear(0);
                ShowWholeBuffer(display);
            }
            host_.DoFrame(movie);
            if (Settings.SoundOnly) {
                DrawProgressBar(display->pixels, display->width, movie->FrameNum, movie->Header.Frames);
                ShowWholeBuffer(display);
            } else {
                ShowFrame(movie, display);
            }
            if (Settings.FrameInCaption) {
                char caption[kCaptionSize];
                FrameCaption(caption, sizeof caption, movie->FrameNum);
                host_.SetCaption(caption);
            }

            const bool done = FrameEndsMovie(movie->FrameNum, lastFrame, multiFile_, &loopCount_);
            if (!done) host_.NextFrame(movie);

            const CycleEnd waited = WaitForFrame(movie);
            if (waited != CycleEnd::Done) return waited;
            if (done) return PlayOut(movie);
        }
    }

    // Busy until the next frame is due, the sound runs and the picture is
    // not held by the pause key. Done when it is time for the next frame.
    CycleEnd WaitForFrame(Movie* movie) {
        bool step = false;
        for (;;) {
            if (host_.KeyWaiting()) {
                switch (ActionForKey(host_.GetKey(), paused_, Settings.DisabledControls)) {
                    case KeyAction::Step:
                        step = true;
                        break;
                    case KeyAction::Quit:
                        return CycleEnd::Quit;
                    case KeyAction::Skip:
                        return CycleEnd::Skip;
                    case KeyAction::TogglePause:
                        host_.SoundOnOff(movie, paused_);
                        paused_ = static_cast<uint8_t>(~paused_);
                        break;
                    case KeyAction::None:
                        break;
                }
            }
            // Without a window there is no picture, no focus to come back
            // and no key to end with: the playback ends as a close ends it.
            if (host_.WindowLost()) return CycleEnd::Quit;
            switch (FocusRule(Settings.KeepPlayingUnfocused, host_.DisplayFocused(), active_)) {
                case FocusAction::SoundOff:
                    active_ = false;
                    host_.SoundOnOff(movie, 0);
                    break;
                case FocusAction::SoundOn:
                    if (host_.SoundOnOff(movie, 1)) active_ = true;
                    break;
                case FocusAction::None:
                    break;
            }
            if (WaitIsOver(host_.Wait(movie), active_, paused_, step)) return CycleEnd::Done;
        }
    }

    // The movie ended by itself: the sound device plays the last frames'
    // sound out before the movie closes. Quit and skip still end it at once;
    // nothing else is played now, so other keys are let go.
    CycleEnd PlayOut(Movie* movie) {
        while (host_.PlayOut(movie)) {
            if (!host_.KeyWaiting()) continue;
            const KeyAction action = ActionForKey(host_.GetKey(), paused_, Settings.DisabledControls);
            if (action == KeyAction::Quit) return CycleEnd::Quit;
            if (action == KeyAction::Skip) return CycleEnd::Skip;
        }
        return CycleEnd::Done;
    }

    void TakePalette(Movie* movie, QuarvBuffer* display) {
        if (Settings.RemapOption == 1) {
            uint8_t screen[768];
            host_.ReadScreenPalette(screen);
            host_.UpdatePalette(screen);
        } else {
            host_.UpdatePalette(movie->Palette);
        }
        // Where the screen keeps colours of its own, the movie's indices
        // are turned into the display's.
        if (display->freeColours < 256 && Settings.RemapOption != 2)
            host_.ColorRemap(movie, display->palette, display->paletteSize, display->paletteLayout);
    }

    void ShowWholeBuffer(QuarvBuffer* display) {
        host_.Blit(nullptr, 0, 0, static_cast<int32_t>(display->width), static_cast<int32_t>(display->height));
    }

    // Only the rectangles the frame changed are drawn, collected so that
    // they go to the screen together.
    void ShowFrame(Movie* movie, QuarvBuffer* display) {
        void* dc = host_.GetDrawContext();
        host_.StartRects();
        while (host_.ToBufferNext(movie, display->memoryKind)) {
            const QuarvRect& r = movie->LastRect;
            if (host_.Blit(dc, r.x, r.y, r.width, r.height)) break;  // the whole buffer was drawn
        }
        host_.FlushRects();
        host_.ReleaseDrawContext(dc);
    }

    void Close(Movie* movie) {
        SummaryFigures& figures = SummaryData();
        host_.Summary(movie, &figures.record);
        figures.peakRate = movie->PeakRate;
        figures.peakFrame = movie->PeakFrame;
        host_.CloseMovie(movie);
    }

    PlaybackHost& host_;
    char saved_[kNameListSize];
    char list_[kNameListSize];
    char name_[kNameSize] = {};
    bool multiFile_ = false;
    uint32_t loopCount_;
    uint8_t paused_ = 0;
    bool active_ = true;
};

}  // namespace

void RunPlayback(const char* names, PlaybackHost& host) { Loop(names, host).Run(); }
