// Palette chunks: keep (1 byte, 1-128 entries), copy (2 bytes, 1-64 entries
// from another index of the previous palette) and new colour (3 bytes, one
// entry). The encoder finds the shortest command list by dynamic programming
// over the 256 entries.
#include <algorithm>
#include <cstring>

#include "writer/writer.h"

namespace qvw {

uint8_t Widen6(uint8_t c6) { return static_cast<uint8_t>((c6 << 2) | (c6 >> 4)); }

uint8_t Narrow8(uint8_t c8) {
    int best = c8 >> 2, best_err = 256;
    for (int c = std::max(0, (c8 >> 2) - 1); c <= std::min(63, (c8 >> 2) + 1); ++c) {
        int err = std::abs(Widen6(static_cast<uint8_t>(c)) - c8);
        if (err < best_err) best_err = err, best = c;
    }
    return static_cast<uint8_t>(best);
}

Palette CodedPalette(const Palette& p) {
    Palette out;
    for (int i = 0; i < 256; ++i)
        out[i] = Rgb{Widen6(Narrow8(p[i].r)), Widen6(Narrow8(p[i].g)), Widen6(Narrow8(p[i].b))};
    return out;
}

std::vector<uint8_t> EncodePaletteChunk(const Palette& previous, const Palette& next) {
    // Colours as words, so that the searches below compare one word.
    uint32_t prev[256], want[256];
    for (int i = 0; i < 256; ++i) {
        prev[i] = uint32_t(previous[i].r) << 16 | previous[i].g << 8 | previous[i].b;
        want[i] = uint32_t(next[i].r) << 16 | next[i].g << 8 | next[i].b;
    }
    // keep_len[i]: entries from i on that equal the previous palette.
    // copy_len[i] / copy_src[i]: the longest run from i on that equals a run of
    // the previous palette starting elsewhere (or at i), and where it starts.
    int keep_len[257] = {0};
    for (int i = 255; i >= 0; --i) keep_len[i] = prev[i] == want[i] ? keep_len[i + 1] + 1 : 0;
    int copy_len[256] = {0}, copy_src[256] = {0};
    {
        // match[s] for the current i = length of next[i..] == previous[s..].
        uint16_t rows[2][257] = {};
        uint16_t* match = rows[0];
        uint16_t* below = rows[1];
        for (int i = 255; i >= 0; --i) {
            const uint32_t w = want[i];
            for (int s = 0; s < 256; ++s) match[s] = prev[s] == w ? static_cast<uint16_t>(below[s + 1] + 1) : 0;
            int best = 0, src = 0;
            for (int s = 0; s < 256; ++s)
                if (match[s] > best) best = match[s], src = s;
            copy_len[i] = std::min(best, 64);
            copy_src[i] = src;
            std::swap(match, below);
        }
    }
    // cost[i]: fewest bytes for entries i..255; choice[i] = (kind, count).
    int cost[257];
    int kind[256], count[256];
    cost[256] = 0;
    for (int i = 255; i >= 0; --i) {
        cost[i] = 3 + cost[i + 1];
        kind[i] = 2;
        count[i] = 1;
        for (int k = std::min(keep_len[i], 128); k >= 1; --k)
            if (1 + cost[i + k] < cost[i]) cost[i] = 1 + cost[i + k], kind[i] = 0, count[i] = k;
        for (int k = copy_len[i]; k >= 1; --k)
            if (2 + cost[i + k] < cost[i]) cost[i] = 2 + cost[i + k], kind[i] = 1, count[i] = k;
    }
    std::vector<uint8_t> chunk(1, 0);
    for (int i = 0; i < 256; i += count[i]) {
        if (kind[i] == 0) {
            chunk.push_back(static_cast<uint8_t>(0x80 + count[i] - 1));
        } else if (kind[i] == 1) {
            chunk.push_back(static_cast<uint8_t>(0x40 + count[i] - 1));
            chunk.push_back(static_cast<uint8_t>(copy_src[i]));
        } else {
            chunk.push_back(Narrow8(next[i].r));
            chunk.push_back(Narrow8(next[i].g));
            chunk.push_back(Narrow8(next[i].b));
        }
    }
    while (chunk.size() % 4 != 0) chunk.push_back(0);
    chunk[0] = static_cast<uint8_t>(chunk.size() / 4);  // at most 772 bytes: fits
    return chunk;
}

bool ApplyPaletteChunkTo(Palette* palette, const uint8_t* chunk, size_t size) {
    if (size < 1 || size_t(chunk[0]) * 4 > size || chunk[0] == 0) return false;
    const size_t end = size_t(chunk[0]) * 4;
    const Palette prev = *palette;
    size_t p = 1;
    int done = 0;
    while (done < 256) {
        if (p >= end) return false;
        uint8_t b = chunk[p];
        if (b >= 0x80) {
            int n = b - 0x80 + 1;
            if (done + n > 256) return false;
            for (int k = 0; k < n; ++k) (*palette)[done + k] = prev[done + k];
            done += n;
            p += 1;
        } else if (b >= 0x40) {
            if (p + 1 >= end) return false;
            int n = b - 0x40 + 1, s = chunk[p + 1];
            if (done + n > 256 || s + n > 256) return false;
            for (int k = 0; k < n; ++k) (*palette)[done + k] = prev[s + k];
            done += n;
            p += 2;
        } else {
            if (p + 2 >= end || chunk[p + 1] > 63 || chunk[p + 2] > 63) return false;
            (*palette)[done++] = Rgb{Widen6(b), Widen6(chunk[p + 1]), Widen6(chunk[p + 2])};
            p += 3;
        }
    }
    return true;
}

}  // namespace qvw
