// quarvselfplay, run as a program on made-up executables: where the movie
// goes, what the self-play area then says, and what it refuses.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const std::string kTool = std::string(QUARVEL_BIN_DIR) + "/quarvselfplay";

class SelfPlayTool : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(access(kTool.c_str(), X_OK), 0) << kTool << " is missing: build the native tools";
        char pattern[] = "/tmp/quarvel-selfplay-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

    static void Write(const std::string& path, const Bytes& bytes) {
        std::ofstream f(path, std::ios::binary);
        f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    static Bytes Read(const std::string& path) {
        std::ifstream f(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    }
    static bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

    // Runs the tool with `args`; its exit code, with stderr kept in err_.
    int Run(const std::string& args) {
        const std::string errFile = Path("stderr.txt");
        const int status = std::system((kTool + " " + args + " >/dev/null 2>'" + errFile + "'").c_str());
        const Bytes e = Read(errFile);
        err_.assign(e.begin(), e.end());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // An "executable" of `size` bytes of a pattern, with an empty self-play
    // area (the tag and 216 zero bytes) at `tagAt`.
    static Bytes Player(size_t size, size_t tagAt) {
        Bytes exe(size);
        for (size_t i = 0; i < size; i++) exe[i] = static_cast<unsigned char>(0x20 + i % 90);
        std::memcpy(&exe[tagAt], "SELFPLAY", 8);
        std::memset(&exe[tagAt + 8], 0, 216);
        return exe;
    }
    static Bytes Movie(size_t size) {
        Bytes movie(size);
        for (size_t i = 0; i < size; i++) movie[i] = static_cast<unsigned char>(i * 7 + 3);
        std::memcpy(movie.data(), "QVL2", 4);
        return movie;
    }

    std::string dir_;
    std::string err_;
};

TEST_F(SelfPlayTool, AppendsTheMovieOnTheNextPageAndNamesItInTheArea) {
    const Bytes exe = Player(10000, 3000);
    const Bytes movie = Movie(5000);
    Write(Path("p.exe"), exe);
    Write(Path("m.qvl"), movie);
    chmod(Path("p.exe").c_str(), 0751);
    ASSERT_EQ(Run("'" + Path("p.exe") + "' '" + Path("m.qvl") + "' '" + Path("out.exe") + "'"), 0) << err_;

    const Bytes out = Read(Path("out.exe"));
    ASSERT_EQ(out.size(), 12288u + movie.size()) << "10000 bytes round up to three pages";
    EXPECT_TRUE(std::equal(movie.begin(), movie.end(), out.begin() + 12288));
    EXPECT_TRUE(std::all_of(out.begin() + 10000, out.begin() + 12288, [](unsigned char b) { return b == 0; }));
    const std::string text = ":12288 /W640/I4/J/D2/T1/U2/A2";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[3008])), text);
    EXPECT_TRUE(std::all_of(out.begin() + 3008 + text.size(), out.begin() + 3224,
                            [](unsigned char b) { return b == 0; }));
    // Everything else of the executable is untouched, the tag included.
    Bytes expected = exe;
    std::memcpy(&expected[3008], text.data(), text.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), out.begin()));
    struct stat st;
    ASSERT_EQ(stat(Path("out.exe").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0751u) << "the copy keeps the player's permissions";
    EXPECT_FALSE(Exists(Path("out.exe.part")));
}

TEST_F(SelfPlayTool, AnExactPageSizeNeedsNoPaddingAndSwitchesCanBeChosen) {
    Write(Path("p.exe"), Player(8192, 100));
    Write(Path("m.qvl"), Movie(200));
    ASSERT_EQ(Run("--switches '/L2 /S' '" + Path("p.exe") + "' '" + Path("m.qvl") + "' '" + Path("o.exe") + "'"), 0)
        << err_;
    const Bytes out = Read(Path("o.exe"));
    ASSERT_EQ(out.size(), 8192u + 200);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[108])), ":8192 /L2 /S");
    EXPECT_EQ(std::memcmp(&out[8192], "QVL2", 4), 0);

    ASSERT_EQ(Run("--switches '' '" + Path("p.exe") + "' '" + Path("m.qvl") + "' '" + Path("o.exe") + "'"), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&Read(Path("o.exe"))[108])), ":8192");
}

TEST_F(SelfPlayTool, TheLongestTextThatFitsAndOneByteMore) {
    Write(Path("p.exe"), Player(4096, 0));
    Write(Path("m.qvl"), Movie(104));
    // ":4096 " is 6 bytes: 209 more fill the 215 the area holds.
    const std::string fits(209, 'x'), tooLong(210, 'x');
    ASSERT_EQ(Run("--switches " + fits + " '" + Path("p.exe") + "' '" + Path("m.qvl") + "' '" + Path("o.exe") + "'"),
              0)
        << err_;
    const Bytes out = Read(Path("o.exe"));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&out[8])), ":4096 " + fits);
    EXPECT_EQ(out[8 + 215], 0);
    std::remove(Path("o.exe").c_str());
    EXPECT_EQ(Run("--switches " + tooLong + " '" + Path("p.exe") + "' '" + Path("m.qvl") + "' '" + Path("o.exe") + "'"),
              1);
    EXPECT_NE(err_.find("at most 215"), std::string::npos) << err_;
    EXPECT_FALSE(Exists(Path("o.exe")));
}

TEST_F(SelfPlayTool, RefusesWhatItCannotUse) {
    Write(Path("m.qvl"), Movie(300));
    Write(Path("notmovie.qvl"), Bytes(300, 'x'));
    Write(Path("short.qvl"), Bytes{'Q', 'V', 'L', '2'});
    Write(Path("p.exe"), Player(5000, 1000));
    Bytes noTag(5000, 'a');
    Write(Path("notag.exe"), noTag);
    Bytes twoTags = Player(5000, 1000);
    std::memcpy(&twoTags[4000], "SELFPLAY", 8);
    Write(Path("two.exe"), twoTags);
    Bytes filled = Player(5000, 1000);
    std::memcpy(&filled[1008], ":4096", 5);
    Write(Path("filled.exe"), filled);

    struct Case {
        std::string exe, movie, message;
    } cases[] = {
        {"p.exe", "notmovie.qvl", "is not a Quarvel movie"},
        {"p.exe", "short.qvl", "is not a Quarvel movie"},
        {"p.exe", "nothing.qvl", "cannot open"},
        {"nothing.exe", "m.qvl", "cannot open"},
        {"notag.exe", "m.qvl", "has no self-play area"},
        {"two.exe", "m.qvl", "2 times"},
        {"filled.exe", "m.qvl", "already self-playing"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run("'" + Path(c.exe) + "' '" + Path(c.movie) + "' '" + Path("o.exe") + "'"), 1) << c.exe;
        EXPECT_NE(err_.find(c.message), std::string::npos) << c.exe << " + " << c.movie << ": " << err_;
        EXPECT_FALSE(Exists(Path("o.exe"))) << c.exe;
        EXPECT_FALSE(Exists(Path("o.exe.part"))) << c.exe;
    }
}

TEST_F(SelfPlayTool, UsageErrorsAndHelp) {
    EXPECT_EQ(Run(""), 2);
    EXPECT_NE(err_.find("usage: quarvselfplay"), std::string::npos);
    EXPECT_EQ(Run("a b"), 2);
    EXPECT_EQ(Run("a b c d"), 2);
    EXPECT_EQ(Run("--bogus a b c"), 2);
    EXPECT_NE(err_.find("unknown option --bogus"), std::string::npos);
    EXPECT_EQ(Run("a b c --switches"), 2);
    EXPECT_EQ(Run("--help"), 0);
}

TEST_F(SelfPlayTool, AFailedWriteLeavesNoFileBehind) {
    Write(Path("p.exe"), Player(5000, 1000));
    Write(Path("m.qvl"), Movie(300));
    EXPECT_EQ(Run("'" + Path("p.exe") + "' '" + Path("m.qvl") + "' '" + Path("no/such/dir/o.exe") + "'"), 1);
    EXPECT_NE(err_.find("cannot create"), std::string::npos) << err_;
}

}  // namespace
