// The library's debug log: on only when the profile value's low byte is 1,
// read once per process, with the texts the tools that watch it expect.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/aligned_alloc.h"
#include "movie/open_close.h"
#include "tests/movie/movie_test_util.h"

using namespace movietest;

namespace {

struct DebugLog : ::testing::Test {
    void SetDebug(const char* value) {
        if (value)
            setenv("QUARVEL_PROFILE_QUARVEL_DEBUG", value, 1);
        else
            unsetenv("QUARVEL_PROFILE_QUARVEL_DEBUG");
        ResetDebugFlag();
    }
    void TearDown() override { SetDebug(nullptr); }
};

std::string Address(const void* p) { return std::to_string(reinterpret_cast<uintptr_t>(p)); }

TEST_F(DebugLog, OpenAndCloseMessages) {
    SetDebug("1");
    const MoviePlan plan = PatternMovie({100, 100}, 300);
    TempFile file(MovieBytes(plan));
    ::testing::internal::CaptureStderr();
    Movie* m = QuarvOpen(file.path().c_str(), 0, 0);
    QuarvClose(m);
    const std::string log = ::testing::internal::GetCapturedStderr();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(log, "QuarvOpen - file: " + file.path() + "\r\n" + "QuarvOpen returned: " + Address(m) + "\r\n" +
                       "QuarvClose: " + Address(m) + "\r\n");
}

TEST_F(DebugLog, FailureMessages) {
    SetDebug("257");  // low byte 1
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QuarvOpen("/nonexistent/x.qvl", 0, 0), nullptr);
    EXPECT_EQ(QuarvOpen(reinterpret_cast<const void*>(intptr_t{-1}), OPEN_FROM_HANDLE, 0), nullptr);
    std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(log,
              "QuarvOpen - file: /nonexistent/x.qvl\r\nCouldn't open the Quarvel file\r\n"
              "QuarvOpen - file handle: -1\r\nCouldn't open the Quarvel file\r\n");

    MemoryFile bad(Bytes{'Q', 'V', 'L', '3', 0, 0, 0, 0});
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(QuarvOpen(bad.handleArg(), OPEN_FROM_HANDLE, 0), nullptr);
    log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(log, "QuarvOpen - file handle: 77\r\nWasn't a Quarvel file\r\n");
}

TEST_F(DebugLog, AllocationFailureMessages) {
    SetDebug("1");
    const MoviePlan plan = PatternMovie({3000, 3000, 3000, 3000, 3000}, 4096);
    MemoryFile file(MovieBytes(plan));
    const char* expected[] = {
        "Couldn't allocate Quarv structure\r\n", "Couldn't allocate track table\r\n",
        nullptr,  // decode tables: no message
        "Couldn't allocate input buffer\r\n",
        nullptr,  // read-ahead buffer: no message
        "Couldn't allocate I/O buffer\r\n",
    };
    for (int k = 0; k < 6; ++k) {
        ::testing::internal::CaptureStderr();
        SetAllocFailCountdown(k);
        Movie* m = QuarvOpen(MemoryFile::name(), 0, 0);
        SetAllocFailCountdown(-1);
        const std::string log = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(m, nullptr) << k;
        std::string want = std::string("QuarvOpen - file: ") + MemoryFile::name() + "\r\n";
        if (expected[k]) want += expected[k];
        EXPECT_EQ(log, want) << k;
    }
}

TEST_F(DebugLog, OffUnlessTheLowByteIsOne) {
    const MoviePlan plan = PatternMovie({100}, 300);
    MemoryFile file(MovieBytes(plan));
    for (const char* value : {"0", "2", "256", "x", static_cast<const char*>(nullptr)}) {
        SetDebug(value);
        ::testing::internal::CaptureStderr();
        QuarvClose(QuarvOpen(MemoryFile::name(), 0, 0));
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "") << (value ? value : "unset");
    }
}

TEST_F(DebugLog, ReadOncePerProcess) {
    const MoviePlan plan = PatternMovie({100}, 300);
    MemoryFile file(MovieBytes(plan));
    SetDebug("0");
    QuarvClose(QuarvOpen(MemoryFile::name(), 0, 0));
    setenv("QUARVEL_PROFILE_QUARVEL_DEBUG", "1", 1);  // changed after the first open
    ::testing::internal::CaptureStderr();
    QuarvClose(QuarvOpen(MemoryFile::name(), 0, 0));
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
