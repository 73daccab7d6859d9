#include "player/message_text.h"

#include <cstring>

const char kPlayerTitle[] = "QuarvPlay";

namespace {
const char* g_title = kPlayerTitle;

// Appends src to out[0..used), never past size - 1 bytes.
size_t Append(char* out, size_t size, size_t used, const char* src) {
    if (!src) return used;
    const size_t room = size - 1 - used;
    const size_t n = strnlen(src, room);
    std::memcpy(out + used, src, n);
    return used + n;
}
}  // namespace

void SetPlayerTitle(const char* title) { g_title = title ? title : kPlayerTitle; }
const char* PlayerTitle() { return g_title; }

const char* MessageTitle(const char* title) { return title ? title : g_title; }

void ComposeMessageText(char* out, size_t size, const char* text1, const char* text2, const char* text3) {
    if (size == 0) return;
    if (text1 && text1[0] == ' ') ++text1;
    size_t used = 0;
    used = Append(out, size, used, text1);
    used = Append(out, size, used, text2);
    used = Append(out, size, used, text3);
    out[used] = '\0';
}
