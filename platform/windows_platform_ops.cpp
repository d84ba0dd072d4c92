#include "platform/windows_platform_ops.h"

#include <windows.h>
// setupapi.h, sddl.h and wincrypt.h need the types of windows.h first.
#include <sddl.h>
#include <setupapi.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

static_assert(sizeof(OsVersionInfoEx) == sizeof(RTL_OSVERSIONINFOEXW), "version record layout");
static_assert(offsetof(OsVersionInfoEx, wServicePackMajor) ==
                  offsetof(RTL_OSVERSIONINFOEXW, wServicePackMajor),
              "version record layout");
static_assert(sizeof(SystemInfo) == sizeof(SYSTEM_INFO), "system info layout");
static_assert(offsetof(SystemInfo, wProcessorLevel) == offsetof(SYSTEM_INFO, wProcessorLevel),
              "system info layout");

namespace {

// A function of a loaded system DLL, looked up rather than imported: an import the DLL lacks
// (on XP, or an early XP update level) would keep the program from starting at all. Null when
// it is not there.
template <typename Fn>
Fn SystemFunction(HMODULE module, const char* name) {
  if (module == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<Fn>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

std::uint32_t ModuleFileName(ModuleHandle module, char* buffer, std::uint32_t capacity) {
  return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, capacity);
}

int CopyFileOp(const char* source, const char* destination, int failIfExists) {
  return ::CopyFileA(source, destination, failIfExists);
}

// 32-bit Windows XP's kernel32 does not export it.
int EnableFsRedirection(int enable) {
  using Fn = BOOLEAN(WINAPI*)(BOOLEAN);
  static const Fn fn =
      SystemFunction<Fn>(::GetModuleHandleA("kernel32.dll"), "Wow64EnableWow64FsRedirection");
  if (fn == nullptr) {
    return 0;
  }
  return fn(enable ? TRUE : FALSE) ? 1 : 0;
}

ModuleHandle ModuleHandleW(const wchar_t* name) { return ::GetModuleHandleW(name); }

ModuleHandle ModuleHandleA(const char* name) { return ::GetModuleHandleA(name); }

ProcAddress ProcAddressOf(ModuleHandle module, const char* name) {
  if (module == nullptr) {
    return nullptr;
  }
  return reinterpret_cast<ProcAddress>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void SystemInfoOf(SystemInfo* info) { ::GetSystemInfo(reinterpret_cast<SYSTEM_INFO*>(info)); }

int CopyOemInf(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
               std::uint32_t copyStyle, char* destinationName, std::uint32_t destinationNameSize,
               std::uint32_t* requiredSize, char** destinationNameComponent) {
  DWORD required = 0;
  const BOOL ok = ::SetupCopyOEMInfA(
      sourceInf, mediaLocation, mediaType, copyStyle, destinationName, destinationNameSize,
      requiredSize != nullptr ? &required : nullptr, destinationNameComponent);
  if (requiredSize != nullptr) {
    *requiredSize = required;
  }
  return ok;
}

std::uint32_t LastError() { return ::GetLastError(); }

int ReplaceFileOp(const char* replaced, const char* replacement, const char* backup) {
  return ::ReplaceFileA(replaced, replacement, backup, 0, nullptr, nullptr);
}

int DirectoryExistsOp(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

SECURITY_ATTRIBUTES SecurityOf(SecurityDescriptor descriptor) {
  SECURITY_ATTRIBUTES attributes;
  std::memset(&attributes, 0, sizeof attributes);
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

int CloseHandleOp(SystemHandle handle) { return ::CloseHandle(static_cast<HANDLE>(handle)); }

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
      SystemFunction<NamespaceFunctions::CreateBoundary>(kernel32, "CreateBoundaryDescriptorA"),
      SystemFunction<NamespaceFunctions::AddSid>(kernel32, "AddSIDToBoundaryDescriptor"),
      SystemFunction<NamespaceFunctions::DeleteBoundary>(kernel32, "DeleteBoundaryDescriptor"),
      SystemFunction<NamespaceFunctions::CreateNamespace>(kernel32, "CreatePrivateNamespaceA"),
      SystemFunction<NamespaceFunctions::OpenNamespace>(kernel32, "OpenPrivateNamespaceA"),
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

std::uint32_t ProcessId() { return ::GetCurrentProcessId(); }

std::uint32_t FileAttributes(const char* path) { return ::GetFileAttributesA(path); }

int SetFileAttributesOp(const char* path, std::uint32_t attributes) {
  return ::SetFileAttributesA(path, attributes);
}

int MoveFileOp(const char* from, const char* to) { return ::MoveFileA(from, to); }

int DeleteFileOp(const char* path) { return ::DeleteFileA(path); }

std::vector<std::string> FindFilesOp(const char* pattern) {
  std::vector<std::string> paths;
  const std::string text(pattern);
  const std::size_t cut = text.find_last_of("\\/");
  const std::string folder = cut == std::string::npos ? std::string() : text.substr(0, cut + 1);
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) {
    return paths;
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      paths.push_back(folder + found.cFileName);
    }
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return paths;
}

std::uint64_t FileWriteTime(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!::GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
    return 0;
  }
  return (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
         data.ftLastWriteTime.dwLowDateTime;
}

int SessionOfProcess(std::uint32_t processId, std::uint32_t* session) {
  DWORD id = 0;
  if (!::ProcessIdToSessionId(processId, &id)) {
    return 0;
  }
  *session = id;
  return 1;
}

int WindowStationFlags(std::uint32_t* flags) {
  USEROBJECTFLAGS objectFlags;
  DWORD needed = 0;
  if (!::GetUserObjectInformationA(::GetProcessWindowStation(), UOI_FLAGS, &objectFlags,
                                   sizeof objectFlags, &needed)) {
    return 0;
  }
  *flags = objectFlags.dwFlags;
  return 1;
}

// Microsoft dates it only as "Windows XP and later": an early XP setupapi.dll may lack it.
int NonInteractiveMode(int nonInteractive) {
  using Fn = BOOL(WINAPI*)(BOOL);
  static const Fn fn =
      SystemFunction<Fn>(::GetModuleHandleA("setupapi.dll"), "SetupSetNonInteractiveMode");
  if (fn == nullptr) {
    return 0;
  }
  fn(nonInteractive ? TRUE : FALSE);  // answers the previous setting, not success
  return 1;
}

int InfVersionString(const char* infPath, const char* key, char* value, std::uint32_t capacity) {
  HINF inf = ::SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr);
  if (inf == INVALID_HANDLE_VALUE) {
    return 0;
  }
  INFCONTEXT line;
  const BOOL found = ::SetupFindFirstLineA(inf, "Version", key, &line) &&
                     ::SetupGetStringFieldA(&line, 1, value, capacity, nullptr);
  ::SetupCloseInfFile(inf);
  return found ? 1 : 0;
}

bool StringField(INFCONTEXT* line, DWORD index, std::string& field) {
  DWORD needed = 0;
  if (!::SetupGetStringFieldA(line, index, nullptr, 0, &needed) || needed == 0) {
    return false;
  }
  std::vector<char> buffer(needed);
  if (!::SetupGetStringFieldA(line, index, buffer.data(), needed, nullptr)) {
    return false;
  }
  field.assign(buffer.data());
  return true;
}

int InfSectionLines(const char* infPath, const char* section, std::vector<InfLine>* lines) {
  HINF inf = ::SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr);
  if (inf == INVALID_HANDLE_VALUE) {
    return 0;
  }
  lines->clear();
  INFCONTEXT line;
  bool more = ::SetupFindFirstLineA(inf, section, nullptr, &line) != FALSE;
  const int found = more ? 1 : 0;
  while (more) {
    InfLine fields(1 + ::SetupGetFieldCount(&line));
    for (DWORD i = 0; i < fields.size(); ++i) {
      StringField(&line, i, fields[i]);
    }
    lines->push_back(std::move(fields));
    more = ::SetupFindNextLine(&line, &line) != FALSE;
  }
  ::SetupCloseInfFile(inf);
  return found;
}

std::vector<std::string> HardwareIds(HDEVINFO set, SP_DEVINFO_DATA* device) {
  DWORD needed = 0;
  ::SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr, nullptr, 0, &needed);
  std::vector<BYTE> buffer(needed + 2, 0);  // room for the list's two terminators
  std::vector<std::string> ids;
  if (needed == 0 || !::SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                                          buffer.data(), needed, nullptr)) {
    return ids;
  }
  for (const char* id = reinterpret_cast<const char*>(buffer.data()); *id != '\0';
       id += std::strlen(id) + 1) {
    ids.emplace_back(id);
  }
  return ids;
}

std::string DriverInfPath(HDEVINFO set, SP_DEVINFO_DATA* device) {
  HKEY key = ::SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ);
  if (key == INVALID_HANDLE_VALUE) {
    return std::string();  // no driver yet
  }
  char value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  DWORD type = 0;
  const bool read = ::RegQueryValueExA(key, "InfPath", nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  ::RegCloseKey(key);
  return read ? std::string(value) : std::string();
}

int PresentDevices(std::vector<PresentDeviceFacts>* devices) {
  HDEVINFO set =
      ::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE) {
    return 0;
  }
  devices->clear();
  SP_DEVINFO_DATA device;
  std::memset(&device, 0, sizeof device);
  device.cbSize = sizeof device;
  for (DWORD i = 0; ::SetupDiEnumDeviceInfo(set, i, &device); ++i) {
    devices->push_back({HardwareIds(set, &device), DriverInfPath(set, &device)});
  }
  ::SetupDiDestroyDeviceInfoList(set);
  return 1;
}

// Loaded on first use, not imported: a run with no device to install for never loads it.
int UpdateDriver(const char* hardwareId, const char* infPath, std::uint32_t flags,
                 int* rebootRequired) {
  using Fn = BOOL(WINAPI*)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);
  static HMODULE newdev = nullptr;
  if (newdev == nullptr) {
    newdev = ::LoadLibraryA("newdev.dll");  // its failure is the call's last error
  }
  const Fn fn = SystemFunction<Fn>(newdev, "UpdateDriverForPlugAndPlayDevicesA");
  if (fn == nullptr) {
    return 0;
  }
  BOOL reboot = FALSE;
  const BOOL done = fn(nullptr, hardwareId, infPath, flags, &reboot);
  *rebootRequired = reboot ? 1 : 0;
  return done ? 1 : 0;
}

int RunProcess(const char* application, const char* commandLine, std::uint32_t* exitCode) {
  std::string line = commandLine;  // CreateProcessA may write into it
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!::CreateProcessA(application, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
    return 0;
  }
  ::CloseHandle(process.hThread);
  ::WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  const BOOL known = ::GetExitCodeProcess(process.hProcess, &code);
  const DWORD error = ::GetLastError();
  ::CloseHandle(process.hProcess);
  if (!known) {
    ::SetLastError(error);
    return 0;
  }
  *exitCode = code;
  return 1;
}

int InfOriginalName(const char* infPath, char* name, std::uint32_t capacity) {
  DWORD size = 0;
  if (!::SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &size)) {
    return 0;
  }
  std::vector<BYTE> buffer(size);
  auto* information = reinterpret_cast<SP_INF_INFORMATION*>(buffer.data());
  if (!::SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, information, size,
                                 nullptr)) {
    return 0;
  }
  SP_ORIGINAL_FILE_INFO_A original;
  std::memset(&original, 0, sizeof original);
  original.cbSize = sizeof original;
  if (!::SetupQueryInfOriginalFileInformationA(information, 0, nullptr, &original) ||
      std::strlen(original.OriginalInfName) >= capacity) {
    return 0;
  }
  std::strcpy(name, original.OriginalInfName);
  return 1;
}

// An early XP setupapi.dll may lack it.
int UninstallOemInf(const char* infFileName, std::uint32_t flags) {
  using Fn = BOOL(WINAPI*)(PCSTR, DWORD, PVOID);
  static const Fn fn =
      SystemFunction<Fn>(::GetModuleHandleA("setupapi.dll"), "SetupUninstallOEMInfA");
  if (fn == nullptr) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return 0;
  }
  return fn(infFileName, flags, nullptr) ? 1 : 0;
}

std::uint32_t SystemWindowsDirectory(char* buffer, std::uint32_t capacity) {
  const UINT length = ::GetSystemWindowsDirectoryA(buffer, capacity);
  return length < capacity ? length : 0;
}

constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// A catalog lists hashes of a driver package's files; no real one comes near this.
constexpr DWORD kLargestCatalog = 64u << 20;

struct MessageCloser {
  void operator()(void* message) const { ::CryptMsgClose(message); }
};
struct StoreCloser {
  void operator()(void* store) const { ::CertCloseStore(store, 0); }
};
struct CertificateFreer {
  void operator()(const CERT_CONTEXT* certificate) const {
    ::CertFreeCertificateContext(certificate);
  }
};
struct ChainFreer {
  void operator()(const CERT_CHAIN_CONTEXT* chain) const { ::CertFreeCertificateChain(chain); }
};
using Message = std::unique_ptr<void, MessageCloser>;
using Store = std::unique_ptr<void, StoreCloser>;
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFreer>;
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFreer>;

bool ReadWholeFile(const char* path, std::vector<BYTE>& data) {
  HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD high = 0;
  const DWORD size = ::GetFileSize(file, &high);
  bool read = size != INVALID_FILE_SIZE && high == 0 && size <= kLargestCatalog;
  if (read) {
    data.resize(size);
    DWORD count = 0;
    read = size == 0 || (::ReadFile(file, data.data(), size, &count, nullptr) && count == size);
  }
  ::CloseHandle(file);
  return read;
}

void SignerUsages(const CERT_CONTEXT* signer, CatalogFacts* facts) {
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(signer, 0, nullptr, &size)) {
    return;
  }
  std::vector<BYTE> buffer(size);
  auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(signer, 0, usage, &size)) {
    return;
  }
  // No usage listed and "not found": the certificate is good for every use.
  facts->signerAllowsEveryUsage =
      usage->cUsageIdentifier == 0 && ::GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND);
  for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
    facts->signerUsages.emplace_back(usage->rgpszUsageIdentifier[i]);
  }
}

bool SignerIsCa(const CERT_CONTEXT* signer) {
  const CERT_INFO* info = signer->pCertInfo;
  if (const CERT_EXTENSION* extension =
          ::CertFindExtension(szOID_BASIC_CONSTRAINTS2, info->cExtension, info->rgExtension)) {
    CERT_BASIC_CONSTRAINTS2_INFO constraints;
    DWORD size = sizeof constraints;
    return ::CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS2, extension->Value.pbData,
                               extension->Value.cbData, 0, &constraints, &size) &&
           constraints.fCA;
  }
  // The older form of the extension, still met in old certificates.
  if (const CERT_EXTENSION* extension =
          ::CertFindExtension(szOID_BASIC_CONSTRAINTS, info->cExtension, info->rgExtension)) {
    DWORD size = 0;
    if (!::CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS, extension->Value.pbData,
                             extension->Value.cbData, 0, nullptr, &size)) {
      return false;
    }
    std::vector<BYTE> buffer(size);
    const auto* constraints = reinterpret_cast<const CERT_BASIC_CONSTRAINTS_INFO*>(buffer.data());
    return ::CryptDecodeObject(X509_ASN_ENCODING, X509_BASIC_CONSTRAINTS, extension->Value.pbData,
                               extension->Value.cbData, 0, buffer.data(), &size) &&
           constraints->SubjectType.cbData > 0 &&
           (constraints->SubjectType.pbData[0] & CERT_CA_SUBJECT_FLAG) != 0;
  }
  return false;
}

// Windows' own verdict on the file: signature, the content it covers, the time stamp and the
// chain to a trusted root, without revocation checks or downloads (the machine may be
// offline) and without any window.
std::uint32_t AuthenticodeVerdict(const char* path) {
  wchar_t widePath[MAX_PATH];
  if (::MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH) == 0) {
    return static_cast<std::uint32_t>(TRUST_E_NOSIGNATURE);
  }
  WINTRUST_FILE_INFO file;
  std::memset(&file, 0, sizeof file);
  file.cbStruct = sizeof file;
  file.pcwszFilePath = widePath;
  WINTRUST_DATA data;
  std::memset(&data, 0, sizeof data);
  data.cbStruct = sizeof data;
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noWindow = static_cast<HWND>(INVALID_HANDLE_VALUE);
  const LONG verdict = ::WinVerifyTrust(noWindow, &action, &data);
  data.dwStateAction = WTD_STATEACTION_CLOSE;
  ::WinVerifyTrust(noWindow, &action, &data);
  return static_cast<std::uint32_t>(verdict);
}

// A second look at the signer's chain, built by the local machine's engine and judged by the
// Authenticode policy: some platforms' WinVerifyTrust accepts any root. Time validity was
// judged above with the signature's time stamp, so it is not judged again at today's date.
std::uint32_t ChainPolicyError(const CERT_CONTEXT* signer, HCERTSTORE extraCertificates) {
  CERT_CHAIN_PARA chainPara;
  std::memset(&chainPara, 0, sizeof chainPara);
  chainPara.cbSize = sizeof chainPara;
  const CERT_CHAIN_CONTEXT* built = nullptr;
  // From the local caches only: an offline machine behind a dead proxy must not stall the run.
  if (!::CertGetCertificateChain(HCCE_LOCAL_MACHINE, signer, nullptr, extraCertificates, &chainPara,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &built)) {
    return static_cast<std::uint32_t>(CERT_E_CHAINING);
  }
  const Chain chain(built);
  CERT_CHAIN_POLICY_PARA policyPara;
  std::memset(&policyPara, 0, sizeof policyPara);
  policyPara.cbSize = sizeof policyPara;
  policyPara.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_NOT_TIME_VALID_FLAGS;
  CERT_CHAIN_POLICY_STATUS status;
  std::memset(&status, 0, sizeof status);
  status.cbSize = sizeof status;
  if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.get(), &policyPara,
                                          &status)) {
    return static_cast<std::uint32_t>(CERT_E_CHAINING);
  }
  if (status.dwError != 0) {
    return status.dwError;
  }
  // Some policy implementations pass a chain that stops short of any root; Windows does not.
  const DWORD judgedElsewhere = CERT_TRUST_IS_NOT_TIME_VALID | CERT_TRUST_IS_NOT_TIME_NESTED |
                                CERT_TRUST_CTL_IS_NOT_TIME_VALID |
                                CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                                CERT_TRUST_IS_OFFLINE_REVOCATION;
  if ((chain->TrustStatus.dwErrorStatus & ~judgedElsewhere) != 0) {
    return static_cast<std::uint32_t>(CERT_E_CHAINING);
  }
  return 0;
}

// Decoded as a PKCS #7 message: CryptQueryObject reports a catalog as a trust list and gives
// no message to verify.
void InspectCatalogOp(const char* path, CatalogFacts* facts) {
  *facts = CatalogFacts();
  std::vector<BYTE> data;
  if (!ReadWholeFile(path, data)) {
    return;
  }
  facts->present = true;
  const Message message(::CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
  if (!message ||
      !::CryptMsgUpdate(message.get(), data.data(), static_cast<DWORD>(data.size()), TRUE)) {
    return;
  }
  DWORD signers = 0;
  DWORD size = sizeof signers;
  if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_COUNT_PARAM, 0, &signers, &size) ||
      signers == 0) {
    return;
  }
  size = 0;
  if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &size)) {
    return;
  }
  std::vector<BYTE> signerInfo(size);
  if (!::CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, signerInfo.data(),
                          &size)) {
    return;
  }
  const Store certificates(::CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
  if (!certificates) {
    return;
  }
  const Certificate signer(::CertGetSubjectCertificateFromStore(
      certificates.get(), kEncoding, reinterpret_cast<CERT_INFO*>(signerInfo.data())));
  if (!signer) {
    return;
  }
  facts->signedMessage = true;
  facts->signatureValid =
      ::CryptMsgControl(message.get(), 0, CMSG_CTRL_VERIFY_SIGNATURE, signer->pCertInfo) != FALSE;
  facts->trustVerdict = AuthenticodeVerdict(path);
  facts->chainPolicyError = ChainPolicyError(signer.get(), certificates.get());
  SignerUsages(signer.get(), facts);
  facts->signerIsCa = SignerIsCa(signer.get());
  facts->signerCertificate.assign(signer->pbCertEncoded,
                                  signer->pbCertEncoded + signer->cbCertEncoded);
}

Store OpenTrustedPublisherStore() {
  return Store(::CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE,
                               "TrustedPublisher"));
}

int TrustedPublisherHasOp(const std::vector<unsigned char>& certificate) {
  const Store store = OpenTrustedPublisherStore();
  if (!store) {
    return -1;
  }
  const Certificate wanted(::CertCreateCertificateContext(X509_ASN_ENCODING, certificate.data(),
                                                          static_cast<DWORD>(certificate.size())));
  if (!wanted) {
    return 0;
  }
  const Certificate found(::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                       CERT_FIND_EXISTING, wanted.get(), nullptr));
  return found ? 1 : 0;
}

int AddTrustedPublisherOp(const std::vector<unsigned char>& certificate) {
  const Store store = OpenTrustedPublisherStore();
  return store && ::CertAddEncodedCertificateToStore(
                      store.get(), X509_ASN_ENCODING, certificate.data(),
                      static_cast<DWORD>(certificate.size()), CERT_STORE_ADD_NEW, nullptr)
             ? 1
             : 0;
}

const PlatformOps kWindowsOps = {
    ModuleFileName,
    CopyFileOp,
    EnableFsRedirection,
    ModuleHandleW,
    ModuleHandleA,
    ProcAddressOf,
    SystemInfoOf,
    CopyOemInf,
    LastError,
    ReplaceFileOp,
    DirectoryExistsOp,
    CreateMutexOp,
    OpenMutexOp,
    WaitOp,
    ReleaseMutexOp,
    CloseHandleOp,
    SecurityFromSddl,
    FreeSecurity,
    PrivateNamespacesAvailableOp,
    CreateBoundaryOp,
    AddAdministratorsOp,
    DeleteBoundaryOp,
    CreateNamespaceOp,
    OpenNamespaceOp,
    CloseNamespaceOp,
    ProcessId,
    FileAttributes,
    SetFileAttributesOp,
    MoveFileOp,
    DeleteFileOp,
    FindFilesOp,
    FileWriteTime,
    WindowStationFlags,
    SessionOfProcess,
    NonInteractiveMode,
    InfVersionString,
    InfSectionLines,
    PresentDevices,
    UpdateDriver,
    RunProcess,
    InfOriginalName,
    UninstallOemInf,
    SystemWindowsDirectory,
    InspectCatalogOp,
    TrustedPublisherHasOp,
    AddTrustedPublisherOp,
};

}  // namespace

const PlatformOps& WindowsPlatformOps() { return kWindowsOps; }
