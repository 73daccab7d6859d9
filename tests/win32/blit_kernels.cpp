// The kernel check of tests/blit run as a Windows program: every variant the
// processor has, every kernel and the table builders against the plain
// reference, with the x87 state checked after each call. In the 32-bit
// build the MMX variants use the MMX registers themselves (a 64-bit
// compiler may carry MMX intrinsics out in SSE registers).
//   blit_kernels.exe [seed]
#include <cstdio>
#include <cstdlib>

#include "tests/blit/checkblit.h"

int main(int argc, char** argv) {
    const uint64_t seed = argc > 1 ? std::strtoull(argv[1], nullptr, 0) : 20240605;
    int passed = 0, failed = 0;
    for (int v = 0; v < kBlitVariantCount; ++v) {
        const auto variant = static_cast<BlitVariant>(v);
        if (!BlitVariantSupported(variant)) {
            std::printf("skip %s: not on this processor\n", BlitVariantName(variant));
            continue;
        }
        for (int k = 0; k < checkblit::kKernelCount; ++k) {
            const std::string failure = checkblit::CheckKernel(variant, static_cast<checkblit::Kernel>(k), seed);
            std::printf("%s %s %s\n", failure.empty() ? "ok" : "FAILED", BlitVariantName(variant),
                        checkblit::KernelName(static_cast<checkblit::Kernel>(k)));
            if (!failure.empty()) std::printf("%s\n", failure.c_str());
            ++(failure.empty() ? passed : failed);
        }
        const std::string failure = v > 0 ? checkblit::CheckBuilders(variant, seed, 3) : std::string();
        std::printf("%s %s builders\n", failure.empty() ? "ok" : "FAILED", BlitVariantName(variant));
        if (!failure.empty()) std::printf("%s\n", failure.c_str());
        ++(failure.empty() ? passed : failed);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed || passed == 0 ? 1 : 0;
}
