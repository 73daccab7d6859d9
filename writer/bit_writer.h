// Bit stream in the order the player reads it: least significant bit first,
// so the first bit written is bit 0 of the first byte.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvw {

class BitWriter {
public:
    // Appends the low `count` bits of `bits` (count 0..32), bit 0 first.
    void Put(uint32_t bits, unsigned count) {
        if (count == 0) return;
        uint64_t v = count == 32 ? bits : (bits & ((1u << count) - 1));
        acc_ |= v << fill_;
        fill_ += count;
        bits_ += count;
        if (fill_ >= 32) {
            uint32_t w = static_cast<uint32_t>(acc_);
            out_.push_back(static_cast<uint8_t>(w));
            out_.push_back(static_cast<uint8_t>(w >> 8));
            out_.push_back(static_cast<uint8_t>(w >> 16));
            out_.push_back(static_cast<uint8_t>(w >> 24));
            acc_ >>= 32;
            fill_ -= 32;
        }
    }
    void PutBit(bool b) { Put(b ? 1u : 0u, 1); }

    uint64_t BitCount() const { return bits_; }

    // The bytes written so far, the last partial byte filled with 0 bits, then
    // zero bytes up to a multiple of `align`.
    std::vector<uint8_t> Finish(size_t align = 1) const {
        std::vector<uint8_t> out = out_;
        uint64_t acc = acc_;
        for (unsigned f = fill_; f > 0; f = f >= 8 ? f - 8 : 0) {
            out.push_back(static_cast<uint8_t>(acc));
            acc >>= 8;
        }
        while (align > 1 && out.size() % align != 0) out.push_back(0);
        return out;
    }

private:
    std::vector<uint8_t> out_;
    uint64_t acc_ = 0;
    unsigned fill_ = 0;
    uint64_t bits_ = 0;
};

}  // namespace qvw
