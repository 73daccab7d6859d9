// quarvdump MOVIE OUTDIR: decodes every frame and sound track of a movie
// through the library's entry points and writes info.json, one PPM per frame
// and one WAV per sound track, so that a movie's content can be checked
// byte for byte.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "movie/chunk_pcm.h"
#include "movie/movie.h"
#include "movie/sound_unpack.h"

namespace {

constexpr const char* kUsage =
    "usage: quarvdump MOVIE OUTDIR\n"
    "Decodes MOVIE and writes OUTDIR/info.json, OUTDIR/frame_NNNNN.ppm for every frame\n"
    "and OUTDIR/track_T.wav for every sound track.\n";

struct TrackDump {
    int track;
    uint32_t rate, bits, channels, compressed, lead;
    std::vector<uint8_t> pcm;
};

void Put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(x & 0xFF);
    v.push_back((x >> 8) & 0xFF);
}
void Put32(std::vector<uint8_t>& v, uint32_t x) {
    Put16(v, x & 0xFFFF);
    Put16(v, x >> 16);
}

// Writes a file whole under a temporary name, then renames it into place, so
// that a failed run leaves nothing half-written.
bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string tmp = path + ".part";
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = (std::fclose(f) == 0) && ok;
    if (ok) ok = std::rename(tmp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(tmp.c_str());
    return ok;
}

std::vector<uint8_t> Wav(const TrackDump& t) {
    std::vector<uint8_t> w;
    uint32_t blockAlign = t.channels * t.bits / 8;
    uint32_t dataSize = static_cast<uint32_t>(t.pcm.size());
    w.insert(w.end(), {'R', 'I', 'F', 'F'});
    Put32(w, 36 + dataSize);
    w.insert(w.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(w, 16);
    Put16(w, 1);  // PCM
    Put16(w, t.channels);
    Put32(w, t.rate);
    Put32(w, t.rate * blockAlign);
    Put16(w, blockAlign);
    Put16(w, t.bits);
    w.insert(w.end(), {'d', 'a', 't', 'a'});
    Put32(w, dataSize);
    w.insert(w.end(), t.pcm.begin(), t.pcm.end());
    return w;
}

// The open doubles the record's Height when the movie is shown interlaced
// or Y-doubled; info.json gives the height as stored in the file.
uint32_t StoredHeight(const Movie* m) {
    return (m->OpenFlags & (OPEN_Y_INTERLACE | OPEN_Y_DOUBLE)) ? m->Header.Height / 2 : m->Header.Height;
}

std::string InfoJson(const Movie* m, const std::vector<TrackDump>& tracks) {
    const MovieHeader& h = m->Header;
    char buf[1024];
    std::snprintf(buf, sizeof buf,
                  "{\n \"width\": %u,\n \"height\": %u,\n \"frames\": %u,\n \"frame_rate\": %d,\n"
                  " \"flags\": %u,\n \"frame_time\": %u,\n \"largest_frame\": %u,\n \"peak_rate\": %u,\n"
                  " \"peak_frame\": %u,\n \"average_frame_size\": %u,\n \"buf_size\": %u,\n"
                  " \"preloaded\": %u,\n \"tracks\": [",
                  h.Width, StoredHeight(m), h.Frames, h.FrameRate, h.Flags, m->FrameTime, m->LargestFrame, m->PeakRate,
                  m->PeakFrame, m->AverageFrameSize, (m->OpenFlags & OPEN_PRELOAD) ? 0u : m->BufSize,
                  (m->OpenFlags & OPEN_PRELOAD) ? 1u : 0u);
    std::string s = buf;
    for (size_t i = 0; i < tracks.size(); ++i) {
        const TrackDump& t = tracks[i];
        std::snprintf(buf, sizeof buf,
                      "%s\n  {\"track\": %d, \"rate\": %u, \"bits\": %u, \"channels\": %u, \"compressed\": %u, "
                      "\"lead\": %u}",
                      i ? "," : "", t.track, t.rate, t.bits, t.channels, t.compressed, t.lead);
        s += buf;
    }
    s += tracks.empty() ? "]\n}\n" : "\n ]\n}\n";
    return s;
}

// Appends this frame's chunk of the track: raw bytes, or the unpacked stream.
bool AppendChunk(const Movie* m, TrackDump& t, std::vector<uint32_t>& scratch) {
    const uint32_t n = ChunkPcmSize(m, t.track);
    if (n == kChunkPcmOutOfRange) return false;
    const size_t at = t.pcm.size();
    t.pcm.resize(at + n);
    ChunkPcmWrite(m, t.track, t.pcm.data() + at, scratch.data());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 3) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const char* path = argv[1];
    std::string out = argv[2];

    Movie* m = QuarvOpen(path, OPEN_NEVER_SKIP, 0xFFFFFFFFu);
    if (!m) {
        std::fprintf(stderr, "quarvdump: %s: cannot open as a Quarvel movie\n", path);
        return 1;
    }
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "quarvdump: %s: %s\n", path, what);
        QuarvClose(m);
        return 1;
    };
    if (m->ReadError) return fail("the movie cannot be read whole");

    const MovieHeader& h = m->Header;
    uint64_t pixels = static_cast<uint64_t>(h.Width) * h.Height;
    if (h.Width == 0 || h.Height == 0 || pixels > (64u << 20)) return fail("picture size out of range");

    std::vector<TrackDump> tracks;
    for (int t = 0; t < kMaxTracks; ++t) {
        uint32_t f = h.TrackFormat[t];
        if (!(f & kTrackPresent) || !(f & kTrackRateMask)) continue;
        TrackDump d{t,
                    f & kTrackRateMask,
                    (f & kTrackBits16) ? 16u : 8u,
                    (f & kTrackStereo) ? 2u : 1u,
                    (f & kTrackCompressed) ? 1u : 0u,
                    h.SoundLead[t] & ~3u,
                    {}};
        tracks.push_back(d);
    }

    if (mkdir(out.c_str(), 0777) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "quarvdump: cannot create %s: %s\n", out.c_str(), std::strerror(errno));
        QuarvClose(m);
        return 1;
    }

    std::vector<uint8_t> picture(pixels, 0);
    QuarvToBuffer(m, 0, 0, static_cast<int32_t>(h.Width), h.Height, picture.data(), 0);
    std::vector<uint32_t> scratch(kSoundScratchBytes / 4);
    std::string header = "P6\n" + std::to_string(h.Width) + " " + std::to_string(h.Height) + "\n255\n";
    std::vector<uint8_t> ppm;

    for (uint32_t n = 0; n < h.Frames; ++n) {
        if (n > 0) QuarvNextFrame(m);
        if (m->ReadError) return fail("the movie cannot be read whole (truncated?)");
        QuarvDoFrame(m);
        if (m->ReadError) return fail("the movie cannot be read whole (truncated?)");
        for (TrackDump& t : tracks)
            if (!AppendChunk(m, t, scratch)) return fail("a sound chunk is out of range");

        ppm.assign(header.begin(), header.end());
        ppm.reserve(header.size() + pixels * 3);
        for (uint64_t i = 0; i < pixels; ++i) {
            const uint8_t* c = &m->Palette[picture[i] * 3];
            ppm.insert(ppm.end(), c, c + 3);
        }
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%05u.ppm", n);
        if (!WriteFile(out + name, ppm)) return fail("cannot write a frame file");
        if (h.Frames > 200 && n % 100 == 99)
            std::fprintf(stderr, "quarvdump: %u of %u frames\r", n + 1, h.Frames);
    }
    if (h.Frames > 200) std::fputc('\n', stderr);

    for (const TrackDump& t : tracks) {
        char name[32];
        std::snprintf(name, sizeof name, "/track_%d.wav", t.track);
        if (!WriteFile(out + name, Wav(t))) return fail("cannot write a sound file");
    }
    std::string info = InfoJson(m, tracks);
    if (!WriteFile(out + "/info.json", std::vector<uint8_t>(info.begin(), info.end())))
        return fail("cannot write info.json");
    QuarvClose(m);
    return 0;
}
