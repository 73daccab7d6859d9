// Every frame of the independent conformance movies, decoded by the video
// code alone (the container is walked here, minimally) and compared with the
// expected pictures.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/video/decode_rig.h"
#include "video/decode_tables.h"

using namespace vtest;

namespace {

const std::string kCorpus = std::string(QUARVEL_SOURCE_DIR) + "/../shared/conformance/";

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

uint32_t U32(const std::vector<uint8_t>& d, size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | static_cast<uint32_t>(d[at + 3]) << 24;
}

struct Ppm {
    uint32_t width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool ReadPpm(const std::string& path, Ppm* out) {
    std::vector<uint8_t> bytes = ReadFile(path);
    std::string text(bytes.begin(), bytes.end());
    std::istringstream in(text);
    std::string magic;
    uint32_t maxval = 0;
    in >> magic >> out->width >> out->height >> maxval;
    if (magic != "P6" || maxval != 255) return false;
    const size_t start = static_cast<size_t>(in.tellg()) + 1;
    out->rgb.assign(bytes.begin() + start, bytes.end());
    return out->rgb.size() == size_t{out->width} * out->height * 3;
}

// Decodes the movie with the given reader and compares every shown frame.
void CheckMovie(const std::string& name, uint32_t mmxLevel) {
    SCOPED_TRACE(name + (mmxLevel == 2 ? " (wide reader)" : " (plain reader)"));
    const std::vector<uint8_t> file = ReadFile(kCorpus + name + ".qvl");
    ASSERT_GE(file.size(), 104u);
    const uint32_t width = U32(file, 4), height = U32(file, 8), frames = U32(file, 12), flags = U32(file, 20);
    const uint32_t treeBlock = U32(file, 52);
    const uint32_t sizes[4] = {U32(file, 56), U32(file, 60), U32(file, 64), U32(file, 68)};
    const uint32_t n = frames + (flags & 1);
    const size_t typesAt = 104 + 4 * size_t{n};
    const size_t treeAt = typesAt + n;
    size_t recordAt = treeAt + treeBlock;
    ASSERT_LE(recordAt, file.size());

    const uint32_t scaling = flags & 6;
    const uint32_t openFlags = scaling == 2 ? OPEN_Y_INTERLACE : scaling == 4 ? OPEN_Y_DOUBLE : 0;
    const uint32_t lines = openFlags ? 2 * height : height;

    Rig rig(width, lines, openFlags);
    rig.tables = Tables::Build(std::vector<uint8_t>(file.begin() + treeAt, file.begin() + recordAt), sizes);
    rig.Bind(0, 0, static_cast<int32_t>(width), lines, 0, 0);
    ASSERT_NE(rig.Target(), nullptr);

    uint8_t palette[768] = {};
    for (uint32_t i = 0; i < frames; ++i) {
        const uint32_t size = U32(file, 104 + 4 * size_t{i});
        const uint8_t type = file[typesAt + i];
        ASSERT_LE(recordAt + size, file.size());
        const uint8_t* rec = file.data() + recordAt;
        uint32_t p = 0;
        if (type & 1) {
            ApplyPaletteChunk(rec, size, palette);
            p = 4u * rec[0];
        }
        for (int t = 0; t < 7; ++t)
            if (type & (2 << t)) p += U32(file, recordAt + p);
        ASSERT_LE(p, size);
        rig.Decode(std::vector<uint8_t>(rec + p, rec + size), mmxLevel);
        recordAt += size;

        char ppmName[64];
        std::snprintf(ppmName, sizeof ppmName, ".expected/frame_%05u.ppm", i);
        Ppm expected;
        ASSERT_TRUE(ReadPpm(kCorpus + name + ppmName, &expected)) << ppmName;
        ASSERT_EQ(expected.width, width);
        ASSERT_EQ(expected.height, lines);
        size_t wrong = 0, first = 0;
        for (size_t k = 0; k < size_t{width} * lines; ++k) {
            const uint8_t* c = &palette[3 * rig.At(static_cast<uint32_t>(k % width), static_cast<uint32_t>(k / width))];
            if (c[0] != expected.rgb[3 * k] || c[1] != expected.rgb[3 * k + 1] || c[2] != expected.rgb[3 * k + 2]) {
                if (!wrong) first = k;
                ++wrong;
            }
        }
        EXPECT_EQ(wrong, 0u) << "frame " << i << ": first difference at x " << first % width << ", y "
                             << first / width;
    }
}

}  // namespace

TEST(ConformanceDecode, EveryFrameOfEveryMovieMatches) {
    const char* movies[] = {"c01_blocks",       "c03_palette",       "c08_ring",      "c09_ydouble",
                            "c12_snd_mono8",    "c15_snd_stereo16",  "c19_peak_long", "c24_mix"};
    for (const char* m : movies)
        for (uint32_t level : {1u, 2u}) CheckMovie(m, level);
}
