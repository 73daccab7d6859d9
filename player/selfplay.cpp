#include "player/selfplay.h"

#include "player/cmdline.h"

static_assert(kSelfPlayAreaSize - kSelfPlayTagSize == kConfigTextSize, "configuration text fills the area");

extern "C" {
__attribute__((used)) char QuarvelSelfPlayArea[kSelfPlayAreaSize] = {'S', 'E', 'L', 'F', 'P', 'L', 'A', 'Y'};
}

char* SelfPlayConfigText() {
    // A patched area may lack the terminator; the last byte is never text.
    QuarvelSelfPlayArea[kSelfPlayAreaSize - 1] = '\0';
    return QuarvelSelfPlayArea + kSelfPlayTagSize;
}
