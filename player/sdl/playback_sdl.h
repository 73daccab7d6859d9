// The playback loop on SDL: the library, the window and its display behind
// the services the loop is written against.
#pragma once

struct NativeOptions;

// Plays the movies of `options` with the process-wide settings; the exit
// code: 0, or 1 after a movie or the window could not be opened (the
// reason went to standard error as one line).
int PlayMoviesSdl(const NativeOptions& options);
