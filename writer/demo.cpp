// The demo movie, made by code alone: a sky with bouncing shaded balls, a
// moving shaded gem and a sliding box, a band whose colours cycle through
// the palette, a scrolling text line, a scrolling floor and a frame counter,
// with a small two-voice tune. It exercises every block kind, palette
// chunks in every frame and a packed 16-bit stereo track.
#include <cmath>
#include <cstring>
#include <string>

#include "writer/writer.h"

namespace qvw {
namespace {

constexpr int kW = 320, kH = 240, kFps = 15, kRate = 22050;
constexpr double kPi = 3.14159265358979323846;

// Palette layout.
enum : uint8_t {
    kBlack = 0, kWhite = 1, kNavy = 2, kYellow = 3, kGrey = 4, kDarkGrey = 5, kGreen = 7, kOrange = 10,
    kRedRamp = 16, kGreenRamp = 32, kBlueRamp = 48,  // 16 shades each
    kCycle = 64,                                      // 64 colours that rotate
    kGlow = 128,                                      // 16 colours that pulse
    kSky = 192,                                       // 64-step gradient
};

// 5 x 7 glyphs, one string of 7 rows per character ('#' = ink).
struct Glyph {
    char c;
    const char* rows[7];
};
const Glyph kFont[] = {
    {'A', {" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'B', {"#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "}},
    {'C', {" ### ", "#   #", "#    ", "#    ", "#    ", "#   #", " ### "}},
    {'D', {"#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "}},
    {'E', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"}},
    {'F', {"#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "}},
    {'G', {" ### ", "#   #", "#    ", "# ###", "#   #", "#   #", " ####"}},
    {'H', {"#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"}},
    {'I', {" ### ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'K', {"#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"}},
    {'L', {"#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"}},
    {'M', {"#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"}},
    {'N', {"#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"}},
    {'O', {" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'P', {"#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "}},
    {'Q', {" ### ", "#   #", "#   #", "#   #", "# # #", "#  # ", " ## #"}},
    {'R', {"#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"}},
    {'S', {" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "}},
    {'T', {"#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'U', {"#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "}},
    {'V', {"#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "}},
    {'W', {"#   #", "#   #", "#   #", "# # #", "# # #", "## ##", "#   #"}},
    {'X', {"#   #", "#   #", " # # ", "  #  ", " # # ", "#   #", "#   #"}},
    {'Y', {"#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "}},
    {'0', {" ### ", "#   #", "#  ##", "# # #", "##  #", "#   #", " ### "}},
    {'1', {"  #  ", " ##  ", "  #  ", "  #  ", "  #  ", "  #  ", " ### "}},
    {'2', {" ### ", "#   #", "    #", "   # ", "  #  ", " #   ", "#####"}},
    {'3', {"#####", "   # ", "  #  ", "   # ", "    #", "#   #", " ### "}},
    {'4', {"   # ", "  ## ", " # # ", "#  # ", "#####", "   # ", "   # "}},
    {'5', {"#####", "#    ", "#### ", "    #", "    #", "#   #", " ### "}},
    {'6', {"  ## ", " #   ", "#    ", "#### ", "#   #", "#   #", " ### "}},
    {'7', {"#####", "    #", "   # ", "  #  ", " #   ", " #   ", " #   "}},
    {'8', {" ### ", "#   #", "#   #", " ### ", "#   #", "#   #", " ### "}},
    {'9', {" ### ", "#   #", "#   #", " ####", "    #", "   # ", " ##  "}},
    {'-', {"     ", "     ", "     ", " ### ", "     ", "     ", "     "}},
    {'.', {"     ", "     ", "     ", "     ", "     ", " ##  ", " ##  "}},
};

const Glyph* FindGlyph(char c) {
    for (const Glyph& g : kFont)
        if (g.c == c) return &g;
    return nullptr;  // blank
}

class Canvas {
public:
    explicit Canvas(std::vector<uint8_t>* p) : p_(*p) {}
    void Put(int x, int y, uint8_t c) {
        if (x >= 0 && x < kW && y >= 0 && y < kH) p_[size_t(y) * kW + x] = c;
    }
    void Rect(int x0, int y0, int w, int h, uint8_t c) {
        for (int y = y0; y < y0 + h; ++y)
            for (int x = x0; x < x0 + w; ++x) Put(x, y, c);
    }
    // A ball shaded in rings from `ramp` (16 shades, light at the centre).
    void Ball(int cx, int cy, int r, uint8_t ramp) {
        for (int y = -r; y <= r; ++y)
            for (int x = -r; x <= r; ++x) {
                int d2 = x * x + y * y;
                if (d2 > r * r) continue;
                int shade = 15 - static_cast<int>(std::sqrt(double(d2)) * 12 / r);
                Put(cx + x, cy + y, static_cast<uint8_t>(ramp + std::max(0, shade)));
            }
    }
    // Text with `scale`-pixel dots; `ink` only (the background stays).
    void Text(int x, int y, const std::string& s, int scale, uint8_t ink) {
        for (char ch : s) {
            if (const Glyph* g = FindGlyph(ch))
                for (int r = 0; r < 7; ++r)
                    for (int c = 0; c < 5; ++c)
                        if (g->rows[r][c] == '#') Rect(x + c * scale, y + r * scale, scale, scale, ink);
            x += 6 * scale;
        }
    }

private:
    std::vector<uint8_t>& p_;
};

// Bounces a coordinate between lo and hi.
int Bounce(int start, int speed, int frame, int lo, int hi) {
    int span = hi - lo, pos = (start - lo + speed * frame) % (2 * span);
    if (pos < 0) pos += 2 * span;
    return lo + (pos < span ? pos : 2 * span - pos);
}

Palette BasePalette() {
    Palette p{};
    p[kBlack] = {0, 0, 0};
    p[kWhite] = {255, 255, 255};
    p[kNavy] = {16, 24, 96};
    p[kYellow] = {255, 220, 40};
    p[kGrey] = {130, 120, 110};
    p[kDarkGrey] = {70, 64, 60};
    p[6] = {220, 40, 40};
    p[kGreen] = {40, 200, 80};
    p[8] = {40, 200, 220};
    p[9] = {200, 60, 200};
    p[kOrange] = {250, 140, 30};
    for (int i = 0; i < 16; ++i) {
        uint8_t v = static_cast<uint8_t>(60 + i * 13);
        p[kRedRamp + i] = {v, static_cast<uint8_t>(i * 8), static_cast<uint8_t>(i * 6)};
        p[kGreenRamp + i] = {static_cast<uint8_t>(i * 8), v, static_cast<uint8_t>(i * 6)};
        p[kBlueRamp + i] = {static_cast<uint8_t>(i * 8), static_cast<uint8_t>(i * 10), v};
    }
    for (int i = 0; i < 64; ++i) {  // a colour wheel
        double a = i * 2 * kPi / 64;
        auto c = [&](double ph) { return static_cast<uint8_t>(127.5 + 127.5 * std::sin(a + ph)); };
        p[kCycle + i] = {c(0), c(2 * kPi / 3), c(4 * kPi / 3)};
    }
    for (int i = 0; i < 64; ++i)  // sky: deep blue to pale near the horizon
        p[kSky + i] = {static_cast<uint8_t>(20 + i * 2), static_cast<uint8_t>(40 + i * 2), static_cast<uint8_t>(120 + i)};
    return p;
}

// The palette of frame f: the wheel turned by f steps, the glow pulsing.
Palette FramePalette(const Palette& base, uint32_t f) {
    Palette p = base;
    for (int i = 0; i < 64; ++i) p[kCycle + i] = base[kCycle + (i + f) % 64];
    double pulse = 0.6 + 0.4 * std::sin(f * 2 * kPi / 30);
    for (int i = 0; i < 16; ++i) {
        double k = pulse * (0.4 + 0.6 * i / 15.0);
        p[kGlow + i] = {static_cast<uint8_t>(255 * k), static_cast<uint8_t>(200 * k), static_cast<uint8_t>(60 * k)};
    }
    return p;
}

std::vector<uint8_t> DrawFrame(uint32_t f) {
    std::vector<uint8_t> pic(size_t(kW) * kH);
    Canvas cv(&pic);
    // Sky (rows 0..127): a gradient two rows per shade.
    for (int y = 0; y < 128; ++y) cv.Rect(0, y, kW, 1, static_cast<uint8_t>(kSky + y / 2));
    // The sun: rings of the pulsing glow colours.
    for (int y = -28; y <= 28; ++y)
        for (int x = -28; x <= 28; ++x) {
            int d = static_cast<int>(std::sqrt(double(x * x + y * y)));
            if (d <= 27) cv.Put(262 + x, 40 + y, static_cast<uint8_t>(kGlow + 15 - d * 15 / 27));
        }
    // Moving things.
    cv.Ball(Bounce(40, 5, f, 20, 300), Bounce(30, 3, f, 20, 108), 18, kRedRamp);
    cv.Ball(Bounce(200, -4, f, 14, 306), Bounce(90, 2, f, 14, 114), 13, kGreenRamp);
    const int gx = Bounce(120, 3, f, 0, 288), gy = Bounce(10, 1, f, 0, 96);
    for (int y = 0; y < 32; ++y)  // a gem: diagonal shading, many colours per block
        for (int x = 0; x < 32; ++x)
            if (std::abs(x - 16) + std::abs(y - 16) < 16)
                cv.Put(gx + x, gy + y, static_cast<uint8_t>(kBlueRamp + ((x + 2 * y + f) % 16)));
    const int bx = Bounce(0, 6, f, 0, 272);
    cv.Rect(bx, 100, 48, 24, kWhite);
    cv.Rect(bx + 2, 102, 44, 20, kGreen);
    // The colour band (rows 128..175): fixed indices, the palette moves them.
    for (int y = 128; y < 176; ++y)
        for (int x = 0; x < kW; ++x) {
            int v = x / 3 + static_cast<int>(12 * std::sin(y * 0.25) + 8 * std::sin(x * 0.05 + y * 0.1));
            cv.Put(x, y, static_cast<uint8_t>(kCycle + ((v % 64) + 64) % 64));
        }
    // Scrolling text (rows 176..191).
    cv.Rect(0, 176, kW, 16, kNavy);
    const std::string line = "QUARVEL DEMO MOVIE - 320 X 240 AT 15 FRAMES PER SECOND - ";
    const int text_w = static_cast<int>(line.size()) * 12;
    int tx = -static_cast<int>((f * 4) % text_w);
    cv.Text(tx, 178, line, 2, kYellow);
    cv.Text(tx + text_w, 178, line, 2, kYellow);
    // Floor (rows 192..239): checker squares sliding at two speeds.
    for (int y = 192; y < 240; ++y) {
        const int speed = y < 216 ? 2 : 5, size = y < 216 ? 16 : 24;
        for (int x = 0; x < kW; ++x) {
            int cx = (x + int(f) * speed) / size, cy = (y - 192) / 12;
            cv.Put(x, y, ((cx + cy) & 1) ? kGrey : kDarkGrey);
        }
    }
    // Frame counter.
    cv.Rect(4, 220, 84, 16, kBlack);
    char num[16];
    std::snprintf(num, sizeof num, "%04u", f);
    cv.Text(8, 222, std::string("F ") + num, 2, kOrange);
    return pic;
}

// A two-voice tune: a bass note per beat on the left, a melody of eighth
// notes on the right, both with plucked envelopes.
std::vector<uint8_t> Music(double seconds) {
    const int melody[] = {72, 74, 76, 79, 76, 74, 72, 69, 67, 69, 72, 74, 76, 74, 72, 72};
    const int bass[] = {48, 48, 45, 45, 41, 41, 43, 43};
    const size_t n = static_cast<size_t>(seconds * kRate);
    std::vector<uint8_t> out(n * 4);
    auto freq = [](int note) { return 440.0 * std::pow(2.0, (note - 69) / 12.0); };
    const double eighth = 0.25;
    for (size_t i = 0; i < n; ++i) {
        const double t = double(i) / kRate;
        const size_t e = static_cast<size_t>(t / eighth), b = static_cast<size_t>(t / (2 * eighth));
        const double te = t - e * eighth, tb = t - b * 2 * eighth;
        const double fm = freq(melody[e % 16]), fb = freq(bass[b % 8]);
        const double m = std::exp(-6 * te) * (std::sin(2 * kPi * fm * te) + 0.3 * std::sin(4 * kPi * fm * te));
        const double s = std::exp(-3 * tb) * std::sin(2 * kPi * fb * tb);
        const double left = 7000 * s + 2500 * m, right = 2500 * s + 7000 * m;
        const int16_t l = static_cast<int16_t>(std::lround(left)), r = static_cast<int16_t>(std::lround(right));
        out[4 * i + 0] = static_cast<uint8_t>(l);
        out[4 * i + 1] = static_cast<uint8_t>(uint16_t(l) >> 8);
        out[4 * i + 2] = static_cast<uint8_t>(r);
        out[4 * i + 3] = static_cast<uint8_t>(uint16_t(r) >> 8);
    }
    return out;
}

}  // namespace

MoviePlan MakeDemoPlan(uint32_t frames) {
    MoviePlan plan;
    plan.width = kW;
    plan.height = kH;
    plan.frame_rate = FrameRateForFps(kFps);
    const Palette base = BasePalette();
    for (uint32_t f = 0; f < frames; ++f) {
        FramePlan fs;
        fs.picture = DrawFrame(f);
        fs.palette = FramePalette(base, f);
        plan.frames.push_back(std::move(fs));
    }
    TrackPlan music;
    music.rate = kRate;
    music.bits = 16;
    music.channels = 2;
    music.compressed = true;
    music.pcm = Music(frames / double(kFps) + 1.5);  // the picture plus the lead
    plan.tracks[0] = std::move(music);
    return plan;
}

}  // namespace qvw
