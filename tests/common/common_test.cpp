// The helpers every subsystem shares: the aligned allocator and the MMX
// switch. (The 16-bit colour tables are checked through the blitter's
// pixels.)
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>

#include "common/aligned_alloc.h"
#include "common/cpu.h"

namespace {

// Every block starts on the first 16-byte boundary 1..16 bytes into a heap
// block of n + 16 bytes, whose distance the byte before it keeps; 0 and
// 0xFFFFFFFF are refused, as is every request once an injected failure hits.
TEST(AlignedAlloc, AlignsRecordsTheDistanceAndRefuses) {
    for (size_t n : {1u, 15u, 16u, 17u, 1000u, 65536u}) {
        auto* p = static_cast<uint8_t*>(AlignedAlloc(n));
        ASSERT_NE(p, nullptr) << n;
        const uintptr_t address = reinterpret_cast<uintptr_t>(p), distance = p[-1];
        std::memset(p, 0xAA, n);  // every byte asked for is usable, the distance byte (16, not 0, for an aligned block) kept
        EXPECT_TRUE(address % 16 == 0 && distance == 16 - ((address - distance) & 15) && p[-1] == distance) << n;
        EXPECT_GE(malloc_usable_size(p - distance), n + 16) << n;
        AlignedFree(p);  // the heap block itself is freed (ASan aborts on any other address)
    }
    EXPECT_TRUE(!AlignedAlloc(0) && !AlignedAlloc(0xFFFFFFFFu));
    AlignedFree(nullptr);
    SetAllocFailCountdown(1);
    void* const blocks[3] = {AlignedAlloc(8), AlignedAlloc(8), AlignedAlloc(8)};
    SetAllocFailCountdown(-1);
    EXPECT_TRUE(blocks[0] && !blocks[1] && !blocks[2]);
    AlignedFree(blocks[0]);
}

// The probe runs once per process; QuarvUseMMX(0) switches the MMX code off,
// 1 on again where the processor has it, anything else only asks.
TEST(Mmx, ProbeOnceAndSwitch) {
    const bool has = (CpuFeatures() & kCpuMmx) != 0;
    for (bool hidden : {false, true}) {
        MmxLevel = MmxState = 0;
        SetCpuFeatureMask(hidden ? ~uint32_t(kCpuMmx) : ~0u);
        const bool mmx = has && !hidden;
        DetectMmx();
        SetCpuFeatureMask(hidden ? ~0u : 0);  // a later answer of the processor is not seen
        DetectMmx();
        EXPECT_EQ(MmxState, mmx ? 3u : 2u) << hidden;
        const uint32_t args[] = {1, 0, 2, 1, 7, 0}, on[] = {mmx, 0, 0, mmx, mmx, 0}, off[] = {0, 4, 4, 0, 0, 4};
        for (int i = 0; i < 6; ++i) {
            const uint32_t used = QuarvUseMMX(args[i]);
            EXPECT_TRUE(used == on[i] && MmxLevel == (on[i] ? 2u : 1u) && (MmxState & 4) == off[i]) << hidden << " step " << i;
        }
    }
    SetCpuFeatureMask(~0u), MmxLevel = MmxState = 0;
}

}  // namespace
