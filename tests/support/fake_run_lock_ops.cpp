// The run lock: the mutex, its security and the private namespace calls.

#include "tests/support/fake_platform_sections.h"

namespace fake_platform {
namespace {

std::string g_securityText;

std::string SecurityName(SecurityDescriptor security) {
  return security == nullptr ? "default" : *static_cast<const std::string*>(security);
}

SystemHandle FakeCreateMutexA(const char* name, SecurityDescriptor security) {
  if (Record(std::string("CreateMutexA ") + name + " security=" + SecurityName(security))) {
    return Fail<SystemHandle>(nullptr);
  }
  if (g_fake->mutexCreateError != 0) {
    return Fail<SystemHandle>(nullptr, g_fake->mutexCreateError);
  }
  ++g_fake->openHandles;
  return &g_mutex;
}

SystemHandle FakeOpenMutexA(std::uint32_t access, const char* name) {
  if (Record("OpenMutexA " + Hex(access) + " " + name)) {
    return Fail<SystemHandle>(nullptr);
  }
  if (g_fake->mutexOpenError != 0) {
    return Fail<SystemHandle>(nullptr, g_fake->mutexOpenError);
  }
  ++g_fake->openHandles;
  return &g_mutex;
}

std::uint32_t FakeWaitForSingleObject(SystemHandle handle) {
  if (Record("WaitForSingleObject " + HandleName(handle))) {
    return Fail(kWaitFailed);
  }
  if (g_fake->onWait) g_fake->onWait();
  g_fake->mutexHeld = g_fake->waitAnswer == kWaitObject0 || g_fake->waitAnswer == kWaitAbandoned;
  return g_fake->waitAnswer;
}

int FakeReleaseMutex(SystemHandle handle) {
  if (Record("ReleaseMutex " + HandleName(handle))) {
    return Fail(0);
  }
  if (g_fake->onReleaseMutex) g_fake->onReleaseMutex();
  g_fake->mutexHeld = false;
  return 1;
}

SecurityDescriptor FakeSecurityDescriptorFromSddl(const char* sddl) {
  if (Record(std::string("SecurityDescriptorFromSddl ") + sddl)) {
    return Fail<SecurityDescriptor>(nullptr);
  }
  if (g_fake->sddlError != 0) {
    return Fail<SecurityDescriptor>(nullptr, g_fake->sddlError);
  }
  g_securityText = sddl;
  ++g_fake->openHandles;
  return &g_securityText;
}

void FakeFreeSecurityDescriptor(SecurityDescriptor security) {
  Record("FreeSecurityDescriptor " + SecurityName(security));
  --g_fake->openHandles;
}

int FakePrivateNamespacesAvailable() {
  if (Record("PrivateNamespacesAvailable")) {
    return Fail(0);
  }
  return g_fake->hasPrivateNamespaces ? 1 : 0;
}

SystemHandle FakeCreateBoundaryDescriptorA(const char* name) {
  if (Record(std::string("CreateBoundaryDescriptorA ") + name)) {
    return Fail<SystemHandle>(nullptr);
  }
  if (g_fake->boundaryError != 0) {
    return Fail<SystemHandle>(nullptr, g_fake->boundaryError);
  }
  ++g_fake->openHandles;
  return &g_boundary;
}

int FakeAddAdministratorsToBoundary(SystemHandle* boundary) {
  if (Record("AddAdministratorsToBoundary " + HandleName(*boundary))) {
    return Fail(0);
  }
  return 1;
}

void FakeDeleteBoundaryDescriptor(SystemHandle boundary) {
  Record("DeleteBoundaryDescriptor " + HandleName(boundary));
  --g_fake->openHandles;
}

// The next scripted answer of a namespace call: 0 (success) once the script runs out.
std::uint32_t NextNamespaceError(std::deque<std::uint32_t>& errors) {
  if (errors.empty()) {
    return 0;
  }
  const std::uint32_t error = errors.front();
  errors.pop_front();
  return error;
}

SystemHandle NamespaceAnswer(std::uint32_t error) {
  if (error != 0) {
    g_fake->lastError = error;
    return nullptr;
  }
  ++g_fake->openHandles;
  return &g_namespace;
}

SystemHandle FakeCreatePrivateNamespaceA(SecurityDescriptor security, SystemHandle boundary,
                                         const char* alias) {
  if (Record(std::string("CreatePrivateNamespaceA ") + alias + " boundary=" + HandleName(boundary) +
             " security=" + SecurityName(security))) {
    return Fail<SystemHandle>(nullptr);
  }
  return NamespaceAnswer(NextNamespaceError(g_fake->namespaceCreateErrors));
}

SystemHandle FakeOpenPrivateNamespaceA(SystemHandle boundary, const char* alias) {
  if (Record(std::string("OpenPrivateNamespaceA ") + alias + " boundary=" + HandleName(boundary))) {
    return Fail<SystemHandle>(nullptr);
  }
  return NamespaceAnswer(NextNamespaceError(g_fake->namespaceOpenErrors));
}

int FakeClosePrivateNamespace(SystemHandle privateNamespace) {
  const bool fails = Record("ClosePrivateNamespace " + HandleName(privateNamespace));
  --g_fake->openHandles;
  return fails ? Fail(0) : 1;
}

}  // namespace

void AddRunLockFakes(PlatformOps* ops) {
  ops->CreateMutexA = FakeCreateMutexA;
  ops->OpenMutexA = FakeOpenMutexA;
  ops->WaitForSingleObject = FakeWaitForSingleObject;
  ops->ReleaseMutex = FakeReleaseMutex;
  ops->SecurityDescriptorFromSddl = FakeSecurityDescriptorFromSddl;
  ops->FreeSecurityDescriptor = FakeFreeSecurityDescriptor;
  ops->PrivateNamespacesAvailable = FakePrivateNamespacesAvailable;
  ops->CreateBoundaryDescriptorA = FakeCreateBoundaryDescriptorA;
  ops->AddAdministratorsToBoundary = FakeAddAdministratorsToBoundary;
  ops->DeleteBoundaryDescriptor = FakeDeleteBoundaryDescriptor;
  ops->CreatePrivateNamespaceA = FakeCreatePrivateNamespaceA;
  ops->OpenPrivateNamespaceA = FakeOpenPrivateNamespaceA;
  ops->ClosePrivateNamespace = FakeClosePrivateNamespace;
}

}  // namespace fake_platform
