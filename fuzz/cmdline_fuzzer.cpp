// The player's start-up texts on arbitrary bytes: a self-play text (which a
// tool patches into the executable, so it may lack its terminator) and a
// command line in their fixed buffers, the switches parsed, every name split
// off and given its default extension, and a message composed from it.
// Input: one byte giving the length of the self-play part, that part, then
// the command line.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "player/cmdline.h"
#include "player/message_text.h"
#include "player/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const size_t configLength = data[0] <= size - 1 ? data[0] : size - 1;
    // Exact-size buffers, so a write or read past them trips the sanitizer.
    std::vector<char> config(kConfigTextSize, '\0');
    std::memcpy(config.data(), data + 1, configLength < kConfigTextSize ? configLength : kConfigTextSize);
    const std::string commandLine(reinterpret_cast<const char*>(data + 1 + configLength), size - 1 - configLength);

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
