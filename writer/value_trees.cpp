#include "writer/value_trees.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace qvw {
namespace {

const char* const kTreeNames[4] = {"map", "colour", "full", "type"};

std::string TreeError(int t, const std::string& what) {
    return std::string("the ") + kTreeNames[t] + " tree: " + what;
}

}  // namespace

void ValueTrees::Count(const std::vector<uint32_t>& tokens) {
    for (uint32_t tok : tokens) {
        std::vector<uint32_t>& c = counts_[TokenTree(tok)];
        if (c.empty()) c.assign(size_t(65536) << 3, 0);
        c[TokenValue(tok) << 3 | TokenHits(tok)]++;
    }
}

int ValueTrees::PairToGiveUp() const {
    std::vector<uint64_t> per_value[4];
    for (int t = 0; t < 4; ++t) {
        per_value[t].assign(65536, 0);
        for (size_t key = 0; key < counts_[t].size(); ++key) per_value[t][key >> 3] += counts_[t][key];
    }
    // Escape leaves store 0, so 0 is no candidate for the marker.
    int best = -1;
    for (uint32_t v = 1; v < 65536; ++v) {
        bool others = per_value[kMapTree][v] || per_value[kColorTree][v] || per_value[kTypeTree][v];
        if (!others && !per_value[kFullTree][v]) return -1;  // a value is free already
        if (!others && (best < 0 || per_value[kFullTree][v] < per_value[kFullTree][best])) best = static_cast<int>(v);
    }
    return best;
}

void ValueTrees::Build(const std::array<TreeOverride, 4>& overrides, int max_code_length) {
    for (int t = 0; t < 4; ++t) BuildOne(t, overrides[t], max_code_length);

    // The interior-node marker is the lowest value no leaf stores (escape
    // leaves store 0): one must be left over.
    std::vector<bool> used(65536, false);
    for (const Model& m : models_) {
        if (!m.present) continue;
        for (size_t n = 0; n < m.tree.nodes.size(); ++n) {
            if (!m.tree.nodes[n].IsLeaf()) continue;
            uint16_t x = m.node_value[n];
            bool esc = x == m.escape[0] || x == m.escape[1] || x == m.escape[2];
            used[esc ? 0 : x] = true;
        }
    }
    auto free_value = std::find(used.begin(), used.end(), false);
    if (free_value == used.end())
        throw std::runtime_error("the value trees together use all 65536 values; the pictures cannot be coded");
    not_a_leaf_ = static_cast<uint16_t>(free_value - used.begin());
}

void ValueTrees::BuildOne(int t, const TreeOverride& ov, int max_code_length) {
    Model& m = models_[t];
    m = Model{};
    m.literal.assign(65536, Code{0, kNone});
    for (Code& c : m.escape_code) c.len = kNone;

    std::vector<std::pair<uint32_t, uint64_t>> occ;  // (value << 3 | hits, count)
    for (uint32_t key = 0; key < counts_[t].size(); ++key)
        if (counts_[t][key]) occ.emplace_back(key, counts_[t][key]);

    using Presence = TreeOverride::Presence;
    m.present = ov.presence == Presence::Present ||
                (ov.presence == Presence::Auto && (!occ.empty() || !ov.code_lengths.empty()));
    if (!m.present) {
        m.size_field = ov.size_field.value_or(12);
        if (ov.escape_values) m.escape = *ov.escape_values;
        return;
    }

    const bool explicit_escapes = ov.escape_values.has_value();
    std::array<uint16_t, 3> given{};
    if (explicit_escapes) {
        given = *ov.escape_values;
    } else {
        // Escape values must be values the tree does not code. When fewer
        // than three are left, the last one repeats and the repeats are
        // unusable: a repeated value only ever matches its first position.
        std::vector<bool> in_use(65536, false);
        for (const auto& kv : occ) in_use[kv.first >> 3] = true;
        for (const auto& kv : ov.code_lengths)
            if (kv.first < kEscapeKey) in_use[kv.first] = true;
        int found = 0;
        for (uint32_t v = 0; v < 65536 && found < 3; ++v)
            if (!in_use[v]) given[found++] = static_cast<uint16_t>(v);
        if (found == 0) throw std::runtime_error(TreeError(t, "every 16-bit value is in use"));
        for (int k = found; k < 3; ++k) given[k] = given[found - 1];
    }
    std::array<bool, 3> escape_ok{};
    for (int k = 0; k < 3; ++k) {
        escape_ok[k] = ov.use_escapes;
        for (int j = 0; j < k; ++j)
            if (given[j] == given[k]) escape_ok[k] = false;
    }
    auto literal_ok = [&](uint32_t v) { return v != given[0] && v != given[1] && v != given[2]; };

    std::vector<uint32_t> keys;  // leaf symbols: value, or kEscapeKey + k
    std::vector<uint8_t> lengths;
    if (ov.code_lengths.empty()) {
        // Alternate between choosing codes and fitting the tree to the choice:
        // first every cache hit takes an escape, then each value takes the
        // shorter of its own code and an escape code available to it.
        std::vector<uint8_t> lit_len(65536, kNone);
        std::array<uint8_t, 3> esc_len{kNone, kNone, kNone};
        std::vector<uint64_t> lit_freq(65536, 0);
        std::vector<uint32_t> touched;
        const int eff_max = std::min(32, std::max(max_code_length, 1));
        for (int iter = 0; iter < 3; ++iter) {
            for (uint32_t v : touched) lit_freq[v] = 0;
            touched.clear();
            std::array<uint64_t, 3> esc_freq{};
            for (const auto& [key, count] : occ) {
                const uint32_t v = key >> 3;
                const unsigned hits = key & 7;
                int choice = -1;  // 0..2 escape, 3 literal
                unsigned best = 256;
                if (iter == 0) {
                    for (int k = 0; k < 3 && choice < 0; ++k)
                        if ((hits >> k & 1) && escape_ok[k]) choice = k;
                    if (choice < 0 && literal_ok(v)) choice = 3;
                } else {
                    if (literal_ok(v) && lit_len[v] != kNone) best = lit_len[v], choice = 3;
                    for (int k = 0; k < 3; ++k)
                        if ((hits >> k & 1) && escape_ok[k] && esc_len[k] != kNone && esc_len[k] <= best)
                            best = esc_len[k], choice = k;
                }
                if (choice < 0)
                    throw std::invalid_argument(
                        TreeError(t, "value " + std::to_string(v) + " equals an escape value and cannot be coded"));
                if (choice == 3) {
                    if (lit_freq[v] == 0) touched.push_back(v);
                    lit_freq[v] += count;
                } else {
                    esc_freq[choice] += count;
                }
            }
            std::vector<SymbolFreq> symbols;
            std::sort(touched.begin(), touched.end());
            for (uint32_t v : touched) symbols.push_back({v, lit_freq[v]});
            for (uint32_t k = 0; k < 3; ++k)
                if (esc_freq[k]) symbols.push_back({kEscapeKey + k, esc_freq[k]});
            int limit = eff_max;
            while (limit < 32 && (uint64_t(1) << limit) < symbols.size()) ++limit;
            std::vector<uint8_t> lens = HuffmanLengths(symbols, limit);
            std::fill(lit_len.begin(), lit_len.end(), kNone);
            esc_len = {kNone, kNone, kNone};
            keys.clear();
            for (size_t i = 0; i < symbols.size(); ++i) {
                keys.push_back(symbols[i].symbol);
                if (symbols[i].symbol >= kEscapeKey)
                    esc_len[symbols[i].symbol - kEscapeKey] = lens[i];
                else
                    lit_len[symbols[i].symbol] = lens[i];
            }
            lengths = lens;
        }
    } else {
        for (const auto& [key, len] : ov.code_lengths) {
            if (key >= kEscapeKey + 3 || len < 0 || len > 32)
                throw std::invalid_argument(TreeError(t, "bad code length entry"));
            keys.push_back(key);
            lengths.push_back(static_cast<uint8_t>(len));
        }
    }

    std::vector<bool> taken(65536, false);
    for (uint32_t key : keys)
        if (key < kEscapeKey) taken[key] = true;
    auto next_free = [&](uint32_t from) -> uint32_t {
        while (from < 65536 && taken[from]) ++from;
        if (from >= 65536) throw std::runtime_error(TreeError(t, "every 16-bit value is in use"));
        return from;
    };
    m.escape = given;
    for (uint16_t e : m.escape) taken[e] = true;

    std::vector<uint16_t> stored(keys.size());
    for (size_t i = 0; i < keys.size(); ++i)
        stored[i] = keys[i] >= kEscapeKey ? m.escape[keys[i] - kEscapeKey] : static_cast<uint16_t>(keys[i]);
    if (keys.empty()) {  // present but unused: one leaf of a spare value
        stored.push_back(static_cast<uint16_t>(next_free(0)));
        taken[stored.back()] = true;
        lengths.push_back(0);
    }

    std::vector<Code> codes;
    if (!m.tree.Build(lengths, &codes))
        throw std::invalid_argument(TreeError(t, "code lengths do not form a prefix code"));

    m.node_value.assign(m.tree.nodes.size(), 0);
    uint32_t filler = 0;
    std::array<uint64_t, 256> low{}, high{};
    for (size_t n = 0; n < m.tree.nodes.size(); ++n) {
        const PrefixTree::Node& nd = m.tree.nodes[n];
        if (!nd.IsLeaf()) continue;
        uint16_t x;
        if (nd.leaf >= 0) {
            x = stored[nd.leaf];
        } else {
            filler = next_free(filler);
            x = static_cast<uint16_t>(filler);
            taken[filler++] = true;
        }
        m.node_value[n] = x;
        low[x & 0xFF]++;
        high[x >> 8]++;
        m.leaves++;
    }
    for (size_t i = 0; i < stored.size(); ++i) {
        const uint16_t x = stored[i];
        const Code c = codes[i];
        m.max_code = std::max<uint32_t>(m.max_code, c.len);
        int k = x == m.escape[0] ? 0 : x == m.escape[1] ? 1 : x == m.escape[2] ? 2 : -1;
        if (k >= 0) {
            if (m.escape_code[k].len == kNone) m.escape_code[k] = c;
            m.escape_leaf[k] = true;
        } else if (m.literal[x].len == kNone) {
            m.literal[x] = c;
        }
    }
    // Escape positions without a leaf of their own are unusable.
    if (!ov.use_escapes) m.escape_code = {Code{0, kNone}, Code{0, kNone}, Code{0, kNone}};
    m.low.Build(low);
    m.high.Build(high);
    m.size_field = ov.size_field.value_or(4 * (m.tree.NodeCount() + 3));
}

void ValueTrees::WriteMain(BitWriter* bw, const Model& m, int32_t node) const {
    const PrefixTree::Node& nd = m.tree.nodes[node];
    if (nd.IsLeaf()) {
        bw->PutBit(false);
        m.low.Put(bw, static_cast<uint8_t>(m.node_value[node]));
        m.high.Put(bw, static_cast<uint8_t>(m.node_value[node] >> 8));
        return;
    }
    bw->PutBit(true);
    WriteMain(bw, m, nd.left);
    WriteMain(bw, m, nd.right);
}

void ValueTrees::WriteTreeBlock(BitWriter* bw) const {
    for (const Model& m : models_) {
        bw->PutBit(m.present);
        if (!m.present) continue;
        bw->PutBit(true);
        m.low.Write(bw);
        bw->PutBit(false);
        bw->PutBit(true);
        m.high.Write(bw);
        bw->PutBit(false);
        for (uint16_t e : m.escape) bw->Put(e, 16);
        WriteMain(bw, m, 0);
        bw->PutBit(false);
    }
}

void ValueTrees::Emit(const std::vector<uint32_t>& tokens, BitWriter* bw) const {
    for (uint32_t tok : tokens) {
        const int t = TokenTree(tok);
        const Model& m = models_[t];
        if (!m.present) continue;
        const uint32_t v = TokenValue(tok);
        const unsigned hits = TokenHits(tok);
        Code best = m.literal[v];
        for (int k = 0; k < 3; ++k) {
            const Code& e = m.escape_code[k];
            if ((hits >> k & 1) && e.len != kNone && (best.len == kNone || e.len <= best.len)) best = e;
        }
        if (best.len == kNone)
            throw std::invalid_argument(TreeError(t, "no code for value " + std::to_string(v)));
        bw->Put(best.bits, best.len);
    }
}

uint32_t ValueTrees::SizeField(int t) const { return models_[t].size_field; }

void ValueTrees::FillReport(WriteReport* r) const {
    for (int t = 0; t < 4; ++t) {
        const Model& m = models_[t];
        r->tree_present[t] = m.present;
        r->tree_nodes[t] = m.present ? m.tree.NodeCount() : 0;
        r->tree_leaves[t] = m.leaves;
        r->tree_max_code[t] = m.max_code;
        r->escape_values[t] = m.escape;
        r->escape_leaf[t] = m.escape_leaf;
    }
    r->not_a_leaf = not_a_leaf_;
}

}  // namespace qvw
