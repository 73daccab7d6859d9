// quarvselfplay: makes a self-playing copy of the player. The movie is
// appended to a copy of the executable, starting on a 4096-byte boundary
// (zero bytes fill the gap), and the configuration text in the executable's
// self-play area names its offset and the switches to play it with.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kUsage[] =
    "usage: quarvselfplay [--switches TEXT] PLAYER.exe MOVIE.qvl OUT.exe\n"
    "       quarvselfplay --help\n"
    "\n"
    "Writes OUT.exe: a copy of PLAYER.exe with MOVIE.qvl appended on a 4096-byte\n"
    "boundary and its self-play area filled with \":OFFSET SWITCHES\". Started\n"
    "without arguments, OUT.exe plays the movie it carries with those switches;\n"
    "names and switches on its command line come after them and override them.\n"
    "\n"
    "  --switches TEXT    the switches (default \"/W640/I4/J/D2/T1/U2/A2\": 640 wide,\n"
    "                     no border or caption, keeps playing without the focus,\n"
    "                     640x480 screen, sound track 0, no skip key, doubled height)\n";

const char kDefaultSwitches[] = "/W640/I4/J/D2/T1/U2/A2";
const char kTag[] = "SELFPLAY";
constexpr size_t kTagSize = 8;
constexpr size_t kAreaSize = 224;
constexpr size_t kTextSize = kAreaSize - kTagSize;  // configuration text with its terminator
constexpr size_t kAlignment = 4096;
constexpr size_t kMovieHeaderSize = 104;
constexpr uint64_t kLargestOffset = 0x7FFFFFFF;  // the player seeks with a signed 32-bit offset

int Fail(const std::string& message) {
    std::fprintf(stderr, "quarvselfplay: %s\n", message.c_str());
    return 1;
}

bool ReadWhole(const std::string& path, std::vector<unsigned char>* bytes, std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    bytes->clear();
    unsigned char buffer[65536];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes->insert(bytes->end(), buffer, buffer + got);
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) *error = "cannot read " + path;
    return !bad;
}

// The tag's place in the executable; every occurrence is counted so that a
// stray copy of the text cannot be mistaken for the area.
std::vector<size_t> FindTag(const std::vector<unsigned char>& exe) {
    std::vector<size_t> found;
    if (exe.size() < kAreaSize) return found;
    for (size_t i = 0; i + kAreaSize <= exe.size(); i++)
        if (std::memcmp(&exe[i], kTag, kTagSize) == 0) found.push_back(i);
    return found;
}

bool WriteAtomically(const std::string& path, const std::vector<unsigned char>& bytes, mode_t mode,
                     std::string* error) {
    const std::string tmp = path + ".part";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) {
        *error = "cannot create " + tmp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok) chmod(tmp.c_str(), mode);
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) {
        *error = "cannot rename " + tmp + " to " + path + ": " + std::strerror(errno);
        std::remove(tmp.c_str());
        return false;
    }
    if (!ok) {
        *error = "cannot write " + tmp;
        std::remove(tmp.c_str());
    }
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    std::string switches = kDefaultSwitches;
    std::vector<std::string> files;
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--switches") {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quarvselfplay: --switches needs a text\n%s", kUsage);
                return 2;
            }
            switches = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            std::fprintf(stderr, "quarvselfplay: unknown option %s\n%s", arg.c_str(), kUsage);
            return 2;
        } else {
            files.push_back(arg);
        }
    }
    if (files.size() != 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string& playerPath = files[0];
    const std::string& moviePath = files[1];
    const std::string& outPath = files[2];

    std::string error;
    std::vector<unsigned char> exe, movie;
    if (!ReadWhole(playerPath, &exe, &error) || !ReadWhole(moviePath, &movie, &error)) return Fail(error);

    if (movie.size() < kMovieHeaderSize || std::memcmp(movie.data(), "QVL2", 4) != 0)
        return Fail(moviePath + " is not a Quarvel movie");

    const std::vector<size_t> tags = FindTag(exe);
    if (tags.empty()) return Fail(playerPath + " has no self-play area (tag \"SELFPLAY\" not found)");
    if (tags.size() > 1)
        return Fail(playerPath + " holds the tag \"SELFPLAY\" " + std::to_string(tags.size()) +
                    " times; cannot tell which is the self-play area");
    const size_t textAt = tags[0] + kTagSize;
    if (exe[textAt] != 0)
        return Fail(playerPath + " is already self-playing (its self-play area holds \"" +
                    std::string(reinterpret_cast<const char*>(&exe[textAt]), strnlen(reinterpret_cast<const char*>(&exe[textAt]), kTextSize)) + "\")");

    const uint64_t offset = (exe.size() + kAlignment - 1) / kAlignment * kAlignment;
    if (offset > kLargestOffset) return Fail(playerPath + " is too large to carry a movie");

    std::string text = ":" + std::to_string(offset);
    if (!switches.empty()) text += " " + switches;
    if (text.size() + 1 > kTextSize)
        return Fail("the configuration text \"" + text + "\" is " + std::to_string(text.size()) +
                    " bytes; the self-play area holds at most " + std::to_string(kTextSize - 1));

    std::memset(&exe[textAt], 0, kTextSize);
    std::memcpy(&exe[textAt], text.data(), text.size());
    exe.resize(offset, 0);
    exe.insert(exe.end(), movie.begin(), movie.end());

    struct stat st;
    const mode_t mode = stat(playerPath.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0755;
    if (!WriteAtomically(outPath, exe, mode, &error)) return Fail(error);
    std::printf("quarvselfplay: wrote %s: movie at byte %llu, configuration \"%s\"\n", outPath.c_str(),
                static_cast<unsigned long long>(offset), text.c_str());
    return 0;
}
