#include "web/memory_file.h"

#include <cstring>

namespace {

constexpr QvFile kMemoryHandle = 1;

const uint8_t* g_data = nullptr;
uint32_t g_size = 0;
uint32_t g_pos = 0;

// Only the served handle exists: there are no names to open.
QvFile OpenByName(const char*) { return kNoFile; }

uint32_t Read(QvFile f, void* dst, uint32_t count) {
    if (f != kMemoryHandle || !g_data || g_pos >= g_size) return 0;
    const uint32_t n = count < g_size - g_pos ? count : g_size - g_pos;
    std::memcpy(dst, g_data + g_pos, n);
    g_pos += n;
    return n;
}

// Like a disk file: positions past the end are allowed (reads there give 0
// bytes), positions before the start fail.
uint32_t Seek(QvFile f, int32_t offset, uint32_t origin) {
    if (f != kMemoryHandle || !g_data) return 0xFFFFFFFFu;
    const int64_t base = origin == kSeekBegin ? 0 : origin == kSeekCurrent ? int64_t{g_pos} : int64_t{g_size};
    const int64_t p = base + offset;
    if (p < 0 || p > 0xFFFFFFFELL) return 0xFFFFFFFFu;
    g_pos = static_cast<uint32_t>(p);
    return g_pos;
}

void Close(QvFile) {}

const FileLayer kMemoryFiles = {OpenByName, Read, Seek, Close};

}  // namespace

QvFile MemoryFileServe(const uint8_t* data, uint32_t size) {
    g_data = data;
    g_size = size;
    g_pos = 0;
    SetFileLayer(&kMemoryFiles);
    return kMemoryHandle;
}

void MemoryFileRelease() {
    g_data = nullptr;
    g_size = g_pos = 0;
    SetFileLayer(nullptr);
}
