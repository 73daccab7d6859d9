// Processor feature probe. MmxLevel: 0 = not yet probed, 1 = plain code,
// 2 = MMX code. MmxState bits: 0x1 the processor has MMX, 0x2 the probe has
// run, 0x4 MMX switched off by the caller. Every routine with an MMX variant
// reads MmxLevel on entry and runs DetectMmx when it is still 0.
#pragma once
#include <cstdint>

extern uint32_t MmxLevel;
extern uint32_t MmxState;

void DetectMmx();

// 0 switches MMX off, 1 on again, anything else only asks. Returns 1 when the
// MMX code is in use afterwards.
uint32_t QuarvUseMMX(uint32_t onOff);

// Wider instruction sets, used as further variants of the MMX paths (same
// results). Only consulted when MmxLevel is 2, so /@ turns them off too.
enum : uint32_t { kCpuMmx = 1, kCpuSse2 = 2, kCpuAvx2 = 4 };
// Features the processor has, probed once, ANDed with the mask below.
uint32_t CpuFeatures();
// Tests and benchmarks force lower variants with it; ~0 = everything.
void SetCpuFeatureMask(uint32_t mask);
