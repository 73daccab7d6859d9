// Every kernel of every variant this processor can run, against the plain
// reference: widths 1-70, several heights, odd and negative pitches,
// misaligned pointers, guard bands, and the x87 state after each call.
// QUARVEL_CHECKBLIT_SEED=<n> reruns with another seed.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "tests/blit/checkblit.h"

namespace {

uint64_t Seed() {
    const char* text = std::getenv("QUARVEL_CHECKBLIT_SEED");
    return text ? std::strtoull(text, nullptr, 0) : 20240605;
}

struct Param {
    BlitVariant variant;
    checkblit::Kernel kernel;
};

class CheckBlit : public ::testing::TestWithParam<Param> {};

TEST_P(CheckBlit, MatchesPlainInsideTheRectangleOnly) {
    const Param p = GetParam();
    if (!BlitVariantSupported(p.variant)) GTEST_SKIP() << BlitVariantName(p.variant) << " not on this processor";
    const std::string failure = checkblit::CheckKernel(p.variant, p.kernel, Seed());
    EXPECT_TRUE(failure.empty()) << "seed " << Seed() << ": " << failure;
}

std::vector<Param> AllParams() {
    std::vector<Param> out;
    for (int v = 0; v < kBlitVariantCount; ++v)
        for (int k = 0; k < checkblit::kKernelCount; ++k)
            out.push_back({static_cast<BlitVariant>(v), static_cast<checkblit::Kernel>(k)});
    return out;
}

INSTANTIATE_TEST_SUITE_P(AllVariants, CheckBlit, ::testing::ValuesIn(AllParams()),
                         [](const ::testing::TestParamInfo<Param>& info) {
                             return std::string(BlitVariantName(info.param.variant)) + "_" +
                                    checkblit::KernelName(info.param.kernel);
                         });

class CheckBuilders : public ::testing::TestWithParam<int> {};

TEST_P(CheckBuilders, SmoothTablesMatchPlain) {
    const auto variant = static_cast<BlitVariant>(GetParam());
    if (!BlitVariantSupported(variant)) GTEST_SKIP() << BlitVariantName(variant) << " not on this processor";
    const std::string failure = checkblit::CheckBuilders(variant, Seed(), 6);
    EXPECT_TRUE(failure.empty()) << "seed " << Seed() << ": " << failure;
}

INSTANTIATE_TEST_SUITE_P(AllVariants, CheckBuilders, ::testing::Range(1, static_cast<int>(kBlitVariantCount)),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(BlitVariantName(static_cast<BlitVariant>(info.param)));
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

TEST(CheckBlitHarness, CatchesWrongPixelsAndStrayWrites) {
    checkblit::Tables tables{};
    checkblit::Rng rng(1);
    BlitDSP broken = BlitDspFor(kBlitPlain);
    broken.double8 = Double8_offByOne;
    broken.copy8 = Copy8_overrun;

    checkblit::Case c;
    checkblit::MakeCase(c, checkblit::kDouble8, 17, 2, rng);
    std::vector<uint8_t> before = c.dst.bytes;
    checkblit::Run(BlitDspFor(kBlitPlain), c, tables);
    std::vector<uint8_t> want = c.dst.bytes;
    c.dst.bytes = before;
    checkblit::Run(broken, c, tables);
    EXPECT_NE(want, c.dst.bytes);
    EXPECT_NE(checkblit::DiffReport(c, want, c.dst.bytes).find('x'), std::string::npos);

    checkblit::MakeCase(c, checkblit::kCopy8, 5, 3, rng);
    before = c.dst.bytes;
    checkblit::Run(broken, c, tables);
    EXPECT_FALSE(checkblit::CheckFootprint(c, before, c.dst.bytes).empty());
}

#if defined(__i386__) || defined(__x86_64__)
TEST(CheckBlitHarness, SeesX87RegistersLeftInUse) {
    EXPECT_TRUE(checkblit::FpuRegistersFree());
    __asm__ volatile("fld1" ::: "st");
    EXPECT_FALSE(checkblit::FpuRegistersFree());
    __asm__ volatile("fstp %%st(0)" ::: "st");
    EXPECT_TRUE(checkblit::FpuRegistersFree());
}
#endif

}  // namespace
