#include "tests/support/movie_bytes.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace movietest {

uint32_t LE32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

void PutLE32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

RecordBuilder& RecordBuilder::Palette(const Bytes& commands) {
    const size_t units = (commands.size() + 1 + 3) / 4;
    Bytes chunk{static_cast<uint8_t>(units)};
    chunk.insert(chunk.end(), commands.begin(), commands.end());
    chunk.resize(units * 4, 0);
    return RawPalette(chunk);
}

RecordBuilder& RecordBuilder::RawPalette(const Bytes& chunk) {
    type_ |= 1;
    palette_ = chunk;
    return *this;
}

RecordBuilder& RecordBuilder::Sound(int track, const Bytes& payload) {
    return SoundWithLength(track, static_cast<uint32_t>(payload.size() + 4), payload);
}

RecordBuilder& RecordBuilder::SoundWithLength(int track, uint32_t lengthWord, const Bytes& payload) {
    type_ |= static_cast<uint8_t>(2u << track);
    sound_[track].clear();
    PutLE32(sound_[track], lengthWord);
    sound_[track].insert(sound_[track].end(), payload.begin(), payload.end());
    return *this;
}

RecordBuilder& RecordBuilder::Video(const Bytes& bytes) {
    video_ = bytes;
    return *this;
}

Record RecordBuilder::Build() const {
    Record r;
    r.type = type_;
    r.bytes = palette_;
    for (const Bytes& s : sound_) r.bytes.insert(r.bytes.end(), s.begin(), s.end());
    r.bytes.insert(r.bytes.end(), video_.begin(), video_.end());
    return r;
}

Record VideoRecord(uint32_t n, uint8_t fill) { return RecordBuilder().Video(Bytes(n, fill)).Build(); }

MovieHeader DefaultHeader() {
    MovieHeader h{};
    std::memcpy(h.Magic, "QVL2", 4);
    h.Width = 16;
    h.Height = 16;
    h.FrameRate = -6666;
    h.MapTreeSize = h.ColorTreeSize = h.FullTreeSize = h.TypeTreeSize = 12;
    return h;
}

Bytes MovieBytes(const MoviePlan& plan) {
    MovieHeader h = plan.header;
    const uint32_t n = static_cast<uint32_t>(plan.records.size());
    h.Frames = n - (plan.ring ? 1 : 0);
    h.Flags = (h.Flags & ~1u) | (plan.ring ? 1u : 0u);
    h.TreeBlockSize = static_cast<uint32_t>(plan.trees.size());
    Bytes out(sizeof h);
    std::memcpy(out.data(), &h, sizeof h);
    for (uint32_t i = 0; i < n; ++i)
        PutLE32(out, plan.sizeOverride.empty() ? static_cast<uint32_t>(plan.records[i].bytes.size())
                                               : plan.sizeOverride.at(i));
    for (const Record& r : plan.records) out.push_back(r.type);
    out.insert(out.end(), plan.trees.begin(), plan.trees.end());
    for (const Record& r : plan.records) out.insert(out.end(), r.bytes.begin(), r.bytes.end());
    return out;
}

TempFile::TempFile(const Bytes& bytes) {
    char name[] = "/tmp/quarvel_movie_XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) throw std::runtime_error("mkstemp");
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t w = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (w <= 0) break;
        done += static_cast<size_t>(w);
    }
    ::close(fd);
    path_ = name;
}

TempFile::~TempFile() { std::remove(path_.c_str()); }

namespace {
MemoryFile* g_memory = nullptr;
}

MemoryFile::MemoryFile(Bytes bytes) : bytes_(std::move(bytes)) {
    layer_ = {Open, Read, Seek, Close};
    g_memory = this;
    SetFileLayer(&layer_);
}

MemoryFile::~MemoryFile() {
    SetFileLayer(nullptr);
    g_memory = nullptr;
}

std::vector<MemoryFile::Op> MemoryFile::Reads() const {
    std::vector<Op> r;
    for (const Op& op : ops)
        if (op.kind == 'r') r.push_back(op);
    return r;
}

size_t MemoryFile::Seeks() const {
    return std::count_if(ops.begin(), ops.end(), [](const Op& op) { return op.kind == 's'; });
}

QvFile MemoryFile::Open(const char* name) {
    if (std::strcmp(name, MemoryFile::name()) != 0) return kNoFile;
    g_memory->ops.push_back({'o', 0, 0, 0});
    g_memory->pos_ = 0;
    return kHandle;
}

uint32_t MemoryFile::Read(QvFile f, void* dst, uint32_t count) {
    MemoryFile* m = g_memory;
    if (f != kHandle) return 0;
    const uint64_t end = std::min<uint64_t>(m->bytes_.size(), m->readEnd_);
    const uint64_t avail = m->pos_ < end ? end - m->pos_ : 0;
    const uint32_t got = static_cast<uint32_t>(std::min<uint64_t>(count, avail));
    if (got) std::memcpy(dst, m->bytes_.data() + m->pos_, got);
    m->ops.push_back({'r', m->pos_, count, got});
    m->pos_ += got;
    return got;
}

uint32_t MemoryFile::Seek(QvFile f, int32_t offset, uint32_t origin) {
    MemoryFile* m = g_memory;
    if (f != kHandle) return 0xFFFFFFFFu;
    int64_t from = origin == kSeekBegin ? 0 : origin == kSeekCurrent ? m->pos_ : static_cast<int64_t>(m->bytes_.size());
    const int64_t to = from + offset;
    if (to < 0) return 0xFFFFFFFFu;
    m->pos_ = static_cast<uint32_t>(to);
    m->ops.push_back({'s', m->pos_, 0, 0});
    return m->pos_;
}

void MemoryFile::Close(QvFile f) {
    if (f == kHandle) ++g_memory->closes;
    g_memory->ops.push_back({'c', 0, 0, 0});
}

}  // namespace movietest
