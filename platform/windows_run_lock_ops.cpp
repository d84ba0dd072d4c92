// The run lock: a named mutex, its security, and Vista's private namespaces.
#include <windows.h>
// sddl.h needs the types of windows.h first.
#include <sddl.h>

#include <cstdint>

#include "platform/system_dlls.h"
#include "platform/windows_handle.h"
#include "platform/windows_sections.h"

namespace {

SECURITY_ATTRIBUTES SecurityOf(SecurityDescriptor descriptor) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  return attributes;
}

SystemHandle CreateMutexOp(const char* name, SecurityDescriptor security) {
  SECURITY_ATTRIBUTES attributes = SecurityOf(security);
  return ::CreateMutexA(security != nullptr ? &attributes : nullptr, FALSE, name);
}

SystemHandle OpenMutexOp(std::uint32_t access, const char* name) {
  return ::OpenMutexA(access, FALSE, name);
}

std::uint32_t WaitOp(SystemHandle handle) {
  return ::WaitForSingleObject(static_cast<HANDLE>(handle), INFINITE);
}

int ReleaseMutexOp(SystemHandle handle) { return ::ReleaseMutex(static_cast<HANDLE>(handle)); }

SecurityDescriptor SecurityFromSddl(const char* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor,
                                                              nullptr)) {
    return nullptr;
  }
  return descriptor;
}

void FreeSecurity(SecurityDescriptor descriptor) { ::LocalFree(descriptor); }

// Vista's private namespaces: XP's kernel32 has none of them.
struct NamespaceFunctions {
  using CreateBoundary = HANDLE(WINAPI*)(LPCSTR, ULONG);
  using AddSid = BOOL(WINAPI*)(HANDLE*, PSID);
  using DeleteBoundary = VOID(WINAPI*)(HANDLE);
  using CreateNamespace = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, LPVOID, LPCSTR);
  using OpenNamespace = HANDLE(WINAPI*)(LPVOID, LPCSTR);
  using CloseNamespace = BOOLEAN(WINAPI*)(HANDLE, ULONG);
  CreateBoundary createBoundary;
  AddSid addSid;
  DeleteBoundary deleteBoundary;
  CreateNamespace createNamespace;
  OpenNamespace openNamespace;
  CloseNamespace closeNamespace;
  bool complete() const {
    return createBoundary && addSid && deleteBoundary && createNamespace && openNamespace &&
           closeNamespace;
  }
};

const NamespaceFunctions& Namespaces() {
  const HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  static const NamespaceFunctions functions = {
      .createBoundary =
          SystemFunction<NamespaceFunctions::CreateBoundary>(kernel32, "CreateBoundaryDescriptorA"),
      .addSid = SystemFunction<NamespaceFunctions::AddSid>(kernel32, "AddSIDToBoundaryDescriptor"),
      .deleteBoundary =
          SystemFunction<NamespaceFunctions::DeleteBoundary>(kernel32, "DeleteBoundaryDescriptor"),
      .createNamespace =
          SystemFunction<NamespaceFunctions::CreateNamespace>(kernel32, "CreatePrivateNamespaceA"),
      .openNamespace =
          SystemFunction<NamespaceFunctions::OpenNamespace>(kernel32, "OpenPrivateNamespaceA"),
      .closeNamespace =
          SystemFunction<NamespaceFunctions::CloseNamespace>(kernel32, "ClosePrivateNamespace"),
  };
  return functions;
}

int PrivateNamespacesAvailableOp() { return Namespaces().complete() ? 1 : 0; }

SystemHandle CreateBoundaryOp(const char* name) { return Namespaces().createBoundary(name, 0); }

int AddAdministratorsOp(SystemHandle* boundary) {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD size = sizeof sid;
  if (!::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size)) {
    return 0;
  }
  return Namespaces().addSid(boundary, sid) ? 1 : 0;
}

void DeleteBoundaryOp(SystemHandle boundary) { Namespaces().deleteBoundary(boundary); }

SystemHandle CreateNamespaceOp(SecurityDescriptor security, SystemHandle boundary,
                               const char* alias) {
  SECURITY_ATTRIBUTES attributes = SecurityOf(security);
  return Namespaces().createNamespace(security != nullptr ? &attributes : nullptr, boundary, alias);
}

SystemHandle OpenNamespaceOp(SystemHandle boundary, const char* alias) {
  return Namespaces().openNamespace(boundary, alias);
}

// Without the destroy flag: a run waiting in the namespace keeps it through its own handle.
int CloseNamespaceOp(SystemHandle privateNamespace) {
  return Namespaces().closeNamespace(privateNamespace, 0) ? 1 : 0;
}

}  // namespace

void AddRunLockOps(PlatformOps* ops) {
  ops->CreateMutexA = CreateMutexOp;
  ops->OpenMutexA = OpenMutexOp;
  ops->WaitForSingleObject = WaitOp;
  ops->ReleaseMutex = ReleaseMutexOp;
  ops->SecurityDescriptorFromSddl = SecurityFromSddl;
  ops->FreeSecurityDescriptor = FreeSecurity;
  ops->PrivateNamespacesAvailable = PrivateNamespacesAvailableOp;
  ops->CreateBoundaryDescriptorA = CreateBoundaryOp;
  ops->AddAdministratorsToBoundary = AddAdministratorsOp;
  ops->DeleteBoundaryDescriptor = DeleteBoundaryOp;
  ops->CreatePrivateNamespaceA = CreateNamespaceOp;
  ops->OpenPrivateNamespaceA = OpenNamespaceOp;
  ops->ClosePrivateNamespace = CloseNamespaceOp;
}
