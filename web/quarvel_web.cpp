// The browser page's C API over the decoding library and the blitter's kernels.
// Pixels go from 8-bit frames through 8-bit kernels and then through the
// palette to RGBA, so every pixel is exactly a palette colour, as quarvdump
// writes it; a 16-bit path would lose the low bits.
#include "web/quarvel_web.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "blit/kernels.h"
#include "movie/chunk_pcm.h"
#include "movie/movie.h"
#include "movie/sound_unpack.h"
#include "web/memory_file.h"

namespace {

// Largest picture (after the open's height doubling) the page takes on: a
// 2x RGBA frame of it is 64 MiB.
constexpr uint64_t kMaxPixels = 2048 * 2048;

struct WebMovie {
    uint8_t* file = nullptr;  // the movie's bytes, written by the page
    uint32_t fileSize = 0;
    Movie* movie = nullptr;
    uint32_t next = 0;  // frames decoded so far
    std::vector<uint8_t> picture;  // the 8-bit frame the decoder draws into
    std::vector<uint8_t> doubled;  // 2x, 8-bit
    std::vector<uint8_t> smoothTable;
    uint8_t smoothPalette[768] = {};  // the palette smoothTable was built for
    bool smoothBuilt = false;
    std::vector<uint32_t> rgba;
    uint32_t rgbaWidth = 0, rgbaHeight = 0;
    std::vector<uint8_t> sound[kMaxTracks];  // this frame's PCM per track
    std::vector<uint32_t> scratch = std::vector<uint32_t>(kSoundScratchBytes / 4);
    std::string error;
};

WebMovie g;

void CloseMovie() {
    if (g.movie) QuarvClose(g.movie);
    g.movie = nullptr;
    MemoryFileRelease();
    g.next = 0;
    g.smoothBuilt = false;
    for (auto& s : g.sound) s.clear();
}

bool Fail(const std::string& text) {
    g.error = text;
    CloseMovie();
    return false;
}

uint32_t TrackFormat(int t) {
    if (!g.movie || t < 0 || t >= kMaxTracks) return 0;
    const uint32_t f = g.movie->Header.TrackFormat[t];
    return (f & kTrackPresent) && (f & kTrackRateMask) ? f : 0;
}

// RGBA as the canvas takes it (bytes r, g, b, 255: little-endian words).
void PaletteWords(uint32_t* words) {
    const uint8_t* p = g.movie->Palette;
    for (int i = 0; i < 256; ++i, p += 3) words[i] = p[0] | p[1] << 8 | p[2] << 16 | 0xFF000000u;
}

// Scale 0 decodes only; 1 and 2 also produce the RGBA picture.
void MakePixels(uint32_t scale, bool smooth) {
    const uint32_t w = g.movie->Header.Width, h = g.movie->Header.Height;
    const BlitDSP& k = CurrentBlitDsp();
    const uint8_t* src = g.picture.data();
    if (scale == 2) {
        g.doubled.resize(static_cast<size_t>(w) * h * 4);
        if (smooth) {
            if (!g.smoothBuilt || std::memcmp(g.smoothPalette, g.movie->Palette, 768) != 0) {
                g.smoothTable.resize(65536);
                k.buildSmooth8(g.smoothTable.data(), g.movie->Palette);
                std::memcpy(g.smoothPalette, g.movie->Palette, 768);
                g.smoothBuilt = true;
            }
            k.smooth8(g.doubled.data(), 2 * w, src, w, static_cast<int>(w), static_cast<int>(h), g.smoothTable.data());
        } else {
            k.double8(g.doubled.data(), 2 * w, src, 0, static_cast<int>(w), static_cast<int>(h));
        }
        src = g.doubled.data();
    }
    g.rgbaWidth = w * scale;
    g.rgbaHeight = h * scale;
    const size_t n = static_cast<size_t>(g.rgbaWidth) * g.rgbaHeight;
    g.rgba.resize(n);
    uint32_t words[256];
    PaletteWords(words);
    for (size_t i = 0; i < n; ++i) g.rgba[i] = words[src[i]];
}

}  // namespace

QUARV_WEB_API uint8_t* QuarvWebFileBuffer(uint32_t size) {
    CloseMovie();
    std::free(g.file);
    g.file = static_cast<uint8_t*>(std::malloc(size ? size : 1));
    g.fileSize = g.file ? size : 0;
    return g.file;
}

QUARV_WEB_API int QuarvWebOpen() {
    CloseMovie();
    g.error.clear();
    if (!g.file) return Fail("No movie was loaded.");
    const QvFile f = MemoryFileServe(g.file, g.fileSize);
    g.movie = QuarvOpen(reinterpret_cast<void*>(f), OPEN_FROM_HANDLE | OPEN_NEVER_SKIP, 0xFFFFFFFFu);
    if (!g.movie) return Fail("This is not a Quarvel movie, or it is damaged: it cannot be opened.");
    if (g.movie->ReadError) return Fail("The movie is cut short: it cannot be read whole.");
    const MovieHeader& h = g.movie->Header;
    if (h.Width == 0 || h.Height == 0 || h.Frames == 0 || uint64_t{h.Width} * h.Height > kMaxPixels) {
        char text[160];
        std::snprintf(text, sizeof text, "The movie's picture (%u x %u pixels, %u frames) is out of range.", h.Width,
                      h.Height, h.Frames);
        return Fail(text);
    }
    g.picture.assign(static_cast<size_t>(h.Width) * h.Height, 0);
    QuarvToBuffer(g.movie, 0, 0, static_cast<int32_t>(h.Width), h.Height, g.picture.data(), 0);
    return 1;
}

QUARV_WEB_API void QuarvWebClose() { CloseMovie(); }

QUARV_WEB_API const char* QuarvWebError() { return g.error.c_str(); }

QUARV_WEB_API uint32_t QuarvWebWidth() { return g.movie ? g.movie->Header.Width : 0; }
QUARV_WEB_API uint32_t QuarvWebHeight() { return g.movie ? g.movie->Header.Height : 0; }
QUARV_WEB_API uint32_t QuarvWebFrames() { return g.movie ? g.movie->Header.Frames : 0; }
QUARV_WEB_API uint32_t QuarvWebFrameTime() { return g.movie ? g.movie->FrameTime : 0; }

QUARV_WEB_API uint32_t QuarvWebTrackRate(int t) { return TrackFormat(t) & kTrackRateMask; }
QUARV_WEB_API uint32_t QuarvWebTrackBits(int t) { return TrackFormat(t) & kTrackBits16 ? 16 : 8; }
QUARV_WEB_API uint32_t QuarvWebTrackChannels(int t) { return TrackFormat(t) & kTrackStereo ? 2 : 1; }

QUARV_WEB_API int32_t QuarvWebDecodeNext(uint32_t scale, uint32_t smooth) {
    if (!g.movie || g.next >= g.movie->Header.Frames) return -1;
    if (scale > 2) scale = 2;
    if (g.next > 0) QuarvNextFrame(g.movie);
    if (!g.movie->ReadError) QuarvDoFrame(g.movie);
    if (g.movie->ReadError) {
        Fail("The movie is cut short: frame " + std::to_string(g.next) + " cannot be read.");
        return -1;
    }
    for (int t = 0; t < kMaxTracks; ++t) {
        g.sound[t].clear();
        if (!TrackFormat(t)) continue;
        const uint32_t n = ChunkPcmSize(g.movie, t);
        if (n == kChunkPcmOutOfRange) {
            Fail("The movie is damaged: a sound chunk of frame " + std::to_string(g.next) + " is out of range.");
            return -1;
        }
        g.sound[t].resize(n);
        ChunkPcmWrite(g.movie, t, g.sound[t].data(), g.scratch.data());
    }
    if (scale) MakePixels(scale, smooth != 0);
    return static_cast<int32_t>(g.next++);
}

QUARV_WEB_API int QuarvWebRedraw(uint32_t scale, uint32_t smooth) {
    if (!g.movie || g.next == 0 || scale < 1) return 0;
    MakePixels(scale > 2 ? 2 : scale, smooth != 0);
    return 1;
}

QUARV_WEB_API const uint32_t* QuarvWebPixels() { return g.rgba.data(); }
QUARV_WEB_API uint32_t QuarvWebPixelWidth() { return g.rgbaWidth; }
QUARV_WEB_API uint32_t QuarvWebPixelHeight() { return g.rgbaHeight; }

QUARV_WEB_API const uint8_t* QuarvWebSound(int t) { return t >= 0 && t < kMaxTracks ? g.sound[t].data() : nullptr; }
QUARV_WEB_API uint32_t QuarvWebSoundBytes(int t) {
    return t >= 0 && t < kMaxTracks ? static_cast<uint32_t>(g.sound[t].size()) : 0;
}
