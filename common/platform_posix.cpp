#include "common/platform.h"

#include <cctype>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

QvFile PosixOpen(const char* name) {
    int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return kNoFile;
#ifdef POSIX_FADV_SEQUENTIAL
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
    return fd;
}

uint32_t PosixRead(QvFile f, void* dst, uint32_t count) {
    uint32_t got = 0;
    auto* p = static_cast<unsigned char*>(dst);
    while (got < count) {  // ReadFile on a disk file returns everything up to EOF
        ssize_t r = ::read(static_cast<int>(f), p + got, count - got);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) break;
        got += static_cast<uint32_t>(r);
    }
    return got;
}

uint32_t PosixSeek(QvFile f, int32_t offset, uint32_t origin) {
    int whence = origin == kSeekBegin ? SEEK_SET : origin == kSeekCurrent ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(static_cast<int>(f), offset, whence);
    return r < 0 ? 0xFFFFFFFFu : static_cast<uint32_t>(r);
}

void PosixClose(QvFile f) { ::close(static_cast<int>(f)); }

const FileLayer kPosixFiles = {PosixOpen, PosixRead, PosixSeek, PosixClose};
const FileLayer* g_files = &kPosixFiles;

uint32_t MonotonicMs() {
    using namespace std::chrono;
    // Wraps at 2^32 like the Windows millisecond clock.
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}
uint32_t (*g_clock)() = MonotonicMs;

}  // namespace

const FileLayer* GetFileLayer() { return g_files; }
void SetFileLayer(const FileLayer* layer) { g_files = layer ? layer : &kPosixFiles; }

uint32_t NowMs() { return g_clock(); }
void SetClock(uint32_t (*clock)()) { g_clock = clock ? clock : MonotonicMs; }

void SleepMs(uint32_t ms) { ::usleep(ms * 1000u); }

void DebugOut(const char* text) { std::fputs(text, stderr); }

int32_t ProfileInt(const char* section, const char* key, int32_t def) {
    std::string name = "QUARVEL_PROFILE_";
    for (const char* s = section; *s; ++s) name += static_cast<char>(std::toupper(static_cast<unsigned char>(*s)));
    name += '_';
    for (const char* s = key; *s; ++s) name += static_cast<char>(std::toupper(static_cast<unsigned char>(*s)));
    const char* v = std::getenv(name.c_str());
    if (!v || !*v) return def;
    return static_cast<int32_t>(std::strtol(v, nullptr, 10));  // GetProfileIntA reads a leading number
}
