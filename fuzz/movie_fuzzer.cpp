// Fuzz target for the whole decoding library: the input is a movie file,
// served from memory through the file layer (as the browser page does),
// opened with QuarvOpen (every track enabled) and played frame by frame:
// sound step, video decode, changed rectangles, advance and wait, to the end
// and once around the loop.
//
// The header's unused last word picks the options: bit 0 preload, bit 1
// streamed with a small read-ahead buffer, bits 2-3 the target format
// (8-bit, 5-5-5, 5-6-5), bit 4 bottom-up, bit 5 plain bit reader, bit 6 a
// colour remap, bits 8-9 the height-scaling override.
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/cpu.h"
#include "common/platform.h"
#include "fuzz/fuzz_input.h"
#include "movie/movie.h"
#include "sound/headless/headless_driver.h"
#include "web/memory_file.h"

namespace {

// A clock that moves 9 ms per reading keeps runs deterministic and makes
// the waits, lateness tests and sound pacing all take their branches.
uint32_t g_now;
uint32_t StepClock() { return g_now += 9; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_now = 1000;
    const QvFile file = MemoryFileServe(data, static_cast<uint32_t>(size));
    SetClock(StepClock);
    InstallHeadlessSoundDriver();

    const uint32_t opts = size >= 104 ? U32(data + 100) : 0;
    QuarvUseMMX((opts & 0x20) ? 0 : 1);
    uint32_t flags = OPEN_FROM_HANDLE | OPEN_ALL_TRACKS | OPEN_RATE_OVERRIDE;
    if (opts & 1) flags |= OPEN_PRELOAD;
    flags |= ((opts >> 8) & 3) << 20;
    QuarvSetFrameRate(-1000);  // untimed movies would never wait
    uint32_t extra = (opts & 2) ? 0 : 0xFFFFFFFFu;

    Movie* m = QuarvOpen(reinterpret_cast<void*>(file), flags, extra);
    if (m) {
        const uint32_t w = m->Header.Width, h = m->Header.Height;
        // Pictures beyond a few megapixels only make runs slow; the decoder's
        // own limits are tested elsewhere.
        if (static_cast<uint64_t>(w) * h <= (1u << 20) && w > 0 && h > 0) {
            const uint32_t format = kPixelFormats[(opts >> 2) & 3];
            const uint32_t bpp = format ? 2 : 1;
            const uint32_t pitch = (w * bpp + 7) & ~7u;
            // An exact-size buffer, so any stray write shows.
            std::vector<uint8_t> buffer(static_cast<size_t>(pitch) * h);
            QuarvToBuffer(m, 0, 0, static_cast<int32_t>(pitch), h, buffer.data(), format | ((opts >> 4) & 1));
            if (opts & 0x40) {
                uint8_t pal[16 * 3];
                for (int i = 0; i < 48; ++i) pal[i] = static_cast<uint8_t>(i * 37);
                QuarvColorRemap(m, pal, 16, 0);
            }
            const uint32_t frames = m->Header.Frames;
            const uint32_t steps = frames > 300 ? 300 : frames + 2;  // past the end: the ring frame or the rewind
            for (uint32_t i = 0; i < steps && !m->ReadError; ++i) {
                QuarvDoFrame(m);
                while (QuarvToBufferNext(m, i % 3)) {
                }
                if (i == 3) {
                    QuarvSoundOnOff(m, 0);
                    QuarvSoundOnOff(m, 1);
                }
                QuarvNextFrame(m);
                for (int k = 0; k < 4 && QuarvWait(m); ++k) {
                }
            }
            PlaybackSummary s;
            QuarvSummary(m, &s);
        }
        QuarvClose(m);
    }
    SetClock(nullptr);
    MemoryFileRelease();
    return 0;
}
