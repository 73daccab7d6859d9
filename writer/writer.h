// Quarvel movie writer: turns pictures (8-bit palette indices), palettes and
// PCM sound into a complete movie file, bit for bit in the format the player
// reads. It is both the encoder behind `quarvmake` and the fixture factory of
// the decoder, sound and player tests, so besides plain encoding it can be
// told to produce exactly the odd cases a test needs (see the "Fixture"
// fields below).
//
// Minimal use:
//
//     qvw::MoviePlan plan;
//     plan.width = 64; plan.height = 48;
//     plan.frame_rate = qvw::FrameRateForFps(15);
//     qvw::FramePlan f;
//     f.picture.assign(64 * 48, 7);          // every pixel palette index 7
//     f.palette = qvw::Palette{};            // 256 x {r, g, b}
//     (*f.palette)[7] = {255, 0, 0};
//     plan.frames.push_back(f);
//     std::vector<uint8_t> bytes = qvw::WriteMovie(plan);
//
// Everything is deterministic: the same plan always gives the same bytes.
// Invalid plans throw std::invalid_argument with a one-line reason.
#pragma once
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qvw {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    bool operator!=(const Rgb& o) const { return !(*this == o); }
};
using Palette = std::array<Rgb, 256>;

// ---------------------------------------------------------------------------
// Format constants and small helpers

constexpr uint32_t kHeaderSize = 104;
constexpr int kMaxTracks = 7;

// Header Flags bits.
constexpr uint32_t kFlagRing = 0x1;
constexpr uint32_t kFlagYInterlace = 0x2;
constexpr uint32_t kFlagYDouble = 0x4;

// TrackFormat bits (the low 24 bits hold the sample rate).
constexpr uint32_t kTrackStereo = 0x10000000;
constexpr uint32_t kTrack16Bit = 0x20000000;
constexpr uint32_t kTrackExists = 0x40000000;
constexpr uint32_t kTrackCompressed = 0x80000000;

// The four value trees, in file order.
enum Tree : int { kMapTree = 0, kColorTree = 1, kFullTree = 2, kTypeTree = 3 };

// Block kinds as stored in bits 0-1 of a run descriptor.
enum class BlockKind : uint8_t { TwoColor = 0, Full = 1, Skip = 2, Solid = 3, Auto = 0xFF };

// Number of blocks of run-length index i (0..63).
uint32_t RunLength(unsigned index);

// FrameRate for whole frames per second: -(100000 / fps).
int32_t FrameRateForFps(uint32_t fps);
// Frame duration in units of 10 microseconds for a header FrameRate.
uint32_t FrameTimeOf(int32_t frame_rate);

// Palette components are stored with 6 bits and widened as (c << 2) | (c >> 4).
uint8_t Widen6(uint8_t c6);
// The 6-bit component whose widened value is nearest to c8.
uint8_t Narrow8(uint8_t c8);
// The palette as a player will hold it after the writer stored it.
Palette CodedPalette(const Palette& p);

// ---------------------------------------------------------------------------
// What to write

// One explicit run descriptor (fixture use): kind, index into the run-length
// table and the colour byte (bits 8-15; used for solid runs, carried
// unchanged for the other kinds).
struct Run {
    BlockKind kind = BlockKind::Skip;
    uint8_t length_index = 0;  // 0..63
    uint8_t colour = 0;
};

struct FramePlan {
    // width x height palette indices, row by row (stored rows, top first).
    // Empty: the same picture as the previous frame (frame 0: all index 0).
    std::vector<uint8_t> picture;
    // Palette in force from this frame on. nullopt: unchanged. A palette equal
    // to the one in force (after 6-bit coding) gives no chunk unless forced.
    std::optional<Palette> palette;

    // --- Fixture controls (leave empty for normal encoding) ---
    bool force_palette_chunk = false;
    // Exact palette chunk bytes, length byte included (replaces the coded
    // chunk; the writer follows its commands to know the palette after it).
    std::vector<uint8_t> raw_palette_chunk;
    // Per block (blocks_per_row x block_rows, visiting order): the kind to use.
    // Auto lets the writer choose. A forced kind that cannot show the block
    // exactly gives the closest picture it can by the frame's palette
    // (solid: the nearest single colour; two-colour: the best pair of the
    // block's colours; skip: the previous picture).
    std::vector<BlockKind> block_kinds;
    // Exact run descriptors for the whole frame, replacing the writer's runs.
    // They must cover every block; the last one may reach past the end.
    std::vector<Run> runs;
    // Exact video payload (replaces the coded one; no padding is added).
    std::optional<std::vector<uint8_t>> raw_video;
};

// How one frame's chunk of a track is written (fixture use).
enum class ChunkMode : uint8_t {
    Normal,           // the frame's sound, raw or packed as the track says
    Absent,           // no chunk: the frame's type byte lacks the track's bit
    LengthOnly,       // a chunk of length 4 and nothing else
    PresenceBitZero,  // compressed tracks: unpacked size as usual, stream "not present"
};

struct TrackPlan {
    uint32_t rate = 22050;  // Hz, 1..0xFFFFFF
    int bits = 16;          // 8 (unsigned) or 16 (signed little-endian)
    int channels = 2;       // 1 or 2 (interleaved, left first)
    bool compressed = true;
    // The whole track's PCM. The writer cuts it into chunks: frame 0 gets
    // `lead` bytes, every later frame one frame's worth (whole sample frames,
    // exact over the movie). Missing sound is silence; sound beyond the
    // movie's end is dropped. A ring movie treats the sound as a loop of
    // exactly the movie's length.
    std::vector<uint8_t> pcm;
    // Bytes in frame 0's chunk. Default: about one second of sound in whole
    // frames, rounded down to a multiple of 4 bytes.
    std::optional<uint32_t> lead_bytes;

    // --- Fixture controls ---
    // Explicit unpacked contents of every record's chunk (one entry per frame
    // record, ring frame included); nullopt entries give no chunk. Replaces
    // the automatic cut of `pcm`. Sizes should be whole sample frames.
    std::vector<std::optional<std::vector<uint8_t>>> frame_pcm;
    // Chunk mode per record index (default Normal).
    std::map<uint32_t, ChunkMode> chunk_modes;
    // Extra bits ORed into TrackFormat (e.g. bits 24-27, which are not read).
    uint32_t format_extra_bits = 0;
    // Replaces the header's SoundLead for this track.
    std::optional<uint32_t> sound_lead_field;
};

// Symbol keys of TreeOverride::code_lengths: a leaf value 0..0xFFFF, or the
// escape leaf of cache position k as kEscapeKey + k.
constexpr uint32_t kEscapeKey = 0x10000;

struct TreeOverride {
    enum class Presence : uint8_t { Auto, Present, Absent };
    // Auto: present when the movie draws a value from it. Absent with values
    // to code: those values are written with no bits at all.
    Presence presence = Presence::Auto;
    // Use escape codes for values found in the recent-value cache.
    bool use_escapes = true;
    // The three escape values E0, E1, E2. Default: the lowest values the tree
    // does not code, so that an escape leaf never hides a real value (when
    // fewer than three are left, the last repeats and the repeats go unused).
    // A given value that equals a real leaf value turns that leaf into the
    // escape leaf.
    std::optional<std::array<uint16_t, 3>> escape_values;
    // Exact code lengths (0 = the root is the only leaf; up to 32 bits) for
    // the leaves to have, replacing the Huffman lengths. Branches the lengths
    // leave empty are filled with leaves of unused values. Values the movie
    // needs but that have no leaf (and no usable escape) make WriteMovie throw.
    std::map<uint32_t, int> code_lengths;
    // Replaces the tree's size field in the header.
    std::optional<uint32_t> size_field;
};

struct MoviePlan {
    uint32_t width = 0, height = 0;  // pixels; at least 4 x 4
    int32_t frame_rate = -6666;      // header FrameRate (FrameRateForFps(15))
    bool ring = false;               // add the ring frame (back to frame 0's picture)
    bool y_interlace = false;
    bool y_double = false;
    uint32_t extra_flags = 0;        // ORed into Flags (unread bits, fixture use)
    std::vector<FramePlan> frames;   // at least one
    std::array<std::optional<TrackPlan>, kMaxTracks> tracks;
    std::array<TreeOverride, 4> trees;  // indexed by Tree
    int max_code_length = 32;        // longest Huffman code of the value trees (1..32)
    // Lossy video: a block is skipped, made solid or two-colour when that
    // picture's mean squared error per pixel (sum over R, G, B, 0..195075)
    // against the wanted block is at most this. 0 = exact coding.
    double lossy_threshold = 0;
    // A frame's last run may use a longer run length than the blocks left.
    bool overshoot_final_run = true;
    // Called after each frame record is coded (done = 1..records): pass 0
    // while analysing (run again when a pixel pair has to be given up, see
    // WriteMovie), pass 1 while writing.
    std::function<void(int pass, uint32_t done, uint32_t total)> progress;
};

// What the writer wrote (for tests and tools).
struct WriteReport {
    // Input: keep every decoded picture (memory heavy for long movies).
    bool keep_pictures = false;

    uint32_t records = 0;                // frames + ring frame
    uint32_t tree_block_offset = 0;      // from the start of the movie
    uint32_t tree_block_size = 0;
    uint32_t first_record_offset = 0;
    std::vector<uint32_t> frame_sizes;
    std::vector<uint8_t> frame_types;
    std::vector<uint32_t> video_offsets;  // video payload offset inside each record
    std::vector<uint32_t> video_bits;     // bits of coded video in each record
    std::array<bool, 4> tree_present{};
    std::array<uint32_t, 4> tree_nodes{};     // main-tree node count
    std::array<uint32_t, 4> tree_leaves{};
    std::array<uint32_t, 4> tree_max_code{};  // longest code in bits
    std::array<std::array<uint16_t, 3>, 4> escape_values{};
    std::array<std::array<bool, 3>, 4> escape_leaf{};  // position k has a leaf
    uint16_t not_a_leaf = 0;             // lowest value no leaf stores
    std::array<uint32_t, kMaxTracks> sound_lead{};
    // The sound of every record's chunk, per track (empty when the record
    // has no chunk or a LengthOnly / PresenceBitZero one).
    std::array<std::vector<std::vector<uint8_t>>, kMaxTracks> track_chunks;
    std::vector<Palette> palettes;       // palette in force after each record
    std::vector<std::vector<uint8_t>> pictures;  // after each record (keep_pictures)
    std::array<uint64_t, 4> block_counts{};      // blocks coded per BlockKind (0..3)
};

// Writes the movie. Throws std::invalid_argument for an invalid plan and
// std::runtime_error when the pictures cannot be coded. The four trees must
// leave one 16-bit value unused between them; when full blocks of very noisy
// pictures use every pixel pair, the rarest pair that no other tree uses is
// replaced by its nearest neighbour in colour (the only case in which exact
// coding changes a pixel; WriteReport::pictures shows the result).
std::vector<uint8_t> WriteMovie(const MoviePlan& plan, WriteReport* report = nullptr);

// Writes the movie to `path` through a temporary file in the same folder that
// is renamed at the end, so a failure leaves no partial movie. On failure
// returns false with a one-line reason in *error.
bool WriteMovieFile(const MoviePlan& plan, const std::string& path, std::string* error,
                    WriteReport* report = nullptr);
bool WriteBytesFile(const std::vector<uint8_t>& bytes, const std::string& path, std::string* error);

// ---------------------------------------------------------------------------
// Building blocks, also used on their own by tests

// A palette chunk (length byte, commands, padding) turning `previous` into
// `next`, both coded palettes (see CodedPalette). The shortest command list.
std::vector<uint8_t> EncodePaletteChunk(const Palette& previous, const Palette& next);
// Follows a palette chunk's commands; false when the chunk is malformed
// (commands past its length or past entry 255, components above 63).
bool ApplyPaletteChunkTo(Palette* palette, const uint8_t* chunk, size_t size);

// One sound chunk (length word included) for `bytes` bytes of PCM.
std::vector<uint8_t> EncodeSoundChunk(const uint8_t* pcm, size_t bytes, int bits, int channels,
                                      bool compressed);

// ---------------------------------------------------------------------------
// The demo movie: 320 x 240 at 15 frames per second, `frames` frames (225 is
// 15 seconds), moving shapes, text, a palette animation and a 22050 Hz 16-bit
// stereo compressed music track, all made by code.
MoviePlan MakeDemoPlan(uint32_t frames = 225);

}  // namespace qvw
