#!/usr/bin/env python3
"""Checks the built executable as Windows will see it: PE header, manifest, icon group,
version resource and size.

  check_executable.py EXE
"""

import re
import struct
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pe_imports

ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
TRUST_NAMESPACES = ("urn:schemas-microsoft-com:asm.v2", "urn:schemas-microsoft-com:asm.v3")
# (pixels, bits per pixel) of the nine images, in any order.
ICON_IMAGES = sorted([(256, 8), (48, 8), (32, 8), (16, 8),
                      (256, 32), (64, 32), (48, 32), (32, 32), (16, 32)])
SIZE_LIMIT = 640 * 1024

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def resource(exe, kind, name, folder):
    out = Path(folder) / ("%s_%s.bin" % (kind, name))
    subprocess.run(["wrestool", "-x", "--raw", "--type=%s" % kind, "--name=%s" % name,
                    "-o", str(out), str(exe)], check=True)
    return out.read_bytes() if out.exists() else b""


def version_tuple(high, low):
    return (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def check_header(exe):
    headers = pe_imports.objdump_private_headers(exe)
    file_header = subprocess.run([pe_imports.OBJDUMP, "-f", str(exe)], check=True,
                                 stdout=subprocess.PIPE, text=True).stdout
    check("architecture: i386" in file_header, "not a 32-bit (i386) executable")
    check(re.search(r"^Magic\s+010b", headers, re.M) is not None, "not PE32")
    check(re.search(r"^Subsystem\s+00000002", headers, re.M) is not None,
          "not the Windows GUI subsystem")
    for kind in ("OSystem", "Subsystem"):
        major = int(re.search(r"^Major%sVersion\s+(\d+)" % kind, headers, re.M).group(1))
        minor = int(re.search(r"^Minor%sVersion\s+(\d+)" % kind, headers, re.M).group(1))
        check((major, minor) <= (5, 1), "%s version %d.%d is newer than XP's 5.01" %
              (kind, major, minor))


def check_manifest(text):
    root = ElementTree.fromstring(text)
    check(root.tag == "{%s}assembly" % ASM_V1, "manifest root is %s" % root.tag)
    levels = [element for namespace in TRUST_NAMESPACES
              for element in root.iter("{%s}requestedExecutionLevel" % namespace)]
    check(len(levels) == 1, "manifest has %d requestedExecutionLevel elements" % len(levels))
    if levels:
        check(levels[0].get("level") == "requireAdministrator", "level is not requireAdministrator")
        check(levels[0].get("uiAccess") == "false", "uiAccess is not false")
    raw = text.decode("utf-8")
    # Windows XP and Server 2003 crash at start on a prefixed namespace next to a default one.
    check("xmlns:" not in raw, "manifest declares a prefixed namespace")
    trust = re.findall(r"<trustInfo\b([^>]*)>", raw)
    check(len(trust) == 1 and re.fullmatch(r'\s*xmlns="urn:schemas-microsoft-com:asm\.v[23]"\s*',
                                           trust[0]) is not None,
          "trustInfo does not declare asm.v2 or asm.v3 once as its default namespace: %r" % trust)


def image_shape(blob):
    """(pixels, bits per pixel, is PNG) of one icon image resource."""
    if blob.startswith(b"\x89PNG\r\n\x1a\n"):
        width, height, depth, colour_type = struct.unpack(">IIBB", blob[16:26])
        check(width == height, "PNG image not square")
        bits = {3: depth, 6: depth * 4}.get(colour_type, -1)
        return width, bits, True
    size, width, height, planes, bits = struct.unpack("<IiiHH", blob[:16])
    check(size == 40 and height == 2 * width and planes == 1, "bitmap image header malformed")
    return width, bits, False


def check_icon(exe, folder):
    group = resource(exe, 14, 1, folder)
    check(len(group) >= 6, "no icon group 1")
    if len(group) < 6:
        return
    _, kind, count = struct.unpack("<HHH", group[:6])
    check(kind == 1, "icon group type is not icon")
    images = []
    for index in range(count):
        width, height, colours, _, planes, bits, size, ident = struct.unpack(
            "<BBBBHHIH", group[6 + 14 * index:20 + 14 * index])
        pixels, actual_bits, png = image_shape(resource(exe, 3, ident, folder))
        check(pixels == (width or 256) and pixels == (height or 256),
              "icon %d: directory says %dx%d, image is %d" % (ident, width, height, pixels))
        check(actual_bits == bits, "icon %d: directory says %d bits, image has %d" %
              (ident, bits, actual_bits))
        # Windows XP cannot decode PNG icon images.
        check(not png or pixels == 256, "icon %d: %d-pixel image is PNG" % (ident, pixels))
        images.append((pixels, actual_bits))
    check(sorted(images) == ICON_IMAGES, "icon images are %r" % sorted(images))


def check_version(exe, folder):
    blob = resource(exe, 16, 1, folder)
    at = blob.find(struct.pack("<I", 0xFEEF04BD))
    check(at >= 0, "no fixed version information")
    if at < 0:
        return
    file_ms, file_ls, product_ms, product_ls = struct.unpack("<IIII", blob[at + 8:at + 24])
    check(version_tuple(file_ms, file_ls) == (1, 2, 0, 0), "file version is not 1.2.0.0")
    check(version_tuple(product_ms, product_ls) == (1, 2, 0, 0), "product version is not 1.2.0.0")
    text = blob.decode("utf-16-le", errors="replace")
    for key, value in (("FileVersion", "1.2.0.0"), ("ProductVersion", "1.2.0.0"),
                       ("CompanyName", "QZ")):
        check(re.search(key + r"\x00+" + re.escape(value) + r"\x00", text) is not None,
              "version string %s is not %s" % (key, value))


def main():
    exe = Path(sys.argv[1])
    check_header(exe)
    with tempfile.TemporaryDirectory() as folder:
        check_manifest(resource(exe, 24, 1, folder))
        check_icon(exe, folder)
        check_version(exe, folder)
    size = exe.stat().st_size
    check(size < SIZE_LIMIT, "executable is %d bytes, over %d" % (size, SIZE_LIMIT))
    for failure in failures:
        print("FAIL:", failure)
    print("%s: %d bytes, %d problem(s)" % (exe, size, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
