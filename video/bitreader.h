// Bit readers for the video stream: least significant bit first, fetched as
// little-endian words. Both readers know where their data ends: bits past the
// end read as 0, so malformed data can make a wrong picture but never a read
// outside the buffer. The end test is made once per refill, not per bit.
//
// BitReader32 buffers at most 32 bits and refills 16 at a time (the plain
// path); BitReader64 buffers up to 64 and refills 32 at a time (the path taken
// when MmxLevel is 2). They consume exactly the same bits.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace bitread {

// Little-endian load of `n` bytes (n <= 4) from p, or fewer when the data ends
// first; the missing high bytes are 0.
inline uint32_t LoadPartial(const uint8_t* p, size_t avail, size_t n) {
    uint32_t v = 0;
    size_t k = avail < n ? avail : n;
    for (size_t i = 0; i < k; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
    return v;
}

// Little-endian loads through memcpy: one unaligned move on x86.
inline uint32_t Load16LE(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8; }
inline uint32_t Load32LE(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

// The byte source both readers share: a cursor that never moves past the end
// and counts the bytes "read" beyond it, so that bit positions stay exact.
class ByteSource {
public:
    void Start(const uint8_t* data, size_t size) {
        start_ = data;
        p_ = data;
        end_ = data + size;
        overrun_ = 0;
        if (!data) end_ = data;
    }
    uint32_t Take16() {
        if (end_ - p_ >= 2) {
            uint32_t v = Load16LE(p_);
            p_ += 2;
            return v;
        }
        return TakeSlow(2);
    }
    uint32_t Take32() {
        if (end_ - p_ >= 4) {
            uint32_t v = Load32LE(p_);
            p_ += 4;
            return v;
        }
        return TakeSlow(4);
    }
    // Bytes taken so far, including those past the end.
    uint64_t Taken() const { return static_cast<uint64_t>(p_ - start_) + overrun_; }

private:
    uint32_t TakeSlow(size_t n) {
        size_t avail = static_cast<size_t>(end_ - p_);
        uint32_t v = LoadPartial(p_, avail, n);
        size_t k = avail < n ? avail : n;
        p_ += k;
        overrun_ += n - k;
        return v;
    }
    const uint8_t* start_ = nullptr;
    const uint8_t* p_ = nullptr;
    const uint8_t* end_ = nullptr;
    uint64_t overrun_ = 0;
};

}  // namespace bitread

// The plain reader: starts with one 32-bit word; Refill(n) appends 16 bits
// when fewer than n (n <= 16) are buffered; Bit() loads a whole 32-bit word
// when the buffer is empty.
class BitReader32 {
public:
    static constexpr uint32_t kRefillBits = 16;

    void Start(const uint8_t* data, size_t size) {
        src_.Start(data, size);
        buf_ = src_.Take32();
        count_ = 32;
    }
    void Refill(uint32_t n) {
        if (count_ < n) {
            buf_ |= src_.Take16() << count_;
            count_ += 16;
        }
    }
    // The buffered bits, next stream bit in bit 0.
    uint32_t Peek() const { return buf_; }
    void Skip(uint32_t n) {
        buf_ >>= n;  // n <= 16 by the callers' contract, never the whole width
        count_ -= n;
    }
    uint32_t Bit() {
        if (count_ == 0) {
            buf_ = src_.Take32();
            count_ = 32;
        }
        uint32_t b = buf_ & 1;
        buf_ >>= 1;
        --count_;
        return b;
    }
    uint64_t BitsConsumed() const { return src_.Taken() * 8 - count_; }

private:
    bitread::ByteSource src_;
    uint32_t buf_ = 0;
    uint32_t count_ = 0;
};

// The wide reader: starts with 64 bits; Refill() appends 32 bits when fewer
// than 32 are buffered, so a value of up to 32 bits needs no further refill.
// Bit() still refills when empty, so longer codes decode as well.
class BitReader64 {
public:
    static constexpr uint32_t kRefillBits = 32;

    void Start(const uint8_t* data, size_t size) {
        src_.Start(data, size);
        uint64_t lo = src_.Take32();
        uint64_t hi = src_.Take32();
        buf_ = lo | hi << 32;
        count_ = 64;
    }
    void Refill(uint32_t /*n*/) {
        if (count_ < 32) {
            buf_ |= static_cast<uint64_t>(src_.Take32()) << count_;
            count_ += 32;
        }
    }
    uint32_t Peek() const { return static_cast<uint32_t>(buf_); }
    void Skip(uint32_t n) {
        buf_ >>= n;
        count_ -= n;
    }
    uint32_t Bit() {
        if (count_ == 0) {
            buf_ = src_.Take32();
            count_ = 32;
        }
        uint32_t b = static_cast<uint32_t>(buf_) & 1;
        buf_ >>= 1;
        --count_;
        return b;
    }
    uint64_t BitsConsumed() const { return src_.Taken() * 8 - count_; }

private:
    bitread::ByteSource src_;
    uint64_t buf_ = 0;
    uint32_t count_ = 0;
};

// A simple reader for building tables: any field width up to 32, one bit at a
// time (speed does not matter there).
class FieldReader {
public:
    void Start(const uint8_t* data, size_t size) { r_.Start(data, size); }
    uint32_t Bit() { return r_.Bit(); }
    uint32_t Bits(uint32_t n) {
        uint32_t v = 0;
        for (uint32_t i = 0; i < n; ++i) v |= r_.Bit() << i;
        return v;
    }
    uint64_t BitsConsumed() const { return r_.BitsConsumed(); }

private:
    BitReader32 r_;
};
