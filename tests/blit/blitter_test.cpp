// The Blitter handle: its block, modes, palette copy and table rebuilding,
// the mode names, clearing, and where each mode puts its rectangle.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "blit/blit.h"
#include "blit/kernels.h"
#include "common/aligned_alloc.h"
#include "common/cpu.h"
#include "tests/blit/checkblit.h"

namespace {

struct BlitterDeleter {
    void operator()(Blitter* b) const { QuarvBlitClose(b); }
};
using BlitterPtr = std::unique_ptr<Blitter, BlitterDeleter>;
BlitterPtr Open(uint32_t flags) { return BlitterPtr(QuarvBlitOpen(flags)); }

int g_serviceCalls = 0;
void CountService() { ++g_serviceCalls; }

// Restores the process-wide MMX switch whatever a test did to it.
class MmxRestorer {
public:
    ~MmxRestorer() { QuarvUseMMX(1); }
};

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

TEST(BlitterOpen, PlacesRecordAndTablesInOneBlock) {
    struct Expect {
        uint32_t flags;
        size_t size;
        ptrdiff_t colorTable, palette, smooth;  // offsets, -1 = none
    } const cases[] = {
        {0x2, 256, -1, -1, -1},
        {0x80000000u | 0x1, 1536, 256, 768, -1},
        {0x4, 132096, -1, 256, 1024},
        {0xC0000000u | 0x4, 132608, 256, 768, 1536},
    };
    for (const auto& e : cases) {
        EXPECT_EQ(e.size, BlitterBlockSize(e.flags));
        BlitterPtr b = Open(e.flags);
        ASSERT_TRUE(b);
        auto* base = reinterpret_cast<uint8_t*>(b.get());
        EXPECT_EQ(0u, reinterpret_cast<uintptr_t>(base) % 16);
        auto offset = [&](const void* p) { return p ? static_cast<const uint8_t*>(p) - base : -1; };
        EXPECT_EQ(e.colorTable, offset(b->colorTable16)) << std::hex << e.flags;
        EXPECT_EQ(e.palette, offset(b->palette)) << std::hex << e.flags;
        EXPECT_EQ(e.smooth, offset(b->smoothTable)) << std::hex << e.flags;
        EXPECT_EQ(e.flags, b->flags);
        EXPECT_EQ(1u, b->firstPalette);
        EXPECT_EQ(0u, b->paletteSerial);
        EXPECT_EQ(0u, b->smoothDepth);
        // The last table reaches exactly to the end of the block (ASan
        // checks the far end).
        if (b->smoothTable) {
            std::memset(b->smoothTable, 1, kSmoothTableSize);
            EXPECT_EQ(static_cast<ptrdiff_t>(e.size), offset(b->smoothTable + kSmoothTableSize));
        }
    }
}

TEST(BlitterOpen, RefusesTheUndefinedFormatAndFailedAllocation) {
    EXPECT_EQ(nullptr, QuarvBlitOpen(0x40000000u));
    EXPECT_EQ(nullptr, QuarvBlitOpen(0x40000000u | 0x2));
    SetAllocFailCountdown(0);
    Blitter* b = QuarvBlitOpen(0x80000000u);
    SetAllocFailCountdown(-1);
    EXPECT_EQ(nullptr, b);
    QuarvBlitClose(nullptr);  // ignored
}

TEST(BlitMode, PrecedenceSmoothingOverInterlacingOverDoubling) {
    const struct {
        uint32_t flags, mode;
    } cases[] = {
        {0x0, 0},          {0x1, 0},          {0x2, 1},          {0x8, 2},          {0x2 | 0x8, 2},
        {0x4, 3},          {0x2 | 0x8 | 0x4, 3}, {0x1 | 0x8, 2},  {0x80000000u, 6}, {0x80000000u | 0x2, 7},
        {0xC0000000u | 0x8 | 0x2, 8}, {0xC0000000u | 0x4 | 0x8, 9}, {0x80000000u | 0x1, 6},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.mode, BlitMode(c.flags)) << std::hex << c.flags;
        BlitterPtr b = Open(c.flags);
        ASSERT_TRUE(b);
        EXPECT_EQ(c.mode, b->mode);
    }
}

TEST(BlitterSetFlags, RefusesModesNeedingTablesItWasOpenedWithout) {
    BlitterPtr b8 = Open(0x2);
    EXPECT_EQ(0u, QuarvBlitSetFlags(b8.get(), 0x80000000u | 0x2));
    EXPECT_EQ(0u, QuarvBlitSetFlags(b8.get(), 0x4));
    EXPECT_EQ(0u, QuarvBlitSetFlags(b8.get(), 0x40000000u));
    EXPECT_EQ(1u, b8->mode);
    EXPECT_EQ(0x2u, b8->flags);
    EXPECT_EQ(1u, QuarvBlitSetFlags(b8.get(), 0x8));
    EXPECT_EQ(2u, b8->mode);

    BlitterPtr b16 = Open(0x80000000u);
    EXPECT_EQ(0u, QuarvBlitSetFlags(b16.get(), 0x80000000u | 0x4));
    EXPECT_EQ(0u, QuarvBlitSetFlags(b16.get(), 0x40000000u));
    EXPECT_EQ(6u, b16->mode);

    BlitterPtr all = Open(0xC0000000u | 0x4);
    EXPECT_EQ(1u, QuarvBlitSetFlags(all.get(), 0x2));
    EXPECT_EQ(1u, all->mode);
    EXPECT_EQ(1u, QuarvBlitSetFlags(all.get(), 0x4));
    EXPECT_EQ(3u, all->mode);
    EXPECT_EQ(8u, all->smoothDepth);  // brought up to date for the new depth
    EXPECT_EQ(0u, QuarvBlitSetFlags(nullptr, 0x2));
}

TEST(BlitterPalette, FirstCallAlwaysBuildsLaterOnlyOnChange) {
    SetBlitSoundService(CountService);
    g_serviceCalls = 0;
    BlitterPtr b = Open(0x80000000u | 0x4);
    std::vector<uint8_t> palette(768, 0);
    b->colorTable16[7] = 0x1234;
    QuarvBlitSetPalette(b.get(), palette.data(), 0);  // all black, but the first
    EXPECT_EQ(0, b->colorTable16[7]);
    EXPECT_EQ(2, g_serviceCalls);  // sound serviced before and after the build
    EXPECT_EQ(16u, b->smoothDepth);
    EXPECT_EQ(0u, b->firstPalette);

    b->colorTable16[7] = 0x1234;
    QuarvBlitSetPalette(b.get(), palette.data(), 0);
    EXPECT_EQ(0x1234, b->colorTable16[7]);
    EXPECT_EQ(2, g_serviceCalls);
    EXPECT_EQ(1u, b->paletteSerial);

    palette[3 * 7] = 0xFF;
    QuarvBlitSetPalette(b.get(), palette.data(), 0);
    EXPECT_EQ(0x7C00, b->colorTable16[7]);
    EXPECT_EQ(4, g_serviceCalls);
    EXPECT_EQ(2u, b->paletteSerial);

    // Switching depth rebuilds the smoothing table, the palette unchanged.
    EXPECT_EQ(1u, QuarvBlitSetFlags(b.get(), 0x4));
    EXPECT_EQ(6, g_serviceCalls);
    EXPECT_EQ(1u, QuarvBlitSetFlags(b.get(), 0x4 | 0x2));
    EXPECT_EQ(6, g_serviceCalls);
    SetBlitSoundService(nullptr);
}

TEST(BlitterPalette, IgnoredWithoutAPaletteCopy) {
    BlitterPtr b = Open(0x2);
    std::vector<uint8_t> palette(768, 9);
    QuarvBlitSetPalette(b.get(), palette.data(), 0);
    EXPECT_EQ(1u, b->firstPalette);
    EXPECT_EQ(0u, b->paletteSerial);
    QuarvBlitSetPalette(nullptr, palette.data(), 0);
}

// The same colours in every entry layout give the same tables.
TEST(BlitterPalette, EveryLayoutReadsTheSameColours) {
    checkblit::Rng rng(77);
    uint8_t rgb[768];
    rng.Fill(rgb, sizeof rgb);
    BlitterPtr reference = Open(0xC0000000u);
    QuarvBlitSetPalette(reference.get(), rgb, 0);
    const uint32_t layouts[] = {0x2, 0x4, 0x6, 0x4 | 0x8, 0x2 | 0x4 | 0x8, 0x1, 0x1 | 0x2, 0x1 | 0x4 | 0x8, 0x8};
    for (uint32_t layout : layouts) {
        const int entry = (layout & 0x4 ? 4 : 3) * (layout & 0x1 ? 2 : 1);
        std::vector<uint8_t> in(256 * entry);
        rng.Fill(in.data(), in.size());  // spare bytes and high bytes are noise
        for (int i = 0; i < 256; ++i) {
            int pos[3] = {0, 1, 2};
            if ((layout & 0xC) == 0xC) pos[0] = 1, pos[1] = 2, pos[2] = 3;
            if (layout & 0x2) std::swap(pos[0], pos[2]);
            for (int k = 0; k < 3; ++k) in[i * entry + pos[k] * (layout & 0x1 ? 2 : 1)] = rgb[3 * i + k];
        }
        BlitterPtr b = Open(0xC0000000u);
        QuarvBlitSetPalette(b.get(), in.data(), layout);
        EXPECT_EQ(0, std::memcmp(rgb, b->palette, 768)) << "layout " << layout;
        EXPECT_EQ(0, std::memcmp(reference->colorTable16, b->colorTable16, 512)) << "layout " << layout;
    }
}

TEST(BlitterPalette, DisplayLayoutSixMatchesRgbLayoutZero) {
    checkblit::Rng rng(6);
    uint8_t rgb[768], bgrx[1024];
    rng.Fill(rgb, sizeof rgb);
    for (int i = 0; i < 256; ++i) {
        bgrx[4 * i] = rgb[3 * i + 2];
        bgrx[4 * i + 1] = rgb[3 * i + 1];
        bgrx[4 * i + 2] = rgb[3 * i];
        bgrx[4 * i + 3] = rng.Byte();
    }
    for (uint32_t format : {0x80000000u, 0xC0000000u}) {
        BlitterPtr a = Open(format), b = Open(format);
        QuarvBlitSetPalette(a.get(), rgb, 0);
        QuarvBlitSetPalette(b.get(), bgrx, 6);
        EXPECT_EQ(0, std::memcmp(a->colorTable16, b->colorTable16, 512));
    }
}

// White and pure green through a 1x 16-bit blit, in both formats.
TEST(BlitterPalette, PacksWhiteAndGreen) {
    uint8_t palette[768] = {};
    std::memset(palette + 3, 255, 3);
    palette[7] = 255;  // entry 2: (0, 255, 0)
    const uint8_t src[2] = {1, 2};
    const struct {
        uint32_t format;
        uint16_t white, green;
    } cases[] = {{0x80000000u, 0x7FFF, 0x03E0}, {0xC0000000u, 0xFFFF, 0x07E0}};
    for (const auto& c : cases) {
        BlitterPtr b = Open(c.format);
        QuarvBlitSetPalette(b.get(), palette, 0);
        uint8_t dst[4] = {};
        QuarvBlit(b.get(), dst, 4, 0, 0, src, 2, 0, 0, 2, 1);
        EXPECT_EQ(c.white, Word(dst));
        EXPECT_EQ(c.green, Word(dst + 2));
    }
}

// Switching between 5-5-5 and 5-6-5 with the palette unchanged must not
// leave the other format's pixels in the table.
TEST(BlitterPalette, FormatSwitchRebuildsTheTables) {
    uint8_t palette[768] = {};
    palette[4] = 255;  // entry 1: pure green
    BlitterPtr b = Open(0x80000000u | 0x4);
    QuarvBlitSetPalette(b.get(), palette, 0);
    EXPECT_EQ(0x03E0, b->colorTable16[1]);
    EXPECT_EQ(1u, QuarvBlitSetFlags(b.get(), 0xC0000000u | 0x4));
    EXPECT_EQ(0x07E0, b->colorTable16[1]);
    EXPECT_EQ(0x07E0, reinterpret_cast<uint16_t*>(b->smoothTable)[1 * 257]);
}

TEST(BlitterString, NamesTheModeAndMmxOnlyForTheMovingModes) {
    MmxRestorer restore;
    char text[64];
    const bool mmx = QuarvUseMMX(1) == 1;
    BlitterPtr b = Open(0xC0000000u | 0x4);
    const struct {
        uint32_t flags;
        const char* name;
        bool mentionsMmx;
    } cases[] = {
        {0x0, "8-bit 1x", false},
        {0x2, "8-bit 2x", true},
        {0x8, "8-bit 2x Interlaced", true},
        {0x4, "8-bit 2x Smoothing", false},
        {0xC0000000u, "16-bit 1x", false},
        {0xC0000000u | 0x2, "16-bit 2x", true},
        {0x80000000u | 0x8, "16-bit 2x Interlaced", true},
        {0x80000000u | 0x4, "16-bit 2x Smoothing", false},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(1u, QuarvBlitSetFlags(b.get(), c.flags));
        EXPECT_EQ(text, QuarvBlitString(b.get(), text));
        EXPECT_EQ(std::string(c.name) + (c.mentionsMmx && mmx ? " using MMX" : ""), text);
    }
    QuarvUseMMX(0);
    ASSERT_EQ(1u, QuarvBlitSetFlags(b.get(), 0x8));
    EXPECT_STREQ("8-bit 2x Interlaced", QuarvBlitString(b.get(), text));
    EXPECT_EQ(kBlitPlain, CurrentBlitVariant());
    QuarvUseMMX(1);
    if (mmx) {
        EXPECT_STREQ("8-bit 2x Interlaced using MMX", QuarvBlitString(b.get(), text));
        EXPECT_NE(kBlitPlain, CurrentBlitVariant());
    }
}

TEST(BlitterClear, NegativeIsARawPixelPositiveAPaletteIndex) {
    uint8_t palette[768];
    for (int i = 0; i < 768; ++i) palette[i] = static_cast<uint8_t>(i * 7);
    BlitterPtr b16 = Open(0x80000000u | 0x2);
    QuarvBlitSetPalette(b16.get(), palette, 0);
    BlitterPtr b8 = Open(0x2);
    for (Blitter* b : {b8.get(), b16.get()}) {
        const int bytes = b->mode >= 6 ? 2 : 1;
        const int pitch = 11 * bytes;
        for (int32_t colour : {-5, 5, 0x105}) {
            std::vector<uint8_t> dst(pitch * 6, 0xAB);
            // Destination pixels, not doubled although the mode is 2x.
            QuarvBlitClear(b, dst.data(), pitch, 2, 1, 3, 4, colour);
            uint32_t want = colour < 0 ? 5u : bytes == 1 ? 5u : b->colorTable16[5];
            if (colour == 0x105 && bytes == 1) want = 5;  // the low byte
            for (int y = 0; y < 6; ++y) {
                for (int x = 0; x < 11; ++x) {
                    const uint8_t* p = &dst[y * pitch + x * bytes];
                    const uint32_t got = bytes == 2 ? Word(p) : *p;
                    const bool inside = x >= 2 && x < 5 && y >= 1 && y < 5;
                    EXPECT_EQ(inside ? want : (bytes == 2 ? 0xABABu : 0xABu), got)
                        << "mode " << b->mode << " colour " << colour << " at " << x << "," << y;
                }
            }
        }
    }
    ASSERT_NE(5u, b16->colorTable16[5]);  // otherwise the cases above prove nothing
    uint8_t one = 0;
    QuarvBlitClear(b8.get(), &one, 1, 0, 0, 0, 1, 9);  // empty
    EXPECT_EQ(0, one);
}

// A source with recognisable pixels, the destination poisoned, and each
// mode's rectangle found exactly where its address rule puts it.
class BlitterPlacement : public ::testing::TestWithParam<uint32_t> {};

TEST_P(BlitterPlacement, RectangleLandsAtTheScaledPointAndNowhereElse) {
    const uint32_t flags = GetParam();
    BlitterPtr b = Open(flags);
    ASSERT_TRUE(b);
    checkblit::Rng rng(flags);
    uint8_t palette[768];
    rng.Fill(palette, sizeof palette);
    QuarvBlitSetPalette(b.get(), palette, 0);
    const int srcPitch = 13, dstPitch = 61;
    std::vector<uint8_t> src(srcPitch * 9);
    rng.Fill(src.data(), src.size());
    std::vector<uint8_t> dst(dstPitch * 24, 0xCD);
    const int dstX = 3, dstY = 2, srcX = 4, srcY = 3, w = 5, h = 4;
    QuarvBlit(b.get(), dst.data(), dstPitch, dstX, dstY, src.data(), srcPitch, srcX, srcY, w, h);

    const uint32_t mode = b->mode;
    const int bytes = mode >= 6 ? 2 : 1, scale = mode % 6 == 0 ? 1 : 2;
    auto S = [&](int x, int y) { return src[(srcY + y) * srcPitch + srcX + x]; };
    auto pixel = [&](int X, int L) -> uint32_t {
        const uint8_t* p = &dst[L * dstPitch + X * bytes];
        return bytes == 2 ? Word(p) : *p;
    };
    const uint32_t poison = bytes == 2 ? 0xCDCD : 0xCD;
    for (int L = 0; L * dstPitch < static_cast<int>(dst.size()); ++L) {
        for (int X = 0; (X + 1) * bytes <= dstPitch; ++X) {
            const int x = X / scale - dstX, y = L / scale - dstY;
            const bool inside = X >= dstX * scale && L >= dstY * scale && x < w && y < h;
            if (!inside || (mode % 6 == 2 && L % 2)) {
                ASSERT_EQ(poison, pixel(X, L)) << "mode " << mode << " at " << X << "," << L;
                continue;
            }
            const uint8_t c = S(x, y);
            const uint32_t colour = bytes == 2 ? b->colorTable16[c] : c;
            // Smoothing keeps the source colour in each block's lower right.
            if (mode % 6 == 3 && (X % 2 == 0 || L % 2 == 0)) continue;
            ASSERT_EQ(colour, pixel(X, L)) << "mode " << mode << " at " << X << "," << L;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllModes, BlitterPlacement,
                         ::testing::Values(0x0, 0x2, 0x8, 0x4, 0x80000000u, 0xC0000000u | 0x2, 0x80000000u | 0x8,
                                           0xC0000000u | 0x4));

TEST(BlitterCopies, TransMaskMergeWorkOnlyIn8Bit1x) {
    const uint8_t src[8] = {1, 0x34, 3, 0x34, 5, 6, 0x34, 8};
    const uint8_t second[8] = {0x34, 0x34, 9, 9, 0x34, 9, 9, 9};
    const uint32_t transparent = 0xABCD1234;  // only the low byte counts
    BlitterPtr b = Open(0x1);
    uint8_t dst[8];

    std::memset(dst, 0xEE, 8);
    QuarvBlitTrans(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 8, 1, transparent);
    const uint8_t trans[8] = {1, 0xEE, 3, 0xEE, 5, 6, 0xEE, 8};
    EXPECT_EQ(0, std::memcmp(trans, dst, 8));

    std::memset(dst, 0xEE, 8);
    QuarvBlitMask(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 8, 1, transparent, second);
    const uint8_t mask[8] = {0xEE, 0xEE, 3, 0x34, 0xEE, 6, 0x34, 8};
    EXPECT_EQ(0, std::memcmp(mask, dst, 8));

    std::memset(dst, 0xEE, 8);
    QuarvBlitMerge(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 8, 1, transparent, second);
    const uint8_t merge[8] = {1, 0x34, 3, 9, 5, 6, 9, 8};  // both transparent: the other's value
    EXPECT_EQ(0, std::memcmp(merge, dst, 8));

    ASSERT_EQ(1u, QuarvBlitSetFlags(b.get(), 0x2));
    std::memset(dst, 0xEE, 8);
    QuarvBlitTrans(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 8, 1, transparent);
    QuarvBlitMask(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 8, 1, transparent, second);
    QuarvBlitMerge(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 8, 1, transparent, second);
    QuarvBlit(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 0, 1);
    QuarvBlit(b.get(), dst, 8, 0, 0, src, 8, 0, 0, 4, 0);
    QuarvBlit(b.get(), dst, 8, 0, 0, src, 8, 0, 0, -4, 1);
    for (uint8_t v : dst) EXPECT_EQ(0xEE, v);
}

TEST(BlitterMmx, SwitchingMmxOffSelectsThePlainKernels) {
    MmxRestorer restore;
    QuarvUseMMX(0);
    EXPECT_EQ(2u, MmxState & 0x2);
    EXPECT_EQ(1u, MmxLevel);
    EXPECT_EQ(&BlitDspFor(kBlitPlain), &CurrentBlitDsp());
    if (QuarvUseMMX(1)) {
        EXPECT_EQ(2u, MmxLevel);
        EXPECT_NE(kBlitPlain, CurrentBlitVariant());
        EXPECT_TRUE(BlitVariantSupported(CurrentBlitVariant()));
    }
}

}  // namespace
