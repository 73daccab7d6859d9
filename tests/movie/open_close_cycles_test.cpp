// Hundreds of movies opened, played and closed in one process, as a player
// with a long list or /L meets them: every close gives back what its open
// took, in the library's own count and in the process's heap.
#include <gtest/gtest.h>
#include <malloc.h>

#include <memory>
#include <vector>

#include "movie/movie.h"
#include "movie/movie_internal.h"
#include "sound/sound_driver.h"
#include "tests/support/movie_bytes.h"
#include "writer/writer.h"

#if defined(__SANITIZE_ADDRESS__)
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

namespace {

// Bytes the process's allocator has handed out and not had back (under
// AddressSanitizer its own allocator's count: it replaces malloc).
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_current_allocated_bytes();
#else
    const struct mallinfo2 mi = mallinfo2();
    return mi.uordblks + mi.hblkhd;
#endif
}

struct Layout {
    int tracks;  // sound tracks, all alike
    int bits, channels;
    bool compressed;
    bool ring;
};

// Every sound layout raw and packed, several tracks, none, and ring frames.
const Layout kLayouts[] = {
    {1, 8, 1, false, false}, {1, 8, 1, true, true},   {1, 16, 1, false, false}, {1, 16, 1, true, false},
    {1, 8, 2, false, true},  {1, 8, 2, true, false},  {1, 16, 2, false, false}, {2, 16, 2, true, true},
    {0, 8, 1, false, false},
};

// 96 x 64, 8 frames at 15 fps, pictures with every block kind; 22050 Hz
// sound makes even the 8-bit mono movies big enough to stream.
std::vector<uint8_t> WriteLayout(const Layout& l) {
    qvw::MoviePlan plan;
    plan.width = 96;
    plan.height = 64;
    plan.ring = l.ring;
    for (uint32_t f = 0; f < 8; ++f) {
        qvw::FramePlan frame;
        frame.picture.resize(96 * 64);
        for (uint32_t i = 0; i < frame.picture.size(); ++i)
            frame.picture[i] = static_cast<uint8_t>(i < 2048 ? (i % 96 / 4 + f) % 5 : (i * 7 + f * 3) % 29);
        plan.frames.push_back(frame);
    }
    for (int t = 0; t < l.tracks; ++t) {
        qvw::TrackPlan track;
        track.rate = 22050;
        track.bits = l.bits;
        track.channels = l.channels;
        track.compressed = l.compressed;
        track.pcm.resize(22050 * l.bits / 8 * l.channels * 2);
        for (size_t i = 0; i < track.pcm.size(); ++i) track.pcm[i] = static_cast<uint8_t>((i * 13 + t) ^ (i >> 6));
        plan.tracks[t * 3] = track;
    }
    return qvw::WriteMovie(plan);
}

// Plays the movie to its last frame the way the player does.
void Play(Movie* m, uint32_t format) {
    const uint32_t bpp = format ? 2 : 1;
    const uint32_t pitch = (m->Header.Width * bpp + 7) & ~7u;
    std::vector<uint8_t> pixels(pitch * m->Header.Height);
    QuarvToBuffer(m, 0, 0, static_cast<int32_t>(pitch), m->Header.Height, pixels.data(), format);
    ASSERT_NE(m->FrameTarget, nullptr);
    for (;;) {
        QuarvDoFrame(m);
        while (QuarvToBufferNext(m, 0)) {
        }
        if (m->FrameNum + 1 >= m->Header.Frames) break;
        QuarvNextFrame(m);
        for (int spins = 0; QuarvWait(m); ++spins) ASSERT_LT(spins, 100000) << "frame " << m->FrameNum;
    }
    EXPECT_EQ(m->ReadError, 0u);
}

TEST(OpenCloseCycles, EveryCloseGivesBackWhatItsOpenTook) {
    std::vector<std::unique_ptr<movietest::TempFile>> files;
    for (const Layout& l : kLayouts) files.push_back(std::make_unique<movietest::TempFile>(WriteLayout(l)));
    UninstallSoundDriver();  // the default driver, as a program meets it
    movietest::TestClock clock(1000, 3);

    struct Way {
        uint32_t flags, extraBuffer, format;
    };
    const Way kWays[] = {
        {OPEN_PRELOAD, 0xFFFFFFFFu, 0},           {0, 0, 0xC0000000u},
        {OPEN_Y_DOUBLE, 0, 0},                    {OPEN_Y_INTERLACE | OPEN_PRELOAD, 0xFFFFFFFFu, 0x80000000u},
        {OPEN_Y_NONE | OPEN_FILL_BUFFER, 0, 0},   {OPEN_Y_DOUBLE | OPEN_PRELOAD, 0xFFFFFFFFu, 0xC0000000u},
    };
    const size_t before = MovieBytesHeld();
    size_t heapAfterFirst = 0;
    for (int round = 0; round < 6; ++round)
        for (size_t i = 0; i < files.size(); ++i)
            for (const Way& w : kWays) {
                SCOPED_TRACE(testing::Message() << "layout " << i << ", flags 0x" << std::hex << w.flags);
                Movie* m = QuarvOpen(files[i]->path().c_str(), w.flags | OPEN_ALL_TRACKS, w.extraBuffer);
                ASSERT_NE(m, nullptr);
                EXPECT_EQ(m->BufStart == nullptr, (w.flags & OPEN_PRELOAD) != 0);
                uint32_t tracks = 0;  // every track of the file set up
                for (int t = 0; t < kLayouts[i].tracks; ++t) tracks |= OPEN_TRACK0 << (t * 3);
                EXPECT_EQ(m->OpenFlags & OPEN_ALL_TRACKS, tracks);
                Play(m, w.format);
                // What the movie says it holds is what the library holds.
                EXPECT_EQ(MovieBytesHeld() - before, m->MemUsed);
                QuarvClose(m);
                EXPECT_EQ(MovieBytesHeld(), before);
                if (!heapAfterFirst) heapAfterFirst = HeapInUse();
            }
    EXPECT_LE(HeapInUse(), heapAfterFirst + 16384) << "after the first close: " << heapAfterFirst;
    UninstallSoundDriver();
}

}  // namespace
