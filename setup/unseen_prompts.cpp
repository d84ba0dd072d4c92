#include "setup/unseen_prompts.h"

#include "platform/platform_ops.h"

bool NeedsNonInteractiveSetup(int answered, std::uint32_t windowStationFlags) {
  return answered == 0 || (windowStationFlags & kWindowStationVisible) == 0;
}

void AvoidUnseenPrompts() {
  std::uint32_t flags = 0;
  const int answered = Platform().GetProcessWindowStationFlags(&flags);
  if (NeedsNonInteractiveSetup(answered, flags)) {
    Platform().SetupSetNonInteractiveMode(1);
  }
}
