// The helpers every subsystem shares: the aligned allocator. (The MMX switch
// is checked through the blitter's names and code, Blitter.BlockModesAndNames,
// and the 16-bit colour tables through the blitter's pixels.)
#include <gtest/gtest.h>
#include <malloc.h>

#include <cstring>

#include "common/aligned_alloc.h"

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

}  // namespace
