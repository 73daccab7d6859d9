// The kernels against a model that derives every destination byte on its
// own from the pixel rules (rather than walking the source as the kernels
// do), for every variant, plus the smoothing edge cases by value.
#include <gtest/gtest.h>

#include <vector>

#include "blit/kernels.h"
#include "tests/blit/checkblit.h"

namespace {

using checkblit::Case;
using checkblit::Kernel;
using checkblit::Tables;

uint8_t S(const Case& c, int x, int y) { return c.src.Line(y)[x]; }
uint8_t Second(const Case& c, int x, int y) { return c.second.Line(y)[x]; }
uint8_t LowByte(uint32_t v, int byte) { return static_cast<uint8_t>(byte ? v >> 8 : v); }

// Expected value of destination byte X of line L, or -1 for "unchanged".
int Expected(const Case& c, const Tables& t, int X, int L) {
    const uint8_t key = static_cast<uint8_t>(c.transparent);
    switch (c.kernel) {
        case checkblit::kCopy8: return S(c, X, L);
        case checkblit::kDouble8: return S(c, X / 2, L / 2);
        case checkblit::kInterlace8: return L % 2 ? -1 : S(c, X / 2, L / 2);
        case checkblit::kLookup16: return LowByte(t.colorTable16[S(c, X / 2, L)], X % 2);
        case checkblit::kDouble16: return LowByte(t.colorTable16[S(c, X / 4, L / 2)], X % 2);
        case checkblit::kInterlace16: return L % 2 ? -1 : LowByte(t.colorTable16[S(c, X / 4, L / 2)], X % 2);
        case checkblit::kSmooth8:
        case checkblit::kSmooth16: {
            const bool wide = c.kernel == checkblit::kSmooth16;
            const int P = wide ? X / 2 : X;  // destination pixel
            const int x = P / 2, y = L / 2;
            const int cc = S(c, x, y), l = x > 0 ? S(c, x - 1, y) : cc, u = y > 0 ? S(c, x, y - 1) : cc;
            int a, b;
            if (L % 2 == 0) {
                a = P % 2 ? cc : l;
                b = u;
            } else if (P % 2 == 0) {
                a = cc;
                b = l;
            } else {
                if (!wide) return cc;
                a = b = cc;
            }
            return wide ? LowByte(t.smooth16[a * 256 + b], X % 2) : t.smooth8[a * 256 + b];
        }
        case checkblit::kTrans8: return S(c, X, L) != key ? S(c, X, L) : -1;
        case checkblit::kMerge8: return S(c, X, L) != key ? S(c, X, L) : Second(c, X, L);
        case checkblit::kMask8: return Second(c, X, L) != key ? S(c, X, L) : -1;
        default: return -1;
    }
}

class KernelModel : public ::testing::TestWithParam<int> {};

TEST_P(KernelModel, EveryVariantWritesWhatThePixelRulesSay) {
    const auto kernel = static_cast<Kernel>(GetParam());
    checkblit::Rng rng(99 + GetParam());
    static Tables tables;
    tables.Randomise(rng);
    Case c;
    for (int v = 0; v < kBlitVariantCount; ++v) {
        const auto variant = static_cast<BlitVariant>(v);
        if (!BlitVariantSupported(variant)) continue;
        for (int height = 1; height <= 4; ++height) {
            for (int width = 1; width <= 40; ++width) {
                checkblit::MakeCase(c, kernel, width, height, rng);
                const std::vector<uint8_t> before = c.dst.bytes;
                checkblit::Run(BlitDspFor(variant), c, tables);
                const checkblit::Footprint f = checkblit::FootprintOf(kernel, width, height);
                for (int L = 0; L < f.lines; ++L) {
                    for (int X = 0; X < f.rowBytes; ++X) {
                        const size_t o = c.dst.OffsetOf(X, L);
                        const int want = Expected(c, tables, X, L);
                        ASSERT_EQ(want < 0 ? before[o] : want, c.dst.bytes[o])
                            << BlitVariantName(variant) << " " << checkblit::Describe(c) << " line " << L << " byte "
                            << X;
                    }
                }
                ASSERT_EQ(checkblit::CheckFootprint(c, before, c.dst.bytes), "")
                    << BlitVariantName(variant) << " " << checkblit::Describe(c);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Kernels, KernelModel, ::testing::Range(0, static_cast<int>(checkblit::kKernelCount)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(checkblit::KernelName(static_cast<Kernel>(info.param)));
                         });

// A palette where black, white and their midpoint grey are entries 0, 1
// and 2, and everything else is far from all three.
void GreyPalette(uint8_t palette[768]) {
    for (int i = 0; i < 256; ++i) {
        palette[3 * i] = 255;
        palette[3 * i + 1] = 0;
        palette[3 * i + 2] = static_cast<uint8_t>(i);
    }
    const uint8_t fixed[9] = {0, 0, 0, 255, 255, 255, 127, 127, 127};
    std::memcpy(palette, fixed, sizeof fixed);
}

TEST(Smooth8, TwoPixelRowGivesMidpointBetweenThem) {
    uint8_t palette[768];
    GreyPalette(palette);
    std::vector<uint8_t> table(65536);
    BuildSmooth8_plain(table.data(), palette);
    const uint8_t src[2] = {0, 1};
    for (int v = 0; v < kBlitVariantCount; ++v) {
        if (!BlitVariantSupported(static_cast<BlitVariant>(v))) continue;
        uint8_t dst[2][4];
        BlitDspFor(static_cast<BlitVariant>(v)).smooth8(&dst[0][0], 4, src, 2, 2, 1, table.data());
        for (const auto& line : dst) {
            EXPECT_EQ(0, line[0]);
            EXPECT_EQ(0, line[1]);
            EXPECT_EQ(2, line[2]);  // grey, nearest to the midpoint of black and white
            EXPECT_EQ(1, line[3]);
        }
    }
}

TEST(Smooth8, SinglePixelFillsItsBlockWithItself) {
    std::vector<uint8_t> table(65536, 0xEE);
    table[77 * 257] = 77;
    const uint8_t src = 77;
    uint8_t dst[2][2] = {{1, 1}, {1, 1}};
    Smooth8_plain(&dst[0][0], 2, &src, 1, 1, 1, table.data());
    EXPECT_EQ(77, dst[0][0]);
    EXPECT_EQ(77, dst[0][1]);
    EXPECT_EQ(77, dst[1][0]);
    EXPECT_EQ(77, dst[1][1]);
}

// The rectangle's first row stands in for the row above it, even when the
// source has one: a rectangle starting at row 1 smooths exactly like the
// same pixels copied out on their own.
TEST(Smooth16, RowAboveTheRectangleIsNeverRead) {
    checkblit::Rng rng(5);
    std::vector<uint16_t> table(65536);
    for (auto& v : table) v = static_cast<uint16_t>(rng.Next());
    uint8_t src[3][6];
    rng.Fill(&src[0][0], sizeof src);
    uint8_t alone[2][6];
    std::memcpy(alone, src[1], sizeof alone);
    uint8_t fromBig[4][24], fromAlone[4][24];
    Smooth16_plain(&fromBig[0][0], 24, src[1], 6, 6, 2, table.data());
    Smooth16_plain(&fromAlone[0][0], 24, alone[0], 6, 6, 2, table.data());
    EXPECT_EQ(0, std::memcmp(fromBig, fromAlone, sizeof fromBig));
    // And the top-left pixel of the block at column 0, row 0 is T(c, c).
    const uint16_t c = src[1][0];
    EXPECT_EQ(table[c * 257], fromBig[0][0] | fromBig[0][1] << 8);
}

}  // namespace
