#include <gtest/gtest.h>
#include <cstdint>
#include "common/aligned_alloc.h"

TEST(AlignedAlloc, ReturnsAlignedBlockWithDistanceByte) {
    for (size_t n : {1u, 15u, 16u, 17u, 1000u}) {
        auto* p = static_cast<uint8_t*>(AlignedAlloc(n));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        EXPECT_GE(p[-1], 1);
        EXPECT_LE(p[-1], 16);
        p[n - 1] = 0xAA;  // the whole request is usable
        AlignedFree(p);
    }
}
