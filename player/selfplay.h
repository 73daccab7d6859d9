// The self-play area: 224 bytes of writable static data that a tool finds in
// the executable file by its tag "SELFPLAY" and fills after the build with
// the configuration text, e.g. ":94720 /W640/I4/J" (the movie appended to
// the executable at byte 94720, and the switches to play it with).
#pragma once
#include <cstddef>

constexpr size_t kSelfPlayAreaSize = 224;
constexpr size_t kSelfPlayTagSize = 8;

// External and marked used so the linker keeps it, tag and all, in .data.
extern "C" char QuarvelSelfPlayArea[kSelfPlayAreaSize];

// The configuration text (the 216 bytes after the tag), always terminated.
// Empty in a plain player. Parsing consumes it in place.
char* SelfPlayConfigText();
