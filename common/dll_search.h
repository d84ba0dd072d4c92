#pragma once

// The first thing each program does, before anything could load a DLL: keeps the DLL search out
// of the program's own folder, which other accounts may write to, and loads from the system
// folder every DLL the system DLLs it calls would otherwise look for there later.
void KeepDllsInSystemFolder();
