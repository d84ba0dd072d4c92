#pragma once

#include <cstdint>
#include <string>

#include "tests/support/fake_platform_ops.h"

// What the fake's sections share: the active script, the record of calls, the scripted failure
// and the handles the fake hands out. Each section fills its part of the table by name.
namespace fake_platform {

extern FakePlatform* g_fake;

// Records the call; true when the script makes this call the one that fails.
bool Record(const std::string& line);

// The last error every scripted failure leaves, unless a call says otherwise.
constexpr std::uint32_t kFailureError = kErrorAccessDenied;

template <typename T>
T Fail(T answer, std::uint32_t error = kFailureError) {
  g_fake->lastError = error;
  return answer;
}

bool Exists(const char* path);
std::string Hex(std::uint32_t value);
// Copies `text` into the caller's buffer as a Windows call would; 0 when it does not fit.
int Answer(const std::string& text, char* buffer, std::uint32_t capacity);

// The handles the fake hands out stand for these; the log file and the one file opened for
// reading have what stands behind them in the file section.
extern char g_mutex;
extern char g_namespace;
extern char g_boundary;
extern char g_logFile;
extern char g_readFile;
std::string HandleName(SystemHandle handle);

void AddProcessAndSystemFakes(PlatformOps* ops);
void AddFileFakes(PlatformOps* ops);
void AddRunLockFakes(PlatformOps* ops);
void AddDriverStoreFakes(PlatformOps* ops);
void AddDeviceFakes(PlatformOps* ops);
void AddTrustFakes(PlatformOps* ops);

}  // namespace fake_platform
