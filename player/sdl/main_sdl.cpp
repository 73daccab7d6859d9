// The native player's entry: options, SDL's video and sound, playback.
#include <SDL.h>

#include <cstdio>
#include <string>

#include "movie/movie.h"
#include "player/cmdline.h"
#include "player/message_text.h"
#include "player/sdl/options.h"
#include "player/sdl/playback_sdl.h"
#include "player/settings.h"
#include "sound/sdl/sdl_sound_driver.h"

int main(int argc, char** argv) {
    NativeOptions options;
    std::string error;
    if (!ParseNativeOptions(argc, argv, &options, &error)) {
        std::fprintf(stderr, "quarvplay: %s (see --help)\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(kNativeUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quarvplay 3.1r\n%s\n", kCopyrightNotice);
        return 0;
    }
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
        std::fprintf(stderr, "quarvplay: no window can be opened: %s\n", SDL_GetError());
        return 1;
    }
    if (options.sound && !InstallSdlSoundDriver()) {
        // The movies still play, timed by the clock.
        std::fprintf(stderr, "quarvplay: no sound output (%s); playing without sound\n", SDL_GetError());
        Settings.OpenFlags &= ~static_cast<uint32_t>(OPEN_ALL_TRACKS);
    }
    SetPlayerTitle(kPlayerTitle);
    const int code = PlayMoviesSdl(options);
    SDL_Quit();
    return code;
}
