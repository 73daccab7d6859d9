// Makes test movies with sound, and measures how a player played them from
// what a real-time sound device recorded.
//
//   soundmovie write OUT.qvl OUT.pcm RATE BITS CHANNELS raw|packed FRAMES [FPS [LEAD [SHAPE]]]
//     A small movie with one sound track (LEAD bytes in frame 0, -1 or none:
//     about a second), and next to it the track's sound as the movie carries
//     it (every chunk unpacked, in order). The sound is a rising sweep on the
//     left, a falling one on the right, both under noise: nothing repeats,
//     and no sample frame is silence, so added silence always shows. The
//     pictures use every block kind, with new colours every other frame.
//     SHAPE (also the fuzz seeds'): ring, ydouble, yinterlace, twotracks
//     (the sound again in track 6, the other way packed), or WxH: pictures
//     of that size (else 32 x 16). RATE 0: no sound at all.
//
//   soundmovie measure TRACK.pcm|TRACK.wav RATE-CHANNELS-BITS FPS REC.wav [REC.log CAPTIONS]
//     (a WAV track, e.g. quarvdump's, brings its own format). Aligns the
//     recording with the track: exactly where the device kept the track's
//     rate, by windowed correlation where it resampled. Prints how it was
//     aligned, one line per event (silence inserted, sound dropped, repeated
//     or different, and where), and last the figures as NAME=VALUE: with the
//     device's log (tests/support/sound_device.py) and the player's timed
//     captions ("SECONDS ... Frame: N" lines) also the frame rate, how far
//     each shown frame was ahead of the sound heard at that moment (less
//     the device's own buffer), and the shown frames' sound lost at the end.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "writer/writer.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: soundmovie write OUT.qvl OUT.pcm RATE BITS CHANNELS raw|packed FRAMES [FPS [LEAD [SHAPE]]]\n"
                 "       soundmovie measure TRACK.pcm RATE-CHANNELS-BITS FPS REC.wav [REC.log CAPTIONS]\n");
    return 2;
}

bool ReadFile(const char* path, std::vector<uint8_t>* out) {
    std::ifstream f(path, std::ios::binary);
    out->assign(std::istreambuf_iterator<char>(f), {});
    return f.good() || f.eof();
}

// Samples as fractions of full scale, interleaved.
struct Sound {
    double rate = 0;
    int channels = 1;
    std::vector<float> s;
    size_t Frames() const { return s.size() / channels; }
    float At(size_t i, int c) const { return s[i * channels + std::min(c, channels - 1)]; }
    bool Silent(size_t i) const {
        for (int c = 0; c < channels; c++)
            if (s[i * channels + c] != 0.0f) return false;
        return true;
    }
};

void Decode(const uint8_t* p, size_t bytes, int bits, bool isFloat, Sound* out) {
    for (size_t i = 0; i + bits / 8 <= bytes; i += bits / 8) {
        if (bits == 8) {
            out->s.push_back((p[i] - 128) / 128.0f);
        } else if (bits == 16) {
            out->s.push_back(static_cast<int16_t>(p[i] | p[i + 1] << 8) / 32768.0f);
        } else if (isFloat) {
            float v;
            std::memcpy(&v, p + i, 4);
            out->s.push_back(v);
        } else {
            int32_t v;
            std::memcpy(&v, p + i, 4);
            out->s.push_back(static_cast<float>(v / 2147483648.0));
        }
    }
}

bool ReadWav(const char* path, Sound* out, std::string* error) {
    std::vector<uint8_t> f;
    if (!ReadFile(path, &f) || f.size() < 12 || std::memcmp(&f[0], "RIFF", 4) || std::memcmp(&f[8], "WAVE", 4)) {
        *error = std::string("not a WAV file: ") + path;
        return false;
    }
    int tag = 0, bits = 0;
    for (size_t at = 12; at + 8 <= f.size();) {
        uint32_t size;
        std::memcpy(&size, &f[at + 4], 4);
        const uint8_t* body = &f[at + 8];
        const size_t have = std::min<size_t>(size, f.size() - at - 8);
        if (!std::memcmp(&f[at], "fmt ", 4) && have >= 16) {
            tag = body[0] | body[1] << 8;
            out->channels = body[2] | body[3] << 8;
            uint32_t rate;
            std::memcpy(&rate, body + 4, 4);
            out->rate = rate;
            bits = body[14] | body[15] << 8;
        } else if (!std::memcmp(&f[at], "data", 4)) {
            if ((tag != 1 && tag != 3) || (bits != 8 && bits != 16 && bits != 32) || out->channels < 1) break;
            Decode(body, have, bits, tag == 3, out);
            return true;
        }
        at += 8 + size + (size & 1);
    }
    *error = std::string("no PCM data in ") + path;
    return false;
}

// --- Alignment -----------------------------------------------------------------

// A stretch of the recording that sounds like the track: recording frame
// `rec` (a window's start) is track position `track` (fractional frames).
struct Anchor {
    size_t rec;
    double track;
};

struct Event {
    const char* what;  // "silence", "dropped", "repeated", "differs"
    double ms;
    double recMs, trackMs, toMs;  // where: the recording, the track before and after
};

class Aligner {
public:
    Aligner(const Sound& track, const Sound& rec)
        : t_(track), r_(rec), step_(track.rate / rec.rate), exact_(track.rate == rec.rate),
          window_(static_cast<size_t>(rec.rate / 100)) {}

    bool Exact() const { return exact_; }

    std::vector<Anchor> Align() const {
        std::vector<Anchor> anchors;
        bool have = false;
        double base = 0;  // track position of recording frame 0 along the current stretch
        int misses = 0;
        for (size_t i = 0; i + window_ <= r_.Frames(); i += window_) {
            if (SilentWindow(i)) continue;
            double best = -1, at = 0;
            auto search = [&](double from, double to) {
                for (double p = std::max(0.0, from); p <= to; p += step_) {
                    const double score = Score(i, p);
                    if (score > best) best = score, at = p;
                }
            };
            const double last = t_.Frames() - 1.0 - window_ * step_;
            if (have) search(base + i * step_ - 2 * step_, std::min(last, base + i * step_ + 2 * step_));
            if (best < kMatch && have) search(base + i * step_ - 1.5 * t_.rate, std::min(last, base + i * step_ + 1.5 * t_.rate));
            if (best < kMatch && (!have || misses >= 3)) search(0, last);
            if (best >= kMatch) {
                anchors.push_back({i, at});
                base = at - i * step_;
                have = true;
                misses = 0;
            } else {
                misses++;
            }
        }
        return anchors;
    }

    // What happened between the anchors, and how far into the track the
    // recording got (track frames). Silence before the first sound is the
    // first event when there is any.
    std::vector<Event> Events(const std::vector<Anchor>& a, double* reached) const {
        std::vector<Event> events;
        // A resampler's filter blurs edges by a few samples.
        const double tol = exact_ ? 0.5 : t_.rate / 500;
        auto ms = [](double frames, double rate) { return frames * 1000.0 / rate; };
        if (a.empty()) {
            *reached = 0;
            return events;
        }
        // The first stretch reaches back over what follows on exactly (a
        // track may begin with silent frames of its own).
        size_t first = a[0].rec;
        while (exact_ && first > 0 && Follows(first - 1, a[0].rec, a[0].track)) first--;
        size_t silent = CountSilent(0, first);
        events.push_back({"silence", ms(silent, r_.rate), 0, 0, 0});
        const double before = a[0].track - (a[0].rec - (exact_ ? first : silent)) * step_;
        if (before > tol) events.push_back({"dropped", ms(before, t_.rate), 0, 0, ms(a[0].track, t_.rate)});
        for (size_t k = 1; k < a.size(); k++) {
            const Anchor &x = a[k - 1], &y = a[k];
            if (y.rec == x.rec + window_ && std::fabs(y.track - x.track - window_ * step_) <= tol) continue;
            silent = CountSilent(x.rec + window_, y.rec);
            const double d = (y.track - x.track) - (y.rec - x.rec) * step_ + silent * step_;
            // Where the sound before the gap ends and the sound after it
            // starts: up to silence, or where the samples stop following on.
            size_t end = x.rec + window_, start = y.rec;
            while (end < start && !r_.Silent(end) && Follows(end, x.rec, x.track)) end++;
            while (start > end && !r_.Silent(start - 1) && Follows(start - 1, y.rec, y.track)) start--;
            const double recMs = ms(end, r_.rate), trackMs = ms(x.track + (end - x.rec) * step_, t_.rate);
            const double toMs = ms(y.track - (y.rec - start) * step_, t_.rate);
            if (silent) events.push_back({"silence", ms(silent, r_.rate), recMs, trackMs, trackMs});
            if (d > tol) events.push_back({"dropped", ms(d, t_.rate), recMs, trackMs, toMs});
            if (d < -tol) events.push_back({"repeated", ms(-d, t_.rate), recMs, trackMs, toMs});
            // Windows that hold part sound, part silence or a jump do not
            // match; two at an event are expected, anything else differs.
            size_t unmatched = 0;
            for (size_t i = x.rec + window_; i < y.rec; i += window_) unmatched += !SilentWindow(i);
            const size_t allowed = (silent || std::fabs(d) > tol) ? 2 : 0;
            if (unmatched > allowed)
                events.push_back({"differs", ms((unmatched - allowed) * window_, r_.rate), recMs, trackMs, trackMs});
        }
        const Anchor& end = a.back();
        size_t sound = 0;
        for (size_t i = end.rec + window_; i < r_.Frames(); i++) sound += !r_.Silent(i);
        *reached = end.track + (window_ + sound) * step_;
        return events;
    }

private:
    static constexpr double kMatch = 0.9;

    // Whether recording frame i carries on the stretch where frame `at` is
    // track position p (always so where only correlation can tell).
    bool Follows(size_t i, size_t at, double p) const {
        if (!exact_) return true;
        const double q = p + (static_cast<double>(i) - at) * step_;
        if (q < 0 || q >= t_.Frames()) return false;
        for (int c = 0; c < std::max(r_.channels, t_.channels); c++)
            if (std::fabs(r_.At(i, c) - t_.At(static_cast<size_t>(std::lround(q)), c)) > 1e-6f) return false;
        return true;
    }

    bool SilentWindow(size_t i) const {
        for (size_t k = 0; k < window_; k++)
            if (!r_.Silent(i + k)) return false;
        return true;
    }

    size_t CountSilent(size_t from, size_t to) const {
        size_t n = 0;
        for (size_t i = from; i < to && i < r_.Frames(); i++) n += r_.Silent(i);
        return n;
    }

    // 1 when the window equals the track there (same rate), else the
    // normalised correlation with the track read at the recording's rate.
    double Score(size_t i, double p) const {
        const int channels = std::max(r_.channels, t_.channels);
        if (exact_) {
            const size_t j = static_cast<size_t>(std::lround(p));
            for (size_t k = 0; k < window_; k++)
                for (int c = 0; c < channels; c++)
                    if (std::fabs(r_.At(i + k, c) - t_.At(j + k, c)) > 1e-6f) return 0;
            return 1;
        }
        double xy = 0, xx = 0, yy = 0;
        for (size_t k = 0; k < window_; k++) {
            const double q = p + k * step_;
            const size_t j = static_cast<size_t>(q);
            const double f = q - j;
            for (int c = 0; c < channels; c++) {
                const double x = r_.At(i + k, c);
                const double y = t_.At(j, c) * (1 - f) + t_.At(j + 1, c) * f;
                xy += x * y, xx += x * x, yy += y * y;
            }
        }
        return xx > 0 && yy > 0 ? xy / std::sqrt(xx * yy) : 0;
    }

    const Sound& t_;
    const Sound& r_;
    const double step_;  // track frames per recording frame
    const bool exact_;
    const size_t window_;  // 10 ms of the recording
};

// Where the device had got by a wall-clock time: recording frames taken,
// from the device's log (the streams follow each other in the recording).
class DeviceClock {
public:
    bool Read(const char* path) {
        std::FILE* f = std::fopen(path, "r");
        if (!f) return false;
        char line[256];
        double offset = 0, align = 1;
        while (std::fgets(line, sizeof line, f)) {
            double t, bytes, queued = 0;
            int rate, channels, bits;
            if (std::sscanf(line, "stream %*d start %lf rate %d channels %d bits %d offset %lf", &t, &rate, &channels,
                            &bits, &offset) == 5) {
                align = channels * bits / 8.0;
                points_.push_back({t, offset / align, 0});
            } else if (std::sscanf(line, "at %lf %lf %lf", &t, &bytes, &queued) == 3 ||
                       std::sscanf(line, "end %lf %lf", &t, &bytes) == 2) {
                points_.push_back({t, (offset + bytes) / align, line[0] == 'a' ? queued / align : 0});
            } else if (std::sscanf(line, "stall %lf %lf", &t, &bytes) == 2) {
                stalls++;
                stalledMs += bytes;
            }
        }
        std::fclose(f);
        return !points_.empty();
    }

    int stalls = 0;  // times the device waited for the writer (a busy machine), and how long
    double stalledMs = 0;

    double FramesAt(double t) const {
        if (points_.empty() || t <= points_[0].time) return 0;
        for (size_t k = 1; k < points_.size(); k++) {
            const Point &a = points_[k - 1], &b = points_[k];
            if (t < b.time) {
                // Between streams (b starts where a ended) the device is closed.
                if (b.frames == a.frames) return a.frames;
                return a.frames + (b.frames - a.frames) * (t - a.time) / (b.time - a.time);
            }
        }
        return points_.back().frames;
    }

    // Frames the writer had handed over that the device had not yet taken.
    double QueuedAt(double t) const {
        double q = 0;
        for (const Point& p : points_)
            if (p.time <= t) q = p.queued;
        return q;
    }

private:
    struct Point {
        double time, frames, queued;
    };
    std::vector<Point> points_;
};

// The track position heard at recording frame i, by the anchors around it.
double TrackAt(const std::vector<Anchor>& a, double i, double step) {
    if (a.empty()) return 0;
    size_t k = 0;
    while (k + 1 < a.size() && a[k + 1].rec <= i) k++;
    double p = a[k].track + (i - a[k].rec) * step;  // before the first sound: below its start
    if (k + 1 < a.size()) p = std::min(p, a[k + 1].track);
    return std::max(p, 0.0);
}

int Measure(int argc, char** argv) {
    Sound track, rec;
    unsigned rate = 0, channels = 0, bits = 0;
    const unsigned fps = argc > 4 ? static_cast<unsigned>(std::atoi(argv[4])) : 0;
    std::vector<uint8_t> raw;
    if ((argc != 6 && argc != 8) || std::sscanf(argv[3], "%u-%u-%u", &rate, &channels, &bits) != 3 ||
        (bits != 8 && bits != 16) || (channels != 1 && channels != 2) || !fps)
        return Usage();
    std::string error;
    if (!ReadFile(argv[2], &raw)) error = std::string("cannot read ") + argv[2];
    if (error.empty()) ReadWav(argv[5], &rec, &error);
    if (error.empty() && (raw.size() < 4 || std::memcmp(raw.data(), "RIFF", 4) || !ReadWav(argv[2], &track, &error))) {
        track.rate = rate;
        track.channels = static_cast<int>(channels);
        Decode(raw.data(), raw.size(), static_cast<int>(bits), false, &track);
    }
    if (error.empty() && (track.Frames() < 2 || rec.Frames() == 0)) error = "an empty track or recording";
    const Aligner aligner(track, rec);
    const std::vector<Anchor> anchors = error.empty() ? aligner.Align() : std::vector<Anchor>();
    if (error.empty() && anchors.empty()) error = "nothing in the recording sounds like the track";
    if (!error.empty()) {
        std::fprintf(stderr, "soundmovie: %s\n", error.c_str());
        return 1;
    }
    double reached = 0;
    const std::vector<Event> events = aligner.Events(anchors, &reached);
    const double step = track.rate / rec.rate;
    double start = 0, inside = 0, dropped = 0, repeated = 0, differs = 0;
    std::printf("recording: %.0f ms at %.0f Hz, %d channel(s), aligned %s\n", rec.Frames() * 1000.0 / rec.rate,
                rec.rate, rec.channels, aligner.Exact() ? "exactly" : "by correlation (resampled)");
    for (size_t k = 0; k < events.size(); k++) {
        const Event& e = events[k];
        if (e.ms <= 0) continue;
        std::printf("%s %.1f ms at recording %.1f ms, track %.1f to %.1f ms\n", e.what, e.ms, e.recMs, e.trackMs, e.toMs);
        const std::string what = e.what;
        (what == "silence" ? (k ? inside : start) : what == "dropped" ? dropped : what == "repeated" ? repeated : differs) += e.ms;
    }
    const double reachedMs = reached * 1000.0 / track.rate;
    std::printf("figures silence_start=%.1f silence_inside=%.1f dropped=%.1f repeated=%.1f differs=%.1f reached=%.1f",
                start, inside, dropped, repeated, differs, reachedMs);

    DeviceClock clock;
    std::vector<std::pair<double, long>> captions;  // time, frame number (1 = first frame)
    std::ifstream timed(argc == 8 && clock.Read(argv[6]) ? argv[7] : "");
    for (std::string line; std::getline(timed, line);)
        if (line.find("Frame: ") != std::string::npos)
            captions.push_back({std::atof(line.c_str()), std::atol(line.c_str() + line.find("Frame: ") + 7)});
    if (captions.size() >= 3) {
        // Frame k (from 0) is due when its track sound starts: the writer's
        // k x frame time; the first frame goes up before the sound starts.
        const double frameTime = 100000 / fps / 100000.0;
        const auto &first = captions[1], &last = captions.back();
        double sum = 0;
        for (size_t k = 1; k < captions.size(); k++) {
            const double heard = TrackAt(anchors, clock.FramesAt(captions[k].first), step) / track.rate;
            const double queued = clock.QueuedAt(captions[k].first) / rec.rate;
            sum += ((captions[k].second - 1) * frameTime - heard - queued) * 1000.0;
        }
        const double shownEnd = std::floor(last.second * frameTime * track.rate) * 1000.0 / track.rate;
        std::printf(" fps=%.3f ahead_mean=%.1f lost=%.1f stalled=%.0f", (last.second - first.second) / (last.first - first.first),
                    sum / (captions.size() - 1), std::max(0.0, shownEnd - reachedMs), clock.stalledMs);
    }
    std::printf("\n");
    return 0;
}

// --- Writing -------------------------------------------------------------------

std::vector<uint8_t> MakeSound(uint32_t rate, int bits, int channels, size_t frames) {
    std::mt19937 rng(rate * 31 + bits * 7 + channels);
    std::uniform_real_distribution<double> noise(-0.3, 0.3);
    std::vector<uint8_t> pcm;
    double phase[2] = {0, 0};
    for (size_t f = 0; f < frames; f++) {
        const double along = static_cast<double>(f) / frames;
        const double hz[2] = {300 + 2700 * along, 3000 - 2700 * along};
        bool silent = true;
        const size_t at = pcm.size();
        for (int ch = 0; ch < channels; ch++) {
            phase[ch] += hz[ch] / rate * 6.283185307179586;
            const int s = static_cast<int>((std::sin(phase[ch]) * 0.45 + noise(rng)) * (bits == 16 ? 32767 : 127));
            pcm.push_back(static_cast<uint8_t>(bits == 16 ? s : s + 128));
            if (bits == 16) pcm.push_back(static_cast<uint8_t>(s >> 8));
            silent = silent && s == 0;
        }
        if (silent) pcm[at] ^= 1;  // never a whole frame of silence
    }
    return pcm;
}

int Write(int argc, char** argv) {
    if (argc < 9 || argc > 12) return Usage();
    const uint32_t rate = static_cast<uint32_t>(std::atoi(argv[4])), frames = static_cast<uint32_t>(std::atoi(argv[8]));
    const int bits = std::atoi(argv[5]), channels = std::atoi(argv[6]);
    const std::string mode = argv[7], shape = argc > 11 ? argv[11] : "";
    const uint32_t fps = argc > 9 ? static_cast<uint32_t>(std::atoi(argv[9])) : 15;
    const long lead = argc > 10 ? std::atol(argv[10]) : -1;
    uint32_t w = 32, h = 16;
    std::sscanf(shape.c_str(), "%ux%u", &w, &h);
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2) || (mode != "raw" && mode != "packed") || !frames ||
        !fps || w < 4 || h < 4)
        return Usage();
    qvw::MoviePlan plan;
    plan.width = w, plan.height = h;
    plan.frame_rate = qvw::FrameRateForFps(fps);
    plan.ring = shape == "ring", plan.y_double = shape == "ydouble", plan.y_interlace = shape == "yinterlace";
    for (uint32_t f = 0; f < frames; f++) {
        qvw::FramePlan frame;  // solid and two-colour blocks, full blocks, stripes that move
        for (uint32_t y = 0; y < h; ++y)
            for (uint32_t x = 0; x < w; ++x)
                frame.picture.push_back(static_cast<uint8_t>(3 * y < h ? (x / 4 + f) % 5 : 3 * y < 2 * h ? (x * 7 + y * 3 + f) % 23 : (x + f) % 8 < 4 ? 9 : 11));
        if (f % 2 == 0) {
            qvw::Palette p{};
            for (int i = 0; i < 256; ++i)
                p[i] = {static_cast<uint8_t>(i * 3 + f * 10), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)};
            frame.palette = p;
        }
        plan.frames.push_back(frame);
    }
    qvw::TrackPlan track;
    track.rate = rate, track.bits = bits, track.channels = channels, track.compressed = mode == "packed";
    if (lead >= 0) track.lead_bytes = static_cast<uint32_t>(lead);
    track.pcm = MakeSound(rate, bits, channels, static_cast<size_t>(rate) * (frames / fps + 3));
    if (rate) plan.tracks[0] = track;
    if (rate && shape == "twotracks") plan.tracks[6] = track, plan.tracks[6]->compressed = !track.compressed;
    qvw::WriteReport report;
    std::string error;
    std::vector<uint8_t> carried;
    if (qvw::WriteMovieFile(plan, argv[2], &error, &report))
        for (const auto& chunk : report.track_chunks[0]) carried.insert(carried.end(), chunk.begin(), chunk.end());
    if (!error.empty() || !qvw::WriteBytesFile(carried, argv[3], &error)) {
        std::fprintf(stderr, "soundmovie: %s\n", error.c_str());
        return 1;
    }
    std::printf("%zu bytes of sound, lead %u\n", carried.size(), rate ? report.sound_lead[0] : 0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "write")) return Write(argc, argv);
    if (argc >= 2 && !std::strcmp(argv[1], "measure")) return Measure(argc, argv);
    return Usage();
}
