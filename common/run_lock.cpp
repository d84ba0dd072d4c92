#include "common/run_lock.h"

const char kRunMutexName[] = "Global\\QZ_DriverSetup_Run";
const char kRunNamespaceBoundary[] = "QZ_DriverSetup_Boundary";
const char kRunNamespaceAlias[] = "QZ_DriverSetup";
const char kRunNamespacedMutexName[] = "QZ_DriverSetup\\QZ_DriverSetup_Run";
const char kRunLockSecurity[] = "D:(A;;GA;;;SY)(A;;GA;;;BA)";

namespace {

// Another run may close the last handle of the namespace between our failed create and our
// open; a few turns settle that race, and a machine that keeps losing it gets no lock.
constexpr int kNamespaceAttempts = 8;

// A mutex made by a run under another account (SYSTEM from a deployment tool) may grant others
// no more than waiting on it, which is all a run needs.
SystemHandle CreateOrOpenMutex(const char* name, SecurityDescriptor security) {
  const SystemHandle mutex = Platform().CreateMutexA(name, security);
  if (mutex != nullptr || Platform().GetLastError() != kErrorAccessDenied) {
    return mutex;
  }
  return Platform().OpenMutexA(kSynchronizeAccess, name);
}

// Null when this process may not enter the boundary (a token without Administrators) or the
// namespace keeps vanishing.
SystemHandle CreateOrOpenNamespace(SecurityDescriptor security) {
  SystemHandle boundary = Platform().CreateBoundaryDescriptorA(kRunNamespaceBoundary);
  if (boundary == nullptr) {
    return nullptr;
  }
  SystemHandle opened = nullptr;
  if (Platform().AddAdministratorsToBoundary(&boundary) != 0) {
    for (int attempt = 0; attempt < kNamespaceAttempts && opened == nullptr; ++attempt) {
      opened = Platform().CreatePrivateNamespaceA(security, boundary, kRunNamespaceAlias);
      if (opened != nullptr || Platform().GetLastError() != kErrorAlreadyExists) {
        break;
      }
      opened = Platform().OpenPrivateNamespaceA(boundary, kRunNamespaceAlias);
      if (opened != nullptr) {
        break;
      }
      const std::uint32_t error = Platform().GetLastError();
      if (error != kErrorFileNotFound && error != kErrorPathNotFound) {
        break;
      }
    }
  }
  Platform().DeleteBoundaryDescriptor(boundary);
  return opened;
}

RunLock Wait(SystemHandle mutex, SystemHandle privateNamespace) {
  if (mutex == nullptr) {
    if (privateNamespace != nullptr) {
      Platform().ClosePrivateNamespace(privateNamespace);
    }
    return {nullptr, false, nullptr};
  }
  const std::uint32_t waited = Platform().WaitForSingleObject(mutex);
  return {mutex, waited == kWaitObject0 || waited == kWaitAbandoned, privateNamespace};
}

}  // namespace

RunLock TakeRunLock() {
  if (Platform().PrivateNamespacesAvailable() == 0) {
    return Wait(CreateOrOpenMutex(kRunMutexName, nullptr), nullptr);
  }
  // Without the descriptor the account's default one applies; the boundary still keeps
  // everyone but Administrators out.
  const SecurityDescriptor security = Platform().SecurityDescriptorFromSddl(kRunLockSecurity);
  const SystemHandle privateNamespace = CreateOrOpenNamespace(security);
  const SystemHandle mutex =
      privateNamespace != nullptr ? CreateOrOpenMutex(kRunNamespacedMutexName, security) : nullptr;
  if (security != nullptr) {
    Platform().FreeSecurityDescriptor(security);
  }
  return Wait(mutex, privateNamespace);
}

void ReleaseRunLock(const RunLock& lock) {
  if (lock.mutex == nullptr) {
    return;
  }
  if (lock.owned) {
    Platform().ReleaseMutex(lock.mutex);
  }
  Platform().CloseHandle(lock.mutex);
  // Closed last: a run waiting in it keeps the namespace alive through its own handle.
  if (lock.privateNamespace != nullptr) {
    Platform().ClosePrivateNamespace(lock.privateNamespace);
  }
}
