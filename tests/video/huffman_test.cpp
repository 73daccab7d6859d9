// Tree building and value decoding: code lengths, escapes and the three
// recent values, NotALeaf, sizes, and malformed tree blocks.
#include <gtest/gtest.h>

#include <random>

#include "tests/video/video_stream.h"
#include "video/huffman.h"

using namespace vtest;

namespace {

// A tree of one leaf, so that the other three trees cost nothing.
TreePlan Single(uint32_t v) {
    TreePlan t;
    t.leaves = {{v, ""}};
    return t;
}

struct Fixture4 {
    TreePlan trees[4] = {Single(1), Single(2), Single(3), Single(4)};
};

// Decodes `count` values of one tree from `bytes` with reader R, recording
// the bits consumed after each value.
template <class R>
std::vector<std::pair<uint32_t, uint64_t>> DecodeAll(Tables& tables, int tree, const std::vector<uint8_t>& bytes,
                                                     size_t count) {
    ResetRecentValues(tables.get());
    R reader;
    reader.Start(bytes.data(), bytes.size());
    ValueDecoder<R> dec(tables.get(), &reader);
    std::vector<std::pair<uint32_t, uint64_t>> out;
    for (size_t i = 0; i < count; ++i) {
        uint32_t v = 0;
        switch (tree) {
            case kMapTree: v = dec.template Decode<kMapTree>(); break;
            case kColorTree: v = dec.template Decode<kColorTree>(); break;
            case kFullTree: v = dec.template Decode<kFullTree>(); break;
            default: v = dec.template Decode<kTypeTree>(); break;
        }
        out.push_back({v, reader.BitsConsumed()});
    }
    return out;
}

std::vector<uint32_t> Range(uint32_t from, uint32_t n) {
    std::vector<uint32_t> v;
    for (uint32_t i = 0; i < n; ++i) v.push_back(from + i);
    return v;
}

}  // namespace

TEST(Huffman, LongCodesDecodeAlikeWithBothReaders) {
    // Code lengths 1..40 in the colour tree and 1..10 in the type tree, whose
    // lookup is only 10 bits wide.
    for (int tree : {kColorTree, kTypeTree}) {
        Fixture4 f;
        const uint32_t n = tree == kTypeTree ? 11 : 41;
        f.trees[tree].leaves = CombCodes(Range(0x300, n));
        Tables tables = Tables::Build(f.trees);

        std::mt19937 rng(7);
        BitWriter w;
        std::vector<std::pair<uint32_t, uint64_t>> expected;
        for (int i = 0; i < 400; ++i) {
            uint32_t v = 0x300 + rng() % n;
            w.Code(f.trees[tree].Code(v));
            expected.push_back({v, w.Bits()});
        }
        auto plain = DecodeAll<BitReader32>(tables, tree, w.Bytes(), expected.size());
        auto wide = DecodeAll<BitReader64>(tables, tree, w.Bytes(), expected.size());
        EXPECT_EQ(plain, expected) << "tree " << tree;
        EXPECT_EQ(wide, expected) << "tree " << tree;
    }
}

TEST(Huffman, ThirtyTwoBitCodeAtEveryAlignment) {
    // The longest code of a 33-leaf comb is 32 ones; preceded by k one-bit
    // codes it starts at every position within the readers' words.
    Fixture4 f;
    f.trees[kMapTree].leaves = CombCodes(Range(0x10, 33));
    Tables tables = Tables::Build(f.trees);
    for (int k = 0; k < 64; ++k) {
        BitWriter w;
        std::vector<std::pair<uint32_t, uint64_t>> expected;
        for (int i = 0; i < k; ++i) {
            w.Code("0");
            expected.push_back({0x10, w.Bits()});
        }
        w.Code(std::string(32, '1'));
        expected.push_back({0x10 + 32, w.Bits()});
        w.Code(std::string(31, '1') + "0");
        expected.push_back({0x10 + 31, w.Bits()});
        EXPECT_EQ((DecodeAll<BitReader32>(tables, kMapTree, w.Bytes(), expected.size())), expected) << k;
        EXPECT_EQ((DecodeAll<BitReader64>(tables, kMapTree, w.Bytes(), expected.size())), expected) << k;
    }
}

TEST(Huffman, ManyLongCodesOutlastTheSecondLevelTables) {
    // 2^13 leaves of 13 bits: every first-level entry of each tree ends one
    // bit short, more than the second-level tables have room for, so some
    // codes finish through the walk. Code length mixes: 14-bit codes too.
    Fixture4 f;
    for (int tree : {kMapTree, kColorTree}) {
        CodeList codes = BalancedCodes(Range(0, 8192));
        // Split the last leaf into two 14-bit ones.
        const uint32_t last = codes.back().first;
        const std::string c = codes.back().second;
        codes.back() = {last, c + "0"};
        codes.push_back({0x9000u + static_cast<uint32_t>(tree), c + "1"});
        f.trees[tree].leaves = codes;
    }
    Tables tables = Tables::Build(f.trees);
    for (int tree : {kMapTree, kColorTree}) {
        std::mt19937 rng(tree);
        BitWriter w;
        std::vector<std::pair<uint32_t, uint64_t>> expected;
        for (int i = 0; i < 3000; ++i) {
            const auto& leaf = f.trees[tree].leaves[i < 2 ? f.trees[tree].leaves.size() - 1 - i : rng() % 8193];
            w.Code(leaf.second);
            expected.push_back({leaf.first, w.Bits()});
        }
        EXPECT_EQ(DecodeAll<BitReader32>(tables, tree, w.Bytes(), expected.size()), expected);
        EXPECT_EQ(DecodeAll<BitReader64>(tables, tree, w.Bytes(), expected.size()), expected);
    }
}

TEST(Huffman, RootLeafCostsNoBitsAndStillEntersTheCache) {
    Fixture4 f;
    f.trees[kTypeTree] = Single(0x0503);
    Tables tables = Tables::Build(f.trees);
    std::vector<uint8_t> none;
    auto got = DecodeAll<BitReader32>(tables, kTypeTree, none, 3);
    for (auto& [v, bits] : got) {
        EXPECT_EQ(v, 0x0503u);
        EXPECT_EQ(bits, 0u);
    }
    const TreeRecord& rec = tables.get()->Records[kTypeTree];
    EXPECT_EQ(*tables.get()->NodeAt(rec.Cache[0]) >> 16, 0x0503u);
    EXPECT_EQ(*tables.get()->NodeAt(rec.Cache[1]), 0u);  // the value came in once
}

TEST(Huffman, EscapesYieldTheRecentValues) {
    Fixture4 f;
    TreePlan& t = f.trees[kColorTree];
    t = Balanced({5, 7, 9, 0x100, 0x101, 0x102});
    t.esc[0] = 0x100;
    t.esc[1] = 0x101;
    t.esc[2] = 0x102;
    Tables tables = Tables::Build(f.trees);

    // value written -> value decoded, worked out from the cache rules.
    const std::vector<std::pair<uint32_t, uint32_t>> steps = {
        {0x100, 0},  // escape 0 first in a frame: 0
        {5, 5},     {7, 7}, {5, 5},  // cache now 5, 7, 5
        {5, 5},                      // same as the front: unchanged
        {0x102, 5},                  // position 2 holds 5 as well
        {0x100, 5}, {0x101, 7},      // 7 moves to the front: 7, 5, 7
        {0x100, 7}, {0x101, 5},      // 5 back to the front: 5, 7, 5
        {0x102, 5}, {0x101, 7},      // 7, 5, 7
        {0x102, 7}, {0x101, 5},      // 5, 7, 7
    };
    BitWriter w;
    for (auto& s : steps) w.Code(t.Code(s.first));
    for (int reader = 0; reader < 2; ++reader) {
        auto got = reader ? DecodeAll<BitReader64>(tables, kColorTree, w.Bytes(), steps.size())
                          : DecodeAll<BitReader32>(tables, kColorTree, w.Bytes(), steps.size());
        for (size_t i = 0; i < steps.size(); ++i) EXPECT_EQ(got[i].first, steps[i].second) << "step " << i;
    }

    // The next frame starts again from 0, 0, 0.
    BitWriter w2;
    for (uint32_t e : {0x100u, 0x101u, 0x102u}) w2.Code(t.Code(e));
    auto got = DecodeAll<BitReader32>(tables, kColorTree, w2.Bytes(), 3);
    for (auto& g : got) EXPECT_EQ(g.first, 0u);
}

TEST(Huffman, EqualEscapeValuesMatchOnlyTheFirst) {
    Fixture4 f;
    TreePlan& t = f.trees[kFullTree];
    t = Balanced({5, 9, 11});
    t.esc[0] = 9;
    t.esc[1] = 9;
    t.esc[2] = 0x4444;
    Tables tables = Tables::Build(f.trees);
    DecodeTables* d = tables.get();
    const TreeRecord& rec = d->Records[kFullTree];
    const uint32_t spare = d->NodesEnd[kFullTree];
    EXPECT_LT(rec.Cache[0], spare);  // the leaf
    EXPECT_EQ(rec.Cache[1], spare + 4);
    EXPECT_EQ(rec.Cache[2], spare + 8);

    BitWriter w;
    for (uint32_t v : {9u, 5u, 9u, 11u, 9u}) w.Code(t.Code(v));
    auto got = DecodeAll<BitReader32>(tables, kFullTree, w.Bytes(), 5);
    const uint32_t expect[5] = {0, 5, 5, 11, 11};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(got[i].first, expect[i]) << i;
}

TEST(Huffman, UnmatchedEscapesUseSpareNodes) {
    Fixture4 f;
    TreePlan& t = f.trees[kMapTree];
    t = Balanced({1, 2, 7, 8});
    t.esc[0] = 0x1111;
    t.esc[1] = 7;  // matches
    t.esc[2] = 0x2222;
    Tables tables = Tables::Build(f.trees);
    DecodeTables* d = tables.get();
    const uint32_t spare = d->NodesEnd[kMapTree];
    const TreeRecord& rec = d->Records[kMapTree];
    EXPECT_EQ(rec.Cache[0], spare);
    EXPECT_LT(rec.Cache[1], spare);
    EXPECT_EQ(rec.Cache[2], spare + 4);  // the second spare once position 1 matched
    // Escapes that match nothing cost nothing: the codes are the plain ones.
    BitWriter w;
    for (uint32_t v : {1u, 2u, 8u, 7u, 1u, 7u}) w.Code(t.Code(v));
    auto got = DecodeAll<BitReader64>(tables, kMapTree, w.Bytes(), 6);
    const uint32_t expect[6] = {1, 2, 8, 2, 1, 2};  // 7 is the escape of position 1
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(got[i].first, expect[i]) << i;
        EXPECT_EQ(got[i].second, 2u * (i + 1));
    }
}

TEST(Huffman, NotALeafIsTheLowestFreeValueOfAllTrees) {
    Fixture4 f;
    f.trees[kMapTree] = Balanced({1, 2});
    f.trees[kColorTree] = Balanced({3, 0x500});
    f.trees[kFullTree] = Balanced({4, 5});
    f.trees[kTypeTree] = Balanced({6, 7});
    EXPECT_EQ(Tables::Build(f.trees).get()->NotALeaf, 0u);
    f.trees[kColorTree].esc[2] = 0x500;  // an escape leaf counts as 0
    EXPECT_EQ(Tables::Build(f.trees).get()->NotALeaf, 8u);
    f.trees[kTypeTree].present = false;
    EXPECT_EQ(Tables::Build(f.trees).get()->NotALeaf, 6u);
    // An absent tree decodes as a leaf of value 0, which therefore counts.
    f.trees[kColorTree].esc[2] = 0x4321;
    EXPECT_EQ(Tables::Build(f.trees).get()->NotALeaf, 6u);
    f.trees[kTypeTree].present = true;
    EXPECT_EQ(Tables::Build(f.trees).get()->NotALeaf, 0u);
}

TEST(Huffman, NodeArraysAndLookupEntries) {
    Fixture4 f;
    TreePlan& t = f.trees[kMapTree];
    t.leaves = {{10, "0"}, {11, "10"}, {12, "11"}};
    Tables tables = Tables::Build(f.trees);
    DecodeTables* d = tables.get();
    EXPECT_EQ(d->TreeSizes[kMapTree], 4u * (5 + 3));
    EXPECT_EQ(d->TreeSizes[kColorTree], 4u * (1 + 3));
    const uint32_t base = d->NodesBegin[kMapTree];
    EXPECT_EQ(base, DecodeTablesFixedSize());
    EXPECT_EQ(d->NodesEnd[kMapTree], base + 5 * 4);
    const uint32_t nal = d->NotALeaf;
    // Pre-order: root, 10, interior, 11, 12; right children 8 bytes on.
    const uint32_t expectNodes[5] = {1u << 16 | nal, 10u << 16 | 10, 1u << 16 | nal, 11u << 16 | 11, 12u << 16 | 12};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(*d->NodeAt(base + 4 * i), expectNodes[i]) << i;
    // Entry = node location x 256 + bits: index bit 0 is the first stream bit.
    EXPECT_EQ(d->MapLookup[0], (base + 4) << 8 | 1);
    EXPECT_EQ(d->MapLookup[0x0FFE], (base + 4) << 8 | 1);
    EXPECT_EQ(d->MapLookup[1], (base + 12) << 8 | 2);
    EXPECT_EQ(d->MapLookup[3], (base + 16) << 8 | 2);
    // A root leaf answers every index with 0 bits.
    const uint32_t colorRoot = base + d->TreeSizes[kMapTree];
    EXPECT_EQ(d->ColorLookup[0x0ABC], colorRoot << 8);
}

TEST(Huffman, BitsAfterTheFourthTreeAreIgnored) {
    Fixture4 f;
    f.trees[kTypeTree] = Balanced({0x10, 0x20, 0x30});
    BitWriter block = WriteTreeBlock(f.trees);
    uint32_t sizes[4];
    for (int i = 0; i < 4; ++i) sizes[i] = f.trees[i].Size();
    std::vector<uint8_t> withJunk = block.Bytes();
    for (int i = 0; i < 50; ++i) withJunk.push_back(static_cast<uint8_t>(0x5A + 37 * i));
    Tables a = Tables::Build(block.Bytes(), sizes);
    Tables b = Tables::Build(withJunk, sizes);
    EXPECT_EQ(a.storage, b.storage);
}

TEST(Huffman, AbsentByteTreesGiveZeroThenInheritThePreviousOnes) {
    Fixture4 f;
    // No low byte tree in the first tree: every low byte decodes as 0.
    f.trees[kMapTree] = Balanced({0x100, 0x200, 0x300});
    f.trees[kMapTree].lowByteTree = false;
    // The colour tree has neither and reads its bytes with the map tree's.
    f.trees[kColorTree] = Balanced({0x200, 0x300});
    f.trees[kColorTree].lowByteTree = false;
    f.trees[kColorTree].highByteTree = false;
    Tables tables = Tables::Build(f.trees);
    for (int tree : {kMapTree, kColorTree}) {
        BitWriter w;
        std::vector<std::pair<uint32_t, uint64_t>> expected;
        for (const auto& [v, code] : f.trees[tree].leaves) {
            w.Code(code);
            expected.push_back({v, w.Bits()});
        }
        EXPECT_EQ(DecodeAll<BitReader32>(tables, tree, w.Bytes(), expected.size()), expected);
    }
}

TEST(Huffman, AbsentTreesDecodeAsZeroWithoutBits) {
    Fixture4 f;
    for (auto& t : f.trees) t.present = false;
    Tables tables = Tables::Build(f.trees);
    std::vector<uint8_t> ones(16, 0xFF);
    for (int tree = 0; tree < 4; ++tree) {
        auto got = DecodeAll<BitReader64>(tables, tree, ones, 4);
        for (auto& g : got) {
            EXPECT_EQ(g.first, 0u);
            EXPECT_EQ(g.second, 0u);
        }
    }
}

TEST(Huffman, TreeLongerThanItsSizeStaysInsideItsArray) {
    Fixture4 f;
    f.trees[kFullTree] = Balanced(Range(0x40, 20));  // 39 nodes
    BitWriter block = WriteTreeBlock(f.trees);
    for (uint32_t claimed : {0u, 4u, 12u, 16u, 24u, 4u * 20, 4u * 41}) {
        uint32_t sizes[4];
        for (int i = 0; i < 4; ++i) sizes[i] = f.trees[i].Size();
        sizes[kFullTree] = claimed;
        Tables tables = Tables::Build(block.Bytes(), sizes);
        DecodeTables* d = tables.get();
        if (claimed < 16) {  // no room for a root and the three spares
            EXPECT_EQ(d->Present[kFullTree], 0u);
        } else {
            EXPECT_EQ(d->NodesBegin[kFullTree], d->NodesBegin[kColorTree] + d->TreeSizes[kColorTree]);
            EXPECT_LE(d->NodesEnd[kFullTree], d->NodesBegin[kFullTree] + claimed - 12);
        }
        // Whatever the cut tree now holds, decoding from it stays inside.
        std::vector<uint8_t> bits(64);
        for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 73 + 11);
        DecodeAll<BitReader32>(tables, kFullTree, bits, 100);
        DecodeAll<BitReader64>(tables, kFullTree, bits, 100);
    }
}

TEST(Huffman, OversizedByteTreeIsCut) {
    // A low byte tree of 700 interior nodes in a row, then zeros to the end.
    BitWriter w;
    w.Bit(1);  // map tree present
    w.Bit(1);  // low byte tree
    for (int i = 0; i < 700; ++i) w.Bit(1);
    for (int i = 0; i < 64; ++i) w.Bit(0);
    uint32_t sizes[4] = {4 * 64, 16, 16, 16};
    Tables tables = Tables::Build(w.Bytes(), sizes);
    std::vector<uint8_t> bits(32, 0xC3);
    DecodeAll<BitReader32>(tables, kMapTree, bits, 50);
    SUCCEED();  // the point is that no access left the buffers (sanitizer builds)
}

TEST(Huffman, RandomTreeBlocksNeverLeaveTheirBuffers) {
    std::mt19937 rng(12345);
    for (int iter = 0; iter < 300; ++iter) {
        std::vector<uint8_t> block(rng() % 200);
        for (auto& b : block) b = static_cast<uint8_t>(rng() % 4 == 0 ? 0xFF : rng());
        uint32_t sizes[4];
        for (auto& s : sizes) s = rng() % 3 == 0 ? rng() % 64 : rng() % 2048;
        Tables tables = Tables::Build(block, sizes);
        std::vector<uint8_t> bits(rng() % 40);
        for (auto& b : bits) b = static_cast<uint8_t>(rng());
        for (int tree = 0; tree < 4; ++tree) {
            auto a = DecodeAll<BitReader32>(tables, tree, bits, 20);
            auto b = DecodeAll<BitReader64>(tables, tree, bits, 20);
            EXPECT_EQ(a, b);
        }
    }
}

TEST(Huffman, AllValuesInUseStillDecodesSafely) {
    // 4 x 16384 leaves use every 16-bit value: no value is left for NotALeaf.
    Fixture4 f;
    for (int t = 0; t < 4; ++t) f.trees[t] = Balanced(Range(16384u * t, 16384));
    Tables tables = Tables::Build(f.trees);
    std::vector<uint8_t> bits(256);
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(i * 151);
    for (int tree = 0; tree < 4; ++tree) DecodeAll<BitReader32>(tables, tree, bits, 50);
    SUCCEED();
}
