#include "tests/writer/movie_reader.h"

#include <algorithm>
#include <cstdio>
#include <functional>

namespace testread {
namespace {

uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

// Bits, least significant first; reading past the end gives 0 and sets `over`.
struct Bits {
    const uint8_t* p;
    uint64_t size_bits;
    uint64_t pos = 0;
    bool over = false;
    Bits(const uint8_t* data, size_t bytes) : p(data), size_bits(uint64_t(bytes) * 8) {}
    uint32_t Bit() {
        if (pos >= size_bits) {
            over = true;
            return 0;
        }
        uint32_t b = (p[pos >> 3] >> (pos & 7)) & 1;
        ++pos;
        return b;
    }
    uint32_t Get(unsigned n) {
        uint32_t v = 0;
        for (unsigned i = 0; i < n; ++i) v |= Bit() << i;
        return v;
    }
};

struct SmallTree {  // byte tree: pre-order nodes
    struct Node {
        bool leaf;
        int32_t right;
        uint8_t value;
    };
    std::vector<Node> nodes;
};

bool ReadSmallNode(Bits& b, SmallTree& t, int depth) {
    if (depth > 300 || t.nodes.size() >= 511) return false;
    uint32_t bit = b.Bit();
    if (b.over) return false;
    size_t idx = t.nodes.size();
    t.nodes.push_back({bit == 0, -1, 0});
    if (bit == 0) {
        t.nodes[idx].value = static_cast<uint8_t>(b.Get(8));
        return !b.over;
    }
    if (!ReadSmallNode(b, t, depth + 1)) return false;
    t.nodes[idx].right = static_cast<int32_t>(t.nodes.size());
    return ReadSmallNode(b, t, depth + 1);
}

// A byte tree and the 0 bit after it.
bool ReadSmallTree(Bits& b, SmallTree* t) {
    t->nodes.clear();
    if (!ReadSmallNode(b, *t, 0)) return false;
    return b.Bit() == 0 && !b.over;
}

bool DecodeSmall(Bits& b, const SmallTree& t, uint8_t* v) {
    size_t n = 0;
    while (!t.nodes[n].leaf) {
        n = b.Bit() ? size_t(t.nodes[n].right) : n + 1;
        if (b.over) return false;
    }
    *v = t.nodes[n].value;
    return true;
}

struct Cache {
    uint16_t v[3] = {0, 0, 0};
};

}  // namespace

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.insert(out.end(), buf, buf + n);
    std::fclose(f);
    return out;
}

bool Reader::Open(const std::vector<uint8_t>& file) {
    file_ = file;
    error_.clear();
    if (file_.size() < 104) return Fail("shorter than the header");
    const uint8_t* h = file_.data();
    if (h[0] != 'Q' || h[1] != 'V' || h[2] != 'L' || h[3] != '2') return Fail("bad magic");
    header_.width = U32(h + 4);
    header_.height = U32(h + 8);
    header_.frames = U32(h + 12);
    header_.frame_rate = static_cast<int32_t>(U32(h + 16));
    header_.flags = U32(h + 20);
    for (int t = 0; t < 7; ++t) header_.sound_lead[t] = U32(h + 24 + 4 * t);
    header_.tree_block_size = U32(h + 52);
    for (int t = 0; t < 4; ++t) header_.tree_size[t] = U32(h + 56 + 4 * t);
    for (int t = 0; t < 7; ++t) header_.track_format[t] = U32(h + 72 + 4 * t);
    header_.reserved = U32(h + 100);
    if (header_.width < 4 || header_.height < 4 || header_.width > 8192 || header_.height > 8192)
        return Fail("unreasonable picture size");

    const uint64_t n = uint64_t(header_.frames) + (header_.flags & 1);
    if (n == 0 || 104 + 5 * n > file_.size()) return Fail("frame tables past the end");
    sizes_.resize(n);
    types_.resize(n);
    for (uint64_t i = 0; i < n; ++i) sizes_[i] = U32(h + 104 + 4 * i);
    for (uint64_t i = 0; i < n; ++i) types_[i] = h[104 + 4 * n + i];
    const uint64_t tree_at = 104 + 5 * n;
    if (tree_at + header_.tree_block_size > file_.size()) return Fail("tree block past the end");
    uint64_t at = tree_at + header_.tree_block_size;
    record_offset_.resize(n);
    for (uint64_t i = 0; i < n; ++i) {
        record_offset_[i] = at;
        at += sizes_[i];
    }
    if (at > file_.size()) return Fail("frame records past the end");

    // Trees.
    Bits b(h + tree_at, header_.tree_block_size);
    for (int t = 0; t < 4; ++t) {
        ValueTree& vt = trees_[t];
        vt = ValueTree{};
        vt.present = b.Bit();
        if (!vt.present) continue;
        SmallTree low, high;
        bool have_low = b.Bit();
        if (have_low && !ReadSmallTree(b, &low)) return Fail("bad low-byte tree");
        bool have_high = b.Bit();
        if (have_high && !ReadSmallTree(b, &high)) return Fail("bad high-byte tree");
        if (!have_low || !have_high) return Fail("a byte tree is missing");
        for (int k = 0; k < 3; ++k) vt.escape[k] = static_cast<uint16_t>(b.Get(16));
        std::function<bool(uint32_t)> node = [&](uint32_t depth) -> bool {
            if (depth > 300 || vt.nodes.size() > 140000) return false;
            vt.max_depth = std::max(vt.max_depth, depth);
            uint32_t bit = b.Bit();
            if (b.over) return false;
            size_t idx = vt.nodes.size();
            vt.nodes.push_back({});
            if (bit == 0) {
                uint8_t lo, hi;
                if (!DecodeSmall(b, low, &lo) || !DecodeSmall(b, high, &hi)) return false;
                ValueTree::Node& nd = vt.nodes[idx];
                nd.leaf = true;
                nd.value = static_cast<uint16_t>(lo | hi << 8);
                for (int k = 0; k < 3 && nd.escape < 0; ++k)
                    if (nd.value == vt.escape[k]) nd.escape = static_cast<int8_t>(k);
                return true;
            }
            if (!node(depth + 1)) return false;
            vt.nodes[idx].right = static_cast<int32_t>(vt.nodes.size());
            return node(depth + 1);
        };
        if (!node(0)) return Fail("bad value tree " + std::to_string(t));
        if (b.Bit() != 0 || b.over) return Fail("value tree " + std::to_string(t) + " not closed");
    }
    tree_bits_ = static_cast<uint32_t>(b.pos);
    picture_.assign(size_t(header_.width) * header_.height, 0);
    palette_ = Pal{};
    return true;
}

bool Reader::ApplyPalette(const uint8_t* p, uint32_t size) {
    const Pal before = palette_;
    auto scale = [](uint8_t c) { return static_cast<uint8_t>(c * 4 + c / 16); };
    uint32_t at = 1, made = 0;
    while (made < 256) {
        if (at >= size) return Fail("palette commands run past the chunk");
        uint8_t b = p[at];
        if (b & 0x80) {
            uint32_t count = (b & 0x7F) + 1u;
            if (made + count > 256) return Fail("palette keep past entry 255");
            for (uint32_t k = 0; k < count; ++k, ++made) palette_[made] = before[made];
            at += 1;
        } else if (b & 0x40) {
            if (at + 1 >= size) return Fail("palette copy cut short");
            uint32_t count = (b & 0x3F) + 1u, src = p[at + 1];
            if (made + count > 256 || src + count > 256) return Fail("palette copy past entry 255");
            for (uint32_t k = 0; k < count; ++k, ++made) palette_[made] = before[src + k];
            at += 2;
        } else {
            if (at + 2 >= size) return Fail("palette colour cut short");
            if (p[at + 1] > 63 || p[at + 2] > 63) return Fail("palette component above 63");
            palette_[made++] = {scale(b), scale(p[at + 1]), scale(p[at + 2])};
            at += 3;
        }
    }
    return true;
}

bool Reader::UnpackSound(const uint8_t* p, uint32_t size, std::vector<uint8_t>* out) {
    // `out` holds the unpacked size on entry (as zero bytes).
    const size_t want = out->size();
    Bits b(p, size);
    if (!b.Bit()) {
        out->clear();
        return true;
    }
    const bool stereo = b.Bit(), wide = b.Bit();
    const int streams = (stereo ? 2 : 1) * (wide ? 2 : 1);
    SmallTree trees[4];
    for (int s = 0; s < streams; ++s) {
        b.Bit();  // spare bit
        if (!ReadSmallTree(b, &trees[s])) return Fail("bad sound tree");
    }
    out->clear();
    if (want == 0) return true;
    const size_t frame = size_t(streams);
    if (want % frame) return Fail("unpacked size is not whole sample frames");
    // Current sample per channel as bytes: [0] left/mono, [1] right.
    uint32_t ch[2] = {0, 0};
    if (!stereo) {
        if (wide) {
            uint32_t hi = b.Get(8), lo = b.Get(8);
            ch[0] = hi << 8 | lo;
        } else {
            ch[0] = b.Get(8);
        }
    } else if (wide) {
        uint32_t rh = b.Get(8), rl = b.Get(8), lh = b.Get(8), ll = b.Get(8);
        ch[1] = rh << 8 | rl;
        ch[0] = lh << 8 | ll;
    } else {
        ch[1] = b.Get(8);
        ch[0] = b.Get(8);
    }
    auto emit = [&] {
        for (int c = 0; c < (stereo ? 2 : 1); ++c) {
            out->push_back(static_cast<uint8_t>(ch[c]));
            if (wide) out->push_back(static_cast<uint8_t>(ch[c] >> 8));
        }
    };
    emit();
    while (out->size() < want) {
        uint8_t d[4];
        for (int s = 0; s < streams; ++s)
            if (!DecodeSmall(b, trees[s], &d[s])) return Fail("sound stream ends early");
        for (int c = 0; c < (stereo ? 2 : 1); ++c) {
            if (wide) {
                uint32_t lo = (ch[c] & 0xFF) + d[2 * c];
                uint32_t hi = ((ch[c] >> 8) + (lo >> 8) + d[2 * c + 1]) & 0xFF;
                ch[c] = hi << 8 | (lo & 0xFF);
            } else {
                ch[c] = (ch[c] + d[c]) & 0xFF;
            }
        }
        emit();
    }
    if (b.over) return Fail("sound stream ends early");
    return true;
}

bool Reader::DecodeVideo(const uint8_t* p, uint32_t size, Frame* f) {
    static const uint32_t kLong[5] = {128, 256, 512, 1024, 2048};
    Bits b(p, size);
    Cache cache[4];
    auto value = [&](int t, uint16_t* v) -> bool {
        const ValueTree& vt = trees_[t];
        if (!vt.present) return Fail("value drawn from an absent tree");
        size_t n = 0;
        while (!vt.nodes[n].leaf) {
            n = b.Bit() ? size_t(vt.nodes[n].right) : n + 1;
            if (b.over) return Fail("video data ends early");
        }
        const ValueTree::Node& leaf = vt.nodes[n];
        uint16_t x = leaf.escape >= 0 ? cache[t].v[leaf.escape] : leaf.value;
        if (x != cache[t].v[0]) {
            cache[t].v[2] = cache[t].v[1];
            cache[t].v[1] = cache[t].v[0];
            cache[t].v[0] = x;
        }
        *v = x;
        return true;
    };
    const uint32_t W = header_.width, bx = W / 4, total = bx * (header_.height / 4);
    uint32_t blk = 0;
    while (blk < total) {
        uint16_t desc;
        if (!value(3, &desc)) return false;
        const uint32_t kind = desc & 3, idx = (desc >> 2) & 63;
        const uint32_t run = idx < 59 ? idx + 1 : kLong[idx - 59];
        f->runs_by_kind[kind]++;
        for (uint32_t k = 0; k < run && blk < total; ++k, ++blk) {
            uint8_t* at = picture_.data() + size_t(blk / bx) * 4 * W + (blk % bx) * 4;
            if (kind == 2) continue;
            if (kind == 3) {
                for (int r = 0; r < 4; ++r)
                    for (int x = 0; x < 4; ++x) at[r * W + x] = static_cast<uint8_t>(desc >> 8);
            } else if (kind == 0) {
                uint16_t c, m;
                if (!value(1, &c) || !value(0, &m)) return false;
                for (int r = 0; r < 4; ++r)
                    for (int x = 0; x < 4; ++x)
                        at[r * W + x] = static_cast<uint8_t>((m >> (4 * r + x) & 1) ? c >> 8 : c & 0xFF);
            } else {
                for (int r = 0; r < 4; ++r) {
                    uint16_t a, bb;
                    if (!value(2, &a) || !value(2, &bb)) return false;
                    at[r * W + 0] = static_cast<uint8_t>(bb);
                    at[r * W + 1] = static_cast<uint8_t>(bb >> 8);
                    at[r * W + 2] = static_cast<uint8_t>(a);
                    at[r * W + 3] = static_cast<uint8_t>(a >> 8);
                }
            }
        }
    }
    f->video_bits_used = b.pos;
    return true;
}

bool Reader::Decode(uint32_t i, Frame* f) {
    *f = Frame{};
    if (i >= sizes_.size()) return Fail("no such record");
    const uint8_t* rec = file_.data() + record_offset_[i];
    const uint32_t size = sizes_[i];
    f->type = types_[i];
    f->size = size;
    uint32_t at = 0;
    if (f->type & 1) {
        if (size < 1) return Fail("palette chunk past the record");
        uint32_t len = 4u * rec[0];
        if (len == 0 || len > size) return Fail("palette chunk past the record");
        f->has_palette = true;
        f->palette_chunk_size = len;
        if (!ApplyPalette(rec, len)) return false;
        at = len;
    }
    for (int t = 0; t < 7; ++t) {
        if (!(f->type & (2 << t))) continue;
        if (size - at < 4) return Fail("sound chunk past the record");
        const uint32_t len = U32(rec + at);
        if (len < 4 || len > size - at) return Fail("sound chunk length out of range");
        f->has_sound[t] = true;
        f->sound_chunk_size[t] = len;
        if (header_.track_format[t] & 0x80000000u) {
            if (len >= 8) {
                const uint32_t n = U32(rec + at + 4);
                if (n > (64u << 20)) return Fail("unpacked size too large");
                f->sound_declared[t] = n;
                f->sound_stream_present[t] = len > 8 && (rec[at + 8] & 1);
                f->sound[t].assign(n, 0);
                if (!UnpackSound(rec + at + 8, len - 8, &f->sound[t])) return false;
            }
        } else {
            f->sound[t].assign(rec + at + 4, rec + at + len);
            f->sound_declared[t] = len - 4;
        }
        at += len;
    }
    f->video_offset = at;
    f->video_size = size - at;
    return DecodeVideo(rec + at, size - at, f);
}

}  // namespace testread
