#!/usr/bin/env python3
"""Checks a driver package before it is packed: the files QZ_DriverSetup.exe reads from its
"Drivers" folder, each present and non-empty, and the catalog that the package INF's
[Version] names (Windows refuses to stage a package whose named catalog is missing).

  check_driver_package.py DRIVERS_FOLDER

Names are matched without regard to letter case, as Windows does. Every problem is printed
with the file's path inside the package; the exit code is 1 when there is any.
"""

import codecs
import re
import sys
from pathlib import Path

PACKAGE_INF = "QZ_UsbToUartDriver.inf"
PER_RELEASE_FILES = [
    "xp/mdmcpq.inf", "xp/usbser.sys",
    "win7_32bit/mdmcpq.inf", "win7_32bit/usbser.sys",
    "win7_64bit/32bits/mdmcpq.inf", "win7_64bit/64bits/usbser.sys",
    "win8_64bit/mdmcpq.inf", "win8_64bit/usbser.sys",
    "win10/mdmcpq.inf", "win10/usbser.sys",
]


def find(folder, relative):
    """The file at `relative` (a "/" path) under `folder`, any letter case, or None."""
    here = folder
    for part in relative.split("/"):
        if not here.is_dir():
            return None
        matches = [child for child in sorted(here.iterdir()) if child.name.lower() == part.lower()]
        if not matches:
            return None
        here = matches[0]
    return here


def inf_text(data):
    for bom, encoding in ((codecs.BOM_UTF16_LE, "utf-16-le"), (codecs.BOM_UTF16_BE, "utf-16-be"),
                          (codecs.BOM_UTF8, "utf-8")):
        if data.startswith(bom):
            return data[len(bom):].decode(encoding, "replace")
    return data.decode("cp1252", "replace")


def sections(text):
    """{lower-case section name: [(key, value)]}, comments and quotes taken off."""
    result = {}
    current = None
    for raw in text.splitlines():
        line = re.sub(r';(?=(?:[^"]*"[^"]*")*[^"]*$).*', "", raw).strip()
        header = re.fullmatch(r"\[([^\]]+)\]", line)
        if header:
            current = result.setdefault(header.group(1).strip().lower(), [])
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current.append((key.strip(), value.strip()))
    return result


def named_catalogs(inf_path):
    """The catalog files that [Version]'s CatalogFile entries name, %strkey% resolved."""
    parsed = sections(inf_text(inf_path.read_bytes()))
    strings = {}
    for name, entries in parsed.items():
        if name == "strings" or name.startswith("strings."):
            for key, value in entries:
                strings.setdefault(key.lower(), value.strip('"'))

    def resolve(value):
        return re.sub(r"%([^%]+)%", lambda m: strings.get(m.group(1).lower(), m.group(0)), value)

    names = []
    for key, value in parsed.get("version", []):
        if key.lower() == "catalogfile" or key.lower().startswith("catalogfile."):
            names.append(resolve(value.split(",")[0].strip().strip('"')))
    return [name for name in names if name]


def problems(folder):
    found = []
    if not folder.is_dir():
        return ["the driver package folder %s does not exist" % folder]
    for relative in [PACKAGE_INF] + PER_RELEASE_FILES:
        path = find(folder, relative)
        if path is None or not path.is_file():
            found.append("%s is missing" % relative)
        elif path.stat().st_size == 0:
            found.append("%s is empty" % relative)
    inf = find(folder, PACKAGE_INF)
    if inf is not None and inf.is_file():
        for catalog in named_catalogs(inf):
            path = find(folder, catalog) if "/" not in catalog and "\\" not in catalog else None
            if path is None or not path.is_file():
                found.append("%s is missing (the catalog %s names)" % (catalog, PACKAGE_INF))
            elif path.stat().st_size == 0:
                found.append("%s is empty (the catalog %s names)" % (catalog, PACKAGE_INF))
    return found


def main():
    folder = Path(sys.argv[1])
    found = problems(folder)
    for problem in found:
        print("driver package %s: %s" % (folder, problem), file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
