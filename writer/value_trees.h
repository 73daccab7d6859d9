// The four value trees of a movie: chosen from the values the video uses,
// written once into the tree block, then used to code every frame.
//
// Each tree decodes values through a cache of the last three distinct
// values (reset to 0, 0, 0 at every frame start). Three escape leaves stand
// for "the value at cache position k"; a value found in the cache is sent as
// its escape code when that is shorter than its own code, and values only
// ever sent that way need no leaf of their own.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "writer/bit_writer.h"
#include "writer/byte_tree.h"
#include "writer/huffman.h"
#include "writer/writer.h"

namespace qvw {

// A value to code: the value, its tree, and which cache positions held the
// same value at that moment (bit k = position k).
inline uint32_t MakeToken(int tree, uint32_t value, unsigned hits) {
    return (value & 0xFFFF) | uint32_t(tree) << 16 | uint32_t(hits) << 18;
}
inline int TokenTree(uint32_t t) { return (t >> 16) & 3; }
inline uint32_t TokenValue(uint32_t t) { return t & 0xFFFF; }
inline unsigned TokenHits(uint32_t t) { return (t >> 18) & 7; }

// The recent-value cache of one tree, as the player keeps it.
struct RecentValues {
    uint16_t v[3] = {0, 0, 0};
    // Records `value` and returns which positions held it before.
    unsigned Use(uint16_t value) {
        unsigned hits = (v[0] == value) | (v[1] == value) << 1 | (v[2] == value) << 2;
        if (value != v[0]) {
            v[2] = v[1];
            v[1] = v[0];
            v[0] = value;
        }
        return hits;
    }
};

class ValueTrees {
public:
    // Counts the values of one frame's tokens.
    void Count(const std::vector<uint32_t>& tokens);
    // Chooses the trees. Throws when the values cannot be coded.
    void Build(const std::array<TreeOverride, 4>& overrides, int max_code_length);
    // When the counted values leave no value but 0 unused by all four trees
    // (the interior-node marker needs one, and escape leaves take 0), the
    // full-block pixel pair to give up: the rarest one no other tree uses.
    // -1 when nothing needs giving up.
    int PairToGiveUp() const;
    void Reset() { counts_ = {}; }

    void WriteTreeBlock(BitWriter* bw) const;
    // Codes one frame's tokens.
    void Emit(const std::vector<uint32_t>& tokens, BitWriter* bw) const;

    uint32_t SizeField(int t) const;
    void FillReport(WriteReport* report) const;

private:
    static constexpr uint8_t kNone = 0xFF;
    struct Model {
        bool present = false;
        std::array<uint16_t, 3> escape{};
        std::array<bool, 3> escape_leaf{};
        PrefixTree tree;
        std::vector<uint16_t> node_value;  // stored value of each leaf node
        std::vector<Code> literal;         // per value; len kNone = no leaf
        std::array<Code, 3> escape_code{};
        ByteTree low, high;
        uint32_t leaves = 0, max_code = 0;
        uint32_t size_field = 12;
    };
    void BuildOne(int t, const TreeOverride& ov, int max_code_length);
    void WriteMain(BitWriter* bw, const Model& m, int32_t node) const;

    // Counts per (value << 3 | hits), per tree.
    std::array<std::vector<uint32_t>, 4> counts_;
    std::array<Model, 4> models_;
    uint16_t not_a_leaf_ = 0;
};

}  // namespace qvw
