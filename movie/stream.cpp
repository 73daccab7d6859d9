#include "movie/stream.h"

#include <algorithm>
#include <cstring>

#include "common/platform.h"
#include "movie/container.h"
#include "movie/movie_internal.h"

namespace {

uint32_t g_simulated_speed = 0;

// Holds the caller until the bytes read would have taken their time at the
// simulated speed.
void Throttle(const Movie* m, uint32_t t0, uint32_t bytes) {
    if (m->SimulatedRate == 0) return;
    const uint32_t due = t0 + static_cast<uint32_t>(static_cast<uint64_t>(bytes) * 1000u / m->SimulatedRate);
    for (;;) {
        const int32_t left = static_cast<int32_t>(due - NowMs());
        if (left <= 0) break;
        SleepMs(left > 2 ? 1 : 0);
    }
}

uint32_t RoundUpPage(uint32_t v) { return static_cast<uint32_t>((static_cast<uint64_t>(v) + kPageBytes - 1) & ~uint64_t{kPageBytes - 1}); }

// Once the read position passes the wrap mark it continues at the front.
// An emptied buffer also restarts its writes there: a write position left at
// the old end would put the next page where nothing reads it.
void WrapReadIfAtEnd(Movie* m) {
    if (m->BufRead >= m->BufEnd) {
        m->BufRead = m->BufStart + (m->BufRead - m->BufEnd);
        m->BufEnd = m->BufStart + m->BufSize;
        if (m->BufCount == 0) m->BufWrite = m->BufRead;
    }
}

}  // namespace

void QuarvSimulateRate(uint32_t bytesPerSecond) { g_simulated_speed = bytesPerSecond; }
uint32_t SimulatedReadSpeed() { return g_simulated_speed; }

uint32_t ReadStream(Movie* m, uint8_t* dest, uint32_t count) {
    const uint32_t t0 = NowMs();
    uint32_t fileBytes = 0;
    uint32_t delivered = 0;
    if (!m->BufStart) {
        delivered = fileBytes = count ? FileRead(m->FileHandle, dest, count) : 0;
    } else {
        for (;;) {
            // Copy out what is buffered.
            while (m->BufCount > 0 && count > 0) {
                WrapReadIfAtEnd(m);
                const uint32_t contiguous = static_cast<uint32_t>(m->BufEnd - m->BufRead);
                const uint32_t k = std::min({contiguous, count, m->BufCount});
                std::memcpy(dest, m->BufRead, k);
                m->BufCount -= k;
                m->StreamPos += k;
                m->BufRead += k;
                WrapReadIfAtEnd(m);
                delivered += k;
                count -= k;
                dest += k;
            }
            if (count == 0) break;
            ServiceIfTracksOpen();
            // Large deliveries go straight to the destination, whole pages.
            while (count > 4096) {
                const uint32_t r = count > 16384 ? 16384u : count & ~(kPageBytes - 1);
                const uint32_t got = FileRead(m->FileHandle, dest, r);
                count -= got;
                dest += got;
                delivered += got;
                fileBytes += got;
                m->StreamPos += got;
                ServiceIfTracksOpen();
                if (got < r && count != 0) {
                    m->ReadError = 1;
                    break;
                }
            }
            if (count == 0) break;
            // The rest comes through the buffer, whose read ends on a page
            // boundary; the read never asks for more than the buffer holds.
            const uint32_t r = std::min(RoundUpPage(count), m->BufSize);
            const uint32_t got = FileRead(m->FileHandle, m->BufStart, r);
            m->BufRead = m->BufStart;
            m->BufEnd = m->BufStart + m->BufSize;
            m->BufWrite = m->BufStart + got;
            m->BufCount = got;
            fileBytes += got;
            if (got == r || got >= count) continue;
            m->ReadError = 1;
            break;
        }
    }
    m->BytesRead += fileBytes;
    Throttle(m, t0, fileBytes);
    m->ReadTime += NowMs() - t0;
    return delivered;
}

void ReadFrame(Movie* m) {
    if (!m->BufStart) return;
    m->FrameData = m->FrameBuffer;
    m->FrameSize = std::min(FrameSizeAt(m, m->FrameNum), m->FrameBufferSize);
    ReadStream(m, m->FrameBuffer, m->FrameSize);
}

uint32_t ReadAhead(Movie* m) {
    if (!m->BufStart || m->FrameNum >= m->Header.Frames) return 0;
    if (static_cast<int32_t>(m->BufSize - m->BufCount) < static_cast<int32_t>(kPageBytes)) return 0;
    const uint32_t t0 = NowMs();
    const uint32_t got = FileRead(m->FileHandle, m->BufWrite, kPageBytes);
    m->BufCount += got;
    m->BufWrite += got;
    if (m->BufWrite > m->BufEnd) {
        // The page after the nominal end took the overflow; the next write
        // starts over at the front.
        m->BufEnd = m->BufWrite;
        m->BufWrite = m->BufStart;
    }
    m->BufHighWater = std::max(m->BufHighWater, m->BufCount);
    m->BgBytesRead += got;
    Throttle(m, t0, got);
    m->BgReadTime += NowMs() - t0;
    return got;
}

void PositionStream(Movie* m, uint32_t filePos) {
    const uint64_t pos = filePos;
    if (pos >= m->StreamPos && pos <= static_cast<uint64_t>(m->StreamPos) + m->BufCount) {
        const uint32_t d = filePos - m->StreamPos;
        m->BufCount -= d;
        m->BufRead += d;
        WrapReadIfAtEnd(m);
    } else {
        m->BufRead = m->BufWrite = m->BufStart;
        m->BufEnd = m->BufStart + m->BufSize;
        m->BufCount = 0;
        // A file the platform cannot seek to this position would hand us
        // the wrong bytes: stop the movie instead.
        if (FileSeek(m->FileHandle, static_cast<int32_t>(filePos), kSeekBegin) != filePos) m->ReadError = 1;
        if (filePos % kPageBytes) {
            // The one unaligned read, so that later reads start on a page.
            uint8_t* const start = m->BufStart;
            m->BufStart = nullptr;
            const uint32_t got = ReadStream(m, start, kPageBytes - filePos % kPageBytes);
            m->BufStart = start;
            m->BufWrite = start + got;
            m->BufCount = got;
        }
    }
    m->StreamPos = filePos;
    ReadFrame(m);
}
