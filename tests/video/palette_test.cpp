// Palette chunks, 16-bit colour tables and remapping onto a caller's palette.
#include <gtest/gtest.h>

#include <array>

#include "tests/video/decode_rig.h"
#include "video/decode_tables.h"
#include "video/huffman.h"
#include "video/palette.h"

using namespace vtest;

namespace {

struct Pal {
    uint8_t bytes[768];
    explicit Pal(int seed = 0) {
        for (int i = 0; i < 768; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + seed);
    }
    std::array<uint8_t, 3> operator[](int i) const { return {bytes[3 * i], bytes[3 * i + 1], bytes[3 * i + 2]}; }
};

// Applies a chunk given without its length byte (which the reader skips).
void Apply(std::vector<uint8_t> commands, Pal& p) {
    commands.insert(commands.begin(), static_cast<uint8_t>((commands.size() + 4) / 4));
    ApplyPaletteChunk(commands.data(), static_cast<uint32_t>(commands.size()), p.bytes);
}

}  // namespace

TEST(PaletteChunk, KeepsCopiesAndNewColours) {
    {
        Pal p, before;
        Apply({0xFF, 0xFF}, p);  // 128 + 128 kept
        EXPECT_EQ(0, std::memcmp(p.bytes, before.bytes, 768));
    }
    {
        Pal p, before;
        Apply({0x40, 5, 0xFF, 0xFE}, p);  // entry 0 = old entry 5, 255 kept
        EXPECT_EQ(p[0], before[5]);
        for (int i = 1; i < 256; ++i) EXPECT_EQ(p[i], before[i]);
    }
    {
        Pal p;
        Apply({0x3F, 0x00, 0x10, 0xFF, 0xFF}, p);
        EXPECT_EQ(p[0], (std::array<uint8_t, 3>{255, 0, 65}));
    }
    {
        // Copies read the palette as it was before the chunk, even where the
        // chunk has already rewritten it.
        Pal p, before;
        Apply({0x01, 0x02, 0x03, 0x41, 0x00, 0x7F, 0x01, 0xFF, 0xFF}, p);
        EXPECT_EQ(p[0], (std::array<uint8_t, 3>{4, 8, 12}));
        EXPECT_EQ(p[1], before[0]);
        EXPECT_EQ(p[2], before[1]);
        for (int i = 3; i < 67; ++i) EXPECT_EQ(p[i], before[i - 2]) << i;  // overlapping copy from 1
    }
}

TEST(PaletteChunk, ScaleTableWidensSixBits) {
    EXPECT_EQ(ScaleTable6to8[0], 0);
    EXPECT_EQ(ScaleTable6to8[1], 4);
    EXPECT_EQ(ScaleTable6to8[16], 65);
    EXPECT_EQ(ScaleTable6to8[32], 130);
    EXPECT_EQ(ScaleTable6to8[63], 255);
}

TEST(PaletteChunk, MalformedChunksStayInsideThePalette) {
    {
        // Runs past entry 255 stop there; the rest of the chunk is not read.
        Pal p, before;
        std::vector<uint8_t> cmds(125, 0xFF);  // 125 x 128 entries
        cmds.insert(cmds.begin(), {0x3F, 0x3F, 0x3F});
        Apply(cmds, p);
        EXPECT_EQ(p[0], (std::array<uint8_t, 3>{255, 255, 255}));
        for (int i = 1; i < 256; ++i) EXPECT_EQ(p[i], before[i]);
    }
    {
        // A copy whose source passes 255: entries without a source keep theirs.
        Pal p, before;
        std::vector<uint8_t> cmds = {0xFF, 0xF8};  // 128 + 121 = 249 kept
        cmds.insert(cmds.end(), {0x7F, 250});      // 64 entries from 250 on
        Apply(cmds, p);
        for (int i = 249; i < 255; ++i) EXPECT_EQ(p[i], before[i + 1]) << i;
        EXPECT_EQ(p[255], before[255]);
    }
    {
        // Components of 64 or more lose their high bits.
        Pal p;
        Apply({0x01, 0x41, 0xFF, 0xFF, 0xFF}, p);
        EXPECT_EQ(p[0], (std::array<uint8_t, 3>{4, 4, 255}));
    }
    {
        // The record ends inside a command: what came before it stands.
        Pal p, before;
        std::vector<uint8_t> chunk = {0x40, 0x02, 0x03, 0x04, 0x05};  // one colour, then half of one
        ApplyPaletteChunk(chunk.data(), static_cast<uint32_t>(chunk.size()), p.bytes);
        EXPECT_EQ(p[0], (std::array<uint8_t, 3>{8, 12, 16}));
        for (int i = 1; i < 256; ++i) EXPECT_EQ(p[i], before[i]);
        std::vector<uint8_t> copyCut = {0x40, 0x45};
        ApplyPaletteChunk(copyCut.data(), 2, p.bytes);
        std::vector<uint8_t> lengthOnly = {0x40};
        ApplyPaletteChunk(lengthOnly.data(), 1, p.bytes);
        ApplyPaletteChunk(lengthOnly.data(), 0, p.bytes);
        EXPECT_EQ(p[1], before[1]);
    }
}

TEST(ColorTable16, WhiteInBothFormats) {
    uint8_t pal[768] = {};
    pal[3] = pal[4] = pal[5] = 255;
    pal[6] = 0x08;  // red 8: one step of five bits
    uint16_t t[256];
    BuildTargetColorTable(t, pal, 0xC0);
    EXPECT_EQ(t[1], 0xFFFF);
    EXPECT_EQ(t[2], 1 << 11);
    BuildTargetColorTable(t, pal, 0x80);
    EXPECT_EQ(t[1], 0x7FFF);
    EXPECT_EQ(t[2], 1 << 10);
}

namespace {

// A palette where colours repeat, in the caller's layout.
std::vector<uint8_t> Layout(const std::vector<std::array<uint8_t, 3>>& colours, uint32_t flags) {
    const bool four = flags & 4, skipFirst = (flags & 12) == 12, bgr = flags & 2, dbl = flags & 1;
    const size_t len = (four ? 4 : 3) * (dbl ? 2 : 1);
    std::vector<uint8_t> out(colours.size() * len, 0x99);
    for (size_t i = 0; i < colours.size(); ++i) {
        size_t r = skipFirst ? 1 : 0, g = r + 1, b = r + 2;
        if (bgr) std::swap(r, b);
        const size_t m = dbl ? 2 : 1;
        out[i * len + r * m] = colours[i][0];
        out[i * len + g * m] = colours[i][1];
        out[i * len + b * m] = colours[i][2];
    }
    return out;
}

std::vector<std::array<uint8_t, 3>> MovieColours(const uint8_t pal[768]) {
    std::vector<std::array<uint8_t, 3>> c;
    for (int i = 0; i < 256; ++i) c.push_back({pal[3 * i], pal[3 * i + 1], pal[3 * i + 2]});
    return c;
}

}  // namespace

TEST(ColorRemap, IdenticalPaletteMapsEveryIndexToItself) {
    uint8_t pal[768];
    for (int i = 0; i < 768; ++i) pal[i] = static_cast<uint8_t>((i / 3) % 4 * 60 + i % 3);  // each colour 64 times
    for (uint32_t flags : {0u, 1u, 2u, 4u, 12u, 6u, 13u, 15u}) {
        std::vector<uint8_t> caller = Layout(MovieColours(pal), flags);
        uint8_t remap[256];
        FindRemap(pal, caller.data(), 256, flags, remap);
        for (int i = 0; i < 256; ++i) ASSERT_EQ(remap[i], i) << "flags " << flags;
    }
}

TEST(ColorRemap, NearestEntryWins) {
    uint8_t pal[768] = {};
    pal[3 * 1 + 0] = 250;  // movie colour 1: nearly red
    pal[3 * 2 + 2] = 100;  // movie colour 2: dark blue
    std::vector<std::array<uint8_t, 3>> caller = {{0, 0, 0}, {0, 0, 255}, {255, 0, 0}, {0, 0, 90}};
    for (uint32_t flags : {0u, 6u, 13u}) {
        std::vector<uint8_t> bytes = Layout(caller, flags);
        uint8_t remap[256];
        FindRemap(pal, bytes.data(), 4, flags, remap);
        EXPECT_EQ(remap[0], 0);
        EXPECT_EQ(remap[1], 2);
        EXPECT_EQ(remap[2], 3);
        EXPECT_EQ(remap[200], 0);  // black, searched from entry 0
    }
    std::vector<uint8_t> one = Layout({{200, 200, 200}}, 0);
    uint8_t remap[256];
    FindRemap(pal, one.data(), 1, 0, remap);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(remap[i], 0);
}

namespace {

// A movie record (movie colour i is grey i) with tables whose colour-bearing
// trees hold known values.
struct RemapRig {
    Rig rig{20, 4};  // 5 blocks
    TreePlan trees[4];
    RemapRig() {
        trees[kMapTree] = Balanced({0x0000, 0x0001});
        trees[kColorTree] = Balanced({0x0301, 0x0606, 0x0707, 0x0909, 0x0E0E, 0x0F0F});
        trees[kColorTree].esc[0] = 0x0F0F;
        trees[kColorTree].esc[2] = 0x0E0E;
        trees[kFullTree] = Balanced({0x0501, 0x0903});
        trees[kTypeTree] = Balanced({Descriptor(kTwoColorRun, 5), Descriptor(kFullRun, 1), Descriptor(kSolidRun, 1, 6),
                                     Descriptor(kTwoColorRun, 1), Descriptor(kTwoColorRun, 1, 7),
                                     Descriptor(kSkipRun, 1)});
        rig.UseTrees(trees);
        rig.Bind(0, 0, 20, 4, 0);
        rig.movie->DecodeTables = rig.tables.get();
        for (int i = 0; i < 768; ++i) rig.movie->Palette[i] = static_cast<uint8_t>(i / 3);
    }
    ~RemapRig() { rig.movie->DecodeTables = nullptr; }

    // Escape 0 first, then C, A, B and escape 2, all with mask 0.
    std::vector<uint8_t> CacheFrame() {
        FrameWriter w(trees);
        w.Run(kTwoColorRun, 5).TwoColor(0x0F0F, 1);
        for (uint32_t v : {0x0909u, 0x0606u, 0x0707u, 0x0E0Eu}) w.TwoColor(v, 0);
        return w.Bytes();
    }
    // Every colour-bearing kind once.
    std::vector<uint8_t> KindsFrame() {
        FrameWriter w(trees);
        w.Run(kFullRun, 1);
        for (int r = 0; r < 4; ++r) w.Value(kFullTree, 0x0501).Value(kFullTree, 0x0903);
        w.Run(kSolidRun, 1, 6);
        w.Run(kTwoColorRun, 1).TwoColor(0x0301, 1);
        w.Run(kTwoColorRun, 1, 7).TwoColor(0x0606, 0);
        w.Run(kSkipRun, 1);
        return w.Bytes();
    }
    // Block b's first row, left to right.
    std::array<uint8_t, 4> Row(uint32_t b) { return {At(4 * b, 0), At(4 * b + 1, 0), At(4 * b + 2, 0), At(4 * b + 3, 0)}; }
    uint8_t At(uint32_t x, uint32_t y) { return rig.At(x, y); }
    void Remap(const std::vector<uint8_t>& greys, uint32_t count) {
        std::vector<uint8_t> caller;
        for (uint8_t g : greys) caller.insert(caller.end(), {g, g, g});
        QuarvColorRemap(rig.movie.get(), caller.data(), count, 0);
    }
};

using Row = std::array<uint8_t, 4>;

}  // namespace

TEST(ColorRemap, DecoderWritesTheCallersIndices) {
    RemapRig r;
    // Caller greys 5, 0, 6, 9, 1, 3. Nearest entries, searched from entry i:
    // 0 -> 1, 1 -> 4, 3 -> 5, 5 -> 0, 6 -> 2, 7 -> 2, 9 -> 3.
    r.Remap({5, 0, 6, 9, 1, 3}, 6);
    r.rig.Decode(r.KindsFrame());
    EXPECT_EQ(r.Row(0), (Row{5, 3, 4, 0}));  // full row 03 09 01 05
    EXPECT_EQ(r.Row(1), (Row{2, 2, 2, 2}));  // solid 6
    EXPECT_EQ(r.Row(2), (Row{5, 4, 4, 4}));  // pair 03/01, top-left high
    EXPECT_EQ(r.Row(3), (Row{2, 2, 2, 2}));  // pair 06/06
    EXPECT_EQ(r.At(0, 3), 5);                // later rows too
    EXPECT_EQ(r.At(9, 1), 4);

    // The recent values still compare coded values: 06 06 and 07 07 both
    // show as 2, yet escape 2 after C, A, B yields C. Escape 0 at the start
    // of a frame yields the remapped reset pair (remap[0] = 1).
    r.rig.Decode(r.CacheFrame());
    EXPECT_EQ(r.Row(0), (Row{1, 1, 1, 1}));
    EXPECT_EQ(r.Row(1), (Row{3, 3, 3, 3}));
    EXPECT_EQ(r.Row(2), (Row{2, 2, 2, 2}));
    EXPECT_EQ(r.Row(3), (Row{2, 2, 2, 2}));
    EXPECT_EQ(r.Row(4), (Row{3, 3, 3, 3}));
}

TEST(ColorRemap, RemapAgainStartsFromTheMovieColours) {
    RemapRig r;
    r.Remap({5, 0, 6, 9, 1, 3}, 6);
    std::vector<uint8_t> identity;
    for (int i = 0; i < 256; ++i) identity.push_back(static_cast<uint8_t>(i));
    // More entries than a palette has are taken as 256 (the buffer holds
    // exactly 256, so reading further would show under the sanitizers).
    r.Remap(identity, 1000);
    r.rig.Decode(r.KindsFrame());
    EXPECT_EQ(r.Row(0), (Row{3, 9, 1, 5}));
    EXPECT_EQ(r.Row(1), (Row{6, 6, 6, 6}));
    EXPECT_EQ(r.Row(2), (Row{3, 1, 1, 1}));
    r.rig.Decode(r.CacheFrame());
    EXPECT_EQ(r.Row(0), (Row{0, 0, 0, 0}));
}

TEST(ColorRemap, NoEntriesMeansNoRemap) {
    RemapRig r;
    r.Remap({}, 0);
    r.Remap({200}, 0);
    r.rig.Decode(r.KindsFrame());
    EXPECT_EQ(r.Row(0), (Row{3, 9, 1, 5}));
    EXPECT_EQ(r.Row(1), (Row{6, 6, 6, 6}));
    QuarvColorRemap(nullptr, nullptr, 5, 0);  // a null movie is ignored
}
