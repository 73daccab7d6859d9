// Fuzz target for the video decoder: the input is a movie file (header,
// frame tables, tree block, records), walked here with only the checks that
// keep this harness itself inside the input. Trees are built from the tree
// block, and every record's palette chunk and video data go through the
// library into an exact-size buffer, so any stray access shows.
//
// The header's unused last word chooses the target: bits 0-1 the pixel
// format (8-bit, 5-5-5, 5-6-5), bit 2 bottom-up, bit 3 the wide reader,
// bits 4-5 the rectangle mode, bit 6 a colour remap onto a small palette.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "common/cpu.h"
#include "fuzz/fuzz_input.h"
#include "movie/movie.h"
#include "video/decode_tables.h"
#include "video/huffman.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 104) return 0;
    const uint32_t mode = U32(data + 100);
    Movie* m = new Movie();
    std::memcpy(&m->Header, data, 104);
    m->TimingTrack = -1;
    // Small pictures keep each run short; every geometry is still reachable.
    m->Header.Width %= 261;
    m->Header.Height %= 197;
    const uint32_t scaling = m->Header.Flags & 6;
    if (scaling == 2) m->OpenFlags |= OPEN_Y_INTERLACE;
    if (scaling == 4) m->OpenFlags |= OPEN_Y_DOUBLE;
    if (scaling == 2 || scaling == 4) m->Header.Height *= 2;

    const uint64_t frames = m->Header.Frames % 40;
    const uint64_t n = frames + (m->Header.Flags & 1);
    size_t at = 104;
    if (at + 5 * n > size) {
        delete m;
        return 0;
    }
    const uint8_t* sizes = data + at;
    const uint8_t* types = data + at + 4 * n;
    at += 5 * n;

    // Tree sizes are capped so that each run stays quick; a tree longer than
    // its size is cut either way, which is a case worth reaching.
    uint32_t treeSizes[4];
    for (int t = 0; t < 4; ++t) treeSizes[t] = U32(data + 56 + 4 * t) % 65536;
    uint64_t tablesSize = DecodeTablesFixedSize();
    for (uint32_t s : treeSizes) tablesSize += s;
    std::vector<uint8_t> tables(tablesSize, 0xA5);
    uint64_t blockSize = m->Header.TreeBlockSize;
    if (blockSize > size - at) blockSize = size - at;
    std::vector<uint8_t> work(std::max<uint64_t>(8192, (4096 + blockSize + 3) & ~uint64_t{3}), 0);
    std::memcpy(work.data() + 4096, data + at, blockSize);
    at += blockSize;
    m->DecodeTables = reinterpret_cast<DecodeTables*>(tables.data());
    BuildDecodeTables(work.data(), static_cast<uint32_t>(work.size()), m->DecodeTables, treeSizes);

    const uint32_t flags = kPixelFormats[mode & 3] | ((mode >> 2) & 1);
    const uint32_t bpp = (mode & 3) == 1 || (mode & 3) == 2 ? 2 : 1;
    const int32_t pitch = static_cast<int32_t>(m->Header.Width * bpp + 3);
    const uint32_t lines = m->Header.Height + 1;
    std::vector<uint8_t> pixels(static_cast<size_t>(pitch) * lines + 1, 0);
    QuarvToBuffer(m, 1, 1, pitch, lines, pixels.data(), flags);
    const uint32_t savedLevel = MmxLevel;
    MmxLevel = (mode & 8) ? 2 : 1;

    for (uint64_t i = 0; i < n && at < size; ++i) {
        uint64_t recSize = U32(sizes + 4 * i);
        if (recSize > size - at) recSize = size - at;
        // Each record in its own exact-size copy.
        std::vector<uint8_t> rec(data + at, data + at + recSize);
        at += recSize;
        const uint32_t rs = static_cast<uint32_t>(recSize);
        uint32_t p = 0;
        m->NewPalette = 0;
        if (types[i] & 1) {
            if (rs) ApplyPaletteChunk(rec.data(), rs, m->Palette);
            m->NewPalette = m->PaletteSeen = 1;
            p = rs ? 4u * rec[0] : 0;
        }
        for (int t = 0; t < 7 && p <= rs; ++t) {
            if (!(types[i] & (2 << t))) continue;
            if (rs - p < 4) {
                p = rs;
                break;
            }
            const uint32_t len = U32(rec.data() + p);
            p = len > rs - p ? rs : p + len;
        }
        if (p > rs) p = rs;
        m->FrameNum = static_cast<uint32_t>(i);
        m->FrameData = rec.empty() ? nullptr : rec.data();
        m->FrameSize = rs;
        m->VideoData = rec.empty() ? nullptr : rec.data() + p;
        m->VideoSize = rs - p;
        if ((mode & 0x40) && m->NewPalette) {
            const uint8_t small[12] = {0, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 255};
            QuarvColorRemap(m, small, 4, 0);
        }
        QuarvDoFrame(m);
        const uint32_t rectMode = (mode >> 4) & 3;
        for (int k = 0; k < 64 && QuarvToBufferNext(m, rectMode); ++k) {
        }
    }
    MmxLevel = savedLevel;
    QuarvToBuffer(m, 0, 0, 0, 0, nullptr, 0);
    delete m;
    return 0;
}
