#include "player/sdl/window_sdl.h"

#include <SDL.h>

#include "display/display.h"
#include "display/sdl/sdl_display.h"
#include "player/message_text.h"
#include "player/summary.h"
#include "player/window.h"

namespace {

SDL_Window* window = nullptr;
SdlDisplay* display = nullptr;

// The code the playback loop knows for a key, or -1.
int KeyCode(SDL_Keycode key) {
    switch (key) {
        case SDLK_SPACE: return KEY_SPACE;
        case SDLK_RETURN:
        case SDLK_KP_ENTER: return KEY_ENTER;
        case SDLK_PERIOD:
        case SDLK_KP_PERIOD: return KEY_PERIOD;
        case SDLK_ESCAPE: return KEY_ESCAPE;
        default: return -1;
    }
}

void SwitchFullScreen() {
    const bool full = SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP;
    SDL_SetWindowFullscreen(window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
    SdlDisplayPresent(display);
}

void Handle(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT:  // the last window closed, or an interrupt
            QueueKey(KEY_CLOSE);
            break;
        case SDL_KEYDOWN: {
            const SDL_Keycode key = e.key.keysym.sym;
            const bool alt = e.key.keysym.mod & KMOD_ALT;
            if (key == SDLK_f || ((key == SDLK_RETURN || key == SDLK_KP_ENTER) && alt)) {
                if (!e.key.repeat) SwitchFullScreen();
                break;
            }
            const int code = KeyCode(key);
            if (code >= 0) QueueKey(static_cast<uint8_t>(code));
            break;
        }
        case SDL_WINDOWEVENT:
            if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED)
                SdlDisplayPresent(display);
            break;
        default:
            break;
    }
}

void CloseDisplay() {
    if (!display) return;
    SummaryFigures& figures = SummaryData();
    SdlDisplayDescribe(display, figures.display, sizeof figures.display);
    // The screen's colours, as the window's pixels hold them.
    const uint32_t bits = SDL_BITSPERPIXEL(SDL_GetWindowPixelFormat(window));
    figures.screenColours = bits >= 24 ? 1u << 24 : 1u << bits;
    SdlDisplayClose(display);
    display = nullptr;
}

}  // namespace

bool OpenSdlWindow(uint32_t width, uint32_t height, uint32_t scale, uint32_t doubling, bool fullScreen) {
    const int w = static_cast<int>(width * scale), h = static_cast<int>(height * scale);
    if (!window) {
        // Shown once the display's renderer exists: SDL may make the window
        // anew for it.
        const Uint32 flags =
            SDL_WINDOW_RESIZABLE | SDL_WINDOW_HIDDEN | (fullScreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
        window = SDL_CreateWindow(PlayerTitle(), SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, flags);
        if (!window) return false;
    } else if (!(SDL_GetWindowFlags(window) & SDL_WINDOW_FULLSCREEN_DESKTOP)) {
        // The next movie of a list: a window of its own size, centred again.
        SDL_SetWindowSize(window, w, h);
        SDL_SetWindowPosition(window, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED);
    }
    CloseDisplay();
    display = SdlDisplayOpen(window, width, height, scale, doubling);
    if (!display) return false;
    SDL_ShowWindow(window);
    SDL_RaiseWindow(window);
    SdlDisplayPresent(display);
    return true;
}

void CloseSdlWindow() {
    CloseDisplay();
    if (window) SDL_DestroyWindow(window);
    window = nullptr;
}

SdlDisplay* SdlWindowDisplay() { return display; }

bool SdlWindowExists() { return window != nullptr; }

bool SdlWindowFocused() { return window && (SDL_GetWindowFlags(window) & SDL_WINDOW_INPUT_FOCUS); }

void SetSdlWindowTitle(const char* text) {
    if (window) SDL_SetWindowTitle(window, text);
}

void PumpSdlEvents(int waitMs) {
    SDL_Event e;
    if (!SDL_WaitEventTimeout(&e, waitMs)) return;
    do Handle(e);
    while (SDL_PollEvent(&e));
}
