// Fuzz target for the browser page's C API (web/quarvel_web.cpp), built
// natively: the input is a dropped file, opened from memory and decoded to
// the end at the scale its last byte picks (0 decode only, 1x, 2x, 2x
// smoothed), with every track's PCM read, as the page does. A bad file may
// only be refused with a message.
#include <cstring>

#include "web/quarvel_web.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 22)) return 0;
    uint8_t* file = QuarvWebFileBuffer(static_cast<uint32_t>(size));
    if (size) std::memcpy(file, data, size);
    const uint32_t pick = size ? data[size - 1] & 3 : 0;
    const uint32_t scale = pick == 3 ? 2 : pick;
    if (!QuarvWebOpen()) {
        if (!*QuarvWebError()) __builtin_trap();  // refused without a reason
        return 0;
    }
    const uint32_t frames = QuarvWebFrames();
    volatile uint32_t sink = 0;
    uint32_t n = 0;
    for (; n < 40 && QuarvWebDecodeNext(scale, pick == 3) >= 0; ++n) {
        // Touch the last pixel and every track's last byte: they must exist.
        const uint32_t pixels = QuarvWebPixelWidth() * QuarvWebPixelHeight();
        if (scale && pixels) sink = sink + QuarvWebPixels()[pixels - 1];
        for (int t = 0; t < 7; ++t)
            if (QuarvWebSoundBytes(t)) sink = sink + QuarvWebSound(t)[QuarvWebSoundBytes(t) - 1];
        if (n == 1) QuarvWebRedraw(2, 1);
    }
    if (n < frames && n < 40 && !*QuarvWebError()) __builtin_trap();  // stopped early without a reason
    (void)sink;
    return 0;
}
