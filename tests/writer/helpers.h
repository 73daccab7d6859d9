// Shared pieces of the writer tests: reading a written movie back whole,
// and pictures with chosen kinds of content.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "tests/writer/movie_reader.h"
#include "writer/writer.h"

namespace wtest {

struct Decoded {
    bool ok = false;
    std::string error;
    testread::Reader reader;
    std::vector<testread::Frame> frames;         // per record
    std::vector<std::vector<uint8_t>> pictures;  // after each record
    std::vector<testread::Pal> palettes;         // after each record
};

// Reads every record of a movie in order.
inline void DecodeAll(const std::vector<uint8_t>& movie, Decoded* d) {
    d->ok = d->reader.Open(movie);
    if (!d->ok) {
        d->error = d->reader.error();
        return;
    }
    for (uint32_t i = 0; i < d->reader.records(); ++i) {
        testread::Frame f;
        if (!d->reader.Decode(i, &f)) {
            d->ok = false;
            d->error = "record " + std::to_string(i) + ": " + d->reader.error();
            return;
        }
        d->frames.push_back(f);
        d->pictures.push_back(d->reader.picture());
        d->palettes.push_back(d->reader.palette());
    }
}

inline bool SamePalette(const testread::Pal& a, const qvw::Palette& b) {
    for (int i = 0; i < 256; ++i)
        if (a[i].r != b[i].r || a[i].g != b[i].g || a[i].b != b[i].b) return false;
    return true;
}

// Pixels of the picture area covered by whole blocks that differ.
inline size_t BlockAreaDiff(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, uint32_t w,
                            uint32_t h) {
    size_t bad = 0;
    for (uint32_t y = 0; y < h / 4 * 4; ++y)
        for (uint32_t x = 0; x < w / 4 * 4; ++x) bad += a[size_t(y) * w + x] != b[size_t(y) * w + x];
    return bad;
}

inline qvw::Palette RandomPalette(std::mt19937& rng) {
    qvw::Palette p;
    for (qvw::Rgb& c : p)
        c = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng())};
    return p;
}

// A picture made of regions of every block kind: flat areas, two-colour
// stripes, noise, and (when given) areas copied unchanged from `previous`.
inline std::vector<uint8_t> MixedPicture(std::mt19937& rng, uint32_t w, uint32_t h,
                                         const std::vector<uint8_t>* previous) {
    std::vector<uint8_t> p(size_t(w) * h);
    const uint8_t c1 = static_cast<uint8_t>(rng()), c2 = static_cast<uint8_t>(rng());
    const uint32_t split = static_cast<uint32_t>(rng() % (w + 1));
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            size_t i = size_t(y) * w + x;
            uint32_t zone = (y * 4 / h) % 4;
            if (previous && x < split && zone != 0) p[i] = (*previous)[i];
            else if (zone == 0) p[i] = static_cast<uint8_t>(x / 16 + c1);  // flat bands
            else if (zone == 1) p[i] = ((x + y) / 3 % 2) ? c1 : c2;          // two colours
            else if (zone == 2) p[i] = static_cast<uint8_t>(rng() % 7);      // few colours, mixed
            else p[i] = static_cast<uint8_t>(rng());                         // noise
        }
    return p;
}

}  // namespace wtest
