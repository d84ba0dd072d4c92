#pragma once

#include <cstdint>

// What the process knows about where it runs.
struct ProcessStation {
  bool stationAnswered;  // the window station's flags could be had
  std::uint32_t stationFlags;
  bool sessionAnswered;  // the session id could be had
  std::uint32_t session;
  bool vistaOrLater;
};

// True unless the process is known to be seen by someone: services and deployment tools running
// as SYSTEM sit on a window station nobody sees, and from Vista on session 0 holds only
// services, whatever its window station says. On XP session 0 is the console user's.
bool NeedsNonInteractiveSetup(const ProcessStation& station);

// Before staging: where nobody could answer a Windows prompt (the driver-signing question
// among them), has the Setup API fail the call instead of waiting forever. On a visible
// desktop nothing changes, so a person can still answer.
void AvoidUnseenPrompts();
