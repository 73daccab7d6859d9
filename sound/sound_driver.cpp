// The process-wide sound-driver table and the choice of the default back-end.
#include "sound/sound_driver.h"

#include "sound/headless/headless_driver.h"

SoundDriver SoundDriverTable = {};

void InstallDefaultSoundDriver() { InstallHeadlessSoundDriver(); }

void UninstallSoundDriver() { SoundDriverTable = SoundDriver{}; }
