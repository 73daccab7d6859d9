// The native player's command line, in the manner of Linux tools: GNU-style
// long options into the same PlayerSettings the Windows switches fill, plus
// what only the native window has (size, full screen, a movie's offset).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct NativeOptions {
    uint32_t scale = 1;       // 1 or 2
    uint32_t doubling = 0;    // at 2x: kBufferSmooth or kBufferInterlace
    bool fullScreen = false;
    bool sound = true;
    uint32_t offset = 0;      // every movie starts at this byte of its file
    bool help = false;
    bool version = false;
    std::vector<std::string> movies;
};

extern const char kNativeUsage[];

// Parses argv into `options` and the process-wide Settings. False with a
// one-line reason in `error` (without the program's name) when the command
// line cannot be played; --help and --version need no movie.
bool ParseNativeOptions(int argc, char** argv, NativeOptions* options, std::string* error);
