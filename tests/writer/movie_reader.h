// A small reader of movie files for the writer's tests, written from the
// format description alone (it shares no code with the writer). It checks
// everything it reads and reports a reason instead of reading outside the
// file, so it can also be pointed at movies from elsewhere.
#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace testread {

struct Rgb3 {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb3& o) const { return r == o.r && g == o.g && b == o.b; }
};
using Pal = std::array<Rgb3, 256>;

struct Header {
    uint32_t width = 0, height = 0, frames = 0, flags = 0;
    int32_t frame_rate = 0;
    std::array<uint32_t, 7> sound_lead{};
    uint32_t tree_block_size = 0;
    std::array<uint32_t, 4> tree_size{};
    std::array<uint32_t, 7> track_format{};
    uint32_t reserved = 0;
};

// One decoding tree as read from the tree block.
struct ValueTree {
    bool present = false;
    std::array<uint16_t, 3> escape{};
    // Nodes in pre-order: left child = next node; right child index; leaf
    // value; escape position (-1 = plain leaf).
    struct Node {
        bool leaf = false;
        int32_t right = -1;
        uint16_t value = 0;
        int8_t escape = -1;
    };
    std::vector<Node> nodes;
    uint32_t max_depth = 0;
};

struct Frame {
    uint8_t type = 0;
    uint32_t size = 0;
    bool has_palette = false;
    uint32_t palette_chunk_size = 0;
    std::array<bool, 7> has_sound{};
    std::array<uint32_t, 7> sound_chunk_size{};
    std::array<std::vector<uint8_t>, 7> sound;  // unpacked (or raw) bytes
    std::array<uint32_t, 7> sound_declared{};   // unpacked size word (raw: length - 4)
    std::array<bool, 7> sound_stream_present{}; // packed chunks: the presence bit
    uint32_t video_offset = 0, video_size = 0;
    uint64_t video_bits_used = 0;  // bits the decoder consumed
    std::array<uint32_t, 4> runs_by_kind{};
};

class Reader {
public:
    // Parses header, tables and trees. False with error() on a bad movie.
    bool Open(const std::vector<uint8_t>& file);
    const Header& header() const { return header_; }
    uint32_t records() const { return static_cast<uint32_t>(sizes_.size()); }
    const std::vector<uint32_t>& frame_sizes() const { return sizes_; }
    const std::vector<uint8_t>& frame_types() const { return types_; }
    const ValueTree& tree(int t) const { return trees_[t]; }
    uint32_t tree_block_bits_used() const { return tree_bits_; }

    // Decodes record i (records must be decoded in order; the picture and the
    // palette carry over). Afterwards picture() and palette() are current.
    bool Decode(uint32_t i, Frame* out);
    const std::vector<uint8_t>& picture() const { return picture_; }
    const Pal& palette() const { return palette_; }

    const std::string& error() const { return error_; }

private:
    bool Fail(const std::string& why) {
        if (error_.empty()) error_ = why;
        return false;
    }
    bool ApplyPalette(const uint8_t* p, uint32_t size);
    bool UnpackSound(const uint8_t* p, uint32_t size, std::vector<uint8_t>* out);
    bool DecodeVideo(const uint8_t* p, uint32_t size, Frame* f);

    std::vector<uint8_t> file_;
    Header header_;
    std::vector<uint32_t> sizes_;
    std::vector<uint8_t> types_;
    std::array<ValueTree, 4> trees_;
    uint32_t tree_bits_ = 0;
    std::vector<uint64_t> record_offset_;
    std::vector<uint8_t> picture_;
    Pal palette_{};
    std::string error_;
};

// Reads a whole file; empty on failure.
std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace testread
