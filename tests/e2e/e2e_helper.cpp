// What the end-to-end runs need from inside Wine that no shell command gives: two instances
// started together, a file held open while the program runs, and a file's attribute bits.
//
//   e2e_helper pair EXE              starts EXE twice at once; prints both exit codes
//   e2e_helper hold FILE SHARE EXE   runs EXE while FILE is open for reading with SHARE
//                                    (none, read, readwrite); prints EXE's exit code
//   e2e_helper getattr FILE          prints the attribute bits in hex
//   e2e_helper setattr FILE HEX
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HANDLE Start(const char* exe) {
  std::string commandLine = std::string("\"") + exe + "\"";
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
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

int Pair(const char* exe) {
  HANDLE first = Start(exe);
  HANDLE second = Start(exe);
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

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "pair" && argc == 3) {
    return Pair(argv[2]);
  }
  if (command == "hold" && argc == 5) {
    return Hold(argv[2], argv[3], argv[4]);
  }
  if (command == "getattr" && argc == 3) {
    std::printf("0x%lX\n", GetFileAttributesA(argv[2]));
    return 0;
  }
  if (command == "setattr" && argc == 4) {
    return SetFileAttributesA(argv[2], std::strtoul(argv[3], nullptr, 16)) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: see the comment at the top of e2e_helper.cpp\n");
  return 2;
}
