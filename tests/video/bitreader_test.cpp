// The two bit readers: bit order, refills at every alignment, the end of the
// data (zeros, no reads beyond it) and identical consumption.
#include <gtest/gtest.h>

#include <random>

#include "tests/video/video_stream.h"
#include "video/bitreader.h"

using vtest::BitWriter;

namespace {

// Reads fields the way the value decoder does: lookups of up to 12 bits
// through Refill/Peek/Skip, and single bits.
template <class R>
std::vector<uint32_t> ReadFields(const std::vector<uint8_t>& bytes, const std::vector<int>& widths,
                                 std::vector<uint64_t>* positions) {
    R r;
    r.Start(bytes.data(), bytes.size());
    std::vector<uint32_t> out;
    for (int w : widths) {
        uint32_t v = 0;
        if (w <= 12) {
            r.Refill(12);
            v = r.Peek() & ((1u << w) - 1);
            r.Skip(static_cast<uint32_t>(w));
        } else {
            for (int i = 0; i < w; ++i) v |= r.Bit() << i;
        }
        out.push_back(v);
        positions->push_back(r.BitsConsumed());
    }
    return out;
}

}  // namespace

TEST(BitReader, LeastSignificantBitFirst) {
    const std::vector<uint8_t> bytes = {0x01, 0x80, 0xFF, 0x00};
    BitReader32 r;
    r.Start(bytes.data(), bytes.size());
    EXPECT_EQ(r.Bit(), 1u);  // bit 0 of the first byte
    for (int i = 1; i < 8; ++i) EXPECT_EQ(r.Bit(), 0u);
    r.Refill(12);
    EXPECT_EQ(r.Peek() & 0xFF, 0x80u);  // the second byte as an 8-bit field
    r.Skip(8);
    r.Refill(12);
    EXPECT_EQ(r.Peek() & 0xFFF, 0x0FFu);
}

TEST(BitReader, BothReadersGiveTheWrittenFieldsAndPositions) {
    std::mt19937 rng(99);
    for (int iter = 0; iter < 200; ++iter) {
        BitWriter w;
        std::vector<int> widths;
        std::vector<uint32_t> values;
        std::vector<uint64_t> expectPos;
        const int n = static_cast<int>(rng() % 60);
        for (int i = 0; i < n; ++i) {
            int width = rng() % 4 == 0 ? 13 + static_cast<int>(rng() % 20) : 1 + static_cast<int>(rng() % 12);
            uint32_t v = static_cast<uint32_t>(rng()) & (width == 32 ? 0xFFFFFFFFu : (1u << width) - 1);
            w.Field(v, width);
            widths.push_back(width);
            values.push_back(v);
            expectPos.push_back(w.Bits());
        }
        // Past the end everything reads as 0 and positions keep counting.
        for (int i = 0; i < 6; ++i) {
            widths.push_back(i % 2 ? 12 : 20);
            values.push_back(0);
            expectPos.push_back(expectPos.empty() ? widths.back() : expectPos.back() + widths.back());
        }
        std::vector<uint8_t> exact = w.Bytes();  // no slack: an over-read shows under the sanitizers
        std::vector<uint64_t> pos32, pos64;
        EXPECT_EQ(ReadFields<BitReader32>(exact, widths, &pos32), values);
        EXPECT_EQ(ReadFields<BitReader64>(exact, widths, &pos64), values);
        EXPECT_EQ(pos32, expectPos);
        EXPECT_EQ(pos64, expectPos);
    }
}

TEST(BitReader, EmptyAndShortDataReadAsZeros) {
    for (size_t size = 0; size < 10; ++size) {
        std::vector<uint8_t> bytes(size, 0xFF);
        BitReader64 wide;
        BitReader32 plain;
        wide.Start(size ? bytes.data() : nullptr, size);
        plain.Start(size ? bytes.data() : nullptr, size);
        for (size_t i = 0; i < 8 * size + 70; ++i) {
            const uint32_t expect = i < 8 * size ? 1u : 0u;
            ASSERT_EQ(plain.Bit(), expect) << size << " " << i;
            ASSERT_EQ(wide.Bit(), expect) << size << " " << i;
        }
    }
}
