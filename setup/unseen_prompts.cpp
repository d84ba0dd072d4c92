#include "setup/unseen_prompts.h"

#include "common/windows_release.h"
#include "platform/platform_ops.h"

bool NeedsNonInteractiveSetup(const ProcessStation& station) {
  if (!station.stationAnswered || (station.stationFlags & kWindowStationVisible) == 0) {
    return true;
  }
  return station.vistaOrLater && station.sessionAnswered && station.session == 0;
}

void AvoidUnseenPrompts() {
  ProcessStation station{};
  station.stationAnswered = Platform().GetProcessWindowStationFlags(&station.stationFlags) != 0;
  station.sessionAnswered =
      Platform().ProcessIdToSessionId(Platform().GetCurrentProcessId(), &station.session) != 0;
  station.vistaOrLater = IsWindowsVersionAtLeast(6, 0, 0);
  if (NeedsNonInteractiveSetup(station)) {
    Platform().SetupSetNonInteractiveMode(1);
  }
}
