#include "setup/run_lock.h"

const char kRunMutexName[] = "Global\\QZ_DriverSetup_Run";

RunLock TakeRunLock() {
  const SystemHandle mutex = Platform().CreateMutexA(kRunMutexName);
  if (mutex == nullptr) {
    return {nullptr, false};
  }
  const std::uint32_t waited = Platform().WaitForSingleObject(mutex);
  return {mutex, waited == kWaitObject0 || waited == kWaitAbandoned};
}

void ReleaseRunLock(const RunLock& lock) {
  if (lock.mutex == nullptr) {
    return;
  }
  if (lock.owned) {
    Platform().ReleaseMutex(lock.mutex);
  }
  Platform().CloseHandle(lock.mutex);
}
