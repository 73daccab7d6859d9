// Decodes a conformance movie through the library's entry points into an
// 8-bit or a 16-bit buffer with the plain or the wide bit reader, and
// compares every frame with its expected picture. Shared by the native test
// and the Windows program run under Wine, so it uses nothing but the library.
#pragma once
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/cpu.h"
#include "movie/movie.h"

namespace vtest {

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) out.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
    }
    return out;
}

// "" when every frame matches; otherwise what differed first. A 16-bit
// pixel keeps the colour of the frame that wrote it while the expected
// pictures show the latest palette, so the 16-bit table here encodes the
// index (twice, to catch a wrong byte) instead of a colour.
inline std::string CheckConformanceMovie(const std::string& dir, const std::string& name, uint32_t mmxLevel, bool sixteenBit) {
    Movie* m = QuarvOpen((dir + "/" + name + ".qvl").c_str(), OPEN_NEVER_SKIP, 0xFFFFFFFFu);
    if (!m) return "cannot open the movie";
    const uint32_t width = m->Header.Width, lines = m->Header.Height, bpp = sixteenBit ? 2 : 1, savedLevel = MmxLevel;
    std::vector<uint8_t> pixels(size_t{width} * lines * bpp, 0);
    for (size_t k = 0; sixteenBit && k < pixels.size(); k += 2) pixels[k] = 0xFF;  // index 0
    QuarvToBuffer(m, 0, 0, static_cast<int32_t>(width * bpp), lines, pixels.data(), sixteenBit ? 0xC0000000u : 0);
    const std::string header = "P6\n" + std::to_string(width) + " " + std::to_string(lines) + "\n255\n";
    std::string error = m->FrameTarget ? "" : "no target";
    for (uint32_t i = 0; i < m->Header.Frames && error.empty(); ++i, QuarvNextFrame(m)) {
        for (int c = 0; sixteenBit && c < 256; ++c) m->TargetColorTable[c] = static_cast<uint16_t>(c << 8 | (255 - c));
        m->PaletteSeen = 0;  // the table stands as written
        MmxLevel = mmxLevel;
        QuarvDoFrame(m);
        MmxLevel = savedLevel;
        char ppm[32];
        std::snprintf(ppm, sizeof ppm, "/frame_%05u.ppm", i);
        const std::vector<uint8_t> want = ReadWholeFile(dir + "/" + name + ".expected" + ppm);
        if (m->ReadError || want.size() != header.size() + size_t{width} * lines * 3 || std::memcmp(want.data(), header.data(), header.size()))
            error = std::string("cannot read ") + ppm;
        for (size_t k = 0; k < size_t{width} * lines && error.empty(); ++k) {
            const uint32_t index = sixteenBit ? pixels[2 * k + 1] : pixels[k];
            if ((sixteenBit && pixels[2 * k] != 255 - index) || std::memcmp(&m->Palette[3 * index], &want[header.size() + 3 * k], 3))
                error = "frame " + std::to_string(i) + " differs at x " + std::to_string(k % width) + ", y " + std::to_string(k / width);
        }
    }
    QuarvClose(m);
    return error;
}

inline const std::vector<std::string>& ConformanceMovies() {
    static const std::vector<std::string> names = {"c01_blocks", "c03_palette", "c08_ring", "c09_ydouble", "c12_snd_mono8", "c15_snd_stereo16", "c19_peak_long", "c24_mix"};
    return names;
}

}  // namespace vtest
