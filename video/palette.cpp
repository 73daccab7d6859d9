// Palette chunks, and remapping the decoder's colours onto a caller's palette.
#include <cstring>
#include <initializer_list>

#include "common/color_table16.h"
#include "movie/movie_internal.h"
#include "video/decode_tables.h"
#include "video/huffman.h"
#include "video/palette.h"

// 6-bit components to 8 bits: c x 4 + c / 16, so 63 becomes 255.
const uint8_t ScaleTable6to8[64] = {
    0,   4,   8,   12,  16,  20,  24,  28,  32,  36,  40,  44,  48,  52,  56,  60,
    65,  69,  73,  77,  81,  85,  89,  93,  97,  101, 105, 109, 113, 117, 121, 125,
    130, 134, 138, 142, 146, 150, 154, 158, 162, 166, 170, 174, 178, 182, 186, 190,
    195, 199, 203, 207, 211, 215, 219, 223, 227, 231, 235, 239, 243, 247, 251, 255,
};

void ApplyPaletteChunk(const uint8_t* chunk, uint32_t available, uint8_t palette[768]) {
    if (!chunk || !palette) return;
    // Keeps and copies read the palette as it was before the chunk.
    uint8_t previous[768];
    std::memcpy(previous, palette, sizeof previous);

    uint16_t produced = 0;
    uint32_t p = 1;  // after the length byte
    while (produced < 256) {
        if (p >= available) break;  // the record ends inside the commands
        const uint8_t b = chunk[p++];
        if (b >= 0x80) {
            const uint32_t n = b - 0x80u + 1;
            for (uint32_t j = 0; j < n && produced + j < 256; ++j)
                std::memcpy(&palette[3 * (produced + j)], &previous[3 * (produced + j)], 3);
            produced = static_cast<uint16_t>(produced + n);
        } else if (b >= 0x40) {
            if (p >= available) break;
            const uint32_t s = chunk[p++];
            const uint32_t n = b - 0x40u + 1;
            // Entries whose source would lie past entry 255 keep their values.
            for (uint32_t j = 0; j < n && produced + j < 256 && s + j < 256; ++j)
                std::memcpy(&palette[3 * (produced + j)], &previous[3 * (s + j)], 3);
            produced = static_cast<uint16_t>(produced + n);
        } else {
            if (available - p < 2) break;
            uint8_t* e = &palette[3 * produced];
            // Components are 6-bit; stray high bits are dropped.
            e[0] = ScaleTable6to8[b & 63];
            e[1] = ScaleTable6to8[chunk[p] & 63];
            e[2] = ScaleTable6to8[chunk[p + 1] & 63];
            p += 2;
            ++produced;
        }
    }
}

void BuildTargetColorTable(uint16_t table[256], const uint8_t palette[768], uint8_t pixelFormat) {
    if ((pixelFormat & 0xC0) == 0xC0) BuildColorTable565(table, palette);
    else BuildColorTable555(table, palette);
}

namespace {

struct PaletteLayout {
    uint32_t r, g, b, length;
};

PaletteLayout LayoutFromFlags(uint32_t flags) {
    PaletteLayout l{0, 1, 2, 3};
    if (flags & 4) {
        l.length = 4;
        if (flags & 8) {
            l.r = 1;
            l.g = 2;
            l.b = 3;
        }
    }
    if (flags & 2) {
        uint32_t t = l.r;
        l.r = l.b;
        l.b = t;
    }
    if (flags & 1) {
        l.r *= 2;
        l.g *= 2;
        l.b *= 2;
        l.length *= 2;
    }
    return l;
}

// Rewrites the output halves of a tree's leaves; coded halves stay, so a
// later remap starts again from the movie's own colours.
template <class F>
void ForEachLeaf(DecodeTables* t, int tree, F f) {
    if (!t->Present[tree]) return;
    const uint32_t nal = t->NotALeaf;
    for (uint32_t loc = t->NodesBegin[tree]; loc < t->NodesEnd[tree]; loc += 4) {
        uint32_t* node = t->NodeAt(loc);
        if ((*node & 0xFFFF) != nal) f(node);
    }
}

}  // namespace

void RemapDecodeTables(DecodeTables* t, const uint8_t remap[256]) {
    // The decoder applies the remap as it writes pixels.
    t->Remapped = 0;
    for (uint32_t i = 0; i < 256; ++i) {
        t->Remap[i] = remap[i];
        if (remap[i] != i) t->Remapped = 1;
    }
    for (int tree : {kColorTree, kFullTree}) {
        ForEachLeaf(t, tree, [&](uint32_t* node) {
            const uint32_t coded = *node & 0xFFFF;
            const uint32_t out = remap[coded & 0xFF] | static_cast<uint32_t>(remap[coded >> 8]) << 8;
            *node = out << 16 | coded;
        });
        t->Records[tree].Reset = (remap[0] * 0x0101u) << 16;
    }
    ForEachLeaf(t, kTypeTree, [&](uint32_t* node) {
        if ((*node & 3) == 3) *node = (*node & 0x00FFFFFFu) | static_cast<uint32_t>(remap[*node >> 8 & 0xFF]) << 24;
    });
}

void FindRemap(const uint8_t movie[768], const uint8_t* palette, uint32_t count, uint32_t flags, uint8_t remap[256]) {
    const PaletteLayout l = LayoutFromFlags(flags);
    for (uint32_t i = 0; i < 256; ++i) {
        const int32_t R = movie[3 * i], G = movie[3 * i + 1], B = movie[3 * i + 2];
        // Starting at entry i maps an identical palette onto itself.
        uint32_t e = i < count ? i : 0;
        uint32_t match = e;
        int32_t best = 0x7FFFFFFF;
        for (uint32_t k = 0; k < count; ++k) {
            const uint8_t* c = palette + static_cast<size_t>(e) * l.length;
            const int32_t dr = R - c[l.r], dg = G - c[l.g], db = B - c[l.b];
            const int32_t d = dr * dr + dg * dg + db * db;
            if (d < best) {
                best = d;
                match = e;
                if (d == 0) break;
            }
            if (++e == count) e = 0;
        }
        remap[i] = static_cast<uint8_t>(match);
    }
}

void QuarvColorRemap(Movie* movie, const uint8_t* palette, uint32_t count, uint32_t flags) {
    if (!movie) return;
    ServiceIfTracksOpen();
    if (count > 256) count = 256;
    // With no entries there is nothing to match against: the colours stay.
    if (count == 0 || !palette || !movie->DecodeTables) return;
    uint8_t remap[256];
    FindRemap(movie->Palette, palette, count, flags, remap);
    RemapDecodeTables(movie->DecodeTables, remap);
}
