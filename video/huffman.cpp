// Building DecodeTables from a movie's tree block.
#include "video/huffman.h"

#include <cstddef>
#include <cstring>

namespace {

constexpr uint32_t kByteTreeRoom = 512;
constexpr uint32_t kByteLeaf = 0x80000000u;

// A ByteTree while its big tree is read: leaves are 0x80000000 + value,
// interior nodes hold the byte distance to their right child.
struct ByteTree {
    uint32_t nodes[kByteTreeRoom];
    uint32_t count;
};

// One byte tree in pre-order, then its closing 0 bit. A tree that does not fit
// the scratch area is cut there: its unfinished interior nodes become leaves
// of value 0, so every walk through it ends at a leaf.
void ReadByteTree(FieldReader& r, ByteTree& bt) {
    uint32_t pending[kByteTreeRoom];
    uint32_t sp = 0;
    bool rootPending = true;
    bt.count = 0;
    for (;;) {
        uint32_t bit = r.Bit();
        if (!bit && sp == 0 && !rootPending) return;  // the closing bit
        if (bt.count == kByteTreeRoom) break;
        if (bit) {
            pending[sp++] = bt.count;
            bt.nodes[bt.count++] = 0;
            continue;
        }
        bt.nodes[bt.count++] = kByteLeaf | r.Bits(8);
        if (sp) {
            uint32_t idx = pending[--sp];
            bt.nodes[idx] = (bt.count - idx) * 4;
        } else {
            rootPending = false;
        }
    }
    while (sp) bt.nodes[pending[--sp]] = kByteLeaf;
}

uint32_t WalkByteTree(FieldReader& r, const ByteTree& bt) {
    uint32_t i = 0;
    while (i < bt.count) {
        uint32_t n = bt.nodes[i];
        if (n & kByteLeaf) return n & 0xFF;
        uint32_t step = r.Bit() ? n / 4 : 1;
        if (step == 0) break;
        i += step;
    }
    return 0;
}

// A byte tree that was never read gives the byte 0 at no cost in bits.
void SetSingleLeaf(ByteTree& bt) {
    bt.nodes[0] = kByteLeaf;
    bt.count = 1;
}

constexpr uint32_t kEndMark = 0xFFFFFFFFu;
constexpr uint32_t kRootMark = 0xFFFFFFFEu;

struct MainTree {
    uint32_t* nodes;    // the tree's node array
    uint32_t maxNodes;  // room for tree nodes (the array minus three spares)
    uint32_t count;
    int32_t escapeLeaf[3];
};

// Reads the node sequence into the first form: a leaf is value x 65536 + 1,
// an interior node is its right-child distance in bytes x 8192. Pending
// interior nodes (right child not yet known) are chained through their own
// slots, innermost first, so the stack needs no memory of its own.
void ReadMainTree(FieldReader& r, MainTree& t, const uint32_t esc[3], const ByteTree& lo, const ByteTree& hi) {
    uint32_t head = kRootMark;
    t.count = 0;
    for (int k = 0; k < 3; ++k) t.escapeLeaf[k] = -1;
    for (;;) {
        uint32_t bit = r.Bit();
        if (!bit && head == kEndMark) return;  // the closing bit
        if (t.count >= t.maxNodes) break;      // longer than its size allows
        uint32_t idx = t.count++;
        if (bit) {
            t.nodes[idx] = head;
            head = idx;
            continue;
        }
        uint32_t value = WalkByteTree(r, lo);
        value |= WalkByteTree(r, hi) << 8;
        uint32_t stored = value;
        for (int k = 0; k < 3; ++k) {
            if (value == esc[k]) {
                stored = 0;
                t.escapeLeaf[k] = static_cast<int32_t>(idx);
                break;
            }
        }
        t.nodes[idx] = stored << 16 | 1;
        if (head == kRootMark) {
            head = kEndMark;
        } else if (head != kEndMark) {
            uint32_t p = head;
            head = t.nodes[p];
            t.nodes[p] = (t.count - p) * 4 * 8192;
        }
    }
    // Cut short: unfinished interior nodes become leaves of value 0.
    while (head != kRootMark && head != kEndMark) {
        uint32_t p = head;
        head = t.nodes[p];
        t.nodes[p] = 1;
    }
}

bool IsInteriorFirstForm(uint32_t node) { return (node & 0xFFFF) == 0; }

// Where index i's bits (the first stream bit lowest) lead from the root, at
// most B of them: the node reached, and in *bits how many were taken.
uint32_t WalkIndex(const uint32_t* nodes, uint32_t count, uint32_t i, uint32_t B, uint32_t* bits) {
    uint32_t loc = 0;
    *bits = 0;
    while (*bits < B && IsInteriorFirstForm(nodes[loc])) {
        const uint32_t next = (i >> *bits) & 1 ? loc + (nodes[loc] >> 16) * 2 : loc + 1;
        ++*bits;
        if (next >= count) break;
        loc = next;
    }
    return loc;
}

void BuildLookup(DecodeTables* tables, int tree, uint32_t arrayOffset, const uint32_t* nodes, uint32_t count) {
    const uint32_t B = kLookupBits[tree];
    uint32_t* lookup = tables->Lookup(tree);
    for (uint32_t i = 0; i < (1u << B); ++i) {
        uint32_t bits;
        const uint32_t loc = WalkIndex(nodes, count, i, B, &bits);
        lookup[i] = (arrayOffset + loc * 4) << 8 | bits;
    }
}

// The decoder's fast table: per index, the code the bits begin with, as far
// as the table's width reaches (see kFastBits).
void BuildFast(DecodeTables* tables, int tree, const uint32_t* nodes, uint32_t count, const int32_t escapeLeaf[3]) {
    const uint32_t B = kFastBits[tree];
    uint32_t* fast = tables->Fast(tree);
    for (uint32_t i = 0; i < (1u << B); ++i) {
        uint32_t bits;
        const uint32_t loc = WalkIndex(nodes, count, i, B, &bits);
        if (IsInteriorFirstForm(nodes[loc])) {
            fast[i] = kFastSlow;
            continue;
        }
        uint32_t escape = 0;
        for (uint32_t k = 0; k < 3 && !escape; ++k)
            if (escapeLeaf[k] == static_cast<int32_t>(loc)) escape = kFastEscapes[k];
        const uint32_t coded = escape ? 0 : nodes[loc] >> 16;
        fast[i] = coded << 16 | escape | bits;
    }
}

// Depth of the subtree under `loc`, counted up to `limit`.
uint32_t SubtreeDepth(const uint32_t* nodes, uint32_t count, uint32_t loc, uint32_t limit) {
    struct Item {
        uint32_t loc, depth;
    };
    Item stack[kSubLookupBits + 2];
    uint32_t sp = 0, deepest = 0;
    stack[sp++] = {loc, 0};
    while (sp) {
        const Item it = stack[--sp];
        if (it.depth > deepest) deepest = it.depth;
        if (it.depth == limit || !IsInteriorFirstForm(nodes[it.loc])) continue;
        const uint32_t right = it.loc + (nodes[it.loc] >> 16) * 2;
        if (right < count) stack[sp++] = {right, it.depth + 1};
        if (it.loc + 1 < count) stack[sp++] = {it.loc + 1, it.depth + 1};
    }
    return deepest;
}

// Gives first-level entries that end on an interior node a table for the
// next bits, while the tree's share of the pool lasts.
void BuildSubLookups(DecodeTables* tables, int tree, uint32_t arrayOffset, const uint32_t* nodes, uint32_t count,
                     uint32_t* poolUsed, uint32_t poolEnd) {
    const uint32_t B = kLookupBits[tree];
    uint32_t* lookup = tables->Lookup(tree);
    for (uint32_t i = 0; i < (1u << B); ++i) {
        const uint32_t e = lookup[i];
        if ((e & 0xFF) != B) continue;
        const uint32_t loc = ((e >> 8) - arrayOffset) / 4;
        if (!IsInteriorFirstForm(nodes[loc])) continue;
        const uint32_t k = SubtreeDepth(nodes, count, loc, kSubLookupBits);
        if (k == 0 || *poolUsed + (1u << k) > poolEnd) continue;
        uint32_t* sub = tables->SubLookup + *poolUsed;
        for (uint32_t j = 0; j < (1u << k); ++j) {
            uint32_t at = loc, bits = 0;
            while (bits < k && IsInteriorFirstForm(nodes[at])) {
                const uint32_t next = (j >> bits) & 1 ? at + (nodes[at] >> 16) * 2 : at + 1;
                ++bits;
                if (next >= count) break;
                at = next;
            }
            sub[j] = (arrayOffset + at * 4) << 8 | bits;
        }
        lookup[i] = *poolUsed << 8 | kSubTableFlag | k;
        *poolUsed += 1u << k;
    }
}

uint32_t TreeRoom(uint32_t sizeBytes) {
    uint32_t room = sizeBytes / 4;
    return room < kMaxTreeRoom ? room : kMaxTreeRoom;
}

uint32_t AbsentLeafLocation(int tree) {
    return static_cast<uint32_t>(offsetof(DecodeTables, AbsentLeaf)) + 4u * static_cast<uint32_t>(tree);
}

void SetAbsent(DecodeTables* tables, int tree) {
    uint32_t loc = AbsentLeafLocation(tree);
    tables->AbsentLeaf[tree] = 0;
    tables->Present[tree] = 0;
    tables->NodesBegin[tree] = loc;
    tables->NodesEnd[tree] = loc + 4;
    TreeRecord& rec = tables->Records[tree];
    rec.Reset = 0;
    rec.Cache[0] = rec.Cache[1] = rec.Cache[2] = loc;
    uint32_t* lookup = tables->Lookup(tree);
    for (uint32_t i = 0; i < (1u << kLookupBits[tree]); ++i) lookup[i] = loc << 8;
    // Every code is the stand-in, which is cache position 0, from no bits.
    uint32_t* fast = tables->Fast(tree);
    for (uint32_t i = 0; i < (1u << kFastBits[tree]); ++i) fast[i] = kFastEscape0;
}

}  // namespace

uint32_t DecodeTablesFixedSize() { return static_cast<uint32_t>(sizeof(DecodeTables)); }

void BuildDecodeTables(uint8_t* work, uint32_t workSize, DecodeTables* tables, const uint32_t treeSizes[4]) {
    if (!tables) return;
    FieldReader r;
    if (work && workSize > 4096) r.Start(work + 4096, workSize - 4096);
    else r.Start(nullptr, 0);

    // Scratch for the byte trees; a byte tree that is absent keeps what the
    // previous big tree left, and before any was read it gives 0.
    ByteTree lowTree, highTree;
    SetSingleLeaf(lowTree);
    SetSingleLeaf(highTree);

    tables->Remapped = 0;
    for (uint32_t i = 0; i < 256; ++i) tables->Remap[i] = static_cast<uint8_t>(i);

    uint32_t counts[4] = {0, 0, 0, 0};
    uint32_t arrayOffset = kNodeArraysOffset;
    // Each tree's share of the second-level pool.
    static constexpr uint32_t kPoolEnd[4] = {4096, 8192, 14336, kSubLookupEntries};
    uint32_t poolUsed = 0;
    for (int tree = 0; tree < 4; ++tree) {
        const uint32_t room = TreeRoom(treeSizes ? treeSizes[tree] : 0);
        uint32_t* nodes = tables->NodeAt(arrayOffset);
        tables->TreeSizes[tree] = room * 4;
        const uint32_t thisOffset = arrayOffset;
        arrayOffset += room * 4;

        if (!r.Bit()) {
            SetAbsent(tables, tree);
            continue;
        }
        if (r.Bit()) ReadByteTree(r, lowTree);
        if (r.Bit()) ReadByteTree(r, highTree);
        uint32_t esc[3];
        for (int k = 0; k < 3; ++k) esc[k] = r.Bits(16);

        MainTree mt{nodes, room >= 3 ? room - 3 : 0, 0, {-1, -1, -1}};
        if (mt.maxNodes > 0) ReadMainTree(r, mt, esc, lowTree, highTree);
        if (mt.count == 0) {  // no room for even a root
            SetAbsent(tables, tree);
            continue;
        }
        counts[tree] = mt.count;
        tables->Present[tree] = 1;
        tables->NodesBegin[tree] = thisOffset;
        tables->NodesEnd[tree] = thisOffset + mt.count * 4;

        // Cache positions: matched escape leaves, else spare nodes after the tree.
        TreeRecord& rec = tables->Records[tree];
        rec.Reset = 0;
        const uint32_t spare = thisOffset + mt.count * 4;
        nodes[mt.count] = nodes[mt.count + 1] = nodes[mt.count + 2] = 0;
        rec.Cache[0] = mt.escapeLeaf[0] >= 0 ? thisOffset + 4u * mt.escapeLeaf[0] : spare;
        rec.Cache[1] = mt.escapeLeaf[1] >= 0 ? thisOffset + 4u * mt.escapeLeaf[1] : spare + 4;
        if (mt.escapeLeaf[2] >= 0) rec.Cache[2] = thisOffset + 4u * mt.escapeLeaf[2];
        else rec.Cache[2] = mt.escapeLeaf[1] >= 0 ? spare + 4 : spare + 8;

        BuildLookup(tables, tree, thisOffset, nodes, mt.count);
        BuildFast(tables, tree, nodes, mt.count, mt.escapeLeaf);
        BuildSubLookups(tables, tree, thisOffset, nodes, mt.count, &poolUsed, kPoolEnd[tree]);
    }

    // NotALeaf: the lowest value that no leaf of any present tree stores.
    uint8_t used[8192];
    std::memset(used, 0, sizeof used);
    for (int tree = 0; tree < 4; ++tree) {
        // An absent tree's stand-in is a leaf of value 0 and counts as one.
        if (!tables->Present[tree]) used[0] |= 1;
        if (!tables->Present[tree]) continue;
        const uint32_t* nodes = tables->NodeAt(tables->NodesBegin[tree]);
        for (uint32_t i = 0; i < counts[tree]; ++i) {
            if (IsInteriorFirstForm(nodes[i])) continue;
            uint32_t v = nodes[i] >> 16;
            used[v >> 3] |= static_cast<uint8_t>(1u << (v & 7));
        }
    }
    // With all 65536 values in use the trees cannot be told apart from their
    // interior nodes; walks still stop at the tree's end, so the result is
    // only a wrong picture.
    uint32_t nal = 0xFFFF;
    for (uint32_t v = 0; v < 65536; ++v) {
        if (!(used[v >> 3] & (1u << (v & 7)))) {
            nal = v;
            break;
        }
    }
    tables->NotALeaf = nal;

    for (int tree = 0; tree < 4; ++tree) {
        if (!tables->Present[tree]) continue;
        uint32_t* nodes = tables->NodeAt(tables->NodesBegin[tree]);
        for (uint32_t i = 0; i < counts[tree]; ++i) {
            uint32_t n = nodes[i];
            nodes[i] = IsInteriorFirstForm(n) ? (n & 0xFFFF0000u) | nal : (n & 0xFFFF0000u) | n >> 16;
        }
    }
}

void ResetRecentValues(DecodeTables* tables) {
    for (int t = 0; t < 4; ++t) {
        const TreeRecord& rec = tables->Records[t];
        for (int k = 0; k < 3; ++k) *tables->NodeAt(rec.Cache[k]) = rec.Reset;
    }
}
