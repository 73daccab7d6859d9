// A small, independent packer for compressed sound streams, for tests and the
// benchmark: builds a Huffman tree per delta stream from its frequencies and
// writes the stream the unpacker reads. Header-only so the benchmark can use it.
#pragma once
#include <algorithm>
#include <cstdint>
#include <queue>
#include <string>
#include <vector>

namespace soundpack {

// Bits least significant first, bytes in order (the same as little-endian
// 32-bit words read from their low end).
struct BitWriter {
    std::vector<uint8_t> bytes;
    uint64_t bitCount = 0;
    void Bit(uint32_t b) {
        if (bitCount % 8 == 0) bytes.push_back(0);
        if (b & 1) bytes.back() |= static_cast<uint8_t>(1u << (bitCount % 8));
        bitCount++;
    }
    void Byte(uint32_t v) {
        for (int i = 0; i < 8; i++) Bit(v >> i);
    }
    // A string of '0'/'1' characters, first character first; others ignored.
    void Bits(const std::string& s) {
        for (char c : s)
            if (c == '0' || c == '1') Bit(c == '1');
    }
};

// A byte tree: node 0 is the root; leaves have left = right = -1.
struct Tree {
    struct Node {
        int left = -1, right = -1;
        uint8_t value = 0;
    };
    std::vector<Node> nodes;
    std::vector<std::string> code = std::vector<std::string>(256);  // path per value, '0' = left

    void Write(BitWriter& w) const {
        WriteNode(w, 0);
        w.Bit(0);
    }
    void Encode(BitWriter& w, uint8_t value) const { w.Bits(code[value]); }

    static Tree Leaf(uint8_t value) {
        Tree t;
        t.nodes.push_back(Node{-1, -1, value});
        t.code[value] = "";
        return t;
    }

    // Huffman tree over the values with non-zero counts (a single leaf when
    // only one value occurs, a leaf 0 when none does).
    static Tree FromCounts(const std::vector<uint64_t>& counts) {
        Tree t;
        typedef std::pair<uint64_t, int> Item;  // weight, node index
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> heap;
        for (int v = 0; v < 256; v++) {
            if (!counts[v]) continue;
            t.nodes.push_back(Node{-1, -1, static_cast<uint8_t>(v)});
            heap.push(Item(counts[v], static_cast<int>(t.nodes.size()) - 1));
        }
        if (heap.empty()) return Leaf(0);
        while (heap.size() > 1) {
            Item a = heap.top();
            heap.pop();
            Item b = heap.top();
            heap.pop();
            t.nodes.push_back(Node{a.second, b.second, 0});
            heap.push(Item(a.first + b.first, static_cast<int>(t.nodes.size()) - 1));
        }
        // Re-root so that node 0 is the root.
        int root = heap.top().second;
        Tree out;
        out.Copy(t, root, "");
        return out;
    }

    // A complete tree of depth 8 over all 256 values (511 nodes).
    static Tree Complete() {
        std::vector<uint64_t> counts(256, 1);
        return FromCounts(counts);
    }

private:
    int Copy(const Tree& from, int index, const std::string& path) {
        int me = static_cast<int>(nodes.size());
        nodes.push_back(from.nodes[index]);
        const Node& n = from.nodes[index];
        if (n.left < 0) {
            code[n.value] = path;
            return me;
        }
        int l = Copy(from, n.left, path + "0");
        int r = Copy(from, n.right, path + "1");
        nodes[me].left = l;
        nodes[me].right = r;
        return me;
    }
    void WriteNode(BitWriter& w, int i) const {
        const Node& n = nodes[i];
        if (n.left < 0) {
            w.Bit(0);
            w.Byte(n.value);
            return;
        }
        w.Bit(1);
        WriteNode(w, n.left);
        WriteNode(w, n.right);
    }
};

// Packs PCM (whole sample frames of the layout) into a stream that starts at
// chunk offset 8. preTreeBit: the value written in the unexamined bit before
// each tree.
inline std::vector<uint8_t> Pack(const std::vector<uint8_t>& pcm, bool stereo, bool wide,
                                 uint32_t preTreeBit = 0) {
    const size_t fs = (stereo ? 2 : 1) * (wide ? 2 : 1);
    const size_t frames = pcm.size() / fs;
    const int treeCount = stereo && wide ? 4 : (stereo || wide ? 2 : 1);
    // Channel values per frame.
    auto sample = [&](size_t f, int ch) -> uint32_t {
        const uint8_t* p = &pcm[f * fs];
        if (wide) return p[ch * 2] | p[ch * 2 + 1] << 8;
        return p[ch];
    };
    // Delta symbols per frame, in decoding order (T1, T2, T3, T4).
    std::vector<std::vector<uint8_t>> symbols(treeCount);
    for (size_t f = 1; f < frames; f++) {
        int channels = stereo ? 2 : 1;
        for (int ch = 0; ch < channels; ch++) {
            uint32_t mask = wide ? 0xFFFF : 0xFF;
            uint32_t d = (sample(f, ch) - sample(f - 1, ch)) & mask;
            if (wide) {
                symbols[ch * 2].push_back(static_cast<uint8_t>(d));
                symbols[ch * 2 + 1].push_back(static_cast<uint8_t>(d >> 8));
            } else {
                symbols[ch].push_back(static_cast<uint8_t>(d));
            }
        }
    }
    std::vector<Tree> trees;
    for (int k = 0; k < treeCount; k++) {
        std::vector<uint64_t> counts(256, 0);
        for (uint8_t s : symbols[k]) counts[s]++;
        trees.push_back(Tree::FromCounts(counts));
    }
    BitWriter w;
    w.Bit(1);
    w.Bit(stereo);
    w.Bit(wide);
    for (int k = 0; k < treeCount; k++) {
        w.Bit(preTreeBit);
        trees[k].Write(w);
    }
    if (frames) {
        // The first frame raw: right before left, high byte before low.
        if (stereo) {
            if (wide) {
                w.Byte(pcm[3]);
                w.Byte(pcm[2]);
                w.Byte(pcm[1]);
                w.Byte(pcm[0]);
            } else {
                w.Byte(pcm[1]);
                w.Byte(pcm[0]);
            }
        } else if (wide) {
            w.Byte(pcm[1]);
            w.Byte(pcm[0]);
        } else {
            w.Byte(pcm[0]);
        }
    }
    for (size_t i = 0; i + 1 < frames; i++)
        for (int k = 0; k < treeCount; k++) trees[k].Encode(w, symbols[k][i]);
    return w.bytes;
}

// A whole compressed chunk: length word, unpacked size, stream.
inline std::vector<uint8_t> Chunk(const std::vector<uint8_t>& stream, uint32_t unpacked) {
    std::vector<uint8_t> c(8);
    uint32_t len = static_cast<uint32_t>(stream.size() + 8);
    for (int i = 0; i < 4; i++) {
        c[i] = static_cast<uint8_t>(len >> (8 * i));
        c[4 + i] = static_cast<uint8_t>(unpacked >> (8 * i));
    }
    c.insert(c.end(), stream.begin(), stream.end());
    return c;
}

// A raw chunk: length word then the samples.
inline std::vector<uint8_t> RawChunk(const std::vector<uint8_t>& pcm) {
    std::vector<uint8_t> c(4);
    uint32_t len = static_cast<uint32_t>(pcm.size() + 4);
    for (int i = 0; i < 4; i++) c[i] = static_cast<uint8_t>(len >> (8 * i));
    c.insert(c.end(), pcm.begin(), pcm.end());
    return c;
}

}  // namespace soundpack
