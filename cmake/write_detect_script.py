#!/usr/bin/python3
"""Writes deploy\\detect.ps1 for the package being released: its INF's [Version] Provider and the
version part of its DriverVer, read as the package check reads them, go into the template.

  write_detect_script.py DRIVERS_FOLDER TEMPLATE OUTPUT
"""

import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import check_driver_package as package  # noqa: E402


def main():
    drivers, template, output = (Path(argument) for argument in sys.argv[1:4])
    inf = package.find(drivers, package.PACKAGE_INF)
    if inf is None:
        print("error: %s is missing" % package.PACKAGE_INF, file=sys.stderr)
        return 1
    provider = package.version_value(inf, "Provider")
    version = package.driver_version(inf)
    problems = []
    if not provider:
        problems.append("has no [Version] Provider")
    if not re.fullmatch(r"\d+(\.\d+){1,3}", version):
        problems.append("has no DriverVer version of the form 1.2.3.4 (found %r)" % version)
    if problems:
        for problem in problems:
            print("error: driver package %s: %s %s: deploy\\detect.ps1 cannot tell this release "
                  "apart" % (drivers, package.PACKAGE_INF, problem), file=sys.stderr)
        return 1
    text = template.read_text(encoding="ascii")
    # A single-quoted PowerShell string takes a quote as two.
    text = text.replace("@QZ_PROVIDER@", provider.replace("'", "''"))
    text = text.replace("@QZ_DRIVER_VERSION@", version)
    output.parent.mkdir(parents=True, exist_ok=True)
    # With its byte-order mark, PowerShell 2.0 reads a Provider outside ASCII as UTF-8.
    output.write_bytes(b"\xef\xbb\xbf" +
                       text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
