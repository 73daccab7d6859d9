// Writer-made movies decoded through the library into every kind of caller
// buffer, the changed rectangles a caller redraws, buffers that cannot take
// the movie, and colour remapping onto a caller's palette.
#include <functional>

#include "common/cpu.h"
#include "tests/video/video_movie.h"

using namespace vtest;

namespace {

// Frames of block pictures over `colours` colours, a palette of random colours from frame 0 on.
qvw::MoviePlan Plan(uint32_t w, uint32_t h, int frames, int colours, uint32_t seed) {
    qvw::MoviePlan plan;
    plan.width = w, plan.height = h, plan.frames.resize(frames);
    std::mt19937 rng(seed);
    for (auto& c : plan.frames[0].palette.emplace()) c = {uint8_t(rng()), uint8_t(rng()), uint8_t(rng())};
    for (int f = 0; f < frames; ++f) plan.frames[f].picture = BlockPicture(w, h, rng, colours, f ? &plan.frames[f - 1].picture : nullptr);
    return plan;
}

// Every frame lands exactly where the caller's buffer wants it: both bit
// readers; 8-bit top-down (where redrawing only the changed rectangles must
// give the whole picture) and bottom-up at an offset; 16-bit 5-6-5 and 5-5-5
// in the palette's colours; doubled and interlaced movies. Pixels outside the
// whole blocks, between interlaced lines and outside the movie are never
// written.
TEST(Decode, WriterMoviesComeBackExactly) {
    const struct {
        const char* what;
        std::function<qvw::MoviePlan()> plan;
    } cases[] = {
        {"every block kind, runs across rows", [] { return Plan(64, 48, 6, 12, 1); }},
        {"322 x 242: 80 x 60 blocks", [] { return Plan(322, 242, 2, 200, 2); }},
        {"codes of up to 32 bits", [] {
             qvw::MoviePlan p = Plan(32, 32, 4, 5, 3);
             for (auto& f : p.frames) f.block_kinds.assign(64, qvw::BlockKind::Full);
             for (uint32_t v = 0; v < 25; ++v) p.trees[qvw::kFullTree].code_lengths[(1 + v / 5) << 8 | (1 + v % 5)] = v < 23 ? v + 1 : 32;
             return p;
         }},
        {"escape values repeated", [] {
             qvw::MoviePlan p = Plan(32, 32, 4, 3, 4);
             p.trees[qvw::kColorTree].escape_values = std::array<uint16_t, 3>{0x0909, 0x0909, 0x0A0A};
             p.trees[qvw::kFullTree].escape_values = std::array<uint16_t, 3>{0x0404, 0x0505, 0x0404};
             return p;
         }},
        {"a tree absent, its one value read without bits", [] {
             qvw::MoviePlan p = Plan(64, 48, 1, 9, 5);
             for (size_t i = 0; i < p.frames[0].picture.size(); ++i) p.frames[0].picture[i] = uint8_t(1 + (i % 64) / 4 % 9);
             p.frames[0].runs.assign(3, {qvw::BlockKind::TwoColor, 58, 0});
             p.frames[0].runs.push_back({qvw::BlockKind::TwoColor, 14, 0});
             p.trees[qvw::kMapTree].presence = qvw::TreeOverride::Presence::Absent;
             for (auto& t : p.trees) t.use_escapes = false;
             return p;
         }},
        {"the recent values start from 0 in every frame", [] {
             qvw::MoviePlan p = Plan(16, 4, 3, 6, 10);  // block 0 of colour 0, then three of two colours
             for (auto& f : p.frames) {
                 for (uint32_t i = 0; i < 64; ++i) f.picture[i] = i % 16 < 4 ? 0 : uint8_t(i % 16 / 4 * 2 - 1 + (i + i / 16) % 2);
                 f.block_kinds.assign(4, qvw::BlockKind::TwoColor);
             }
             auto& lengths = p.trees[qvw::kColorTree].code_lengths;  // pair 0 only as the recent value at position 2
             lengths[qvw::kEscapeKey + 2] = 2;
             for (uint32_t v : {0x0201, 0x0102, 0x0403, 0x0304, 0x0605, 0x0506}) lengths[v] = 3;
             return p;
         }},
        {"Y-doubled", [] { qvw::MoviePlan p = Plan(32, 16, 3, 6, 7); p.y_double = true; return p; }},
        {"interlaced", [] { qvw::MoviePlan p = Plan(32, 16, 3, 6, 8); p.y_interlace = true; return p; }},
    };
    for (const auto& c : cases) {
        const qvw::MoviePlan plan = c.plan();
        const uint32_t w = plan.width, h = plan.height, bw = w / 4 * 4, bh = h / 4 * 4;
        const bool doubled = plan.y_double, interlaced = plan.y_interlace, scaled = doubled || interlaced;
        PlayedMovie pm(plan);
        for (uint32_t variant = 0; variant < 8; ++variant) {
            const uint32_t level = 1 + variant % 2, layout = variant / 2;  // top-down, bottom-up, 5-6-5, 5-5-5
            const uint32_t flags = layout == 1 ? 1u : layout == 2 ? 0xC0000000u : layout == 3 ? 0x80000000u : 0u;
            const uint32_t bpp = layout >= 2 ? 2 : 1, left = layout == 1 ? 3 : 0, top = layout == 1 ? 2 : 0;
            const uint32_t lines = (scaled ? 2 * h : h) + 2 * top;
            QuarvClose(pm.m);
            pm.m = QuarvOpen(movietest::MemoryFile::kName, 0, 0);
            pm.Bind(left, top, (w + 2 * left) * bpp, lines, flags);
            Bytes screen = pm.buffer;
            for (uint32_t f = 0, saved = MmxLevel; f < plan.frames.size(); ++f, QuarvNextFrame(pm.m)) {
                MmxLevel = level;
                QuarvDoFrame(pm.m);
                MmxLevel = saved;
                while (layout == 0 && QuarvToBufferNext(pm.m, 0)) {  // the caller redraws what changed
                    const QuarvRect& r = pm.m->LastRect;
                    for (int32_t y = r.y; y < r.y + r.height; ++y)
                        std::memcpy(&screen[pm.kGuard + y * pm.pitch + r.x], &pm.At(r.x, y), r.width);
                }
                EXPECT_TRUE(layout != 0 || screen == pm.buffer) << c.what << ", frame " << f;
                const Bytes& pic = pm.report.pictures[f];
                const qvw::Palette& pal = pm.report.palettes[f];
                size_t wrong = 0;
                for (uint32_t line = 0; line < lines; ++line)
                    for (uint32_t x = 0; x < w + 2 * left; ++x) {
                        const uint32_t row = layout == 1 ? lines - 1 - line : line;  // picture line from the top
                        const bool inMovie = x >= left && x - left < bw && row >= top && row - top < (scaled ? 2 * bh : bh);
                        const uint32_t y = scaled ? (row - top) / 2 : row - top;
                        const bool written = inMovie && !(interlaced && (row - top) % 2);
                        uint32_t want = 0xEE, got = pm.At(x * bpp, line);
                        if (written) want = pic[size_t{y} * w + x - left];
                        if (bpp == 2) {
                            got |= pm.At(x * bpp + 1, line) << 8;
                            const qvw::Rgb rgb = pal[want];
                            want = !written ? 0xEEEE : layout == 2 ? (rgb.r >> 3) << 11 | (rgb.g >> 2) << 5 | rgb.b >> 3
                                                                     : (rgb.r >> 3) << 10 | (rgb.g >> 3) << 5 | rgb.b >> 3;
                        }
                        wrong += got != want;
                    }
                EXPECT_EQ(wrong, 0u) << c.what << ", frame " << f << ", layout " << layout << ", reader " << level;
                EXPECT_TRUE(pm.GuardsIntact()) << c.what;
            }
        }
    }
}

// A buffer the movie does not fit is refused: the decoder does not clip, so
// the movie is left without a target and its memory is given back.
TEST(Target, RefusesBuffersTheMovieDoesNotFit) {
    // What, movie width, height, scaling; left, top, pitch; buffer lines, flags; whether the movie fits.
    const std::tuple<const char*, uint32_t, uint32_t, uint32_t, int32_t, int32_t, int32_t, uint32_t, uint32_t, bool> cases[] = {
        {"absurd width", 100000, 8, 0, 0, 0, 100000, 8, 0, false}, {"absurd height", 4096, 40000, 0, 0, 0, 4096, 40000, 0, false},
        {"absurd area", 30000, 30000, 0, 0, 0, 30000, 30000, 0, false}, {"wider than the pitch", 64, 48, 0, 0, 0, 63, 48, 0, false},
        {"16-bit, too wide", 64, 48, 0, 0, 0, 127, 48, 0x80000000u, false}, {"16-bit, exactly", 64, 48, 0, 0, 0, 128, 48, 0x80000000u, true},
        {"pushed past the pitch", 64, 48, 0, 1, 0, 64, 48, 0, false}, {"pushed past the last line", 64, 48, 0, 0, 1, 64, 48, 0, false},
        {"before the first column", 64, 48, 0, -1, 0, 100, 48, 0, false}, {"before the first line", 64, 48, 0, 0, -1, 64, 60, 0, false},
        {"negative pitch", 64, 48, 0, 0, 0, -64, 48, 0, false}, {"steps beyond 32 bits", 64, 48, 0, 0, 0, 0x7FFFFFFF, 48, 0, false},
        {"doubled, one line short", 64, 96, OPEN_Y_DOUBLE, 0, 0, 64, 95, 0, false}, {"doubled, exactly", 64, 96, OPEN_Y_DOUBLE, 0, 0, 64, 96, 0, true},
        {"interlaced, one line short", 64, 96, OPEN_Y_INTERLACE, 0, 1, 64, 96, 0, false},
    };
    for (const auto& [what, width, height, scaling, left, top, pitch, lines, flags, fits] : cases) {
        Movie m{};
        uint8_t buf[1];
        m.Header.Width = m.Header.Height = 64, m.MemUsed = 100;
        QuarvToBuffer(&m, 0, 0, 256, 256, buf, 0);  // a target that fits, first
        m.Header.Width = width, m.Header.Height = height, m.OpenFlags = scaling;
        QuarvToBuffer(&m, left, top, pitch, lines, buf, flags);
        EXPECT_EQ(m.FrameTarget != nullptr && m.MemUsed - m.TargetSize == 100, fits) << what;
        QuarvToBuffer(&m, 0, 0, 0, 0, nullptr, 0);
        EXPECT_EQ(m.MemUsed, 100u) << what;
    }
}

// QuarvColorRemap makes the decoder write the caller's nearest entries,
// searched from entry i (so an identical palette maps onto itself, duplicate
// colours and all, in every layout), the first of equally near ones winning;
// at most 256 entries are read and an empty palette changes nothing; a
// remap always starts from the movie's own colours, and colours it merges
// stay apart in the recent values.
TEST(Remap, DecoderWritesTheCallersNearestEntries) {
    qvw::MoviePlan plan = Plan(32, 32, 6, 6, 9);
    const std::vector<uint8_t> used = {20, 30, 60, 84, 94, 150};  // 84 and 94 repeat 20 and 30
    for (auto& f : plan.frames)
        for (auto& p : f.picture) p = used[p - 1];
    qvw::Palette pal;
    for (int i = 0; i < 256; ++i) pal[i] = i < 128 ? qvw::Rgb{qvw::Widen6(i % 64), qvw::Widen6(i % 64), qvw::Widen6(i % 64)} : qvw::Rgb{uint8_t(i), uint8_t(255 - i), uint8_t(i * 3)};
    plan.frames[0].palette = pal;
    auto layout = [&](uint32_t flags) {  // the movie's palette as a caller with these layout flags holds it
        const size_t len = (flags & 4 ? 4 : 3) * (flags & 1 ? 2 : 1), first = (flags & 12) == 12 ? 1 : 0;
        Bytes out(256 * len, 0x99);
        for (size_t i = 0, k = 0; i < 256; ++i)
            for (k = 0; k < 3; ++k) out[i * len + (first + (flags & 2 ? 2 - k : k)) * (flags & 1 ? 2 : 1)] = (&pal[i].r)[k];
        return out;
    };
    const Bytes ties = {100, 100, 100, 142, 142, 142, 200, 200, 200, 60, 60, 60, 0, 0, 0}, one = {200, 200, 200};
    std::vector<std::tuple<std::string, Bytes, uint32_t, uint32_t, std::vector<uint8_t>>> cases = {
        {"no entries", one, 0, 0, used},
        {"ties go to the first searched", ties, 5, 0, {0, 0, 2, 0, 0, 1}},
        {"one entry", one, 1, 0, {0, 0, 0, 0, 0, 0}},
        {"more than 256 entries", layout(0), 1000, 0, used},
    };
    for (uint32_t flags : {1u, 2u, 4u, 12u, 6u, 13u, 15u}) cases.push_back({"layout " + std::to_string(flags), layout(flags), 256, flags, used});
    PlayedMovie pm(plan);
    pm.Bind(0, 0, 32, 32, 0);
    for (const auto& [what, palette, count, flags, expect] : cases) {
        QuarvColorRemap(pm.m, palette.data(), count, flags);  // the palette is exactly its size: no reading past it
        for (uint32_t f = 0; f < plan.frames.size(); ++f, QuarvNextFrame(pm.m)) {
            QuarvDoFrame(pm.m);
            size_t wrong = 0;
            for (size_t p = 0; p < 32 * 32; ++p) wrong += pm.At(p % 32, p / 32) != expect[std::find(used.begin(), used.end(), pm.report.pictures[f][p]) - used.begin()];
            EXPECT_EQ(wrong, 0u) << what << ", frame " << f;
        }
    }
    QuarvColorRemap(nullptr, nullptr, 5, 0);  // ignored
}

// The rectangles a caller redraws after each frame: one per changed span,
// gathered while the bounding box stays within 5/4 of the spans' area,
// aligned on 8 pixels without leaving the movie, doubled in height for
// scaled movies; at most 4 wait at once, and those left over from an
// unfinished frame come out first, joined with the next frame's neighbours.
// Frames draw whole groups of 16 blocks and skip the rest.
TEST(ChangeRects, WhatTheCallerRedraws) {
    // What, movie width, height, scaling, its left and top in the buffer; the groups each frame draws (-1: a new
    // palette and nothing drawn, -n: n blocks skipped then one drawn); the modes asked with after the last frame
    // (after earlier ones one rectangle is taken); the rectangles handed out.
    const std::tuple<const char*, uint32_t, uint32_t, uint32_t, int32_t, int32_t, std::vector<std::vector<int>>, const char*, const char*> cases[] = {
        {"nothing", 320, 240, 0, 0, 0, {{}}, "0", ""},
        {"only a new palette", 320, 240, 0, 0, 0, {{-1}}, "0", "(0,0 0x0)"},
        {"first group", 320, 240, 0, 8, 2, {{0}}, "0", "(8,2 64x4)"},
        {"last group", 320, 240, 0, 8, 2, {{299}}, "0", "(264,238 64x4)"},
        {"a gap splits", 320, 240, 0, 0, 0, {{0, 2}}, "0", "(0,0 64x4)(128,0 64x4)"},
        {"bands join", 320, 240, 0, 0, 0, {{0, 5}}, "0", "(0,0 64x8)"},
        {"neighbours are one span", 320, 240, 0, 0, 0, {{1, 2, 3}}, "0", "(64,0 192x4)"},
        {"a waiting rectangle joins one below", 320, 240, 0, 0, 0, {{0, 2, 5}}, "0", "(0,0 64x8)(128,0 64x4)"},
        {"mode 1 bounds everything", 320, 240, 0, 0, 0, {{3, 299}}, "1", "(192,0 128x240)"},
        {"a group past the right edge", 100, 8, 0, 0, 0, {{1}}, "0", "(64,0 36x4)(0,4 32x4)"},
        {"groups of several bands", 8, 48, 0, 0, 0, {{0}}, "0", "(0,0 8x32)"},
        {"rounded down to 8", 320, 240, 0, 3, 0, {{1}}, "0", "(64,0 72x4)"},
        {"not left of the movie", 320, 240, 0, 3, 0, {{0}}, "0", "(3,0 64x4)"},
        {"not past its right edge", 320, 240, 0, 3, 0, {{4}}, "0", "(256,0 67x4)"},
        {"doubled", 320, 240, OPEN_Y_DOUBLE, 0, 10, {{5}}, "0", "(0,18 64x8)"},
        {"interlaced", 320, 240, OPEN_Y_INTERLACE, 0, 10, {{5}}, "0", "(0,18 64x8)"},
        {"a skip run entering a group", 320, 240, 0, 0, 0, {{-20}}, "0", "(64,0 64x4)"},
        {"more than 4", 320, 240, 0, 0, 0, {{0, 2, 4, 40, 42, 44}}, "2020",
         "-(0,0 64x4)-(128,0 64x4)(256,0 64x4)(0,32 64x4)(128,32 64x4)(256,32 64x4)"},
        {"left over, then a new frame", 320, 240, 0, 0, 0, {{0, 2, 4, 40, 42, 44}, {100}}, "0",
         "(128,0 64x4)(256,0 64x4)(0,32 64x4)(0,80 64x4)"},
        {"left over, joined on the right", 320, 240, 0, 0, 0, {{0, 2, 4, 40, 42, 44}, {3}}, "0",
         "(128,0 192x4)(0,32 64x4)"},
    };
    for (const auto& [what, width, height, scaling, left, top, frames, modes, expect] : cases) {
        qvw::MoviePlan plan;
        plan.width = width, plan.height = height;
        const uint32_t blocks = width / 4 * (height / 4);
        for (const auto& groups : frames) {
            qvw::FramePlan& f = plan.frames.emplace_back();
            std::vector<bool> drawn(blocks);
            const int skip = groups.empty() ? 0 : -groups[0];
            if (skip == 1) f.palette = qvw::Palette{}, f.palette->at(1) = {200, 0, 0};
            if (skip > 1) f.runs = {{qvw::BlockKind::Skip, uint8_t(skip - 1), 0}, {qvw::BlockKind::Solid, 0, 9}};
            for (int g : groups)
                for (int b = 16 * g; g >= 0 && b < 16 * g + 16; ++b) drawn[b] = true;
            for (uint32_t b = skip > 1 ? skip + 1 : 0; b < blocks; ++b) f.runs.push_back({drawn[b] ? qvw::BlockKind::Solid : qvw::BlockKind::Skip, 0, uint8_t(frames.size())});
        }
        PlayedMovie pm(plan, scaling);
        pm.Bind(left, top, width + 16, top + (scaling ? 2 : 1) * height, 0);
        for (size_t f = 0; f + 1 < frames.size(); ++f, QuarvNextFrame(pm.m)) QuarvDoFrame(pm.m), QuarvToBufferNext(pm.m, 0);
        QuarvDoFrame(pm.m);
        EXPECT_EQ(pm.Rects(modes), expect) << what;
        EXPECT_EQ(pm.m->FrameDecoded, 0u) << what;
    }
}

}  // namespace
