// The rectangles a decoded frame changed (QuarvToBufferNext).
#include "movie/movie_internal.h"
#include "video/frame_target.h"

// ChangeMap byte g covers 64 pixels of one band of 4 rows; bytes run on from
// one band into the next, so a byte may straddle the right edge. Spans are
// runs of set bytes, cut at the band edges. The band width is counted in whole
// blocks: the map knows nothing of the columns past the last block.
bool NextChangeSpan(FrameTarget* t, ChangeSpanOut* span) {
    if (!t || t->IterDone) return false;
    const uint32_t W = t->BlocksPerRow * 4;
    const uint32_t R = t->BlockRows * 4;
    const uint32_t groups = t->Groups() < t->MapRoom ? t->Groups() : t->MapRoom;
    const uint8_t* map = t->ChangeMap();
    if (!t->IterStarted) {
        t->IterStarted = 1;
        t->IterContinues = 0;
        t->IterX = t->IterY = t->IterPos = 0;
    }
    auto finish = [&]() {
        t->IterDone = 1;
        return false;
    };
    if (W == 0) return finish();

    uint32_t x = t->IterX, y = t->IterY, pos = t->IterPos;
    uint32_t spanX;
    if (t->IterContinues) {
        // The last span's byte ran past the right edge: its overshoot x starts
        // this band.
        if (y >= R) return finish();
        if (x >= W) {  // narrow movies: the byte covers this whole band too
            *span = {0, y, W, 4};
            t->IterX = x - W;
            t->IterY = y + 4;
            t->IterContinues = t->IterX > 0;
            return true;
        }
        t->IterContinues = 0;
        spanX = 0;
    } else {
        for (;;) {
            if (y >= R || pos >= groups) return finish();
            if (map[pos]) break;
            ++pos;
            x += 64;
            while (x >= W) {
                x -= W;
                y += 4;
            }
        }
        spanX = x;
    }
    // Extend over following set bytes; the span ends at the right edge.
    while (pos < groups && map[pos]) {
        ++pos;
        x += 64;
        if (x >= W) {
            *span = {spanX, y, W - spanX, 4};
            t->IterX = x - W;
            t->IterY = y + 4;
            t->IterPos = pos;
            t->IterContinues = t->IterX > 0;
            return true;
        }
    }
    *span = {spanX, y, x - spanX, 4};
    t->IterX = x;
    t->IterY = y;
    t->IterPos = pos;
    return true;
}

namespace {

enum : uint32_t { kIdle = 0, kNewFrame = 1, kInProgress = 2, kFinished = 3 };

struct Box {
    int64_t left, top, right, bottom;
};

bool TakeSpan(Movie* m, Box* b) {
    ChangeSpanOut s;
    if (!NextChangeSpan(m->FrameTarget, &s)) return false;
    m->ChangeSpan = {static_cast<int32_t>(s.x), static_cast<int32_t>(s.y), static_cast<int32_t>(s.width),
                     static_cast<int32_t>(s.height)};
    *b = {s.x, s.y, static_cast<int64_t>(s.x) + s.width, static_cast<int64_t>(s.y) + s.height};
    return true;
}

int64_t Area(const Box& b) { return (b.right - b.left) * (b.bottom - b.top); }

// One rectangle of changed spans, in buffer coordinates (left, top, right,
// bottom). False when the frame has nothing (more) to give.
bool Gather(Movie* m, uint32_t mode, int32_t out[4]) {
    Box cur;
    if (m->FrameDecoded == kFinished) {
        m->FrameDecoded = kIdle;
        return false;
    }
    if (m->FrameDecoded == kNewFrame) {
        if (!TakeSpan(m, &cur)) {
            if (m->NewPalette) {
                // A new palette changes every pixel on screen.
                out[0] = out[1] = out[2] = out[3] = 0;
                m->FrameDecoded = kFinished;
                return true;
            }
            m->FrameDecoded = kIdle;
            return false;
        }
        m->FrameDecoded = kInProgress;
    } else {
        const QuarvRect& s = m->ChangeSpan;
        cur = {s.x, s.y, static_cast<int64_t>(s.x) + s.width, static_cast<int64_t>(s.y) + s.height};
    }

    Box r = cur;
    int64_t budget = Area(cur) * 5 / 4;
    for (;;) {
        Box next;
        if (!TakeSpan(m, &next)) {
            m->FrameDecoded = kFinished;
            break;
        }
        Box merged{next.left < r.left ? next.left : r.left, r.top, next.right > r.right ? next.right : r.right,
                   next.bottom};
        if (mode != 1) {
            budget += Area(next) * 5 / 4;
            if (Area(merged) > budget) break;  // `next` starts the following rectangle
        }
        r = merged;
    }

    const FrameTarget* t = m->FrameTarget;
    const uint32_t scaling = m->OpenFlags & OPEN_Y_NONE;
    if (scaling == OPEN_Y_INTERLACE || scaling == OPEN_Y_DOUBLE) {
        r.top *= 2;
        r.bottom *= 2;
    }
    // Aligned to 8 pixels on the left and widened to a multiple of 8, but
    // never beyond the movie's own area.
    int64_t L = r.left;
    int64_t width = r.right - r.left;
    int64_t x = L + m->TargetLeft;
    const int64_t down = x & ~int64_t{7};
    if (x != down && m->TargetLeft < down) {
        width += x - down;
        L -= x - down;
        x = down;
    }
    const int64_t up = (width + 7) & ~int64_t{7};
    const int64_t movieWidth = t ? t->Width : 0;
    if (width != up && movieWidth - L > up) width = up;
    out[0] = static_cast<int32_t>(x);
    out[1] = static_cast<int32_t>(m->TargetTop + r.top);
    out[2] = static_cast<int32_t>(x + width);
    out[3] = static_cast<int32_t>(m->TargetTop + r.bottom);
    return true;
}

bool Touches(const int32_t* a, const int32_t* b) {
    if (a[0] == b[0] && a[2] == b[2] && (a[1] == b[3] || a[3] == b[1])) return true;
    if (a[1] == b[1] && a[3] == b[3] && (a[0] == b[2] || a[2] == b[0])) return true;
    return false;
}

void RemoveAt(Movie* m, uint32_t i) {
    for (uint32_t k = i + 1; k < m->PendingCount; ++k)
        for (int c = 0; c < 4; ++c) m->PendingRects[k - 1][c] = m->PendingRects[k][c];
    --m->PendingCount;
}

// Merges rectangle i with a pending neighbour of the same extent, again and
// again while the grown rectangle has such a neighbour.
void MergePending(Movie* m, uint32_t i) {
    for (;;) {
        uint32_t j = 0;
        while (j < m->PendingCount && (j == i || !Touches(m->PendingRects[j], m->PendingRects[i]))) ++j;
        if (j == m->PendingCount) return;
        int32_t* a = m->PendingRects[j];
        const int32_t* b = m->PendingRects[i];
        if (b[0] < a[0]) a[0] = b[0];
        if (b[1] < a[1]) a[1] = b[1];
        if (b[2] > a[2]) a[2] = b[2];
        if (b[3] > a[3]) a[3] = b[3];
        RemoveAt(m, i);
        i = j > i ? j - 1 : j;
    }
}

}  // namespace

uint32_t QuarvToBufferNext(Movie* movie, uint32_t mode) {
    if (!movie) return 0;
    if (movie->CopyStart == 0) {
        movie->CopyStart = NowMs();
        if (movie->DecodeStart != 0) {
            movie->DecodeTime += movie->CopyStart - movie->DecodeStart;
            movie->DecodeStart = 0;
        }
    }
    if (movie->PendingCount > 4) movie->PendingCount = 4;
    if (movie->FrameDecoded != kIdle) {
        if (mode == 2) return 0;
        // Rectangles still pending from an earlier call come out first; the
        // list never holds more than its 4 places.
        while (movie->PendingCount < 4) {
            int32_t r[4];
            if (!Gather(movie, mode, r)) break;
            const uint32_t i = movie->PendingCount++;
            for (int c = 0; c < 4; ++c) movie->PendingRects[i][c] = r[c];
            MergePending(movie, i);
        }
    }
    if (movie->PendingCount == 0) return 0;
    const int32_t* r = movie->PendingRects[0];
    movie->LastRect = {r[0], r[1], r[2] - r[0], r[3] - r[1]};
    RemoveAt(movie, 0);
    return 1;
}
