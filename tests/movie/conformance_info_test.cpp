// The figures QuarvOpen derives for every movie of the independent
// conformance corpus: largest record, peak rate and frame, average, the
// buffer size chosen for extraBuffer -1, preloading and the frame time.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "movie/movie.h"

namespace {

const char kCorpusDir[] = "/work/shared/conformance";

struct CorpusMovie {
    std::string file;
    std::map<std::string, long long> info;
};

// Just enough JSON for corpus.json: each movie's "file" and the integer
// fields of its "info" object.
std::vector<CorpusMovie> ReadCorpus(const std::string& text) {
    std::vector<CorpusMovie> movies;
    size_t pos = 0;
    while ((pos = text.find("\"file\"", pos)) != std::string::npos) {
        CorpusMovie m;
        const size_t q1 = text.find('"', text.find(':', pos) + 1);
        const size_t q2 = text.find('"', q1 + 1);
        m.file = text.substr(q1 + 1, q2 - q1 - 1);
        const size_t info = text.find("\"info\"", q2);
        const size_t open = text.find('{', info);
        const size_t close = text.find('}', open);
        size_t k = open;
        while ((k = text.find('"', k + 1)) != std::string::npos && k < close) {
            const size_t kend = text.find('"', k + 1);
            const std::string key = text.substr(k + 1, kend - k - 1);
            size_t v = text.find(':', kend) + 1;
            while (text[v] == ' ') ++v;
            if (text[v] == '-' || (text[v] >= '0' && text[v] <= '9')) m.info[key] = std::stoll(text.substr(v));
            k = text.find_first_of(",}", kend);
            if (text[k] == '}') break;
        }
        movies.push_back(m);
        pos = close;
    }
    return movies;
}

TEST(Conformance, OpenFiguresMatchTheCorpus) {
    std::ifstream in(std::string(kCorpusDir) + "/corpus.json");
    if (!in) GTEST_SKIP() << "no conformance corpus";
    std::stringstream ss;
    ss << in.rdbuf();
    const std::vector<CorpusMovie> movies = ReadCorpus(ss.str());
    ASSERT_GE(movies.size(), 8u);
    for (const CorpusMovie& c : movies) {
        SCOPED_TRACE(c.file);
        ASSERT_EQ(c.info.count("peak_rate"), 1u);
        const std::string path = std::string(kCorpusDir) + "/" + c.file;
        Movie* m = QuarvOpen(path.c_str(), 0, 0xFFFFFFFFu);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(static_cast<long long>(m->Header.Width), c.info.at("width"));
        EXPECT_EQ(static_cast<long long>(m->Header.Frames), c.info.at("frames"));
        EXPECT_EQ(static_cast<long long>(m->Header.FrameRate), c.info.at("frame_rate"));
        EXPECT_EQ(static_cast<long long>(m->FrameTime), c.info.at("frame_time"));
        EXPECT_EQ(static_cast<long long>(m->LargestFrame), c.info.at("largest_frame"));
        EXPECT_EQ(static_cast<long long>(m->PeakRate), c.info.at("peak_rate"));
        EXPECT_EQ(static_cast<long long>(m->PeakFrame), c.info.at("peak_frame"));
        EXPECT_EQ(static_cast<long long>(m->AverageFrameSize), c.info.at("average_frame_size"));
        EXPECT_EQ(static_cast<long long>(m->BufSize), c.info.at("buf_size"));
        EXPECT_EQ((m->OpenFlags & OPEN_PRELOAD) ? 1 : 0, c.info.at("preloaded"));
        // Walk every frame twice round: every record arrives inside its buffer.
        const uint32_t n = m->Header.Frames + (m->Header.Flags & 1);
        for (uint32_t i = 0; i < 2 * n; ++i) {
            ASSERT_EQ(m->ReadError, 0u);
            ASSERT_LE(m->VideoOffset + m->VideoSize, m->FrameBufferSize);
            QuarvNextFrame(m);
        }
        QuarvClose(m);
    }
}

}  // namespace
