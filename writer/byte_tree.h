// An 8-bit code tree as the movie stores it: pre-order, 1 = interior node,
// 0 = leaf followed by its 8-bit value. Used for the low and high bytes of
// the value trees' leaves and for the delta bytes of packed sound.
#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "writer/bit_writer.h"
#include "writer/huffman.h"

namespace qvw {

class ByteTree {
public:
    // Huffman tree over the byte counts; a single leaf of value 0 when all
    // counts are 0.
    void Build(const std::array<uint64_t, 256>& counts);
    // The node sequence (without the closing bit).
    void Write(BitWriter* bw) const { WriteNode(bw, 0); }
    void Put(BitWriter* bw, uint8_t v) const { bw->Put(codes_[v].bits, codes_[v].len); }
    uint8_t Length(uint8_t v) const { return codes_[v].len; }

private:
    void WriteNode(BitWriter* bw, int32_t node) const;
    std::array<Code, 256> codes_{};
    PrefixTree tree_;
    std::vector<uint8_t> values_;  // symbol index -> byte value
};

}  // namespace qvw
