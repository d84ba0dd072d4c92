#include "common/program_run.h"

#include "common/run_lock.h"
#include "log/install_log.h"
#include "log/messages.h"

std::shared_ptr<spdlog::logger> OpenRunLog(const char* logPath) {
  auto log = CreateInstallLog(kInstallLoggerName, logPath);
  if (log) {
    LogInfo(*log, kMsgLogOpened);
    LogInfo(*log, kMsgDriverVersion);
  }
  return log;
}

int RunHoldingLock(const std::function<int()>& run) {
  const RunLock lock = TakeRunLock();
  const int exitCode = run();
  if (exitCode == kExitDone) {
    LogInfo(kMsgLogClosing);
    LogInfo(kMsgFinalLineFeed);
    CloseInstallLog();
  }
  ReleaseRunLock(lock);
  return exitCode;
}
