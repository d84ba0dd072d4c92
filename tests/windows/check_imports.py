"""Checks that a shipped program imports KnownDLLs only, so that Windows takes every DLL it
imports from the system folder whatever lies beside the program (which runs elevated, often from
a folder other accounts may write to).

  check_imports.py EXE [--no-trust]

--no-trust: a program with no business with catalogs or certificates carries no code that
asks crypt32 or wintrust anything: it names none of their functions. (It may still load them,
from the system folder, before the Setup API or newdev would load them from anywhere else.)
"""

import argparse
import sys

import pe_reading

# KnownDLLs on every release from XP to 10; setupapi, crypt32, wintrust and newdev are not.
KNOWN_DLLS = {"kernel32.dll", "advapi32.dll", "user32.dll", "msvcrt.dll"}
# What any code that decodes, verifies or stores certificates and signatures must ask for.
TRUST_FUNCTIONS = ("WinVerifyTrust", "CryptMsgOpenToDecode", "CertGetCertificateChain",
                   "CertOpenStore")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--no-trust", action="store_true")
    args = parser.parse_args()
    pe = pe_reading.load(args.exe)
    failures = []
    imported = sorted({dll.lower() for dll, _ in pe_reading.imports(pe)})
    others = [name for name in imported if name not in KNOWN_DLLS]
    if others:
        failures.append("imports DLLs that are not KnownDLLs: %s" % ", ".join(others))
    if getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", None):
        failures.append("has delay-load imports")
    if args.no_trust:
        data = open(args.exe, "rb").read()
        named = [name for name in TRUST_FUNCTIONS if name.encode("ascii") + b"\0" in data]
        if named:
            failures.append("names %s, which it must never call" % ", ".join(named))
    for failure in failures:
        print("FAIL:", failure)
    print("%s imports %s" % (args.exe, ", ".join(imported)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
