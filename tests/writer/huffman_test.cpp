// Code lengths and prefix trees behind every tree the writer stores.
#include <gtest/gtest.h>

#include <random>

#include "writer/huffman.h"

namespace {

double Kraft(const std::vector<uint8_t>& lengths) {
    double k = 0;
    for (uint8_t l : lengths) k += std::ldexp(1.0, -l);
    return k;
}

TEST(Huffman, LengthsAreOptimalCompleteAndLimited) {
    EXPECT_EQ(qvw::HuffmanLengths({{7, 1}, {8, 1}, {9, 2}, {10, 4}}, 32),
              (std::vector<uint8_t>{3, 3, 2, 1}));
    EXPECT_EQ(qvw::HuffmanLengths({{42, 5}}, 32), std::vector<uint8_t>{0});
    EXPECT_TRUE(qvw::HuffmanLengths({}, 32).empty());

    // Fibonacci weights make a chain 39 deep; the limits cut it.
    std::vector<qvw::SymbolFreq> fib;
    uint64_t a = 1, b = 1;
    for (uint32_t i = 0; i < 40; ++i) {
        fib.push_back({i, a});
        uint64_t c = a + b;
        a = b;
        b = c;
    }
    std::vector<uint8_t> unlimited = qvw::HuffmanLengths(fib, 63);
    EXPECT_EQ(*std::max_element(unlimited.begin(), unlimited.end()), 39);
    for (int limit : {6, 12, 32}) {
        std::vector<uint8_t> l = qvw::HuffmanLengths(fib, limit);
        EXPECT_LE(*std::max_element(l.begin(), l.end()), limit);
        EXPECT_DOUBLE_EQ(Kraft(l), 1.0);
        for (size_t i = 1; i < l.size(); ++i) EXPECT_LE(l[i], l[i - 1]) << "heavier symbols are never longer";
    }
    std::mt19937 rng(3);
    std::vector<qvw::SymbolFreq> many;
    for (uint32_t i = 0; i < 5000; ++i) many.push_back({i, 1 + rng() % 1000});
    EXPECT_DOUBLE_EQ(Kraft(qvw::HuffmanLengths(many, 32)), 1.0);
}

TEST(Huffman, PrefixTreesFillOpenBranchesAndRefuseOverfullCodes) {
    qvw::PrefixTree t;
    std::vector<qvw::Code> codes;
    ASSERT_TRUE(t.Build({1, 3}, &codes));
    // root, leaf "0", interior "1", interior "10", leaf "100", filler "101", filler "11"
    EXPECT_EQ(t.NodeCount(), 7u);
    EXPECT_EQ(t.FillerCount(), 2u);
    EXPECT_EQ(codes[0].len, 1);
    EXPECT_EQ(codes[0].bits, 0u);
    EXPECT_EQ(codes[1].len, 3);
    EXPECT_EQ(codes[1].bits, 1u);  // path 1,0,0 with the first bit in bit 0

    ASSERT_TRUE(t.Build({0}, &codes));
    EXPECT_EQ(t.NodeCount(), 1u);
    EXPECT_TRUE(t.nodes[0].IsLeaf());
    EXPECT_FALSE(t.Build({1, 1, 1}, &codes));
    EXPECT_FALSE(t.Build({0, 1}, &codes));
    EXPECT_FALSE(t.Build({33}, &codes));

    // A complete code has no fillers, and every code walks to its own leaf.
    ASSERT_TRUE(t.Build({2, 2, 3, 3, 2}, &codes));
    EXPECT_EQ(t.FillerCount(), 0u);
    for (size_t s = 0; s < codes.size(); ++s) {
        int32_t n = 0;
        for (unsigned b = 0; b < codes[s].len; ++b)
            n = (codes[s].bits >> b & 1) ? t.nodes[n].right : t.nodes[n].left;
        EXPECT_EQ(t.nodes[n].leaf, int32_t(s));
    }
}

}  // namespace
