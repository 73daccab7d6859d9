// Decodes a conformance movie with the video code alone (the container is
// walked here, minimally) and compares every shown frame with its expected
// picture. Shared by the unit test and the Windows program run under Wine,
// so it uses nothing but the library.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/aligned_alloc.h"
#include "common/cpu.h"
#include "movie/movie.h"
#include "video/decode_tables.h"
#include "video/frame_target.h"

namespace vtest {

inline std::vector<uint8_t> ReadWholeFile(const std::string& path) {
    std::vector<uint8_t> out;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buf[65536];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
        std::fclose(f);
    }
    return out;
}

inline uint32_t LoadU32(const std::vector<uint8_t>& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

// A binary PPM with maxval 255: its RGB bytes.
inline bool ReadPpm(const std::string& path, uint32_t* width, uint32_t* height, std::vector<uint8_t>* rgb) {
    const std::vector<uint8_t> b = ReadWholeFile(path);
    size_t i = 0;
    auto number = [&](uint32_t* v) {
        while (i < b.size() && (b[i] == ' ' || b[i] == '\n' || b[i] == '\r' || b[i] == '\t')) ++i;
        if (i >= b.size() || b[i] < '0' || b[i] > '9') return false;
        *v = 0;
        while (i < b.size() && b[i] >= '0' && b[i] <= '9') *v = *v * 10 + (b[i++] - '0');
        return true;
    };
    uint32_t maxval = 0;
    if (b.size() < 2 || b[0] != 'P' || b[1] != '6') return false;
    i = 2;
    if (!number(width) || !number(height) || !number(&maxval) || maxval != 255) return false;
    ++i;  // the single white space after the header
    if (b.size() < i || b.size() - i != size_t{*width} * *height * 3) return false;
    rgb->assign(b.begin() + static_cast<ptrdiff_t>(i), b.end());
    return true;
}

// "" when every frame matches; otherwise what differed first.
inline std::string CheckConformanceMovie(const std::string& dir, const std::string& name, uint32_t mmxLevel,
                                         bool sixteenBit) {
    const std::vector<uint8_t> file = ReadWholeFile(dir + "/" + name + ".qvl");
    if (file.size() < 104) return "cannot read the movie";
    const uint32_t width = LoadU32(file, 4), height = LoadU32(file, 8), frames = LoadU32(file, 12);
    const uint32_t flags = LoadU32(file, 20), treeBlock = LoadU32(file, 52);
    const uint32_t sizes[4] = {LoadU32(file, 56), LoadU32(file, 60), LoadU32(file, 64), LoadU32(file, 68)};
    const uint64_t n = frames + (flags & 1);
    const uint64_t typesAt = 104 + 4 * n, treeAt = typesAt + n;
    uint64_t recordAt = treeAt + treeBlock;
    if (recordAt > file.size() || width > 4096 || height > 4096) return "malformed movie";

    // Tables, built from the tree block.
    uint64_t tablesSize = DecodeTablesFixedSize();
    for (uint32_t s : sizes) tablesSize += s;
    std::vector<uint8_t> tables(tablesSize);
    std::vector<uint8_t> work(std::max<uint64_t>(8192, (4096 + treeBlock + 3) & ~uint64_t{3}), 0);
    std::memcpy(work.data() + 4096, file.data() + treeAt, treeBlock);
    auto* dt = reinterpret_cast<DecodeTables*>(tables.data());
    BuildDecodeTables(work.data(), static_cast<uint32_t>(work.size()), dt, sizes);

    // The picture buffer, with the movie's height scaling.
    const uint32_t scaling = flags & 6;
    Movie* m = static_cast<Movie*>(AlignedAlloc(sizeof(Movie)));
    std::memset(m, 0, sizeof(Movie));
    m->Header.Width = width;
    m->Header.Height = scaling == 2 || scaling == 4 ? 2 * height : height;
    m->OpenFlags = scaling == 2 ? uint32_t{OPEN_Y_INTERLACE} : scaling == 4 ? uint32_t{OPEN_Y_DOUBLE} : 0u;
    const uint32_t lines = m->Header.Height, bpp = sixteenBit ? 2 : 1;
    // Index 0 everywhere (in the 16-bit encoding below: bytes FF 00).
    std::vector<uint8_t> pixels(size_t{width} * lines * bpp, 0);
    for (size_t k = 0; sixteenBit && k < pixels.size(); k += 2) pixels[k] = 0xFF;
    QuarvToBuffer(m, 0, 0, static_cast<int32_t>(width * bpp), lines, pixels.data(), sixteenBit ? 0xC0000000u : 0);

    std::string error;
    uint8_t palette[768] = {};
    // 16-bit pixels keep the colour of the frame that wrote them, while the
    // expected pictures show every pixel in the latest palette: so the table
    // here only encodes the index (twice, to catch a wrong byte).
    uint16_t colors[256];
    for (int c = 0; c < 256; ++c) colors[c] = static_cast<uint16_t>(c << 8 | (255 - c));
    const uint32_t savedLevel = MmxLevel;
    MmxLevel = mmxLevel;
    for (uint32_t i = 0; i < frames && error.empty() && m->FrameTarget; ++i) {
        const uint32_t size = LoadU32(file, 104 + 4 * size_t{i});
        const uint8_t type = file[typesAt + i];
        if (recordAt + size > file.size()) {
            error = "record past the end of the file";
            break;
        }
        const uint8_t* rec = file.data() + recordAt;
        uint32_t p = 0;
        if (type & 1) {
            ApplyPaletteChunk(rec, size, palette);
            p = 4u * rec[0];
        }
        for (int t = 0; t < 7; ++t)
            if ((type & (2 << t)) && p + 4 <= size) p += LoadU32(file, recordAt + p);
        if (p > size) {
            error = "chunks past the record";
            break;
        }
        DecodeFrame(rec + p, size - p, dt, m->FrameTarget, colors);
        recordAt += size;

        char ppm[64];
        std::snprintf(ppm, sizeof ppm, "/frame_%05u.ppm", i);
        uint32_t pw = 0, ph = 0;
        std::vector<uint8_t> rgb;
        if (!ReadPpm(dir + "/" + name + ".expected" + ppm, &pw, &ph, &rgb) || pw != width || ph != lines) {
            error = std::string("cannot read ") + ppm;
            break;
        }
        for (size_t k = 0; k < size_t{width} * lines && error.empty(); ++k) {
            const uint8_t* c = &rgb[3 * k];
            uint32_t index = pixels[k];
            bool same = true;
            if (sixteenBit) {
                index = pixels[2 * k + 1];
                same = pixels[2 * k] == 255 - index;
            }
            const uint8_t* q = &palette[3 * index];
            same = same && q[0] == c[0] && q[1] == c[1] && q[2] == c[2];
            if (!same)
                error = "frame " + std::to_string(i) + " differs at x " + std::to_string(k % width) + ", y " +
                        std::to_string(k / width);
        }
    }
    if (!m->FrameTarget) error = "no target";
    MmxLevel = savedLevel;
    QuarvToBuffer(m, 0, 0, 0, 0, nullptr, 0);
    AlignedFree(m);
    return error;
}

inline const std::vector<std::string>& ConformanceMovies() {
    static const std::vector<std::string> names = {"c01_blocks",    "c03_palette",      "c08_ring",
                                                   "c09_ydouble",   "c12_snd_mono8",    "c15_snd_stereo16",
                                                   "c19_peak_long", "c24_mix"};
    return names;
}

}  // namespace vtest
