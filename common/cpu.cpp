#include "common/cpu.h"

#if defined(__i386__) || defined(__x86_64__)
#include <cpuid.h>
#endif

uint32_t MmxLevel = 0;
uint32_t MmxState = 0;

namespace {

#if defined(__i386__) || defined(__x86_64__)
// True when bit `bit` of the flags register can be changed from user code.
// The register is restored at once, so the alignment-check bit never stays on.
bool FlagBitToggles(unsigned bit) {
    uintptr_t before, after;
    const uintptr_t mask = static_cast<uintptr_t>(1) << bit;
#if defined(__x86_64__)
    __asm__ volatile(
        "pushfq\n\t"
        "pushfq\n\t"
        "pop %0\n\t"
        "mov %0, %1\n\t"
        "xor %2, %1\n\t"
        "push %1\n\t"
        "popfq\n\t"
        "pushfq\n\t"
        "pop %1\n\t"
        "popfq\n\t"
        : "=&r"(before), "=&r"(after)
        : "r"(mask)
        : "cc");
#else
    __asm__ volatile(
        "pushfl\n\t"
        "pushfl\n\t"
        "pop %0\n\t"
        "mov %0, %1\n\t"
        "xor %2, %1\n\t"
        "push %1\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "pop %1\n\t"
        "popfl\n\t"
        : "=&r"(before), "=&r"(after)
        : "r"(mask)
        : "cc");
#endif
    return ((before ^ after) & mask) != 0;
}

uint32_t ProbeFeatures() {
    // A 386 cannot set the alignment-check bit; a processor without the
    // identification instruction cannot toggle the ID bit.
    if (!FlagBitToggles(18) || !FlagBitToggles(21)) return 0;
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d)) return 0;
    uint32_t f = 0;
    if (d & (1u << 23)) f |= kCpuMmx;
    if (d & (1u << 26)) f |= kCpuSse2;
    // AVX2 also needs the OS to save the YMM state.
    bool osxsave = (c & (1u << 27)) != 0, avx = (c & (1u << 28)) != 0;
    if (osxsave && avx) {
        unsigned xlo, xhi;
        __asm__ volatile("xgetbv" : "=a"(xlo), "=d"(xhi) : "c"(0));
        if ((xlo & 6) == 6 && __get_cpuid_max(0, nullptr) >= 7) {
            __cpuid_count(7, 0, a, b, c, d);
            if (b & (1u << 5)) f |= kCpuAvx2;
        }
    }
    return f;
}
#else
uint32_t ProbeFeatures() { return 0; }
#endif

uint32_t g_features = 0;
bool g_probed = false;
uint32_t g_mask = ~0u;

}  // namespace

uint32_t CpuFeatures() {
    if (!g_probed) {
        g_features = ProbeFeatures();
        g_probed = true;
    }
    return g_features & g_mask;
}

void SetCpuFeatureMask(uint32_t mask) { g_mask = mask; }

void DetectMmx() {
    if (!(MmxState & 0x2)) {
        MmxState |= 0x2;
        if (CpuFeatures() & kCpuMmx) MmxState |= 0x1;
    }
    MmxLevel = MmxState == 3 ? 2 : 1;
}

uint32_t QuarvUseMMX(uint32_t onOff) {
    if (onOff == 0) MmxState |= 0x4;
    else if (onOff == 1) MmxState &= ~0x4u;
    DetectMmx();
    return MmxLevel == 2 ? 1 : 0;
}
