// The program's one allocator: 16-byte aligned blocks from the process heap.
// Allocating n bytes takes n + 16 bytes and returns the first address above
// the block's start that is a multiple of 16; the byte just before it holds
// the distance (1..16) back to the heap block, so release needs no size.
#pragma once
#include <cstddef>
#include <cstdint>

// Null for 0 and 0xFFFFFFFF bytes and when the heap refuses.
void* AlignedAlloc(size_t n);
// Releasing null does nothing.
void AlignedFree(void* p);

// Failure injection for tests and fuzzing: while a countdown is set, the
// allocation that brings it to zero fails (and every later one until reset).
// -1 (the default) never fails.
void SetAllocFailCountdown(int32_t countdown);
