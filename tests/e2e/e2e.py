#!/usr/bin/env python3
"""End-to-end runs of the real QZ_DriverSetup.exe under Wine.

  e2e.py --exe EXE --remove-exe EXE --work DIR setup
                                           make the 32-bit and 64-bit prefixes
  e2e.py --exe EXE --work DIR run CASE     one case
  e2e.py --exe EXE --work DIR teardown     stop their Wine servers
  e2e.py list                              case names and the prefix each needs
"""

import argparse
import shutil
import sys
from pathlib import Path

import wine_env
import windows_runner
from cases import (devices, modem_inf, planted_dlls, publisher_trust, releases, remover,
                   run_and_log, runner, staging)
from wine_env import layout_program_folder

# In the order ctest lists them.
CASE_MODULES = [runner, run_and_log, releases, modem_inf, staging, publisher_trust, remover,
                devices, planted_dlls]

def registry():
    """{name: (prefix, function)} of every case: the functions each case module marks as one."""
    cases = {}
    for module in CASE_MODULES:
        for name, value in vars(module).items():
            if getattr(value, "__module__", None) == module.__name__ and hasattr(value, "prefix"):
                cases[name] = (value.prefix, value)
    return cases


CASES = registry()


class Context:
    def __init__(self, exe, remove_exe, error80_exe, helper, work, prefix_name, case_name=None):
        self.exe = Path(exe).resolve()
        self.remove_exe = Path(remove_exe).resolve() if remove_exe else None
        # The 64-bit device helper is built beside the set-up program.
        self.device_helper = self.exe.parent / "QZ_DeviceInstall64.exe"
        self.error80_exe = Path(error80_exe).resolve() if error80_exe else None
        self.helper = Path(helper).resolve() if helper else None
        self.work = Path(work)  # main() placed it already
        if prefix_name in ("own32", "own64"):
            # Devices made in a prefix stay there: such a case makes a prefix of its own.
            self.prefix = wine_env.Prefix(self.work / "own" / case_name,
                                          "win32" if prefix_name == "own32" else "win64")
        else:
            self.prefix = prefixes(self.work)[prefix_name] if prefix_name else None
        # A folder of the case's own: cases that hold different prefixes' locks run at the same
        # time, and two of them laying out one program folder would run in each other's.
        self.scratch = self.work / "cases" / (case_name or "shared")

    def program_folder(self, name, exe=None, **layout):
        folder = layout_program_folder(self.scratch / name, **layout)
        shutil.copy(exe or self.exe, folder / "QZ_DriverSetup.exe")
        if self.remove_exe:
            shutil.copy(self.remove_exe, folder / "QZ_DriverRemove.exe")
        if self.device_helper.exists():
            shutil.copy(self.device_helper, folder / "QZ_DeviceInstall64.exe")
        return folder


def prefixes(work):
    return {"win32": wine_env.Prefix(work / "prefix32", "win32"),
            "win64": wine_env.Prefix(work / "prefix64", "win64")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe")
    parser.add_argument("--remove-exe")
    parser.add_argument("--error80-exe")
    parser.add_argument("--helper")
    parser.add_argument("--work")
    parser.add_argument("action", choices=["setup", "run", "teardown", "list"])
    parser.add_argument("case", nargs="?")
    args = parser.parse_args()

    if args.action == "list":
        for name, (prefix, _) in CASES.items():
            print("%s %s" % (name, prefix))
        return 0
    forwarded = windows_runner.forward_script(sys.argv)
    if forwarded is not None:
        return forwarded
    work = windows_runner.guest_local(args.work)
    if args.action == "setup":
        for prefix in prefixes(work).values():
            prefix.create()
        return 0
    if args.action == "teardown":
        for prefix in prefixes(work).values():
            if prefix.path.exists():
                prefix.kill()
        return 0
    prefix_name, function = CASES[args.case]
    ctx = Context(args.exe, args.remove_exe, args.error80_exe, args.helper, work, prefix_name,
                  args.case)
    try:
        function(ctx)
    except AssertionError as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
