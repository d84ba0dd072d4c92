#include "tests/support/fake_platform_ops.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "tests/support/fake_platform_sections.h"

namespace fake_platform {

FakePlatform* g_fake = nullptr;

char g_mutex;
char g_namespace;
char g_boundary;
char g_logFile;
char g_readFile;

bool Record(const std::string& line) {
  g_fake->calls.push_back(line);
  return g_fake->failCall != 0 && g_fake->calls.size() == g_fake->failCall;
}

bool Exists(const char* path) {
  struct stat status;
  return stat(path, &status) == 0;
}

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", value);
  return text;
}

int Answer(const std::string& text, char* buffer, std::uint32_t capacity) {
  if (text.size() >= capacity) {
    return 0;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return 1;
}

std::string HandleName(SystemHandle handle) {
  if (handle == &g_mutex) return "mutex";
  if (handle == &g_namespace) return "namespace";
  if (handle == &g_boundary) return "boundary";
  if (handle == &g_logFile) return "log";
  if (handle == &g_readFile) return "file";
  return "?";
}

}  // namespace fake_platform

void UseFakePlatform(FakePlatform& fake) {
  static const PlatformOps ops = [] {
    PlatformOps table{};
    fake_platform::AddProcessAndSystemFakes(&table);
    fake_platform::AddFileFakes(&table);
    fake_platform::AddRunLockFakes(&table);
    fake_platform::AddDriverStoreFakes(&table);
    fake_platform::AddDeviceFakes(&table);
    fake_platform::AddTrustFakes(&table);
    return table;
  }();
  fake_platform::g_fake = &fake;
  SetPlatform(ops);
}
