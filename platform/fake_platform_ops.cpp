#include "platform/fake_platform_ops.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

FakePlatform* g_fake = nullptr;

char g_ntdll;
char g_kernel32;

// Records the call; true when the script makes this call the one that fails.
bool Record(const std::string& line) {
  g_fake->calls.push_back(line);
  return g_fake->failCall != 0 && g_fake->calls.size() == g_fake->failCall;
}

// The last error every scripted failure leaves, unless a call says otherwise.
constexpr std::uint32_t kFailureError = kErrorAccessDenied;

template <typename T>
T Fail(T answer, std::uint32_t error = kFailureError) {
  g_fake->lastError = error;
  return answer;
}

std::string Narrow(const wchar_t* text) {
  std::string narrow;
  for (; *text != L'\0'; ++text) {
    narrow.push_back(static_cast<char>(*text));
  }
  return narrow;
}

std::string ModuleName(ModuleHandle module) {
  if (module == &g_ntdll) return "ntdll.dll";
  if (module == &g_kernel32) return "kernel32";
  return "null";
}

std::uint32_t FakeGetModuleFileNameA(ModuleHandle module, char* buffer, std::uint32_t capacity) {
  if (Record("GetModuleFileNameA " + ModuleName(module) +
             " capacity=" + std::to_string(capacity))) {
    return Fail(0u);
  }
  if (g_fake->moduleFileNameError != 0) {
    return Fail(0u, g_fake->moduleFileNameError);
  }
  const std::size_t length = g_fake->modulePath.size();
  if (length < capacity) {
    std::memcpy(buffer, g_fake->modulePath.c_str(), length + 1);
    return static_cast<std::uint32_t>(length);
  }
  // As on XP: cut to the capacity, unterminated.
  std::memcpy(buffer, g_fake->modulePath.data(), capacity);
  return capacity;
}

bool Exists(const char* path) {
  struct stat status;
  return stat(path, &status) == 0;
}

int CopyRealFile(const char* source, const char* destination, int failIfExists) {
  if (failIfExists != 0 && Exists(destination)) {
    g_fake->lastError = 80;
    return 0;
  }
  std::error_code error;
  if (!Exists(source) ||
      !std::filesystem::copy_file(source, destination,
                                  std::filesystem::copy_options::overwrite_existing, error)) {
    g_fake->lastError = kErrorFileNotFound;
    return 0;
  }
  return 1;
}

int FakeCopyFileA(const char* source, const char* destination, int failIfExists) {
  if (Record(std::string("CopyFileA ") + source + " -> " + destination +
             " fail-if-exists=" + std::to_string(failIfExists))) {
    return Fail(0);
  }
  if (g_fake->copyModelsFiles) {
    return CopyRealFile(source, destination, failIfExists);
  }
  return g_fake->copyError != 0 ? Fail(0, g_fake->copyError) : 1;
}

int FakeWow64EnableWow64FsRedirection(int enable) {
  if (Record("Wow64EnableWow64FsRedirection " + std::to_string(enable))) {
    return Fail(0);
  }
  if (enable == 0 && g_fake->redirectionOffError != 0) {
    return Fail(0, g_fake->redirectionOffError);
  }
  return 1;
}

ModuleHandle FakeGetModuleHandleW(const wchar_t* name) {
  if (Record("GetModuleHandleW " + Narrow(name))) {
    return Fail<ModuleHandle>(nullptr);
  }
  return Narrow(name) == "ntdll.dll" ? &g_ntdll : nullptr;
}

ModuleHandle FakeGetModuleHandleA(const char* name) {
  if (Record(std::string("GetModuleHandleA ") + name)) {
    return Fail<ModuleHandle>(nullptr);
  }
  return std::strcmp(name, "kernel32") == 0 ? &g_kernel32 : nullptr;
}

// The version entry point is resolved once per process, so the one handed out stays valid
// across fakes and asks whichever fake is active.
std::int32_t QZ_SYSTEM_CALL FakeRtlGetVersion(OsVersionInfoEx* info) {
  const bool fails = Record("RtlGetVersion size=" + std::to_string(info->dwOSVersionInfoSize));
  OsVersionInfoEx zeroed;
  std::memset(&zeroed, 0, sizeof zeroed);
  zeroed.dwOSVersionInfoSize = info->dwOSVersionInfoSize;
  if (std::memcmp(&zeroed, info, sizeof zeroed) != 0) {
    g_fake->versionRecordWasZeroed = false;
  }
  if (fails) {
    return static_cast<std::int32_t>(0xC0000001u);  // STATUS_UNSUCCESSFUL
  }
  if (g_fake->rtlGetVersionStatus != 0) {
    return g_fake->rtlGetVersionStatus;
  }
  info->dwMajorVersion = g_fake->majorVersion;
  info->dwMinorVersion = g_fake->minorVersion;
  info->dwBuildNumber = g_fake->buildNumber;
  info->dwPlatformId = 2;
  info->wServicePackMajor = g_fake->servicePackMajor;
  return 0;
}

void QZ_SYSTEM_CALL FakeGetNativeSystemInfo(SystemInfo* info) {
  Record("GetNativeSystemInfo");
  info->wProcessorArchitecture = g_fake->nativeArchitecture;
}

ProcAddress FakeGetProcAddress(ModuleHandle module, const char* name) {
  if (Record("GetProcAddress " + ModuleName(module) + " " + name)) {
    return Fail<ProcAddress>(nullptr);
  }
  if (module == &g_ntdll && std::strcmp(name, "RtlGetVersion") == 0 && g_fake->hasRtlGetVersion) {
    return reinterpret_cast<ProcAddress>(&FakeRtlGetVersion);
  }
  if (module == &g_kernel32 && std::strcmp(name, "GetNativeSystemInfo") == 0 &&
      g_fake->hasGetNativeSystemInfo) {
    return reinterpret_cast<ProcAddress>(&FakeGetNativeSystemInfo);
  }
  return nullptr;
}

void FakeGetSystemInfo(SystemInfo* info) {
  Record("GetSystemInfo");
  info->wProcessorArchitecture = g_fake->processArchitecture;
}

int FakeSetupCopyOEMInfA(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
                         std::uint32_t copyStyle, char* destinationName,
                         std::uint32_t destinationNameSize, std::uint32_t* requiredSize,
                         char** destinationNameComponent) {
  if (Record(std::string("SetupCopyOEMInfA ") + sourceInf +
             " media=" + (mediaLocation == nullptr ? "null" : mediaLocation) +
             " type=" + std::to_string(mediaType) + " style=" + std::to_string(copyStyle) +
             " size=" + std::to_string(destinationNameSize) +
             " required=" + (requiredSize == nullptr ? "null" : "requested") +
             " component=" + (destinationNameComponent == nullptr ? "null" : "requested"))) {
    return Fail(0);
  }
  const bool staged = g_fake->setupCopyError == 0;
  if (staged || g_fake->setupCopyError == 80) {
    const std::string full = "C:\\Windows\\INF\\" + g_fake->stagedInfName;
    std::snprintf(destinationName, destinationNameSize, "%s", full.c_str());
    if (g_fake->setupCopySetsComponent && destinationNameComponent != nullptr) {
      *destinationNameComponent = destinationName + (full.size() - g_fake->stagedInfName.size());
    }
  }
  g_fake->lastError = g_fake->setupCopyError;
  return staged ? 1 : 0;
}

std::uint32_t FakeGetLastError() {
  Record("GetLastError");
  return g_fake->lastError;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

// Renames a real file, its attribute bits going with it.
bool MoveWithAttributes(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) != 0) {
    return false;
  }
  auto& attributes = g_fake->attributes;
  const auto entry = attributes.find(from);
  attributes.erase(to);
  if (entry != attributes.end()) {
    attributes[to] = entry->second;
    attributes.erase(from);
  }
  return true;
}

int FakeReplaceFileA(const char* replaced, const char* replacement, const char* backup) {
  if (Record(std::string("ReplaceFileA ") + replaced + " <- " + replacement +
             " backup=" + (backup == nullptr ? "null" : backup))) {
    return Fail(0);
  }
  // As on Windows and Wine: a read-only file is never replaced.
  const auto entry = g_fake->attributes.find(replaced);
  if (entry != g_fake->attributes.end() && (entry->second & kFileAttributeReadOnly) != 0) {
    g_fake->lastError = 5;
    return 0;
  }
  using Effect = FakePlatform::ReplaceEffect;
  switch (g_fake->replaceEffect) {
    case Effect::kReplaces:
      if (backup != nullptr && !MoveWithAttributes(replaced, backup)) {
        return 0;
      }
      if (!MoveWithAttributes(replacement, replaced)) {
        return 0;
      }
      g_fake->attributes.erase(replaced);
      return 1;
    case Effect::kLeavesBoth:
      break;
    case Effect::kRemovesReplaced:
      std::remove(replaced);
      g_fake->attributes.erase(replaced);
      break;
    case Effect::kMovesReplacedToBackup:
      MoveWithAttributes(replaced, backup);
      break;
  }
  g_fake->lastError = g_fake->replaceError;
  return 0;
}

int FakeDirectoryExists(const char* path) {
  if (Record(std::string("DirectoryExists ") + path)) {
    return Fail(0);
  }
  struct stat status;
  return lstat(path, &status) == 0 && S_ISDIR(status.st_mode) ? 1 : 0;
}

char g_mutex;
char g_namespace;
char g_boundary;
std::string g_securityText;
// The log file and the one file opened for reading, with what stands behind their handles.
char g_logFile;
std::FILE* g_logStream = nullptr;
bool g_logIsLink = false;
char g_readFile;
std::string g_readPath;

std::string HandleName(SystemHandle handle) {
  if (handle == &g_mutex) return "mutex";
  if (handle == &g_namespace) return "namespace";
  if (handle == &g_boundary) return "boundary";
  if (handle == &g_logFile) return "log";
  if (handle == &g_readFile) return "file";
  return "?";
}

SystemHandle FakeOpenLogFile(const char* path) {
  if (Record(std::string("OpenLogFile ") + path)) {
    return Fail<SystemHandle>(nullptr);
  }
  // As Windows does with FILE_FLAG_OPEN_REPARSE_POINT: a link is opened as itself, not followed.
  struct stat status;
  g_logIsLink = lstat(path, &status) == 0 && S_ISLNK(status.st_mode);
  g_logStream = std::fopen(path, "ab");
  if (g_logStream == nullptr) {
    return Fail<SystemHandle>(nullptr);
  }
  ++g_fake->openHandles;
  return &g_logFile;
}

int FakeGetOpenFileFacts(SystemHandle file, OpenFileFacts* facts) {
  struct stat status;
  if (Record("GetOpenFileFacts " + HandleName(file)) || fstat(fileno(g_logStream), &status) != 0) {
    return Fail(0);
  }
  facts->attributes = kFileAttributeArchive | (g_logIsLink ? kFileAttributeReparsePoint : 0) |
                      (S_ISDIR(status.st_mode) ? kFileAttributeDirectory : 0);
  facts->links = static_cast<std::uint32_t>(status.st_nlink);
  return 1;
}

std::FILE* FakeAppendStreamOver(SystemHandle file) {
  const bool fails = Record("AppendStreamOver " + HandleName(file));
  // The stream takes the handle either way.
  --g_fake->openHandles;
  if (fails) {
    std::fclose(g_logStream);
    return Fail<std::FILE*>(nullptr);
  }
  return g_logStream;
}

SystemHandle FakeOpenFileSharingReadOnly(const char* path) {
  if (Record(std::string("OpenFileSharingReadOnly ") + path)) {
    return Fail<SystemHandle>(nullptr);
  }
  if (!Exists(path)) {
    g_fake->lastError = kErrorFileNotFound;
    return nullptr;
  }
  g_readPath = path;
  ++g_fake->openHandles;
  return &g_readFile;
}

int FakeReadOpenFile(SystemHandle file, std::vector<unsigned char>* bytes) {
  if (Record("ReadOpenFile " + HandleName(file))) {
    return Fail(0);
  }
  std::FILE* in = std::fopen(g_readPath.c_str(), "rb");
  if (in == nullptr) {
    return Fail(0);
  }
  bytes->clear();
  int c = 0;
  while ((c = std::fgetc(in)) != EOF) {
    bytes->push_back(static_cast<unsigned char>(c));
  }
  std::fclose(in);
  return 1;
}

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

// A handle is gone after CloseHandle whatever it answers.
int FakeCloseHandle(SystemHandle handle) {
  const bool fails = Record("CloseHandle " + HandleName(handle));
  --g_fake->openHandles;
  return fails ? Fail(0) : 1;
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

std::uint32_t FakeGetCurrentProcessId() {
  Record("GetCurrentProcessId");
  return g_fake->processId;
}

std::uint32_t FakeGetFileAttributesA(const char* path) {
  if (Record(std::string("GetFileAttributesA ") + path)) {
    return Fail(kInvalidFileAttributes);
  }
  if (!Exists(path)) {
    return kInvalidFileAttributes;
  }
  const auto entry = g_fake->attributes.find(path);
  return entry == g_fake->attributes.end() ? kFileAttributeArchive : entry->second;
}

int FakeSetFileAttributesA(const char* path, std::uint32_t attributes) {
  if (Record(std::string("SetFileAttributesA ") + path + " " + Hex(attributes))) {
    return Fail(0);
  }
  if (!Exists(path)) {
    return 0;
  }
  // Windows answers "normal" for a file with no bits.
  g_fake->attributes[path] = attributes == 0 ? kFileAttributeNormal : attributes;
  return 1;
}

int FakeMoveFileA(const char* from, const char* to) {
  if (Record(std::string("MoveFileA ") + from + " -> " + to)) {
    return Fail(0);
  }
  if (Exists(to)) {
    return 0;
  }
  return MoveWithAttributes(from, to) ? 1 : 0;
}

int FakeDeleteFileA(const char* path) {
  if (Record(std::string("DeleteFileA ") + path)) {
    return Fail(0);
  }
  const auto entry = g_fake->attributes.find(path);
  if (entry != g_fake->attributes.end() && (entry->second & kFileAttributeReadOnly) != 0) {
    return 0;
  }
  if (unlink(path) != 0) {
    return 0;
  }
  g_fake->attributes.erase(path);
  return 1;
}

// The folder part ends at the last "/" (host paths); a Windows path such as
// "C:\Windows\inf\mdmcpq.inf" is one file name in the current folder.
std::vector<std::string> FakeFindFiles(const char* pattern) {
  if (Record(std::string("FindFiles ") + pattern)) {
    return {};
  }
  const std::string text(pattern);
  const std::size_t cut = text.rfind('/');
  const std::string folder = cut == std::string::npos ? "." : text.substr(0, cut);
  const std::string namePattern = cut == std::string::npos ? text : text.substr(cut + 1);
  std::vector<std::string> paths;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir)) {
      if (fnmatch(namePattern.c_str(), entry->d_name, FNM_NOESCAPE) == 0) {
        paths.push_back(cut == std::string::npos ? entry->d_name : folder + "/" + entry->d_name);
      }
    }
    closedir(dir);
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

std::uint64_t FakeGetFileWriteTime(const char* path) {
  struct stat status;
  if (Record(std::string("GetFileWriteTime ") + path) || stat(path, &status) != 0) {
    return Fail<std::uint64_t>(0);
  }
  return static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 1000000000u +
         static_cast<std::uint64_t>(status.st_mtim.tv_nsec);
}

int FakeGetProcessWindowStationFlags(std::uint32_t* flags) {
  if (Record("GetProcessWindowStationFlags") || !g_fake->windowStationFlags) {
    return Fail(0);
  }
  *flags = *g_fake->windowStationFlags;
  return 1;
}

int FakeProcessIdToSessionId(std::uint32_t processId, std::uint32_t* session) {
  if (Record("ProcessIdToSessionId " + std::to_string(processId)) || !g_fake->session) {
    return Fail(0);
  }
  *session = *g_fake->session;
  return 1;
}

int FakeSetupSetNonInteractiveMode(int nonInteractive) {
  if (Record("SetupSetNonInteractiveMode " + std::to_string(nonInteractive))) {
    return Fail(0);
  }
  return g_fake->hasNonInteractiveMode ? 1 : 0;
}

int Answer(const std::string& text, char* buffer, std::uint32_t capacity) {
  if (text.size() >= capacity) {
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 1;
}

int FakeReadInfVersionString(const char* infPath, const char* key, char* value,
                             std::uint32_t capacity) {
  if (Record(std::string("ReadInfVersionString ") + infPath + " " + key)) {
    return Fail(0);
  }
  const auto byPath = g_fake->infVersionByPath.find(infPath);
  const auto& entries =
      byPath != g_fake->infVersionByPath.end() ? byPath->second : g_fake->infVersion;
  const auto entry = entries.find(key);
  return entry == entries.end() ? 0 : Answer(entry->second, value, capacity);
}

int FakeReadInfSectionLines(const char* infPath, const char* section, std::vector<InfLine>* lines) {
  if (Record(std::string("ReadInfSectionLines ") + infPath + " [" + section + "]")) {
    return Fail(0);
  }
  const auto entry = g_fake->infSections.find(section);
  if (entry == g_fake->infSections.end()) {
    return 0;
  }
  *lines = entry->second;
  return 1;
}

int FakeListPresentDevices(std::vector<PresentDeviceFacts>* devices) {
  if (Record("ListPresentDevices")) {
    return Fail(0);
  }
  if (g_fake->devicesListError != 0) {
    return Fail(0, g_fake->devicesListError);
  }
  *devices = g_fake->devices;
  return 1;
}

int FakeUpdateDriverForPlugAndPlayDevicesA(const char* hardwareId, const char* infPath,
                                           std::uint32_t flags, int* rebootRequired) {
  if (Record(std::string("UpdateDriverForPlugAndPlayDevicesA ") + hardwareId + " " + infPath +
             " flags=" + Hex(flags))) {
    return Fail(0);
  }
  const auto entry = g_fake->driverUpdates.find(hardwareId);
  const FakePlatform::DriverUpdate update = entry != g_fake->driverUpdates.end()
                                                ? entry->second
                                                : FakePlatform::DriverUpdate{1, 0, false};
  *rebootRequired = update.reboot ? 1 : 0;
  g_fake->lastError = update.error;
  return update.answer;
}

int FakeRunProcess(const char* application, const char* commandLine, const char* currentDirectory,
                   std::uint32_t* exitCode) {
  if (Record(std::string("RunProcess ") + application + " | " + commandLine + " | in " +
             currentDirectory)) {
    return Fail(0);
  }
  if (g_fake->processStartError != 0) {
    return Fail(0, g_fake->processStartError);
  }
  *exitCode = g_fake->processExitCode;
  return 1;
}

std::uint32_t FakeGetSystemDirectoryA(char* buffer, std::uint32_t capacity) {
  const std::string folder = g_fake->windowsDirectory + "\\System32";
  if (Record("GetSystemDirectoryA") || Answer(folder, buffer, capacity) == 0) {
    return Fail(0u);
  }
  return static_cast<std::uint32_t>(folder.size());
}

int FakeQueryInfOriginalFileName(const char* infPath, char* name, std::uint32_t capacity) {
  if (Record(std::string("QueryInfOriginalFileName ") + infPath) || !Exists(infPath)) {
    return Fail(0);
  }
  const auto entry = g_fake->originalNames.find(infPath);
  if (entry != g_fake->originalNames.end()) {
    return Answer(entry->second, name, capacity);
  }
  const char* cut = std::strrchr(infPath, '\\');
  return Answer(cut == nullptr ? infPath : cut + 1, name, capacity);
}

int FakeSetupUninstallOEMInfA(const char* infFileName, std::uint32_t flags) {
  if (Record(std::string("SetupUninstallOEMInfA ") + infFileName +
             " flags=" + std::to_string(flags))) {
    return Fail(0);
  }
  const auto entry = g_fake->uninstalls.find(infFileName);
  const FakePlatform::Uninstall outcome =
      entry != g_fake->uninstalls.end() ? entry->second : FakePlatform::Uninstall{1, 0, true};
  if (outcome.deletes) {
    unlink((g_fake->windowsDirectory + "\\inf\\" + infFileName).c_str());
  }
  g_fake->lastError = outcome.error;
  return outcome.answer;
}

std::uint32_t FakeGetSystemWindowsDirectoryA(char* buffer, std::uint32_t capacity) {
  if (Record("GetSystemWindowsDirectoryA") ||
      Answer(g_fake->windowsDirectory, buffer, capacity) == 0) {
    return Fail(0u);
  }
  return static_cast<std::uint32_t>(g_fake->windowsDirectory.size());
}

void FakeInspectCatalog(const char* path, CatalogFacts* facts) {
  if (Record(std::string("InspectCatalog ") + path)) {
    *facts = CatalogFacts();
    return;
  }
  *facts = g_fake->catalog;
}

std::string Bytes(const std::vector<unsigned char>& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

int FakeTrustedPublisherHas(const std::vector<unsigned char>& certificate) {
  if (Record("TrustedPublisherHas " + Bytes(certificate))) {
    return Fail(-1);
  }
  return g_fake->trustedPublisherHasAnswer;
}

int FakeAddTrustedPublisher(const std::vector<unsigned char>& certificate) {
  if (Record("AddTrustedPublisher " + Bytes(certificate))) {
    return Fail(0);
  }
  return g_fake->addTrustedPublisherError != 0 ? Fail(0, g_fake->addTrustedPublisherError) : 1;
}

const PlatformOps kFakeOps = {
    // Process and system
    .GetModuleFileNameA = FakeGetModuleFileNameA,
    .GetModuleHandleW = FakeGetModuleHandleW,
    .GetModuleHandleA = FakeGetModuleHandleA,
    .GetProcAddress = FakeGetProcAddress,
    .GetSystemInfo = FakeGetSystemInfo,
    .GetLastError = FakeGetLastError,
    .GetCurrentProcessId = FakeGetCurrentProcessId,
    .CloseHandle = FakeCloseHandle,
    .GetSystemWindowsDirectoryA = FakeGetSystemWindowsDirectoryA,
    .GetSystemDirectoryA = FakeGetSystemDirectoryA,
    .GetProcessWindowStationFlags = FakeGetProcessWindowStationFlags,
    .ProcessIdToSessionId = FakeProcessIdToSessionId,
    // Files, with the WOW64 redirection switch
    .Wow64EnableWow64FsRedirection = FakeWow64EnableWow64FsRedirection,
    .CopyFileA = FakeCopyFileA,
    .ReplaceFileA = FakeReplaceFileA,
    .MoveFileA = FakeMoveFileA,
    .DeleteFileA = FakeDeleteFileA,
    .GetFileAttributesA = FakeGetFileAttributesA,
    .SetFileAttributesA = FakeSetFileAttributesA,
    .GetFileWriteTime = FakeGetFileWriteTime,
    .FindFiles = FakeFindFiles,
    .DirectoryExists = FakeDirectoryExists,
    .OpenLogFile = FakeOpenLogFile,
    .GetOpenFileFacts = FakeGetOpenFileFacts,
    .AppendStreamOver = FakeAppendStreamOver,
    .OpenFileSharingReadOnly = FakeOpenFileSharingReadOnly,
    .ReadOpenFile = FakeReadOpenFile,
    // Run lock
    .CreateMutexA = FakeCreateMutexA,
    .OpenMutexA = FakeOpenMutexA,
    .WaitForSingleObject = FakeWaitForSingleObject,
    .ReleaseMutex = FakeReleaseMutex,
    .SecurityDescriptorFromSddl = FakeSecurityDescriptorFromSddl,
    .FreeSecurityDescriptor = FakeFreeSecurityDescriptor,
    .PrivateNamespacesAvailable = FakePrivateNamespacesAvailable,
    .CreateBoundaryDescriptorA = FakeCreateBoundaryDescriptorA,
    .AddAdministratorsToBoundary = FakeAddAdministratorsToBoundary,
    .DeleteBoundaryDescriptor = FakeDeleteBoundaryDescriptor,
    .CreatePrivateNamespaceA = FakeCreatePrivateNamespaceA,
    .OpenPrivateNamespaceA = FakeOpenPrivateNamespaceA,
    .ClosePrivateNamespace = FakeClosePrivateNamespace,
    // INF files and the driver store
    .SetupCopyOEMInfA = FakeSetupCopyOEMInfA,
    .SetupSetNonInteractiveMode = FakeSetupSetNonInteractiveMode,
    .ReadInfVersionString = FakeReadInfVersionString,
    .ReadInfSectionLines = FakeReadInfSectionLines,
    .QueryInfOriginalFileName = FakeQueryInfOriginalFileName,
    .SetupUninstallOEMInfA = FakeSetupUninstallOEMInfA,
    // Devices and the helper process
    .ListPresentDevices = FakeListPresentDevices,
    .UpdateDriverForPlugAndPlayDevicesA = FakeUpdateDriverForPlugAndPlayDevicesA,
    .RunProcess = FakeRunProcess,
    // Trust
    .InspectCatalog = FakeInspectCatalog,
    .TrustedPublisherHas = FakeTrustedPublisherHas,
    .AddTrustedPublisher = FakeAddTrustedPublisher,
};

}  // namespace

void UseFakePlatform(FakePlatform& fake) {
  g_fake = &fake;
  SetPlatform(kFakeOps);
}
