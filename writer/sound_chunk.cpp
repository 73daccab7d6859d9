// Sound chunks. Raw: length word, then the PCM. Packed: length word, unpacked
// size, then a bit stream: presence, stereo and 16-bit bits, one byte tree
// per delta stream (each after one spare bit), the first sample frame as
// raw bytes, then one code per delta byte. The first sample frame of every
// chunk is stored whole, so chunks decode on their own.
#include <array>
#include <stdexcept>

#include "writer/bit_writer.h"
#include "writer/byte_tree.h"
#include "writer/writer.h"

namespace qvw {
namespace {

void PutU32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) (*out)[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

std::vector<uint8_t> EncodeSoundChunk(const uint8_t* pcm, size_t bytes, int bits, int channels,
                                      bool compressed) {
    if ((bits != 8 && bits != 16) || (channels != 1 && channels != 2))
        throw std::invalid_argument("sound must be 8 or 16 bits, mono or stereo");
    if (!compressed) {
        std::vector<uint8_t> out(4 + bytes);
        PutU32(&out, 0, static_cast<uint32_t>(out.size()));
        std::copy(pcm, pcm + bytes, out.begin() + 4);
        return out;
    }
    const size_t frame = size_t(bits / 8) * channels;
    if (bytes % frame != 0) throw std::invalid_argument("sound chunk is not whole sample frames");
    const size_t frames = bytes / frame;
    const bool wide = bits == 16, stereo = channels == 2;
    const int streams = (wide ? 2 : 1) * (stereo ? 2 : 1);

    // Sample frames as words: [0] = left (or mono), [1] = right.
    auto sample = [&](size_t i, int ch) -> uint32_t {
        const uint8_t* p = pcm + i * frame + ch * (bits / 8);
        return wide ? uint32_t(p[0] | p[1] << 8) : p[0];
    };
    // Delta bytes of sample frame i (>= 1), in decoding order: per channel
    // (left first) the low byte then, for 16 bits, the high byte.
    auto deltas = [&](size_t i, uint8_t* d) {
        int k = 0;
        for (int ch = 0; ch < channels; ++ch) {
            uint32_t delta = (sample(i, ch) - sample(i - 1, ch)) & (wide ? 0xFFFF : 0xFF);
            d[k++] = static_cast<uint8_t>(delta);
            if (wide) d[k++] = static_cast<uint8_t>(delta >> 8);
        }
    };
    std::array<std::array<uint64_t, 256>, 4> counts{};
    uint8_t d[4];
    for (size_t i = 1; i < frames; ++i) {
        deltas(i, d);
        for (int s = 0; s < streams; ++s) counts[s][d[s]]++;
    }
    std::array<ByteTree, 4> coders;
    for (int s = 0; s < streams; ++s) coders[s].Build(counts[s]);

    BitWriter bw;
    bw.PutBit(true);  // present
    bw.PutBit(stereo);
    bw.PutBit(wide);
    for (int s = 0; s < streams; ++s) {
        bw.PutBit(true);  // spare bit the reader skips
        coders[s].Write(&bw);
        bw.PutBit(false);  // closes the tree
    }
    if (frames > 0) {
        // First sample frame, right channel first, high byte before low byte.
        for (int ch = channels - 1; ch >= 0; --ch) {
            uint32_t v = sample(0, ch);
            if (wide) bw.Put(v >> 8, 8);
            bw.Put(v & 0xFF, 8);
        }
        for (size_t i = 1; i < frames; ++i) {
            deltas(i, d);
            for (int s = 0; s < streams; ++s) coders[s].Put(&bw, d[s]);
        }
    }
    std::vector<uint8_t> stream = bw.Finish(4);
    std::vector<uint8_t> out(8);
    out.insert(out.end(), stream.begin(), stream.end());
    PutU32(&out, 0, static_cast<uint32_t>(out.size()));
    PutU32(&out, 4, static_cast<uint32_t>(bytes));
    return out;
}

}  // namespace qvw
