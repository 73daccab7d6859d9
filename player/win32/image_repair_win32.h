// Readiness of this executable's image for code reached through its exports
// from another program that loaded it as a module.
#pragma once

// Repairs, on the first call in a process, what a loader leaves undone for
// an executable loaded with LoadLibrary (relocations, imports), and answers
// whether the image's code may run. Safe from any number of threads at
// once; once repaired, a call costs one load. Position-independent: it may
// be the first code of the image that runs.
bool ImageReady();
