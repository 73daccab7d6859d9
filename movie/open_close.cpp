// QuarvOpen and QuarvClose, the per-movie accounting allocator and the
// library's debug log.
#include "movie/open_close.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "common/aligned_alloc.h"
#include "common/platform.h"
#include "movie/container.h"
#include "movie/movie_internal.h"
#include "movie/sequence.h"
#include "movie/sound_track.h"
#include "movie/stream.h"
#include "video/decode_tables.h"

namespace {

// 0 until read; then the profile value ORed with 0x1000, so that a profile
// value of 0 still counts as read.
int32_t g_debug_flag = 0;

void ReadDebugFlagOnce() {
    if (g_debug_flag == 0) g_debug_flag = ProfileInt("Quarvel", "Debug", 0) | 0x1000;
}

// What an open has taken so far, for unwinding on failure.
struct OpenState {
    QvFile file = kNoFile;
    bool callerHandle = false;
    bool callerRecord = false;
    Movie* movie = nullptr;
};

// Bytes the accounting allocator has handed out and not had back, all
// movies of the process together.
size_t g_bytes_held = 0;

// Sizes of the blocks a movie owns, as they were allocated.
uint32_t TableBlockBytes(const Movie* m) { return 5 * m->TableEntries + 4; }
uint64_t DecodeTablesBytes(const MovieHeader& h) {
    return uint64_t{h.MapTreeSize} + h.ColorTreeSize + h.FullTreeSize + h.TypeTreeSize + DecodeTablesFixedSize();
}

// Gives back the blocks the record owns (each if present), newest first.
void FreeMovieBlocks(Movie* m) {
    MovieFree(m, m->FrameTarget, m->TargetSize);
    m->FrameTarget = nullptr;
    MovieFree(m, m->FrameBuffer, m->FrameBufferSize + 8);
    m->FrameBuffer = nullptr;
    MovieFree(m, m->BufStart, m->BufSize + kPageBytes);
    m->BufStart = nullptr;
    MovieFree(m, m->DecodeTables, static_cast<uint32_t>(DecodeTablesBytes(m->Header)));
    m->DecodeTables = nullptr;
    MovieFree(m, m->FrameTypesPtr, TableBlockBytes(m));
    m->FrameTypesPtr = nullptr;
}

// Frees the blocks taken so far in reverse order, then the record unless it
// is the caller's, and closes the file unless it is the caller's.
Movie* FailOpen(OpenState& st, const char* message) {
    if (message) LogText(message);
    if (Movie* m = st.movie) {
        FreeMovieBlocks(m);
        if (!st.callerRecord) {
            std::memset(m, 0, sizeof *m);
            MovieFree(nullptr, m, sizeof(Movie));
        }
    }
    if (st.file != kNoFile && !st.callerHandle) FileClose(st.file);
    return nullptr;
}

const char kNotQuarvel[] = "Wasn't a Quarvel file\r\n";

}  // namespace

void ResetDebugFlag() { g_debug_flag = 0; }

bool DebugLogOn() {
    ReadDebugFlagOnce();
    return (g_debug_flag & 0xFF) == 1;
}

void LogText(const char* text) {
    if (DebugLogOn()) DebugOut(text);
}

void LogNumber(const char* prefix, int64_t value) {
    if (!DebugLogOn()) return;
    char digits[32];
    std::snprintf(digits, sizeof digits, "%lld\r\n", static_cast<long long>(value));
    DebugOut(prefix);
    DebugOut(digits);
}

void* MovieAlloc(Movie* movie, uint32_t size) {
    void* p = AlignedAlloc(size);
    if (!p) return nullptr;
    g_bytes_held += size;
    if (movie) {
        movie->MemUsed += size;
        movie->PeakMemUsed = std::max(movie->PeakMemUsed, movie->MemUsed);
    }
    return p;
}

void MovieFree(Movie* movie, void* p, uint32_t size) {
    if (!p) return;
    AlignedFree(p);
    g_bytes_held -= size;
    if (movie) movie->MemUsed -= size;
}

size_t MovieBytesHeld() { return g_bytes_held; }

void* MovieAllocZero(Movie* movie, uint32_t size) {
    void* p = MovieAlloc(movie, size);
    if (p) std::memset(p, 0, size);
    return p;
}

Movie* QuarvOpen(const void* nameOrHandle, uint32_t flags, uint32_t extraBuffer) {
    if (!nameOrHandle) return nullptr;
    ReadDebugFlagOnce();
    const uint32_t start = NowMs();
    OpenState st;
    st.callerRecord = (flags & OPEN_CALLER_RECORD) != 0;

    // The file, and the position the movie starts at.
    uint32_t base = 0;
    if (flags & OPEN_FROM_HANDLE) {
        if (st.callerRecord) {
            int32_t word;
            std::memcpy(&word, nameOrHandle, 4);
            st.file = static_cast<QvFile>(word);
        } else {
            st.file = static_cast<QvFile>(reinterpret_cast<intptr_t>(nameOrHandle));
        }
        st.callerHandle = true;
        LogNumber("QuarvOpen - file handle: ", st.file);
        if (st.file == kNoFile) return FailOpen(st, "Couldn't open the Quarvel file\r\n");
        base = FileSeek(st.file, 0, kSeekCurrent);
    } else {
        const char* name = static_cast<const char*>(nameOrHandle);
        LogText("QuarvOpen - file: ");
        LogText(name);
        LogText("\r\n");
        st.file = FileOpenRead(name);
        if (st.file == kNoFile) return FailOpen(st, "Couldn't open the Quarvel file\r\n");
    }
    // The file's size bounds every table and buffer the open allocates.
    const uint32_t end = FileSeek(st.file, 0, kSeekEnd);
    if (base == 0xFFFFFFFFu || end == 0xFFFFFFFFu || FileSeek(st.file, static_cast<int32_t>(base), kSeekBegin) != base)
        return FailOpen(st, "Couldn't open the Quarvel file\r\n");
    const uint64_t fileBytes = end > base ? end - base : 0;

    // The record.
    Movie* m = st.callerRecord ? static_cast<Movie*>(const_cast<void*>(nameOrHandle))
                               : static_cast<Movie*>(MovieAlloc(nullptr, sizeof(Movie)));
    if (!m) return FailOpen(st, "Couldn't allocate Quarv structure\r\n");
    std::memset(m, 0, sizeof *m);
    st.movie = m;
    m->MemUsed = m->PeakMemUsed = sizeof(Movie);
    m->FileHandle = st.file;
    m->FirstFramePos = base;
    m->CallerRecord = st.callerRecord;
    m->CallerHandle = st.callerHandle;
    m->TimingTrack = -1;
    if (flags & OPEN_SIMULATE_RATE) m->SimulatedRate = SimulatedReadSpeed();

    // The header; a short file leaves the magic cleared, and missing fields 0.
    std::memset(m->Header.Magic, 0, 4);
    ReadStream(m, reinterpret_cast<uint8_t*>(&m->Header), kHeaderBytes);
    if (!HeaderMagicOk(m->Header)) return FailOpen(st, kNotQuarvel);

    if (flags & OPEN_RATE_OVERRIDE) m->Header.FrameRate = FrameRateOverride();
    m->FrameTime = FrameTimeFromRate(m->Header.FrameRate);
    const uint32_t fps = FramesPerSecond(m->FrameTime);

    // A movie needs at least one frame, and its tables and tree block must
    // be in the file: counts read from it are not trusted any further.
    const MovieHeader& h = m->Header;
    const uint64_t n = TableEntryCount(h);
    const uint64_t dataStart = kHeaderBytes + 5 * n + h.TreeBlockSize;
    if (h.Frames == 0 || dataStart > fileBytes) return FailOpen(st, kNotQuarvel);
    // Each tree node takes at least one bit of the tree block, and each
    // tree's size is 4 bytes per node plus three spare nodes.
    const uint64_t tablesBytes = DecodeTablesBytes(h);
    const uint64_t treeBytes = tablesBytes - DecodeTablesFixedSize();
    const uint64_t scratchBytes = std::max<uint64_t>((h.TreeBlockSize + uint64_t{4099}) & ~uint64_t{3}, 8192);
    if (treeBytes > 32 * static_cast<uint64_t>(h.TreeBlockSize) + 48 || tablesBytes > 0xFFFFFFF0u ||
        scratchBytes > 0xFFFFFFF0u)
        return FailOpen(st, kNotQuarvel);
    m->TableEntries = static_cast<uint32_t>(n);

    // Frame tables: types, then the sizes right after them (file order is
    // sizes first).
    auto* table = static_cast<uint8_t*>(MovieAllocZero(m, TableBlockBytes(m)));
    if (!table) return FailOpen(st, "Couldn't allocate track table\r\n");
    m->FrameTypesPtr = table;
    m->FrameSizesPtr = reinterpret_cast<uint32_t*>(table + n);
    ReadStream(m, table + n, static_cast<uint32_t>(4 * n));
    ReadStream(m, table, static_cast<uint32_t>(n));

    // Decoding tables from the tree block.
    m->DecodeTables = static_cast<DecodeTables*>(MovieAllocZero(m, static_cast<uint32_t>(tablesBytes)));
    if (!m->DecodeTables) return FailOpen(st, nullptr);
    const uint32_t scratchSize = static_cast<uint32_t>(scratchBytes);
    auto* scratch = static_cast<uint8_t*>(MovieAllocZero(m, scratchSize));
    if (!scratch) return FailOpen(st, "Couldn't allocate input buffer\r\n");
    ReadStream(m, scratch + 4096, h.TreeBlockSize);
    const uint32_t treeSizes[4] = {h.MapTreeSize, h.ColorTreeSize, h.FullTreeSize, h.TypeTreeSize};
    BuildDecodeTables(scratch, scratchSize, m->DecodeTables, treeSizes);
    // All of it goes back: it is at least 8192 bytes and rounded, so the
    // tree block and its 4096-byte head would leave a few bytes counted.
    MovieFree(m, scratch, scratchSize);
    m->FirstFramePos = static_cast<uint32_t>(base + dataStart);
    const uint64_t remaining = fileBytes - dataStart;

    // Figures from the sizes.
    const FrameStats stats = ComputeFrameStats(table + n, m->TableEntries, fps);
    // A frame record that cannot be in the file, or a total no buffer can
    // hold, is not a movie.
    if (stats.Largest > remaining || stats.Total > 0xFFFFFFF0u) return FailOpen(st, kNotQuarvel);
    const uint32_t total = static_cast<uint32_t>(stats.Total);
    m->TotalFrameBytes = total;
    m->LargestFrame = stats.Largest;
    m->PeakRate = stats.PeakRate;
    m->PeakFrame = stats.PeakFrame;
    m->AverageFrameSize = stats.Average;

    // Preload or stream. A file that ends before its frame data does cannot
    // be preloaded: it is streamed, and stops where the file ends.
    BufferChoice choice = ChooseBuffering(extraBuffer, m->FrameTime, m->PeakRate, total);
    if (flags & OPEN_PRELOAD) choice.Preload = true;
    if (choice.Preload && total > remaining) {
        choice.Preload = false;
        flags &= ~static_cast<uint32_t>(OPEN_PRELOAD);
    }
    if (!choice.Preload) {
        // No more read-ahead than the file could fill.
        const uint64_t cap = std::max<uint64_t>(8192, ((remaining + 4095) & ~uint64_t{4095}) + 4096);
        if (choice.BufSize > cap) choice.BufSize = static_cast<uint32_t>(cap);
        m->FrameBufferSize = m->LargestFrame;
        m->BufSize = choice.BufSize;
        m->BufStart = static_cast<uint8_t*>(MovieAlloc(m, choice.BufSize + kPageBytes));
        if (!m->BufStart) return FailOpen(st, nullptr);
        m->BufRead = m->BufWrite = m->BufStart;
        m->BufEnd = m->BufStart + m->BufSize;
    } else {
        flags |= OPEN_PRELOAD;
        m->FrameBufferSize = total;
    }

    // The 8 bytes past the data give the bit reader room to look ahead.
    m->FrameBuffer = static_cast<uint8_t*>(MovieAlloc(m, m->FrameBufferSize + 8));
    if (!m->FrameBuffer) return FailOpen(st, "Couldn't allocate I/O buffer\r\n");
    if (choice.Preload)
        std::memset(m->FrameBuffer + total, 0, 8);
    else
        std::memset(m->FrameBuffer, 0, m->FrameBufferSize + 8);
    m->StreamPos = m->FirstFramePos;

    if (choice.Preload) {
        const uint32_t got = ReadStream(m, m->FrameBuffer, total);
        if (got < total) {
            // The file shrank under us: what is missing reads as zeros.
            std::memset(m->FrameBuffer + got, 0, total - got);
            m->ReadError = 1;
        }
        if (!st.callerHandle) FileClose(st.file);
        st.file = kNoFile;
        m->FileHandle = kNoFile;
        m->FrameData = m->FrameBuffer;
    } else {
        if (m->FirstFramePos % kPageBytes) {
            const uint32_t got = FileRead(m->FileHandle, m->BufStart, kPageBytes - m->FirstFramePos % kPageBytes);
            m->BufWrite += got;
            m->BufCount += got;
        }
        ReadFrame(m);
    }

    m->PaletteFrame = -1;
    SplitFrame(m);
    m->TimingTrack = -1;

    // Sound tracks, lowest first; one that cannot be set up is left out.
    m->OpenFlags = flags & ~0x3FE000u;
    for (int t = 0; t < kMaxTracks; ++t) {
        if (!(flags & (OPEN_TRACK0 << t))) continue;
        m->Track[t] = static_cast<SoundTrack*>(MovieAllocZero(m, sizeof(SoundTrack)));
        if (!m->Track[t]) continue;
        if (!SetUpTrack(m, t)) {
            MovieFree(m, m->Track[t], sizeof(SoundTrack));
            m->Track[t] = nullptr;
            continue;
        }
        m->OpenFlags |= OPEN_TRACK0 << t;
        if (m->TimingTrack == -1) m->TimingTrack = t;
    }

    m->NextDue = 0xFFFFFFFFu;
    if (flags & OPEN_FILL_BUFFER)
        while (ReadAhead(m) != 0) {
        }

    // Height scaling: the caller's choice rewrites the header's.
    switch (flags & OPEN_Y_NONE) {
        case OPEN_Y_INTERLACE: m->Header.Flags = (m->Header.Flags | kHeaderYInterlace) & ~kHeaderYDouble; break;
        case OPEN_Y_DOUBLE: m->Header.Flags = (m->Header.Flags | kHeaderYDouble) & ~kHeaderYInterlace; break;
        case OPEN_Y_NONE: m->Header.Flags &= ~(kHeaderYInterlace | kHeaderYDouble); break;
        default: break;
    }
    const uint32_t scaling = m->Header.Flags & (kHeaderYInterlace | kHeaderYDouble);
    if (scaling == kHeaderYInterlace) m->OpenFlags |= OPEN_Y_INTERLACE;
    if (scaling == kHeaderYDouble) m->OpenFlags |= OPEN_Y_DOUBLE;
    if (m->OpenFlags & OPEN_Y_NONE) m->Header.Height *= 2;

    m->OpenTime = NowMs() - start;
    m->ReadTime += m->BgReadTime;
    m->BytesRead += m->BgBytesRead;
    m->BgReadTime = 0;
    m->OpenReadTime = m->ReadTime;

    LogNumber("QuarvOpen returned: ", static_cast<int64_t>(reinterpret_cast<uintptr_t>(m)));
    return m;
}

void QuarvClose(Movie* m) {
    if (!m) return;
    LogNumber("QuarvClose: ", static_cast<int64_t>(reinterpret_cast<uintptr_t>(m)));
    CloseTracks(m);
    if (m->FileHandle != kNoFile && !m->CallerHandle) FileClose(m->FileHandle);
    FreeMovieBlocks(m);
    const bool callerRecord = m->CallerRecord != 0;
    std::memset(m, 0, sizeof *m);
    if (!callerRecord) MovieFree(nullptr, m, sizeof(Movie));
}
