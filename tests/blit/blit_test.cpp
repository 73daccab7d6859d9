// The blitter: every kernel of every variant this processor can run against
// the plain reference (checkblit: widths 1-70, several heights, odd and
// negative pitches, misaligned pointers, guard bands, the x87 state after
// each call; QUARVEL_CHECKBLIT_SEED=<n> reruns with another seed), and the
// exported blitter as another program uses it: the handle's block, modes
// and names, the palette copy and its tables, every mode's pixels against a
// model derived from the pixel rules, clearing, and rectangles between
// graphics buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "blit/blit.h"
#include "common/aligned_alloc.h"
#include "common/cpu.h"
#include "display/display.h"
#include "tests/blit/checkblit.h"

namespace {

uint64_t Seed() { return std::getenv("QUARVEL_CHECKBLIT_SEED") ? std::strtoull(std::getenv("QUARVEL_CHECKBLIT_SEED"), nullptr, 0) : 20240605; }

class CheckBlit : public ::testing::TestWithParam<int> {};  // variant x (builders, kernels)

TEST_P(CheckBlit, MatchesPlainInsideTheRectangleOnly) {
    const auto variant = static_cast<BlitVariant>(GetParam() / (checkblit::kKernelCount + 1));
    const int k = GetParam() % (checkblit::kKernelCount + 1) - 1;  // -1: the palette tables' builders
    if (!BlitVariantSupported(variant)) GTEST_SKIP() << BlitVariantName(variant) << " not on this processor";
    const std::string failure = k >= 0 ? checkblit::CheckKernel(variant, checkblit::Kernel(k), Seed()) : checkblit::CheckBuilders(variant, Seed(), 6);
    EXPECT_TRUE(failure.empty()) << "seed " << Seed() << ": " << failure;
}

// (From 1: plain's builders are the reference the others are checked against.)
INSTANTIATE_TEST_SUITE_P(AllVariants, CheckBlit, ::testing::Range(1, kBlitVariantCount * (checkblit::kKernelCount + 1)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             const int k = info.param % (checkblit::kKernelCount + 1) - 1;  // (no commas: a macro argument)
                             return BlitVariantName(BlitVariant(info.param / (checkblit::kKernelCount + 1))) + std::string("_") +
                                    (k >= 0 ? checkblit::KernelName(checkblit::Kernel(k)) : "Builders");
                         });

// The harness itself must notice a wrong kernel, a write outside the
// rectangle and a missing EMMS, or its passes mean nothing.
DECL_BLIT8_FN(Double8_offByOne) {
    Double8_plain(dst, dstStride, src, srcStep, width, height);
    if (width == 17) dst[2 * width - 1] ^= 1;
}
DECL_BLIT8_FN(Copy8_overrun) {
    Copy8_plain(dst, dstStride, src, srcStep, width, height);
    dst[width] = static_cast<uint8_t>(dst[width] + 1);
}

TEST(CheckBlitHarness, CatchesWrongPixelsStrayWritesAndX87RegistersInUse) {
    checkblit::Tables tables{};
    checkblit::Rng rng(1);
    BlitDSP broken = BlitDspFor(kBlitPlain);
    broken.double8 = Double8_offByOne, broken.copy8 = Copy8_overrun;
    checkblit::Case c;
    checkblit::MakeCase(c, checkblit::kDouble8, 17, 2, rng);
    EXPECT_NE(checkblit::CheckCase(broken, "broken", c, tables).find("differs from plain\n  line 0 byte 33:"), std::string::npos);
    checkblit::MakeCase(c, checkblit::kCopy8, 5, 3, rng);
    EXPECT_NE(checkblit::CheckCase(broken, "broken", c, tables).find("write outside the rectangle"), std::string::npos);
    EXPECT_EQ(checkblit::CheckCase(BlitDspFor(kBlitPlain), "plain", c, tables), "");
#if defined(__i386__) || defined(__x86_64__)
    EXPECT_TRUE(checkblit::FpuRegistersFree());
    __asm__ volatile("fld1" ::: "st");
    EXPECT_FALSE(checkblit::FpuRegistersFree());
    __asm__ volatile("fstp %%st(0)" ::: "st");
    EXPECT_TRUE(checkblit::FpuRegistersFree());
#endif
}

using BlitterPtr = std::unique_ptr<Blitter, void (*)(Blitter*)>;
BlitterPtr Open(uint32_t flags) { return BlitterPtr(QuarvBlitOpen(flags), [](Blitter* b) { QuarvBlitClose(b); }); }
// A 16-bit pixel of a colour: 5-6-5 or 5-5-5, the low bits dropped.
uint16_t Pack(uint32_t r, uint32_t g, uint32_t b, bool is565) {
    return uint16_t(is565 ? r >> 3 << 11 | g >> 2 << 5 | b >> 3 : r >> 3 << 10 | g >> 3 << 5 | b >> 3);
}
uint32_t Pixel(const uint8_t* p, bool wide) { return wide ? uint32_t(p[0] | p[1] << 8) : *p; }
int g_serviceCalls = 0;

// The record and its tables share one aligned block sized by the flags; the
// mode follows the flags (smoothing over interlacing over 2x) and a mode
// whose tables the block lacks is refused. The name says when MMX code
// runs, which /@ (QuarvUseMMX(0)) turns off.
TEST(Blitter, BlockModesAndNames) {
    for (const auto& e : {std::pair<uint32_t, size_t>{0x2, 256}, {kBlit555 | 0x1, 1536}, {0x4, 132096}, {kBlit565 | 0x4, 132608}}) {
        BlitterPtr b = Open(e.first);
        ASSERT_TRUE(b && reinterpret_cast<uintptr_t>(b.get()) % 16 == 0 && BlitterBlockSize(e.first) == e.second);
        if (b->smoothTable) std::memset(b->smoothTable, 1, kSmoothTableSize);  // the last table ends inside (ASan)
    }
    SetAllocFailCountdown(0);
    Blitter* const failed = QuarvBlitOpen(0x2);
    SetAllocFailCountdown(-1);
    EXPECT_TRUE(!failed && !QuarvBlitOpen(kBlitUndefinedFormat | 0x2));
    const bool mmx = QuarvUseMMX(1) == 1;
    const struct {
        uint32_t flags, mode;
        const char* name;
        bool mmxCode;
    } modes[] = {{0x1, 0, "8-bit 1x", false},         {0x2, 1, "8-bit 2x", true},        {0xA, 2, "8-bit 2x Interlaced", true},
                 {0xE, 3, "8-bit 2x Smoothing", false}, {kBlit565, 6, "16-bit 1x", false}, {kBlit555 | 0x2, 7, "16-bit 2x", true},
                 {kBlit565 | 0x8, 8, "16-bit 2x Interlaced", true}, {kBlit555 | 0xC, 9, "16-bit 2x Smoothing", false}};
    BlitterPtr all = Open(kBlit565 | 0x4), b8 = Open(0x2), b16 = Open(kBlit555);
    char text[64];
    for (const auto& m : modes) {
        ASSERT_TRUE(BlitMode(m.flags) == m.mode && QuarvBlitSetFlags(all.get(), m.flags) == 1) << m.name;
        EXPECT_EQ(QuarvBlitString(all.get(), text), std::string(m.name) + (m.mmxCode && mmx ? " using MMX" : ""));
        QuarvUseMMX(0);
        EXPECT_TRUE(std::string(QuarvBlitString(all.get(), text)) == m.name && CurrentBlitVariant() == kBlitPlain) << m.name;
        EXPECT_EQ(QuarvUseMMX(1) == 1 && CurrentBlitVariant() != kBlitPlain, mmx);
        EXPECT_EQ(QuarvBlitSetFlags(b8.get(), m.flags), m.mode < 3 ? 1u : 0u) << m.name;
        EXPECT_EQ(QuarvBlitSetFlags(b16.get(), m.flags), m.mode % 6 < 3 ? 1u : 0u) << m.name;
    }
    EXPECT_TRUE(!QuarvBlitSetFlags(all.get(), kBlitUndefinedFormat) && all->mode == 9);
}

// The first palette always builds the tables (an all-black one too), later
// ones only when a colour changed, or the format or depth switched; the
// sound is serviced around each smoothing build. Every caller layout
// (word components, blue first, four-byte entries, one byte in) reads the
// same colours.
TEST(Blitter, PaletteCopyAndTables) {
    SetBlitSoundService([] { ++g_serviceCalls; });
    g_serviceCalls = 0;
    BlitterPtr b = Open(kBlit555 | 0x4);
    uint8_t palette[768] = {};
    const uint32_t flags[] = {0, 0, 0, kBlit565 | 0x4, 0x4, 0x6}, green7[] = {0, 0, 255, 255, 255, 255};  // 0: a palette call
    const uint32_t services[] = {2, 2, 4, 6, 8, 8}, entry7[] = {0, 0, 0x03E0, 0x07E0, 0x07E0, 0x07E0};
    for (int i = 0; i < 6; ++i) {
        palette[3 * 7 + 1] = static_cast<uint8_t>(green7[i]);
        const uint32_t set = flags[i] ? QuarvBlitSetFlags(b.get(), flags[i]) : (QuarvBlitSetPalette(b.get(), palette, 0), 1u);
        EXPECT_TRUE(set == 1 && uint32_t(g_serviceCalls) == services[i] && b->colorTable16[7] == entry7[i]) << i;
    }
    SetBlitSoundService(nullptr);
    checkblit::Rng rng(77);
    uint8_t rgb[768];
    rng.Fill(rgb, sizeof rgb);
    for (uint32_t layout : {0x0u, 0x2u, 0x4u, 0x6u, 0xCu, 0xEu, 0x1u, 0x3u, 0xDu, 0x8u}) {
        const int wide = layout & 0x1 ? 2 : 1, entry = (layout & 0x4 ? 4 : 3) * wide, first = (layout & 0xC) == 0xC;
        std::vector<uint8_t> in(256 * entry);
        rng.Fill(in.data(), in.size());  // spare and high bytes are noise
        for (int i = 0; i < 768; ++i) in[i / 3 * entry + (layout & 0x2 ? 2 - i % 3 : i % 3) * wide + first * wide] = rgb[i];
        BlitterPtr c = Open(kBlit565);
        QuarvBlitSetPalette(c.get(), in.data(), layout);
        EXPECT_EQ(std::memcmp(c->palette, rgb, 768), 0) << "layout " << layout;
        for (int i = 0; i < 256; ++i) ASSERT_EQ(c->colorTable16[i], Pack(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2], true)) << layout;
    }
}

// The smoothing tables as the pixel rules define them: 8-bit, the entry
// nearest to each pair's midpoint (ties: lower red, then lower index; a
// pair of one entry is that entry); 16-bit, the midpoint with each
// component's low bit dropped before adding.
std::vector<uint8_t> ModelSmooth8(const uint8_t* p) {
    std::vector<uint8_t> t(65536);
    for (int i = 0; i < 256; ++i)
        for (int j = i; j < 256; ++j) {
            long best = -1;
            for (int k = 0; k < 256 && i != j; ++k) {
                long d = 0;
                for (int c = 0, m; c < 3; ++c) m = (p[3 * i + c] + p[3 * j + c]) / 2 - p[3 * k + c], d += long(m) * m;
                best = best < 0 || (d << 16 | p[3 * k] << 8 | k) < best ? d << 16 | p[3 * k] << 8 | k : best;
            }
            t[i * 256 + j] = t[j * 256 + i] = static_cast<uint8_t>(i == j ? i : best & 0xFF);
        }
    return t;
}
uint16_t Model16(const uint8_t* p, int a, int b, bool is565) {
    auto mid = [&](int c) { return uint32_t((p[3 * a + c] >> 1) + (p[3 * b + c] >> 1)); };
    return Pack(mid(0), mid(1), mid(2), is565);
}

// Every mode, with the plain and the fastest code, puts a source rectangle
// at the scaled destination point and nowhere else: doubled, interlaced on
// even lines only, or smoothed (each 2 x 2 block mixes the pixel with its
// left and upper neighbours inside the rectangle: (left, up), (centre, up) /
// (centre, left), centre). The palette repeats colours and has few reds, so
// the nearest-colour searches tie.
TEST(Blitter, EveryModeWritesWhatThePixelRulesSay) {
    checkblit::Rng rng(2024);
    uint8_t p[768];
    rng.Fill(p, sizeof p);
    for (int i = 0; i < 256; ++i) p[3 * i] &= 0xE0;
    for (int i = 0; i < 64; ++i) std::memcpy(p + 3 * rng.Below(256), p + 3 * rng.Below(256), 3);
    const std::vector<uint8_t> smooth8 = ModelSmooth8(p);
    const int srcPitch = 19, dstPitch = 67, dstX = 3, dstY = 2, srcX = 4, srcY = 3, w = 13, h = 6;
    std::vector<uint8_t> src(srcPitch * 12);
    rng.Fill(src.data(), src.size());
    auto S = [&](int x, int y) { return src[(srcY + y) * srcPitch + srcX + x]; };
    for (uint32_t flags : {0x0u, 0x2u, 0x8u, 0x4u, kBlit555 | 0u, kBlit565 | 0x2u, kBlit555 | 0x8u, kBlit565 | 0x4u, kBlit555 | 0x4u})
        for (uint32_t useMmx : {0u, 1u}) {
            QuarvUseMMX(useMmx);
            BlitterPtr b = Open(flags);
            QuarvBlitSetPalette(b.get(), p, 0);
            const uint32_t mode = b->mode, scale = mode % 6 ? 2 : 1;
            const bool wide = mode >= 6, is565 = (flags & kBlitFormatMask) == kBlit565;
            SCOPED_TRACE("mode " + std::to_string(mode) + (useMmx ? " fastest code" : " plain code"));
            ASSERT_TRUE(mode != 3 || std::memcmp(b->smoothTable, smooth8.data(), 65536) == 0);
            for (int k = 0; mode == 9 && k < 65536; ++k)
                ASSERT_EQ(reinterpret_cast<uint16_t*>(b->smoothTable)[k], Model16(p, k >> 8, k & 255, is565)) << k;
            std::vector<uint8_t> dst(dstPitch * 18, 0xCD);
            QuarvBlit(b.get(), dst.data(), dstPitch, dstX, dstY, src.data(), srcPitch, srcX, srcY, w, h);
            for (int L = 0; L < 18; ++L)
                for (int X = 0; (X + 1) * (wide ? 2 : 1) <= dstPitch; ++X) {
                    const int x = X / scale - dstX, y = L / scale - dstY;
                    uint32_t want = wide ? 0xCDCD : 0xCD;
                    if (X >= dstX * int(scale) && L >= dstY * int(scale) && x < w && y < h && !(mode % 6 == 2 && L % 2)) {
                        int a = S(x, y), c = a;  // a pair of one entry: the plain modes
                        if (mode % 6 == 3 && L % 2 == 0) a = X % 2 ? a : x ? S(x - 1, y) : a, c = y ? S(x, y - 1) : c;
                        if (mode % 6 == 3 && L % 2 && X % 2 == 0) c = x ? S(x - 1, y) : c;
                        want = wide ? Model16(p, a, c, is565) : smooth8[a * 256 + c];
                    }
                    ASSERT_EQ(Pixel(&dst[L * dstPitch + X * (wide ? 2 : 1)], wide), want) << "at " << X << "," << L;
                }
        }
    QuarvUseMMX(1);
}

// A negative colour is a raw destination pixel (its magnitude), any other a
// palette index (its low byte); destination coordinates are never doubled;
// an empty rectangle clears nothing.
TEST(Blitter, ClearTakesRawPixelsOrPaletteIndices) {
    uint8_t palette[768];
    for (int i = 0; i < 768; ++i) palette[i] = static_cast<uint8_t>(i * 7);
    const uint32_t clears[][3] = {{0x2, uint32_t(-5), 5}, {0x2, 0x105, 5}, {kBlit555 | 0x2, uint32_t(-5), 5},
                                  {kBlit555 | 0x2, 0x105, Pack(palette[15], palette[16], palette[17], false)}};
    for (const auto& c : clears) {
        BlitterPtr b = Open(c[0]);
        QuarvBlitSetPalette(b.get(), palette, 0);
        const bool wide = b->mode >= 6;
        const int pitch = wide ? 22 : 11;
        std::vector<uint8_t> dst(pitch * 6, 0xAB);
        QuarvBlitClear(b.get(), dst.data(), pitch, 2, 1, 3, 4, int32_t(c[1]));
        QuarvBlitClear(b.get(), dst.data(), pitch, 0, 0, 0, 1, int32_t(c[1]));
        for (int i = 0; i < 66; ++i)
            ASSERT_EQ(Pixel(&dst[i / 11 * pitch + i % 11 * (wide ? 2 : 1)], wide),
                      i % 11 >= 2 && i % 11 < 5 && i / 11 >= 1 && i / 11 < 5 ? c[2] : wide ? 0xABAB : 0xAB)
                << std::hex << c[0] << " " << c[1] << " " << i;
    }
}

// A graphics buffer whose picture reads upright whatever its memory order.
struct Buffer {
    std::vector<uint8_t> memory;
    QuarvBuffer record{};
    Buffer(uint32_t width, uint32_t height, bool bottomUp, uint8_t fill) : memory(((width + 7) & ~7u) * height, fill) {
        record.bottomUp = bottomUp, record.height = height, record.pitch = (width + 7) & ~7u, record.pixels = memory.data();
    }
    uint8_t& At(uint32_t x, uint32_t y) { return memory[(record.bottomUp ? record.height - 1 - y : y) * record.pitch + x]; }
    bool All(uint8_t v) const { return std::all_of(memory.begin(), memory.end(), [v](uint8_t m) { return m == v; }); }
};

// Between buffers of either orientation the picture arrives upright and
// alone, copied, without the transparent value (its low byte), where the
// mask is not transparent, or merged with the other source; the mask or
// other buffer must share the source's orientation and pitch and hold its
// rows, and a rectangle outside either buffer is refused.
TEST(BufferToBuffer, UprightAloneAndInsideBothBuffers) {
    checkblit::Rng rng(3);
    for (int way = 0; way < 16; ++way) {  // orientations of destination and source, and the four copies
        const int kind = way / 4;
        Buffer src(12, 7, way & 2, 0), second(12, 7, way & 2, 0), dest(16, 9, way & 1, 0xEE);
        for (uint32_t i = 0; i < 16 * 7; ++i) src.At(i % 16, i / 16) = uint8_t(rng.Below(3)), second.At(i % 16, i / 16) = uint8_t(rng.Below(3));
        if (kind == 0) QuarvBufferToBuffer(&dest.record, 4, 2, &src.record, 2, 1, 5, 3);
        if (kind == 1) QuarvBufferToBufferTrans(&dest.record, 4, 2, &src.record, 2, 1, 5, 3, 0xABCD0001);
        if (kind == 2) QuarvBufferToBufferMask(&dest.record, 4, 2, &src.record, 2, 1, 5, 3, 1, &second.record);
        if (kind == 3) QuarvBufferToBufferMerge(&dest.record, 4, 2, &src.record, 2, 1, 5, 3, 1, &second.record);
        for (uint32_t i = 0; i < 16 * 9; ++i) {
            const uint32_t x = i % 16, y = i / 16;
            const bool in = x >= 4 && x < 9 && y >= 2 && y < 5;
            const uint8_t s = in ? src.At(x - 2, y - 1) : 0, o = in ? second.At(x - 2, y - 1) : 0;
            const uint8_t byKind[4] = {s, s != 1 ? s : uint8_t(0xEE), o != 1 ? s : uint8_t(0xEE), s != 1 ? s : o};  // copy, trans, mask, merge
            ASSERT_EQ(dest.At(x, y), in ? byKind[kind] : 0xEE) << "way " << way << " at " << x << "," << y;
        }
    }
    Buffer src(8, 4, true, 3), dest(8, 4, false, 0xEE), flipped(8, 4, false, 3), wider(16, 4, true, 3), shorter(8, 2, true, 3);
    const QuarvBuffer* const seconds[] = {&flipped.record, &wider.record, &shorter.record, nullptr};
    for (const QuarvBuffer* second : seconds) {
        QuarvBufferToBufferMask(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 1, second);
        QuarvBufferToBufferMerge(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 1, second);
    }
    const int outside[][6] = {{0, 1, 0, 0, 8, 4},  {1, 0, 0, 0, 8, 4}, {0, 0, 0, 1, 8, 4}, {0, 0, 1, 0, 8, 4}, {-1, 0, 0, 0, 2, 2},
                              {0, 0, 0, -1, 2, 2}, {0, 0, 0, 0, -2, 2}, {0, 0, 0, 0, 2, 0}, {0, 0, 0, 0, 0x7FFFFFFF, 1}, {0, 0x7FFFFFFF, 0, 0, 1, 1}};
    for (const auto& r : outside) QuarvBufferToBuffer(&dest.record, r[0], r[1], &src.record, r[2], r[3], r[4], r[5]);
    QuarvBufferToBuffer(nullptr, 0, 0, &src.record, 0, 0, 1, 1), QuarvBufferToBuffer(&dest.record, 0, 0, nullptr, 0, 0, 1, 1);
    EXPECT_TRUE(dest.All(0xEE));
    Buffer matching(8, 4, true, 5);
    QuarvBufferToBufferMerge(&dest.record, 0, 0, &src.record, 0, 0, 8, 4, 1, &matching.record);
    EXPECT_TRUE(dest.All(3));
}

}  // namespace
