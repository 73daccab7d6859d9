#include "wav_read.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

uint32_t U16(const uint8_t* p) { return p[0] | p[1] << 8; }
uint32_t U32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24; }

}  // namespace

bool ParseWav(const std::vector<uint8_t>& f, const std::string& name, WavSound* out, std::string* error) {
    *out = WavSound{};
    if (f.size() < 12 || std::memcmp(f.data(), "RIFF", 4) != 0 || std::memcmp(f.data() + 8, "WAVE", 4) != 0) {
        *error = name + " is not a WAV file";
        return false;
    }
    bool have_fmt = false;
    size_t data_at = 0, data_len = 0;
    bool have_data = false;
    for (size_t p = 12; p + 8 <= f.size();) {
        const uint32_t len = U32(&f[p + 4]);
        const uint8_t* body = &f[p + 8];
        const size_t avail = f.size() - (p + 8);
        if (std::memcmp(&f[p], "fmt ", 4) == 0) {
            if (len < 16 || avail < 16) {
                *error = name + ": damaged format chunk";
                return false;
            }
            uint32_t tag = U16(body);
            if (tag == 0xFFFE && len >= 40 && avail >= 40) tag = U16(body + 24);  // extensible: sub-format
            out->channels = static_cast<int>(U16(body + 2));
            out->rate = U32(body + 4);
            out->bits = static_cast<int>(U16(body + 14));
            const uint32_t align = U16(body + 12);
            if (tag != 1) {
                *error = name + ": unsupported WAV format: encoding " + std::to_string(tag) +
                         " (only uncompressed PCM)";
                return false;
            }
            if (out->bits != 8 && out->bits != 16) {
                *error = name + ": unsupported WAV format: " + std::to_string(out->bits) +
                         "-bit samples (only 8 or 16)";
                return false;
            }
            if (out->channels != 1 && out->channels != 2) {
                *error = name + ": unsupported WAV format: " + std::to_string(out->channels) +
                         " channels (only mono or stereo)";
                return false;
            }
            if (out->rate == 0 || out->rate > 0xFFFFFF) {
                *error = name + ": unsupported WAV format: sample rate " + std::to_string(out->rate);
                return false;
            }
            if (align != uint32_t(out->bits / 8 * out->channels)) {
                *error = name + ": damaged format chunk (block size)";
                return false;
            }
            have_fmt = true;
        } else if (std::memcmp(&f[p], "data", 4) == 0) {
            data_at = p + 8;
            data_len = std::min<size_t>(len, avail);  // streamed files may leave the length open
            have_data = true;
            break;
        }
        if (len > avail) break;
        p += 8 + size_t(len) + (len & 1);
    }
    if (!have_fmt || !have_data) {
        *error = name + ": no " + std::string(have_fmt ? "data" : "format") + " chunk";
        return false;
    }
    const size_t frame = size_t(out->bits / 8 * out->channels);
    data_len -= data_len % frame;
    out->pcm.assign(f.begin() + data_at, f.begin() + data_at + data_len);
    return true;
}

bool ReadWav(const std::string& path, WavSound* out, std::string* error) {
    FILE* fp = std::fopen(path.c_str(), "rb");
    if (!fp) {
        *error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> bytes;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) bytes.insert(bytes.end(), buf, buf + n);
    const bool failed = std::ferror(fp);
    std::fclose(fp);
    if (failed) {
        *error = "cannot read " + path;
        return false;
    }
    return ParseWav(bytes, path, out, error);
}
