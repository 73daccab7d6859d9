// Compressed sound: a presence bit, a stereo bit, a 16-bit bit, one to four
// byte trees, the first sample frame raw, then one Huffman-coded delta per
// byte of every following sample frame.
#include "movie/sound_unpack.h"

#include <cstddef>
#include <cstring>

namespace {

// Bits are taken least significant first from little-endian words; past the
// end of the source every bit is 0. The 64-bit window keeps at least one bit
// between refills of the hot loops.
struct BitSource {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t buf = 0;
    unsigned n = 0;  // valid bits in buf

    BitSource(const uint8_t* src, uint32_t size) : p(src), end(src + size) {}

    // Tops the window up to at least 56 bits.
    void Refill() {
        if (end - p >= 8) {
            uint64_t w;
            std::memcpy(&w, p, 8);
            w = LittleEndian(w);
            buf |= w << n;
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

    uint32_t Bit() {
        if (n == 0) Refill();
        uint32_t b = static_cast<uint32_t>(buf & 1);
        buf >>= 1;
        n--;
        return b;
    }

    uint32_t Byte() {
        if (n < 8) Refill();
        uint32_t v = static_cast<uint32_t>(buf & 0xFF);
        buf >>= 8;
        n -= 8;
        return v;
    }

    static uint64_t LittleEndian(uint64_t w) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        return __builtin_bswap64(w);
#else
        return w;
#endif
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

inline uint32_t Decode(const uint32_t* tree, BitSource& bits) {
    const uint8_t* at = reinterpret_cast<const uint8_t*>(tree);
    uint32_t node = tree[0];
    while (!(node & kLeaf)) {
        at += bits.Bit() ? node : 4;
        node = *reinterpret_cast<const uint32_t*>(at);
    }
    return node & 0xFF;
}

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

    uint8_t first[4];
    if (!stereo && !wide) {
        uint32_t s = bits.Byte();
        first[0] = static_cast<uint8_t>(s);
        const uint32_t* t1 = tree[0];
        WriteFrames<1>(ringStart, ringEnd, writePos, frames, first, [&](uint8_t* out) {
            s += Decode(t1, bits);
            out[0] = static_cast<uint8_t>(s);
        });
    } else if (!stereo) {
        uint32_t hi = bits.Byte();
        uint32_t lo = bits.Byte();
        uint32_t s = hi << 8 | lo;
        first[0] = static_cast<uint8_t>(lo);
        first[1] = static_cast<uint8_t>(hi);
        const uint32_t *t1 = tree[0], *t2 = tree[1];
        WriteFrames<2>(ringStart, ringEnd, writePos, frames, first, [&](uint8_t* out) {
            uint32_t low = Decode(t1, bits);
            uint32_t high = Decode(t2, bits);
            s += high << 8 | low;
            out[0] = static_cast<uint8_t>(s);
            out[1] = static_cast<uint8_t>(s >> 8);
        });
    } else if (!wide) {
        uint32_t right = bits.Byte();
        uint32_t left = bits.Byte();
        first[0] = static_cast<uint8_t>(left);
        first[1] = static_cast<uint8_t>(right);
        const uint32_t *t1 = tree[0], *t2 = tree[1];
        WriteFrames<2>(ringStart, ringEnd, writePos, frames, first, [&](uint8_t* out) {
            left += Decode(t1, bits);
            right += Decode(t2, bits);
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
        const uint32_t *t1 = tree[0], *t2 = tree[1], *t3 = tree[2], *t4 = tree[3];
        WriteFrames<4>(ringStart, ringEnd, writePos, frames, first, [&](uint8_t* out) {
            uint32_t a = Decode(t1, bits);
            uint32_t b = Decode(t2, bits);
            left += b << 8 | a;
            uint32_t c = Decode(t3, bits);
            uint32_t d = Decode(t4, bits);
            right += d << 8 | c;
            out[0] = static_cast<uint8_t>(left);
            out[1] = static_cast<uint8_t>(left >> 8);
            out[2] = static_cast<uint8_t>(right);
            out[3] = static_cast<uint8_t>(right >> 8);
        });
    }
}
