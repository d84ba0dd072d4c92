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

}  // namespace

bool IsWindowsVersionAtLeast(std::uint16_t major, std::uint16_t minor,
                             std::uint16_t servicePackMajor) {
  const RtlGetVersionFn rtlGetVersion = CachedRtlGetVersion();
  OsVersionInfoEx version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (rtlGetVersion == nullptr || rtlGetVersion(&version) != 0) {
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

int Is64BitWindows() {
  SystemInfo info{};
  QueryNativeSystemInfo(&info);
  return info.wProcessorArchitecture == kProcessorArchitectureAmd64 ||
                 info.wProcessorArchitecture == kProcessorArchitectureIa64
             ? 1
             : 0;
}

const char* NativeInfArchitecture() {
  SystemInfo info{};
  QueryNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case kProcessorArchitectureAmd64:
      return "amd64";
    case kProcessorArchitectureIa64:
      return "ia64";
    case kProcessorArchitectureArm64:
      return "arm64";
    default:
      return "x86";
  }
}
