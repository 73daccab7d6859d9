// Small rules of the playback loop, kept apart from any window or library so
// that they can be checked on their own.
#pragma once
#include <cstddef>
#include <cstdint>

struct QuarvBuffer;

// What a key does in the wait loop.
enum class KeyAction { None, Step, Quit, TogglePause, Skip };
// `paused` is the loop's pause byte (0 running, 0xFF paused); `disabled` the
// /U bits.
KeyAction ActionForKey(int key, uint8_t paused, uint32_t disabledControls);

// After a frame was shown: whether it was the last one to show. A single
// movie counts its passes down in `loopCount` and goes round again (through
// the library's wrap) until the count runs out; in a list every movie plays
// once per pass.
bool FrameEndsMovie(uint32_t frameNum, uint32_t lastFrame, bool multiFile, uint32_t* loopCount);

// After a movie of a list was closed with the list empty: counts the pass
// down and says whether the list should be filled again.
bool ListRepeats(uint32_t* loopCount);

// The focus rule: what happens to the sound in one wait pass.
enum class FocusAction { None, SoundOff, SoundOn };
FocusAction FocusRule(bool keepPlayingUnfocused, bool focused, bool active);

// Whether the wait for the next frame is over after a pass.
bool WaitIsOver(uint32_t waitResult, bool active, uint8_t paused, bool step);

// The progress bar of /O: n = FrameNum x width / Frames + 1, low 8 bits,
// never more than the row holds. Writes colour 9 to the first n bytes of
// `row` and 0 to the rest of its `width` bytes; returns n.
uint32_t DrawProgressBar(uint8_t* row, uint32_t width, uint32_t frameNum, uint32_t frames);

// "QuarvPlay - Frame: " and frameNum + 1.
void FrameCaption(char* text, size_t size, uint32_t frameNum);

// A name ":N" names the program's own executable with a movie at byte N.
bool IsOwnImageName(const char* name);
// The byte offset of such a name: its leading decimal digits (none: 0).
// False when the number does not fit 31 bits (no file position can hold it).
bool OwnImageOffset(const char* name, uint32_t* offset);

// The screen size of a /D number (1..4); false for any other number.
bool DisplayModeSize(int32_t mode, uint32_t* width, uint32_t* height);

// The focus test: a full-screen display's own activation state, else
// whether the window with the keyboard focus is the display's player window.
bool DisplayHasFocus(const QuarvBuffer* display, const void* focusWindow);
