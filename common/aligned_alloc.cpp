#include "common/aligned_alloc.h"

#include <cstdlib>

namespace {
int32_t g_fail_countdown = -1;
}

void SetAllocFailCountdown(int32_t countdown) { g_fail_countdown = countdown; }

void* AlignedAlloc(size_t n) {
    if (n == 0 || n == 0xFFFFFFFFu) return nullptr;
    if (n > SIZE_MAX - 16) return nullptr;
    if (g_fail_countdown >= 0) {
        if (g_fail_countdown == 0) return nullptr;
        --g_fail_countdown;
    }
    auto* raw = static_cast<unsigned char*>(std::malloc(n + 16));
    if (!raw) return nullptr;
    // 1..16 bytes on, so there is always room for the distance byte.
    uintptr_t distance = 16 - (reinterpret_cast<uintptr_t>(raw) & 15);
    unsigned char* p = raw + distance;
    p[-1] = static_cast<unsigned char>(distance);
    return p;
}

void AlignedFree(void* p) {
    if (!p) return;
    auto* q = static_cast<unsigned char*>(p);
    std::free(q - q[-1]);
}
