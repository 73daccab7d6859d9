// PNG frames for quarvmake: palette images keep their indices and palette;
// every other kind is read as 8-bit RGBA (alpha ignored by the caller).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "writer/writer.h"

struct PngFrame {
    uint32_t width = 0, height = 0;
    bool indexed = false;
    std::vector<uint8_t> pixels;  // indexed: one index per pixel; else RGBA
    qvw::Palette palette{};       // indexed only; missing entries are black
    int palette_size = 0;
};

// Reads `path`; `as_rgba` forces RGBA even for palette images. On failure
// returns false with a reason in *error.
bool ReadPng(const std::string& path, bool as_rgba, PngFrame* out, std::string* error);
// Size and kind only.
bool PeekPng(const std::string& path, PngFrame* out, std::string* error);
