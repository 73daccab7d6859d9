// The chunks of each record and palettes across frames.
#include "movie/sequence.h"
#include "tests/support/movie_bytes.h"

using namespace movietest;

namespace {

// A record's chunks as the reader splits them, streamed or preloaded:
// lengths are not trusted (a chunk claiming more than its record holds is
// cut at the record's end; a sound chunk too short for its own length word
// ends the walk, with no video after it). NewPalette follows the palette
// chunks, but stays clear for a frame whose palette the decoder already
// took; a rewind to frame 0 starts from black.
TEST(Sequence, ChunksAndPalettesOfEachRecord) {
    RawMovie plan = PatternMovie({20000, 0, 0, 0, 0}, 300);  // large enough to be streamed
    plan.records[1] = {0x03, {255, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}};  // palette of 1020 bytes in 12
    plan.records[2] = {0x02, Cat({Le32(0x7FFFFFFF), Bytes(20, 3)})};
    plan.records[3] = {0x03, Cat({{1, 0xFF, 0xFF, 0}, Le32(1000), Bytes(16, 3)})};
    plan.records[4] = {0x60, Cat({Le32(2), Bytes(20, 3), Le32(5), {1}, {1}})};
    const std::vector<uint32_t> expect[] = {  // NewPalette, sound chunk of track 0 (at, size), video (at, size)
        {1, ~0u, 0, 12, 0}, {0, 0, 24, 24, 0}, {0, 4, 20, 24, 0}, {0, ~0u, 0, 30, 0}, {0, ~0u, 0, 0, 20000}};
    for (uint32_t extra : {0u, 1000000u}) {
        MemoryFile file(plan.Build());
        Movie* m = QuarvOpen(MemoryFile::kName, 0, extra);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->NewPalette + m->PaletteSeen, 0u);
        for (const auto& e : expect) {
            if (m->FrameNum == 2) m->PaletteFrame = 3;  // as after a jump back to a frame already shown
            if (m->FrameNum == 4) std::memset(m->Palette, 0x77, sizeof m->Palette);
            QuarvNextFrame(m);
            const uint8_t* chunk = m->SoundChunk[0];
            EXPECT_EQ(std::vector<uint32_t>({m->NewPalette, chunk ? uint32_t(chunk - m->FrameData) : ~0u, m->SoundChunkSize[0],
                                             uint32_t(m->VideoData - m->FrameData), m->VideoSize}),
                      e) << m->FrameNum << " " << extra;
        }
        EXPECT_EQ(std::count(m->Palette, m->Palette + 768, 0) + m->PaletteSeen, 769);  // black, and seen before
        QuarvClose(m);
    }
}

}  // namespace
