// A scratch folder in which a test runs one of the native tools as a user
// does (from the shell, in that folder) and reads what it wrote. Header only:
// the player's tests link nothing but the player's core.
#pragma once
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace tooltest {

struct ToolDir {
    std::string dir, out, err;  // out, err: what the last Run printed
    ToolDir() {
        char pattern[] = "/tmp/quarvel-tool-test.XXXXXX";
        dir = mkdtemp(pattern) ? pattern : "/nonexistent";
    }
    ~ToolDir() { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    // Whole files as bytes of any element type (std::string, byte vectors).
    template <class T = std::string>
    T Read(const std::string& name) const {
        std::ifstream f(Path(name), std::ios::binary);
        const std::string s{std::istreambuf_iterator<char>(f), {}};
        return T(s.begin(), s.end());
    }
    template <class T>
    bool Write(const std::string& name, const T& bytes) const {
        return std::ofstream(Path(name), std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size()).good();
    }
    // Runs bin/TOOL ARGS in the folder; the exit code (-1 for a crash).
    int Run(const std::string& tool, const std::string& args) {
        const int st = std::system(("cd '" + dir + "' && " QUARVEL_BIN_DIR "/" + tool + " " + args + " >out 2>err").c_str());
        out = Read("out"), err = Read("err");
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
};

}  // namespace tooltest
