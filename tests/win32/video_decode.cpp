// The conformance movies decoded by the video code as a 32-bit Windows
// program: both bit readers, 8-bit and 16-bit buffers, every frame compared
// with its expected picture.
//   video_decode.exe CONFORMANCE_DIR
#include <cstdio>
#include <string>

#include "tests/video/conformance_check.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: video_decode.exe CONFORMANCE_DIR\n");
        return 2;
    }
    DetectMmx();
    std::printf("mmx %s\n", MmxLevel == 2 ? "present" : "absent");
    int passed = 0, failed = 0;
    for (const std::string& name : vtest::ConformanceMovies()) {
        for (uint32_t level : {1u, 2u}) {
            for (bool sixteen : {false, true}) {
                const std::string error = vtest::CheckConformanceMovie(argv[1], name, level, sixteen);
                std::printf("%s %s %s %s%s%s\n", error.empty() ? "ok" : "FAILED", name.c_str(),
                            level == 2 ? "wide" : "plain", sixteen ? "16-bit" : "8-bit", error.empty() ? "" : ": ",
                            error.c_str());
                ++(error.empty() ? passed : failed);
            }
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed || passed == 0 ? 1 : 0;
}
