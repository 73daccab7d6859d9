// The text and title of the player's message boxes, composed portably; the
// box itself is ShowMessage (player/message_box.h).
#pragma once
#include <cstddef>

constexpr size_t kMessageTextSize = 2048;

extern const char kPlayerTitle[];  // "QuarvPlay"

// The player title: the window caption and the default message-box title.
void SetPlayerTitle(const char* title);
const char* PlayerTitle();

// `title`, or the player title when there is none.
const char* MessageTitle(const char* title);

// Joins text1, text2 and text3 (each may be null) into `out` of `size` bytes.
// One leading space of text1 is dropped, so texts can be written with the
// indentation they have elsewhere. Text beyond size - 1 bytes is cut off.
void ComposeMessageText(char* out, size_t size, const char* text1, const char* text2, const char* text3);
