// quarvdump over every movie of the independent conformance corpus: its
// output must be the expected one (info.json field by field, every frame and
// WAV file byte for byte, no file missing or extra), and what is not a whole
// movie is refused.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

const std::string kCorpus = std::string(QUARVEL_SOURCE_DIR) + "/../shared/conformance";
const std::string kDump = std::string(QUARVEL_BIN_DIR) + "/quarvdump";

std::string ReadAll(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path, std::ios::binary).rdbuf();
    return s.str();
}

std::set<std::string> ListDir(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.insert(e->d_name);
        closedir(d);
    }
    return names;
}

// JSON of integers in objects and arrays, flattened to path -> value, so
// that key order and white space do not matter.
std::map<std::string, std::string> Flat(const std::string& s) {
    std::map<std::string, std::string> out;
    std::vector<std::pair<std::string, int>> path{{"", -1}};  // the path so far, and the element number inside an array (-1: an object)
    std::string key;
    auto here = [&] { return path.back().first + "." + (path.back().second >= 0 ? std::to_string(path.back().second) : key); };
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '"') {
            key = s.substr(i + 1, s.find('"', i + 1) - i - 1);
            i += key.size() + 1;
        } else if (c == '{' || c == '[') {
            path.push_back({path.size() > 1 || path.back().second >= 0 ? here() : "", c == '[' ? 0 : -1});
        } else if ((c == '}' || c == ']') && path.size() > 1) {
            path.pop_back();
        } else if (c == ',' && path.back().second >= 0) {
            ++path.back().second;
        } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            const size_t end = s.find_first_not_of("-0123456789", i);
            out[here()] = s.substr(i, end - i);
            i = end - 1;
        }
    }
    return out;
}

struct TempDir {
    std::string path = "/tmp/quarvdump-XXXXXX";
    TempDir() { mkdtemp(path.data()); }
    ~TempDir() { std::system(("rm -rf " + path).c_str()); }
    int Dump(const std::string& movie) const {
        return std::system((kDump + " " + movie + " " + path + "/out 2>" + path + "/stderr").c_str());
    }
};

std::vector<std::string> CorpusMovies() {
    std::vector<std::string> names;
    for (const std::string& f : ListDir(kCorpus))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".qvl") == 0) names.push_back(f.substr(0, f.size() - 4));
    return names;
}

class Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Conformance, DumpMatchesExpectedOutput) {
    const TempDir dir;
    ASSERT_EQ(dir.Dump(kCorpus + "/" + GetParam() + ".qvl"), 0) << ReadAll(dir.path + "/stderr");
    const std::string out = dir.path + "/out", expected = kCorpus + "/" + GetParam() + ".expected";
    EXPECT_EQ(ListDir(out), ListDir(expected));
    const auto want = Flat(ReadAll(expected + "/info.json"));
    EXPECT_GE(want.size(), 12u);
    EXPECT_EQ(Flat(ReadAll(out + "/info.json")), want);
    for (const std::string& file : ListDir(expected))
        EXPECT_TRUE(file == "info.json" || ReadAll(out + "/" + file) == ReadAll(expected + "/" + file)) << file;
}

INSTANTIATE_TEST_SUITE_P(Corpus, Conformance, ::testing::ValuesIn(CorpusMovies()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

// Not a movie, and movies cut short inside their last record (one streamed,
// one preloaded): a failure, no output; and no arguments at all.
TEST(QuarvDump, RefusesWhatIsNotAWholeMovie) {
    EXPECT_GE(CorpusMovies().size(), 8u) << kCorpus;
    const TempDir dir;
    std::ofstream(dir.path + "/bad.qvl") << "QVL1 not a movie at all";
    EXPECT_NE(dir.Dump(dir.path + "/bad.qvl"), 0);
    for (const char* name : {"c19_peak_long", "c01_blocks"}) {
        const std::string movie = ReadAll(kCorpus + "/" + name + ".qvl");
        ASSERT_GT(movie.size(), 1000u);
        std::ofstream(dir.path + "/cut.qvl", std::ios::binary) << movie.substr(0, movie.size() - 40);
        EXPECT_NE(dir.Dump(dir.path + "/cut.qvl"), 0) << name;
        EXPECT_FALSE(ListDir(dir.path + "/out").count("info.json")) << name;
    }
    EXPECT_NE(std::system((kDump + " 2>/dev/null").c_str()), 0);
}

}  // namespace
