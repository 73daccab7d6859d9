// No waveOut outside Windows: the back-end runs natively only on calls a
// test supplies.
#include "sound/waveout/waveout_driver.h"

const WaveOutCalls* PlatformWaveOutCalls() { return nullptr; }
