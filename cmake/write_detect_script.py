#!/usr/bin/python3
"""Writes deploy\\detect.ps1 for the package being released: its INF's [Version] Provider and the
version part of its DriverVer, read as the package check reads them, go into the template.

  write_detect_script.py DRIVERS_FOLDER TEMPLATE OUTPUT [--inf-code-page N]

An INF without a byte-order mark is read in ANSI code page N (936 unless given), as the installer
package's build reads it.
"""

import argparse

import re
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import check_driver_package as package  # noqa: E402


def provider_expression(provider):
    """The Provider as PowerShell 2.0 code: a quoted string when it is ASCII, else its UTF-16
    code units, which no re-encoding of the script can change."""
    if provider.isascii():
        # A single-quoted PowerShell string takes a quote as two.
        return "'%s'" % provider.replace("'", "''")
    units = provider.encode("utf-16-le")
    codes = ["0x%04X" % int.from_bytes(units[i:i + 2], "little") for i in range(0, len(units), 2)]
    return "-join ([char[]](%s))" % ", ".join(codes)


def main():
    parser = argparse.ArgumentParser()
    for name in ("drivers", "template", "output"):
        parser.add_argument(name, type=Path)
    parser.add_argument("--inf-code-page", type=int, default=936)
    args = parser.parse_args()
    drivers, template, output = args.drivers, args.template, args.output
    inf = package.find(drivers, package.PACKAGE_INF)
    if inf is None:
        print("error: %s is missing" % package.PACKAGE_INF, file=sys.stderr)
        return 1
    provider = package.version_value(inf, "Provider", ansi="cp%d" % args.inf_code_page)
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
    text = text.replace("@QZ_PROVIDER_EXPRESSION@", provider_expression(provider))
    text = text.replace("@QZ_PROVIDER@", provider)
    text = text.replace("@QZ_DRIVER_VERSION@", version)
    output.parent.mkdir(parents=True, exist_ok=True)
    # With its byte-order mark, PowerShell 2.0 reads the comment's Provider as UTF-8 too.
    output.write_bytes(b"\xef\xbb\xbf" +
                       text.replace("\r\n", "\n").replace("\n", "\r\n").encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main())
