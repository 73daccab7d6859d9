// The smoothing-table builders: nearest colours and their tie rule, the
// 16-bit midpoints, by value and against an exhaustive search.
#include <gtest/gtest.h>

#include <vector>

#include "blit/kernels.h"
#include "common/color_table16.h"
#include "tests/blit/checkblit.h"

namespace {

// Exhaustive nearest colour: smallest squared distance, then lowest red,
// then lowest index.
uint8_t Nearest(const uint8_t* p, int R, int G, int B) {
    int best = -1;
    long bestKey = 0;
    for (int k = 0; k < 256; ++k) {
        const int dr = R - p[3 * k], dg = G - p[3 * k + 1], db = B - p[3 * k + 2];
        const long key = (static_cast<long>(dr * dr + dg * dg + db * db) << 16) | (p[3 * k] << 8) | k;
        if (best < 0 || key < bestKey) best = k, bestKey = key;
    }
    return static_cast<uint8_t>(best);
}

void SetEntry(uint8_t* palette, int i, int r, int g, int b) {
    palette[3 * i] = static_cast<uint8_t>(r);
    palette[3 * i + 1] = static_cast<uint8_t>(g);
    palette[3 * i + 2] = static_cast<uint8_t>(b);
}

class BuildSmooth8Variants : public ::testing::TestWithParam<int> {
protected:
    const BlitDSP& Dsp() {
        const auto v = static_cast<BlitVariant>(GetParam());
        return BlitDspFor(v);
    }
    void SetUp() override {
        if (!BlitVariantSupported(static_cast<BlitVariant>(GetParam()))) GTEST_SKIP();
    }
};

TEST_P(BuildSmooth8Variants, MatchesExhaustiveSearchOnRandomPalettes) {
    checkblit::Rng rng(314);
    std::vector<uint8_t> table(65536);
    uint8_t p[768];
    for (int n = 0; n < 4; ++n) {
        checkblit::RandomPalette(p, rng);
        Dsp().buildSmooth8(table.data(), p);
        for (int i = 0; i < 256; ++i) {
            for (int j = 0; j < 256; ++j) {
                const uint8_t want = i == j ? static_cast<uint8_t>(i)
                                            : Nearest(p, (p[3 * i] + p[3 * j]) / 2, (p[3 * i + 1] + p[3 * j + 1]) / 2,
                                                      (p[3 * i + 2] + p[3 * j + 2]) / 2);
                ASSERT_EQ(want, table[i * 256 + j]) << "palette " << n << " pair " << i << "," << j;
            }
        }
    }
}

TEST_P(BuildSmooth8Variants, EqualColoursTieToTheLowerIndex) {
    uint8_t p[768];
    for (int i = 0; i < 256; ++i) SetEntry(p, i, 255, 255, 0);  // far from everything below
    SetEntry(p, 10, 0, 0, 0);
    SetEntry(p, 11, 100, 100, 100);
    SetEntry(p, 200, 50, 50, 50);  // both exactly the midpoint of 10 and 11
    SetEntry(p, 40, 50, 50, 50);
    std::vector<uint8_t> table(65536);
    Dsp().buildSmooth8(table.data(), p);
    EXPECT_EQ(40, table[10 * 256 + 11]);
    EXPECT_EQ(40, table[11 * 256 + 10]);
}

// Equally near candidates of different red: the lower red wins even with
// the higher index, because the search walks the colours sorted by red.
TEST_P(BuildSmooth8Variants, EqualDistancesTieToTheLowerRed) {
    uint8_t p[768];
    for (int i = 0; i < 256; ++i) SetEntry(p, i, 0, 255, 255);
    SetEntry(p, 1, 90, 0, 0);
    SetEntry(p, 2, 110, 0, 0);   // midpoint (100, 0, 0)
    SetEntry(p, 5, 102, 0, 0);   // distance 4
    SetEntry(p, 9, 98, 0, 0);    // distance 4, lower red, higher index
    std::vector<uint8_t> table(65536);
    Dsp().buildSmooth8(table.data(), p);
    EXPECT_EQ(9, table[1 * 256 + 2]);
}

TEST_P(BuildSmooth8Variants, DiagonalIsTheEntryItselfAndTheTableIsSymmetric) {
    uint8_t p[768] = {};  // all black: every midpoint search ties
    std::vector<uint8_t> table(65536, 0xAA);
    Dsp().buildSmooth8(table.data(), p);
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(i, table[i * 257]);
        for (int j = 0; j < 256; ++j) ASSERT_EQ(table[i * 256 + j], table[j * 256 + i]);
    }
    EXPECT_EQ(0, table[3 * 256 + 4]);  // all equal: the first entry in sort order
}

INSTANTIATE_TEST_SUITE_P(AllVariants, BuildSmooth8Variants, ::testing::Range(0, static_cast<int>(kBlitVariantCount)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(BlitVariantName(static_cast<BlitVariant>(info.param)));
                         });

TEST(BuildSmooth16, MidpointOfBlackAndWhite) {
    uint8_t p[768] = {};
    SetEntry(p, 1, 255, 255, 255);
    std::vector<uint16_t> t555(65536), t565(65536);
    BuildSmooth16_555_plain(t555.data(), p);
    BuildSmooth16_565_plain(t565.data(), p);
    EXPECT_EQ(0x3DEF, t555[0 * 256 + 1]);
    EXPECT_EQ(0x3DEF, t555[1 * 256 + 0]);
    EXPECT_EQ(0x7BEF, t565[0 * 256 + 1]);
    EXPECT_EQ(0x7FFF, t555[1 * 257]);
    EXPECT_EQ(0xFFFF, t565[1 * 257]);
    EXPECT_EQ(0, t565[0]);
}

// The low bit of each component is dropped before adding: 7 and 9 average
// to 7 (not 8), which lands in a different 5-bit step.
TEST(BuildSmooth16, DropsEachComponentsLowBitBeforeAdding) {
    uint8_t p[768] = {};
    SetEntry(p, 3, 7, 7, 7);
    SetEntry(p, 4, 9, 9, 9);
    SetEntry(p, 5, 8, 16, 24);
    SetEntry(p, 6, 24, 48, 72);
    std::vector<uint16_t> t555(65536), t565(65536);
    BuildSmooth16_555_plain(t555.data(), p);
    BuildSmooth16_565_plain(t565.data(), p);
    EXPECT_EQ(0x0000, t555[3 * 256 + 4]);
    EXPECT_EQ(0x0020, t565[4 * 256 + 3]);  // green keeps 6 bits: 7 >> 2 = 1
    EXPECT_EQ(0x0886, t555[5 * 256 + 6]);  // (16, 32, 48)
    EXPECT_EQ(0x1106, t565[5 * 256 + 6]);
}

TEST(BuildSmooth16, DiagonalEqualsTheColorTable) {
    checkblit::Rng rng(8);
    uint8_t p[768];
    rng.Fill(p, sizeof p);
    std::vector<uint16_t> t555(65536), t565(65536);
    uint16_t q555[256], q565[256];
    BuildSmooth16_555_plain(t555.data(), p);
    BuildSmooth16_565_plain(t565.data(), p);
    BuildColorTable555(q555, p);
    BuildColorTable565(q565, p);
    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(q555[c], t555[c * 257]);
        EXPECT_EQ(q565[c], t565[c * 257]);
        EXPECT_EQ(0, t555[c * 256 + (c ^ 0x55)] & 0x8000);
    }
}

}  // namespace
