#include "movie/container.h"

#include <algorithm>

bool HeaderMagicOk(const MovieHeader& header) { return std::memcmp(header.Magic, "QVL2", 4) == 0; }

uint32_t FrameTimeFromRate(int32_t frameRate) {
    // Unsigned arithmetic: a nonsense rate gives a nonsense duration, not
    // undefined behaviour.
    const uint32_t r = static_cast<uint32_t>(frameRate);
    return frameRate >= 0 ? r * 100u : 0u - r;
}

uint32_t FramesPerSecond(uint32_t frameTime) {
    const uint32_t f = frameTime == 0 ? 100000u : 100000u / frameTime;
    return f == 0 ? 1u : f;
}

uint64_t TableEntryCount(const MovieHeader& header) {
    return static_cast<uint64_t>(header.Frames) + (header.Flags & kHeaderRingFrame);
}

uint64_t RecordOffset(const Movie* m, uint32_t index) {
    const uint32_t end = std::min(index, m->TableEntries);
    const auto* sizes = reinterpret_cast<const uint8_t*>(m->FrameSizesPtr);
    uint64_t sum = 0;
    for (uint32_t i = 0; i < end; ++i) sum += LoadU32(sizes + 4u * i);
    return sum;
}

FrameStats ComputeFrameStats(const uint8_t* sizes, uint32_t n, uint32_t framesPerSecond) {
    FrameStats s{};
    for (uint32_t i = 0; i < n; ++i) {
        const uint32_t v = LoadU32(sizes + 4u * i);
        s.Total += v;
        s.Largest = std::max(s.Largest, v);
    }
    s.Average = n ? static_cast<uint32_t>(s.Total / n) : 0;
    const uint32_t F = framesPerSecond;
    uint32_t peakStart = 0;
    if (n - 1 < F) {
        s.PeakRate = static_cast<uint32_t>(s.Total);
    } else {
        uint64_t window = 0;
        for (uint32_t i = 0; i < F; ++i) window += LoadU32(sizes + 4u * i);
        uint64_t best = 0;
        for (uint32_t i = 0; i <= n - 1 - F; ++i) {
            if (i != 0 && window > best) {
                best = window;
                peakStart = i;
            }
            window -= LoadU32(sizes + 4u * i);
            window += LoadU32(sizes + 4u * (i + F));
        }
        s.PeakRate = static_cast<uint32_t>(best);
    }
    s.PeakFrame = peakStart + 1;
    return s;
}

BufferChoice ChooseBuffering(uint32_t extraBuffer, uint32_t frameTime, uint32_t peakRate, uint64_t total) {
    uint64_t b = extraBuffer;
    if (extraBuffer == 0xFFFFFFFFu) {
        b = frameTime == 0 ? 12288u : peakRate;
        b = std::min<uint64_t>(b, total / 4);
        b = std::max<uint64_t>(b, 12288u);
    }
    b = (b + kPageBytes - 1) / kPageBytes * kPageBytes;
    b = std::max<uint64_t>(b, 8192u);
    // 64-bit: in 32 bits the product wraps for movies over 1 GB and would
    // have them preloaded.
    const bool preload = total * 4 / 5 <= b;
    return {preload, static_cast<uint32_t>(std::min<uint64_t>(b, 0xFFFFF000u))};
}

void SplitRecord(const uint8_t* record, uint32_t size, uint8_t type, ChunkLayout* out) {
    *out = ChunkLayout{};
    uint32_t p = 0;
    bool broken = false;
    if (type & 1) {
        out->HasPalette = true;
        out->PaletteSize = size;
        const uint32_t len = size ? 4u * record[0] : 0u;
        p = std::min(len, size);
    }
    for (int t = 0; t < kMaxTracks && !broken; ++t) {
        if (!(type & (2u << t))) continue;
        if (size - p < 4) {
            broken = true;
            break;
        }
        const uint32_t len = LoadU32(record + p);
        if (len < 4) {
            broken = true;
            break;
        }
        out->HasSound[t] = true;
        out->SoundOffset[t] = p;
        out->SoundSize[t] = std::min(len, size - p);
        p += out->SoundSize[t];
    }
    if (broken) p = size;
    out->VideoOffset = p;
    out->VideoSize = size - p;
}
