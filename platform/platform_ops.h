#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/windows_types.h"

// Calls resolved at run time must use the system's calling convention, which differs from
// the default only on 32-bit Windows.
#if defined(_WIN32) && defined(__i386__)
#define QZ_SYSTEM_CALL __attribute__((stdcall))
#else
#define QZ_SYSTEM_CALL
#endif

constexpr std::size_t kPathCapacity = 260;

using ModuleHandle = void*;
using SystemHandle = void*;
// A self-relative security descriptor the platform made; freed with FreeSecurityDescriptor.
using SecurityDescriptor = void*;
using ProcAddress = void (*)();
using RtlGetVersionFn = std::int32_t(QZ_SYSTEM_CALL*)(OsVersionInfoEx*);
using GetNativeSystemInfoFn = void(QZ_SYSTEM_CALL*)(SystemInfo*);
using IsWow64Process2Fn = int(QZ_SYSTEM_CALL*)(SystemHandle process, std::uint16_t* processMachine,
                                               std::uint16_t* nativeMachine);

// What GetCurrentProcess() answers: a constant that stands for this process, never closed.
inline SystemHandle CurrentProcessPseudoHandle() {
  return reinterpret_cast<SystemHandle>(static_cast<std::intptr_t>(-1));
}

// What the platform found out about a driver catalog file and its Authenticode signature.
struct CatalogFacts {
  bool present = false;         // the file could be read
  bool signedMessage = false;   // a signed message whose signer's certificate it carries
  bool signatureValid = false;  // that signer's signature verifies
  // WinVerifyTrust's answer for the file (0: the signature, the content it covers, its time
  // stamp and its chain to a trusted root all verify).
  std::uint32_t trustVerdict = 0;
  // The Authenticode chain policy's error for the signer's chain, time validity aside
  // (0: it ends in a root the machine trusts).
  std::uint32_t chainPolicyError = 0;
  // The signer's enhanced key usages; a certificate without any restriction allows every use.
  bool signerAllowsEveryUsage = false;
  std::vector<std::string> signerUsages;
  // Basic constraints say the signer is a certificate authority.
  bool signerIsCa = false;
  std::vector<unsigned char> signerCertificate;  // DER
  // Each member's SpcIndirectDataContent (DER), which carries the member file's digest.
  std::vector<std::vector<unsigned char>> memberIndirectData;
};

// What an open file is, asked of its handle (GetFileInformationByHandle).
struct OpenFileFacts {
  std::uint32_t attributes = 0;
  std::uint32_t links = 0;
};

// One line of an INF section as the Setup API reads it: field 0 is the key (empty when the line
// has none), then the values, %strkey% already resolved.
using InfLine = std::vector<std::string>;

// A device that is present now, as the device installer sees it.
struct PresentDeviceFacts {
  std::vector<std::string> hardwareIds;  // SPDRP_HARDWAREID
  std::string infPath;                   // its driver key's InfPath; empty when it has no driver
};

// The Windows operations the logic uses. Integers stand for BOOL: non-zero is success.
struct PlatformOps {
  // ---- Process and system
  std::uint32_t (*GetModuleFileNameA)(ModuleHandle module, char* buffer, std::uint32_t capacity);
  ModuleHandle (*GetModuleHandleW)(const wchar_t* name);
  ModuleHandle (*GetModuleHandleA)(const char* name);
  ProcAddress (*GetProcAddress)(ModuleHandle module, const char* name);
  void (*GetSystemInfo)(SystemInfo* info);
  std::uint32_t (*GetLastError)();
  std::uint32_t (*GetCurrentProcessId)();
  int (*CloseHandle)(SystemHandle handle);
  // The system's Windows folder (GetSystemWindowsDirectoryW: under Terminal Services
  // GetWindowsDirectory answers a folder of the user's own), spelled in the ANSI code page the
  // narrow calls take; its length, 0 when Windows cannot answer or that code page cannot spell
  // the folder exactly.
  std::uint32_t (*GetSystemWindowsDirectory)(char* buffer, std::uint32_t capacity);
  // The system folder (System32, as this process sees it); its length, 0 on failure.
  std::uint32_t (*GetSystemDirectoryA)(char* buffer, std::uint32_t capacity);
  // GetProcessWindowStation + GetUserObjectInformationA(UOI_FLAGS); non-zero when answered.
  int (*GetProcessWindowStationFlags)(std::uint32_t* flags);
  int (*ProcessIdToSessionId)(std::uint32_t processId, std::uint32_t* session);
  // Takes the program's own folder and the current one out of the DLL search for the rest of the
  // process: 1 where Windows confines it to the system folder (SetDefaultDllDirectories), 0
  // where only the current folder could be taken out (XP, Vista, 7 without KB2533623).
  int (*ConfineDllSearch)();
  // Loads the system folder's DLL `name` by its full path and keeps it loaded; 0 when it is not
  // there or cannot be loaded.
  int (*PreloadSystemDll)(const char* name);

  // ---- Files, with the WOW64 redirection switch
  // Absent from 32-bit XP's kernel32; the Windows implementation answers 0 there.
  int (*Wow64EnableWow64FsRedirection)(int enable);
  int (*CopyFileA)(const char* source, const char* destination, int failIfExists);
  // Puts `replacement` in place of `replaced`, moving the replaced file to `backup`. Its
  // partial failures can leave the replaced file under the backup name, or missing.
  int (*ReplaceFileA)(const char* replaced, const char* replacement, const char* backup);
  // Renames within a volume; fails when `to` exists.
  int (*MoveFileA)(const char* from, const char* to);
  int (*DeleteFileA)(const char* path);
  std::uint32_t (*GetFileAttributesA)(const char* path);
  int (*SetFileAttributesA)(const char* path, std::uint32_t attributes);
  // The last write time (FILETIME as one number); 0 when it cannot be had.
  std::uint64_t (*GetFileWriteTime)(const char* path);
  // Full paths of the files matching `pattern`, whose last component may hold wildcards.
  std::vector<std::string> (*FindFiles)(const char* pattern);
  // 1 for a plain folder: not a link, junction or other reparse point (which another account may
  // have planted to send the log somewhere else).
  int (*DirectoryExists)(const char* path);
  // Opens the file for appending, creating it when missing, without following a link or other
  // reparse point at its path; null on failure, with the reason in the last error.
  SystemHandle (*OpenLogFile)(const char* path);
  int (*GetOpenFileFacts)(SystemHandle file, OpenFileFacts* facts);
  // A stream that appends through the open file. It takes the handle whatever it answers: the
  // stream closes it, or, when none could be made (null), it is closed already.
  std::FILE* (*AppendStreamOver)(SystemHandle file);
  // Opens the file for reading and lets others read it too, but neither write, rename nor
  // delete it while the handle is open; null on failure, with the reason in the last error.
  SystemHandle (*OpenFileSharingReadOnly)(const char* path);
  // The whole file, from its start. 0 on failure.
  int (*ReadOpenFile)(SystemHandle file, std::vector<unsigned char>* bytes);

  // ---- Run lock
  // Creates the named mutex, or opens it when another process created it; null on failure,
  // with the reason in the last error. A null `security` gives the account's default.
  SystemHandle (*CreateMutexA)(const char* name, SecurityDescriptor security);
  SystemHandle (*OpenMutexA)(std::uint32_t access, const char* name);
  // Waits without a time limit; answers kWaitObject0, kWaitAbandoned or kWaitFailed.
  std::uint32_t (*WaitForSingleObject)(SystemHandle handle);
  int (*ReleaseMutex)(SystemHandle handle);
  // ConvertStringSecurityDescriptorToSecurityDescriptorA; null when the text is refused.
  SecurityDescriptor (*SecurityDescriptorFromSddl)(const char* sddl);
  void (*FreeSecurityDescriptor)(SecurityDescriptor descriptor);
  // Private object namespaces (Vista and later). Looked up at run time: 0 when the system lacks
  // any of the functions below, which are then never called.
  int (*PrivateNamespacesAvailable)();
  SystemHandle (*CreateBoundaryDescriptorA)(const char* name);
  // CreateWellKnownSid(WinBuiltinAdministratorsSid) + AddSIDToBoundaryDescriptor, which may
  // move the descriptor: `boundary` is updated.
  int (*AddAdministratorsToBoundary)(SystemHandle* boundary);
  void (*DeleteBoundaryDescriptor)(SystemHandle boundary);
  // Null on failure, with the reason in the last error (already exists, access denied, ...).
  SystemHandle (*CreatePrivateNamespaceA)(SecurityDescriptor security, SystemHandle boundary,
                                          const char* alias);
  SystemHandle (*OpenPrivateNamespaceA)(SystemHandle boundary, const char* alias);
  int (*ClosePrivateNamespace)(SystemHandle privateNamespace);

  // ---- INF files and the driver store
  int (*SetupCopyOEMInfA)(const char* sourceInf, const char* mediaLocation, std::uint32_t mediaType,
                          std::uint32_t copyStyle, char* destinationName,
                          std::uint32_t destinationNameSize, std::uint32_t* requiredSize,
                          char** destinationNameComponent);
  // Setup API's non-interactive mode: a call that would ask the user fails instead. Looked up
  // at run time; 0 when the system lacks it.
  int (*SetupSetNonInteractiveMode)(int nonInteractive);
  // The first field of `key` in the [Version] section, read with the Setup API's own INF parser
  // (which resolves %strkey% and reads ANSI and UTF-16 files). 0 when the INF is rejected or
  // has no such key.
  int (*ReadInfVersionString)(const char* infPath, const char* key, char* value,
                              std::uint32_t capacity);
  // Every line of `section` of an INF, read with the Setup API's own parser. 0 when the INF is
  // rejected or has no such section.
  int (*ReadInfSectionLines)(const char* infPath, const char* section, std::vector<InfLine>* lines);
  // SetupGetInfInformationA + SetupQueryInfOriginalFileInformationA: the name the INF in the
  // system's INF folder was staged from. 0 when the Setup API cannot tell.
  int (*QueryInfOriginalFileName)(const char* infPath, char* name, std::uint32_t capacity);
  // SetupUninstallOEMInfA, looked up at run time: fails with 127 (ERROR_PROC_NOT_FOUND) where
  // the system lacks it.
  int (*SetupUninstallOEMInfA)(const char* infFileName, std::uint32_t flags);

  // ---- Devices and the helper process
  // SetupDiGetClassDevsA(DIGCF_ALLCLASSES | DIGCF_PRESENT) and, for each device, its hardware IDs
  // and driver key. 0 when the devices cannot be listed.
  int (*ListPresentDevices)(std::vector<PresentDeviceFacts>* devices);
  // newdev.dll's UpdateDriverForPlugAndPlayDevicesA for no window, loaded on first use (its load
  // failure is the call's). `rebootRequired` is set when Windows needs a restart to finish.
  int (*UpdateDriverForPlugAndPlayDevicesA)(const char* hardwareId, const char* infPath,
                                            std::uint32_t flags, int* rebootRequired);
  // CreateProcessA with no window in `currentDirectory`, then waits for it without a time
  // limit. 0 when it cannot be started (the reason in the last error); else 1 with the
  // process's exit code.
  int (*RunProcess)(const char* application, const char* commandLine, const char* currentDirectory,
                    std::uint32_t* exitCode);

  // ---- Trust
  // Decodes the catalog file, checks its signature and the signer's chain.
  void (*InspectCatalog)(const char* path, CatalogFacts* facts);
  // The local machine's TrustedPublisher store: 1 when it holds the certificate, 0 when not,
  // -1 when it cannot be opened.
  int (*TrustedPublisherHas)(const std::vector<unsigned char>& certificate);
  int (*AddTrustedPublisher)(const std::vector<unsigned char>& certificate);
};

// The operations the logic calls; set once by the entry (or by a test) before any use.
const PlatformOps& Platform();
void SetPlatform(const PlatformOps& ops);
