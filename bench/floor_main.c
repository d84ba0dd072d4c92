/* The floor for timing a whole set-up run under Wine: a program that starts with the same
   system DLLs loaded (kernel32, msvcrt, setupapi) and exits at once. */
#include <windows.h>
/* setupapi.h needs the types of windows.h first. */
#include <setupapi.h>
#include <stdio.h>

int main(int argc, char** argv) {
  /* Never true; the references keep msvcrt's and setupapi's imports in the table. */
  if (argc > 1000) {
    puts(argv[0]);
    return SetupCopyOEMInfA(argv[0], NULL, SPOST_PATH, 0, NULL, 0, NULL, NULL);
  }
  return 0;
}
