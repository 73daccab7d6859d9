#include "writer/byte_tree.h"

namespace qvw {

void ByteTree::Build(const std::array<uint64_t, 256>& counts) {
    std::vector<SymbolFreq> used;
    for (uint32_t v = 0; v < 256; ++v)
        if (counts[v]) used.push_back({v, counts[v]});
    if (used.empty()) used.push_back({0, 1});
    std::vector<Code> c;
    tree_.Build(HuffmanLengths(used, 32), &c);
    codes_ = {};
    values_.clear();
    for (size_t i = 0; i < used.size(); ++i) {
        codes_[used[i].symbol] = c[i];
        values_.push_back(static_cast<uint8_t>(used[i].symbol));
    }
}

void ByteTree::WriteNode(BitWriter* bw, int32_t node) const {
    const PrefixTree::Node& nd = tree_.nodes[node];
    if (nd.IsLeaf()) {
        bw->PutBit(false);
        bw->Put(nd.leaf >= 0 ? values_[nd.leaf] : 0, 8);
        return;
    }
    bw->PutBit(true);
    WriteNode(bw, nd.left);
    WriteNode(bw, nd.right);
}

}  // namespace qvw
