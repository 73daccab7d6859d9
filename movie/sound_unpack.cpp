// Compressed sound: a presence bit, a stereo bit, a 16-bit bit, one to four
// byte trees, the first sample frame raw, then one Huffman-coded delta per
// byte of every following sample frame.
//
// The deltas of one sample frame are read two codes at a time: the trees are
// paired (low and high byte of a 16-bit sample, left and right of an 8-bit
// stereo frame, two samples of 8-bit mono), and for each pair a table
// indexed by the next W bits gives both values and their bits at once when
// both codes fit in W bits. Where only the first code fits, the second one
// goes through its own table; codes longer than the tables walk the tree.
#include "movie/sound_unpack.h"

#include <cstddef>
#include <cstring>

#include "video/bitreader.h"

namespace {

// Bits are taken least significant first from little-endian words; past the
// end of the source every bit is 0. The decoding loops look the next W bits
// up first and refill after that (TopUp), so the refill stays off the chain
// from one code to the next; at least 12 bits, a table's width, are
// buffered whenever a lookup starts.
struct BitSource {
    const uint8_t* p;
    const uint8_t* end;
    uintptr_t eightEnd;  // eight bytes can be loaded from below here
    uint64_t buf = 0;
    unsigned n = 0;  // valid bits in buf

    BitSource(const uint8_t* src, uint32_t size) : p(src), end(src + size) {
        eightEnd = size >= 8 ? reinterpret_cast<uintptr_t>(end - 7) : 0;
        TopUp();
    }

    // Tops the window up to at least 56 bits: one eight-byte load that ORs
    // bytes already buffered in again at their place, or byte by byte near
    // the end.
    QUARVEL_INLINE void TopUp() {
        if (__builtin_expect(reinterpret_cast<uintptr_t>(p) < eightEnd, 1)) {
            buf |= bitread::Load64LE(p) << n;
            p += (63 - n) >> 3;
            n |= 56;
        } else {
            while (n <= 56) {
                uint64_t b = 0;
                if (p < end) b = *p++;
                buf |= b << n;
                n += 8;
            }
        }
    }
    uint32_t Peek() const { return static_cast<uint32_t>(buf); }
    // Takes the number of bits in the low five bits of a table entry (bit 5
    // clear; higher bits do not count).
    QUARVEL_INLINE void SkipEntry(uint32_t e) {
        buf = bitread::ShiftRight64(buf, e);
        n -= e & 31;
    }
    QUARVEL_INLINE uint32_t Bit() {
        if (n == 0) TopUp();
        uint32_t b = static_cast<uint32_t>(buf & 1);
        buf >>= 1;
        n--;
        return b;
    }
    QUARVEL_INLINE uint32_t Byte() {
        if (n < 8) TopUp();
        uint32_t v = static_cast<uint32_t>(buf & 0xFF);
        buf >>= 8;
        n -= 8;
        return v;
    }
};

constexpr uint32_t kLeaf = 0x80000000u;
constexpr uint32_t kTreeNodes = 2048 / 4;

// Builds one byte tree as a pre-order node array: an interior node holds the
// byte offset from itself to its right child (its left child follows it), a
// leaf holds kLeaf | value. A stream that describes more nodes than fit in
// the tree's 2048 bytes has its extra interior nodes read as leaves, so the
// array always stays whole and inside its slot.
void BuildTree(BitSource& bits, uint32_t* nodes) {
    uint32_t pending[kTreeNodes];  // interior nodes whose right child is still to come
    uint32_t depth = 0;
    uint32_t count = 0;
    for (;;) {
        uint32_t index = count++;
        // Growing here needs two more nodes beyond every one already owed.
        bool room = count + depth + 2 <= kTreeNodes;
        if (bits.Bit() && room) {
            pending[depth++] = index;
            continue;
        }
        nodes[index] = kLeaf | bits.Byte();
        if (depth == 0) break;
        uint32_t parent = pending[--depth];
        nodes[parent] = (count - parent) * 4;
    }
    bits.Bit();  // the closing 0
}

// One code by the tree, a bit per interior node.
uint32_t Walk(const uint32_t* tree, BitSource& bits) {
    const uint8_t* at = reinterpret_cast<const uint8_t*>(tree);
    uint32_t node = tree[0];
    while (!(node & kLeaf)) {
        at += bits.Bit() ? node : 4;
        node = *reinterpret_cast<const uint32_t*>(at);
    }
    return node & 0xFF;
}

// Table entries. Single: value in bits 16-23, bits taken in bits 0-4, or
// kSlow for a code longer than the table. Pair: first value in bits 16-23,
// second in bits 24-31, bits taken by both in bits 0-4; with kSecondApart
// the bits of the first alone and no second value; kSlow when the first
// code is longer than the table.
constexpr uint32_t kSecondApart = 0x40;
constexpr uint32_t kSlow = 0x80;
constexpr uint32_t kMaxWidth = 12;

// Every code of the tree down to depth `width`, in index order of a table of
// that width: leaf(prefix, depth, value) for each leaf, deep(prefix) for each
// path that is still inside the tree after `width` bits.
template <class Leaf, class Deep>
void ForEachCode(const uint32_t* tree, uint32_t width, Leaf leaf, Deep deep) {
    struct Item {
        uint32_t index, depth, prefix;
    };
    Item stack[2 * kMaxWidth + 2];
    uint32_t sp = 0;
    stack[sp++] = {0, 0, 0};
    while (sp) {
        const Item it = stack[--sp];
        const uint32_t node = tree[it.index];
        if (node & kLeaf) {
            leaf(it.prefix, it.depth, node & 0xFF);
        } else if (it.depth == width) {
            deep(it.prefix);
        } else {
            stack[sp++] = {it.index + node / 4, it.depth + 1, it.prefix | 1u << it.depth};
            stack[sp++] = {it.index + 1, it.depth + 1, it.prefix};
        }
    }
}

void BuildSingle(const uint32_t* tree, uint32_t width, uint32_t* table) {
    ForEachCode(
        tree, width,
        [&](uint32_t prefix, uint32_t depth, uint32_t value) {
            for (uint32_t i = prefix; i < 1u << width; i += 1u << depth) table[i] = value << 16 | depth;
        },
        [&](uint32_t prefix) { table[prefix] = kSlow; });
}

// `second` is the second tree's single table of the same width.
void BuildPair(const uint32_t* first, const uint32_t* second, uint32_t width, uint32_t* table) {
    ForEachCode(
        first, width,
        [&](uint32_t prefix, uint32_t depth, uint32_t value) {
            const uint32_t room = width - depth;
            for (uint32_t j = 0; j < 1u << room; ++j) {
                const uint32_t s = second[j];
                const uint32_t bits = s & 31;
                table[prefix | j << depth] = !(s & kSlow) && bits <= room
                                                 ? (s & 0xFF0000) << 8 | value << 16 | (depth + bits)
                                                 : value << 16 | kSecondApart | depth;
            }
        },
        [&](uint32_t prefix) { table[prefix] = kSlow; });
}

// The tables of the chunk being unpacked: up to two pairs.
struct PairTables {
    uint32_t single[2][1u << kMaxWidth];
    uint32_t pair[2][1u << kMaxWidth];
};
PairTables g_tables;

// Wider tables cost more to build than a short chunk gains from them.
uint32_t TableWidth(uint32_t lookups) {
    return lookups >= 8192 ? 12 : lookups >= 2048 ? 11 : 10;
}

// Reads codes pairwise through one pair of trees.
class PairReader {
public:
    PairReader(const uint32_t* first, const uint32_t* second, uint32_t width, uint32_t* single, uint32_t* pair)
        : first_(first), second_(second), single_(single), pair_(pair), mask_((1u << width) - 1) {
        BuildSingle(second, width, single);
        BuildPair(first, single, width, pair);
    }
    // Both values, first + 256 x second. kTopUp: refill after the lookup;
    // a refill covers two pairs (56 bits, 24 at most per pair).
    template <bool kTopUp>
    QUARVEL_INLINE uint32_t Next(BitSource& bits) const {
        uint32_t e = pair_[bits.Peek() & mask_];
        if (kTopUp) bits.TopUp();
        if (__builtin_expect(e & (kSlow | kSecondApart), 0)) e = Apart(bits, e);
        bits.SkipEntry(e);
        return e >> 16;
    }
    // One value of the second tree alone.
    QUARVEL_INLINE uint32_t Second(BitSource& bits) const {
        uint32_t e = single_[bits.Peek() & mask_];
        bits.TopUp();
        if (__builtin_expect(e & kSlow, 0)) {
            e = Walk(second_, bits) << 16;
            bits.TopUp();
        }
        bits.SkipEntry(e);
        return e >> 16 & 0xFF;
    }

private:
    // The codes one by one; the entry returned takes no more bits.
    __attribute__((noinline)) uint32_t Apart(BitSource& bits, uint32_t e) const {
        uint32_t a;
        if (e & kSlow) {
            a = Walk(first_, bits);
        } else {
            a = e >> 16 & 0xFF;
            bits.SkipEntry(e);
        }
        bits.TopUp();
        const uint32_t b = Second(bits);
        return (a | b << 8) << 16;
    }

    const uint32_t* first_;
    const uint32_t* second_;
    uint32_t* single_;
    uint32_t* pair_;
    uint32_t mask_;
};

// Writes `frames` sample frames of FS bytes into the ring from p on: first
// the frame already in `frame`, then each one `next` produces. Whole runs are
// written straight; a frame that straddles the ring's end goes byte by byte.
template <int FS, class Next>
void WriteFrames(uint8_t* ringStart, uint8_t* ringEnd, uint8_t* p, uint32_t frames, uint8_t* frame,
                 Next next) {
    for (int b = 0; b < FS; b++) {
        *p++ = frame[b];
        if (p == ringEnd) p = ringStart;
    }
    frames--;
    while (frames) {
        size_t room = static_cast<size_t>(ringEnd - p) / FS;
        uint32_t run = room < frames ? static_cast<uint32_t>(room) : frames;
        for (uint32_t i = 0; i < run; i++) {
            next(p);
            p += FS;
        }
        frames -= run;
        if (!frames) break;
        if (p == ringEnd) {
            p = ringStart;
            continue;
        }
        next(frame);
        for (int b = 0; b < FS; b++) {
            *p++ = frame[b];
            if (p == ringEnd) p = ringStart;
        }
        frames--;
    }
}

inline void Put16(uint8_t* out, uint32_t v) {
    out[0] = static_cast<uint8_t>(v);
    out[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

void UnpackSound(const uint8_t* source, uint32_t sourceSize, uint32_t byteCount, uint32_t* scratch,
                 uint8_t* ringStart, uint8_t* ringEnd, uint8_t* writePos) {
    if (!scratch || !ringStart || ringEnd <= ringStart) return;
    if (writePos < ringStart || writePos > ringEnd) return;
    if (writePos == ringEnd) writePos = ringStart;
    if (!source) sourceSize = 0;

    BitSource bits(source, sourceSize);
    if (!bits.Bit()) return;  // chunk present but silent: the caller still counts it
    uint32_t stereo = bits.Bit();
    uint32_t wide = bits.Bit();
    uint32_t treeCount = stereo && wide ? 4 : stereo || wide ? 2 : 1;
    uint32_t* tree[4];
    for (uint32_t k = 0; k < treeCount; k++) {
        tree[k] = scratch + k * kTreeNodes;
        bits.Bit();  // not examined
        BuildTree(bits, tree[k]);
    }

    uint32_t frameSize = (stereo + 1) * (wide + 1);
    uint32_t frames = byteCount / frameSize;
    if (!frames) return;

    PairTables& g = g_tables;
    uint8_t first[4];
    if (!stereo && !wide) {
        // Two samples a lookup; a lone last sample of a run by itself.
        uint32_t s = bits.Byte();
        const PairReader t(tree[0], tree[0], TableWidth(frames / 2), g.single[0], g.pair[0]);
        bits.TopUp();
        *writePos = static_cast<uint8_t>(s);
        uint8_t* p = writePos + 1;
        for (uint32_t left = frames - 1; left;) {
            if (p == ringEnd) p = ringStart;
            const size_t room = static_cast<size_t>(ringEnd - p);
            const uint32_t run = room < left ? static_cast<uint32_t>(room) : left;
            uint32_t i = 0;
            for (; i + 2 <= run; i += 2) {
                const uint32_t d = t.Next<true>(bits);
                s += d;
                p[i] = static_cast<uint8_t>(s);
                s += d >> 8;
                p[i + 1] = static_cast<uint8_t>(s);
            }
            if (i < run) {
                s += t.Second(bits);
                p[i] = static_cast<uint8_t>(s);
            }
            p += run;
            left -= run;
        }
    } else if (!stereo) {
        uint32_t hi = bits.Byte();
        uint32_t lo = bits.Byte();
        uint32_t s = hi << 8 | lo;
        first[0] = static_cast<uint8_t>(lo);
        first[1] = static_cast<uint8_t>(hi);
        const PairReader t(tree[0], tree[1], TableWidth(frames), g.single[0], g.pair[0]);
        bits.TopUp();
        WriteFrames<2>(ringStart, ringEnd, writePos, frames, first, [&](uint8_t* out) {
            s += t.Next<true>(bits);  // low byte, carry, high byte: a 16-bit add
            Put16(out, s);
        });
    } else if (!wide) {
        uint32_t right = bits.Byte();
        uint32_t left = bits.Byte();
        first[0] = static_cast<uint8_t>(left);
        first[1] = static_cast<uint8_t>(right);
        const PairReader t(tree[0], tree[1], TableWidth(frames), g.single[0], g.pair[0]);
        bits.TopUp();
        WriteFrames<2>(ringStart, ringEnd, writePos, frames, first, [&](uint8_t* out) {
            const uint32_t d = t.Next<true>(bits);
            left += d;  // each channel on its own: no carry between them
            right += d >> 8;
            out[0] = static_cast<uint8_t>(left);
            out[1] = static_cast<uint8_t>(right);
        });
    } else {
        uint32_t rh = bits.Byte();
        uint32_t rl = bits.Byte();
        uint32_t lh = bits.Byte();
        uint32_t ll = bits.Byte();
        uint32_t left = lh << 8 | ll;
        uint32_t right = rh << 8 | rl;
        first[0] = static_cast<uint8_t>(ll);
        first[1] = static_cast<uint8_t>(lh);
        first[2] = static_cast<uint8_t>(rl);
        first[3] = static_cast<uint8_t>(rh);
        const uint32_t width = TableWidth(frames);
        const PairReader l(tree[0], tree[1], width, g.single[0], g.pair[0]);
        const PairReader r(tree[2], tree[3], width, g.single[1], g.pair[1]);
        bits.TopUp();
        WriteFrames<4>(ringStart, ringEnd, writePos, frames, first, [&](uint8_t* out) {
            left += l.Next<true>(bits);
            right += r.Next<false>(bits);
            Put16(out, left);
            Put16(out + 2, right);
        });
    }
}
