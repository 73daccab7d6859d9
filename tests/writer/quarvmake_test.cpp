// The quarvmake tool, run as a program on PNG and WAV files the tests make.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>

#include "tests/writer/helpers.h"
#include "tests/writer/png_write.h"

namespace {

const std::string kTool = std::string(QUARVEL_BIN_DIR) + "/quarvmake";

struct ToolRun {
    int code = -1;
    std::string out, err;
};

std::string Slurp(const std::string& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class Quarvmake : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access(kTool.c_str(), X_OK), 0) << kTool << " is missing: build the quarvmake target";
        char tmpl[] = "/tmp/quarvmake_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    ToolRun Exec(const std::string& args) const {
        ToolRun r;
        const std::string cmd = kTool + " " + args + " >'" + Path("stdout.txt") + "' 2>'" + Path("stderr.txt") + "'";
        int st = std::system(cmd.c_str());
        r.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
        r.out = Slurp(Path("stdout.txt"));
        r.err = Slurp(Path("stderr.txt"));
        return r;
    }
    // Files in the folder other than the ones the test wrote.
    std::vector<std::string> Leftovers(const std::vector<std::string>& expected) const {
        std::vector<std::string> extra;
        DIR* d = opendir(dir_.c_str());
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n == "." || n == ".." || n == "stdout.txt" || n == "stderr.txt") continue;
            if (std::find(expected.begin(), expected.end(), n) == expected.end()) extra.push_back(n);
        }
        closedir(d);
        return extra;
    }
    std::string dir_;
};

std::vector<uint8_t> PalettePicture(uint32_t w, uint32_t h, int shift) {
    std::vector<uint8_t> p(size_t(w) * h);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            p[y * w + x] = static_cast<uint8_t>(((x + shift) / 8 + y / 8) % 2 ? 200 + (x + y) % 5 : 17);
    return p;
}

std::vector<uint8_t> PaletteBytes(int seed) {
    std::vector<uint8_t> v;
    for (int i = 0; i < 256; ++i)
        for (int c = 0; c < 3; ++c) v.push_back(static_cast<uint8_t>(qvw::Widen6(static_cast<uint8_t>((i * 7 + c * 13 + seed) & 63))));
    return v;
}

qvw::Palette ToPalette(const std::vector<uint8_t>& bytes) {
    qvw::Palette p{};
    for (int i = 0; i < 256; ++i) p[i] = {bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]};
    return p;
}

std::vector<uint8_t> Tone(size_t bytes, uint32_t seed) {
    std::vector<uint8_t> v(bytes);
    for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<uint8_t>(128 + 40 * std::sin(double(i + seed) * 0.05));
    return v;
}

TEST_F(Quarvmake, IndexedFramesFromAFolderWithTwoTracksComeBackExactly) {
    const uint32_t w = 64, h = 48;
    const std::vector<uint8_t> pal = PaletteBytes(1);
    ASSERT_EQ(mkdir(Path("frames").c_str(), 0755), 0);
    // Written out of order: the folder is taken in name order.
    const char* names[] = {"f02.png", "f00.png", "f01.png"};
    const int order[] = {2, 0, 1};
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(wtest::WriteAll(Path("frames/") + names[i], wtest::MakePng(w, h, 3, PalettePicture(w, h, order[i] * 4), pal)));
    const std::vector<uint8_t> mono8 = Tone(30000, 0), stereo16 = Tone(150000, 7);
    ASSERT_TRUE(wtest::WriteAll(Path("a.wav"), wtest::MakeWav(8000, 8, 1, mono8)));
    ASSERT_TRUE(wtest::WriteAll(Path("b.wav"), wtest::MakeWav(22050, 16, 2, stereo16)));
    ToolRun r = Exec("--fps 10 --y-double --audio '" + Path("a.wav") + "' --audio '" + Path("b.wav") + "' '" +
                 Path("out.qvl") + "' '" + Path("frames") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("3 frames"), std::string::npos) << r.out;

    wtest::Decoded d;
    wtest::DecodeAll(testread::ReadFile(Path("out.qvl")), &d);
    ASSERT_TRUE(d.ok) << d.error;
    const testread::Header& hd = d.reader.header();
    EXPECT_EQ(hd.frames, 3u);
    EXPECT_EQ(hd.frame_rate, -10000);
    EXPECT_EQ(hd.flags, 0x4u);
    EXPECT_EQ(hd.track_format[0], 8000u | 0x40000000u | 0x80000000u);
    EXPECT_EQ(hd.track_format[1], 22050u | 0x10000000u | 0x20000000u | 0x40000000u | 0x80000000u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(d.pictures[i], PalettePicture(w, h, i * 4)) << i;
        EXPECT_TRUE(wtest::SamePalette(d.palettes[i], ToPalette(pal))) << i;
        EXPECT_EQ(d.frames[i].has_palette, i == 0) << i;
    }
    for (int t = 0; t < 2; ++t) {
        const std::vector<uint8_t>& wav = t == 0 ? mono8 : stereo16;
        std::vector<uint8_t> got;
        for (int i = 0; i < 3; ++i) got.insert(got.end(), d.frames[i].sound[t].begin(), d.frames[i].sound[t].end());
        ASSERT_LE(got.size(), wav.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), wav.begin())) << "track " << t;
    }
}

TEST_F(Quarvmake, PaletteChangesRawSoundRateAndTrackNumbers) {
    const uint32_t w = 16, h = 16;
    const std::vector<uint8_t> p1 = PaletteBytes(1), p2 = PaletteBytes(5);
    std::string files;
    for (int i = 0; i < 4; ++i) {
        std::string n = Path("x" + std::to_string(i) + ".png");
        ASSERT_TRUE(wtest::WriteAll(n, wtest::MakePng(w, h, 3, PalettePicture(w, h, i), i < 2 ? p1 : p2)));
        files += " '" + n + "'";
    }
    const std::vector<uint8_t> pcm = Tone(5000, 3);
    ASSERT_TRUE(wtest::WriteAll(Path("s.wav"), wtest::MakeWav(11025, 8, 1, pcm)));
    ToolRun r = Exec("-q --ring --frame-rate 50 --raw-audio --track 3 --audio '" + Path("s.wav") + "' --y-interlace '" +
                 Path("m.qvl") + "'" + files);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    wtest::Decoded d;
    wtest::DecodeAll(testread::ReadFile(Path("m.qvl")), &d);
    ASSERT_TRUE(d.ok) << d.error;
    EXPECT_EQ(d.reader.header().frame_rate, 50);
    EXPECT_EQ(d.reader.header().flags, 0x3u);
    EXPECT_EQ(d.reader.header().track_format[3], 11025u | 0x40000000u);
    EXPECT_EQ(d.reader.header().track_format[0], 0u);
    const bool chunk[] = {true, false, true, false};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(d.frames[i].has_palette, chunk[i]) << i;
        EXPECT_TRUE(wtest::SamePalette(d.palettes[i], ToPalette(i < 2 ? p1 : p2))) << i;
        EXPECT_EQ(d.pictures[i], PalettePicture(w, h, i));
        EXPECT_EQ(d.frames[i].sound_chunk_size[3], d.frames[i].sound[3].size() + 4);  // raw
    }
    // A ring movie loops its sound: one loop is the 4 frames' worth (4 x 50 ms).
    const size_t loop = 4 * 11025 / 20;
    std::vector<uint8_t> got;
    for (const auto& f : d.frames) got.insert(got.end(), f.sound[3].begin(), f.sound[3].end());
    ASSERT_EQ(d.frames.size(), 5u);
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], pcm[i % loop]) << i;
}

TEST_F(Quarvmake, TruecolourFramesAreReducedAndQualityMakesThemSmaller) {
    const uint32_t w = 64, h = 64;
    // Few colours: they survive reduction up to the 6-bit palette steps.
    const uint8_t colours[5][3] = {{255, 0, 0}, {0, 128, 255}, {20, 20, 20}, {250, 250, 200}, {90, 200, 40}};
    std::vector<uint8_t> rgb(w * h * 3);
    std::vector<int> which(w * h);
    for (uint32_t i = 0; i < w * h; ++i) {
        which[i] = static_cast<int>((i / 7 + i / w) % 5);
        std::copy(colours[which[i]], colours[which[i]] + 3, rgb.begin() + 3 * i);
    }
    ASSERT_TRUE(wtest::WriteAll(Path("c.png"), wtest::MakePng(w, h, 2, rgb)));
    ToolRun r = Exec("'" + Path("c.qvl") + "' '" + Path("c.png") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    wtest::Decoded d;
    wtest::DecodeAll(testread::ReadFile(Path("c.qvl")), &d);
    ASSERT_TRUE(d.ok) << d.error;
    for (uint32_t i = 0; i < w * h; ++i) {
        const testread::Rgb3 c = d.palettes[0][d.pictures[0][i]];
        ASSERT_LE(std::abs(c.r - colours[which[i]][0]) + std::abs(c.g - colours[which[i]][1]) +
                      std::abs(c.b - colours[which[i]][2]), 12) << i;
    }

    // Noisy footage: lossy coding must pay off.
    std::mt19937 rng(4);
    std::string files;
    for (int f = 0; f < 4; ++f) {
        std::vector<uint8_t> px(w * h * 3);
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c)
                    px[(y * w + x) * 3 + c] = static_cast<uint8_t>(std::min<uint32_t>(255, x * 3 + y * c + f * 2 + rng() % 8));
        std::string n = Path("n" + std::to_string(f) + ".png");
        ASSERT_TRUE(wtest::WriteAll(n, wtest::MakePng(w, h, 2, px)));
        files += " '" + n + "'";
    }
    ASSERT_EQ(Exec("-q '" + Path("exact.qvl") + "'" + files).code, 0);
    ASSERT_EQ(Exec("-q --quality 40 '" + Path("lossy.qvl") + "'" + files).code, 0);
    ASSERT_EQ(Exec("-q --dither --quality 40 '" + Path("dither.qvl") + "'" + files).code, 0);
    const size_t exact = testread::ReadFile(Path("exact.qvl")).size(), lossy = testread::ReadFile(Path("lossy.qvl")).size();
    EXPECT_LT(lossy * 3, exact * 2) << exact << " " << lossy;
    for (const char* n : {"exact.qvl", "lossy.qvl", "dither.qvl"}) {
        wtest::Decoded e;
        wtest::DecodeAll(testread::ReadFile(Path(n)), &e);
        EXPECT_TRUE(e.ok) << n << ": " << e.error;
        EXPECT_EQ(e.frames.size(), 4u);
    }
}

TEST_F(Quarvmake, BadInputFailsWithOneLineAndLeavesNoFile) {
    const std::vector<uint8_t> pal = PaletteBytes(0);
    ASSERT_TRUE(wtest::WriteAll(Path("a.png"), wtest::MakePng(16, 16, 3, PalettePicture(16, 16, 0), pal)));
    ASSERT_TRUE(wtest::WriteAll(Path("b.png"), wtest::MakePng(32, 16, 3, PalettePicture(32, 16, 0), pal)));
    ASSERT_TRUE(wtest::WriteAll(Path("odd.png"), wtest::MakePng(30, 30, 3, PalettePicture(30, 30, 0), pal)));
    ASSERT_TRUE(wtest::WriteAll(Path("junk.png"), std::vector<uint8_t>(100, 'x')));
    std::vector<uint8_t> cut = wtest::MakePng(16, 16, 3, PalettePicture(16, 16, 0), pal);
    cut.resize(cut.size() - 30);
    ASSERT_TRUE(wtest::WriteAll(Path("cut.png"), cut));
    ASSERT_TRUE(wtest::WriteAll(Path("s24.wav"), wtest::MakeWav(8000, 24, 1, std::vector<uint8_t>(300))));
    ASSERT_TRUE(wtest::WriteAll(Path("float.wav"), wtest::MakeWav(8000, 16, 1, std::vector<uint8_t>(300), 3)));
    ASSERT_TRUE(wtest::WriteAll(Path("old.qvl"), {'o', 'l', 'd'}));
    const std::vector<std::string> mine = {"a.png", "b.png", "odd.png", "junk.png", "cut.png", "s24.wav", "float.wav", "old.qvl"};
    const std::string a = " '" + Path("a.png") + "'";
    struct Case { std::string args, message; };
    const std::vector<Case> cases = {
        {"'" + Path("o.qvl") + "' '" + Path("none.png") + "'", "cannot open"},
        {"'" + Path("o.qvl") + "' '" + Path("junk.png") + "'", "is not a PNG"},
        {"'" + Path("o.qvl") + "' '" + Path("cut.png") + "'", "cannot read"},
        {"'" + Path("o.qvl") + "'" + a + " '" + Path("b.png") + "'", "the first frame 16 x 16"},
        {"'" + Path("o.qvl") + "' '" + Path("odd.png") + "'", "not a multiple of 4"},
        {"--audio '" + Path("s24.wav") + "' '" + Path("o.qvl") + "'" + a, "24-bit"},
        {"--audio '" + Path("float.wav") + "' '" + Path("o.qvl") + "'" + a, "encoding 3"},
        {"--audio '" + Path("nope.wav") + "' '" + Path("o.qvl") + "'" + a, "cannot open"},
        {"--bogus '" + Path("o.qvl") + "'" + a, "unknown option"},
        {"--y-double --y-interlace '" + Path("o.qvl") + "'" + a, "not both"},
        {"--fps 0 '" + Path("o.qvl") + "'" + a, "--fps"},
        {"'" + Path("o.qvl") + "'", "no input frames"},
        // A failed write leaves an existing movie as it was.
        {"'" + Path("old.qvl") + "' '" + Path("odd.png") + "'", "not a multiple of 4"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        ToolRun r = Exec(c.args);
        EXPECT_NE(r.code, 0);
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("quarvmake: ", 0), 0u) << r.err;
        EXPECT_EQ(Leftovers(mine), std::vector<std::string>{});
    }
    EXPECT_EQ(Slurp(Path("old.qvl")), "old");
    std::string eight;
    for (int i = 0; i < 8; ++i) eight += " --audio x.wav";
    EXPECT_NE(Exec(eight + " o.qvl a.png").err.find("at most 7"), std::string::npos);
}

TEST_F(Quarvmake, LongRunsReportProgressUnlessQuiet) {
    const std::vector<uint8_t> pal = PaletteBytes(2);
    ASSERT_EQ(mkdir(Path("many").c_str(), 0755), 0);
    for (int i = 0; i < 60; ++i) {
        char n[32];
        std::snprintf(n, sizeof n, "many/%03d.png", i);
        ASSERT_TRUE(wtest::WriteAll(Path(n), wtest::MakePng(8, 8, 3, PalettePicture(8, 8, i), pal)));
    }
    ToolRun r = Exec("'" + Path("m.qvl") + "' '" + Path("many") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("quarvmake: reading 60/60\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("quarvmake: writing 60/60\n"), std::string::npos) << r.err;
    EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 15) << r.err;  // a few lines, not one per frame
    ToolRun quiet = Exec("-q '" + Path("m.qvl") + "' '" + Path("many") + "'");
    ASSERT_EQ(quiet.code, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_EQ(quiet.out, "");
}

TEST_F(Quarvmake, DemoIsTheLibraryDemoAndHelpExplainsTheOptions) {
    ToolRun r = Exec("--demo '" + Path("demo.qvl") + "'");
    ASSERT_EQ(r.code, 0) << r.err;
    const std::vector<uint8_t> file = testread::ReadFile(Path("demo.qvl"));
    const qvw::MoviePlan plan = qvw::MakeDemoPlan();
    EXPECT_TRUE(file == qvw::WriteMovie(plan));
    wtest::Decoded d;
    wtest::DecodeAll(file, &d);
    ASSERT_TRUE(d.ok) << d.error;
    const testread::Header& h = d.reader.header();
    EXPECT_EQ(h.width, 320u);
    EXPECT_EQ(h.height, 240u);
    EXPECT_EQ(h.frames, 225u);  // 15 seconds at 15 frames per second
    EXPECT_EQ(h.frame_rate, -6666);
    for (uint32_t i = 0; i < h.frames; ++i) ASSERT_EQ(d.pictures[i], plan.frames[i].picture) << i;

    ToolRun help = Exec("--help");
    EXPECT_EQ(help.code, 0);
    for (const char* opt : {"usage: quarvmake", "--fps", "--frame-rate", "--audio", "--raw-audio", "--ring",
                            "--y-double", "--y-interlace", "--quality", "--dither", "--demo"})
        EXPECT_NE(help.out.find(opt), std::string::npos) << opt;
}

}  // namespace
