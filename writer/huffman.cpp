#include "writer/huffman.h"

#include <algorithm>
#include <numeric>

namespace qvw {

std::vector<uint8_t> HuffmanLengths(const std::vector<SymbolFreq>& symbols, int max_len) {
    const size_t n = symbols.size();
    std::vector<uint8_t> lengths(n, 0);
    if (n <= 1) return lengths;

    // Leaves in ascending weight (ties by symbol, so results are repeatable).
    std::vector<uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        if (symbols[a].freq != symbols[b].freq) return symbols[a].freq < symbols[b].freq;
        return symbols[a].symbol < symbols[b].symbol;
    });

    // Two-queue construction: leaves 0..n-1 (sorted), internal nodes n.. in
    // the order they are made, which is also ascending weight.
    std::vector<uint64_t> weight(2 * n - 1);
    std::vector<uint32_t> parent(2 * n - 1, 0);
    for (size_t i = 0; i < n; ++i) weight[i] = symbols[order[i]].freq;
    size_t leaf = 0, inner = n, made = n;
    auto take = [&]() -> size_t {
        if (leaf < n && (inner >= made || weight[leaf] <= weight[inner])) return leaf++;
        return inner++;
    };
    while (made < 2 * n - 1) {
        size_t a = take(), b = take();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint32_t>(made);
        ++made;
    }
    std::vector<uint32_t> depth(2 * n - 1, 0);
    for (size_t i = 2 * n - 2; i-- > 0;) depth[i] = depth[parent[i]] + 1;

    // Histogram of lengths, then the classic fix-up for lengths above the
    // limit: two deepest siblings become one leaf a level up plus a split of
    // a shallower leaf, which keeps the code complete.
    uint32_t deepest = 0;
    for (size_t i = 0; i < n; ++i) deepest = std::max(deepest, depth[i]);
    std::vector<uint32_t> count(std::max<uint32_t>(deepest, max_len) + 2, 0);
    for (size_t i = 0; i < n; ++i) count[depth[i]]++;
    for (int i = static_cast<int>(deepest); i > max_len; --i) {
        while (count[i] > 0) {
            int j = i - 2;
            while (j > 0 && count[j] == 0) --j;
            count[i] -= 2;
            count[i - 1] += 1;
            count[j + 1] += 2;
            count[j] -= 1;
        }
    }
    // Most frequent symbols get the shortest codes.
    size_t pos = n;
    for (size_t len = 1; len < count.size(); ++len) {
        for (uint32_t k = 0; k < count[len]; ++k) lengths[order[--pos]] = static_cast<uint8_t>(len);
    }
    return lengths;
}

bool PrefixTree::Build(const std::vector<uint8_t>& lengths, std::vector<Code>* codes) {
    nodes.assign(1, Node{});
    codes->assign(lengths.size(), Code{});
    if (lengths.empty()) return false;
    if (lengths.size() == 1 && lengths[0] == 0) {
        nodes[0].leaf = 0;
        return true;
    }
    std::vector<uint32_t> order(lengths.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](uint32_t a, uint32_t b) { return lengths[a] < lengths[b]; });
    uint64_t code = 0;
    unsigned prev_len = 0;
    for (uint32_t idx : order) {
        unsigned len = lengths[idx];
        if (len == 0 || len > 32) return false;
        code <<= (len - prev_len);
        prev_len = len;
        if (code >> len) return false;  // more codes than the lengths allow
        // Walk (and grow) the tree along the code, first bit at the top.
        uint32_t path = 0;
        int32_t node = 0;
        for (unsigned b = 0; b < len; ++b) {
            unsigned bit = static_cast<unsigned>(code >> (len - 1 - b)) & 1;
            path |= bit << b;
            Node& cur = nodes[node];
            if (cur.leaf >= 0) return false;
            if (cur.left < 0) {
                int32_t l = static_cast<int32_t>(nodes.size());
                nodes.push_back(Node{});
                nodes.push_back(Node{});
                nodes[node].left = l;
                nodes[node].right = l + 1;
            }
            node = bit ? nodes[node].right : nodes[node].left;
        }
        nodes[node].leaf = static_cast<int32_t>(idx);
        (*codes)[idx] = Code{path, static_cast<uint8_t>(len)};
        ++code;
    }
    // Childless nodes that carry no symbol are the fillers of an incomplete code.
    for (Node& nd : nodes)
        if (nd.left < 0 && nd.leaf < 0) nd.leaf = -2;
    return true;
}

uint32_t PrefixTree::FillerCount() const {
    uint32_t c = 0;
    for (const Node& nd : nodes) c += nd.leaf == -2;
    return c;
}

}  // namespace qvw
