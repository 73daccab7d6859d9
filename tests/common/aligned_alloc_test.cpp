// The aligned allocator: n + 16 bytes from the heap, the first 16-byte
// boundary above the block's start, the distance byte, and its refusals.
#include <gtest/gtest.h>

#include <malloc.h>

#include <cstdint>
#include <cstring>

#include "common/aligned_alloc.h"

namespace {

TEST(AlignedAlloc, ReturnsTheFirstBoundaryAboveTheHeapBlock) {
    for (size_t n : {1u, 15u, 16u, 17u, 1000u, 65536u}) {
        auto* p = static_cast<uint8_t*>(AlignedAlloc(n));
        ASSERT_NE(p, nullptr) << n;
        const uintptr_t address = reinterpret_cast<uintptr_t>(p);
        EXPECT_EQ(address % 16, 0u) << n;
        const unsigned distance = p[-1];
        ASSERT_GE(distance, 1u) << n;
        ASSERT_LE(distance, 16u) << n;
        // The heap block starts `distance` bytes before: 1..16 on from it,
        // so a block that is itself aligned gives 16, never 0.
        const uintptr_t block = address - distance;
        EXPECT_EQ(distance, 16 - (block & 15)) << n;
        // The heap block holds n + 16 bytes, so the whole request is usable.
        EXPECT_GE(malloc_usable_size(reinterpret_cast<void*>(block)), n + 16) << n;
        std::memset(p, 0xAA, n);
        EXPECT_EQ(p[-1], distance) << n;  // the request does not reach the distance byte
        AlignedFree(p);  // frees the heap block itself (a wrong address aborts under ASan)
    }
}

TEST(AlignedAlloc, RefusesZeroAndAllOnes) {
    EXPECT_EQ(AlignedAlloc(0), nullptr);
    EXPECT_EQ(AlignedAlloc(0xFFFFFFFFu), nullptr);
    AlignedFree(nullptr);  // does nothing
}

TEST(AlignedAlloc, InjectedFailuresReturnNull) {
    SetAllocFailCountdown(1);
    void* first = AlignedAlloc(8);
    void* second = AlignedAlloc(8);
    void* third = AlignedAlloc(8);
    SetAllocFailCountdown(-1);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(second, nullptr);
    EXPECT_EQ(third, nullptr);
    void* again = AlignedAlloc(8);
    EXPECT_NE(again, nullptr);
    AlignedFree(first);
    AlignedFree(again);
}

}  // namespace
