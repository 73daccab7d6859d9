// The native player's command line on arbitrary arguments: the input's
// lines are the arguments after the program's name. A parse that succeeds
// must leave something playable.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "player/sdl/options.h"
#include "player/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"quarvplay"};
    std::string arg;
    for (size_t i = 0; i < size && args.size() < 64; i++) {
        if (data[i] == '\n') {
            args.push_back(arg);
            arg.clear();
        } else if (data[i]) {
            arg += static_cast<char>(data[i]);
        }
    }
    args.push_back(arg);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    ResetPlayerSettings();
    NativeOptions options;
    std::string error;
    const bool ok = ParseNativeOptions(static_cast<int>(args.size()), argv.data(), &options, &error);
    if (ok == !error.empty()) std::abort();  // a reason exactly when refused
    if (ok && !options.help && !options.version &&
        (options.movies.empty() || (options.scale != 1 && options.scale != 2) || (options.doubling && options.scale != 2)))
        std::abort();
    return 0;
}
