// The portable half of the player window: key queue, key table, class name,
// styles and placement arithmetic.
#include "player/window.h"

#include "player/settings.h"

namespace {

uint8_t queue[kKeyQueueSize];
uint32_t queueCount;

enum : uint32_t {
    VK_TAB_ = 9,
    VK_PRIOR_ = 33,  // Page Up; 33..40 run to Down
    VK_DOWN_ = 40,
    VK_INSERT_ = 45,
    VK_DELETE_ = 46,
    VK_F1_ = 112,
    VK_F9_ = 120,
    VK_F10_ = 121,
};

}  // namespace

void QueueKey(uint8_t code) {
    if (queueCount < kKeyQueueSize) queue[queueCount++] = code;
}

uint32_t QueuedKeyCount() { return queueCount; }

int TakeKey() {
    if (queueCount == 0) return -1;
    const uint8_t code = queue[0];
    for (uint32_t i = 1; i < queueCount; i++) queue[i - 1] = queue[i];
    queueCount--;
    return code;
}

void ClearKeyQueue() { queueCount = 0; }

int KeyCodeFor(KeySource source, uint32_t key, bool shift, bool ctrl, uint32_t keyData) {
    switch (source) {
        case KeySource::Character:
            if (key == VK_TAB_ && shift) return 137;
            return static_cast<int>(key & 0xFF);
        case KeySource::KeyDown:
            if (key >= VK_F1_ && key <= VK_F10_) {
                if (shift) return static_cast<int>(key + 106);
                if (ctrl) return static_cast<int>(key + 116);
                return static_cast<int>(key + 96);
            }
            if ((key >= VK_PRIOR_ && key <= VK_DOWN_) || key == VK_INSERT_ || key == VK_DELETE_)
                return static_cast<int>(key + 128);
            return -1;
        case KeySource::SystemKeyDown:
            if (key == VK_F10_) return (keyData & (1u << 29)) ? 247 : 217;
            if (key >= VK_F1_ && key <= VK_F9_) return static_cast<int>(key + 126);
            return -1;
    }
    return -1;
}

void BuildClassName(char name[kClassNameSize], uintptr_t instance) {
    const char base[] = "KOVDW0000";
    for (size_t i = 0; i < sizeof base; i++) name[i] = base[i];
    for (int i = 0; i < 4; i++) name[5 + i] = static_cast<char>('A' + ((instance >> (12 - 4 * i)) & 0xF));
}

WindowStyle StyleForDisplayFlags(uint32_t flags) {
    WindowStyle s{kStyleBase, kExStyleDlgModalFrame};
    if (flags & DISPLAY_NO_DLGFRAME) s.exStyle = 0;
    if (flags & DISPLAY_THIN_BORDER) s.style |= kStyleBorder;
    if (!(flags & DISPLAY_NO_CAPTION)) s.style |= kStyleCaption;
    return s;
}

uint32_t BufferTypeFor(uint32_t flags) {
    uint32_t type;
    switch (flags & DISPLAY_TYPE_MASK) {
        case 25: type = 5; break;
        case 24: type = 4; break;
        case 23: type = (flags & DISPLAY_DOUBLE_BUFFER) ? 2 : 3; break;
        case 22: type = 1; break;
        default: type = 0; break;
    }
    if (flags & DISPLAY_NO_DIRECTDRAW) type |= 0x80;
    if (flags & DISPLAY_SMOOTH) type |= 0x100;
    if (flags & DISPLAY_INTERLACED) type |= 0x200;
    return type;
}

WindowPlacement PlaceWindow(const WindowFrame& frame, int32_t x, int32_t y, uint32_t w, uint32_t h,
                            int32_t screenWidth, int32_t screenHeight) {
    WindowPlacement p;
    const int32_t sw = static_cast<int32_t>(w), sh = static_cast<int32_t>(h);
    p.x = x == -1 ? (screenWidth - sw) / 2 - frame.clientLeft : x;
    p.y = y == -1 ? (screenHeight - sh) / 2 - frame.clientTop : y;
    p.width = sw + frame.extraWidth;
    p.height = sh + frame.extraHeight;
    return p;
}

int32_t AlignLeftEdge(int32_t x, int32_t clientLeft) {
    // Two's complement AND rounds toward minus infinity, also left of the screen.
    return ((x + clientLeft + 3) & ~7) - clientLeft;
}
