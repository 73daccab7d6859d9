// The frame decoder: 4 x 4 blocks in raster order, coded as runs of four
// kinds, written straight into the caller's buffer.
#include <cstddef>
#include <cstring>

#include "common/cpu.h"
#include "video/frame_target.h"
#include "video/huffman.h"

uint16_t DecoderColorTable[256];

namespace {

enum BlockKind : uint32_t { kTwoColor = 0, kFull = 1, kSkip = 2, kSolid = 3 };

constexpr uint32_t kRunLengthTable[64] = {
    1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15,  16,  17,  18,  19,   20,   21, 22,
    23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37,  38,  39,  40,  41,   42,   43, 44,
    45, 46, 47, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 128, 256, 512, 1024, 2048,
};

// Two rows of a two-colour mask at once: byte j of Rows8[b] is 0xFF when bit
// j of b is set (bits 0-3 the first row, 4-7 the second); Row16[n] does the
// same for one row of 16-bit pixels.
struct MaskTables {
    uint64_t Rows8[256];
    uint64_t Row16[16];
    MaskTables() {
        for (uint32_t b = 0; b < 256; ++b) {
            uint64_t v = 0;
            for (uint32_t j = 0; j < 8; ++j)
                if (b & (1u << j)) v |= uint64_t{0xFF} << (8 * j);
            Rows8[b] = v;
        }
        for (uint32_t n = 0; n < 16; ++n) {
            uint64_t v = 0;
            for (uint32_t j = 0; j < 4; ++j)
                if (n & (1u << j)) v |= uint64_t{0xFFFF} << (16 * j);
            Row16[n] = v;
        }
    }
};
const MaskTables kMasks;

inline void Store32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }
inline void Store64(uint8_t* p, uint64_t v) { std::memcpy(p, &v, 8); }

constexpr uint64_t kRepeat8 = 0x0101010101010101ull;
constexpr uint64_t kRepeat16 = 0x0001000100010001ull;

// One of the writer sets: pixel width by Wide, rows written once or twice by
// Doubled, and for 8-bit pixels whether a colour remap applies (16-bit
// pixels take it through their colour table). Chosen once per frame. The
// writers take coded values; every colour index goes through Px.
template <bool Wide, bool Doubled, bool Remapped>
struct Writer {
    static constexpr uint32_t kBlockBytes = Wide ? 8 : 4;
    static constexpr uint32_t kBandLines = Doubled ? 8 : 4;

    ptrdiff_t lineStep;
    const uint16_t* colors;
    const uint8_t* remap;

    uint32_t Px(uint32_t index) const { return Remapped ? remap[index] : index; }
    uint8_t* RowLine(uint8_t* block, uint32_t r) const {
        return block + static_cast<ptrdiff_t>(Doubled ? 2 * r : r) * lineStep;
    }
    void PutRow(uint8_t* block, uint32_t r, uint64_t pixels) const {
        uint8_t* p = RowLine(block, r);
        if (Wide) Store64(p, pixels);
        else Store32(p, static_cast<uint32_t>(pixels));
        if (Doubled) {
            if (Wide) Store64(p + lineStep, pixels);
            else Store32(p + lineStep, static_cast<uint32_t>(pixels));
        }
    }
    // Bits 4r..4r+3 of mask choose the high colour in row r.
    void TwoColor(uint8_t* block, uint32_t pair, uint32_t mask) const {
        if (!Wide) {
            uint64_t lo = Px(pair & 0xFF) * kRepeat8;
            uint64_t diff = lo ^ (Px(pair >> 8 & 0xFF) * kRepeat8);
            uint64_t r01 = lo ^ (diff & kMasks.Rows8[mask & 0xFF]);
            uint64_t r23 = lo ^ (diff & kMasks.Rows8[mask >> 8 & 0xFF]);
            PutRow(block, 0, r01);
            PutRow(block, 1, r01 >> 32);
            PutRow(block, 2, r23);
            PutRow(block, 3, r23 >> 32);
        } else {
            uint64_t lo = colors[pair & 0xFF] * kRepeat16;
            uint64_t diff = lo ^ (colors[pair >> 8 & 0xFF] * kRepeat16);
            for (uint32_t r = 0; r < 4; ++r) PutRow(block, r, lo ^ (diff & kMasks.Row16[mask >> (4 * r) & 15]));
        }
    }
    // ab = first value x 65536 + second: the row is second.lo, second.hi,
    // first.lo, first.hi, which is ab as a little-endian word.
    void FullRow(uint8_t* block, uint32_t r, uint32_t ab) const {
        if (!Wide && !Remapped) {
            PutRow(block, r, ab);
        } else if (!Wide) {
            PutRow(block, r, Px(ab & 0xFF) | Px(ab >> 8 & 0xFF) << 8 | Px(ab >> 16 & 0xFF) << 16 | Px(ab >> 24) << 24);
        } else {
            uint64_t v = colors[ab & 0xFF] | static_cast<uint64_t>(colors[ab >> 8 & 0xFF]) << 16 |
                         static_cast<uint64_t>(colors[ab >> 16 & 0xFF]) << 32 |
                         static_cast<uint64_t>(colors[ab >> 24]) << 48;
            PutRow(block, r, v);
        }
    }
    // k blocks of one block row, one fill per target line.
    void Solid(uint8_t* block, uint32_t k, uint32_t color) const {
        const size_t bytes = static_cast<size_t>(k) * kBlockBytes;
        uint8_t* line = block;
        if (!Wide) {
            for (uint32_t l = 0; l < kBandLines; ++l, line += lineStep)
                std::memset(line, static_cast<int>(Px(color)), bytes);
        } else {
            const uint64_t v = colors[color] * kRepeat16;
            for (uint32_t l = 0; l < kBandLines; ++l, line += lineStep)
                for (size_t i = 0; i < bytes; i += 8) Store64(line + i, v);
        }
    }
};

// Marks the groups a run touches: drawn runs close every group they enter,
// skip runs only the groups they cover whole. Marks past the frame's last
// group are dropped.
struct ChangeCounter {
    uint8_t* map;
    uint32_t limit;
    uint32_t visited = 0;
    uint32_t accounted = 0;

    void Fill(uint32_t from, uint32_t to, uint8_t v) {
        if (to > limit) to = limit;
        for (uint32_t g = from; g < to; ++g) map[g] = v;
    }
    void Drawn(uint32_t n) {
        visited += n;
        if (accounted <= visited) {
            uint32_t end = (visited + 15) / 16;
            Fill(accounted / 16, end, 1);
            accounted = end * 16;
        }
    }
    void Skipped(uint32_t n) {
        visited += n;
        if (accounted <= visited) {
            uint32_t end = visited / 16;
            Fill(accounted / 16, end, 0);
            accounted = end * 16;
        }
    }
    // Closes a group that a final skip run left open.
    void Close() {
        if (accounted / 16 < limit) map[accounted / 16] = 0;
    }
};

// The reader and the decoder are locals here and everything they do is
// inlined, so their state stays in registers: a reader the compiler had to
// keep in memory would put a store and a load between every two codes.
template <class R, bool Wide, bool Doubled, bool Remapped>
__attribute__((noinline)) void DecodeBlocks(const uint8_t* data, uint32_t size, DecodeTables* tables, FrameTarget* t,
                                            const uint16_t* colors) {
    using W = Writer<Wide, Doubled, Remapped>;
    const W w{t->LineStep, colors, tables->Remap};
    R reader;
    reader.Start(data, size);
    ValueDecoder<R> dec(tables, &reader);

    const uint32_t bpr = t->BlocksPerRow;
    const ptrdiff_t band = static_cast<ptrdiff_t>(W::kBandLines) * t->LineStep;
    uint32_t groups = t->Groups();
    ChangeCounter changes{t->ChangeMap(), groups < t->MapRoom ? groups : t->MapRoom};

    uint8_t* rowBase = t->Start;
    uint32_t col = 0;
    uint32_t left = t->Blocks();
    auto nextBlock = [&]() {
        if (++col == bpr) {
            col = 0;
            rowBase += band;
        }
    };

    while (left) {
        const uint32_t v = dec.TypeCode();
        const uint32_t kind = v & 3;
        uint32_t n = kRunLengthTable[v >> 2 & 63];
        if (kind == kSkip) changes.Skipped(n);
        else changes.Drawn(n);
        // A run reaching past the last block ends the frame there.
        if (n > left) n = left;
        left -= n;

        switch (kind) {
            case kSkip:
                col += n;
                if (col >= bpr) {
                    rowBase += band * static_cast<ptrdiff_t>(col / bpr);
                    col %= bpr;
                }
                break;
            case kSolid: {
                const uint32_t color = v >> 8 & 0xFF;
                while (n) {
                    uint32_t k = bpr - col < n ? bpr - col : n;
                    w.Solid(rowBase + static_cast<size_t>(col) * W::kBlockBytes, k, color);
                    n -= k;
                    col += k;
                    if (col == bpr) {
                        col = 0;
                        rowBase += band;
                    }
                }
                break;
            }
            case kTwoColor:
                do {
                    const uint32_t cm = dec.ColorAndMapCode();
                    w.TwoColor(rowBase + static_cast<size_t>(col) * W::kBlockBytes, cm >> 16, cm & 0xFFFF);
                    nextBlock();
                } while (--n);
                break;
            default:  // kFull
                do {
                    uint8_t* block = rowBase + static_cast<size_t>(col) * W::kBlockBytes;
                    dec.FullBlockCodes([&](uint32_t r, uint32_t ab) { w.FullRow(block, r, ab); });
                    nextBlock();
                } while (--n);
                break;
        }
    }
    changes.Close();
}

template <class R>
void DecodeWith(const uint8_t* data, uint32_t size, DecodeTables* tables, FrameTarget* t, const uint16_t* colors) {
    if (t->Wide()) {
        // 16-bit pixels take the remap through their colour table.
        uint16_t remapped[256];
        if (tables->Remapped) {
            for (uint32_t i = 0; i < 256; ++i) remapped[i] = colors[tables->Remap[i]];
            colors = remapped;
        }
        if (!t->Doubled) DecodeBlocks<R, true, false, false>(data, size, tables, t, colors);
        else DecodeBlocks<R, true, true, false>(data, size, tables, t, colors);
    } else if (tables->Remapped) {
        if (!t->Doubled) DecodeBlocks<R, false, false, true>(data, size, tables, t, colors);
        else DecodeBlocks<R, false, true, true>(data, size, tables, t, colors);
    } else {
        if (!t->Doubled) DecodeBlocks<R, false, false, false>(data, size, tables, t, colors);
        else DecodeBlocks<R, false, true, false>(data, size, tables, t, colors);
    }
}

}  // namespace

void DecodeFrame(const uint8_t* data, uint32_t size, DecodeTables* tables, FrameTarget* target,
                 const uint16_t* colorTable) {
    if (!tables || !target || target->Kind != kTargetBuffer || !target->Start) return;
    ResetRecentValues(tables);
    target->IterDone = target->IterContinues = target->IterStarted = 0;
    target->IterX = target->IterY = target->IterPos = 0;
    if (!colorTable) colorTable = DecoderColorTable;

    if (MmxLevel == 0) DetectMmx();
    if (MmxLevel == 2) DecodeWith<BitReader64>(data, size, tables, target, colorTable);
    else DecodeWith<BitReader32>(data, size, tables, target, colorTable);
    if (MmxState == 3) ReleaseMmxState();
}
