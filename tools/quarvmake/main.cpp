// quarvmake: makes a movie from PNG frames and WAV sound tracks, or the
// built-in demo movie.
#include <dirent.h>
#include <libimagequant.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "png_read.h"
#include "wav_read.h"
#include "writer/writer.h"

namespace {

const char kUsage[] =
    "usage: quarvmake [options] OUT.qvl INPUT...\n"
    "       quarvmake --demo OUT.qvl\n"
    "       quarvmake --help\n"
    "\n"
    "Makes a movie from PNG frames (INPUT: PNG files, or one folder whose PNG\n"
    "files are taken in name order) and WAV sound tracks.\n"
    "\n"
    "  --fps N            frames per second (default 15): FrameRate = -(100000 / N)\n"
    "  --frame-rate R     the header FrameRate itself: > 0 milliseconds per frame,\n"
    "                     < 0 minus units of 10 microseconds, 0 no timing\n"
    "  --audio FILE.wav   a sound track (8/16-bit PCM, mono/stereo); each --audio\n"
    "                     takes the next track number from 0\n"
    "  --track T          the track number (0-6) for the next --audio\n"
    "  --raw-audio        store sound uncompressed (default: compressed)\n"
    "  --ring             add a ring frame that leads from the last frame back to frame 1\n"
    "  --y-double         mark the movie to be shown with every row doubled\n"
    "  --y-interlace      mark the movie to be shown interlaced to double height\n"
    "  --quality Q        lossy video, Q from 0 (smallest) to 100 (best); without it\n"
    "                     the pictures are coded exactly\n"
    "  --dither           dither truecolour frames when reducing them to 256 colours\n"
    "  --demo             write the built-in 320 x 240 demo movie with music\n"
    "  -q, --quiet        no progress or summary lines\n"
    "\n"
    "Palette PNGs keep their colour indices exactly; a palette change between\n"
    "frames is stored as a palette chunk. Truecolour and grey frames are reduced\n"
    "to one 256-colour palette for the whole movie. Frame sizes must be equal and\n"
    "multiples of 4.\n";

struct Options {
    bool demo = false, ring = false, y_double = false, y_interlace = false;
    bool raw_audio = false, dither = false, quiet = false;
    bool have_fps = false, have_rate = false;
    uint32_t fps = 15;
    int32_t frame_rate = 0;
    int quality = -1;
    std::vector<std::pair<int, std::string>> audio;  // (track, file)
    std::string out;
    std::vector<std::string> inputs;
};

[[noreturn]] void Fail(const std::string& msg, int code = 1) {
    std::fprintf(stderr, "quarvmake: %s\n", msg.c_str());
    std::exit(code);
}

bool ParseInt(const char* s, long lo, long hi, long* v) {
    char* end = nullptr;
    errno = 0;
    long x = std::strtol(s, &end, 10);
    if (errno || end == s || *end || x < lo || x > hi) return false;
    *v = x;
    return true;
}

Options ParseArgs(int argc, char** argv) {
    Options o;
    int next_track = 0;
    int pending_track = -1;
    std::vector<bool> used(qvw::kMaxTracks, false);
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) Fail("option " + a + " needs a value (see --help)", 2);
            return argv[++i];
        };
        long v = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "--demo") {
            o.demo = true;
        } else if (a == "--fps") {
            if (!ParseInt(value(), 1, 100000, &v)) Fail("--fps needs a whole number from 1 to 100000", 2);
            o.fps = static_cast<uint32_t>(v);
            o.have_fps = true;
        } else if (a == "--frame-rate") {
            if (!ParseInt(value(), -2147483647L, 2147483647L, &v)) Fail("--frame-rate needs a whole number", 2);
            o.frame_rate = static_cast<int32_t>(v);
            o.have_rate = true;
        } else if (a == "--track") {
            if (!ParseInt(value(), 0, qvw::kMaxTracks - 1, &v)) Fail("--track needs a number from 0 to 6", 2);
            pending_track = static_cast<int>(v);
        } else if (a == "--audio") {
            const char* file = value();
            int t = pending_track >= 0 ? pending_track : next_track;
            while (pending_track < 0 && t < qvw::kMaxTracks && used[t]) ++t;
            if (t >= qvw::kMaxTracks) Fail("at most 7 sound tracks", 2);
            if (used[t]) Fail("sound track " + std::to_string(t) + " given twice", 2);
            used[t] = true;
            o.audio.emplace_back(t, file);
            next_track = t + 1;
            pending_track = -1;
        } else if (a == "--raw-audio") {
            o.raw_audio = true;
        } else if (a == "--ring") {
            o.ring = true;
        } else if (a == "--y-double") {
            o.y_double = true;
        } else if (a == "--y-interlace") {
            o.y_interlace = true;
        } else if (a == "--quality") {
            if (!ParseInt(value(), 0, 100, &v)) Fail("--quality needs a number from 0 to 100", 2);
            o.quality = static_cast<int>(v);
        } else if (a == "--dither") {
            o.dither = true;
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            Fail("unknown option " + a + " (see --help)", 2);
        } else if (o.out.empty()) {
            o.out = a;
        } else {
            o.inputs.push_back(a);
        }
    }
    if (pending_track >= 0) Fail("--track must come before an --audio", 2);
    if (o.out.empty()) Fail("no output file given (see --help)", 2);
    if (o.have_fps && o.have_rate) Fail("give --fps or --frame-rate, not both", 2);
    if (o.y_double && o.y_interlace) Fail("give --y-double or --y-interlace, not both", 2);
    if (o.demo && (!o.inputs.empty() || !o.audio.empty())) Fail("--demo takes no frames or sound", 2);
    if (!o.demo && o.inputs.empty()) Fail("no input frames given (see --help)", 2);
    return o;
}

bool IsDir(const std::string& p) {
    struct stat st;
    return stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HasPngName(const std::string& n) {
    if (n.size() < 5) return false;
    std::string ext = n.substr(n.size() - 4);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    return ext == ".png";
}

std::vector<std::string> FrameFiles(const std::vector<std::string>& inputs) {
    if (inputs.size() == 1 && IsDir(inputs[0])) {
        std::vector<std::string> names;
        DIR* d = opendir(inputs[0].c_str());
        if (!d) Fail("cannot read folder " + inputs[0] + ": " + std::strerror(errno));
        while (dirent* e = readdir(d))
            if (HasPngName(e->d_name)) names.push_back(e->d_name);
        closedir(d);
        std::sort(names.begin(), names.end());
        if (names.empty()) Fail("no PNG files in " + inputs[0]);
        for (std::string& n : names) n = inputs[0] + "/" + n;
        return names;
    }
    for (const std::string& p : inputs)
        if (IsDir(p)) Fail("give one folder, or PNG files: " + p + " is a folder");
    return inputs;
}

// A progress line on stderr for long runs: rewritten in place on a
// terminal, otherwise one line per quarter.
class Progress {
public:
    Progress(bool quiet, uint32_t total) : on_(!quiet && total >= 50), tty_(isatty(2)), total_(total) {}
    void Step(const char* what, uint32_t done) {
        if (!on_) return;
        if (tty_) {
            std::fprintf(stderr, "\rquarvmake: %s %u/%u", what, done, total_);
            if (done == total_) std::fputc('\n', stderr);
        } else if (done == total_ || done * 4 / total_ != (done - 1) * 4 / total_) {
            std::fprintf(stderr, "quarvmake: %s %u/%u\n", what, done, total_);
        }
        std::fflush(stderr);
    }

private:
    bool on_, tty_;
    uint32_t total_;
};

struct LiqDeleter {
    void operator()(liq_attr* p) const { liq_attr_destroy(p); }
    void operator()(liq_histogram* p) const { liq_histogram_destroy(p); }
    void operator()(liq_result* p) const { liq_result_destroy(p); }
    void operator()(liq_image* p) const { liq_image_destroy(p); }
};
template <typename T>
using LiqPtr = std::unique_ptr<T, LiqDeleter>;

void ReadFrame(const std::string& path, bool rgba, PngFrame* f, uint32_t w, uint32_t h) {
    std::string err;
    if (!ReadPng(path, rgba, f, &err)) Fail(err);
    if (f->width != w || f->height != h)
        Fail(path + " is " + std::to_string(f->width) + " x " + std::to_string(f->height) +
             ", the first frame " + std::to_string(w) + " x " + std::to_string(h));
    if (rgba)  // alpha is not part of the format
        for (size_t i = 3; i < f->pixels.size(); i += 4) f->pixels[i] = 255;
}

// Reduces truecolour frames to one palette for the whole movie, reading
// every frame twice (histogram, then remapping) so that only the 8-bit
// pictures stay in memory.
void Quantise(const std::vector<std::string>& files, const Options& o, uint32_t w, uint32_t h,
              qvw::MoviePlan* plan) {
    LiqPtr<liq_attr> attr(liq_attr_create());
    if (!attr) Fail("cannot start colour reduction");
    liq_set_max_colors(attr.get(), 256);
    liq_set_min_posterization(attr.get(), 2);  // palette components are stored with 6 bits
    LiqPtr<liq_histogram> hist(liq_histogram_create(attr.get()));
    Progress prog(o.quiet, static_cast<uint32_t>(files.size()));
    PngFrame f;
    for (size_t i = 0; i < files.size(); ++i) {
        ReadFrame(files[i], true, &f, w, h);
        LiqPtr<liq_image> img(liq_image_create_rgba(attr.get(), f.pixels.data(), w, h, 0));
        if (!img || liq_histogram_add_image(hist.get(), attr.get(), img.get()) != LIQ_OK)
            Fail("colour reduction failed on " + files[i]);
        prog.Step("reading colours", static_cast<uint32_t>(i + 1));
    }
    liq_result* raw = nullptr;
    if (liq_histogram_quantize(hist.get(), attr.get(), &raw) != LIQ_OK) Fail("colour reduction failed");
    LiqPtr<liq_result> result(raw);
    liq_set_dithering_level(result.get(), o.dither ? 1.0f : 0.0f);
    for (size_t i = 0; i < files.size(); ++i) {
        ReadFrame(files[i], true, &f, w, h);
        LiqPtr<liq_image> img(liq_image_create_rgba(attr.get(), f.pixels.data(), w, h, 0));
        qvw::FramePlan fs;
        fs.picture.resize(size_t(w) * h);
        if (!img || liq_write_remapped_image(result.get(), img.get(), fs.picture.data(), fs.picture.size()) != LIQ_OK)
            Fail("colour reduction failed on " + files[i]);
        // Remapping may refine the palette; each frame carries the one its
        // indices refer to (unchanged entries cost nothing).
        const liq_palette* lp = liq_get_palette(result.get());
        qvw::Palette pal{};
        for (unsigned k = 0; k < lp->count && k < 256; ++k) pal[k] = {lp->entries[k].r, lp->entries[k].g, lp->entries[k].b};
        fs.palette = pal;
        plan->frames.push_back(std::move(fs));
        prog.Step("reducing colours", static_cast<uint32_t>(i + 1));
    }
}

void LoadFrames(const Options& o, qvw::MoviePlan* plan) {
    const std::vector<std::string> files = FrameFiles(o.inputs);
    PngFrame first;
    std::string err;
    bool all_indexed = true;
    for (const std::string& p : files) {
        PngFrame f;
        if (!PeekPng(p, &f, &err)) Fail(err);
        if (&p == &files[0]) first = f;
        if (f.width != first.width || f.height != first.height)
            Fail(p + " is " + std::to_string(f.width) + " x " + std::to_string(f.height) + ", the first frame " +
                 std::to_string(first.width) + " x " + std::to_string(first.height));
        all_indexed = all_indexed && f.indexed;
    }
    const uint32_t w = first.width, h = first.height;
    if (w % 4 || h % 4 || w < 4 || h < 4)
        Fail("frame size " + std::to_string(w) + " x " + std::to_string(h) + " is not a multiple of 4");
    plan->width = w;
    plan->height = h;
    if (!all_indexed) return Quantise(files, o, w, h, plan);
    Progress prog(o.quiet, static_cast<uint32_t>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        PngFrame f;
        ReadFrame(files[i], false, &f, w, h);
        qvw::FramePlan fs;
        fs.picture = std::move(f.pixels);
        fs.palette = f.palette;  // unchanged palettes give no chunk
        plan->frames.push_back(std::move(fs));
        prog.Step("reading", static_cast<uint32_t>(i + 1));
    }
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseArgs(argc, argv);
    qvw::MoviePlan plan;
    if (o.demo) {
        plan = qvw::MakeDemoPlan();
    } else {
        LoadFrames(o, &plan);
        plan.frame_rate = o.have_rate ? o.frame_rate : qvw::FrameRateForFps(o.fps);
        for (const auto& [track, file] : o.audio) {
            WavSound wav;
            std::string err;
            if (!ReadWav(file, &wav, &err)) Fail(err);
            qvw::TrackPlan tr;
            tr.rate = wav.rate;
            tr.bits = wav.bits;
            tr.channels = wav.channels;
            tr.compressed = !o.raw_audio;
            tr.pcm = std::move(wav.pcm);
            plan.tracks[track] = std::move(tr);
        }
        if (!o.audio.empty() && plan.frame_rate == 0) Fail("a movie with sound needs a frame rate");
    }
    plan.ring = o.ring;
    plan.y_double = o.y_double;
    plan.y_interlace = o.y_interlace;
    if (o.quality >= 0) {
        // Allowed mean squared error per pixel (R + G + B): at quality Q the
        // error per component may reach about 0.3 x (101 - Q) levels.
        const double per_component = 0.3 * (101 - o.quality);
        plan.lossy_threshold = 3 * per_component * per_component;
    }
    Progress prog(o.quiet, static_cast<uint32_t>(plan.frames.size() + (plan.ring ? 1 : 0)));
    plan.progress = [&prog](int pass, uint32_t done, uint32_t) { prog.Step(pass ? "writing" : "coding", done); };

    qvw::WriteReport rep;
    std::string err;
    if (!qvw::WriteMovieFile(plan, o.out, &err, &rep)) Fail(err);
    if (!o.quiet) {
        uint64_t size = rep.first_record_offset;
        for (uint32_t s : rep.frame_sizes) size += s;
        std::printf("quarvmake: wrote %s: %u x %u, %zu frames%s, %d sound track%s, %llu bytes\n", o.out.c_str(),
                    plan.width, plan.height, plan.frames.size(), plan.ring ? " + ring frame" : "",
                    static_cast<int>(o.demo ? 1 : o.audio.size()), (o.demo ? 1 : o.audio.size()) == 1 ? "" : "s",
                    static_cast<unsigned long long>(size));
    }
    return 0;
}
