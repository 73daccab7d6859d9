// The process-wide sound-driver table and the choice of the default back-end.
#include "sound/sound_driver.h"

#include "sound/headless/headless_driver.h"
#include "sound/waveout/waveout_driver.h"

SoundDriver SoundDriverTable = {};

void InstallDefaultSoundDriver() {
#ifdef _WIN32
    InstallWaveOutSoundDriver();
#else
    InstallHeadlessSoundDriver();
#endif
}

void UninstallSoundDriver() { SoundDriverTable = SoundDriver{}; }
