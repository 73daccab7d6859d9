// The player window: its key queue, key table, class name, styles and
// placement (portable), and the Win32 window itself.
#pragma once
#include <cstddef>
#include <cstdint>

struct QuarvBuffer;

// Key codes the playback loop acts on; other codes are queued and ignored.
enum : uint8_t {
    KEY_ENTER = 13,
    KEY_ESCAPE = 27,
    KEY_SPACE = 32,
    KEY_PERIOD = 46,
    KEY_CLOSE = 241,  // the window was asked to close (also Alt+F4)
};

// --- Key queue: up to 64 codes, oldest first; it lives for the whole process.
constexpr uint32_t kKeyQueueSize = 64;
// Appends a code; a full queue drops it.
void QueueKey(uint8_t code);
uint32_t QueuedKeyCount();
// Removes and returns the oldest code, or -1 when the queue is empty.
int TakeKey();
void ClearKeyQueue();

// --- Key table.
enum class KeySource { Character, KeyDown, SystemKeyDown };
// The code queued for a key message, or -1 when the key is not in the table
// (key-down messages then get default handling). keyData is the message's
// lParam (bit 29 = Alt held).
int KeyCodeFor(KeySource source, uint32_t key, bool shift, bool ctrl, uint32_t keyData);

// --- Window class name: "KOVDW" followed by the low 16 bits of the instance
// handle as four letters 'A' + nibble, most significant first.
constexpr size_t kClassNameSize = 10;
void BuildClassName(char name[kClassNameSize], uintptr_t instance);

// --- Styles. Win32 style bits, spelled out so the rule is testable anywhere.
enum : uint32_t {
    kStylePopup = 0x80000000,
    kStyleClipChildren = 0x02000000,
    kStyleSysMenu = 0x00080000,
    kStyleMinimizeBox = 0x00020000,
    kStyleBorder = 0x00800000,
    kStyleCaption = 0x00C00000,
    kExStyleDlgModalFrame = 0x00000001,
    kStyleBase = kStylePopup | kStyleClipChildren | kStyleSysMenu | kStyleMinimizeBox,
};
struct WindowStyle {
    uint32_t style;
    uint32_t exStyle;
};
WindowStyle StyleForDisplayFlags(uint32_t displayFlags);

// The type argument of QuarvBufferOpen for the display flags' video-type
// code and modifier bits.
uint32_t BufferTypeFor(uint32_t displayFlags);

// --- Placement.
// What the window frame adds, measured once on the freshly made window.
struct WindowFrame {
    int32_t clientLeft;   // left border width
    int32_t clientTop;    // top border with the caption
    int32_t extraWidth;   // outer width - client width
    int32_t extraHeight;  // outer height - client height
};
struct WindowPlacement {
    int32_t x, y, width, height;  // outer rectangle
};
// x, y: the outer top-left corner, or -1 to centre the client area of a
// w x h picture on a screenWidth x screenHeight screen.
WindowPlacement PlaceWindow(const WindowFrame& frame, int32_t x, int32_t y, uint32_t w, uint32_t h,
                            int32_t screenWidth, int32_t screenHeight);
// The left edge a move is given so that the client area starts on the
// nearest multiple of 8 (a remainder of 4 rounds down).
int32_t AlignLeftEdge(int32_t x, int32_t clientLeft);

// --- The Win32 window (window_win32.cpp).
// Makes sure the window and a display of at least width x height exist,
// placed at x, y (-1 = centred).
bool OpenPlayerWindow(uint32_t width, uint32_t height, int32_t x, int32_t y, uint32_t displayFlags);
void ClosePlayerWindow();
// Dispatches every queued message; meeting the quit message forgets the
// window and returns at once.
void PumpMessages();
bool KeyWaiting();
// Waits for a code and returns the oldest.
int GetKey();
// The player window (an HWND), or null; message boxes take it as owner.
void* PlayerWindowHandle();
// The display opened for the window, or null.
QuarvBuffer* PlayerDisplay();
// What the frame of the window adds, as measured when it was made.
WindowFrame PlayerWindowFrame();
