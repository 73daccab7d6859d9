// Runs quarvdump over every movie of the independent conformance corpus and
// compares its output with the expected files: info.json field by field,
// every frame and WAV file byte for byte, and no file missing or extra.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

const std::string kCorpus = std::string(QUARVEL_SOURCE_DIR) + "/../shared/conformance";
const std::string kDump = std::string(QUARVEL_BIN_DIR) + "/quarvdump";

std::string ReadAll(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
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

// A small JSON reader that flattens objects and arrays of integers into
// "key.sub[2].field" -> value, enough for the info objects.
class FlatJson {
public:
    explicit FlatJson(const std::string& text) : s_(text) { Value(""); }
    std::map<std::string, std::string> fields;
    bool ok = true;

private:
    void Ws() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_]))) ++i_;
    }
    std::string String() {
        std::string out;
        ++i_;
        while (i_ < s_.size() && s_[i_] != '"') out += s_[i_++];
        ++i_;
        return out;
    }
    void Value(const std::string& key) {
        Ws();
        if (i_ >= s_.size()) { ok = false; return; }
        char c = s_[i_];
        if (c == '{') {
            ++i_;
            Ws();
            if (s_[i_] == '}') { ++i_; fields[key] = "{}"; return; }
            while (ok) {
                Ws();
                std::string k = String();
                Ws();
                if (s_[i_++] != ':') { ok = false; return; }
                Value(key.empty() ? k : key + "." + k);
                Ws();
                if (s_[i_] == ',') { ++i_; continue; }
                if (s_[i_] == '}') { ++i_; return; }
                ok = false;
            }
        } else if (c == '[') {
            ++i_;
            Ws();
            int n = 0;
            if (s_[i_] == ']') { ++i_; fields[key] = "[]"; return; }
            while (ok) {
                Value(key + "[" + std::to_string(n++) + "]");
                Ws();
                if (s_[i_] == ',') { ++i_; continue; }
                if (s_[i_] == ']') { ++i_; return; }
                ok = false;
            }
        } else if (c == '"') {
            fields[key] = String();
        } else {
            size_t start = i_;
            while (i_ < s_.size() && (s_[i_] == '-' || std::isdigit(static_cast<unsigned char>(s_[i_])))) ++i_;
            if (start == i_) { ok = false; return; }
            fields[key] = s_.substr(start, i_ - start);
        }
    }
    const std::string& s_;
    size_t i_ = 0;
};

class Conformance : public ::testing::TestWithParam<std::string> {};

TEST_P(Conformance, DumpMatchesExpectedOutput) {
    const std::string name = GetParam();
    char tmpl[] = "/tmp/quarvdump-conf-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string out = std::string(tmpl) + "/out";
    const std::string cmd = kDump + " " + kCorpus + "/" + name + ".qvl " + out + " 2>" + tmpl + "/stderr";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadAll(std::string(tmpl) + "/stderr");

    const std::string expectedDir = kCorpus + "/" + name + ".expected";
    EXPECT_EQ(ListDir(out), ListDir(expectedDir));

    FlatJson want(ReadAll(expectedDir + "/info.json")), got(ReadAll(out + "/info.json"));
    ASSERT_TRUE(want.ok);
    ASSERT_TRUE(got.ok) << ReadAll(out + "/info.json");
    EXPECT_EQ(got.fields, want.fields);

    for (const std::string& file : ListDir(expectedDir)) {
        if (file == "info.json") continue;
        EXPECT_TRUE(ReadAll(out + "/" + file) == ReadAll(expectedDir + "/" + file)) << name << ": " << file << " differs";
    }
    std::system(("rm -rf " + std::string(tmpl)).c_str());
}

std::vector<std::string> CorpusMovies() {
    std::vector<std::string> names;
    for (const std::string& f : ListDir(kCorpus))
        if (f.size() > 4 && f.compare(f.size() - 4, 4, ".qvl") == 0) names.push_back(f.substr(0, f.size() - 4));
    return names;
}

INSTANTIATE_TEST_SUITE_P(Corpus, Conformance, ::testing::ValuesIn(CorpusMovies()),
                         [](const ::testing::TestParamInfo<std::string>& info) { return info.param; });

TEST(ConformanceCorpus, IsPresent) { EXPECT_GE(CorpusMovies().size(), 8u) << kCorpus; }

TEST(QuarvDump, RefusesWhatIsNotAMovie) {
    char tmpl[] = "/tmp/quarvdump-bad-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    { std::ofstream(dir + "/bad.qvl") << "QVL1 not a movie at all"; }
    EXPECT_NE(std::system((kDump + " " + dir + "/bad.qvl " + dir + "/out 2>/dev/null").c_str()), 0);
    // Movies cut short inside their last frame record: one streamed, one
    // preloaded (neither has a ring frame, which the dump never reads).
    for (const char* name : {"c19_peak_long", "c01_blocks"}) {
        std::string movie = ReadAll(kCorpus + "/" + name + ".qvl");
        ASSERT_GT(movie.size(), 1000u);
        { std::ofstream(dir + "/cut.qvl", std::ios::binary) << movie.substr(0, movie.size() - 40); }
        EXPECT_NE(std::system((kDump + " " + dir + "/cut.qvl " + dir + "/out2 2>/dev/null").c_str()), 0) << name;
    }
    EXPECT_NE(std::system((kDump + " 2>/dev/null").c_str()), 0);
    std::system(("rm -rf " + dir).c_str());
}

}  // namespace
