// The four Huffman trees in decoding form and the per-value decoders.
//
// Each tree is an array of 32-bit nodes in pre-order. A leaf holds its output
// value in the high half and its coded value in the low half; an interior node
// holds (distance to its right child in bytes) / 8 in the high half and
// NotALeaf in the low half, so one 32-bit load tells the kind and the value.
// A first-level lookup table per tree maps the next 12 bits (10 for the type
// tree) to a node location x 256 + the bits that reach it. Where those bits
// end inside the tree, the entry can instead name a second-level table (flag
// 0x80, its width in the low bits) for the bits after them, so that long
// codes rarely need the bit-by-bit walk.
//
// Three recent values per tree live in the nodes themselves: an escape leaf
// is the node of its cache position, so decoding it yields the cached value
// with no extra case.
#pragma once
#include <cstddef>
#include <cstdint>

#include "video/bitreader.h"
#include "video/decode_tables.h"

constexpr uint32_t kLookupBits[4] = {12, 12, 12, 10};
// A main tree holds at most 65536 leaves: 131071 nodes, plus three spares.
constexpr uint32_t kMaxTreeNodes = 131071;
constexpr uint32_t kMaxTreeRoom = kMaxTreeNodes + 3;
// Second-level tables: at most 8 bits wide, from a pool shared by the trees.
constexpr uint32_t kSubLookupBits = 8;
constexpr uint32_t kSubLookupEntries = 16384;
constexpr uint32_t kSubTableFlag = 0x80;

struct TreeRecord {
    uint32_t Reset;     // written into the three cache positions at frame start
    uint32_t Cache[3];  // node locations (bytes from the start of DecodeTables)
};

struct DecodeTables {
    uint32_t TreeSizes[4];  // bytes of each node array
    uint32_t MapLookup[4096];
    uint32_t ColorLookup[4096];
    uint32_t FullLookup[4096];
    uint32_t TypeLookup[1024];
    uint32_t NotALeaf;
    TreeRecord Records[4];
    // Kept so that no walk and no rewrite ever leaves a tree: where each
    // tree's decodable nodes start and end (bytes from the start of the
    // tables), whether it is present, and a stand-in leaf for an absent tree.
    uint32_t NodesBegin[4];
    uint32_t NodesEnd[4];
    uint32_t Present[4];
    uint32_t AbsentLeaf[4];
    uint32_t Unused;
    uint32_t SubLookup[kSubLookupEntries];
    // The node arrays follow (see Nodes()).

    uint8_t* Base() { return reinterpret_cast<uint8_t*>(this); }
    const uint8_t* Base() const { return reinterpret_cast<const uint8_t*>(this); }
    uint32_t* NodeAt(uint32_t location) { return reinterpret_cast<uint32_t*>(Base() + location); }
    const uint32_t* NodeAt(uint32_t location) const {
        return reinterpret_cast<const uint32_t*>(Base() + location);
    }
    uint32_t* Lookup(int tree) {
        switch (tree) {
            case kMapTree: return MapLookup;
            case kColorTree: return ColorLookup;
            case kFullTree: return FullLookup;
            default: return TypeLookup;
        }
    }
};
static_assert(sizeof(DecodeTables) % 8 == 0, "node arrays stay aligned");

// Byte offset of the first node array from the start of DecodeTables.
constexpr uint32_t kNodeArraysOffset = sizeof(DecodeTables);

// Writes every tree's reset value into its three cache positions.
void ResetRecentValues(DecodeTables* tables);

// One tree's view for decoding a frame.
struct TreeCursor {
    const uint32_t* lookup;
    const uint32_t* sub;
    uint32_t* cache0;
    uint32_t* cache1;
    uint32_t* cache2;
    uint32_t end;  // walks stop before this location
};

// Decodes values from the four trees of one DecodeTables through reader R.
template <class R>
class ValueDecoder {
public:
    ValueDecoder(DecodeTables* tables, R* reader) : base_(tables->Base()), r_(reader) {
        nal_ = tables->NotALeaf;
        for (int t = 0; t < 4; ++t) {
            TreeCursor& c = trees_[t];
            c.lookup = tables->Lookup(t);
            c.sub = tables->SubLookup;
            c.cache0 = tables->NodeAt(tables->Records[t].Cache[0]);
            c.cache1 = tables->NodeAt(tables->Records[t].Cache[1]);
            c.cache2 = tables->NodeAt(tables->Records[t].Cache[2]);
            c.end = tables->NodesEnd[t];
        }
    }

    // One value of any tree (the node, both halves, is returned by DecodeNode).
    template <int Tree>
    uint32_t Decode() {
        return DecodeNode<Tree>() >> 16;
    }
    uint32_t Type() { return Decode<kTypeTree>(); }
    // Two full-tree values: first x 65536 + second.
    uint32_t FullPair() {
        uint32_t a = Decode<kFullTree>();
        uint32_t b = Decode<kFullTree>();
        return a << 16 | b;
    }
    // A colour pair and then a mask: pair x 65536 + mask.
    uint32_t ColorAndMap() {
        uint32_t c = Decode<kColorTree>();
        uint32_t m = Decode<kMapTree>();
        return c << 16 | m;
    }

    template <int Tree>
    uint32_t DecodeNode() {
        constexpr uint32_t B = Tree == kTypeTree ? 10 : 12;
        TreeCursor& t = trees_[Tree];
        r_->Refill(B);
        uint32_t e = t.lookup[r_->Peek() & ((1u << B) - 1)];
        if (e & kSubTableFlag) {
            r_->Skip(B);
            const uint32_t k = e & 0xF;
            r_->Refill(k);
            e = t.sub[(e >> 8) + (r_->Peek() & ((1u << k) - 1))];
        }
        r_->Skip(e & 0xFF);
        uint32_t loc = e >> 8;
        uint32_t node = Load(loc);
        if ((node & 0xFFFF) == nal_) node = Walk(t, loc, node);
        if (node != *t.cache0) {
            *t.cache2 = *t.cache1;
            *t.cache1 = *t.cache0;
            *t.cache0 = node;
        }
        return node;
    }

private:
    uint32_t Load(uint32_t loc) const { return *reinterpret_cast<const uint32_t*>(base_ + loc); }

    // Codes longer than the lookup: one bit per interior node. A walk that
    // would leave the tree (only possible with a malformed tree) stops where
    // it is.
    __attribute__((noinline)) uint32_t Walk(const TreeCursor& t, uint32_t loc, uint32_t node) {
        do {
            uint32_t next = r_->Bit() ? loc + (node >> 16) * 8 : loc + 4;
            if (next >= t.end) break;
            loc = next;
            node = Load(loc);
        } while ((node & 0xFFFF) == nal_);
        return node;
    }

    uint8_t* base_;
    R* r_;
    uint32_t nal_;
    TreeCursor trees_[4];
};
