#include "player/sdl/options.h"

#include <getopt.h>

#include <cstdlib>

#include "display/display.h"
#include "movie/movie.h"
#include "player/settings.h"

const char kNativeUsage[] =
    "Usage: quarvplay [OPTION]... MOVIE...\n"
    "Plays Quarvel movies in a window, one after the other, with their sound.\n"
    "\n"
    "      --loop=N          play the movies N times (0: until stopped)\n"
    "      --scale=1|2       show the frames at their size or twice as large\n"
    "      --smooth          twice as large with in-between colours (implies --scale=2)\n"
    "      --interlace       twice as large on every other line (implies --scale=2)\n"
    "      --fullscreen      start in full screen\n"
    "      --fps=N           N frames per second instead of the movie's own\n"
    "                          (0: as fast as possible)\n"
    "      --no-sound        play without sound\n"
    "      --tracks=LIST     play these sound tracks, numbers 0 to 6 (e.g. 0,2)\n"
    "      --summary         print the playback summary at the end\n"
    "      --frame-in-title  show the frame number in the window's title\n"
    "      --offset=N        each MOVIE starts at byte N of its file\n"
    "  -h, --help            show this help and exit\n"
    "  -V, --version         show the version and exit\n"
    "\n"
    "Keys: Space pauses and resumes, Enter shows one more frame while paused,\n"
    "\".\" skips to the next movie, Escape or closing the window quits, F or\n"
    "Alt+Enter switches full screen on and off.\n";

namespace {

enum Option { kLoop = 256, kScale, kSmooth, kInterlace, kFullScreen, kFps, kNoSound, kTracks, kSummary, kTitle, kOffset };

const option kOptions[] = {
    {"loop", required_argument, nullptr, kLoop},
    {"scale", required_argument, nullptr, kScale},
    {"smooth", no_argument, nullptr, kSmooth},
    {"interlace", no_argument, nullptr, kInterlace},
    {"fullscreen", no_argument, nullptr, kFullScreen},
    {"fps", required_argument, nullptr, kFps},
    {"no-sound", no_argument, nullptr, kNoSound},
    {"tracks", required_argument, nullptr, kTracks},
    {"summary", no_argument, nullptr, kSummary},
    {"frame-in-title", no_argument, nullptr, kTitle},
    {"offset", required_argument, nullptr, kOffset},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, 'V'},
    {nullptr, 0, nullptr, 0},
};

// A whole decimal number from 0 to max.
bool Number(const char* text, uint32_t max, uint32_t* value) {
    if (*text < '0' || *text > '9') return false;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text, &end, 10);
    if (*end || v > max) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

// "0,2,5": the open flags of those tracks.
bool TrackList(const char* text, uint32_t* flags) {
    *flags = 0;
    for (const char* p = text;; p += 2) {
        if (*p < '0' || *p > '6') return false;
        *flags |= OPEN_TRACK0 << (*p - '0');
        if (p[1] == 0) return true;
        if (p[1] != ',') return false;
    }
}

bool Bad(std::string* error, const std::string& text) {
    *error = text;
    return false;
}

}  // namespace

bool ParseNativeOptions(int argc, char** argv, NativeOptions* o, std::string* error) {
    PlayerSettings& s = Settings;
    // A movie keeps playing while another window has the focus, as Linux
    // players do.
    s.KeepPlayingUnfocused = true;
    bool scaleGiven = false;
    opterr = 0;  // the messages below are the program's own
    optind = 0;  // glibc: start afresh, also inside a cluster of short options
    for (;;) {
        const int previous = optind ? optind : 1;
        const int c = getopt_long(argc, argv, ":hV", kOptions, nullptr);
        if (c == -1) break;
        const std::string arg = optarg ? optarg : "";
        uint32_t v = 0;
        switch (c) {
            case kLoop:
                if (!Number(optarg, 0xFFFFFFFEu, &v)) return Bad(error, "--loop needs a number, not '" + arg + "'");
                s.LoopCount = v ? v : 0xFFFFFFFFu;
                break;
            case kScale:
                if (arg != "1" && arg != "2") return Bad(error, "--scale must be 1 or 2, not '" + arg + "'");
                o->scale = arg == "2" ? 2 : 1;
                scaleGiven = true;
                break;
            case kSmooth:
            case kInterlace:
                o->doubling = c == kSmooth ? kBufferSmooth : kBufferInterlace;
                s.DisplayFlags |= c == kSmooth ? DISPLAY_SMOOTH : DISPLAY_INTERLACED;
                break;
            case kFullScreen:
                o->fullScreen = true;
                break;
            case kFps:
                if (!Number(optarg, 1000, &v)) return Bad(error, "--fps needs a number from 0 to 1000, not '" + arg + "'");
                s.FrameRate = static_cast<int32_t>(v);
                s.OpenFlags |= OPEN_RATE_OVERRIDE;
                break;
            case kNoSound:
                o->sound = false;
                break;
            case kTracks:
                if (!TrackList(optarg, &v))
                    return Bad(error, "--tracks needs track numbers 0 to 6 separated by commas, not '" + arg + "'");
                s.OpenFlags = (s.OpenFlags & ~static_cast<uint32_t>(OPEN_ALL_TRACKS)) | v;
                break;
            case kSummary:
                s.ShowSummary = true;
                break;
            case kTitle:
                s.FrameInCaption = true;
                break;
            case kOffset:
                // A file position the library can seek to.
                if (!Number(optarg, 0x7FFFFFFF, &v)) return Bad(error, "--offset needs a byte number, not '" + arg + "'");
                o->offset = v;
                break;
            case 'h':
                o->help = true;
                break;
            case 'V':
                o->version = true;
                break;
            case ':':
                // The options may stand after the movies, where argv has moved
                // them: the option is named by what getopt found.
                for (const option& known : kOptions)
                    if (known.name && known.val == optopt)
                        return Bad(error, std::string("option '--") + known.name + "' needs a value");
                return Bad(error, std::string("option '") + argv[previous] + "' needs a value");
            default:
                return Bad(error, std::string("unknown option '") + argv[previous] + "'");
        }
    }
    if (o->help || o->version) return true;
    if (o->doubling) {
        if (scaleGiven && o->scale != 2) return Bad(error, "--smooth and --interlace show the frames at --scale=2");
        o->scale = 2;
    }
    if (!o->sound) s.OpenFlags &= ~static_cast<uint32_t>(OPEN_ALL_TRACKS);
    for (int i = optind; i < argc; i++) o->movies.emplace_back(argv[i]);
    if (o->movies.empty()) return Bad(error, "no movie given");
    return true;
}
