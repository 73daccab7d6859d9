// The player's command line: switches into PlayerSettings, the movie names
// that remain, and the usage box. Player text is 8-bit and zero-terminated;
// a "blank" is any byte whose value as a signed 8-bit number is 32 or less.
#pragma once
#include <cstddef>
#include <cstdint>

// Buffer sizes of the player's texts, terminator included.
constexpr size_t kCommandLineSize = 256;   // the command line after the program name
constexpr size_t kConfigTextSize = 216;    // self-play text (+ a blank and the command line)
constexpr size_t kNameListSize = 128;      // names still to be played
constexpr size_t kNameSize = 128;          // the current name, with its default extension

extern const char kDefaultExtension[];     // ".Qvl"
extern const char kUsageText[];            // lines joined by "\r\n"
extern const char kUsageTitle[];           // "QuarvPlay  V 3.1r - " + copyright
extern const char kBannerText[];           // "QuarvPlay - V3.1r  " + copyright
extern const char kCopyrightNotice[];

inline bool IsBlank(char c) { return static_cast<signed char>(c) <= 32; }

// Shows the usage box. The Win32 program points it at ShowUsage; tests point
// it at a recorder. Null shows nothing.
extern void (*UsageHook)();

// Installs the DirectSound sound driver for /Z; true on success. Null (no
// DirectSound support linked in) counts as a failure.
extern bool (*UseDirectSoundHook)();

// Removes blanks from both ends of `text`, in place.
void TrimBlanks(char* text);
// True when `text` holds nothing but blanks.
bool IsBlankText(const char* text);

// Applies every switch of `text` to Settings and removes it from `text`, in
// place. Returns true, or shows the usage box and returns false when a "/"
// is left over (unknown letter, number switch without digits, repeated switch).
bool ParseSwitches(char* text);

// Takes the parent-window switch /# (number form) out of the command line
// and removes a bare /# too. Returns the handle, or 0 when absent.
uintptr_t TakeParentSwitch(char* text);

// Copies the process command line into its fixed buffer. False, with `dst`
// empty, when it does not fit: such a line is refused rather than cut.
bool CopyCommandLine(char (&dst)[kCommandLineSize], const char* commandLine);

// Start-up steps of the player before playback: parses the self-play text
// (`config`, a kConfigTextSize buffer, may be empty) and the command line
// (with /# already taken out), appending the command line to the
// configuration text when there is one. Returns the text of movie names to
// play (pointing into `config` or `commandLine`), or null after the usage box
// was shown: a failed parse, no names, or a text beyond its buffer's limit.
char* PrepareNames(char* config, char* commandLine);

// Moves the first name of `list` into `name` (a buffer of nameSize bytes) and
// leaves the rest of the list, trimmed, in `list`. Returns false when the
// name did not fit; it is then cut to nameSize - 1 bytes.
bool TakeFirstName(char* name, size_t nameSize, char* list);

// True when, scanning backwards, a "." comes before a ":", a "\" or the start.
bool HasExtension(const char* name);

// Appends ".Qvl" to a name that has no extension and does not start with ":"
// (a name for the program's own executable). False, with `name` unchanged,
// when the result would not fit in nameSize bytes.
bool AddDefaultExtension(char* name, size_t nameSize);
