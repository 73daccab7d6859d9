// The player's start-up texts on arbitrary bytes: a self-play text (which a
// tool patches into the executable, so it may lack its terminator) and a
// command line in their fixed buffers, the switches parsed, every name split
// off and given its default extension, and a message composed from it; and
// the native player's options, the command line's lines as its arguments (a
// parse that succeeds must leave something playable).
// Input: one byte giving the length of the self-play part, that part, then
// the command line.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "player/cmdline.h"
#include "player/message_text.h"
#include "player/sdl/options.h"
#include "player/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t configLength = data[0] <= size - 1 ? data[0] : size - 1;
    // Exact-size buffers, so a write or read past them trips the sanitizer.
    std::vector<char> config(kConfigTextSize, '\0');
    std::memcpy(config.data(), data + 1, configLength < kConfigTextSize ? configLength : kConfigTextSize);
    const std::string commandLine(reinterpret_cast<const char*>(data + 1 + configLength), size - 1 - configLength);

    std::vector<std::string> args{"quarvplay", ""};
    for (char c : commandLine)
        if (c == '\n') args.emplace_back(); else args.back().push_back(c);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    ResetPlayerSettings();
    NativeOptions options;
    std::string error;
    if (ParseNativeOptions(static_cast<int>(args.size()), argv.data(), &options, &error) == !error.empty() ||
        (error.empty() && !options.help && !options.version &&
         (options.movies.empty() || (options.scale != 1 && options.scale != 2) || (options.doubling && options.scale != 2))))
        std::abort();

    ResetPlayerSettings();
    UsageHook = nullptr;
    UseDirectSoundHook = [] { return false; };

    std::vector<char> line(kCommandLineSize);
    if (!CopyCommandLine(*reinterpret_cast<char(*)[kCommandLineSize]>(line.data()), commandLine.c_str())) return 0;
    TakeParentSwitch(line.data());

    char* names = PrepareNames(config.data(), line.data());
    if (!names) return 0;
    for (int guard = 0; guard < 256; ++guard) {
        std::vector<char> name(kNameSize);
        TakeFirstName(name.data(), name.size(), names);
        if (name[0] == '\0' && names[0] == '\0') break;
        AddDefaultExtension(name.data(), name.size());
        std::vector<char> text(kMessageTextSize);
        ComposeMessageText(text.data(), text.size(), "  Error opening file: ", name.data(), ".");
    }
    return 0;
}
