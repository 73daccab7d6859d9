// QuarvOpen and QuarvClose as the player meets them: what is refused, where
// a movie comes from, the figures and buffering chosen from the frame sizes,
// the open's flags, sound tracks, allocation failures and the debug log.
#include <array>
#include <cstdlib>
#include <functional>
#include <optional>

#include "common/aligned_alloc.h"
#include "movie/container.h"
#include "movie/movie_internal.h"
#include "sound/sound_driver.h"
#include "tests/support/movie_bytes.h"

using namespace movietest;

namespace {

// A malformed file fails the open cleanly: null, nothing kept (the leak
// checker tells), the file closed.
TEST(Open, RefusesWhatCannotBeAMovie) {
    const Bytes good = PatternMovie({100, 200, 300}, 300).Build();
    auto edited = [&](std::function<void(MovieHeader&)> edit) {
        Bytes b = good;
        edit(*reinterpret_cast<MovieHeader*>(b.data()));
        return b;
    };
    RawMovie tooLarge = PatternMovie({100, 200, 300}, 300), fiveGigabytes = PatternMovie(std::vector<uint32_t>(5000, 0), 25105);
    tooLarge.sizeOverride = {100, 1000000, 300};
    fiveGigabytes.records.back().second.assign(1 << 20, 1);  // every record fits the file, their sum does not
    fiveGigabytes.sizeOverride.assign(5000, 1 << 20);
    const std::pair<const char*, Bytes> cases[] = {
        {"empty file", {}},
        {"three bytes of magic", {'Q', 'V', 'L'}},
        {"wrong magic", edited([](MovieHeader& h) { h.Magic[3] = '1'; })},
        {"magic only", {'Q', 'V', 'L', '2'}},
        {"header cut short", Bytes(good.begin(), good.begin() + 60)},
        {"no frames", edited([](MovieHeader& h) { h.Frames = 0; })},
        {"ring frame only", edited([](MovieHeader& h) { h.Frames = 0, h.Flags |= 1; })},
        {"frame count beyond the file", edited([](MovieHeader& h) { h.Frames = 0x40000000; })},
        {"frame count wrapping with the ring", edited([](MovieHeader& h) { h.Frames = 0xFFFFFFFFu, h.Flags |= 1; })},
        {"tree block beyond the file", edited([](MovieHeader& h) { h.TreeBlockSize = 0xFFFFF000u; })},
        {"trees the block cannot hold", edited([](MovieHeader& h) { h.MapTreeSize = 0x7FFFFFF0u; })},
        {"tree sizes overflowing 32 bits", edited([](MovieHeader& h) { h.MapTreeSize = h.ColorTreeSize = h.FullTreeSize = h.TypeTreeSize = 0xFFFFFFF0u; })},
        {"tables cut short", Bytes(good.begin(), good.begin() + 110)},
        {"record larger than the file", tooLarge.Build()},
        {"frame data over 32 bits", fiveGigabytes.Build()},
    };
    for (const auto& [what, bytes] : cases) {
        MemoryFile file(bytes);
        EXPECT_EQ(QuarvOpen(MemoryFile::kName, 0, 0xFFFFFFFFu), nullptr) << what;
        EXPECT_EQ(file.closes, 1) << what;
    }
    EXPECT_EQ(QuarvOpen(nullptr, 0, 0), nullptr);
    EXPECT_EQ(QuarvOpen("/nonexistent/dir/movie.qvl", 0, 0), nullptr);
    EXPECT_EQ(QuarvOpen(reinterpret_cast<const void*>(intptr_t{-1}), OPEN_FROM_HANDLE, 0), nullptr);
    QuarvClose(nullptr);
}

// By name, from a handle inside a bigger file (the self-playing player's
// form) and into caller storage: the frame data is found from where the
// movie starts, and only the library's own file and memory are released.
TEST(Open, WhereTheMovieComesFrom) {
    const uint32_t base = 94720;
    const RawMovie plan = PatternMovie({4000, 5000, 6000, 4000}, 500);
    const Bytes movie = plan.Build(), outer = Cat({Bytes(base, 0x11), movie, Bytes(777, 0x22)});
    for (int mode = 0; mode < 4; ++mode) {  // by name, from a handle, caller storage by name, by handle
        const bool handle = mode % 2, caller = mode >= 2;
        TempFile temp(movie);
        std::optional<MemoryFile> file;
        if (mode) file.emplace(handle ? outer : movie).pos = handle ? base : 0;
        alignas(16) static uint8_t storage[kMovieRecordSize];
        std::memset(storage, 0xEE, sizeof storage);
        handle ? (void)std::memcpy(storage, &MemoryFile::kHandle, 4) : (void)std::strcpy(reinterpret_cast<char*>(storage), MemoryFile::kName);
        const void* arg = caller ? static_cast<const void*>(storage) : handle ? file->handleArg() : temp.path().c_str();
        Movie* m = QuarvOpen(arg, (handle ? uint32_t{OPEN_FROM_HANDLE} : 0u) | (caller ? uint32_t{OPEN_CALLER_RECORD} : 0u), 0);
        ASSERT_NE(m, nullptr) << mode;
        EXPECT_TRUE(!caller || static_cast<void*>(m) == storage) << mode;
        EXPECT_EQ(m->FirstFramePos, (handle ? base : 0) + 500) << mode;
        PlaybackSummary s;  // nothing shown yet: the two slowest frames are 1000 ms at frame 1
        QuarvSummary(m, &s);
        EXPECT_EQ(std::vector<uint32_t>({s.SlowestTime, s.SlowestFrame, s.SecondSlowestTime, s.SecondSlowestFrame, s.FramesDecoded}), std::vector<uint32_t>({1000, 1, 1000, 1, 0}));
        for (int i = 0; i < 5; ++i, QuarvNextFrame(m)) ExpectCurrentRecord(m, plan);
        QuarvClose(m);
        EXPECT_TRUE(!file || file->closes == (mode == 2 ? 1 : 0)) << mode;  // a caller's handle stays open
        EXPECT_TRUE(!caller || storage[0] == 0) << mode;                    // zeroed, not freed
    }
}

// The derived figures and the buffering decision, from the frame sizes: the
// peak second never starts at frame 0, and a movie whose data is at most
// 5/4 of the buffer is preloaded (and its file closed at open).
TEST(Open, FiguresAndBufferingFromTheFrameSizes) {
    const std::vector<uint32_t> forty3000(40, 3000), forty3072(40, 3072);
    // What, sizes, frame rate, extraBuffer, open flags; largest, peak, peak frame, average, read-ahead size (0: preloaded).
    const std::tuple<const char*, std::vector<uint32_t>, int32_t, uint32_t, uint32_t, std::vector<uint32_t>> cases[] = {
        {"shorter than a second", {100, 200, 300, 50}, -6666, 0, 0, {300, 650, 1, 162, 0}},
        {"one window after frame 0", {500, 1, 1, 1}, -33333, 0, 0, {500, 0, 1, 125, 0}},
        {"first of equal windows", {9, 1, 5, 7, 5, 90}, -50000, 0, 0, {90, 12, 3, 19, 0}},
        {"the last window", {9, 1, 1, 5, 5, 90}, -50000, 0, 0, {90, 10, 4, 18, 0}},
        {"no window beats zero", {7, 0, 0, 0, 0, 0}, -50000, 0, 0, {7, 0, 1, 1, 0}},
        {"untimed: one long second", {10, 20, 30}, 0, 0, 0, {30, 60, 1, 20, 0}},
        {"peak capped at a quarter", forty3000, -6666, 0xFFFFFFFFu, 0, {3000, 45000, 2, 3000, 32768}},
        {"untimed takes 12288", forty3000, 0, 0xFFFFFFFFu, 0, {3000, 120000, 1, 3000, 12288}},
        {"two pages at least", forty3000, -6666, 1, 0, {3000, 45000, 2, 3000, 8192}},
        {"whole pages", forty3000, -6666, 8193, 0, {3000, 45000, 2, 3000, 12288}},
        {"just too small to preload", forty3000, -6666, 94208, 0, {3000, 45000, 2, 3000, 94208}},
        {"large enough to preload", forty3000, -6666, 94209, 0, {3000, 45000, 2, 3000, 0}},
        {"exactly four fifths", forty3072, -6666, 98304, 0, {3072, 46080, 2, 3072, 0}},
        {"preload asked for", forty3000, -6666, 0, OPEN_PRELOAD, {3000, 45000, 2, 3000, 0}},
    };
    for (const auto& [what, sizes, frameRate, extra, flags, expect] : cases) {
        RawMovie plan = PatternMovie(sizes, 4096);
        plan.header.FrameRate = frameRate;
        MemoryFile file(plan.Build());
        Movie* m = QuarvOpen(MemoryFile::kName, flags, extra);
        ASSERT_NE(m, nullptr) << what;
        EXPECT_EQ(std::vector<uint32_t>({m->LargestFrame, m->PeakRate, m->PeakFrame, m->AverageFrameSize, m->BufSize}), expect) << what;
        EXPECT_EQ((m->OpenFlags & OPEN_PRELOAD) / OPEN_PRELOAD + file.closes, expect[4] == 0 ? 2u : 0u) << what;
        for (size_t i = 0; i <= sizes.size(); ++i, QuarvNextFrame(m)) ExpectCurrentRecord(m, plan);
        QuarvClose(m);
    }
    EXPECT_FALSE(ChooseBuffering(0xFFFFFFFFu, 6666, 4000000, 0x40000400u).Preload);  // over 1 GB: T x 4 does not wrap
}

// The file's height-scaling bits and the open's override (the Movie's height
// is the one shown: doubled whenever a scaling is in force), and the frame
// rate: QuarvSetFrameRate takes frames per second (a raw FrameRate below 1),
// used only by opens that ask for it.
TEST(Open, ScalingAndFrameRateOverrides) {
    // File flags, open flags, QuarvSetFrameRate; the header's scaling bits, the scaling in force, FrameTime.
    const std::array<int32_t, 6> cases[] = {
        {2, 0, 0, 2, OPEN_Y_INTERLACE, 6666}, {4, 0, 0, 4, OPEN_Y_DOUBLE, 6666}, {6, 0, 15, 6, 0, 6666}, {4, OPEN_Y_INTERLACE, 0, 2, OPEN_Y_INTERLACE, 6666},
        {2, OPEN_Y_DOUBLE, 0, 4, OPEN_Y_DOUBLE, 6666}, {6, OPEN_Y_NONE, 0, 0, 0, 6666}, {0, OPEN_RATE_OVERRIDE, 7, 0, 0, 14285},
        {0, OPEN_RATE_OVERRIDE, 0, 0, 0, 0}, {0, OPEN_RATE_OVERRIDE, -2500, 0, 0, 2500}, {0, OPEN_RATE_OVERRIDE, 40, 0, 0, 2500},
    };
    for (const auto& [fileFlags, openFlags, rate, headerFlags, scaling, frameTime] : cases) {
        RawMovie plan = PatternMovie({100, 100}, 300);
        plan.header.Flags = fileFlags, plan.header.Height = 24;
        MemoryFile file(plan.Build());
        QuarvSetFrameRate(rate);
        Movie* m = QuarvOpen(MemoryFile::kName, openFlags, 0);
        EXPECT_EQ(std::vector<int32_t>({int32_t(m->Header.Flags & 6), int32_t(m->OpenFlags & OPEN_Y_NONE), int32_t(m->Header.Height), int32_t(m->FrameTime)}),
                  std::vector<int32_t>({headerFlags, scaling, scaling ? 48 : 24, frameTime})) << fileFlags << " " << openFlags << " " << rate;
        QuarvClose(m);
    }
    QuarvSetFrameRate(0);
}

// A sound driver that accepts every track and records the flags each open
// was given, in place of the installed one while it lives.
struct FlagsDriver {
    static inline std::vector<uint32_t> openFlags;
    static inline int closes = 0;
    const SoundDriver saved = SoundDriverTable;
    FlagsDriver() {
        openFlags.clear(), closes = 0;
        SoundDriverTable = {[](SoundTrack*, uint32_t flags) { return openFlags.push_back(flags), true; }, [](SoundTrack*) { ++closes; },
                            [](SoundTrack*) { return 0u; }, nullptr, [](SoundTrack*) {}, [](SoundTrack*) {}, [](SoundTrack*) { return true; }, [] {}};
    }
    ~FlagsDriver() { SoundDriverTable = saved; }
};

// Requested tracks are set up lowest first, each driver open seeing the
// flags as they stand; tracks the file lacks are left out, and the open
// still succeeds.
TEST(Open, SoundTracksLowestFirstAndMissingOnesLeftOut) {
    FlagsDriver driver;
    const uint32_t before = OpenTrackCount;
    RawMovie plan = PatternMovie({100, 100}, 300);
    uint32_t* format = plan.header.TrackFormat;  // track 2 has rate 0, track 3 lacks its present bit
    format[1] = kTrackPresent | 8000, format[2] = kTrackPresent, format[3] = kTrackBits16 | 22050, format[5] = kTrackPresent | kTrackBits16 | 22050;
    MemoryFile file(plan.Build());
    Movie* m = QuarvOpen(MemoryFile::kName, OPEN_TRACK1 | OPEN_TRACK2 | OPEN_TRACK3 | OPEN_TRACK5 | OPEN_PAN_CONTROL, 0);
    EXPECT_EQ(std::vector<uint32_t>({m->OpenFlags & OPEN_ALL_TRACKS, uint32_t(m->TimingTrack), OpenTrackCount, m->Track[1] != nullptr, m->Track[5] != nullptr}),
              std::vector<uint32_t>({OPEN_TRACK1 | OPEN_TRACK5, 1, before + 2, 1, 1}));
    EXPECT_EQ(driver.openFlags, (std::vector<uint32_t>{OPEN_PAN_CONTROL | OPEN_PRELOAD, OPEN_PAN_CONTROL | OPEN_PRELOAD | OPEN_TRACK1}));
    QuarvClose(m);
    EXPECT_EQ(OpenTrackCount + driver.closes, before + 2);
}

// The debug log is written only when the profile value's low byte is 1,
// read once per process, with the texts that tools watching it expect. Each
// allocation of the open may fail: the open then fails cleanly (file closed,
// nothing leaked) and the log says which one when it has a text for it.
TEST(Open, DebugLogAndAllocationFailures) {
    const TempFile temp(PatternMovie({100, 100}, 300).Build());
    auto openClose = [&] { QuarvClose(QuarvOpen(temp.path().c_str(), 0, 0)); };
    for (const char* value : {"0", "2", "256", "x", static_cast<const char*>(nullptr)}) EXPECT_EQ(Logged(value, openClose), "") << value;
    EXPECT_EQ(Logged("0", [&] { openClose(), setenv("QUARVEL_PROFILE_QUARVEL_DEBUG", "1", 1), openClose(); }), "");
    Movie* m = nullptr;
    const std::string log = Logged("257", [&] { QuarvClose(m = QuarvOpen(temp.path().c_str(), 0, 0)); }), address = std::to_string(uintptr_t(m));
    EXPECT_EQ(log, "QuarvOpen - file: " + temp.path() + "\r\nQuarvOpen returned: " + address + "\r\nQuarvClose: " + address + "\r\n");
    MemoryFile file(Bytes{'Q', 'V', 'L', '3', 0, 0, 0, 0});
    EXPECT_EQ(Logged("1", [&] { QuarvOpen("/nonexistent/x.qvl", 0, 0), QuarvOpen(file.handleArg(), OPEN_FROM_HANDLE, 0); }),
              "QuarvOpen - file: /nonexistent/x.qvl\r\nCouldn't open the Quarvel file\r\nQuarvOpen - file handle: 77\r\nWasn't a Quarvel file\r\n");
    file.bytes = PatternMovie({3000, 3000, 3000, 3000, 3000}, 4096).Build();
    const std::vector<std::string> texts = {"Couldn't allocate Quarv structure\r\n", "Couldn't allocate track table\r\n", "",
                                            "Couldn't allocate input buffer\r\n", "", "Couldn't allocate I/O buffer\r\n"};
    for (bool preload : {false, true})
        for (size_t k = 0; k <= texts.size() - preload; ++k) {  // streamed, then preloaded (no read-ahead buffer)
            const int closes = file.closes;
            const std::string log = Logged("1", [&] {
                SetAllocFailCountdown(int32_t(k));
                m = QuarvOpen(MemoryFile::kName, 0, preload ? 0xFFFFFFF0u : 0);
                SetAllocFailCountdown(-1);
                QuarvClose(m);
            });
            if (k == texts.size() - preload) {  // every allocation given
                EXPECT_NE(m, nullptr);
                continue;
            }
            EXPECT_TRUE(m == nullptr && file.closes == closes + 1) << preload << " " << k;
            EXPECT_EQ(log, std::string("QuarvOpen - file: ") + MemoryFile::kName + "\r\n" + texts[k + (preload && k >= 4)]) << preload << " " << k;
        }
}

}  // namespace
