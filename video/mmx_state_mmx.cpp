// The wide decoding path may leave the processor in MMX state; floating-point
// code after a frame needs it released.
#include "video/frame_target.h"

#if defined(__MMX__)
#include <mmintrin.h>
void ReleaseMmxState() { _mm_empty(); }
#else
void ReleaseMmxState() {}
#endif
