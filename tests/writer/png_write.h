// A minimal PNG and WAV writer for the quarvmake tests (uncompressed deflate
// blocks), so the tests need no image library of their own.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace wtest {

inline uint32_t Crc32(const uint8_t* p, size_t n, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

inline void Be32(std::vector<uint8_t>* v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v->push_back(static_cast<uint8_t>(x >> s));
}

inline void Chunk(std::vector<uint8_t>* out, const char* type, const std::vector<uint8_t>& data) {
    Be32(out, static_cast<uint32_t>(data.size()));
    std::vector<uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out->insert(out->end(), body.begin(), body.end());
    Be32(out, Crc32(body.data(), body.size()));
}

// colour_type 3 (palette, `palette` = RGB triples) or 2 (RGB, 3 bytes per pixel).
inline std::vector<uint8_t> MakePng(uint32_t w, uint32_t h, int colour_type, const std::vector<uint8_t>& pixels,
                                    const std::vector<uint8_t>& palette = {}) {
    const size_t row = size_t(w) * (colour_type == 2 ? 3 : 1);
    std::vector<uint8_t> raw;
    for (uint32_t y = 0; y < h; ++y) {
        raw.push_back(0);  // no filter
        raw.insert(raw.end(), pixels.begin() + y * row, pixels.begin() + (y + 1) * row);
    }
    std::vector<uint8_t> z = {0x78, 0x01};
    for (size_t p = 0; p < raw.size() || p == 0;) {
        size_t n = std::min<size_t>(65535, raw.size() - p);
        z.push_back(p + n >= raw.size() ? 1 : 0);
        z.push_back(static_cast<uint8_t>(n));
        z.push_back(static_cast<uint8_t>(n >> 8));
        z.push_back(static_cast<uint8_t>(~n));
        z.push_back(static_cast<uint8_t>(~n >> 8));
        z.insert(z.end(), raw.begin() + p, raw.begin() + p + n);
        p += n;
        if (n == 0) break;
    }
    uint32_t a = 1, b = 0;
    for (uint8_t c : raw) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    Be32(&z, b << 16 | a);
    std::vector<uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> ihdr;
    Be32(&ihdr, w);
    Be32(&ihdr, h);
    ihdr.insert(ihdr.end(), {8, static_cast<uint8_t>(colour_type), 0, 0, 0});
    Chunk(&out, "IHDR", ihdr);
    if (colour_type == 3) Chunk(&out, "PLTE", palette);
    Chunk(&out, "IDAT", z);
    Chunk(&out, "IEND", {});
    return out;
}

inline std::vector<uint8_t> MakeWav(uint32_t rate, int bits, int channels, const std::vector<uint8_t>& pcm,
                                    int format_tag = 1) {
    std::vector<uint8_t> o;
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) o.push_back(static_cast<uint8_t>(v >> (8 * i))); };
    auto u16 = [&](uint32_t v) { o.push_back(static_cast<uint8_t>(v)); o.push_back(static_cast<uint8_t>(v >> 8)); };
    const uint32_t align = uint32_t(bits / 8 * channels);
    o.insert(o.end(), {'R', 'I', 'F', 'F'});
    u32(36 + static_cast<uint32_t>(pcm.size()));
    o.insert(o.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    u32(16);
    u16(format_tag);
    u16(channels);
    u32(rate);
    u32(rate * align);
    u16(align);
    u16(bits);
    o.insert(o.end(), {'d', 'a', 't', 'a'});
    u32(static_cast<uint32_t>(pcm.size()));
    o.insert(o.end(), pcm.begin(), pcm.end());
    return o;
}

inline bool WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace wtest
