// The stream reader of a streamed movie: which file reads it makes, and that
// every record arrives intact whatever the mix of deliveries, jumps and
// background reads.
#include <random>

#include "movie/container.h"
#include "movie/sequence.h"
#include "movie/stream.h"
#include "tests/support/movie_bytes.h"

using namespace movietest;

namespace {

// The frame number, the reads and seeks since `mark`, the bytes left
// buffered, and E once a read came up short of what the movie needs.
std::string Ops(const MemoryFile& f, size_t mark, const Movie* m) {
    std::string s;
    for (size_t i = mark; i < f.ops.size(); ++i) {
        const MemoryFile::Op& op = f.ops[i];
        s += op.kind == 's' ? "s@" + std::to_string(op.pos) + " "
                            : "r" + std::to_string(op.size) + "@" + std::to_string(op.pos) + (op.got != op.size ? ":" + std::to_string(op.got) : "") + " ";
    }
    return "#" + std::to_string(m->FrameNum) + " " + s + "=" + std::to_string(m->BufCount) + (m->ReadError ? " E" : "");
}

// Frames run to the last, then the ring frame in place of frame 0 and on
// from frame 1, streamed or preloaded. Every read is whole pages at page
// offsets (a large delivery reads up to four pages straight into the frame
// buffer), except the one read up to the next page after a jump; records
// already buffered cost no read at all. A file that ends early stops the
// movie at the first record it cannot read (a movie that would be preloaded
// is streamed up to there): then nothing is read any more, and waiting and
// decoding return at once.
// Steps: N next frame, A one background read, a digit: jump to that record
// as a rewind does, W wait and decode (their results).
TEST(StreamReader, ReadsWholePagesAtPageOffsets) {
    // What, record sizes, ring frame, the file cut this many bytes after the frame data's start (0: whole), open
    // flags, steps; what is seen after the open and after each step.
    const std::tuple<const char*, std::vector<uint32_t>, bool, uint32_t, uint32_t, const char*, std::vector<std::string>> cases[] = {
        {"large record direct, then a page", {4096, 10000, 1000, 20000}, false, 0, 0, "NN", {"#0 =0", "#1 r8192@8192 r4096@16384 =2288", "#2 =1288"}},
        {"direct reads of four pages at most", {4096, 50000, 100}, false, 0, 0, "N", {"#0 =0", "#1 r16384@8192 r16384@24576 r16384@40960 r4096@57344:948 =100"}},
        {"jump inside the buffer", {4096, 300, 300, 300, 300, 30000}, false, 0, 0, "N3", {"#0 =0", "#1 r4096@8192 =3796", "#3 =3196"}},
        {"jump back past the ring frame", {5000, 3000, 9000, 2000}, true, 0, 0, "NNNN",
         {"#0 =3192", "#1 =192", "#2 r8192@12288 r4096@20480:2616 =2000", "#3 =0", "#1 s@9096 r3192@9096 =192"}},
        {"jump to the end of the buffered data", {4096, 2000, 2096, 0, 4096, 4096}, false, 0, 0, "A3AN",
         {"#0 =0", "#0 r4096@8192 =4096", "#3 =0", "#3 r4096@12288 =4096", "#4 =0"}},
        {"background reads end at the file's end and at the ring frame", {7000, 2000, 2000}, true, 0, 0, "AANNA",
         {"#0 =1192", "#0 r4096@12288:2808 =4000", "#0 r4096@15096:0 =4000", "#1 =2000", "#2 =0", "#2 =0"}},
        {"a ring movie preloaded", {900, 5000, 7000, 3000, 6000}, true, 0, OPEN_PRELOAD, "NNNNNN", {"#0 =0", "#1 =0", "#2 =0", "#3 =0", "#4 =0", "#1 =0", "#2 =0"}},
        {"one frame", {500}, false, 0, 0, "NN", {"#0 =0", "#0 =0", "#0 =0"}},
        {"one frame and the ring frame", {500, 600}, true, 0, 0, "NN", {"#0 =0", "#1 =0", "#1 =0"}},
        {"cut short: the refill stays inside the buffer", {4096, 30000, 100, 30000}, false, 39196, 0, "NNNWN",
         {"#0 =0", "#1 r16384@8192 r12288@24576 r4096@36864 =2768", "#2 =2668", "#3 r16384@40960:2332 r8192@43292:0 =0 E", "w00 #3 =0 E", "#4 =0 E"}},
        {"cut short, too short to preload", {1000, 1000, 1000, 1000}, false, 2500, OPEN_PRELOAD, "NNNW",
         {"#0 =1500", "#1 =500", "#2 r4096@6596:0 =0 E", "#3 =0 E", "w00 #3 =0 E"}},
    };
    for (const auto& [what, sizes, ring, cut, flags, steps, expect] : cases) {
        const RawMovie plan = PatternMovie(sizes, 4096, ring);
        Bytes bytes = plan.Build();
        if (cut) bytes.resize(4096 + cut);
        MemoryFile file(bytes);
        Movie* m = QuarvOpen(MemoryFile::kName, flags, 0);
        ASSERT_NE(m, nullptr) << what;
        std::vector<std::string> got{Ops(file, file.ops.size(), m)};
        for (const char* s = steps; *s; ++s) {
            const size_t mark = file.ops.size();
            const std::string results = *s == 'W' ? "w" + std::to_string(QuarvWait(m)) + std::to_string(QuarvDoFrame(m)) + " " : "";
            if (*s == 'N') QuarvNextFrame(m);
            if (*s == 'A') ReadAhead(m);
            if (std::isdigit(static_cast<unsigned char>(*s))) {
                m->FrameNum = static_cast<uint32_t>(*s - '0');
                PositionStream(m, static_cast<uint32_t>(m->FirstFramePos + RecordOffset(m, m->FrameNum)));
                SplitFrame(m);
            }
            got.push_back(results + Ops(file, mark, m));
            if (!m->ReadError) ExpectCurrentRecord(m, plan);
        }
        EXPECT_EQ(got, expect) << what;
        QuarvClose(m);
    }
}

// Any mix of deliveries, rewinds and background reads, for movies that
// start anywhere in their file, hands every record over intact, reads the
// file in pages of the file (apart from one read up to a page after each
// repositioning) and keeps the buffer's bookkeeping inside its memory.
TEST(StreamReader, RandomPlaybackDeliversEveryRecordIntact) {
    std::mt19937 rng(1234);
    for (int round = 0; round < 200; ++round) {
        const uint32_t n = 3 + rng() % 25;
        std::vector<uint32_t> sizes;
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t kind = rng() % 10;
            sizes.push_back(kind == 0 ? 0 : kind < 4 ? rng() % 3000 : kind < 6 ? 1024 * (1 + rng() % 4)
                                        : kind < 9   ? rng() % 20000 : 4096 * (1 + rng() % 5));
        }
        sizes[0] = std::max<uint32_t>(sizes[0], 1);
        // Frame data on a page now and then, so that buffered data ends
        // exactly at the wrap mark.
        const uint32_t first = rng() % 3 == 0 ? 4096 * (1 + rng() % 2) : 104 + 5 * n + 1 + rng() % 9000;
        const uint32_t base = rng() % 2 ? 0 : rng() % 100000;
        const RawMovie plan = PatternMovie(sizes, first, rng() % 2);
        MemoryFile file(Cat({Bytes(base, 0xCC), plan.Build()}));
        file.pos = base;
        Movie* m = QuarvOpen(file.handleArg(), OPEN_FROM_HANDLE, (rng() % 2) ? 0 : 4096 * (rng() % 6));
        size_t mark = 0;  // the open's reads before the frame data are not the reader's
        while (mark < file.ops.size() && !(file.ops[mark].kind == 'r' && file.ops[mark].pos == m->FirstFramePos)) ++mark;
        for (int step = 0; m->BufStart && step < 120; ++step) {  // preloaded movies stream nothing
            for (uint32_t k = rng() % 4 ? 0 : rng() % 6; k > 0; --k) ReadAhead(m);
            if (rng() % 4) QuarvNextFrame(m);
            ASSERT_EQ(m->ReadError, 0u);
            ExpectCurrentRecord(m, plan);
            ASSERT_TRUE(m->BufCount <= m->BufSize && m->BufRead >= m->BufStart && m->BufRead < m->BufEnd && m->BufEnd <= m->BufStart + m->BufSize + 4096);
        }
        for (size_t i = m->BufStart ? mark : file.ops.size(); i < file.ops.size(); ++i) {
            const MemoryFile::Op& op = file.ops[i];
            const bool paged = op.pos % 4096 == 0 && op.size % 4096 == 0 && op.size <= 16384;
            const bool toPage = op.size < 4096 && (op.pos + op.size) % 4096 == 0 && (i == mark || file.ops[i - 1].kind == 's');
            EXPECT_TRUE(op.kind != 'r' || paged || toPage || op.got == 0) << "read at " << op.pos << " of " << op.size;
        }
        QuarvClose(m);
    }
}

}  // namespace
