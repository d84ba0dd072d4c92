"""Checks the built executable as Windows will see it: PE header, manifest, icon group,
version resource, signature and size.

  check_executable.py EXE --version X.Y.Z (--signed | --unsigned) [--x64] [--level LEVEL]

--x64: the 64-bit helper (PE32+, x64, loadable from XP x64 / Server 2003, 5.2); --level: the
execution level its manifest asks for (requireAdministrator unless said).
"""

import argparse
import re
import struct
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pe_reading

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


def check_header(pe, x64):
    machine, magic, oldest = (0x8664, 0x20B, (5, 2)) if x64 else (0x14C, 0x10B, (5, 1))
    check(pe.FILE_HEADER.Machine == machine, "not a %s executable" % ("x64" if x64 else "i386"))
    optional = pe.OPTIONAL_HEADER
    check(optional.Magic == magic, "not PE32+" if x64 else "not PE32")
    check(optional.Subsystem == 2, "not the Windows GUI subsystem")
    for kind in ("OperatingSystem", "Subsystem"):
        version = (getattr(optional, "Major%sVersion" % kind),
                   getattr(optional, "Minor%sVersion" % kind))
        check(version <= oldest, "%s version %d.%d is newer than %d.%02d" %
              ((kind,) + version + oldest))


def check_manifest(text, version, level):
    root = ElementTree.fromstring(text)
    check(root.tag == "{%s}assembly" % ASM_V1, "manifest root is %s" % root.tag)
    identity = root.find("{%s}assemblyIdentity" % ASM_V1)
    check(identity is not None and identity.get("version") == version + ".0",
          "manifest assembly version is not %s.0" % version)
    levels = [element for namespace in TRUST_NAMESPACES
              for element in root.iter("{%s}requestedExecutionLevel" % namespace)]
    check(len(levels) == 1, "manifest has %d requestedExecutionLevel elements" % len(levels))
    if levels:
        check(levels[0].get("level") == level, "level is not %s" % level)
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


def check_icon(pe):
    group = pe_reading.resource(pe, pe_reading.RT_GROUP_ICON, 1)
    check(len(group) >= 6, "no icon group 1")
    if len(group) < 6:
        return
    _, kind, count = struct.unpack("<HHH", group[:6])
    check(kind == 1, "icon group type is not icon")
    images = []
    for index in range(count):
        width, height, colours, _, planes, bits, size, ident = struct.unpack(
            "<BBBBHHIH", group[6 + 14 * index:20 + 14 * index])
        pixels, actual_bits, png = image_shape(pe_reading.resource(pe, pe_reading.RT_ICON, ident))
        check(pixels == (width or 256) and pixels == (height or 256),
              "icon %d: directory says %dx%d, image is %d" % (ident, width, height, pixels))
        check(actual_bits == bits, "icon %d: directory says %d bits, image has %d" %
              (ident, bits, actual_bits))
        # Windows XP cannot decode PNG icon images.
        check(not png or pixels == 256, "icon %d: %d-pixel image is PNG" % (ident, pixels))
        images.append((pixels, actual_bits))
    check(sorted(images) == ICON_IMAGES, "icon images are %r" % sorted(images))


def check_version(pe, version):
    four = tuple(int(part) for part in version.split(".")) + (0,)
    file_version, product_version = pe_reading.fixed_versions(pe)
    check(file_version == four, "file version is %r, not %r" % (file_version, four))
    check(product_version == four, "product version is %r, not %r" % (product_version, four))
    strings = pe_reading.version_strings(pe)
    text = ".".join(str(part) for part in four)
    for key, value in (("FileVersion", text), ("ProductVersion", text), ("CompanyName", "QZ")):
        check(strings.get(key) == value, "version string %s is %r, not %r" %
              (key, strings.get(key), value))


def check_signature(pe, signed):
    offset, size = pe_reading.security_directory(pe)
    if signed:
        check(offset != 0 and size != 0, "no security directory: the file is not signed")
    else:
        check(offset == 0 and size == 0, "a security directory: the file is signed")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("exe")
    parser.add_argument("--version", required=True, help="the project version, X.Y.Z")
    signing = parser.add_mutually_exclusive_group(required=True)
    signing.add_argument("--signed", action="store_true")
    signing.add_argument("--unsigned", action="store_true")
    parser.add_argument("--x64", action="store_true")
    parser.add_argument("--level", default="requireAdministrator")
    args = parser.parse_args()
    exe = Path(args.exe)
    pe = pe_reading.load(exe)
    check_header(pe, args.x64)
    check_manifest(pe_reading.resource(pe, pe_reading.RT_MANIFEST, 1), args.version, args.level)
    check_icon(pe)
    check_version(pe, args.version)
    check_signature(pe, args.signed)
    size = exe.stat().st_size
    check(size < SIZE_LIMIT, "executable is %d bytes, over %d" % (size, SIZE_LIMIT))
    for failure in failures:
        print("FAIL:", failure)
    print("%s: %d bytes, %d problem(s)" % (exe, size, len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
