// Shared set-up for the graphics-buffer tests on the memory back-end.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "display/display.h"
#include "display/memory_display.h"

// A palette whose colour for index i is easy to tell apart: (i, 255 - i, i ^ 0x5A).
inline void TestColours(uint8_t rgb[768]) {
    for (int i = 0; i < 256; i++) {
        rgb[i * 3] = static_cast<uint8_t>(i);
        rgb[i * 3 + 1] = static_cast<uint8_t>(255 - i);
        rgb[i * 3 + 2] = static_cast<uint8_t>(i ^ 0x5A);
    }
}
inline uint32_t TestColour(uint8_t i) { return uint32_t(i) << 16 | uint32_t(255 - i) << 8 | (i ^ 0x5A); }

// The pixel value written at picture point (x, y) by FillPattern.
inline uint8_t PatternAt(int x, int y) { return static_cast<uint8_t>(x * 7 + y * 13 + 1); }

// Writes the pattern through the buffer's own orientation.
inline void FillPattern(QuarvBuffer* b) {
    for (uint32_t y = 0; y < b->height; y++) {
        const uint32_t row = b->bottomUp ? b->height - 1 - y : y;
        for (uint32_t x = 0; x < b->width; x++) b->pixels[row * b->pitch + x] = PatternAt(x, y);
    }
}

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override { Reset(MemoryScreenConfig{}); }
    void TearDown() override {
        QuarvBufferClose(buffer);
        buffer = nullptr;
        MemoryScreenStats s = MemoryScreenStatsNow();
        EXPECT_EQ(s.paletteObjects, 0);
        EXPECT_EQ(s.bitmaps, 0);
        EXPECT_EQ(s.dcsHeld, 0);
    }
    void Reset(const MemoryScreenConfig& config) {
        QuarvBufferClose(buffer);
        buffer = nullptr;
        MemoryScreenReset(config);
    }
    // Opens a buffer with the test colours on a true-colour screen.
    QuarvBuffer* OpenWithColours(uint32_t type, uint32_t w, uint32_t h, uint32_t ow = 0, uint32_t oh = 0) {
        buffer = QuarvBufferOpen(&window, type, w, h, ow, oh);
        if (!buffer) return nullptr;
        uint8_t rgb[768];
        TestColours(rgb);
        UpdateDisplayPalette(buffer, rgb);
        buffer->redrawAll = 0;
        FillPattern(buffer);
        return buffer;
    }

    int window = 0;
    QuarvBuffer* buffer = nullptr;
};
