#include "player/playback.h"

// Nothing is played yet: the playback loop comes with the movie library.
void PlayMovies(char*) {}
