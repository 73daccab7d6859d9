// 16-bit colour tables: entry i is palette entry i packed as 5-5-5 or 5-6-5.
#include <gtest/gtest.h>

#include <cstdint>

#include "common/color_table16.h"

namespace {

struct Tables {
    uint8_t palette[768] = {};
    uint16_t t555[256], t565[256];
    Tables() {
        const uint8_t white[3] = {255, 255, 255}, green[3] = {0, 255, 0}, mixed[3] = {0x12, 0x34, 0x56};
        for (int c = 0; c < 3; ++c) {
            palette[3 * 1 + c] = white[c];
            palette[3 * 2 + c] = green[c];
            palette[3 * 255 + c] = mixed[c];
        }
        BuildColorTable555(t555, palette);
        BuildColorTable565(t565, palette);
    }
};

TEST(ColorTable16, WhiteAndGreenInBothFormats) {
    Tables t;
    EXPECT_EQ(t.t555[1], 0x7FFF);
    EXPECT_EQ(t.t565[1], 0xFFFF);
    EXPECT_EQ(t.t555[2], 0x03E0);
    EXPECT_EQ(t.t565[2], 0x07E0);
    EXPECT_EQ(t.t555[0], 0);
    EXPECT_EQ(t.t565[0], 0);
}

TEST(ColorTable16, LowBitsAreDroppedPerChannel) {
    Tables t;
    // 0x12 0x34 0x56: red 2, green 6 (5 bits) or 13 (6 bits), blue 10.
    EXPECT_EQ(t.t555[255], (2 << 10) | (6 << 5) | 10);
    EXPECT_EQ(t.t565[255], (2 << 11) | (13 << 5) | 10);
    for (int i = 3; i < 255; ++i) {
        EXPECT_EQ(t.t555[i], 0) << i;
        EXPECT_EQ(t.t565[i], 0) << i;
    }
}

}  // namespace
