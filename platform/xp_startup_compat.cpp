// The static thread library imports GetTickCount64, which Windows XP's kernel32 lacks; an
// import the loader cannot resolve stops the program before it starts. Defining the import
// slot here keeps the loader from ever looking for it, and the function behind the slot uses
// the real one where it exists.
#include <windows.h>

namespace {

using TickCount64Fn = ULONGLONG(WINAPI*)();

ULONGLONG WINAPI TickCount64() {
  static const TickCount64Fn real = reinterpret_cast<TickCount64Fn>(reinterpret_cast<void (*)()>(
      ::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetTickCount64")));
  if (real != nullptr) {
    return real();
  }
  // XP: widen the 32-bit count, carrying a wrap (every 49.7 days) into the high part. The
  // program has one thread, so the two statics need no lock.
  static DWORD last = 0;
  static ULONGLONG high = 0;
  const DWORD now = ::GetTickCount();
  if (now < last) {
    high += 0x100000000ULL;
  }
  last = now;
  return high + now;
}

}  // namespace

extern "C" {
// The import slot winpthreads calls through, under its i686 (decorated) or x64 name.
#if defined(__i386__)
TickCount64Fn qz_imp_GetTickCount64 __asm__("__imp__GetTickCount64@0") = TickCount64;
#else
TickCount64Fn qz_imp_GetTickCount64 __asm__("__imp_GetTickCount64") = TickCount64;
#endif
}
