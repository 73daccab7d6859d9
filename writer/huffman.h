// Prefix codes as the movie stores them: full binary trees written in
// pre-order, where a 0 bit walks to the left child and a 1 bit to the right.
#pragma once
#include <cstdint>
#include <vector>

namespace qvw {

struct SymbolFreq {
    uint32_t symbol;
    uint64_t freq;  // > 0
};

// Huffman code lengths for the symbols, in input order, none longer than
// max_len (1..32). One symbol gets length 0: a tree whose root is the leaf.
std::vector<uint8_t> HuffmanLengths(const std::vector<SymbolFreq>& symbols, int max_len);

// A code: `len` path bits with the first bit to write in bit 0.
struct Code {
    uint32_t bits = 0;
    uint8_t len = 0;
};

struct PrefixTree {
    struct Node {
        int32_t left = -1, right = -1;  // children (interior nodes)
        int32_t leaf = -1;              // index into the input symbols, -2 = filler leaf
        bool IsLeaf() const { return left < 0; }
    };
    std::vector<Node> nodes;  // nodes[0] is the root

    // Builds the canonical tree for the lengths (same order as `symbols`).
    // Branches the lengths leave open become filler leaves. Returns false when
    // the lengths cannot form a prefix code, or a length 0 is not alone.
    bool Build(const std::vector<uint8_t>& lengths, std::vector<Code>* codes);

    // Number of nodes of the pre-order sequence.
    uint32_t NodeCount() const { return static_cast<uint32_t>(nodes.size()); }
    uint32_t FillerCount() const;
};

}  // namespace qvw
