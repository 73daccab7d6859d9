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
// Three recent values per tree: an escape leaf is the node of its cache
// position, so decoding it yields the cached value.
//
// The decoder itself reads a second set of lookups, the fast tables: one
// entry per index of 12 bits (13 for the pixel-pair tree, 10 for the type
// tree) that holds the bits the code takes and, for a leaf, its coded value
// or the cache position of an escape leaf. A code is then one table load;
// the nodes are touched only by codes longer than the fast table, which take
// the node path above. The decoder keeps the recent values in registers and
// compares coded values: within a frame a leaf's output value is a function
// of its coded value (the colour remap, applied when pixels are written), so
// that compares exactly as the whole nodes would.
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

// Fast table entries: the low byte is the number of bits the code takes
// (at most 13, so a shift can take the whole entry as its count); bit 8, 9
// or 10 marks the escape leaf of cache position 0, 1 or 2; bit 11 marks a
// code longer than the table, which takes the node path; bits 16-31 hold a
// leaf's coded value.
constexpr uint32_t kFastBits[4] = {12, 12, 13, 10};
constexpr uint32_t kFastEscape0 = 0x100;
constexpr uint32_t kFastEscape1 = 0x200;
constexpr uint32_t kFastEscape2 = 0x400;
constexpr uint32_t kFastSlow = 0x800;
constexpr uint32_t kFastEscapes[3] = {kFastEscape0, kFastEscape1, kFastEscape2};

struct TreeRecord {
    uint32_t Reset;     // written into the three cache positions at frame start
    uint32_t Cache[3];  // node locations (bytes from the start of DecodeTables)
};

struct DecodeTables {
    uint32_t TreeSizes[4];  // bytes of each node array
    uint32_t MapLookup[1u << kLookupBits[kMapTree]];
    uint32_t ColorLookup[1u << kLookupBits[kColorTree]];
    uint32_t FullLookup[1u << kLookupBits[kFullTree]];
    uint32_t TypeLookup[1u << kLookupBits[kTypeTree]];
    uint32_t NotALeaf;
    TreeRecord Records[4];
    // Kept so that no walk and no rewrite ever leaves a tree: where each
    // tree's decodable nodes start and end (bytes from the start of the
    // tables), whether it is present, and a stand-in leaf for an absent tree.
    uint32_t NodesBegin[4];
    uint32_t NodesEnd[4];
    uint32_t Present[4];
    uint32_t AbsentLeaf[4];
    // 1 when a colour remap other than the identity is in force; Remap maps
    // the movie's colours to the caller's and enters every output value.
    uint32_t Remapped;
    uint8_t Remap[256];
    uint32_t SubLookup[kSubLookupEntries];
    uint32_t FastMap[1u << kFastBits[kMapTree]];
    uint32_t FastColor[1u << kFastBits[kColorTree]];
    uint32_t FastFull[1u << kFastBits[kFullTree]];
    uint32_t FastType[1u << kFastBits[kTypeTree]];
    // The node arrays follow (see NodeAt()).

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
    uint32_t* Fast(int tree) {
        switch (tree) {
            case kMapTree: return FastMap;
            case kColorTree: return FastColor;
            case kFullTree: return FastFull;
            default: return FastType;
        }
    }
};
static_assert(sizeof(DecodeTables) % 8 == 0, "node arrays stay aligned");

// Byte offset of the first node array from the start of DecodeTables.
constexpr uint32_t kNodeArraysOffset = sizeof(DecodeTables);

// Writes every tree's reset value into its three cache positions.
void ResetRecentValues(DecodeTables* tables);

// The output value of a coded value of tree Tree under the tables' remap:
// the colour-bearing bytes go through it, everything else stays.
template <int Tree>
QUARVEL_INLINE uint32_t OutputValue(const DecodeTables* tables, uint32_t coded) {
    if (Tree == kMapTree || !tables->Remapped) return coded;
    const uint8_t* remap = tables->Remap;
    if (Tree == kTypeTree) return (coded & 3) == 3 ? (coded & 0xFF) | remap[coded >> 8 & 0xFF] << 8 : coded;
    return remap[coded & 0xFF] | remap[coded >> 8 & 0xFF] << 8;
}

// Decodes values from the four trees of one DecodeTables through reader R.
// Everything on the way to a value is inlined, so that a decoder and reader
// that are locals of one function live in registers. The recent values are
// held here, from the cache nodes as they stand when the decoder is made.
template <class R>
class ValueDecoder {
public:
    ValueDecoder(DecodeTables* tables, R* reader) : tables_(tables), base_(tables->Base()), r_(reader) {
        nal_ = tables->NotALeaf;
        for (int t = 0; t < 4; ++t) {
            TreeState& c = trees_[t];
            c.fast = tables->Fast(t);
            c.lookup = tables->Lookup(t);
            for (int k = 0; k < 3; ++k) c.cache[k] = tables->Records[t].Cache[k];
            c.end = tables->NodesEnd[t];
            c.recent0 = *tables->NodeAt(c.cache[0]) & 0xFFFF;
            c.recent1 = *tables->NodeAt(c.cache[1]) & 0xFFFF;
            c.recent2 = *tables->NodeAt(c.cache[2]) & 0xFFFF;
        }
    }

    // The recent values go back into their nodes, as whole nodes; position 0
    // last, so that positions sharing a node leave the front value there.
    QUARVEL_INLINE ~ValueDecoder() {
        for (int t = 0; t < 4; ++t) {
            const TreeState& c = trees_[t];
            *tables_->NodeAt(c.cache[2]) = Node(t, c.recent2);
            *tables_->NodeAt(c.cache[1]) = Node(t, c.recent1);
            *tables_->NodeAt(c.cache[0]) = Node(t, c.recent0);
        }
    }
    ValueDecoder(const ValueDecoder&) = delete;
    ValueDecoder& operator=(const ValueDecoder&) = delete;

    // One output value of any tree.
    template <int Tree>
    uint32_t Decode() {
        return OutputValue<Tree>(tables_, Code<Tree>());
    }

    // Coded values, for the frame decoder, which applies the remap itself.
    QUARVEL_INLINE uint32_t TypeCode() { return Code<kTypeTree>(); }
    // Two full-tree values: first x 65536 + second. One refill serves both.
    QUARVEL_INLINE uint32_t FullPairCode() {
        uint32_t a = Code<kFullTree, true>();
        uint32_t b = Code<kFullTree, false>();
        return a << 16 | b;
    }
    // A colour pair and then a mask: pair x 65536 + mask.
    QUARVEL_INLINE uint32_t ColorAndMapCode() {
        uint32_t c = Code<kColorTree, true>();
        uint32_t m = Code<kMapTree, false>();
        return c << 16 | m;
    }

    // The four rows of a full block, each row's two values as in
    // FullPairCode, handed to put(row, values) as they come. A fast code
    // takes at most 13 bits, so a refill (56 bits) serves the value it is
    // made for and the two after it.
    template <class Put>
    QUARVEL_INLINE void FullBlockCodes(Put put) {
        uint32_t a = Code<kFullTree, true>();
        put(0, a << 16 | Code<kFullTree, false>());
        a = Code<kFullTree, false>();
        put(1, a << 16 | Code<kFullTree, true>());
        a = Code<kFullTree, false>();
        put(2, a << 16 | Code<kFullTree, false>());
        a = Code<kFullTree, true>();
        put(3, a << 16 | Code<kFullTree, false>());
    }

    // kTopUp = false only where a refill at most two values back still
    // covers this value.
    template <int Tree, bool kTopUp = true>
    QUARVEL_INLINE uint32_t Code() {
        constexpr uint32_t B = kFastBits[Tree];
        TreeState& t = trees_[Tree];
        // The index is taken before the refill, so the refill stays off the
        // chain from one code's length to the next code's lookup.
        r_->Prepare(B);
        uint32_t e = t.fast[r_->Peek() & ((1u << B) - 1)];
        if (kTopUp) r_->TopUp();
        if (__builtin_expect(e & kFastSlow, 0)) e = Slow<Tree>(t);
        r_->SkipCode(e);
        uint32_t r0 = t.recent0, r1 = t.recent1, r2 = t.recent2;
        const uint32_t v = TakeValue(e, r0, r1, r2);
        t.recent0 = r0;
        t.recent1 = r1;
        t.recent2 = r2;
        return v;
    }

private:
    struct TreeState {
        const uint32_t* fast;
        const uint32_t* lookup;
        uint32_t cache[3];  // node locations of the cache positions
        uint32_t end;       // walks stop before this location
        uint32_t recent0, recent1, recent2;
    };

    // The entry's value: its coded value, or for an escape the value at its
    // cache position; then the cache moves on for any value but the front
    // one. Conditional moves, not branches: escapes come and go with the
    // picture.
    static QUARVEL_INLINE uint32_t TakeValue(uint32_t e, uint32_t& r0, uint32_t& r1, uint32_t& r2) {
        uint32_t v = e >> 16;
#if defined(__i386__) || defined(__x86_64__)
        __asm__(
            "test %[e0], %[e]\n\t"
            "cmovnz %[r0], %[v]\n\t"
            "test %[e1], %[e]\n\t"
            "cmovnz %[r1], %[v]\n\t"
            "test %[e2], %[e]\n\t"
            "cmovnz %[r2], %[v]\n\t"
            "cmp %[r0], %[v]\n\t"
            "cmovne %[r1], %[r2]\n\t"
            "cmovne %[r0], %[r1]"
            : [v] "+&r"(v), [r1] "+&r"(r1), [r2] "+&r"(r2)
            : [e] "r"(e), [r0] "r"(r0), [e0] "i"(kFastEscape0), [e1] "i"(kFastEscape1), [e2] "i"(kFastEscape2)
            : "cc");
#else
        if (e & kFastEscape0) v = r0;
        if (e & kFastEscape1) v = r1;
        if (e & kFastEscape2) v = r2;
        if (v != r0) {
            r2 = r1;
            r1 = r0;
        }
#endif
        r0 = v;
        return v;
    }

    QUARVEL_INLINE uint32_t Node(int tree, uint32_t coded) const {
        switch (tree) {
            case kMapTree: return OutputValue<kMapTree>(tables_, coded) << 16 | coded;
            case kColorTree: return OutputValue<kColorTree>(tables_, coded) << 16 | coded;
            case kFullTree: return OutputValue<kFullTree>(tables_, coded) << 16 | coded;
            default: return OutputValue<kTypeTree>(tables_, coded) << 16 | coded;
        }
    }

    QUARVEL_INLINE uint32_t Load(uint32_t loc) const { return *reinterpret_cast<const uint32_t*>(base_ + loc); }

    // A code longer than the fast table, by the node path: the first-level
    // lookup, a second-level table where there is one, and one bit per
    // interior node after that. A walk that would leave the tree (only
    // possible with a malformed tree) stops where it is. The bits are taken
    // here; the entry returned takes none.
    template <int Tree>
    QUARVEL_INLINE uint32_t Slow(const TreeState& t) {
        constexpr uint32_t B = kLookupBits[Tree];
        uint32_t e = t.lookup[r_->Peek() & ((1u << B) - 1)];
        if (e & kSubTableFlag) {
            r_->Skip(B);
            const uint32_t k = e & 0xF;
            r_->Ensure(k);
            e = tables_->SubLookup[(e >> 8) + (r_->Peek() & ((1u << k) - 1))];
        }
        r_->Skip(e & 0xFF);
        uint32_t loc = e >> 8;
        uint32_t node = Load(loc);
        while ((node & 0xFFFF) == nal_) {
            uint32_t next = r_->Bit() ? loc + (node >> 16) * 8 : loc + 4;
            if (next >= t.end) break;
            loc = next;
            node = Load(loc);
        }
        r_->TopUp();
        // Cache positions are told by location: their nodes are not kept
        // up to date while the decoder holds the values.
        const uint32_t escape = loc == t.cache[0]   ? kFastEscape0
                                : loc == t.cache[1] ? kFastEscape1
                                : loc == t.cache[2] ? kFastEscape2
                                                    : 0;
        return (node & 0xFFFF) << 16 | escape;
    }

    DecodeTables* tables_;
    uint8_t* base_;
    R* r_;
    uint32_t nal_;
    TreeState trees_[4] = {};
};
