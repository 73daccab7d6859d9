// The compressed-sound unpacker: sound of every layout packed by the writer
// comes back byte for byte wherever it lands in a ring, and hand-made
// streams show the layouts, the carries and what is never read or written.
#include <functional>
#include <random>

#include "movie/sound_unpack.h"
#include "tests/sound/sound_fixture.h"
#include "writer/bit_writer.h"
#include "writer/writer.h"

using soundtest::Bytes;

namespace {

// Unpacks a stream (exactly its size: an over-read shows under the
// sanitizers) into a ring inside guard bytes; false when anything outside
// the ring, or scratch past `scratchBytes`, changed.
bool Unpack(const Bytes& stream, uint32_t n, size_t ringSize, ptrdiff_t at, Bytes* ring, uint32_t scratchBytes = 8192) {
    Bytes block = movietest::Cat({Bytes(64, 0xEE), Bytes(ringSize, 0xAA), Bytes(64, 0xEE)});
    std::vector<uint32_t> scratch(kSoundScratchBytes / 4 + 16, 0x5A5A5A5A);
    uint8_t* start = block.data() + 64;
    UnpackSound(stream.empty() ? nullptr : stream.data(), uint32_t(stream.size()), n, scratch.data(), start, start + ringSize, start + at);
    ring->assign(start, start + ringSize);
    return std::count(block.begin(), block.begin() + 64, 0xEE) + std::count(block.end() - 64, block.end(), 0xEE) == 128 &&
           std::count(scratch.begin() + scratchBytes / 4, scratch.end(), 0x5A5A5A5Au) == long(scratch.size() - scratchBytes / 4);
}

// Random walks of every layout (with a jump now and then for long codes),
// packed with the writer's Huffman trees, unpacked at any ring position.
TEST(UnpackSound, RoundTripsEveryLayoutAcrossTheRingsEnd) {
    std::mt19937 rng(1234);
    for (int layout = 0; layout < 4; ++layout) {
        const int channels = 1 + layout % 2, bits = layout < 2 ? 8 : 16, frame = channels * bits / 8;
        for (int trial = 0; trial < 6; ++trial) {
            Bytes pcm(frame * (1 + rng() % 3000));
            for (size_t i = 0, level[2] = {0, 0}; i < pcm.size(); i += bits / 8) {
                size_t& l = level[(i / (bits / 8)) % channels];
                l = rng() % 97 ? l + rng() % 41 - 20 : rng();
                pcm[i] = uint8_t(l), pcm[i + bits / 16] = uint8_t(l >> (bits - 8));
            }
            const Bytes chunk = qvw::EncodeSoundChunk(pcm.data(), pcm.size(), bits, channels, true);
            const size_t ringSize = std::max<size_t>(4 * (1 + rng() % 4096), (pcm.size() + 3) / 4 * 4);
            const size_t at = 4 * (rng() % (ringSize / 4));
            Bytes ring;
            ASSERT_TRUE(Unpack(Bytes(chunk.begin() + 8, chunk.end()), uint32_t(pcm.size()), ringSize, at, &ring));
            Bytes got(pcm.size());
            for (size_t i = 0; i < pcm.size(); ++i) got[i] = ring[(at + i) % ringSize];
            ASSERT_EQ(got, pcm) << "layout " << layout << ", trial " << trial;
        }
    }
}

// Streams written bit by bit: presence, stereo and 16-bit bits, the trees
// (each after a bit that is not examined), the first sample frame raw (right
// before left, high byte before low), then the deltas. The carries stay in
// their channel; a tree of one leaf costs no bits; nothing is read past the
// source or written outside the ring, a part of a sample frame is never
// written, and a tree that never closes keeps to its slot of the scratch.
TEST(UnpackSound, HandMadeStreams) {
    auto head = [](qvw::BitWriter& w, bool stereo, bool wide) { w.Put(1 | stereo << 1 | wide << 2, 3); };
    auto leaf = [](qvw::BitWriter& w, uint8_t v, uint32_t pre = 0) { w.Put(pre, 1), w.Put(0, 1), w.Put(v, 8), w.Put(0, 1); };
    auto bytes = [](qvw::BitWriter& w, std::vector<uint8_t> b) { for (uint8_t v : b) w.Put(v, 8); };
    auto stream = [](std::function<void(qvw::BitWriter&)> f) {
        qvw::BitWriter w;
        f(w);
        return w.Finish();
    };
    const uint8_t pcm[8] = {1, 0, 2, 0, 3, 0, 4, 0};
    const Bytes packed = qvw::EncodeSoundChunk(pcm, 8, 16, 2, true);
    const struct {
        const char* what;
        Bytes stream;
        uint32_t n, ringSize;
        ptrdiff_t at;
        Bytes expect;  // the ring; empty: only nothing outside it may change
        uint32_t scratchBytes;
    } cases[] = {
        {"16-bit mono carries into the high byte", stream([&](auto& w) { head(w, 0, 1), leaf(w, 1), leaf(w, 0), bytes(w, {0x00, 0xFF}); }),
         6, 8, 0, {0xFF, 0x00, 0x00, 0x01, 0x01, 0x01, 0xAA, 0xAA}, 8192},
        {"8-bit stereo wraps each channel alone", stream([&](auto& w) { head(w, 1, 0), leaf(w, 1, 1), leaf(w, 0, 1), bytes(w, {0x40, 0xFF}); }),
         6, 8, 0, {0xFF, 0x40, 0x00, 0x40, 0x01, 0x40, 0xAA, 0xAA}, 8192},
        {"presence bit 0 writes nothing", {0xFE, 0xFF}, 8, 8, 0, Bytes(8, 0xAA), 8192},
        {"a one-leaf tree reads no bits", stream([&](auto& w) { head(w, 0, 0), leaf(w, 3), bytes(w, {0x10, 0xFF, 0xFF}); }),
         5, 8, 0, {0x10, 0x13, 0x16, 0x19, 0x1C, 0xAA, 0xAA, 0xAA}, 8192},
        {"ending at the ring's end", stream([&](auto& w) { head(w, 0, 0), leaf(w, 1), bytes(w, {0x20}); }), 4, 8, 4,
         {0xAA, 0xAA, 0xAA, 0xAA, 0x20, 0x21, 0x22, 0x23}, 8192},
        {"part of a sample frame is dropped", Bytes(packed.begin() + 8, packed.end()), 7, 8, 0, {1, 0, 2, 0, 0xAA, 0xAA, 0xAA, 0xAA}, 8192},
        {"bits past the source read as 0", {0x07}, 64, 64, 0, Bytes(64, 0), 8192},
        {"an empty source writes nothing", {}, 8, 8, 0, Bytes(8, 0xAA), 8192},
        {"writing from past the ring", {0x01, 0x08}, 4, 8, 9, Bytes(8, 0xAA), 8192},
        {"writing from before the ring", {0x01, 0x08}, 4, 8, -1, Bytes(8, 0xAA), 8192},
        {"a tree that never closes keeps to its slot", movietest::Cat({{0xF9}, Bytes(4095, 0xFF)}), 256, 256, 0, {}, 2048},
        {"four such trees keep to the scratch", Bytes(8192, 0xFF), 256, 256, 0, {}, 8192},
    };
    for (const auto& c : cases) {
        Bytes ring;
        EXPECT_TRUE(Unpack(c.stream, c.n, c.ringSize, c.at, &ring, c.scratchBytes)) << c.what;
        EXPECT_TRUE(c.expect.empty() || ring == c.expect) << c.what;
    }
}

}  // namespace
