// Rectangles between graphics buffers of either orientation: the picture
// must arrive upright, the mask and other buffers must match the source,
// and nothing outside the rectangle (or the buffers) is touched.
#include <gtest/gtest.h>

#include <vector>

#include "blit/blit.h"
#include "display/display.h"
#include "tests/blit/checkblit.h"

namespace {

// A buffer holding a picture; Picture(x, y) reads it upright whatever the
// memory order.
struct Buffer {
    std::vector<uint8_t> memory;
    QuarvBuffer record{};

    Buffer(uint32_t width, uint32_t height, bool bottomUp, uint8_t fill = 0) {
        record.bottomUp = bottomUp;
        record.height = height;
        record.pitch = (width + 7) & ~7u;
        memory.assign(record.pitch * height, fill);
        record.pixels = memory.data();
    }
    uint8_t& Picture(uint32_t x, uint32_t y) {
        const uint32_t row = record.bottomUp ? record.height - 1 - y : y;
        return memory[row * record.pitch + x];
    }
    // Fills the picture so that every pixel tells its own place.
    void Number() {
        for (uint32_t y = 0; y < record.height; ++y)
            for (uint32_t x = 0; x < record.pitch; ++x) Picture(x, y) = static_cast<uint8_t>(y * 16 + x);
    }
};

constexpr int kDestX = 4, kDestY = 2, kSrcX = 2, kSrcY = 1, kW = 5, kH = 3;

class Orientation : public ::testing::TestWithParam<std::tuple<bool, bool>> {};

TEST_P(Orientation, PictureArrivesUprightAndAlone) {
    const bool destUp = std::get<0>(GetParam()), srcUp = std::get<1>(GetParam());
    Buffer src(12, 7, srcUp), dest(16, 9, destUp, 0xEE);
    src.Number();
    QuarvBufferToBuffer(&dest.record, kDestX, kDestY, &src.record, kSrcX, kSrcY, kW, kH);
    for (uint32_t y = 0; y < 9; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            const bool inside = x >= kDestX && x < kDestX + kW && y >= kDestY && y < kDestY + kH;
            const uint8_t want = inside ? src.Picture(x - kDestX + kSrcX, y - kDestY + kSrcY) : 0xEE;
            ASSERT_EQ(want, dest.Picture(x, y)) << "at " << x << "," << y;
        }
    }
}

TEST_P(Orientation, TransMaskAndMergeFollowTheSourceRows) {
    const bool destUp = std::get<0>(GetParam()), srcUp = std::get<1>(GetParam());
    checkblit::Rng rng(destUp * 2 + srcUp);
    Buffer src(12, 7, srcUp), second(12, 7, srcUp);
    for (uint32_t y = 0; y < 7; ++y) {
        for (uint32_t x = 0; x < 16; ++x) {
            src.Picture(x, y) = static_cast<uint8_t>(rng.Below(3));
            second.Picture(x, y) = static_cast<uint8_t>(rng.Below(3));
        }
    }
    const uint8_t t = 1;
    for (int which = 0; which < 3; ++which) {
        Buffer dest(16, 9, destUp, 0xEE);
        if (which == 0) QuarvBufferToBufferTrans(&dest.record, kDestX, kDestY, &src.record, kSrcX, kSrcY, kW, kH, t);
        if (which == 1)
            QuarvBufferToBufferMask(&dest.record, kDestX, kDestY, &src.record, kSrcX, kSrcY, kW, kH, t, &second.record);
        if (which == 2)
            QuarvBufferToBufferMerge(&dest.record, kDestX, kDestY, &src.record, kSrcX, kSrcY, kW, kH, t,
                                     &second.record);
        for (uint32_t y = 0; y < 9; ++y) {
            for (uint32_t x = 0; x < 16; ++x) {
                const bool inside = x >= kDestX && x < kDestX + kW && y >= kDestY && y < kDestY + kH;
                uint8_t want = 0xEE;
                if (inside) {
                    const uint8_t s = src.Picture(x - kDestX + kSrcX, y - kDestY + kSrcY);
                    const uint8_t o = second.Picture(x - kDestX + kSrcX, y - kDestY + kSrcY);
                    if (which == 0) want = s != t ? s : 0xEE;
                    if (which == 1) want = o != t ? s : 0xEE;
                    if (which == 2) want = s != t ? s : o;
                }
                ASSERT_EQ(want, dest.Picture(x, y)) << "kind " << which << " at " << x << "," << y;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(BothWays, Orientation, ::testing::Combine(::testing::Bool(), ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<bool, bool>>& info) {
                             return std::string(std::get<0>(info.param) ? "BottomUpDest" : "TopDownDest") +
                                    (std::get<1>(info.param) ? "_BottomUpSrc" : "_TopDownSrc");
                         });

bool Untouched(const Buffer& b, uint8_t fill) {
    for (uint8_t v : b.memory)
        if (v != fill) return false;
    return true;
}

TEST(BufferToBuffer, MaskAndOtherMustShareTheSourcesOrientationAndPitch) {
    Buffer src(8, 4, true, 3), dest(8, 4, false, 0xEE);
    Buffer flipped(8, 4, false, 3), wider(16, 4, true, 3), shorter(8, 2, true, 3);
    for (const Buffer* second : {&flipped, &wider, &shorter}) {
        QuarvBufferToBufferMask(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 1, &second->record);
        QuarvBufferToBufferMerge(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 1, &second->record);
    }
    QuarvBufferToBufferMask(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 1, nullptr);
    EXPECT_TRUE(Untouched(dest, 0xEE));
    // The same second buffers are fine once they match.
    Buffer matching(8, 4, true, 5);
    QuarvBufferToBufferMerge(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 1, &matching.record);
    EXPECT_TRUE(Untouched(dest, 3));
}

// The records carry their sizes, so a rectangle reaching outside either
// buffer is refused instead of writing past the pixels.
TEST(BufferToBuffer, RectanglesOutsideEitherBufferAreRefused) {
    Buffer src(8, 4, true, 3), dest(8, 4, true, 0xEE);
    const struct {
        int dx, dy, sx, sy, w, h;
    } bad[] = {
        {0, 1, 0, 0, 8, 4}, {1, 0, 0, 0, 8, 4}, {0, 0, 0, 1, 8, 4}, {0, 0, 1, 0, 8, 4},
        {-1, 0, 0, 0, 2, 2}, {0, -1, 0, 0, 2, 2}, {0, 0, -1, 0, 2, 2}, {0, 0, 0, 0, -2, 2},
        {0, 0, 0, 0, 2, 0}, {0, 0, 0, 0, 0x7FFFFFFF, 1}, {0, 0x7FFFFFFF, 0, 0, 1, 1},
    };
    for (const auto& r : bad) {
        QuarvBufferToBuffer(&dest.record, r.dx, r.dy, &src.record, r.sx, r.sy, r.w, r.h);
        QuarvBufferToBufferTrans(&dest.record, r.dx, r.dy, &src.record, r.sx, r.sy, r.w, r.h, 9);
    }
    QuarvBufferToBuffer(nullptr, 0, 0, &src.record, 0, 0, 1, 1);
    QuarvBufferToBuffer(&dest.record, 0, 0, nullptr, 0, 0, 1, 1);
    EXPECT_TRUE(Untouched(dest, 0xEE));
    QuarvBufferToBuffer(&dest.record, 0, 0, &src.record, 0, 0, 8, 4);  // the whole buffer fits
    EXPECT_TRUE(Untouched(dest, 3));
}

}  // namespace
