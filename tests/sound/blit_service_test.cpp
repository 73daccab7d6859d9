// The blitter's smoothing-table build is long; with a sound track open it
// must keep a thread-less driver fed before and after it.
#include "blit/blit.h"
#include "tests/sound/sound_fixture.h"

namespace soundtest {
namespace {

TEST(BlitSoundService, SmoothTableBuildServicesOpenTracks) {
    FakeDriver driver;
    uint8_t palette[768];
    for (int i = 0; i < 768; ++i) palette[i] = static_cast<uint8_t>(i * 7);

    TestMovie movie;
    ASSERT_TRUE(movie.AddTrack(0, Format(22050, true, true)));
    Blitter* b = QuarvBlitOpen(0x4);  // 8-bit smoothing: the slow build
    ASSERT_NE(b, nullptr);
    int before = driver.services;
    QuarvBlitSetPalette(b, palette, 0);
    EXPECT_EQ(driver.services - before, 2);  // right before and right after the build
    before = driver.services;
    QuarvBlitSetPalette(b, palette, 0);  // same colours: no build, no service
    EXPECT_EQ(driver.services, before);
    QuarvBlitClose(b);
}

}  // namespace
}  // namespace soundtest
