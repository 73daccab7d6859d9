// The playback loop on Win32: the library, the player window and its
// display behind the services the loop is written against.
#include <windows.h>

#include "display/display.h"
#include "movie/movie.h"
#include "player/display_mode.h"
#include "player/loop_rules.h"
#include "player/message_box.h"
#include "player/playback.h"
#include "player/library_host.h"
#include "player/playback_loop.h"
#include "player/summary.h"
#include "player/win32/app_win32.h"
#include "player/window.h"

namespace {

class Win32Host final : public LibraryPlaybackHost {
public:
    Movie* OpenMovie(const char* name, uint32_t flags, uint32_t extraBuffer) override {
        return QuarvOpen(name, flags, extraBuffer);
    }

    Movie* OpenOwnImage(uint32_t offset, uint32_t flags, uint32_t extraBuffer) override {
        // The module's own path rather than argument 0, which may lack the
        // folder or the ".exe" when the program was found through the PATH.
        char path[MAX_PATH + 1];
        const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
        if (length == 0 || length >= sizeof path) return nullptr;
        const QvFile file = FileOpenRead(path);
        if (file == kNoFile) return nullptr;
        Movie* movie = nullptr;
        if (FileSeek(file, static_cast<int32_t>(offset), kSeekBegin) == offset)
            movie = QuarvOpen(reinterpret_cast<const void*>(file), flags, extraBuffer);
        if (!movie) {
            FileClose(file);
            return nullptr;
        }
        ownImageFile_ = file;
        ownImageMovie_ = movie;
        return movie;
    }

    void CloseMovie(Movie* movie) override {
        QuarvClose(movie);
        if (movie && movie == ownImageMovie_) {
            FileClose(ownImageFile_);
            ownImageFile_ = kNoFile;
            ownImageMovie_ = nullptr;
        }
    }

    void SoundSetWindow() override { QuarvSoundSetWindow(PlayerWindowHandle()); }

    void SetDisplayMode(int32_t mode) override { ChangeDisplayMode(mode); }
    bool OpenWindow(uint32_t width, uint32_t height, int32_t x, int32_t y, uint32_t displayFlags) override {
        return OpenPlayerWindow(width, height, x, y, displayFlags);
    }
    void CloseWindow() override { ClosePlayerWindow(); }
    QuarvBuffer* Display() override { return PlayerDisplay(); }
    bool KeyWaiting() override { return ::KeyWaiting(); }
    int GetKey() override { return ::GetKey(); }
    bool DisplayFocused() override { return DisplayHasFocus(PlayerDisplay(), GetFocus()); }
    bool WindowLost() override { return !PlayerWindow || !IsWindow(PlayerWindow); }
    void SetCaption(const char* text) override {
        if (PlayerWindow) SetWindowTextA(PlayerWindow, text);
    }
    void ShowMessage(const char* text1, const char* text2, const char* text3, int icon) override {
        ::ShowMessage(nullptr, text1, text2, text3, icon);
    }
    void ShowSummary() override { ::ShowSummary(); }

    void UpdatePalette(const uint8_t colours[768]) override { UpdateDisplayPalette(PlayerDisplay(), colours); }
    void ReadScreenPalette(uint8_t colours[768]) override { ::ReadScreenPalette(colours); }
    void* GetDrawContext() override {
        drawWindow_ = PlayerWindow;
        return drawWindow_ ? GetDC(drawWindow_) : nullptr;
    }
    void ReleaseDrawContext(void* dc) override {
        if (dc) ReleaseDC(drawWindow_, static_cast<HDC>(dc));
        drawWindow_ = nullptr;
    }
    void StartRects() override { QuarvBufferStartRects(PlayerDisplay()); }
    void FlushRects() override { QuarvBufferFlushRects(PlayerDisplay()); }
    uint32_t Blit(void* dc, int32_t srcX, int32_t srcY, int32_t width, int32_t height) override {
        return QuarvBufferBlit(PlayerDisplay(), dc, 0, 0, srcX, srcY, width, height);
    }
    void Clear(uint32_t colour) override { QuarvBufferClear(PlayerDisplay(), colour); }

private:
    QvFile ownImageFile_ = kNoFile;
    Movie* ownImageMovie_ = nullptr;
    HWND drawWindow_ = nullptr;
};

}  // namespace

void PlayMovies(char* names) {
    Win32Host host;
    RunPlayback(names, host);
}
