#include "player/sdl/playback_sdl.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <SDL.h>

#include "display/display.h"
#include "display/sdl/sdl_display.h"
#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/message_text.h"
#include "player/library_host.h"
#include "player/playback_loop.h"
#include "player/sdl/options.h"
#include "player/sdl/window_sdl.h"
#include "player/summary.h"
#include "player/window.h"

namespace {

const char kOpenFailed[] = "  Error opening file: ";
const char kDisplayFailed[] = "  Error opening graphics buffer.";

// The loop keeps its names in a fixed 128-byte text, split at blanks; a
// Linux path may be longer or hold blanks. So the loop is given each
// movie's number, and the host opens the path behind it.
class SdlHost final : public LibraryPlaybackHost {
public:
    explicit SdlHost(const NativeOptions& options) : options_(options) {}

    bool Failed() const { return failed_; }

    // "1 2 3": the names the loop plays. Empty when they do not fit its text.
    std::string NameList() const {
        std::string names;
        for (size_t i = 1; i <= options_.movies.size(); i++) names += (i > 1 ? " " : "") + std::to_string(i);
        return names.size() < kNameListSize ? names : std::string();
    }

    // `name` is a movie's number (with the extension the loop adds to a
    // name that has none).
    Movie* OpenMovie(const char* name, uint32_t flags, uint32_t extraBuffer) override {
        const unsigned long number = std::strtoul(name, nullptr, 10);
        if (number == 0 || number > options_.movies.size()) return nullptr;
        path_ = options_.movies[number - 1];
        const QvFile file = FileOpenRead(path_.c_str());
        if (file == kNoFile) {
            reason_ = std::strerror(errno);
            return nullptr;
        }
        Movie* movie = nullptr;
        if (FileSeek(file, static_cast<int32_t>(options_.offset), kSeekBegin) == options_.offset)
            movie = QuarvOpen(reinterpret_cast<const void*>(file), flags | OPEN_FROM_HANDLE, extraBuffer);
        if (!movie) {
            reason_ = options_.offset ? "no Quarvel movie at byte " + std::to_string(options_.offset)
                                      : std::string("not a Quarvel movie");
            FileClose(file);
            return nullptr;
        }
        file_ = file;
        return movie;
    }
    Movie* OpenOwnImage(uint32_t, uint32_t, uint32_t) override { return nullptr; }  // never named here
    void CloseMovie(Movie* movie) override {
        QuarvClose(movie);
        if (file_ != kNoFile) FileClose(file_);
        file_ = kNoFile;
    }

    void SoundSetWindow() override {}

    void SetDisplayMode(int32_t) override {}
    bool OpenWindow(uint32_t width, uint32_t height, int32_t, int32_t, uint32_t) override {
        return OpenSdlWindow(width, height, options_.scale, options_.doubling, options_.fullScreen);
    }
    void CloseWindow() override { CloseSdlWindow(); }
    QuarvBuffer* Display() override { return SdlDisplayBuffer(SdlWindowDisplay()); }
    // Each pass of the loop's wait looks at the events, waiting for them a
    // millisecond at most, so that the loop does not keep a processor busy
    // while it waits for the next frame.
    bool KeyWaiting() override {
        PumpSdlEvents(QueuedKeyCount() ? 0 : 1);
        return QueuedKeyCount() != 0;
    }
    int GetKey() override {
        while (!QueuedKeyCount()) PumpSdlEvents(10);
        return TakeKey();
    }
    bool DisplayFocused() override { return SdlWindowFocused(); }
    bool WindowLost() override { return !SdlWindowExists(); }
    void SetCaption(const char* text) override { SetSdlWindowTitle(text); }

    // The loop's boxes become one line on standard error.
    void ShowMessage(const char* text1, const char* text2, const char* text3, int) override {
        failed_ = true;
        if (text1 && std::strcmp(text1, kOpenFailed) == 0) {
            std::fprintf(stderr, "quarvplay: %s: %s\n", path_.c_str(), reason_.c_str());
        } else if (text1 && std::strcmp(text1, kDisplayFailed) == 0) {
            std::fprintf(stderr, "quarvplay: %s: cannot show it: %s\n", path_.c_str(), SDL_GetError());
        } else {
            char text[kMessageTextSize];
            ComposeMessageText(text, sizeof text, text1, text2, text3);
            std::fprintf(stderr, "quarvplay: %s\n", text);
        }
    }
    // The summary text on standard output, with Linux line ends.
    void ShowSummary() override {
        const SummaryFigures& figures = SummaryData();
        if (figures.record.FramesDecoded == 0) return;
        static char text[kSummaryTextSize];
        ComposeSummary(text, sizeof text, figures);
        std::string out;
        for (const char* p = text; *p; p++)
            if (*p != '\r') out += *p;
        std::printf("%s\n", out.c_str());
        std::fflush(stdout);
    }

    void UpdatePalette(const uint8_t colours[768]) override { SdlDisplaySetPalette(SdlWindowDisplay(), colours); }
    // Asked for only under the Windows remap option; the texture has no
    // system palette, so it reads as black.
    void ReadScreenPalette(uint8_t colours[768]) override { std::memset(colours, 0, 768); }
    void* GetDrawContext() override { return nullptr; }
    void ReleaseDrawContext(void*) override {}
    void StartRects() override { SdlDisplayStartRects(SdlWindowDisplay()); }
    void FlushRects() override { SdlDisplayFlushRects(SdlWindowDisplay()); }
    uint32_t Blit(void*, int32_t srcX, int32_t srcY, int32_t width, int32_t height) override {
        return SdlDisplayBlit(SdlWindowDisplay(), srcX, srcY, width, height);
    }
    void Clear(uint32_t colour) override { SdlDisplayClear(SdlWindowDisplay(), colour); }

private:
    const NativeOptions& options_;
    std::string path_;    // the movie being opened or played
    std::string reason_;  // why it could not be opened
    QvFile file_ = kNoFile;
    bool failed_ = false;
};

}  // namespace

int PlayMoviesSdl(const NativeOptions& options) {
    SdlHost host(options);
    const std::string names = host.NameList();
    if (names.empty()) {
        std::fprintf(stderr, "quarvplay: too many movies for one list\n");
        return 1;
    }
    RunPlayback(names.c_str(), host);
    return host.Failed() ? 1 : 0;
}
