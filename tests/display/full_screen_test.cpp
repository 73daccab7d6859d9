// The full-screen types on the memory back-end's simulated driver: the
// record each type builds, and the requests the driver receives (codes,
// byte counts, the shared header and the pixels).
#include <gtest/gtest.h>

#include <cstring>

#include "common/aligned_alloc.h"
#include "display_test_util.h"

namespace {

MemoryScreenConfig WithDriver() {
    MemoryScreenConfig c;
    c.fullScreenDriver = true;
    return c;
}

// The header part of a request as the driver reads it.
SharedBitmapHeader HeaderOf(const DriverRequest& r) {
    SharedBitmapHeader h{};
    EXPECT_EQ(r.data.size(), sizeof h);
    if (r.data.size() == sizeof h) memcpy(&h, r.data.data(), sizeof h);
    return h;
}

bool IdentitySlots(const SharedBitmapHeader& h) {
    const auto* slots = reinterpret_cast<const uint16_t*>(h.colours);
    for (int i = 0; i < 256; i++)
        if (slots[i] != i) return false;
    return true;
}

TEST(FullScreen, Type1RecordAndFormatRequest) {
    MemoryScreenReset(WithDriver());
    QuarvBuffer* b = QuarvBufferOpen(nullptr, 1, 160, 120, 0, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->type, 1u);
    EXPECT_EQ(b->fullScreen, 1u);
    EXPECT_EQ(b->bottomUp, 1u);
    EXPECT_EQ(b->memoryKind, 1u);
    EXPECT_EQ(b->height, 204u);  // 200 lines or fewer become 204
    EXPECT_EQ(b->pitch, 160u);
    EXPECT_EQ(b->paletteStart, 0u);
    EXPECT_EQ(b->paletteEnd, 256u);
    EXPECT_EQ(b->freeColours, 256u);
    EXPECT_TRUE(MemoryDriverWindowShown());
    // The 204th line exists and starts cleared.
    EXPECT_EQ(b->pixels[203 * 160 + 159], 0);

    const auto& req = MemoryDriverRequests();
    ASSERT_EQ(req.size(), 1u);
    EXPECT_EQ(req[0].code, 0x8AD50400u);
    const SharedBitmapHeader h = HeaderOf(req[0]);
    EXPECT_EQ(h.size, 40u);
    EXPECT_EQ(h.width, 160);
    EXPECT_EQ(h.height, 204);
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.bitCount, 8);
    EXPECT_TRUE(IdentitySlots(h));
    QuarvBufferClose(b);
    EXPECT_FALSE(MemoryDriverWindowShown());
    ASSERT_EQ(req.size(), 2u);
    EXPECT_EQ(req[1].code, kDriverClose);
}

TEST(FullScreen, SizesEachTypeRefuses) {
    MemoryScreenReset(WithDriver());
    EXPECT_EQ(QuarvBufferOpen(nullptr, 1, 320, 256, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(nullptr, 2, 320, 201, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(nullptr, 3, 321, 200, 0, 0), nullptr);
    EXPECT_EQ(QuarvBufferOpen(nullptr, 2, 160, 100, 320, 200), nullptr);  // no stretching
    EXPECT_TRUE(MemoryDriverRequests().empty());
    // Without the driver even a fitting size fails, and automatic never picks it.
    MemoryScreenReset(MemoryScreenConfig{});
    EXPECT_EQ(QuarvBufferOpen(nullptr, 2, 320, 200, 0, 0), nullptr);
    MemoryScreenReset(WithDriver());
    QuarvBuffer* automatic = QuarvBufferOpen(nullptr, 0, 320, 200, 0, 0);
    ASSERT_NE(automatic, nullptr);
    EXPECT_EQ(automatic->fullScreen, 0u);
    QuarvBufferClose(automatic);
}

TEST(FullScreen, DrawSendsTheWholeBufferEveryTime) {
    MemoryScreenReset(WithDriver());
    QuarvBuffer* b = QuarvBufferOpen(nullptr, 2, 100, 60, 0, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->height, 60u);  // only type 1 grows
    EXPECT_EQ(MemoryDriverRequests().at(0).code, 0x8AD10400u);
    FillPattern(b);
    // Any rectangle: the whole buffer goes, width = pitch (104) lines of 60.
    EXPECT_EQ(QuarvBufferBlit(b, nullptr, 0, 0, 10, 10, 4, 4), 256u);
    const DriverRequest& draw = MemoryDriverRequests().back();
    EXPECT_EQ(draw.code, 0x0A500401u);
    ASSERT_EQ(draw.data.size(), 104u * 60u);
    EXPECT_EQ(memcmp(draw.data.data(), b->pixels, draw.data.size()), 0);
    // Bottom-up: the picture's first line is the last in memory.
    EXPECT_EQ(draw.data[59 * 104 + 3], PatternAt(3, 0));
    EXPECT_EQ(b->drawn, 1u);
    QuarvBufferClose(b);
}

TEST(FullScreen, NewColoursTravelInTheSlotsForOneRequest) {
    MemoryScreenReset(WithDriver());
    for (uint32_t type : {1u, 2u}) {
        QuarvBuffer* b = QuarvBufferOpen(nullptr, type, 320, 200, 0, 0);
        ASSERT_NE(b, nullptr);
        uint8_t rgb[768];
        TestColours(rgb);
        UpdateDisplayPalette(b, rgb);
        const DriverRequest& r = MemoryDriverRequests().back();
        EXPECT_EQ(r.code, type == 1 ? 0x8AC50400u : 0x8AC10400u);
        const SharedBitmapHeader h = HeaderOf(r);
        EXPECT_EQ(h.height, type == 1 ? 204 : 200);
        for (int i : {0, 1, 127, 255}) {
            const auto* slot = reinterpret_cast<const uint8_t*>(&h.colours[i]);
            EXPECT_EQ(slot[0], rgb[i * 3 + 2]) << i;  // blue, green, red, 0
            EXPECT_EQ(slot[1], rgb[i * 3 + 1]) << i;
            EXPECT_EQ(slot[2], rgb[i * 3]) << i;
            EXPECT_EQ(slot[3], 0) << i;
        }
        EXPECT_TRUE(IdentitySlots(*SharedHeaderForTests()));
        // The set-format and new-colours codes differ in one bit only.
        EXPECT_EQ(MemoryDriverRequests().front().code ^ r.code, 0x00100000u);
        QuarvBufferClose(b);
        MemoryScreenReset(WithDriver());
    }
}

TEST(FullScreen, ActivationRedrawsTypes1And2) {
    MemoryScreenReset(WithDriver());
    QuarvBuffer* b = QuarvBufferOpen(nullptr, 2, 320, 200, 0, 0);
    ASSERT_NE(b, nullptr);
    const size_t before = MemoryDriverRequests().size();
    FullScreenActivated(b, false);
    EXPECT_EQ(b->active, 0u);
    EXPECT_EQ(MemoryDriverRequests().size(), before);
    FullScreenActivated(b, true);
    EXPECT_EQ(b->active, 1u);
    ASSERT_EQ(MemoryDriverRequests().size(), before + 1);
    EXPECT_EQ(MemoryDriverRequests().back().code, kDriverDraw);
    QuarvBufferClose(b);
}

TEST(FullScreen, Type3UsesDisplayMemoryAndSendsNoPixels) {
    MemoryScreenReset(WithDriver());
    QuarvBuffer* b = QuarvBufferOpen(nullptr, 3, 200, 100, 0, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->width, 320u);
    EXPECT_EQ(b->height, 200u);
    EXPECT_EQ(b->memoryKind, 2u);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b->pixels), DisplayMemoryAddress());
    ASSERT_NE(b->savedScreen, nullptr);
    for (uint32_t i = 0; i < 64000; i += 997) EXPECT_EQ(b->savedScreen[i], 0);
    EXPECT_EQ(MemoryDriverRequests().at(0).code, 0x8AD10400u);
    EXPECT_EQ(HeaderOf(MemoryDriverRequests().at(0)).width, 320);
    EXPECT_EQ(QuarvBufferBlit(b, nullptr, 0, 0, 0, 0, 320, 200), 0u);
    EXPECT_EQ(MemoryDriverRequests().size(), 1u);
    EXPECT_EQ(QuarvBufferRealize(b), 0u);
    QuarvBufferClose(b);
    EXPECT_EQ(MemoryDriverRequests().back().code, kDriverClose);
}

TEST(FullScreen, FailuresLeaveNothingBehind) {
    MemoryScreenConfig c = WithDriver();
    c.failDriverWindow = true;
    MemoryScreenReset(c);
    EXPECT_EQ(QuarvBufferOpen(nullptr, 1, 320, 240, 0, 0), nullptr);
    EXPECT_TRUE(MemoryDriverRequests().empty());
    MemoryScreenReset(WithDriver());
    for (int n = 0; n <= 1; n++) {
        SetAllocFailCountdown(n);  // the record, then the pixels or the saved screen
        EXPECT_EQ(QuarvBufferOpen(nullptr, 1, 320, 240, 0, 0), nullptr) << n;
        SetAllocFailCountdown(n);
        EXPECT_EQ(QuarvBufferOpen(nullptr, 3, 320, 200, 0, 0), nullptr) << n;
    }
    SetAllocFailCountdown(-1);
    EXPECT_TRUE(MemoryDriverRequests().empty());
    QuarvBufferClose(nullptr);
}

}  // namespace
