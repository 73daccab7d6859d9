// Test-side writer of tree blocks and video bit streams, independent of the
// library: codes are given explicitly (as strings of '0'/'1' in stream order)
// or made balanced, and trees are serialised in pre-order as the movie format
// stores them.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "video/huffman.h"

namespace vtest {

class BitWriter {
public:
    void Bit(uint32_t b) {
        if (bits_ % 8 == 0) bytes_.push_back(0);
        if (b & 1) bytes_.back() |= static_cast<uint8_t>(1u << (bits_ % 8));
        ++bits_;
    }
    void Field(uint32_t value, int n) {
        for (int i = 0; i < n; ++i) Bit(value >> i & 1);
    }
    void Code(const std::string& code) {
        for (char c : code) Bit(c == '1');
    }
    void Append(const BitWriter& o) {
        for (size_t i = 0; i < o.bits_; ++i) Bit(o.bytes_[i / 8] >> (i % 8) & 1);
    }
    const std::vector<uint8_t>& Bytes() const { return bytes_; }
    size_t Bits() const { return bits_; }

private:
    std::vector<uint8_t> bytes_;
    size_t bits_ = 0;
};

using CodeList = std::vector<std::pair<uint32_t, std::string>>;

// A prefix code over the values, as balanced as their count allows.
inline CodeList BalancedCodes(std::vector<uint32_t> values) {
    CodeList out;
    struct Rec {
        static void Go(const std::vector<uint32_t>& v, size_t lo, size_t hi, const std::string& prefix, CodeList& out) {
            if (hi - lo == 1) {
                out.push_back({v[lo], prefix});
                return;
            }
            size_t mid = lo + (hi - lo) / 2;
            Go(v, lo, mid, prefix + "0", out);
            Go(v, mid, hi, prefix + "1", out);
        }
    };
    if (values.empty()) throw std::invalid_argument("no values");
    Rec::Go(values, 0, values.size(), "", out);
    return out;
}

// Value i gets i ones and a zero; the last one gets only ones: code lengths
// 1, 2, ..., n-1, n-1.
inline CodeList CombCodes(const std::vector<uint32_t>& values) {
    CodeList out;
    for (size_t i = 0; i < values.size(); ++i) {
        std::string c(i, '1');
        if (i + 1 < values.size()) c += '0';
        out.push_back({values[i], c});
    }
    return out;
}

// Pre-order serialisation of a complete prefix code.
struct Trie {
    bool leaf = false;
    uint32_t value = 0;
    std::unique_ptr<Trie> child[2];

    static std::unique_ptr<Trie> From(const CodeList& codes) {
        auto root = std::make_unique<Trie>();
        for (const auto& [value, code] : codes) {
            Trie* n = root.get();
            for (char c : code) {
                if (n->leaf) throw std::invalid_argument("not a prefix code");
                auto& ch = n->child[c == '1'];
                if (!ch) ch = std::make_unique<Trie>();
                n = ch.get();
            }
            if (n->leaf || n->child[0] || n->child[1]) throw std::invalid_argument("not a prefix code");
            n->leaf = true;
            n->value = value;
        }
        return root;
    }
    template <class LeafFn>
    void Write(BitWriter& w, LeafFn onLeaf) const {
        if (leaf) {
            w.Bit(0);
            onLeaf(value);
            return;
        }
        if (!child[0] || !child[1]) throw std::invalid_argument("incomplete code");
        w.Bit(1);
        child[0]->Write(w, onLeaf);
        child[1]->Write(w, onLeaf);
    }
};

inline std::string CodeOf(const CodeList& codes, uint32_t value) {
    for (const auto& [v, c] : codes)
        if (v == value) return c;
    throw std::invalid_argument("value not in the code: " + std::to_string(value));
}

// One big tree as a test describes it.
struct TreePlan {
    bool present = true;
    CodeList leaves;  // 16-bit values and their codes
    // Escape values: by default values no test uses, so they match no leaf.
    uint32_t esc[3] = {0xFEDC, 0xFEDD, 0xFEDE};
    bool lowByteTree = true;
    bool highByteTree = true;

    uint32_t NodeCount() const { return present ? static_cast<uint32_t>(2 * leaves.size() - 1) : 0; }
    uint32_t Size() const { return present ? 4 * (NodeCount() + 3) : 0; }
    std::string Code(uint32_t value) const { return CodeOf(leaves, value); }
};

inline TreePlan Balanced(std::vector<uint32_t> values) {
    TreePlan t;
    t.leaves = BalancedCodes(std::move(values));
    return t;
}

// Writes the four trees; byte trees are balanced over the bytes in use. An
// absent byte tree leaves the previous one in force, as the reader does.
inline BitWriter WriteTreeBlock(const TreePlan trees[4]) {
    BitWriter w;
    CodeList lowCodes{{0, ""}}, highCodes{{0, ""}};
    for (int t = 0; t < 4; ++t) {
        const TreePlan& s = trees[t];
        w.Bit(s.present);
        if (!s.present) continue;
        std::vector<uint32_t> lows, highs;
        for (const auto& [v, c] : s.leaves) {
            lows.push_back(v & 0xFF);
            highs.push_back(v >> 8 & 0xFF);
        }
        for (auto* v : {&lows, &highs}) {
            std::sort(v->begin(), v->end());
            v->erase(std::unique(v->begin(), v->end()), v->end());
        }
        auto byteTree = [&](bool present, const std::vector<uint32_t>& bytes, CodeList& codes) {
            w.Bit(present);
            if (!present) return;
            codes = BalancedCodes(bytes);
            Trie::From(codes)->Write(w, [&](uint32_t v) { w.Field(v, 8); });
            w.Bit(0);
        };
        byteTree(s.lowByteTree, lows, lowCodes);
        byteTree(s.highByteTree, highs, highCodes);
        for (int k = 0; k < 3; ++k) w.Field(s.esc[k], 16);
        Trie::From(s.leaves)->Write(w, [&](uint32_t v) {
            w.Code(CodeOf(lowCodes, v & 0xFF));
            w.Code(CodeOf(highCodes, v >> 8 & 0xFF));
        });
        w.Bit(0);
    }
    return w;
}

// DecodeTables built from a tree block, in storage of exactly its size.
struct Tables {
    std::vector<uint8_t> storage;  // exactly the block's size, so overruns show
    uint32_t sizes[4];
    DecodeTables* get() { return reinterpret_cast<DecodeTables*>(storage.data()); }

    static Tables Build(const std::vector<uint8_t>& block, const uint32_t sizes[4]) {
        Tables t;
        std::memcpy(t.sizes, sizes, sizeof t.sizes);
        uint64_t total = DecodeTablesFixedSize();
        for (int i = 0; i < 4; ++i) total += sizes[i];
        t.storage.assign(total, 0xA5);  // not zero: nothing may rely on it
        std::vector<uint8_t> work(std::max<size_t>(8192, (4096 + block.size() + 3) & ~size_t{3}), 0);
        std::copy(block.begin(), block.end(), work.begin() + 4096);
        BuildDecodeTables(work.data(), static_cast<uint32_t>(work.size()), t.get(), sizes);
        return t;
    }
    static Tables Build(const TreePlan trees[4]) {
        uint32_t sizes[4];
        for (int i = 0; i < 4; ++i) sizes[i] = trees[i].Size();
        return Build(WriteTreeBlock(trees).Bytes(), sizes);
    }
};

// Run descriptors.
enum : uint32_t { kTwoColorRun = 0, kFullRun = 1, kSkipRun = 2, kSolidRun = 3 };
inline uint32_t RunIndex(uint32_t blocks) {
    if (blocks >= 1 && blocks <= 59) return blocks - 1;
    switch (blocks) {
        case 128: return 59;
        case 256: return 60;
        case 512: return 61;
        case 1024: return 62;
        case 2048: return 63;
    }
    throw std::invalid_argument("no run of " + std::to_string(blocks) + " blocks");
}
inline uint32_t Descriptor(uint32_t kind, uint32_t blocks, uint32_t color = 0) {
    return kind | RunIndex(blocks) << 2 | color << 8;
}

// Writes a frame's values with the codes of the given trees.
class FrameWriter {
public:
    explicit FrameWriter(const TreePlan* trees) : trees_(trees) {}
    FrameWriter& Value(int tree, uint32_t v) {
        w_.Code(trees_[tree].Code(v));
        return *this;
    }
    FrameWriter& Run(uint32_t kind, uint32_t blocks, uint32_t color = 0) {
        return Value(kTypeTree, Descriptor(kind, blocks, color));
    }
    FrameWriter& TwoColor(uint32_t pair, uint32_t mask) { return Value(kColorTree, pair).Value(kMapTree, mask); }
    // One row of a full block: the row's pixels left to right.
    FrameWriter& FullRow(uint8_t p0, uint8_t p1, uint8_t p2, uint8_t p3) {
        return Value(kFullTree, static_cast<uint32_t>(p3) << 8 | p2).Value(kFullTree, static_cast<uint32_t>(p1) << 8 | p0);
    }
    const std::vector<uint8_t>& Bytes() const { return w_.Bytes(); }
    BitWriter& Bits() { return w_; }

private:
    const TreePlan* trees_;
    BitWriter w_;
};

}  // namespace vtest
