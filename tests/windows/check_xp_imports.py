#!/usr/bin/env python3
"""Fails when the executable imports anything that 32-bit Windows XP SP3 lacks.

  check_xp_imports.py EXE ALLOWLIST

Windows refuses to start a program whose import table names a function its system DLLs do
not export, before any of the program's code runs; Wine exports everything whatever version
it imitates, so only this audit can tell.
"""

import sys
from pathlib import Path

import pe_reading

RELEASES = ["NT4", "2000", "XP", "XPSP1", "XPSP2", "XPSP3", "Vista", "7", "8", "8.1", "10"]
NEWEST_ALLOWED = RELEASES.index("XPSP3")
XP_SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll", "setupapi.dll", "advapi32.dll", "user32.dll",
                  "ntdll.dll", "shell32.dll", "ole32.dll", "gdi32.dll", "ws2_32.dll",
                  "crypt32.dll", "wintrust.dll"}


def read_allowlist(path):
    allowed = {}
    for number, line in enumerate(Path(path).read_text().splitlines(), 1):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        dll, function, release = line.split()
        if release not in RELEASES:
            raise SystemExit("%s:%d: unknown release %s" % (path, number, release))
        allowed[(dll.lower(), function)] = release
    return allowed


def audit(exe, allowlist):
    allowed = read_allowlist(allowlist)
    problems = []
    for dll, function in pe_reading.imports(pe_reading.load(exe)):
        if dll.lower() not in XP_SYSTEM_DLLS:
            problems.append("%s!%s: %s is not a system DLL of Windows XP" % (dll, function, dll))
            continue
        release = allowed.get((dll.lower(), function))
        if release is None:
            problems.append("%s!%s: not on the reviewed list" % (dll, function))
        elif RELEASES.index(release) > NEWEST_ALLOWED:
            problems.append("%s!%s (%s): newer than Windows XP SP3" % (dll, function, release))
    return problems


def main():
    exe, allowlist = sys.argv[1], sys.argv[2]
    problems = audit(exe, allowlist)
    for problem in problems:
        print(problem)
    if problems:
        print("%d import(s) would keep %s from starting on Windows XP" % (len(problems), exe))
        return 1
    print("%s: every import exists on Windows XP SP3" % exe)
    return 0


if __name__ == "__main__":
    sys.exit(main())
