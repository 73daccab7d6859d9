// Whether the mouse pointer is drawn into the screen memory by software, so
// that direct writes to the primary surface must hide it first.
#pragma once
#include <cstdint>

// surface is an IDirectDrawSurface*, cursor the pointer shape to test (an
// HCURSOR). 1: software pointer; 0: hardware pointer, no mouse, or the
// surface cannot be locked. The answer is kept for the same cursor, surface
// memory and depth.
uint32_t CursorProbe(void* surface, void* cursor);
// Forgets the kept answer (tests).
void CursorProbeForget();
