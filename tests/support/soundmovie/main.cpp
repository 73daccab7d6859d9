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
//     recording with the track sample for sample; the device must have kept
//     the track's rate (the tests choose rates the mixer does not resample,
//     and a resampled recording is refused rather than guessed at). Prints
//     how it was aligned, one line per event (silence inserted, sound
//     dropped, repeated or different, and where), and last the figures as
//     NAME=VALUE: with the device's log (tests/support/sound_device.py) and
//     the player's timed captions ("SECONDS ... Frame: N" lines) also the
//     frame rate, how far each shown frame was ahead of the sound heard at
//     that moment (less the device's own buffer), and the shown frames'
//     sound lost at the end.
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

int Fail(const std::string& why) {
    std::fprintf(stderr, "soundmovie: %s\n", why.c_str());
    return 1;
}

// Samples as fractions of full scale, interleaved.
struct Sound {
    double rate = 0;
    int channels = 1;
    std::vector<float> s;
    long Frames() const { return static_cast<long>(s.size()) / channels; }
    float At(long i, int c) const { return s[i * channels + std::min(c, channels - 1)]; }
    bool Silent(long i) const {
        for (int c = 0; c < channels; c++)
            if (s[i * channels + c] != 0.0f) return false;
        return true;
    }
    // 8- and 16-bit PCM, or 32-bit float (the mixer's).
    void Decode(const uint8_t* p, size_t bytes, int bits) {
        for (size_t i = 0; i + bits / 8 <= bytes; i += bits / 8) {
            float v = (p[i] - 128) / 128.0f;
            if (bits == 16) v = static_cast<int16_t>(p[i] | p[i + 1] << 8) / 32768.0f;
            if (bits == 32) std::memcpy(&v, p + i, 4);
            s.push_back(v);
        }
    }
};

bool ReadFile(const char* path, std::vector<uint8_t>* out) {
    std::ifstream f(path, std::ios::binary);
    out->assign(std::istreambuf_iterator<char>(f), {});
    return f.good() || f.eof();
}

// A WAV file as quarvdump and the sound device write it: the 44-byte
// header (RIFF, WAVE, fmt, data), then the samples.
bool IsWav(const std::vector<uint8_t>& f) {
    return f.size() >= 44 && !std::memcmp(&f[0], "RIFF", 4) && !std::memcmp(&f[8], "WAVEfmt ", 8) &&
           !std::memcmp(&f[36], "data", 4);
}

bool ReadWav(const char* path, Sound* out, std::string* error) {
    std::vector<uint8_t> f;
    const bool wav = ReadFile(path, &f) && IsWav(f);
    const int tag = wav ? f[20] | f[21] << 8 : 0, bits = wav ? f[34] | f[35] << 8 : 0;
    if (!((tag == 1 && (bits == 8 || bits == 16)) || (tag == 3 && bits == 32)) || !(f[22] | f[23] << 8)) {
        *error = (wav ? "no 8-, 16-bit or float PCM in " : "not a WAV file: ") + std::string(path);
        return false;
    }
    out->channels = f[22] | f[23] << 8;
    out->rate = f[24] | f[25] << 8 | f[26] << 16 | static_cast<uint32_t>(f[27]) << 24;
    out->Decode(&f[44], f.size() - 44, bits);
    return true;
}

// --- Alignment -----------------------------------------------------------------

// A stretch of the recording that is the track: recording frame `rec` (a
// window's start) is track frame `track`.
struct Anchor {
    long rec, track;
};

// Milliseconds of each kind of event, as the figures name them.
struct Sums {
    double silence_start = 0, silence_inside = 0, dropped = 0, repeated = 0, differs = 0;
};

// One line per event: how long, and where (the recording, the track before and after).
void Report(const char* what, double ms, double* sum, double recMs = 0, double trackMs = 0, double toMs = 0) {
    if (ms <= 0) return;
    std::printf("%s %.1f ms at recording %.1f ms, track %.1f to %.1f ms\n", what, ms, recMs, trackMs, toMs);
    *sum += ms;
}

class Aligner {
public:
    Aligner(const Sound& track, const Sound& rec) : t_(track), r_(rec), window_(static_cast<long>(rec.rate / 100)) {}

    std::vector<Anchor> Align() const {
        std::vector<Anchor> anchors;
        bool have = false;
        long base = 0;  // track frame of recording frame 0 along the current stretch (below 0 after silence)
        const long last = t_.Frames() - 1 - window_, near = static_cast<long>(1.5 * t_.rate);
        for (long i = 0; i + window_ <= r_.Frames(); i += window_) {
            if (SilentWindow(i)) continue;
            // Where the stretch goes on, else within 1.5 s of it (a track may
            // repeat itself, as the demo's does), else anywhere.
            long at = have ? Find(i, base + i - 2, std::min(last, base + i + 2)) : -1;
            if (have && at < 0) at = Find(i, base + i - near, std::min(last, base + i + near));
            if (at < 0) at = Find(i, 0, last);
            if (at < 0) continue;
            anchors.push_back({i, at});
            base = at - i, have = true;
        }
        return anchors;
    }

    // Reports what happened between the anchors; returns how far into the
    // track the recording got (track frames).
    long Events(const std::vector<Anchor>& a, Sums* sums) const {
        auto ms = [this](double frames) { return frames * 1000.0 / r_.rate; };
        // The first stretch reaches back over what follows on (a track may
        // begin with silent frames of its own).
        long first = a[0].rec;
        while (first > 0 && Follows(first - 1, a[0])) first--;
        Report("silence", ms(CountSilent(0, first)), &sums->silence_start);
        Report("dropped", ms(a[0].track - (a[0].rec - first)), &sums->dropped, 0, 0, ms(a[0].track));
        for (size_t k = 1; k < a.size(); k++) {
            const Anchor &x = a[k - 1], &y = a[k];
            if (y.rec == x.rec + window_ && y.track == x.track + window_) continue;
            const long silent = CountSilent(x.rec + window_, y.rec);
            const long d = (y.track - x.track) - (y.rec - x.rec) + silent;
            // Where the sound before the gap ends and the sound after it
            // starts: up to silence, or where the samples stop following on.
            long end = x.rec + window_, start = y.rec;
            while (end < start && !r_.Silent(end) && Follows(end, x)) end++;
            while (start > end && !r_.Silent(start - 1) && Follows(start - 1, y)) start--;
            const double recMs = ms(end), trackMs = ms(x.track + end - x.rec), toMs = ms(y.track - (y.rec - start));
            Report("silence", ms(silent), &sums->silence_inside, recMs, trackMs, trackMs);
            Report("dropped", ms(d), &sums->dropped, recMs, trackMs, toMs);
            Report("repeated", ms(-d), &sums->repeated, recMs, trackMs, toMs);
            // Windows that hold part sound, part silence or a jump do not
            // match; two at an event are expected, anything else differs.
            long unmatched = 0;
            for (long i = x.rec + window_; i < y.rec; i += window_) unmatched += !SilentWindow(i);
            const long allowed = (silent || d) ? 2 : 0;
            Report("differs", ms((unmatched - allowed) * window_), &sums->differs, recMs, trackMs, trackMs);
        }
        const long tail = a.back().rec + window_;
        return a.back().track + window_ + (r_.Frames() - tail) - CountSilent(tail, r_.Frames());
    }

private:
    // Whether recording frame i carries on the stretch of anchor a.
    bool Follows(long i, const Anchor& a) const { return Same(i, a.track + i - a.rec, 1); }

    // Whether `frames` recording frames from i equal the track's from q.
    bool Same(long i, long q, long frames) const {
        if (q < 0 || q + frames > t_.Frames()) return false;
        for (long k = 0; k < frames; k++)
            for (int c = 0; c < std::max(r_.channels, t_.channels); c++)
                if (std::fabs(r_.At(i + k, c) - t_.At(q + k, c)) > 1e-6f) return false;
        return true;
    }

    // The first track frame in [from, to] where the window at i is the track.
    long Find(long i, long from, long to) const {
        for (long p = std::max(0L, from); p <= to; p++)
            if (Same(i, p, window_)) return p;
        return -1;
    }

    bool SilentWindow(long i) const { return CountSilent(i, i + window_) == window_; }

    long CountSilent(long from, long to) const {
        long n = 0;
        for (long i = from; i < to && i < r_.Frames(); i++) n += r_.Silent(i);
        return n;
    }

    const Sound& t_;
    const Sound& r_;
    const long window_;  // 10 ms of the recording
};

// The device's log: by each wall-clock time, the recording frames it had
// taken (the streams follow each other in the recording) and the frames the
// writer had handed over that it had not yet taken; and how long it waited
// for the writer (a busy machine).
struct DeviceLog {
    struct Point {
        double time, frames, queued;
    };
    std::vector<Point> points;
    double stalledMs = 0;

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
                points.push_back({t, offset / align, 0});
            } else if (std::sscanf(line, "at %lf %lf %lf", &t, &bytes, &queued) == 3 ||
                       std::sscanf(line, "end %lf %lf", &t, &bytes) == 2) {
                points.push_back({t, (offset + bytes) / align, line[0] == 'a' ? queued / align : 0});
            } else if (std::sscanf(line, "stall %lf %lf", &t, &bytes) == 2) {
                stalledMs += bytes;
            }
        }
        std::fclose(f);
        return !points.empty();
    }

    double FramesAt(double t) const {
        if (points.empty() || t <= points[0].time) return 0;
        for (size_t k = 1; k < points.size(); k++) {
            const Point &a = points[k - 1], &b = points[k];
            if (t < b.time) {
                // Between streams (b starts where a ended) the device is closed.
                if (b.frames == a.frames) return a.frames;
                return a.frames + (b.frames - a.frames) * (t - a.time) / (b.time - a.time);
            }
        }
        return points.back().frames;
    }

    double QueuedAt(double t) const {
        double q = 0;
        for (const Point& p : points)
            if (p.time <= t) q = p.queued;
        return q;
    }
};

// The track position heard at recording frame i, by the anchors (at least one) around it.
double TrackAt(const std::vector<Anchor>& a, double i) {
    size_t k = 0;
    while (k + 1 < a.size() && a[k + 1].rec <= i) k++;
    double p = a[k].track + (i - a[k].rec);  // before the first sound: below its start
    if (k + 1 < a.size()) p = std::min(p, static_cast<double>(a[k + 1].track));
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
    if (!ReadFile(argv[2], &raw)) return Fail(std::string("cannot read ") + argv[2]);
    if (!ReadWav(argv[5], &rec, &error) || (IsWav(raw) && !ReadWav(argv[2], &track, &error))) return Fail(error);
    if (!IsWav(raw)) {
        track.rate = rate;
        track.channels = static_cast<int>(channels);
        track.Decode(raw.data(), raw.size(), static_cast<int>(bits));
    }
    if (track.Frames() < 2 || rec.Frames() == 0) return Fail("an empty track or recording");
    if (track.rate != rec.rate)
        return Fail("the recording is at " + std::to_string(static_cast<long>(rec.rate)) + " Hz, the track at " +
                    std::to_string(static_cast<long>(track.rate)) + " Hz: resampled, cannot align it sample for sample");
    const Aligner aligner(track, rec);
    const std::vector<Anchor> anchors = aligner.Align();
    if (anchors.empty()) return Fail("nothing in the recording sounds like the track");
    std::printf("recording: %.0f ms at %.0f Hz, %d channel(s), aligned exactly\n", rec.Frames() * 1000.0 / rec.rate,
                rec.rate, rec.channels);
    Sums sums;
    const double reachedMs = aligner.Events(anchors, &sums) * 1000.0 / track.rate;
    std::printf("figures silence_start=%.1f silence_inside=%.1f dropped=%.1f repeated=%.1f differs=%.1f reached=%.1f",
                sums.silence_start, sums.silence_inside, sums.dropped, sums.repeated, sums.differs, reachedMs);

    DeviceLog clock;
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
            const double heard = TrackAt(anchors, clock.FramesAt(captions[k].first)) / track.rate;
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
    return error.empty() && qvw::WriteBytesFile(carried, argv[3], &error) ? 0 : Fail(error);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && !std::strcmp(argv[1], "write")) return Write(argc, argv);
    if (argc >= 2 && !std::strcmp(argv[1], "measure")) return Measure(argc, argv);
    return Usage();
}
