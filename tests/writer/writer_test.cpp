// Movies made by the writer and by quarvmake (run as a program on PNG and
// WAV files made here), played back through the library: pictures,
// palettes, the ring frame, sound cut into chunks, lossy coding and the
// trees; quarvmake's errors, progress, demo and help.
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "tests/writer/writer_rig.h"
#include "writer/huffman.h"

namespace {

using wtest::Bytes;
using wtest::Play;
using wtest::Played;

qvw::MoviePlan Plan(uint32_t w, uint32_t h, uint32_t frames) {
    qvw::MoviePlan plan;
    return plan.width = w, plan.height = h, plan.frames.resize(frames), plan;
}
// Pixel i (0..15) of 4 x 4 block b of a w-pixel-wide picture.
uint8_t BlockPixel(const Bytes& p, uint32_t w, uint32_t b, uint32_t i) { return p[(b / (w / 4) * 4 + i / 4) * w + b % (w / 4) * 4 + i % 4]; }

// Pictures of every block kind (flat bands, two-colour stripes, few and many
// colours, parts left from the frame before) come back with their palettes
// as coded, whole blocks only (the columns and rows beyond stay 0), and as
// the writer said it shows them. The ring frame shows frame 0 again, so that
// frame 1 after it looks as the first time; a frame without a picture
// repeats the last one; the header carries the frame rate and the height
// flags, never both.
TEST(Writer, PicturesPalettesAndTheRingFrameComeBack) {
    const int cases[][7] = {{64, 48, 6, 0, 0, 0, -6666}, {322, 242, 4, 1, 1, 0, -4000}, {4, 4, 5, 0, 0, 1, 50}, {100, 20, 7, 1, 0, 0, 0}};
    for (const auto& c : cases) {  // width, height, frames, ring, doubled, interlaced, frame rate
        std::mt19937 rng(c[0] * 31 + c[1]);
        qvw::MoviePlan plan = Plan(c[0], c[1], c[2]);
        plan.ring = c[3], plan.y_double = c[4], plan.y_interlace = c[5], plan.frame_rate = c[6];
        for (int i = 0; i < c[2]; ++i) {
            for (int k = 0, x, y, zone; k < c[0] * c[1]; ++k) {
                x = k % c[0], y = k / c[0], zone = y * 4 / c[1];
                plan.frames[i].picture.push_back(i && x < c[0] / 2 && zone ? plan.frames[i - 1].picture[k] : zone == 0 ? uint8_t(x / 16 + i)
                                                 : zone == 1 ? uint8_t((x + y) / 3 % 2 * 9 + i) : zone == 2 ? uint8_t(rng() % 7) : uint8_t(rng()));
            }
            if (i == 0 || rng() % 3 == 0)
                for (qvw::Rgb& colour : plan.frames[i].palette.emplace()) colour = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
        }
        if (c[2] > 2) plan.frames[2].picture.clear();  // shows frame 1's picture again
        qvw::WriteReport rep;
        rep.keep_pictures = true;
        const Played p = Play(qvw::WriteMovie(plan, &rep));
        ASSERT_TRUE(p.opened);
        EXPECT_EQ(std::vector<int>({int(p.width), int(p.height), int(p.flags), p.frameRate}),
                  std::vector<int>({c[0], c[1], c[3] | c[5] << 1 | c[4] << 2, c[6]}));
        ASSERT_EQ(p.pictures.size(), size_t(c[2] + (c[3] ? 2 : 0)));
        Bytes palette;
        for (int i = 0; i < c[2]; ++i) {
            palette = plan.frames[i].palette ? wtest::Coded(*plan.frames[i].palette) : palette;
            EXPECT_TRUE(p.palettes[i] == palette && p.pictures[i] == rep.pictures[i]) << i;
            const Bytes& want = plan.frames[i].picture.empty() ? plan.frames[i - 1].picture : plan.frames[i].picture;
            for (int k = 0; k < c[0] * c[1]; ++k)
                ASSERT_EQ(p.pictures[i][k], k % c[0] < c[0] / 4 * 4 && k / c[0] < c[1] / 4 * 4 ? want[k] : 0) << i << " " << k;
        }
        for (int ring = 0; c[3] && ring < 2; ++ring)
            EXPECT_TRUE(p.pictures[c[2] + ring] == p.pictures[ring] && p.palettes[c[2] + ring] == p.palettes[ring]);
    }
    qvw::MoviePlan both = Plan(8, 8, 1);
    both.y_double = both.y_interlace = true;
    EXPECT_THROW(qvw::WriteMovie(both), std::invalid_argument);
}

// Lossy coding replaces a block only by a solid or two-colour one (or the
// previous picture) whose mean error stays within the threshold, and much
// smaller: in blocks of three colours whose first pixel is neither of the
// best two, each pixel takes the nearer of them.
TEST(Writer, LossyCodingStaysWithinTheThreshold) {
    qvw::MoviePlan plan = Plan(128, 96, 6);
    qvw::Palette three{};
    three[1] = {255, 255, 255}, three[2] = {250, 250, 250};  // black, white, near white
    for (uint32_t i = 0; i < 6; ++i) {
        plan.frames[i].palette = three;
        for (uint32_t k = 0, at; k < 128 * 96; ++k)  // near white first in each block, then black and white
            at = k / 128 % 4 * 4 + k % 4, plan.frames[i].picture.push_back(uint8_t(at ? (at + k % 128 / 4 + i) % 2 : 2));
    }
    const size_t exact = qvw::WriteMovie(plan).size();
    plan.lossy_threshold = 60;
    qvw::WriteReport rep;
    rep.keep_pictures = true;
    const Bytes lossy = qvw::WriteMovie(plan, &rep);
    EXPECT_LT(lossy.size() * 2, exact);
    const Played p = Play(lossy);
    const qvw::Palette coded = qvw::CodedPalette(three);
    for (uint32_t i = 0; i < 6; ++i) {
        EXPECT_TRUE(p.pictures[i] == rep.pictures[i]);
        for (uint32_t b = 0; b < 32 * 24; ++b) {
            double e = 0;
            for (uint32_t k = 0; k < 16; ++k) {
                const qvw::Rgb s = coded[BlockPixel(p.pictures[i], 128, b, k)], w = coded[BlockPixel(plan.frames[i].picture, 128, b, k)];
                e += (s.r - w.r) * (s.r - w.r) + (s.g - w.g) * (s.g - w.g) + (s.b - w.b) * (s.b - w.b);
            }
            ASSERT_LE(e / 16, plan.lossy_threshold) << "frame " << i << " block " << b;
        }
    }
}

// Palette chunks are the shortest command list and read back exactly; a
// palette unchanged after 6-bit coding gives no chunk unless forced; each
// component is stored as the nearest 6-bit value.
TEST(Writer, PaletteChunksAreShortestAndExact) {
    std::vector<qvw::Palette> seq(6);
    for (int i = 0; i < 256; ++i) seq[0][i] = {qvw::Widen6(i & 63), qvw::Widen6(uint8_t(8 + i / 64)), qvw::Widen6(9)};  // distinct
    seq[1] = seq[0], std::rotate(&seq[1][64], &seq[1][65], &seq[1][128]);
    seq[2] = seq[3] = seq[1], seq[2][100] = seq[3][100] = {qvw::Widen6(1), qvw::Widen6(2), qvw::Widen6(3)};
    seq[4][0] = {qvw::Widen6(5), qvw::Widen6(6), qvw::Widen6(7)}, std::copy(&seq[2][0], &seq[2][255], &seq[4][1]);  // all move up one
    seq[5] = seq[4], seq[5][1] = {254, 3, 66};  // not representable: the nearest 6-bit values
    qvw::MoviePlan plan = Plan(8, 8, 7);
    for (int i = 0; i < 6; ++i) plan.frames[i].palette = seq[i];
    plan.frames[3].force_palette_chunk = true;
    plan.frames[6].palette = qvw::CodedPalette(seq[5]);
    const Played p = Play(qvw::WriteMovie(plan));
    // 256 colours; keep 64, copy 63, copy 1, keep 128; keep 100, colour, keep 128, keep 27; keep 128 twice;
    // colour, four copies of 64 entries from one place lower; keep 1, colour, keep 128, keep 126; unchanged.
    const uint32_t sizes[] = {772, 8, 8, 4, 12, 8, 0};
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(p.paletteChunk[i] == sizes[i] && p.palettes[i] == wtest::Coded(seq[std::min(i, 5)])) << i;
    EXPECT_EQ(Bytes(&p.palettes[5][3], &p.palettes[5][6]), (Bytes{255, 4, 65}));
}

// Sound in every layout, raw and packed: frame 0 holds the lead (about a
// second, a multiple of 4 bytes), every later frame exactly the sample
// frames then due, the whole being the input and then silence; packed
// chunks are smaller and padded to 32-bit words. Impossible tracks are
// refused. (A ring movie's looping track is played with quarvmake below.)
TEST(Writer, SoundIsCutExactlyIntoChunks) {
    const uint32_t rate = 11025, frames = 20;
    for (int layout = 0; layout < 8; ++layout) {
        const int bits = layout & 1 ? 16 : 8, channels = layout & 2 ? 2 : 1, align = bits / 8 * channels;
        qvw::MoviePlan plan = Plan(8, 8, frames);
        qvw::TrackPlan& tr = plan.tracks[2].emplace();
        tr.rate = rate, tr.bits = bits, tr.channels = channels, tr.compressed = layout & 4;
        std::mt19937 rng(layout);
        for (int32_t i = 0, v[2] = {0, 0}; i < int32_t(rate) * 3 / 2 * channels; ++i) {  // a random walk
            const int32_t s = v[i % channels] += int32_t(rng() % 61) - 30;
            const Bytes sample = bits == 8 ? Bytes{uint8_t(0x80 + (s >> 4))} : Bytes{uint8_t(s * 8), uint8_t(s * 8 >> 8)};
            tr.pcm.insert(tr.pcm.end(), sample.begin(), sample.end());
        }
        const Played p = Play(qvw::WriteMovie(plan));
        ASSERT_TRUE(p.opened);
        const uint32_t lead = p.lead[2];
        EXPECT_EQ(p.format[2], rate | 0x40000000u | (channels == 2 ? 0x10000000u : 0) | (bits == 16 ? 0x20000000u : 0) |
                                   (tr.compressed ? 0x80000000u : 0));
        EXPECT_TRUE(lead % 4 == 0 && lead > rate * align * 9 / 10 && lead <= rate * align) << lead;
        Bytes whole;
        for (uint32_t k = 0; k < frames; ++k) {
            whole.insert(whole.end(), p.sound[2][k]->begin(), p.sound[2][k]->end());
            EXPECT_EQ(whole.size(), lead + uint64_t(k) * rate * 6666 / 100000 * align) << "layout " << layout << " after frame " << k;
            EXPECT_TRUE(k == 0 || (tr.compressed ? p.soundChunk[2][k] % 4 == 0 && p.soundChunk[2][k] < p.sound[2][k]->size()
                                                 : p.soundChunk[2][k] == p.sound[2][k]->size() + 4)) << layout << " " << k;
        }
        for (size_t i = 0; i < whole.size(); ++i) ASSERT_EQ(whole[i], i < tr.pcm.size() ? tr.pcm[i] : bits == 8 ? 0x80 : 0) << layout << " " << i;
    }
    const std::function<void(qvw::TrackPlan&, int32_t&)> mistakes[] = {
        [](qvw::TrackPlan&, int32_t& rate) { rate = 0; },            // no frame duration to cut the sound by
        [](qvw::TrackPlan& t, int32_t& rate) { t.rate = 0xFFFFFF, rate = 0x7FFFFFFF; }};  // chunks beyond any size
    for (const auto& mistake : mistakes) {
        qvw::MoviePlan bad = Plan(8, 8, 2);
        bad.tracks[0].emplace().pcm.assign(100, 0);
        mistake(*bad.tracks[0], bad.frame_rate);
        EXPECT_THROW(qvw::WriteMovie(bad), std::invalid_argument) << &mistake - mistakes;
    }
}

// Code lengths are optimal for the weights, complete and within the limit,
// heavier symbols never longer; prefix trees refuse overfull lengths. Given
// codes up to 32 bits long decode to the picture; overfull ones are refused.
TEST(Writer, HuffmanCodes) {
    EXPECT_EQ(qvw::HuffmanLengths({{7, 1}, {8, 1}, {9, 2}, {10, 4}}, 32), (std::vector<uint8_t>{3, 3, 2, 1}));
    std::vector<qvw::SymbolFreq> fib;  // Fibonacci weights make a chain 39 deep
    for (uint64_t i = 0, a = 1, b = 1; i < 40; ++i, b += a, a = b - a) fib.push_back({uint32_t(i), a});
    for (int limit : {38, 6, 12, 32, 63}) {  // first one level cut (a broken cut may never end on deeper ones)
        const std::vector<uint8_t> l = qvw::HuffmanLengths(fib, limit);
        double kraft = 0;
        for (uint8_t len : l) kraft += std::ldexp(1.0, -len);
        ASSERT_TRUE(kraft == 1.0 && std::is_sorted(l.rbegin(), l.rend()) && *std::max_element(l.begin(), l.end()) == std::min(limit, 39)) << limit;
    }
    qvw::PrefixTree t;
    std::vector<qvw::Code> codes;
    EXPECT_FALSE(t.Build({1, 1, 1}, &codes) || t.Build({0, 1}, &codes) || t.Build({33}, &codes));
    std::mt19937 rng(5);
    qvw::MoviePlan noise = Plan(16, 16, 1);  // 16 full blocks
    for (int i = 0; i < 256; ++i) noise.frames[0].picture.push_back(uint8_t(rng()));
    for (int len : {11, 20, 32}) {  // the one type value (full, 16 blocks) gets a long code, spare leaves fill the rest
        noise.trees[qvw::kTypeTree].code_lengths = {{1 | 15 << 2, len}};
        const Played p = Play(qvw::WriteMovie(noise));
        EXPECT_TRUE(p.opened && p.pictures[0] == noise.frames[0].picture) << len;
    }
    noise.trees[qvw::kTypeTree].code_lengths = {{3, 1}, {7, 1}, {11, 1}};
    EXPECT_THROW(qvw::WriteMovie(noise), std::invalid_argument);
}

class Quarvmake : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/quarvmake-test.XXXXXX";
        ASSERT_NE(dir_ = mkdtemp(pattern) ? pattern : "", "");
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    std::string Q(const std::string& name) const { return " '" + Path(name) + "'"; }
    // Runs the tool; the exit code, with stdout and stderr in out_ and err_.
    int Run(const std::string& args) {
        const int st = std::system((std::string(QUARVEL_BIN_DIR) + "/quarvmake " + args + " >" + Q("out") + " 2>" + Q("err")).c_str());
        const Bytes o = wtest::ReadFile(Path("out")), e = wtest::ReadFile(Path("err"));
        out_.assign(o.begin(), o.end()), err_.assign(e.begin(), e.end());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    wtest::Played Play(const std::string& name) const { return wtest::Play(wtest::ReadFile(Path(name))); }
    std::string dir_, out_, err_;
};

// Palette pictures of squares shifted by `shift`, widened 6-bit palettes, a tone.
template <class F>
Bytes Generate(size_t n, F f) {
    Bytes v(n);
    for (size_t i = 0; i < n; ++i) v[i] = uint8_t(f(uint32_t(i)));
    return v;
}
Bytes Squares(uint32_t w, uint32_t h, int shift) {
    return Generate(w * h, [=](uint32_t i) { return ((i % w + shift) / 8 + i / w / 8) % 2 ? 200 + (i % w + i / w) % 5 : 17; });
}
Bytes Colours(int seed) { return Generate(768, [=](uint32_t i) { return qvw::Widen6(uint8_t((i / 3 * 7 + i % 3 * 13 + seed) & 63)); }); }
Bytes Tone(size_t n) { return Generate(n, [](uint32_t i) { return 128 + 40 * std::sin(double(i) * 0.05); }); }

// Palette PNGs of a folder, taken in name order, keep their indices and
// colours exactly, a palette chunk only where a PNG's palette changes; WAV
// tracks (one with an odd-length chunk before its data, one ending in part
// of a sample frame) come back whole in their formats and track numbers.
// Raw sound stays raw, --frame-rate, --y-interlace and --y-double reach the
// header, and a ring movie loops its sound over the movie's length.
TEST_F(Quarvmake, PalettePngsAndWavTracksComeBackExactly) {
    ASSERT_EQ(mkdir(Path("frames").c_str(), 0755), 0);
    for (int i : {2, 0, 1, 3})  // written out of order
        wtest::WriteFile(Path("frames/f" + std::to_string(i) + ".png"), wtest::MakePng(64, 48, 3, Squares(64, 48, i * 4), Colours(i < 2 ? 1 : 5)));
    const Bytes mono8 = Tone(30000), stereo16 = Tone(150002);  // 2 bytes past the last whole sample frame
    wtest::WriteFile(Path("a.wav"), wtest::MakeWav(8000, 8, 1, mono8, 1, {'L', 'I', 'S', 'T', 'x', 'y', 'z'}));
    wtest::WriteFile(Path("b.wav"), wtest::MakeWav(22050, 16, 2, stereo16));
    ASSERT_EQ(Run("--fps 10 --y-double --audio" + Q("a.wav") + " --track 4 --audio" + Q("b.wav") + Q("m.qvl") + Q("frames")), 0) << err_;
    EXPECT_NE(out_.find("4 frames"), std::string::npos) << out_;
    wtest::Played p = Play("m.qvl");
    ASSERT_TRUE(p.opened);
    EXPECT_TRUE(p.frameRate == -10000 && p.flags == 4 && p.format[0] == (8000u | 0xC0000000u) && p.format[4] == (22050u | 0xF0000000u));
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(p.pictures[i] == Squares(64, 48, i * 4) && p.palettes[i] == Colours(i < 2 ? 1 : 5) && (p.paletteChunk[i] != 0) == (i % 2 == 0))
            << i;
    for (int t : {0, 4}) {
        Bytes got;
        for (int i = 0; i < 4; ++i) got.insert(got.end(), p.sound[t][i]->begin(), p.sound[t][i]->end());
        EXPECT_TRUE(got.size() <= stereo16.size() - 2 && std::equal(got.begin(), got.end(), (t ? stereo16 : mono8).begin())) << t;
    }
    ASSERT_EQ(Run("-q --ring --frame-rate 50 --raw-audio --track 3 --audio" + Q("a.wav") + " --y-interlace" + Q("r.qvl") + Q("frames")), 0) << err_;
    EXPECT_EQ(out_ + err_, "");
    p = Play("r.qvl");
    EXPECT_TRUE(p.frameRate == 50 && p.flags == 3 && p.format[3] == (8000u | 0x40000000u) && !p.format[0]);
    size_t at = 0;
    for (int i = 0; i < 6; ++i) {  // one loop is the 4 frames' worth (4 x 50 ms)
        EXPECT_EQ(p.soundChunk[3][i], p.sound[3][i]->size() + 4);
        for (uint8_t b : *p.sound[3][i]) ASSERT_EQ(b, mono8[at++ % (4 * 8000 / 20)]) << at;
    }
}

// Every mistake is one "quarvmake: " line on stderr with a non-zero exit,
// and leaves no file (an existing movie stays as it was).
TEST_F(Quarvmake, BadInputFailsWithOneLineAndLeavesNoFile) {
    const Bytes pal = Colours(0), good = wtest::MakePng(16, 16, 3, Squares(16, 16, 0), pal);
    const std::pair<const char*, Bytes> inputs[] = {
        {"a.png", good}, {"b.png", wtest::MakePng(32, 16, 3, Squares(32, 16, 0), pal)},
        {"odd.png", wtest::MakePng(30, 30, 3, Squares(30, 30, 0), pal)},
        {"junk.png", Bytes(100, 'x')}, {"cut.png", Bytes(good.begin(), good.end() - 30)}, {"s24.wav", wtest::MakeWav(8000, 24, 1, Bytes(300))},
        {"float.wav", wtest::MakeWav(8000, 16, 1, Bytes(300), 3)}, {"old.qvl", {'o', 'l', 'd'}}};
    for (const auto& [name, bytes] : inputs) wtest::WriteFile(Path(name), bytes);
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += " --audio x.wav";
    const std::pair<std::string, const char*> cases[] = {
        {Q("o.qvl") + Q("none.png"), "cannot open"}, {Q("o.qvl") + Q("junk.png"), "is not a PNG"}, {Q("o.qvl") + Q("cut.png"), "cannot read"},
        {Q("o.qvl") + Q("a.png") + Q("b.png"), "the first frame 16 x 16"}, {"--audio" + Q("s24.wav") + Q("o.qvl") + Q("a.png"), "24-bit"},
        {"--audio" + Q("float.wav") + Q("o.qvl") + Q("a.png"), "encoding 3"}, {"--y-double --y-interlace" + Q("o.qvl") + Q("a.png"), "not both"},
        {"--bogus" + Q("o.qvl") + Q("a.png"), "unknown option"}, {eight + Q("o.qvl") + Q("a.png"), "at most 7"},
        {Q("old.qvl") + Q("odd.png"), "not a multiple of 4"}};
    for (const auto& [args, message] : cases) {
        EXPECT_NE(Run(args), 0) << args;
        EXPECT_TRUE(err_.rfind("quarvmake: ", 0) == 0 && err_.find(message) != std::string::npos && std::count(err_.begin(), err_.end(), '\n') == 1)
            << args << ": " << err_;
        size_t files = 0;
        DIR* d = opendir(dir_.c_str());
        while (readdir(d)) ++files;
        closedir(d);
        EXPECT_EQ(files, 2u + 8 + 2) << args;  // ".", "..", the inputs, out and err
    }
    EXPECT_EQ(wtest::ReadFile(Path("old.qvl")), (Bytes{'o', 'l', 'd'}));
}

// Long runs report progress in a few lines; --demo writes the library's
// demo movie (15 seconds of 320 x 240 with music); --help explains every
// option.
TEST_F(Quarvmake, ProgressDemoAndHelp) {
    ASSERT_EQ(Run("--demo" + Q("demo.qvl")), 0) << err_;
    EXPECT_TRUE(err_.find("quarvmake: writing 225/225\n") != std::string::npos && std::count(err_.begin(), err_.end(), '\n') <= 15) << err_;
    const wtest::Played p = Play("demo.qvl");
    const qvw::MoviePlan plan = qvw::MakeDemoPlan();
    ASSERT_EQ(p.pictures.size(), 225u);
    EXPECT_TRUE(p.width == 320 && p.height == 240 && p.frameRate == -6666 && p.format[0] == (22050u | 0xF0000000u));
    for (uint32_t i = 0; i < 225; ++i)
        ASSERT_TRUE(p.pictures[i] == plan.frames[i].picture && p.palettes[i] == wtest::Coded(*plan.frames[i].palette)) << i;
    ASSERT_EQ(Run("--help"), 0);
    for (const char* option : {"usage: quarvmake", "--fps", "--frame-rate", "--audio", "--track", "--raw-audio", "--ring", "--quality", "--demo"})
        EXPECT_NE(out_.find(option), std::string::npos) << option;
}

}  // namespace
