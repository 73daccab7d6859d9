// One movie file held in memory, served to the library through the file
// layer: a page has the bytes of a dropped file, not a path.
#pragma once
#include <cstdint>

#include "common/platform.h"

// Serves bytes [data, data + size) as an open file from position 0 and
// installs the memory file layer; the bytes must outlive MemoryFileRelease.
QvFile MemoryFileServe(const uint8_t* data, uint32_t size);

// Forgets the bytes and gives the platform's own file layer back.
void MemoryFileRelease();
