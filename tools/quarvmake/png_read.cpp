#include "png_read.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace {

struct ErrorSink {
    char text[200] = "";
};

void OnError(png_structp png, png_const_charp msg) {
    auto* sink = static_cast<ErrorSink*>(png_get_error_ptr(png));
    std::snprintf(sink->text, sizeof sink->text, "%s", msg);
    std::longjmp(png_jmpbuf(png), 1);
}
void OnWarning(png_structp, png_const_charp) {}

// libpng reports errors by longjmp, so this function keeps no C++ object of
// its own alive across the library calls: everything lives in `out`.
bool ReadPngC(FILE* f, bool header_only, bool as_rgba, PngFrame* out, std::vector<png_bytep>* rows,
              ErrorSink* sink) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, sink, OnError, OnWarning);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    png_init_io(png, f);
    png_set_user_limits(png, 16384, 16384);
    png_read_info(png, info);
    out->width = png_get_image_width(png, info);
    out->height = png_get_image_height(png, info);
    const int type = png_get_color_type(png, info);
    const int depth = png_get_bit_depth(png, info);
    out->indexed = type == PNG_COLOR_TYPE_PALETTE && !as_rgba;
    if (header_only) {
        out->indexed = type == PNG_COLOR_TYPE_PALETTE;
        png_destroy_read_struct(&png, &info, nullptr);
        return true;
    }
    if (out->indexed) {
        if (depth < 8) png_set_packing(png);
        png_colorp plte = nullptr;
        int n = 0;
        png_get_PLTE(png, info, &plte, &n);
        out->palette_size = n;
        for (int i = 0; i < n && i < 256; ++i) out->palette[i] = {plte[i].red, plte[i].green, plte[i].blue};
    } else {
        png_set_expand(png);  // palette, low-depth grey and tRNS to full channels
        png_set_strip_16(png);
        if (type == PNG_COLOR_TYPE_GRAY || type == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
        if (!(type & PNG_COLOR_MASK_ALPHA)) png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    }
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const size_t row_bytes = png_get_rowbytes(png, info);
    const size_t want = size_t(out->width) * (out->indexed ? 1 : 4);
    if (row_bytes != want) {
        std::snprintf(sink->text, sizeof sink->text, "unexpected row size");
        png_destroy_read_struct(&png, &info, nullptr);
        return false;
    }
    out->pixels.resize(want * out->height);
    rows->resize(out->height);
    for (uint32_t y = 0; y < out->height; ++y) (*rows)[y] = out->pixels.data() + want * y;
    png_read_image(png, rows->data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return true;
}

bool Read(const std::string& path, bool header_only, bool as_rgba, PngFrame* out, std::string* error) {
    *out = PngFrame{};
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    unsigned char sig[8];
    if (std::fread(sig, 1, 8, f) != 8 || png_sig_cmp(sig, 0, 8) != 0) {
        std::fclose(f);
        *error = path + " is not a PNG file";
        return false;
    }
    std::rewind(f);
    ErrorSink sink;
    std::vector<png_bytep> rows;
    bool ok = ReadPngC(f, header_only, as_rgba, out, &rows, &sink);
    std::fclose(f);
    if (!ok) *error = "cannot read " + path + ": " + (sink.text[0] ? sink.text : "out of memory");
    return ok;
}

}  // namespace

bool ReadPng(const std::string& path, bool as_rgba, PngFrame* out, std::string* error) {
    return Read(path, false, as_rgba, out, error);
}

bool PeekPng(const std::string& path, PngFrame* out, std::string* error) {
    return Read(path, true, false, out, error);
}
