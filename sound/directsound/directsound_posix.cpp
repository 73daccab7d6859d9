// No DirectSound outside Windows: the back-end runs natively only on calls a
// test supplies.
#include "sound/directsound/directsound_driver.h"

const DsCalls* PlatformDsCalls() { return nullptr; }
