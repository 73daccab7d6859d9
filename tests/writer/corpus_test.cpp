// The independent movies of the shared corpus, read by the test reader: if
// the reader gets them right, its reading of the format is right, and the
// round trips of the writer's own movies through it mean something. Then
// the corpus content is written again by the writer and must come back the
// same.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/writer/movie_reader.h"
#include "writer/writer.h"

namespace {

const std::string kCorpus = std::string(QUARVEL_SOURCE_DIR) + "/../shared/conformance";
const char* const kMovies[] = {"c01_blocks", "c03_palette", "c08_ring", "c09_ydouble",
                               "c12_snd_mono8", "c15_snd_stereo16", "c19_peak_long", "c24_mix"};

// Pixel data of a binary PPM, or empty.
std::vector<uint8_t> PpmPixels(const std::vector<uint8_t>& f, uint32_t* w, uint32_t* h) {
    std::string head(f.begin(), f.begin() + std::min<size_t>(f.size(), 32));
    unsigned max = 0;
    int used = 0;
    if (std::sscanf(head.c_str(), "P6 %u %u %u%n", w, h, &max, &used) != 3 || max != 255) return {};
    return std::vector<uint8_t>(f.begin() + used + 1, f.end());
}

std::vector<uint8_t> WavData(const std::vector<uint8_t>& f) {
    for (size_t p = 12; p + 8 <= f.size();) {
        uint32_t len = f[p + 4] | f[p + 5] << 8 | f[p + 6] << 16 | uint32_t(f[p + 7]) << 24;
        if (std::memcmp(&f[p], "data", 4) == 0)
            return std::vector<uint8_t>(f.begin() + p + 8, f.begin() + std::min(f.size(), p + 8 + len));
        p += 8 + len + (len & 1);
    }
    return {};
}

std::string Pad5(uint32_t i) {
    char b[16];
    std::snprintf(b, sizeof b, "%05u", i);
    return b;
}

// What a movie shows and plays, frame by frame (ring frame excluded).
struct Content {
    std::vector<std::vector<uint8_t>> pictures;
    std::vector<testread::Pal> palettes;
    std::vector<bool> palette_chunk;
    std::array<std::vector<std::optional<std::vector<uint8_t>>>, 7> sound;
};

Content ReadAll(testread::Reader& r) {
    Content c;
    for (uint32_t i = 0; i < r.records(); ++i) {
        testread::Frame f;
        EXPECT_TRUE(r.Decode(i, &f)) << "record " << i << ": " << r.error();
        c.pictures.push_back(r.picture());
        c.palettes.push_back(r.palette());
        c.palette_chunk.push_back(f.has_palette);
        for (int t = 0; t < 7; ++t) {
            if (f.has_sound[t]) c.sound[t].push_back(f.sound[t]);
            else c.sound[t].push_back(std::nullopt);
        }
    }
    return c;
}

TEST(Corpus, ReaderDecodesEveryMovieToTheExpectedFramesAndSound) {
    for (const char* name : kMovies) {
        SCOPED_TRACE(name);
        std::vector<uint8_t> file = testread::ReadFile(kCorpus + "/" + name + ".qvl");
        ASSERT_FALSE(file.empty());
        testread::Reader r;
        ASSERT_TRUE(r.Open(file)) << r.error();
        const testread::Header& h = r.header();
        const bool doubled = h.flags & 4;
        std::array<std::vector<uint8_t>, 7> wav;
        for (uint32_t i = 0; i < h.frames; ++i) {
            testread::Frame f;
            ASSERT_TRUE(r.Decode(i, &f)) << "frame " << i << ": " << r.error();
            // Every video payload leaves at least 8 bytes after its last bit.
            EXPECT_LE((f.video_bits_used + 7) / 8 + 8, f.video_size) << "frame " << i;
            for (int t = 0; t < 7; ++t) wav[t].insert(wav[t].end(), f.sound[t].begin(), f.sound[t].end());
            std::vector<uint8_t> ppm =
                testread::ReadFile(kCorpus + "/" + name + ".expected/frame_" + Pad5(i) + ".ppm");
            uint32_t w = 0, hh = 0;
            std::vector<uint8_t> want = PpmPixels(ppm, &w, &hh);
            ASSERT_EQ(w, h.width);
            ASSERT_EQ(hh, h.height * (doubled ? 2 : 1));
            ASSERT_EQ(want.size(), size_t(w) * hh * 3);
            size_t bad = 0;
            for (uint32_t y = 0; y < hh; ++y)
                for (uint32_t x = 0; x < w; ++x) {
                    const testread::Rgb3& c = r.palette()[r.picture()[(doubled ? y / 2 : y) * w + x]];
                    const uint8_t* e = &want[(size_t(y) * w + x) * 3];
                    bad += c.r != e[0] || c.g != e[1] || c.b != e[2];
                }
            EXPECT_EQ(bad, 0u) << "frame " << i;
        }
        for (int t = 0; t < 7; ++t) {
            std::vector<uint8_t> wf = testread::ReadFile(kCorpus + "/" + name + ".expected/track_" +
                                                         std::to_string(t) + ".wav");
            if (wf.empty()) {
                EXPECT_TRUE(wav[t].empty()) << "track " << t;
                continue;
            }
            ASSERT_FALSE(wav[t].empty()) << "track " << t;
            EXPECT_TRUE(WavData(wf) == wav[t]) << "track " << t;
        }
    }
}

// The corpus content written again by the writer reads back the same:
// pictures, palettes after every frame, and every chunk's sound.
TEST(Corpus, WriterReproducesTheContentOfEveryMovie) {
    for (const char* name : kMovies) {
        SCOPED_TRACE(name);
        testread::Reader src;
        ASSERT_TRUE(src.Open(testread::ReadFile(kCorpus + "/" + name + ".qvl"))) << src.error();
        const testread::Header& h = src.header();
        Content in = ReadAll(src);

        qvw::MoviePlan plan;
        plan.width = h.width;
        plan.height = h.height;
        plan.frame_rate = h.frame_rate;
        plan.ring = h.flags & 1;
        plan.y_double = h.flags & 4;
        plan.y_interlace = h.flags & 2;
        for (uint32_t i = 0; i < h.frames; ++i) {
            qvw::FramePlan f;
            f.picture = in.pictures[i];
            if (in.palette_chunk[i]) {
                qvw::Palette p;
                for (int k = 0; k < 256; ++k) p[k] = {in.palettes[i][k].r, in.palettes[i][k].g, in.palettes[i][k].b};
                f.palette = p;
            }
            plan.frames.push_back(f);
        }
        for (int t = 0; t < 7; ++t) {
            const uint32_t fmt = h.track_format[t];
            if (!(fmt & qvw::kTrackExists)) continue;
            qvw::TrackPlan tr;
            tr.rate = fmt & 0xFFFFFF;
            tr.bits = (fmt & qvw::kTrack16Bit) ? 16 : 8;
            tr.channels = (fmt & qvw::kTrackStereo) ? 2 : 1;
            tr.compressed = fmt & qvw::kTrackCompressed;
            tr.frame_pcm = in.sound[t];
            plan.tracks[t] = tr;
        }
        std::vector<uint8_t> again = qvw::WriteMovie(plan);
        testread::Reader back;
        ASSERT_TRUE(back.Open(again)) << back.error();
        Content out = ReadAll(back);
        ASSERT_EQ(out.pictures.size(), in.pictures.size());
        for (uint32_t i = 0; i < h.frames; ++i) {
            EXPECT_TRUE(out.pictures[i] == in.pictures[i]) << "frame " << i;
            EXPECT_TRUE(out.palettes[i] == in.palettes[i]) << "frame " << i;
        }
        for (int t = 0; t < 7; ++t)
            for (uint32_t i = 0; i < h.frames; ++i) EXPECT_TRUE(out.sound[t][i] == in.sound[t][i]) << "track " << t << " frame " << i;
        EXPECT_EQ(back.header().sound_lead, h.sound_lead);
        EXPECT_EQ(back.header().frame_rate, h.frame_rate);
        EXPECT_EQ(back.header().flags & 7, h.flags & 7);
    }
}

}  // namespace
