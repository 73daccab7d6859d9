// Every frame of the independent conformance movies, decoded by the video
// code alone and compared with the expected pictures: both bit readers, 8-bit
// and 16-bit buffers.
#include <gtest/gtest.h>

#include "tests/video/conformance_check.h"

TEST(ConformanceDecode, EveryFrameOfEveryMovieMatches) {
    const std::string dir = std::string(QUARVEL_SOURCE_DIR) + "/../shared/conformance";
    for (const std::string& name : vtest::ConformanceMovies())
        for (uint32_t level : {1u, 2u})
            for (bool sixteen : {false, true})
                EXPECT_EQ(vtest::CheckConformanceMovie(dir, name, level, sixteen), "")
                    << name << (level == 2 ? " wide reader" : " plain reader") << (sixteen ? ", 16-bit" : ", 8-bit");
}
