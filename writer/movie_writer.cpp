// Puts a movie together: header, frame sizes and types, the tree block, then
// one record per frame (palette chunk, sound chunks, video). Video is coded
// in two passes: the first collects every value the frames use so that the
// trees fit the whole movie, the second writes the codes.
#include <algorithm>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "writer/bit_writer.h"
#include "writer/value_trees.h"
#include "writer/video_coder.h"
#include "writer/writer.h"

namespace qvw {
namespace {

void PutU32(std::vector<uint8_t>* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(v >> (8 * i)));
}

void Check(bool ok, const char* what) {
    if (!ok) throw std::invalid_argument(what);
}

// Unpacked sound of every record's chunk for one track (nullopt: no chunk).
std::vector<std::optional<std::vector<uint8_t>>> CutTrack(const TrackPlan& tr, uint32_t frames,
                                                          uint32_t records, bool ring,
                                                          uint64_t frame_time) {
    std::vector<std::optional<std::vector<uint8_t>>> out(records);
    if (!tr.frame_pcm.empty()) {
        Check(tr.frame_pcm.size() == records, "frame_pcm needs one entry per frame record");
        for (uint32_t i = 0; i < records; ++i) out[i] = tr.frame_pcm[i];
        return out;
    }
    Check(frame_time != 0, "a movie with sound needs a frame rate");
    const uint32_t align = uint32_t(tr.bits / 8) * tr.channels;
    const uint64_t have = tr.pcm.size() / align;
    // Sample frames due by the end of frame k, kept exact over the movie
    // (128-bit product: any frame count, rate and frame time fit).
    auto due = [&](uint64_t k) {
        return static_cast<uint64_t>(static_cast<unsigned __int128>(k) * tr.rate * frame_time / 100000);
    };
    uint64_t lead;
    if (tr.lead_bytes) {
        Check(*tr.lead_bytes % align == 0, "lead_bytes must be whole sample frames");
        lead = *tr.lead_bytes / align;
    } else {
        // About a second of sound, in whole frames, as a multiple of 4 bytes.
        const uint64_t per_second = std::max<uint64_t>(1, 100000 / frame_time);
        lead = (due(per_second) * align / 4 * 4) / align;
    }
    const uint64_t period = due(frames);
    const uint8_t silence = tr.bits == 8 ? 0x80 : 0x00;
    auto cut = [&](uint64_t from, uint64_t to) {
        Check(to - from <= (uint64_t(1) << 26), "a frame's sound chunk would be too large (frame rate too slow)");
        std::vector<uint8_t> b(size_t(to - from) * align, silence);
        for (uint64_t p = from; p < to; ++p) {
            uint64_t q = ring && period > 0 ? p % period : p;
            if (q < have)
                std::copy(tr.pcm.begin() + q * align, tr.pcm.begin() + (q + 1) * align,
                          b.begin() + (p - from) * align);
        }
        return b;
    };
    out[0] = cut(0, lead);
    for (uint32_t k = 1; k < records; ++k) out[k] = cut(lead + due(k - 1), lead + due(k));
    return out;
}

}  // namespace

int32_t FrameRateForFps(uint32_t fps) { return fps == 0 ? 0 : -static_cast<int32_t>(100000 / fps); }

uint32_t FrameTimeOf(int32_t frame_rate) {
    if (frame_rate > 0) return static_cast<uint32_t>(frame_rate) * 100;
    return static_cast<uint32_t>(-static_cast<int64_t>(frame_rate));
}

std::vector<uint8_t> WriteMovie(const MoviePlan& plan, WriteReport* report) {
    const uint32_t W = plan.width, H = plan.height;
    Check(W >= 4 && H >= 4, "the picture must be at least 4 x 4 pixels");
    Check(uint64_t(W) * H <= (uint64_t(1) << 28), "the picture is too large");
    Check(!plan.frames.empty(), "a movie needs at least one frame");
    Check(plan.frames.size() < 0x10000000, "too many frames");
    Check(plan.max_code_length >= 1 && plan.max_code_length <= 32, "max_code_length must be 1..32");
    Check(!(plan.y_double && plan.y_interlace), "choose y_double or y_interlace, not both");
    for (const FramePlan& f : plan.frames)
        Check(f.picture.empty() || f.picture.size() == size_t(W) * H, "a picture must be width x height");
    for (const auto& tr : plan.tracks) {
        if (!tr) continue;
        Check(tr->bits == 8 || tr->bits == 16, "sound must be 8 or 16 bits");
        Check(tr->channels == 1 || tr->channels == 2, "sound must be mono or stereo");
        Check(tr->rate >= 1 && tr->rate <= 0xFFFFFF, "sample rate must be 1..16777215 Hz");
    }

    const uint32_t frames = static_cast<uint32_t>(plan.frames.size());
    const uint32_t records = frames + (plan.ring ? 1 : 0);
    const uint64_t frame_time = plan.frame_rate > 0 ? uint64_t(plan.frame_rate) * 100
                                                    : uint64_t(-int64_t(plan.frame_rate));
    WriteReport local;
    WriteReport& rep = report ? *report : local;
    const bool keep_pictures = rep.keep_pictures;
    rep = WriteReport();
    rep.keep_pictures = keep_pictures;
    rep.records = records;

    // Pass 1: palettes and video values of every record. Should the values
    // use up all 65536 (possible only with full blocks of noisy pictures),
    // the pass runs again giving up the rarest pixel pair.
    std::vector<std::vector<uint8_t>> palette_chunks(records);
    std::vector<std::vector<uint32_t>> tokens(records);
    ValueTrees trees;
    const std::vector<uint8_t> blank(size_t(W) * H, 0);
    const FramePlan ring_plan;
    auto analyse = [&](int banned_pair) {
        rep.palettes.clear();
        rep.pictures.clear();
        rep.block_counts = {};
        trees.Reset();
        VideoCoder video(W, H);
        Palette in_force{};
        Palette first_palette{};
        std::vector<uint8_t> first_picture;
        const uint8_t* previous = blank.data();
        for (uint32_t i = 0; i < records; ++i) {
            const bool is_ring = i == frames;
            const FramePlan& fs = is_ring ? ring_plan : plan.frames[i];
            std::vector<uint8_t>& chunk = palette_chunks[i];
            chunk.clear();
            tokens[i].clear();
            if (is_ring) {
                // Back to frame 0's palette, so later chunks apply as before.
                if (in_force != first_palette) chunk = EncodePaletteChunk(in_force, first_palette);
                in_force = first_palette;
            } else if (!fs.raw_palette_chunk.empty()) {
                chunk = fs.raw_palette_chunk;
                ApplyPaletteChunkTo(&in_force, chunk.data(), chunk.size());
            } else {
                Palette next = fs.palette ? CodedPalette(*fs.palette) : in_force;
                if (next != in_force || fs.force_palette_chunk) chunk = EncodePaletteChunk(in_force, next);
                in_force = next;
            }
            rep.palettes.push_back(in_force);

            const uint8_t* picture = is_ring ? first_picture.data()
                                             : (fs.picture.empty() ? previous : fs.picture.data());
            if (!fs.raw_video) {
                VideoCoder::Options opt;
                opt.threshold = is_ring ? 0 : plan.lossy_threshold;  // the ring frame restores frame 0 exactly
                opt.overshoot = plan.overshoot_final_run;
                opt.banned_pair = banned_pair;
                video.CodeFrame(picture, fs, in_force, opt, &tokens[i], &rep.block_counts);
                trees.Count(tokens[i]);
            }
            if (!is_ring) previous = picture;
            if (i == 0) {
                first_picture = video.Shown();
                first_palette = in_force;
            }
            if (rep.keep_pictures) rep.pictures.push_back(video.Shown());
            if (plan.progress) plan.progress(0, i + 1, records);
        }
    };
    analyse(-1);
    const int give_up = trees.PairToGiveUp();
    if (give_up >= 0) analyse(give_up);
    trees.Build(plan.trees, plan.max_code_length);
    trees.FillReport(&rep);
    BitWriter tree_bits;
    trees.WriteTreeBlock(&tree_bits);
    const std::vector<uint8_t> tree_block = tree_bits.Finish(4);

    // Sound chunks.
    std::array<std::vector<std::vector<uint8_t>>, kMaxTracks> sound;  // encoded chunk per record
    std::array<uint32_t, kMaxTracks> lead{};
    std::array<uint32_t, kMaxTracks> format{};
    for (int t = 0; t < kMaxTracks; ++t) {
        if (!plan.tracks[t]) continue;
        const TrackPlan& tr = *plan.tracks[t];
        format[t] = tr.rate | (tr.channels == 2 ? kTrackStereo : 0) | (tr.bits == 16 ? kTrack16Bit : 0) |
                    kTrackExists | (tr.compressed ? kTrackCompressed : 0) | tr.format_extra_bits;
        auto pcm = CutTrack(tr, frames, records, plan.ring, frame_time);
        sound[t].resize(records);
        rep.track_chunks[t].resize(records);
        for (uint32_t i = 0; i < records; ++i) {
            auto mode_it = tr.chunk_modes.find(i);
            ChunkMode mode = mode_it == tr.chunk_modes.end() ? ChunkMode::Normal : mode_it->second;
            if (!pcm[i] || mode == ChunkMode::Absent) continue;
            const std::vector<uint8_t>& b = *pcm[i];
            std::vector<uint8_t>& out = sound[t][i];
            uint32_t unpacked = static_cast<uint32_t>(b.size());
            if (mode == ChunkMode::LengthOnly) {
                PutU32(&out, 4);
                unpacked = 0;
            } else if (mode == ChunkMode::PresenceBitZero) {
                Check(tr.compressed, "PresenceBitZero needs a compressed track");
                PutU32(&out, 12);
                PutU32(&out, unpacked);
                PutU32(&out, 0);
            } else {
                out = EncodeSoundChunk(b.data(), b.size(), tr.bits, tr.channels, tr.compressed);
                rep.track_chunks[t][i] = b;
            }
            if (i == 0) lead[t] = unpacked;
        }
        if (tr.sound_lead_field) lead[t] = *tr.sound_lead_field;
    }
    rep.sound_lead = lead;

    // Pass 2: records.
    std::vector<uint8_t> body;
    rep.frame_sizes.resize(records);
    rep.frame_types.resize(records);
    rep.video_offsets.resize(records);
    rep.video_bits.resize(records);
    for (uint32_t i = 0; i < records; ++i) {
        const size_t start = body.size();
        uint8_t type = 0;
        if (!palette_chunks[i].empty()) {
            type |= 1;
            body.insert(body.end(), palette_chunks[i].begin(), palette_chunks[i].end());
        }
        for (int t = 0; t < kMaxTracks; ++t) {
            if (sound[t].empty() || sound[t][i].empty()) continue;
            type |= static_cast<uint8_t>(2u << t);
            body.insert(body.end(), sound[t][i].begin(), sound[t][i].end());
        }
        rep.video_offsets[i] = static_cast<uint32_t>(body.size() - start);
        const FramePlan* fs = i < frames ? &plan.frames[i] : nullptr;
        if (fs && fs->raw_video) {
            body.insert(body.end(), fs->raw_video->begin(), fs->raw_video->end());
        } else {
            BitWriter bw;
            trees.Emit(tokens[i], &bw);
            rep.video_bits[i] = static_cast<uint32_t>(bw.BitCount());
            std::vector<uint8_t> v = bw.Finish(4);
            v.resize(v.size() + 8, 0);  // the reader fetches ahead by up to 8 bytes
            body.insert(body.end(), v.begin(), v.end());
            std::vector<uint32_t>().swap(tokens[i]);
        }
        rep.frame_sizes[i] = static_cast<uint32_t>(body.size() - start);
        rep.frame_types[i] = type;
        if (plan.progress) plan.progress(1, i + 1, records);
    }

    std::vector<uint8_t> out;
    out.reserve(kHeaderSize + 5 * size_t(records) + tree_block.size() + body.size());
    for (char c : {'Q', 'V', 'L', '2'}) out.push_back(static_cast<uint8_t>(c));
    PutU32(&out, W);
    PutU32(&out, H);
    PutU32(&out, frames);
    PutU32(&out, static_cast<uint32_t>(plan.frame_rate));
    PutU32(&out, (plan.ring ? kFlagRing : 0) | (plan.y_interlace ? kFlagYInterlace : 0) |
                     (plan.y_double ? kFlagYDouble : 0) | plan.extra_flags);
    for (uint32_t l : lead) PutU32(&out, l);
    PutU32(&out, static_cast<uint32_t>(tree_block.size()));
    for (int t = 0; t < 4; ++t) PutU32(&out, trees.SizeField(t));
    for (uint32_t f : format) PutU32(&out, f);
    PutU32(&out, 0);
    for (uint32_t s : rep.frame_sizes) PutU32(&out, s);
    out.insert(out.end(), rep.frame_types.begin(), rep.frame_types.end());
    rep.tree_block_offset = static_cast<uint32_t>(out.size());
    rep.tree_block_size = static_cast<uint32_t>(tree_block.size());
    out.insert(out.end(), tree_block.begin(), tree_block.end());
    rep.first_record_offset = static_cast<uint32_t>(out.size());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

}  // namespace qvw
