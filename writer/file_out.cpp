// Movies reach their final name only when complete: written to a temporary
// file beside the target, then renamed over it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <unistd.h>

#include "writer/writer.h"

namespace qvw {

bool WriteBytesFile(const std::vector<uint8_t>& bytes, const std::string& path, std::string* error) {
    const std::string temp = path + ".tmp" + std::to_string(static_cast<long>(getpid()));
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int saved = errno;
    if (std::fclose(f) != 0 && ok) ok = false, saved = errno;
    if (ok && std::rename(temp.c_str(), path.c_str()) != 0) {
        saved = errno;
        ok = false;
    }
    if (!ok) {
        std::remove(temp.c_str());
        *error = "cannot write " + path + ": " + std::strerror(saved);
    }
    return ok;
}

bool WriteMovieFile(const MoviePlan& plan, const std::string& path, std::string* error,
                    WriteReport* report) {
    std::vector<uint8_t> bytes;
    try {
        bytes = WriteMovie(plan, report);
    } catch (const std::exception& e) {
        *error = e.what();
        return false;
    }
    return WriteBytesFile(bytes, path, error);
}

}  // namespace qvw
