// The playback loop over the movie names left after the switches.
#pragma once

// Plays every name of `names` (a blank-separated list, consumed in place)
// with the process-wide player settings.
void PlayMovies(char* names);
