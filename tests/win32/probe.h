// Shared by the parts of probe.exe, the one helper program of the Windows
// tests (subcommands listed in probe.cpp).
#pragma once
#include <windows.h>

#include <string>

// One check of a self-checking subcommand, printed when it fails; safe from
// any thread.
void Check(bool ok, const std::string& what);
// Prints "N checks, M failed"; the exit code: 0 when none failed.
int Verdict();
// Dispatches this program's window messages for ms milliseconds.
void Pump(DWORD ms);

int ExportsMain(int argc, char** argv);     // probe_exports.cpp
int FullScreenMain(int argc, char** argv);  // probe_inside.cpp
int DisplayModeMain(int argc, char** argv);
int KeysMain(int argc, char** argv);
