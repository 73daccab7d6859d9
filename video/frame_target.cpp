// Binding a caller's pixel buffer to a movie (QuarvToBuffer).
#include <cstring>

#include "movie/movie_internal.h"
#include "video/frame_target.h"

namespace {

// Beyond these the movie cannot be a real one, and the sizes and steps below
// would no longer fit their 32-bit fields.
constexpr uint64_t kMaxSide = 32768;
constexpr uint64_t kMaxPixels = uint64_t{1} << 26;

struct Geometry {
    uint32_t width, rows;     // movie pixels, rows decoded
    uint32_t bpp;             // 1 or 2
    uint8_t format;           // pixel format byte
    bool doubled;
    int64_t lineStep;         // S, before the bottom-up sign
    uint32_t lastLine;        // L: lines per block band - 1
    uint64_t lines;           // buffer lines the movie covers
    uint32_t size;            // allocation size of the target
};

bool WorkOut(const Movie* m, int32_t left, int32_t top, int32_t pitch, uint32_t bufferHeight, uint32_t flags,
             Geometry* g) {
    const uint32_t scaling = m->OpenFlags & OPEN_Y_NONE;
    const bool interlaced = scaling == OPEN_Y_INTERLACE;
    g->doubled = scaling == OPEN_Y_DOUBLE;
    g->width = m->Header.Width;
    g->rows = (interlaced || g->doubled) ? m->Header.Height / 2 : m->Header.Height;
    g->format = (flags & 0xC0000000u) ? static_cast<uint8_t>(flags >> 24) : 0;
    g->bpp = g->format ? 2 : 1;
    g->lineStep = static_cast<int64_t>(pitch) * (interlaced ? 2 : 1);
    g->lastLine = g->doubled ? 7 : 3;
    g->lines = static_cast<uint64_t>(g->rows) * ((interlaced || g->doubled) ? 2 : 1);

    if (g->width > kMaxSide || g->rows > kMaxSide) return false;
    const uint64_t pixels = static_cast<uint64_t>(g->width) * g->rows;
    if (pixels > kMaxPixels) return false;
    // The movie has to lie inside the buffer: the decoder does not clip.
    if (pitch <= 0 || left < 0 || top < 0) return false;
    if ((static_cast<uint64_t>(left) + g->width) * g->bpp > static_cast<uint64_t>(pitch)) return false;
    if (static_cast<uint64_t>(top) + g->lines > bufferHeight) return false;
    if (static_cast<uint64_t>(g->lineStep) * (g->lastLine + 1) + uint64_t{g->width} * g->bpp > 0x7FFFFFFF) return false;

    // ChangeMap room: the frame's groups of 16 blocks and a few more.
    uint64_t mapRoom = (pixels / 256 + 32 + 35) & ~uint64_t{3};
    uint64_t size = sizeof(FrameTarget) + mapRoom + (g->format ? 512 : 0);
    g->size = static_cast<uint32_t>(size);
    return true;
}

void ReleaseTarget(Movie* m) {
    MovieFree(m, m->FrameTarget, m->TargetSize);
    m->FrameTarget = nullptr;
    m->TargetSize = 0;
    m->TargetColorTable = nullptr;
}

}  // namespace

void QuarvToBuffer(Movie* movie, int32_t left, int32_t top, int32_t pitch, uint32_t bufferHeight, void* buffer,
                   uint32_t flags) {
    if (!movie) return;
    Geometry g;
    if (!buffer || !WorkOut(movie, left, top, pitch, bufferHeight, flags, &g)) {
        ReleaseTarget(movie);
        return;
    }

    FrameTarget* old = movie->FrameTarget;
    FrameTarget* t = old;
    uint32_t size = movie->TargetSize;
    if (!old || old->Kind != kTargetBuffer || size < g.size) {
        t = static_cast<FrameTarget*>(MovieAllocZero(movie, g.size));
        if (!t) {
            ReleaseTarget(movie);
            return;
        }
        size = g.size;
    }

    // The colour table sits in the last 512 bytes; it moves with the target.
    uint16_t* table = g.format ? reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(t) + size - 512) : nullptr;
    if (table && movie->TargetColorTable && table != movie->TargetColorTable)
        std::memmove(table, movie->TargetColorTable, 512);
    if (t != old) MovieFree(movie, old, movie->TargetSize);
    movie->FrameTarget = t;
    movie->TargetSize = size;
    movie->TargetColorTable = table;
    movie->TargetLeft = left;
    movie->TargetTop = top;

    const bool bottomUp = (flags & kBufferBottomUp) != 0;
    const int32_t S = static_cast<int32_t>(g.lineStep);
    const int32_t L = static_cast<int32_t>(g.lastLine);
    const int32_t bpp = static_cast<int32_t>(g.bpp);
    const int32_t widthBytes = static_cast<int32_t>(g.width) * bpp;
    uint8_t* base = static_cast<uint8_t*>(buffer);

    t->Kind = kTargetBuffer;
    t->Doubled = g.doubled ? 1 : 0;
    t->PixelFormat = g.format;
    t->BlocksPerRow = g.width / 4;
    t->BlockRows = g.rows / 4;
    t->Width = g.width;
    t->Rows = g.rows;
    if (!bottomUp) {
        t->Start = base + static_cast<ptrdiff_t>(top) * pitch + static_cast<ptrdiff_t>(left) * bpp;
        t->NextBlockStep = L * S - 4 * bpp;
        t->FillStep = L * S;
        t->LineStep = S;
        t->RowStep = (L + 1) * S - widthBytes;
    } else {
        t->Start = base + static_cast<ptrdiff_t>(bufferHeight - static_cast<uint32_t>(top) - 1) * pitch +
                   static_cast<ptrdiff_t>(left) * bpp;
        t->NextBlockStep = -(L * S + 4 * bpp);
        t->FillStep = -(L * S);
        t->LineStep = -S;
        t->RowStep = -(L + 1) * S - widthBytes;
    }
    t->MapRoom = size - static_cast<uint32_t>(sizeof(FrameTarget)) - (table ? 512u : 0u);
}
