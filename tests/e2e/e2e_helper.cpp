// What the end-to-end runs need from inside Wine that no shell command gives: two instances
// started together, a file held open while the program runs, and a file's attribute bits.
//
//   e2e_helper pair EXE [EXE2]       starts EXE twice (or EXE and EXE2) at once; prints both
//                                    exit codes
//   e2e_helper stage INF             stages INF into the driver store; prints its name there
//   e2e_helper hold FILE SHARE EXE   runs EXE while FILE is open for reading with SHARE
//                                    (none, read, readwrite); prints EXE's exit code
//   e2e_helper unseen EXE            runs EXE on a window station nobody sees, as services
//                                    and deployment tools do; prints its exit code
//   e2e_helper abandon EXE           takes the run lock as the programs do and dies holding it
//                                    (a thread of its own ends), runs EXE, then prints EXE's
//                                    exit code and what the lock is: free, abandoned or held
//   e2e_helper squat EXE             holds a run lock made as another account would make it
//                                    (others may only wait on it), runs EXE, and prints
//                                    "waited" when EXE was still waiting after 3 s, then EXE's
//                                    exit code
//   e2e_helper getattr FILE          prints the attribute bits in hex
//   e2e_helper setattr FILE HEX
//   e2e_helper catalog-name INF      the catalog name the program resolves for INF
//   e2e_helper inspect-catalog CAT   what the program finds out about a catalog's signature
//   e2e_helper add-root DER          puts a certificate into the local machine's Root store
//   e2e_helper chain-trust DER       "trusted" when the machine's roots vouch for the
//                                    certificate, else why not
//   e2e_helper hardware-ids INF      the IDs the program reads from INF's models for this machine
//   e2e_helper make-device HWID      a root-enumerated device with that hardware ID, no driver
//   e2e_helper devices HWID          each present device with that hardware ID: its driver key,
//                                    description and driver INF, tab-separated ("-": none)
//   e2e_helper load-by-name DLL      loads DLL by its base name, the search as Windows starts it
//   e2e_helper load-by-full-path DLL loads DLL as the programs' loader does, the search as
//                                    Windows starts it
//   e2e_helper load-confined DLL     switches the search as the programs do, then loads DLL by
//                                    its base name
//                                    (each prints "loaded" or "not loaded")
#include <windows.h>
// wincrypt.h needs the types of windows.h first.
#include <sddl.h>
#include <setupapi.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "common/run_lock.h"
#include "device/device_install.h"
#include "platform/system_dlls.h"
#include "platform/windows_platform_ops.h"
#include "platform/windows_trust_ops.h"
#include "setup/publisher_trust.h"

namespace {

HANDLE Start(const char* exe, char* desktop = nullptr) {
  std::string commandLine = std::string("\"") + exe + "\"";
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.lpDesktop = desktop;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(exe, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::fprintf(stderr, "cannot start %s: error %lu\n", exe, GetLastError());
    std::exit(2);
  }
  CloseHandle(process.hThread);
  return process.hProcess;
}

DWORD WaitForExit(HANDLE process) {
  WaitForSingleObject(process, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process, &code);
  CloseHandle(process);
  return code;
}

int Pair(const char* exe, const char* other) {
  HANDLE first = Start(exe);
  HANDLE second = Start(other);
  const DWORD firstCode = WaitForExit(first);
  const DWORD secondCode = WaitForExit(second);
  std::printf("%lu %lu\n", firstCode, secondCode);
  return 0;
}

int Hold(const char* file, const char* share, const char* exe) {
  DWORD mode = 0;
  if (std::strcmp(share, "read") == 0) {
    mode = FILE_SHARE_READ;
  } else if (std::strcmp(share, "readwrite") == 0) {
    mode = FILE_SHARE_READ | FILE_SHARE_WRITE;
  } else if (std::strcmp(share, "none") != 0) {
    return 2;
  }
  HANDLE held = CreateFileA(file, GENERIC_READ, mode, nullptr, OPEN_EXISTING, 0, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "cannot open %s: error %lu\n", file, GetLastError());
    return 2;
  }
  const DWORD code = WaitForExit(Start(exe));
  CloseHandle(held);
  std::printf("%lu\n", code);
  return 0;
}

int Unseen(const char* exe) {
  HWINSTA shown = GetProcessWindowStation();
  HWINSTA unseen = CreateWindowStationA("QZUnseen", 0, WINSTA_ALL_ACCESS, nullptr);
  if (unseen == nullptr || !SetProcessWindowStation(unseen)) {
    return 2;
  }
  HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  SetProcessWindowStation(shown);
  if (desktop == nullptr) {
    return 2;
  }
  char name[] = "QZUnseen\\Default";
  std::printf("%lu\n", WaitForExit(Start(exe, name)));
  return 0;
}

DWORD WINAPI TakeAndDie(LPVOID lock) {
  *static_cast<RunLock*>(lock) = TakeRunLock();
  return 0;
}

int Abandon(const char* exe) {
  RunLock lock{};
  HANDLE thread = CreateThread(nullptr, 0, TakeAndDie, &lock, 0, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
  if (lock.mutex == nullptr || !lock.owned) {
    return 2;
  }
  const DWORD code = WaitForExit(Start(exe));
  const DWORD state = WaitForSingleObject(static_cast<HANDLE>(lock.mutex), 0);
  const char* name = state == WAIT_OBJECT_0    ? "free"
                     : state == WAIT_ABANDONED ? "abandoned"
                                               : "held";
  std::printf("%lu %s\n", code, name);
  return 0;
}

int Squat(const char* exe) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // Everyone may wait on it, nobody may do more: what a mutex made under another account
  // grants an administrator at best.
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(
          "D:(A;;0x00100000;;;WD)", SDDL_REVISION_1, &descriptor, nullptr)) {
    return 2;
  }
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
  HANDLE mutex = CreateMutexA(&attributes, TRUE, kRunMutexName);
  LocalFree(descriptor);
  if (mutex == nullptr || GetLastError() == ERROR_ALREADY_EXISTS) {
    return 2;
  }
  HANDLE process = Start(exe);
  const bool waited = WaitForSingleObject(process, 3000) == WAIT_TIMEOUT;
  ReleaseMutex(mutex);
  std::printf("%s %lu\n", waited ? "waited" : "did-not-wait", WaitForExit(process));
  CloseHandle(mutex);
  return 0;
}

int MakeDevice(const char* hardwareId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    return 1;
  }
  SP_DEVINFO_DATA device;
  std::memset(&device, 0, sizeof device);
  device.cbSize = sizeof device;
  GUID noClass;
  std::memset(&noClass, 0, sizeof noClass);
  std::string ids = std::string(hardwareId) + '\0' + '\0';
  const bool made = SetupDiCreateDeviceInfoA(set, "QZTEST", &noClass, nullptr, nullptr,
                                             DICD_GENERATE_ID, &device) &&
                    SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID,
                                                      reinterpret_cast<const BYTE*>(ids.data()),
                                                      static_cast<DWORD>(ids.size())) &&
                    SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device);
  if (!made) {
    std::fprintf(stderr, "cannot make the device: error %lu\n", GetLastError());
  }
  SetupDiDestroyDeviceInfoList(set);
  return made ? 0 : 1;
}

std::string TextProperty(HDEVINFO set, SP_DEVINFO_DATA* device, DWORD property) {
  char value[512] = {};
  return SetupDiGetDeviceRegistryPropertyA(set, device, property, nullptr,
                                           reinterpret_cast<BYTE*>(value), sizeof value - 1,
                                           nullptr)
             ? value
             : "-";
}

int Devices(const char* hardwareId) {
  std::vector<PresentDeviceFacts> facts;
  HDEVINFO set = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (set == INVALID_HANDLE_VALUE || Platform().ListPresentDevices(&facts) == 0) {
    return 1;
  }
  SP_DEVINFO_DATA device;
  std::memset(&device, 0, sizeof device);
  device.cbSize = sizeof device;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(set, i, &device) && i < facts.size(); ++i) {
    const auto& ids = facts[i].hardwareIds;
    if (std::find(ids.begin(), ids.end(), hardwareId) == ids.end()) {
      continue;
    }
    std::printf("%s\t%s\t%s\n", TextProperty(set, &device, SPDRP_DRIVER).c_str(),
                TextProperty(set, &device, SPDRP_DEVICEDESC).c_str(),
                facts[i].infPath.empty() ? "-" : facts[i].infPath.c_str());
  }
  SetupDiDestroyDeviceInfoList(set);
  return 0;
}

int InspectCatalog(const char* path) {
  CatalogFacts facts;
  Platform().InspectCatalog(path, &facts);
  std::printf("present=%d signed=%d valid=%d verdict=0x%08lX chain=0x%08lX every-usage=%d usages=",
              facts.present, facts.signedMessage, facts.signatureValid,
              static_cast<unsigned long>(facts.trustVerdict),
              static_cast<unsigned long>(facts.chainPolicyError), facts.signerAllowsEveryUsage);
  for (const auto& usage : facts.signerUsages) std::printf("%s,", usage.c_str());
  std::printf(" certificate=%u trusted=%d\n", static_cast<unsigned>(facts.signerCertificate.size()),
              facts.signerCertificate.empty()
                  ? -2
                  : Platform().TrustedPublisherHas(facts.signerCertificate));
  return 0;
}

// Whether the machine's roots make the certificate trusted (the base chain policy), as a
// catalog's chain is judged.
int ChainTrust(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> der((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  PCCERT_CONTEXT certificate = CertCreateCertificateContext(
      X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()));
  if (certificate == nullptr) {
    std::printf("unreadable\n");
    return 1;
  }
  CERT_CHAIN_PARA parameters;
  std::memset(&parameters, 0, sizeof parameters);
  parameters.cbSize = sizeof parameters;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, nullptr, &parameters, 0, nullptr,
                               &chain)) {
    std::printf("no chain %lu\n", GetLastError());
    CertFreeCertificateContext(certificate);
    return 1;
  }
  CERT_CHAIN_POLICY_PARA policy;
  std::memset(&policy, 0, sizeof policy);
  policy.cbSize = sizeof policy;
  CERT_CHAIN_POLICY_STATUS status;
  std::memset(&status, 0, sizeof status);
  status.cbSize = sizeof status;
  const BOOL asked =
      CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain, &policy, &status);
  if (!asked) {
    std::printf("no answer %lu\n", GetLastError());
  } else if (status.dwError == 0) {
    std::printf("trusted\n");
  } else {
    std::printf("untrusted 0x%lX\n", status.dwError);
  }
  CertFreeCertificateChain(chain);
  CertFreeCertificateContext(certificate);
  return 0;
}

int AddRoot(const char* path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> der((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
  HCERTSTORE root =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  const BOOL added = root != nullptr &&
                     CertAddEncodedCertificateToStore(
                         root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                         static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  if (root != nullptr) CertCloseStore(root, 0);
  return added ? 0 : 1;
}

int Loaded(HMODULE module) {
  std::printf("%s\n", module != nullptr ? "loaded" : "not loaded");
  return module != nullptr ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  // Before anything else could load a DLL: each of these shows one layer alone.
  if (command == "load-by-name" && argc == 3) {
    return Loaded(LoadLibraryA(argv[2]));
  }
  if (command == "load-by-full-path" && argc == 3) {
    return Loaded(SystemDll(argv[2]));
  }
  if (command == "load-confined" && argc == 3) {
    KeepDllSearchInSystemFolder();
    return Loaded(LoadLibraryA(argv[2]));
  }
  if (command == "pair" && (argc == 3 || argc == 4)) {
    return Pair(argv[2], argv[argc - 1]);
  }
  if (command == "stage" && argc == 3) {
    char name[MAX_PATH] = {};
    char* component = nullptr;
    if (!SetupCopyOEMInfA(argv[2], nullptr, SPOST_PATH, 0, name, MAX_PATH, nullptr, &component)) {
      std::fprintf(stderr, "cannot stage %s: error %lu\n", argv[2], GetLastError());
      return 1;
    }
    std::printf("%s\n", component);
    return 0;
  }
  if (command == "hold" && argc == 5) {
    return Hold(argv[2], argv[3], argv[4]);
  }
  if (command == "unseen" && argc == 3) {
    return Unseen(argv[2]);
  }
  if (command == "getattr" && argc == 3) {
    std::printf("0x%lX\n", GetFileAttributesA(argv[2]));
    return 0;
  }
  if (command == "setattr" && argc == 4) {
    return SetFileAttributesA(argv[2], std::strtoul(argv[3], nullptr, 16)) ? 0 : 1;
  }
  static PlatformOps ops = WindowsPlatformOps();
  AddWindowsTrustOps(&ops);
  SetPlatform(ops);
  if (command == "abandon" && argc == 3) {
    return Abandon(argv[2]);
  }
  if (command == "squat" && argc == 3) {
    return Squat(argv[2]);
  }
  if (command == "catalog-name" && argc == 3) {
    const std::string name = ResolveCatalogName(argv[2], DetectNativeArchitecture());
    std::printf("%s\n", name.empty() ? "(none)" : name.c_str());
    return 0;
  }
  if (command == "inspect-catalog" && argc == 3) {
    return InspectCatalog(argv[2]);
  }
  if (command == "chain-trust" && argc == 3) {
    return ChainTrust(argv[2]);
  }
  if (command == "add-root" && argc == 3) {
    return AddRoot(argv[2]);
  }
  // What this Windows says of the machine, and the architecture the programs take from it.
  if (command == "architecture" && argc == 2) {
    using Wow64Process2Fn = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
    const auto isWow64Process2 = reinterpret_cast<Wow64Process2Fn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("kernel32"), "IsWow64Process2")));
    USHORT processMachine = 0;
    USHORT nativeMachine = 0;
    if (isWow64Process2 == nullptr) {
      std::printf("IsWow64Process2 missing\n");
    } else if (!isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) {
      std::printf("IsWow64Process2 failed %lu\n", GetLastError());
    } else {
      std::printf("IsWow64Process2 %04x %04x\n", processMachine, nativeMachine);
    }
    std::printf("%s\n", InfArchitecture(DetectNativeArchitecture()));
    return 0;
  }
  if (command == "hardware-ids" && argc == 3) {
    for (const std::string& id :
         PackageHardwareIds(argv[2], DetectNativeArchitecture(), DetectOsVersion()))
      std::printf("%s\n", id.c_str());
    std::printf("(end)\n");
    return 0;
  }
  if (command == "make-device" && argc == 3) {
    return MakeDevice(argv[2]);
  }
  if (command == "devices" && argc == 3) {
    return Devices(argv[2]);
  }
  std::fprintf(stderr, "usage: see the comment at the top of e2e_helper.cpp\n");
  return 2;
}
