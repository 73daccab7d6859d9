// Bit readers for the video stream: least significant bit first, fetched as
// little-endian words. Both readers know where their data ends: bits past the
// end read as 0, so malformed data can make a wrong picture but never a read
// outside the buffer. The end test is made once per refill, not per bit.
//
// BitReader32 buffers at most 32 bits and refills 16 at a time (the plain
// path); BitReader64 buffers up to 64 (the path taken when MmxLevel is 2).
// They consume exactly the same bits.
//
// The value decoder drives both through the same steps per value:
// Prepare(B) makes sure B bits are buffered, Peek() shows them, TopUp()
// refills and SkipCode() consumes. BitReader64 keeps enough bits buffered
// between values that its Prepare is empty and its TopUp, which does not
// depend on the code just looked up, runs beside the lookup instead of in
// front of it.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// Everything a reader does is forced inline: a reader whose address reached
// a call could not stay in registers in the decoder's loop.
#define QUARVEL_INLINE inline __attribute__((always_inline))

namespace bitread {

// Little-endian load of `n` bytes (n <= 4) from p, or fewer when the data ends
// first; the missing high bytes are 0.
QUARVEL_INLINE uint32_t LoadPartial(const uint8_t* p, size_t avail, size_t n) {
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
inline uint64_t Load64LE(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap64(v);
#endif
    return v;
}

// x >> (n mod width), where the processor's shift already takes the count
// modulo the width: the decoder hands over a whole table entry whose low
// bits are the count, and no masking instruction stands between the entry
// and the next code's lookup.
QUARVEL_INLINE uint64_t ShiftRight64(uint64_t x, uint32_t n) {
#if defined(__x86_64__)
    __asm__("shrq %%cl, %0" : "+r"(x) : "c"(n) : "cc");
    return x;
#else
    return x >> (n & 63);
#endif
}
QUARVEL_INLINE uint32_t ShiftRight32(uint32_t x, uint32_t n) {
#if defined(__i386__) || defined(__x86_64__)
    __asm__("shrl %%cl, %0" : "+r"(x) : "c"(n) : "cc");
    return x;
#else
    return x >> (n & 31);
#endif
}

// The byte source both readers share: a cursor that never moves past the end
// and counts the bytes "read" beyond it, so that bit positions stay exact.
class ByteSource {
public:
    void Start(const uint8_t* data, size_t size) {
        if (!data) size = 0;
        start_ = data;
        p_ = data;
        end_ = data + size;
        // Eight bytes can be loaded from every cursor position below this.
        eightEnd_ = size >= 8 ? reinterpret_cast<uintptr_t>(end_ - 7) : 0;
        overrun_ = 0;
    }
    QUARVEL_INLINE uint32_t Take16() {
        if (end_ - p_ >= 2) {
            uint32_t v = Load16LE(p_);
            p_ += 2;
            return v;
        }
        return TakeSlow(2);
    }
    QUARVEL_INLINE uint32_t Take32() {
        if (end_ - p_ >= 4) {
            uint32_t v = Load32LE(p_);
            p_ += 4;
            return v;
        }
        return TakeSlow(4);
    }
    // Eight bytes from the cursor without taking them; only valid when
    // HasEight().
    QUARVEL_INLINE bool HasEight() const { return reinterpret_cast<uintptr_t>(p_) < eightEnd_; }
    QUARVEL_INLINE uint64_t Peek64() const { return Load64LE(p_); }
    QUARVEL_INLINE void Advance(size_t n) { p_ += n; }
    QUARVEL_INLINE uint32_t TakeByte() {
        if (p_ < end_) return *p_++;
        ++overrun_;
        return 0;
    }
    // Bytes taken so far, including those past the end.
    uint64_t Taken() const { return static_cast<uint64_t>(p_ - start_) + overrun_; }

private:
    QUARVEL_INLINE uint32_t TakeSlow(size_t n) {
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
    uintptr_t eightEnd_ = 0;
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
    QUARVEL_INLINE void Refill(uint32_t n) {
        if (count_ < n) {
            buf_ |= src_.Take16() << count_;
            count_ += 16;
        }
    }
    QUARVEL_INLINE void Prepare(uint32_t n) { Refill(n); }
    QUARVEL_INLINE void Ensure(uint32_t n) { Refill(n); }
    QUARVEL_INLINE void TopUp() {}
    // The buffered bits, next stream bit in bit 0.
    uint32_t Peek() const { return buf_; }
    QUARVEL_INLINE void Skip(uint32_t n) {
        buf_ >>= n;  // n <= 16 by the callers' contract, never the whole width
        count_ -= n;
    }
    // Skips the low byte of `code` bits (at most 16; bits 5-7 clear).
    QUARVEL_INLINE void SkipCode(uint32_t code) {
        buf_ = bitread::ShiftRight32(buf_, code);
        count_ -= code & 0xFF;
    }
    QUARVEL_INLINE uint32_t Bit() {
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

// The wide reader: Refill() appends 32 bits when fewer than 32 are buffered,
// so a value of up to 32 bits needs no further refill. TopUp() fills the
// buffer to at least 56 bits with one eight-byte load and no branch: bytes
// already buffered are ORed in again at the same place, and the bits above
// the count are always the stream's next bits (or zeros past its end).
// Bit() still refills when empty, so longer codes decode as well.
class BitReader64 {
public:
    static constexpr uint32_t kRefillBits = 32;

    void Start(const uint8_t* data, size_t size) {
        src_.Start(data, size);
        buf_ = 0;
        count_ = 0;
        TopUp();
    }
    // count_ stays below 64: TopUp leaves at most 63, and the other refills
    // run only below 32.
    QUARVEL_INLINE void Refill(uint32_t /*n*/) {
        if (count_ < 32) {
            buf_ |= static_cast<uint64_t>(src_.Take32()) << count_;
            count_ += 32;
        }
    }
    // The decoder keeps at least 13 bits, enough for any first lookup,
    // buffered whenever a value starts: it tops up at least every third
    // value (56 bits, 13 at most per value) and after every long code.
    // Only a second-level lookup may find fewer than it needs, and asks
    // Ensure.
    QUARVEL_INLINE void Prepare(uint32_t /*n*/) {}
    QUARVEL_INLINE void Ensure(uint32_t n) {
        if (count_ < n) TopUp();
    }
    QUARVEL_INLINE void TopUp() {
        if (__builtin_expect(src_.HasEight(), 1)) {
            buf_ |= src_.Peek64() << count_;
            src_.Advance((63 - count_) >> 3);
            count_ |= 56;
        } else {
            while (count_ <= 56) {
                buf_ |= static_cast<uint64_t>(src_.TakeByte()) << count_;
                count_ += 8;
            }
        }
    }
    uint32_t Peek() const { return static_cast<uint32_t>(buf_); }
    QUARVEL_INLINE void Skip(uint32_t n) {
        buf_ >>= n;
        count_ -= n;
    }
    // Skips the low byte of `code` bits (bits 6-7 clear).
    QUARVEL_INLINE void SkipCode(uint32_t code) {
        buf_ = bitread::ShiftRight64(buf_, code);
        count_ -= code & 0xFF;
    }
    QUARVEL_INLINE uint32_t Bit() {
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
