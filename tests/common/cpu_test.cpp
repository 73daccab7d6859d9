// The processor probe and the MMX switch: MmxLevel follows MmxState at once.
#include <gtest/gtest.h>

#include "common/cpu.h"

namespace {

class Mmx : public ::testing::Test {
protected:
    void SetUp() override { Forget(); }
    void TearDown() override {
        SetCpuFeatureMask(~0u);
        Forget();
    }
    static void Forget() {
        MmxLevel = 0;
        MmxState = 0;
    }
    static bool HasMmx() { return (CpuFeatures() & kCpuMmx) != 0; }
};

TEST_F(Mmx, ProbeSetsTheLevelFromTheProcessor) {
    DetectMmx();
    EXPECT_EQ(MmxState & 0x2u, 0x2u);
    EXPECT_EQ((MmxState & 0x1u) != 0, HasMmx());
    EXPECT_EQ(MmxLevel, HasMmx() ? 2u : 1u);
}

TEST_F(Mmx, WithoutMmxThePlainCodeIsChosen) {
    SetCpuFeatureMask(~uint32_t(kCpuMmx));
    DetectMmx();
    EXPECT_EQ(MmxState, 0x2u);
    EXPECT_EQ(MmxLevel, 1u);
    EXPECT_EQ(QuarvUseMMX(1), 0u);
    EXPECT_EQ(MmxLevel, 1u);
}

TEST_F(Mmx, TheProbeRunsOncePerProcess) {
    DetectMmx();
    const uint32_t probed = MmxState;
    SetCpuFeatureMask(0);  // a later change of the processor's answer is not seen
    DetectMmx();
    EXPECT_EQ(MmxState, probed);
}

TEST_F(Mmx, SwitchingOffAskingAndSwitchingOn) {
    EXPECT_EQ(QuarvUseMMX(0), 0u);
    EXPECT_EQ(MmxState & 0x4u, 0x4u);
    EXPECT_EQ(MmxLevel, 1u);
    EXPECT_EQ(QuarvUseMMX(2), 0u);  // only asks: stays off
    EXPECT_EQ(MmxLevel, 1u);
    EXPECT_EQ(QuarvUseMMX(1), HasMmx() ? 1u : 0u);
    EXPECT_EQ(MmxState & 0x4u, 0u);
    EXPECT_EQ(MmxLevel, HasMmx() ? 2u : 1u);
    EXPECT_EQ(QuarvUseMMX(7), HasMmx() ? 1u : 0u);
    EXPECT_EQ(MmxLevel, HasMmx() ? 2u : 1u);
}

}  // namespace
