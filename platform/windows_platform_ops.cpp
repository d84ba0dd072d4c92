#include "platform/windows_platform_ops.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>
// setupapi.h and sddl.h need the types of windows.h first.
#include <sddl.h>
#include <setupapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/system_dlls.h"
#include "platform/windows_handle.h"

static_assert(sizeof(OsVersionInfoEx) == sizeof(RTL_OSVERSIONINFOEXW), "version record layout");
static_assert(offsetof(OsVersionInfoEx, wServicePackMajor) ==
                  offsetof(RTL_OSVERSIONINFOEXW, wServicePackMajor),
              "version record layout");
static_assert(sizeof(SystemInfo) == sizeof(SYSTEM_INFO), "system info layout");
static_assert(offsetof(SystemInfo, wProcessorLevel) == offsetof(SYSTEM_INFO, wProcessorLevel),
              "system info layout");

namespace {

constexpr char kSetupApiDll[] = "setupapi.dll";

// Every Setup API function the programs need, all of them in XP's setupapi.dll.
struct SetupApiFunctions {
  decltype(&::SetupCopyOEMInfA) SetupCopyOEMInfA;
  decltype(&::SetupOpenInfFileA) SetupOpenInfFileA;
  decltype(&::SetupFindFirstLineA) SetupFindFirstLineA;
  decltype(&::SetupFindNextLine) SetupFindNextLine;
  decltype(&::SetupGetFieldCount) SetupGetFieldCount;
  decltype(&::SetupGetStringFieldA) SetupGetStringFieldA;
  decltype(&::SetupCloseInfFile) SetupCloseInfFile;
  decltype(&::SetupGetInfInformationA) SetupGetInfInformationA;
  decltype(&::SetupQueryInfOriginalFileInformationA) SetupQueryInfOriginalFileInformationA;
  decltype(&::SetupDiGetClassDevsA) SetupDiGetClassDevsA;
  decltype(&::SetupDiEnumDeviceInfo) SetupDiEnumDeviceInfo;
  decltype(&::SetupDiGetDeviceRegistryPropertyA) SetupDiGetDeviceRegistryPropertyA;
  decltype(&::SetupDiOpenDevRegKey) SetupDiOpenDevRegKey;
  decltype(&::SetupDiDestroyDeviceInfoList) SetupDiDestroyDeviceInfoList;
};

// Null, with the reason in the last error, when setupapi.dll cannot be loaded from the system
// folder; the call that needed it fails with that reason.
const SetupApiFunctions* SetupApi() {
  static SetupApiFunctions functions;
  static bool complete = false;
  if (complete) {
    return &functions;
  }
  int missing = 0;
  functions = {QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupCopyOEMInfA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupOpenInfFileA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupFindFirstLineA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupFindNextLine, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupGetFieldCount, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupGetStringFieldA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupCloseInfFile, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupGetInfInformationA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupQueryInfOriginalFileInformationA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiGetClassDevsA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiEnumDeviceInfo, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiGetDeviceRegistryPropertyA, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiOpenDevRegKey, missing),
               QZ_DLL_TABLE_ENTRY(kSetupApiDll, SetupDiDestroyDeviceInfoList, missing)};
  complete = missing == 0;
  return complete ? &functions : nullptr;
}

// Handles of the Setup API: they exist only once setupapi.dll was loaded.
void CloseInf(HINF inf) { SetupApi()->SetupCloseInfFile(inf); }
void DestroyDeviceList(HDEVINFO set) { SetupApi()->SetupDiDestroyDeviceInfoList(set); }
using UniqueInf = UniqueHandle<HINF, CloseInf, -1>;
using UniqueDeviceList = UniqueHandle<HDEVINFO, DestroyDeviceList, -1>;

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
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  DWORD required = 0;
  const BOOL ok = api->SetupCopyOEMInfA(
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
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

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
  const UniqueFind search(::FindFirstFileA(pattern, &found));
  if (!search) {
    return paths;
  }
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      paths.push_back(folder + found.cFileName);
    }
  } while (::FindNextFileA(search.get(), &found));
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
  const auto fn = QZ_DLL_FUNCTION(kSetupApiDll, SetupSetNonInteractiveMode);
  if (fn == nullptr) {
    return 0;
  }
  fn(nonInteractive ? TRUE : FALSE);  // answers the previous setting, not success
  return 1;
}

int InfVersionString(const char* infPath, const char* key, char* value, std::uint32_t capacity) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  const UniqueInf inf(api->SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr));
  if (!inf) {
    return 0;
  }
  INFCONTEXT line;
  const BOOL found = api->SetupFindFirstLineA(inf.get(), "Version", key, &line) &&
                     api->SetupGetStringFieldA(&line, 1, value, capacity, nullptr);
  return found ? 1 : 0;
}

bool StringField(const SetupApiFunctions* api, INFCONTEXT* line, DWORD index, std::string& field) {
  DWORD needed = 0;
  if (!api->SetupGetStringFieldA(line, index, nullptr, 0, &needed) || needed == 0) {
    return false;
  }
  std::vector<char> buffer(needed);
  if (!api->SetupGetStringFieldA(line, index, buffer.data(), needed, nullptr)) {
    return false;
  }
  field.assign(buffer.data());
  return true;
}

int InfSectionLines(const char* infPath, const char* section, std::vector<InfLine>* lines) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  const UniqueInf inf(api->SetupOpenInfFileA(infPath, nullptr, INF_STYLE_WIN4, nullptr));
  if (!inf) {
    return 0;
  }
  lines->clear();
  INFCONTEXT line;
  bool more = api->SetupFindFirstLineA(inf.get(), section, nullptr, &line) != FALSE;
  const int found = more ? 1 : 0;
  while (more) {
    InfLine fields(1 + api->SetupGetFieldCount(&line));
    for (DWORD i = 0; i < fields.size(); ++i) {
      StringField(api, &line, i, fields[i]);
    }
    lines->push_back(std::move(fields));
    more = api->SetupFindNextLine(&line, &line) != FALSE;
  }
  return found;
}

std::vector<std::string> HardwareIds(const SetupApiFunctions* api, HDEVINFO set,
                                     SP_DEVINFO_DATA* device) {
  DWORD needed = 0;
  api->SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr, nullptr, 0,
                                         &needed);
  std::vector<BYTE> buffer(needed + 2, 0);  // room for the list's two terminators
  std::vector<std::string> ids;
  if (needed == 0 || !api->SetupDiGetDeviceRegistryPropertyA(set, device, SPDRP_HARDWAREID, nullptr,
                                                             buffer.data(), needed, nullptr)) {
    return ids;
  }
  for (const char* id = reinterpret_cast<const char*>(buffer.data()); *id != '\0';
       id += std::strlen(id) + 1) {
    ids.emplace_back(id);
  }
  return ids;
}

std::string DriverInfPath(const SetupApiFunctions* api, HDEVINFO set, SP_DEVINFO_DATA* device) {
  const UniqueRegistryKey key(
      api->SetupDiOpenDevRegKey(set, device, DICS_FLAG_GLOBAL, 0, DIREG_DRV, KEY_READ));
  if (!key) {
    return std::string();  // no driver yet
  }
  char value[MAX_PATH + 1] = {};
  DWORD size = MAX_PATH;
  DWORD type = 0;
  const bool read = ::RegQueryValueExA(key.get(), "InfPath", nullptr, &type,
                                       reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS &&
                    type == REG_SZ;
  return read ? std::string(value) : std::string();
}

int PresentDevices(std::vector<PresentDeviceFacts>* devices) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  const UniqueDeviceList set(
      api->SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT));
  if (!set) {
    return 0;
  }
  devices->clear();
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  for (DWORD i = 0; api->SetupDiEnumDeviceInfo(set.get(), i, &device); ++i) {
    devices->push_back(
        {HardwareIds(api, set.get(), &device), DriverInfPath(api, set.get(), &device)});
  }
  return 1;
}

// Loaded on first use, not imported: a run with no device to install for never loads it.
int UpdateDriver(const char* hardwareId, const char* infPath, std::uint32_t flags,
                 int* rebootRequired) {
  using Fn = BOOL(WINAPI*)(HWND, LPCSTR, LPCSTR, DWORD, PBOOL);  // newdev.h is not in every SDK
  const auto fn = SystemDllFunction<Fn>("newdev.dll", "UpdateDriverForPlugAndPlayDevicesA");
  if (fn == nullptr) {
    return 0;  // the load's or the lookup's reason is the call's last error
  }
  BOOL reboot = FALSE;
  const BOOL done = fn(nullptr, hardwareId, infPath, flags, &reboot);
  *rebootRequired = reboot ? 1 : 0;
  return done ? 1 : 0;
}

int RunProcess(const char* application, const char* commandLine, const char* currentDirectory,
               std::uint32_t* exitCode) {
  std::string line = commandLine;  // CreateProcessA may write into it
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!::CreateProcessA(application, &line[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        currentDirectory, &startup, &process)) {
    return 0;
  }
  DWORD code = 0;
  BOOL known = FALSE;
  DWORD error = 0;
  {
    const UniqueKernelObject thread(process.hThread);
    const UniqueKernelObject running(process.hProcess);
    ::WaitForSingleObject(running.get(), INFINITE);
    known = ::GetExitCodeProcess(running.get(), &code);
    error = ::GetLastError();
  }
  if (!known) {
    ::SetLastError(error);  // as GetExitCodeProcess left it, not as closing the handles did
    return 0;
  }
  *exitCode = code;
  return 1;
}

std::uint32_t SystemDirectory(char* buffer, std::uint32_t capacity) {
  const UINT length = ::GetSystemDirectoryA(buffer, capacity);
  return length < capacity ? length : 0;
}

int InfOriginalName(const char* infPath, char* name, std::uint32_t capacity) {
  const SetupApiFunctions* api = SetupApi();
  if (api == nullptr) {
    return 0;
  }
  DWORD size = 0;
  if (!api->SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, nullptr, 0, &size)) {
    return 0;
  }
  std::vector<BYTE> buffer(size);
  auto* information = reinterpret_cast<SP_INF_INFORMATION*>(buffer.data());
  if (!api->SetupGetInfInformationA(infPath, INFINFO_INF_NAME_IS_ABSOLUTE, information, size,
                                    nullptr)) {
    return 0;
  }
  SP_ORIGINAL_FILE_INFO_A original{};
  original.cbSize = sizeof original;
  if (!api->SetupQueryInfOriginalFileInformationA(information, 0, nullptr, &original) ||
      std::strlen(original.OriginalInfName) >= capacity) {
    return 0;
  }
  std::strcpy(name, original.OriginalInfName);
  return 1;
}

// An early XP setupapi.dll may lack it.
int UninstallOemInf(const char* infFileName, std::uint32_t flags) {
  const auto fn = QZ_DLL_FUNCTION(kSetupApiDll, SetupUninstallOEMInfA);
  if (fn == nullptr) {
    return 0;
  }
  return fn(infFileName, flags, nullptr) ? 1 : 0;
}

std::uint32_t SystemWindowsDirectory(char* buffer, std::uint32_t capacity) {
  const UINT length = ::GetSystemWindowsDirectoryA(buffer, capacity);
  return length < capacity ? length : 0;
}

// Without following a link: a link planted at the log's path is seen on the handle, and the
// log is then not written at all.
SystemHandle OpenLogFileOp(const char* path) {
  const HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int OpenFileFactsOp(SystemHandle file, OpenFileFacts* facts) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!::GetFileInformationByHandle(static_cast<HANDLE>(file), &information)) {
    return 0;
  }
  facts->attributes = information.dwFileAttributes;
  facts->links = information.nNumberOfLinks;
  return 1;
}

std::FILE* AppendStreamOverOp(SystemHandle file) {
  const int descriptor =
      ::_open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_WRONLY | _O_BINARY);
  if (descriptor == -1) {
    ::CloseHandle(static_cast<HANDLE>(file));
    return nullptr;
  }
  std::FILE* stream = ::_fdopen(descriptor, "ab");
  if (stream == nullptr) {
    ::_close(descriptor);  // closes the handle too
  }
  return stream;
}

SystemHandle OpenFileSharingReadOnlyOp(const char* path) {
  const HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : file;
}

int ReadOpenFileOp(SystemHandle file, std::vector<unsigned char>* bytes) {
  return ReadWholeFile(static_cast<HANDLE>(file), *bytes) ? 1 : 0;
}

const PlatformOps kWindowsOps = {
    // Process and system
    .GetModuleFileNameA = ModuleFileName,
    .GetModuleHandleW = ModuleHandleW,
    .GetModuleHandleA = ModuleHandleA,
    .GetProcAddress = ProcAddressOf,
    .GetSystemInfo = SystemInfoOf,
    .GetLastError = LastError,
    .GetCurrentProcessId = ProcessId,
    .CloseHandle = CloseHandleOp,
    .GetSystemWindowsDirectoryA = SystemWindowsDirectory,
    .GetSystemDirectoryA = SystemDirectory,
    .GetProcessWindowStationFlags = WindowStationFlags,
    .ProcessIdToSessionId = SessionOfProcess,
    // Files, with the WOW64 redirection switch
    .Wow64EnableWow64FsRedirection = EnableFsRedirection,
    .CopyFileA = CopyFileOp,
    .ReplaceFileA = ReplaceFileOp,
    .MoveFileA = MoveFileOp,
    .DeleteFileA = DeleteFileOp,
    .GetFileAttributesA = FileAttributes,
    .SetFileAttributesA = SetFileAttributesOp,
    .GetFileWriteTime = FileWriteTime,
    .FindFiles = FindFilesOp,
    .DirectoryExists = DirectoryExistsOp,
    .OpenLogFile = OpenLogFileOp,
    .GetOpenFileFacts = OpenFileFactsOp,
    .AppendStreamOver = AppendStreamOverOp,
    .OpenFileSharingReadOnly = OpenFileSharingReadOnlyOp,
    .ReadOpenFile = ReadOpenFileOp,
    // Run lock
    .CreateMutexA = CreateMutexOp,
    .OpenMutexA = OpenMutexOp,
    .WaitForSingleObject = WaitOp,
    .ReleaseMutex = ReleaseMutexOp,
    .SecurityDescriptorFromSddl = SecurityFromSddl,
    .FreeSecurityDescriptor = FreeSecurity,
    .PrivateNamespacesAvailable = PrivateNamespacesAvailableOp,
    .CreateBoundaryDescriptorA = CreateBoundaryOp,
    .AddAdministratorsToBoundary = AddAdministratorsOp,
    .DeleteBoundaryDescriptor = DeleteBoundaryOp,
    .CreatePrivateNamespaceA = CreateNamespaceOp,
    .OpenPrivateNamespaceA = OpenNamespaceOp,
    .ClosePrivateNamespace = CloseNamespaceOp,
    // INF files and the driver store
    .SetupCopyOEMInfA = CopyOemInf,
    .SetupSetNonInteractiveMode = NonInteractiveMode,
    .ReadInfVersionString = InfVersionString,
    .ReadInfSectionLines = InfSectionLines,
    .QueryInfOriginalFileName = InfOriginalName,
    .SetupUninstallOEMInfA = UninstallOemInf,
    // Devices and the helper process
    .ListPresentDevices = PresentDevices,
    .UpdateDriverForPlugAndPlayDevicesA = UpdateDriver,
    .RunProcess = RunProcess,
    // Trust: AddWindowsTrustOps fills it in, in the one program that has the step.
    .InspectCatalog = nullptr,
    .TrustedPublisherHas = nullptr,
    .AddTrustedPublisher = nullptr,
};

}  // namespace

PlatformOps WindowsPlatformOps() { return kWindowsOps; }
