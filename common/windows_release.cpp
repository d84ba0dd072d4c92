#include "common/windows_release.h"

namespace {

// RtlGetVersion rather than GetVersionEx: it is not subject to the compatibility shims that
// make GetVersionEx report an older release to programs without a matching manifest.
RtlGetVersionFn ResolveRtlGetVersion() {
  const ModuleHandle ntdll = Platform().GetModuleHandleW(L"ntdll.dll");
  return reinterpret_cast<RtlGetVersionFn>(Platform().GetProcAddress(ntdll, "RtlGetVersion"));
}

RtlGetVersionFn CachedRtlGetVersion() {
  static const RtlGetVersionFn entry = ResolveRtlGetVersion();
  return entry;
}

// False when the system cannot tell: RtlGetVersion missing or failing.
bool ReadVersion(OsVersionInfoEx& version) {
  const RtlGetVersionFn rtlGetVersion = CachedRtlGetVersion();
  version = OsVersionInfoEx{};
  version.dwOSVersionInfoSize = sizeof version;
  return rtlGetVersion != nullptr && rtlGetVersion(&version) == 0;
}

}  // namespace

bool IsWindowsVersionAtLeast(std::uint16_t major, std::uint16_t minor,
                             std::uint16_t servicePackMajor) {
  OsVersionInfoEx version;
  if (!ReadVersion(version)) {
    return false;
  }
  if (version.dwMajorVersion != major) {
    return version.dwMajorVersion > major;
  }
  if (version.dwMinorVersion != minor) {
    return version.dwMinorVersion > minor;
  }
  return version.wServicePackMajor >= servicePackMajor;
}

WindowsRelease DetectWindowsRelease() {
  struct Threshold {
    std::uint16_t major;
    std::uint16_t minor;
    WindowsRelease release;
  };
  static const Threshold kNewestFirst[] = {
      {10, 0, WindowsRelease::kWindows10}, {6, 3, WindowsRelease::kWindows81},
      {6, 2, WindowsRelease::kWindows8},   {6, 1, WindowsRelease::kWindows7},
      {6, 0, WindowsRelease::kVista},      {5, 1, WindowsRelease::kXp},
  };
  for (const Threshold& threshold : kNewestFirst) {
    if (IsWindowsVersionAtLeast(threshold.major, threshold.minor, 0)) {
      return threshold.release;
    }
  }
  return WindowsRelease::kUnknown;
}

OsVersion DetectOsVersion() {
  OsVersion os;
  OsVersionInfoEx version;
  if (!ReadVersion(version)) {
    return os;
  }
  os.major = version.dwMajorVersion;
  os.minor = version.dwMinorVersion;
  os.build = version.dwBuildNumber;
  os.productType = version.wProductType;
  os.suiteMask = version.wSuiteMask;
  return os;
}

// GetNativeSystemInfo reports the machine's architecture even to a 32-bit process under
// WOW64; Windows 2000 lacks it, and there GetSystemInfo answers the same question.
void QueryNativeSystemInfo(SystemInfo* info) {
  if (info == nullptr) {
    return;
  }
  const auto native = reinterpret_cast<GetNativeSystemInfoFn>(
      Platform().GetProcAddress(Platform().GetModuleHandleA("kernel32"), "GetNativeSystemInfo"));
  if (native != nullptr) {
    native(info);
  } else {
    Platform().GetSystemInfo(info);
  }
}

namespace {

// IsWow64Process2's machines (IMAGE_FILE_MACHINE_*).
constexpr std::uint16_t kMachineI386 = 0x014C;
constexpr std::uint16_t kMachineIa64 = 0x0200;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kMachineArm64 = 0xAA64;

// Only IsWow64Process2 tells an x86 process it runs on ARM64: GetNativeSystemInfo answers it
// with the architecture it is emulated on (x86 on Windows 10, x64 on Windows 11).
bool AskIsWow64Process2(NativeArchitecture* architecture) {
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(
      Platform().GetProcAddress(Platform().GetModuleHandleA("kernel32"), "IsWow64Process2"));
  std::uint16_t processMachine = 0;
  std::uint16_t nativeMachine = 0;
  if (isWow64Process2 == nullptr ||
      isWow64Process2(CurrentProcessPseudoHandle(), &processMachine, &nativeMachine) == 0) {
    return false;
  }
  switch (nativeMachine) {
    case kMachineI386:
      *architecture = NativeArchitecture::kX86;
      return true;
    case kMachineIa64:
      *architecture = NativeArchitecture::kIa64;
      return true;
    case kMachineAmd64:
      *architecture = NativeArchitecture::kAmd64;
      return true;
    case kMachineArm64:
      *architecture = NativeArchitecture::kArm64;
      return true;
    default:
      return false;
  }
}

}  // namespace

NativeArchitecture DetectNativeArchitecture() {
  NativeArchitecture architecture = NativeArchitecture::kX86;
  if (AskIsWow64Process2(&architecture)) {
    return architecture;
  }
  SystemInfo info{};
  QueryNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case kProcessorArchitectureAmd64:
      return NativeArchitecture::kAmd64;
    case kProcessorArchitectureIa64:
      return NativeArchitecture::kIa64;
    case kProcessorArchitectureArm64:
      return NativeArchitecture::kArm64;
    default:
      return NativeArchitecture::kX86;
  }
}

bool Is64Bit(NativeArchitecture architecture) { return architecture != NativeArchitecture::kX86; }

const char* InfArchitecture(NativeArchitecture architecture) {
  switch (architecture) {
    case NativeArchitecture::kAmd64:
      return "amd64";
    case NativeArchitecture::kIa64:
      return "ia64";
    case NativeArchitecture::kArm64:
      return "arm64";
    case NativeArchitecture::kX86:
      break;
  }
  return "x86";
}
