// Hooks of the open/close code that tests need.
#pragma once

// Forgets the debug flag so that the next open reads the profile again (the
// library reads it once per process).
void ResetDebugFlag();
