// The compressed-sound unpacker on hand-made streams whose output is worked
// out by hand, and on random sound round-tripped through an independent packer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "movie/sound_unpack.h"
#include "tests/sound/sound_pack.h"

using soundpack::BitWriter;
using soundpack::Tree;

namespace {

// A ring inside a larger block whose guard bytes must never change.
struct GuardedRing {
    static constexpr size_t kGuard = 64;
    std::vector<uint8_t> block;
    size_t size;
    explicit GuardedRing(size_t n, uint8_t fill = 0xAA) : block(n + 2 * kGuard, 0xEE), size(n) {
        std::memset(start(), fill, n);
    }
    uint8_t* start() { return block.data() + kGuard; }
    uint8_t* end() { return start() + size; }
    bool GuardsIntact() const {
        for (size_t i = 0; i < kGuard; i++)
            if (block[i] != 0xEE || block[block.size() - 1 - i] != 0xEE) return false;
        return true;
    }
    std::vector<uint8_t> Bytes() { return std::vector<uint8_t>(start(), end()); }
};

struct Scratch {
    std::vector<uint32_t> words = std::vector<uint32_t>(kSoundScratchBytes / 4 + 16, 0x5A5A5A5A);
    uint32_t* get() { return words.data(); }
    // The words past the 8192 bytes must stay as they were.
    bool TailIntact() const {
        for (size_t i = kSoundScratchBytes / 4; i < words.size(); i++)
            if (words[i] != 0x5A5A5A5A) return false;
        return true;
    }
};

// Unpacks from an exact-size heap copy so an over-read trips the sanitizer.
void Unpack(const std::vector<uint8_t>& stream, uint32_t n, Scratch& s, uint8_t* rs, uint8_t* re,
            uint8_t* wp) {
    std::vector<uint8_t> exact(stream);
    UnpackSound(exact.empty() ? nullptr : exact.data(), static_cast<uint32_t>(exact.size()), n, s.get(),
                rs, re, wp);
}

// Header bits: presence, stereo, 16-bit.
BitWriter Head(bool stereo, bool wide) {
    BitWriter w;
    w.Bit(1);
    w.Bit(stereo);
    w.Bit(wide);
    return w;
}

// A tree with two leaves: bit 0 gives `left`, bit 1 gives `right`.
void TwoLeafTree(BitWriter& w, uint8_t left, uint8_t right) {
    w.Bit(0);  // unexamined bit before the tree
    w.Bits("1");
    w.Bit(0);
    w.Byte(left);
    w.Bit(0);
    w.Byte(right);
    w.Bit(0);  // closes the tree
}

void LeafTree(BitWriter& w, uint8_t value, uint32_t preBit = 0) {
    w.Bit(preBit);
    w.Bit(0);
    w.Byte(value);
    w.Bit(0);
}

TEST(UnpackSound, SixteenBitMonoCarriesIntoHighByte) {
    BitWriter w = Head(false, true);
    LeafTree(w, 0x01);  // T1: low-byte delta
    LeafTree(w, 0x00);  // T2: high-byte delta
    w.Byte(0x00);       // first sample, high byte
    w.Byte(0xFF);       // low byte
    GuardedRing ring(16);
    Scratch s;
    Unpack(w.bytes, 6, s, ring.start(), ring.end(), ring.start());
    std::vector<uint8_t> want = {0xFF, 0x00, 0x00, 0x01, 0x01, 0x01};
    EXPECT_EQ(std::vector<uint8_t>(ring.start(), ring.start() + 6), want);
    EXPECT_EQ(ring.start()[6], 0xAA);
    EXPECT_TRUE(ring.GuardsIntact());
}

TEST(UnpackSound, SixteenBitMonoDecodesLowTreeFirst) {
    BitWriter w = Head(false, true);
    TwoLeafTree(w, 0x01, 0x02);  // T1
    TwoLeafTree(w, 0x10, 0x20);  // T2
    w.Byte(0x00);
    w.Byte(0x00);
    w.Bits("01");  // T1 takes 0 -> 0x01, T2 takes 1 -> 0x20
    GuardedRing ring(8);
    Scratch s;
    Unpack(w.bytes, 4, s, ring.start(), ring.end(), ring.start());
    EXPECT_EQ(ring.start()[2], 0x01);
    EXPECT_EQ(ring.start()[3], 0x20);
}

TEST(UnpackSound, EightBitStereoChannelsWrapIndependently) {
    BitWriter w = Head(true, false);
    LeafTree(w, 0x01, 1);  // T1, left; the bit before a tree may be 1
    LeafTree(w, 0x00, 1);  // T2, right
    w.Byte(0x40);          // right first
    w.Byte(0xFF);          // then left
    GuardedRing ring(8);
    Scratch s;
    Unpack(w.bytes, 6, s, ring.start(), ring.end(), ring.start());
    std::vector<uint8_t> want = {0xFF, 0x40, 0x00, 0x40, 0x01, 0x40, 0xAA, 0xAA};
    EXPECT_EQ(ring.Bytes(), want);
}

TEST(UnpackSound, EightBitStereoDecodesLeftTreeFirst) {
    BitWriter w = Head(true, false);
    TwoLeafTree(w, 0x01, 0x02);  // T1, left
    TwoLeafTree(w, 0x10, 0x20);  // T2, right
    w.Byte(0x00);
    w.Byte(0x00);
    w.Bits("01");
    GuardedRing ring(4);
    Scratch s;
    Unpack(w.bytes, 4, s, ring.start(), ring.end(), ring.start());
    std::vector<uint8_t> want = {0x00, 0x00, 0x01, 0x20};
    EXPECT_EQ(ring.Bytes(), want);
}

TEST(UnpackSound, SixteenBitStereoLayoutAndTreeOrder) {
    BitWriter w = Head(true, true);
    TwoLeafTree(w, 0x01, 0x02);  // T1: left low
    TwoLeafTree(w, 0x10, 0x20);  // T2: left high
    TwoLeafTree(w, 0x03, 0x04);  // T3: right low
    TwoLeafTree(w, 0x30, 0x40);  // T4: right high
    w.Byte(0x12);                // right high
    w.Byte(0x34);                // right low
    w.Byte(0x56);                // left high
    w.Byte(0xF8);                // left low
    w.Bits("0110");              // T1 0x01, T2 0x20, T3 0x04, T4 0x30
    GuardedRing ring(8);
    Scratch s;
    Unpack(w.bytes, 8, s, ring.start(), ring.end(), ring.start());
    // left 0x56F8 + 0x2001 = 0x76F9; right 0x1234 + 0x3004 = 0x4238.
    std::vector<uint8_t> want = {0xF8, 0x56, 0x34, 0x12, 0xF9, 0x76, 0x38, 0x42};
    EXPECT_EQ(ring.Bytes(), want);
}

TEST(UnpackSound, PresenceBitZeroWritesNothing) {
    BitWriter w;
    w.Bit(0);
    w.Byte(0xFF);
    w.Byte(0xFF);
    GuardedRing ring(32);
    Scratch s;
    Unpack(w.bytes, 32, s, ring.start(), ring.end(), ring.start());
    EXPECT_EQ(ring.Bytes(), std::vector<uint8_t>(32, 0xAA));
}

TEST(UnpackSound, RootLeafTreeReadsNoBits) {
    // 8-bit mono: T1 is a single leaf 3, so the bits after the first sample
    // (all ones here) are never consumed as codes.
    BitWriter w = Head(false, false);
    LeafTree(w, 0x03);
    w.Byte(0x10);
    for (int i = 0; i < 16; i++) w.Bit(1);
    GuardedRing ring(8);
    Scratch s;
    Unpack(w.bytes, 5, s, ring.start(), ring.end(), ring.start());
    std::vector<uint8_t> want = {0x10, 0x13, 0x16, 0x19, 0x1C, 0xAA, 0xAA, 0xAA};
    EXPECT_EQ(ring.Bytes(), want);
}

TEST(UnpackSound, ChunkEndingAtRingEndLeavesRingStartAlone) {
    BitWriter w = Head(false, false);
    LeafTree(w, 0x01);
    w.Byte(0x20);
    GuardedRing ring(8);
    Scratch s;
    Unpack(w.bytes, 4, s, ring.start(), ring.end(), ring.start() + 4);
    std::vector<uint8_t> want = {0xAA, 0xAA, 0xAA, 0xAA, 0x20, 0x21, 0x22, 0x23};
    EXPECT_EQ(ring.Bytes(), want);
    EXPECT_TRUE(ring.GuardsIntact());
}

TEST(UnpackSound, WrapsAcrossRingEnd) {
    std::vector<uint8_t> pcm = {1, 0, 2, 0, 3, 0, 4, 0, 5, 0, 6, 0};  // 16-bit stereo, 3 frames
    std::vector<uint8_t> stream = soundpack::Pack(pcm, true, true);
    Scratch s;
    {
        // Aligned: the second frame starts at RingStart.
        GuardedRing ring(8);
        Unpack(stream, 12, s, ring.start(), ring.end(), ring.start() + 4);
        // [1,0,2,0] at 4..7, [3,0,4,0] at 0..3, then [5,0,6,0] at 4..7 again.
        std::vector<uint8_t> want = {3, 0, 4, 0, 5, 0, 6, 0};
        EXPECT_EQ(ring.Bytes(), want);
        EXPECT_TRUE(ring.GuardsIntact());
    }
    {
        // A frame that straddles the ring's end is split byte by byte.
        GuardedRing ring(10);
        Unpack(stream, 12, s, ring.start(), ring.end(), ring.start() + 8);
        // [1,0 | 2,0] straddles, then [3,0,4,0] at 2..5, [5,0,6,0] at 6..9.
        std::vector<uint8_t> want = {2, 0, 3, 0, 4, 0, 5, 0, 6, 0};
        EXPECT_EQ(ring.Bytes(), want);
        EXPECT_TRUE(ring.GuardsIntact());
    }
}

TEST(UnpackSound, PartialSampleFrameIsDropped) {
    std::vector<uint8_t> pcm = {1, 0, 2, 0, 3, 0, 4, 0};
    std::vector<uint8_t> stream = soundpack::Pack(pcm, true, true);
    GuardedRing ring(16);
    Scratch s;
    Unpack(stream, 7, s, ring.start(), ring.end(), ring.start());  // 1 3/4 frames
    std::vector<uint8_t> bytes = ring.Bytes();
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4), std::vector<uint8_t>({1, 0, 2, 0}));
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 4, bytes.end()), std::vector<uint8_t>(12, 0xAA));
    // Fewer bytes than one frame write nothing.
    GuardedRing small(4);
    Unpack(stream, 3, s, small.start(), small.end(), small.start());
    EXPECT_EQ(small.Bytes(), std::vector<uint8_t>(4, 0xAA));
}

TEST(UnpackSound, OversizedTreeStaysInItsSlot) {
    // Every bit 1: the first tree never closes on its own. In the 8-bit mono
    // layout only the first 2048 bytes of scratch belong to it.
    std::vector<uint8_t> stream(4096, 0xFF);
    stream[0] = 0xF9;  // presence 1, mono, 8-bit, then ones
    GuardedRing ring(256);
    Scratch s;
    Unpack(stream, 256, s, ring.start(), ring.end(), ring.start());
    for (size_t i = 2048 / 4; i < s.words.size(); i++) ASSERT_EQ(s.words[i], 0x5A5A5A5Au) << i;
    EXPECT_TRUE(ring.GuardsIntact());
    // The same with all four trees: nothing past the scratch's 8192 bytes.
    std::vector<uint8_t> all(8192, 0xFF);
    Scratch s4;
    Unpack(all, 256, s4, ring.start(), ring.end(), ring.start());
    EXPECT_TRUE(s4.TailIntact());
    EXPECT_TRUE(ring.GuardsIntact());
}

TEST(UnpackSound, ReadsNothingPastTheSource) {
    // A one-byte source (presence, 16-bit stereo) asking for 4000 bytes: the
    // missing bits read as 0, so trees are single leaves of 0 and every
    // sample is 0.
    std::vector<uint8_t> stream = {0x07};
    GuardedRing ring(4000, 0xAA);
    Scratch s;
    Unpack(stream, 4000, s, ring.start(), ring.end(), ring.start());
    EXPECT_EQ(ring.Bytes(), std::vector<uint8_t>(4000, 0));
    // An empty source writes nothing.
    GuardedRing ring2(16);
    Unpack({}, 16, s, ring2.start(), ring2.end(), ring2.start());
    EXPECT_EQ(ring2.Bytes(), std::vector<uint8_t>(16, 0xAA));
}

TEST(UnpackSound, RejectsAWritePositionOutsideTheRing) {
    BitWriter w = Head(false, false);
    LeafTree(w, 1);
    w.Byte(7);
    GuardedRing ring(8);
    Scratch s;
    Unpack(w.bytes, 4, s, ring.start(), ring.end(), ring.end() + 1);
    Unpack(w.bytes, 4, s, ring.start(), ring.end(), ring.start() - 1);
    EXPECT_EQ(ring.Bytes(), std::vector<uint8_t>(8, 0xAA));
    EXPECT_TRUE(ring.GuardsIntact());
}

// Random sound of every layout, packed with Huffman trees by the test's own
// packer, must come back byte for byte, also when it wraps the ring.
TEST(UnpackSound, RoundTripsEveryLayout) {
    std::mt19937 rng(1234);
    Scratch s;
    for (int layout = 0; layout < 4; layout++) {
        bool stereo = layout & 1, wide = layout & 2;
        size_t fs = (stereo ? 2 : 1) * (wide ? 2 : 1);
        for (int trial = 0; trial < 6; trial++) {
            size_t frames = 1 + rng() % 3000;
            std::vector<uint8_t> pcm(frames * fs);
            // A random walk gives small, skewed deltas like real sound; an
            // occasional jump exercises long codes.
            int32_t level[2] = {0, 0};
            for (size_t f = 0; f < frames; f++)
                for (int ch = 0; ch < (stereo ? 2 : 1); ch++) {
                    level[ch] += static_cast<int32_t>(rng() % 41) - 20;
                    if (rng() % 97 == 0) level[ch] = static_cast<int32_t>(rng());
                    uint8_t* p = &pcm[f * fs + ch * (wide ? 2 : 1)];
                    p[0] = static_cast<uint8_t>(level[ch]);
                    if (wide) p[1] = static_cast<uint8_t>(level[ch] >> 8);
                }
            std::vector<uint8_t> stream = soundpack::Pack(pcm, stereo, wide, trial & 1);
            size_t ringSize = 4 * (1 + rng() % 4096);
            size_t at = (rng() % (ringSize / 4)) * 4;
            if (pcm.size() > ringSize) {
                ringSize = (pcm.size() + 3) / 4 * 4 + 64;
                at = ringSize - 32;
            }
            GuardedRing ring(ringSize);
            Unpack(stream, static_cast<uint32_t>(pcm.size()), s, ring.start(), ring.end(), ring.start() + at);
            std::vector<uint8_t> got(pcm.size());
            for (size_t i = 0; i < pcm.size(); i++) got[i] = ring.start()[(at + i) % ringSize];
            ASSERT_EQ(got, pcm) << "layout " << layout << " trial " << trial;
            ASSERT_TRUE(ring.GuardsIntact());
        }
    }
}

TEST(UnpackSound, CompleteTreesDecodeEveryValue) {
    // A 511-node tree (all 256 values, 8-bit codes) fits its slot exactly.
    std::vector<uint8_t> pcm(257);
    for (int i = 0; i < 257; i++) pcm[i] = static_cast<uint8_t>(i * (i + 1) / 2);  // deltas 1..256
    Tree t = Tree::Complete();
    BitWriter w = Head(false, false);
    w.Bit(0);
    t.Write(w);
    w.Byte(pcm[0]);
    for (int i = 1; i < 257; i++) t.Encode(w, static_cast<uint8_t>(pcm[i] - pcm[i - 1]));
    GuardedRing ring(257);
    Scratch s;
    Unpack(w.bytes, 257, s, ring.start(), ring.end(), ring.start());
    EXPECT_EQ(ring.Bytes(), pcm);
    for (size_t i = 2048 / 4; i < s.words.size(); i++) ASSERT_EQ(s.words[i], 0x5A5A5A5Au);
}

}  // namespace
