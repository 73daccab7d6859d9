// SDL audio output: one SDL audio device per track, opened at the track's
// own format (rate, 8 or 16 bits, mono or stereo), whose callback takes the
// sound straight from the track's ring on SDL's audio thread.
#pragma once

// Fills the driver table with this back-end. False when another back-end is
// installed already or SDL's audio cannot be started (no sound system).
bool InstallSdlSoundDriver();
