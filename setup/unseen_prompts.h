#pragma once

#include <cstdint>

// True unless the process's window station is known to be shown to someone: services and
// deployment tools running as SYSTEM sit on one nobody sees.
bool NeedsNonInteractiveSetup(int answered, std::uint32_t windowStationFlags);

// Before staging: where nobody could answer a Windows prompt (the driver-signing question
// among them), has the Setup API fail the call instead of waiting forever. On a visible
// desktop nothing changes, so a person can still answer.
void AvoidUnseenPrompts();
