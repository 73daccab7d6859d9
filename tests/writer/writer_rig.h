// Shared pieces of the writer tests: a written movie played back through
// the library's entry points (the decoder the conformance movies check),
// and PNG and WAV files for quarvmake.
#pragma once
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "movie/movie.h"
#include "movie/sound_unpack.h"
#include "writer/writer.h"

namespace wtest {

using Bytes = std::vector<uint8_t>;

inline uint32_t Le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }
inline Bytes ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}
inline void WriteFile(const std::string& path, const Bytes& bytes) {
    ASSERT_TRUE(std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size()).good()) << path;
}

// What a movie shows and plays, record by record, as the library reads it:
// every frame, the ring frame, and frame 1 once more after it.
struct Played {
    bool opened = false;
    uint32_t width = 0, height = 0, flags = 0;  // flags as stored
    int32_t frameRate = 0;
    std::array<uint32_t, 7> lead{}, format{};
    std::vector<Bytes> pictures, palettes;  // palettes: 768 bytes of 8-bit red, green, blue
    std::vector<uint32_t> paletteChunk;     // chunk bytes, 0 for none
    std::array<std::vector<std::optional<Bytes>>, 7> sound;  // unpacked; nullopt: no chunk
    std::array<std::vector<uint32_t>, 7> soundChunk;         // chunk bytes
};

inline Played Play(const Bytes& movie) {
    Played p;
    char path[] = "/tmp/quarvel-writer-test.XXXXXX";
    const int fd = mkstemp(path);
    const bool written = fd >= 0 && write(fd, movie.data(), movie.size()) == static_cast<ssize_t>(movie.size());
    close(fd);
    Movie* m = written ? QuarvOpen(path, OPEN_NEVER_SKIP | OPEN_Y_NONE, 0xFFFFFFFFu) : nullptr;
    if ((p.opened = m != nullptr)) {
        const MovieHeader& h = m->Header;
        p.width = h.Width, p.height = h.Height, p.frameRate = h.FrameRate;
        p.flags = Le32(&movie[20]);  // the open rewrites the height flags
        for (int t = 0; t < 7; ++t) p.lead[t] = h.SoundLead[t], p.format[t] = h.TrackFormat[t];
        Bytes picture(size_t(h.Width) * h.Height);
        std::vector<uint32_t> scratch(kSoundScratchBytes / 4);
        QuarvToBuffer(m, 0, 0, static_cast<int32_t>(h.Width), h.Height, picture.data(), 0);
        for (uint32_t n = 0; n < h.Frames + ((p.flags & 1) ? 2 : 0) && !m->ReadError; ++n) {
            if (n > 0) QuarvNextFrame(m);
            QuarvDoFrame(m);
            p.pictures.push_back(picture);
            p.palettes.emplace_back(m->Palette, m->Palette + 768);
            p.paletteChunk.push_back(m->PaletteChunkSize ? 4u * m->PaletteChunk[0] : 0);  // its length byte counts words
            for (int t = 0; t < 7; ++t) {
                const uint8_t* chunk = m->SoundChunk[t];
                const uint32_t size = m->SoundChunkSize[t], packed = h.TrackFormat[t] & kTrackCompressed, count = size >= 8 ? Le32(chunk + 4) : 0;
                // Silence first: a stream marked not present leaves it so.
                Bytes pcm = !chunk ? Bytes() : packed ? Bytes(count, (h.TrackFormat[t] & kTrackBits16) ? 0 : 0x80) : Bytes(chunk + 4, chunk + size);
                if (packed && count) UnpackSound(chunk + 8, size - 8, count, scratch.data(), pcm.data(), pcm.data() + pcm.size(), pcm.data());
                p.sound[t].push_back(chunk ? std::optional<Bytes>(pcm) : std::nullopt);
                p.soundChunk[t].push_back(size);
            }
        }
        QuarvClose(m);
    }
    unlink(path);
    return p;
}

// A palette as the player holds it after the writer stored it: 768 bytes.
inline Bytes Coded(const qvw::Palette& palette) {
    Bytes out;
    for (const qvw::Rgb& c : qvw::CodedPalette(palette)) out.insert(out.end(), {c.r, c.g, c.b});
    return out;
}

// A minimal PNG (stored deflate blocks): colour type 3 with `palette`, or 2.
inline Bytes MakePng(uint32_t w, uint32_t h, int type, const Bytes& pixels, const Bytes& palette = {}) {
    Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, raw, z = {0x78, 0x01};
    auto be32 = [](Bytes& v, uint32_t x) { v.insert(v.end(), {uint8_t(x >> 24), uint8_t(x >> 16), uint8_t(x >> 8), uint8_t(x)}); };
    auto chunk = [&](const char* name, Bytes body) {
        be32(out, uint32_t(body.size()));
        body.insert(body.begin(), name, name + 4);
        uint32_t crc = ~0u;
        for (uint8_t b : body)
            for (int k = 0; k < 8; ++k, b >>= 1) crc = (crc >> 1) ^ (0xEDB88320u & (0u - ((crc ^ b) & 1)));
        out.insert(out.end(), body.begin(), body.end()), be32(out, ~crc);
    };
    const size_t row = size_t(w) * (type == 2 ? 3 : 1);
    for (uint32_t y = 0; y < h; ++y) raw.push_back(0), raw.insert(raw.end(), pixels.begin() + y * row, pixels.begin() + (y + 1) * row);
    for (size_t at = 0, n; at < raw.size(); at += n) {
        n = std::min<size_t>(65535, raw.size() - at);
        z.insert(z.end(), {uint8_t(at + n == raw.size()), uint8_t(n), uint8_t(n >> 8), uint8_t(~n), uint8_t(~n >> 8)});
        z.insert(z.end(), raw.begin() + at, raw.begin() + at + n);
    }
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) a = (a + c) % 65521, b = (b + a) % 65521;
    be32(z, b << 16 | a);
    chunk("IHDR", {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w), uint8_t(h >> 24), uint8_t(h >> 16), uint8_t(h >> 8),
                   uint8_t(h), 8, uint8_t(type), 0, 0, 0});
    if (type == 3) chunk("PLTE", palette);
    chunk("IDAT", z), chunk("IEND", {});
    return out;
}

// A WAV file; `extra` is a chunk placed before the data (id and body),
// padded to an even size as the format wants.
inline Bytes MakeWav(uint32_t rate, int bits, int channels, const Bytes& pcm, int tag = 1, const Bytes& extra = {}) {
    Bytes o = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' '};
    auto u = [&](uint32_t v, int n) { for (int i = 0; i < n; ++i) o.push_back(uint8_t(v >> (8 * i))); };
    u(16, 4), u(tag, 2), u(channels, 2), u(rate, 4), u(rate * bits / 8 * channels, 4), u(bits / 8 * channels, 2), u(bits, 2);
    if (!extra.empty()) o.insert(o.end(), extra.begin(), extra.begin() + 4), u(uint32_t(extra.size() - 4), 4);
    if (!extra.empty()) o.insert(o.end(), extra.begin() + 4, extra.end()), o.resize(o.size() + extra.size() % 2);
    o.insert(o.end(), {'d', 'a', 't', 'a'}), u(uint32_t(pcm.size()), 4), o.insert(o.end(), pcm.begin(), pcm.end());
    for (int i = 0; i < 4; ++i) o[4 + i] = uint8_t((o.size() - 8) >> (8 * i));
    return o;
}

}  // namespace wtest
