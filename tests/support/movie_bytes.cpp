#include "tests/support/movie_bytes.h"

#include "movie/open_close.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace movietest {

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes RawMovie::Build() const {
    MovieHeader h = header;
    const uint32_t n = static_cast<uint32_t>(records.size());
    h.Frames = n - (ring ? 1 : 0);
    h.Flags = (h.Flags & ~1u) | (ring ? 1u : 0u);
    h.TreeBlockSize = std::max<uint32_t>(1, firstFrame - 104 - 5 * n);  // absent trees, then ignored bytes
    Bytes out(reinterpret_cast<const uint8_t*>(&h), reinterpret_cast<const uint8_t*>(&h + 1));
    for (uint32_t i = 0; i < n; ++i) {
        const Bytes size = Le32(sizeOverride.empty() ? uint32_t(records[i].second.size()) : sizeOverride[i]);
        out.insert(out.end(), size.begin(), size.end());
    }
    for (const Record& r : records) out.push_back(r.first);
    out.resize(out.size() + h.TreeBlockSize, 0);
    for (const Record& r : records) out.insert(out.end(), r.second.begin(), r.second.end());
    return out;
}

RawMovie PatternMovie(const std::vector<uint32_t>& sizes, uint32_t firstFrame, bool ring) {
    RawMovie plan;
    std::memcpy(plan.header.Magic, "QVL2", 4);
    plan.header.Width = plan.header.Height = 16;
    plan.header.FrameRate = -6666;
    plan.header.MapTreeSize = plan.header.ColorTreeSize = plan.header.FullTreeSize = plan.header.TypeTreeSize = 12;
    plan.ring = ring;
    plan.firstFrame = firstFrame;
    for (uint32_t r = 0; r < sizes.size(); ++r) {
        plan.records.push_back({});
        for (uint32_t i = 0; i < sizes[r]; ++i) plan.records.back().second.push_back(uint8_t((r * 2654435761u + i * 40503u) >> 13));
    }
    return plan;
}

void ExpectCurrentRecord(const Movie* m, const RawMovie& plan) {
    ASSERT_LT(m->FrameNum, plan.records.size());
    const Bytes& want = plan.records[m->FrameNum].second;
    ASSERT_EQ(m->VideoOffset + m->VideoSize, want.size()) << "frame " << m->FrameNum;
    EXPECT_TRUE(want.empty() || std::memcmp(m->FrameData, want.data(), want.size()) == 0) << "frame " << m->FrameNum;
}

std::string Logged(const char* profile, const std::function<void()>& f) {
    profile ? setenv("QUARVEL_PROFILE_QUARVEL_DEBUG", profile, 1) : unsetenv("QUARVEL_PROFILE_QUARVEL_DEBUG");
    ResetDebugFlag();
    ::testing::internal::CaptureStderr();
    f();
    unsetenv("QUARVEL_PROFILE_QUARVEL_DEBUG");
    ResetDebugFlag();
    return ::testing::internal::GetCapturedStderr();
}

TempFile::TempFile(const Bytes& bytes) : path_("/tmp/quarvel_movie_XXXXXX") {
    const int fd = mkstemp(path_.data());
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) throw std::runtime_error("no temporary file");
    ::close(fd);
}

TempFile::~TempFile() { std::remove(path_.c_str()); }

namespace {
MemoryFile* g_file = nullptr;
}

MemoryFile::MemoryFile(Bytes b) : bytes(std::move(b)) {
    g_file = this;
    layer.open_read = [](const char* name) { return std::strcmp(name, kName) ? kNoFile : (g_file->pos = 0, kHandle); };
    layer.read = [](QvFile, void* dst, uint32_t count) {
        MemoryFile* f = g_file;
        const uint32_t got = uint32_t(std::min<uint64_t>(count, f->pos < f->bytes.size() ? f->bytes.size() - f->pos : 0));
        if (got) std::memcpy(dst, f->bytes.data() + f->pos, got);
        f->ops.push_back({'r', f->pos, count, got});
        f->pos += got;
        return got;
    };
    layer.seek = [](QvFile, int32_t offset, uint32_t origin) {
        MemoryFile* f = g_file;
        const int64_t to = offset + (origin == kSeekBegin ? 0 : origin == kSeekCurrent ? f->pos : f->bytes.size());
        if (to < 0) return 0xFFFFFFFFu;
        f->ops.push_back({'s', f->pos = uint32_t(to), 0, 0});
        return f->pos;
    };
    layer.close = [](QvFile) { ++g_file->closes; };
    SetFileLayer(&layer);
}

}  // namespace movietest
