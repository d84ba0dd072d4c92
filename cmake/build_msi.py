#!/usr/bin/python3
"""Builds the installer package from an unpacked bundle folder with Debian's wixl, so that it
installs exactly what the zip holds.

  build_msi.py --bundle FOLDER --version X.Y.Z --install-check DLL --template WXS.IN
               --epoch SECONDS --output MSI

The same inputs give the same bytes: every code is derived from the version and the content,
the files' times and the package's summary times are SOURCE_DATE_EPOCH's.
"""

import argparse
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
from pathlib import Path
from xml.sax.saxutils import quoteattr

sys.path.insert(0, str(Path(__file__).resolve().parent))
import check_driver_package as package  # noqa: E402

# Every code derived here lives in this namespace, so no other product's can collide with ours.
NAMESPACE = uuid.UUID("6F0B7C52-3C1E-4B8A-9A57-2D4E1A6C9B30")
FILETIME_EPOCH_OFFSET = 11644473600  # seconds from 1601-01-01 to 1970-01-01
# The exit code for a package that cannot be made from this driver package (the release goes on
# without it).
SKIPPED = 3


def code(*parts):
    return str(uuid.uuid5(NAMESPACE, "\0".join(parts))).upper()


def identifier(kind, relative):
    """A table key for `relative`: readable, and unique through a short digest. The programs
    keep their own names, which the custom actions use."""
    if "/" not in relative and relative.lower().endswith(".exe"):
        return relative
    text = re.sub(r"[^A-Za-z0-9_.]", "_", relative)[-48:]
    return "%s_%s_%s" % (kind, hashlib.sha1(relative.encode("utf-8")).hexdigest()[:10], text)


def tree_of(bundle):
    """{folder relative path: ([files], [subfolders])} of the bundle, sorted, logs left out
    (the product makes that folder itself)."""
    tree = {}
    for folder, subfolders, files in os.walk(bundle):
        relative = Path(folder).relative_to(bundle).as_posix()
        relative = "" if relative == "." else relative
        subfolders[:] = sorted(s for s in subfolders if not (relative == "" and s == "logs"))
        tree[relative] = (sorted(files), list(subfolders))
    return tree


def files_fragment(bundle, tree):
    lines = ['<?xml version="1.0" encoding="utf-8"?>',
             '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">', "  <Fragment>"]
    components = []

    def folder(relative, depth):
        indent = "    " + "  " * depth
        files, subfolders = tree[relative]
        for name in files:
            path = "%s/%s" % (relative, name) if relative else name
            component = identifier("C", path)
            components.append(component)
            lines.append("%s<Component Id=%s Guid=%s>" % (indent, quoteattr(component),
                                                           quoteattr(code("component", path))))
            lines.append("%s  <File Id=%s Name=%s Source=%s />" % (
                indent, quoteattr(identifier("F", path)), quoteattr(name),
                quoteattr("bundle/" + path)))
            lines.append("%s</Component>" % indent)
        for name in subfolders:
            path = "%s/%s" % (relative, name) if relative else name
            lines.append("%s<Directory Id=%s Name=%s>" % (indent, quoteattr(identifier("D", path)),
                                                          quoteattr(name)))
            folder(path, depth + 1)
            lines.append("%s</Directory>" % indent)

    lines.append('    <DirectoryRef Id="INSTALLFOLDER">')
    folder("", 1)
    lines.append("    </DirectoryRef>")
    lines.append('    <ComponentGroup Id="BundleFiles">')
    lines += ['      <ComponentRef Id=%s />' % quoteattr(c) for c in components]
    lines += ["    </ComponentGroup>", "  </Fragment>", "</Wix>", ""]
    return "\n".join(lines)


def content_digest(bundle, tree, extra):
    digest = hashlib.sha256()
    for relative, (files, _) in sorted(tree.items()):
        for name in files:
            path = "%s/%s" % (relative, name) if relative else name
            digest.update(path.encode("utf-8") + b"\0")
            digest.update(hashlib.sha256((bundle / path).read_bytes()).digest())
    for data in extra:
        digest.update(hashlib.sha256(data).digest())
    return digest.hexdigest()


# The summary information's creation and last-save times (PIDs 12 and 13), which wixl takes
# from the clock. They live in the compound file's "\x05SummaryInformation" stream.
def set_summary_times(msi, epoch):
    data = bytearray(Path(msi).read_bytes())
    sector_size = 1 << struct.unpack_from("<H", data, 30)[0]
    mini_size = 1 << struct.unpack_from("<H", data, 32)[0]
    first_directory, = struct.unpack_from("<I", data, 48)
    mini_cutoff, first_minifat, minifat_count = struct.unpack_from("<III", data, 56)
    difat = list(struct.unpack_from("<109I", data, 76))
    first_difat, difat_count = struct.unpack_from("<II", data, 68)
    sector_at = lambda n: 512 + n * sector_size if sector_size == 512 else (n + 1) * sector_size
    per_sector = sector_size // 4
    next_difat = first_difat
    for _ in range(difat_count):
        base = sector_at(next_difat)
        difat += struct.unpack_from("<%dI" % (per_sector - 1), data, base)
        next_difat, = struct.unpack_from("<I", data, base + sector_size - 4)
    fat = []
    for sector in difat:
        if sector >= 0xFFFFFFFA:
            continue
        fat += struct.unpack_from("<%dI" % per_sector, data, sector_at(sector))

    def chain(start):
        sectors = []
        while start < 0xFFFFFFFA:
            sectors.append(start)
            start = fat[start]
        return sectors

    directory = b"".join(bytes(data[sector_at(s):sector_at(s) + sector_size])
                         for s in chain(first_directory))
    entries = [directory[i:i + 128] for i in range(0, len(directory), 128)]
    root_start, = struct.unpack_from("<I", entries[0], 116)
    wanted = "\x05SummaryInformation".encode("utf-16-le")
    for entry in entries:
        name_length, = struct.unpack_from("<H", entry, 64)
        if entry[:max(name_length - 2, 0)] == wanted:
            start, size = struct.unpack_from("<IQ", entry, 116)
            break
    else:
        raise RuntimeError("no summary information in %s" % msi)
    size &= 0xFFFFFFFF
    # Where each byte of the stream sits in the file.
    if size < mini_cutoff:
        minifat = []
        for sector in chain(first_minifat):
            minifat += struct.unpack_from("<%dI" % per_sector, data, sector_at(sector))
        root_sectors = chain(root_start)
        offsets = []
        mini = start
        while mini < 0xFFFFFFFA:
            at = mini * mini_size
            base = sector_at(root_sectors[at // sector_size]) + at % sector_size
            offsets += range(base, base + mini_size)
            mini = minifat[mini]
    else:
        offsets = [sector_at(s) + i for s in chain(start) for i in range(sector_size)]
    offsets = offsets[:size]
    stream = bytearray(data[o] for o in offsets)
    section_offset, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section_offset + 4)
    filetime = (epoch + FILETIME_EPOCH_OFFSET) * 10000000
    found = set()
    for index in range(count):
        pid, offset = struct.unpack_from("<II", stream, section_offset + 8 + 8 * index)
        value_at = section_offset + offset
        if pid in (12, 13) and struct.unpack_from("<I", stream, value_at)[0] == 64:  # VT_FILETIME
            struct.pack_into("<Q", stream, value_at + 4, filetime)
            found.add(pid)
    if found != {12, 13}:
        raise RuntimeError("the summary information of %s has no times to fix" % msi)
    for o, byte in zip(offsets, stream):
        data[o] = byte
    Path(msi).write_bytes(bytes(data))


def main():
    parser = argparse.ArgumentParser()
    for option in ("--bundle", "--version", "--install-check", "--template", "--epoch",
                   "--output"):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    bundle = Path(args.bundle).resolve()
    epoch = int(args.epoch)
    output = Path(args.output)
    inf = package.find(bundle / "Drivers", package.PACKAGE_INF)
    # The machines it goes to read an ANSI INF as GBK, the code page the log is written in.
    publisher = package.version_value(inf, "Provider", ansi="gbk") if inf is not None else ""
    if not publisher:
        print("error: the package's %s has no [Version] Provider to name the publisher"
              % package.PACKAGE_INF, file=sys.stderr)
        return 1
    # wixl 0.101 drops any text outside ASCII from the package, so a Provider such as "青州科技"
    # would leave Add/Remove Programs without a publisher: no package rather than a wrong one.
    if not publisher.isascii():
        print("warning: no installer package: the package's Provider %r is not ASCII text, which "
              "wixl cannot write into one; the zip is made as before" % publisher,
              file=sys.stderr)
        return SKIPPED
    if not re.fullmatch(r"\d+\.\d+\.\d+(\.\d+)?", args.version):
        print("error: %r is not a version an installer package can carry" % args.version,
              file=sys.stderr)
        return 1

    tree = tree_of(bundle)
    template = Path(args.template).read_text(encoding="utf-8")
    check_dll = Path(args.install_check).resolve()
    # Each release is a product of its own (a major upgrade); each build of different content
    # is a package of its own.
    product = code("product", args.version)
    values = {"PRODUCT_CODE": product, "VERSION": args.version, "PUBLISHER": publisher,
              "LOGS_COMPONENT": code("component", "logs/"),
              "INSTALL_CHECK_DLL": check_dll.name}
    text = template
    for key, value in values.items():
        text = text.replace('"@%s@"' % key, quoteattr(value)).replace("@%s@" % key, value)
    fragment = files_fragment(bundle, tree)
    package_code = code("package", content_digest(bundle, tree, [
        text.encode("utf-8"), fragment.encode("utf-8"), check_dll.read_bytes(),
        Path(__file__).read_bytes()]))

    # The cabinet carries each file's time: the epoch's, as the zip's entries.
    for path in bundle.rglob("*"):
        os.utime(path, (epoch, epoch), follow_symlinks=False)
    with tempfile.TemporaryDirectory() as work:
        # wixl takes sources relative to where it runs, never absolute paths.
        (Path(work) / "bundle").symlink_to(bundle, target_is_directory=True)
        shutil.copyfile(check_dll, Path(work) / check_dll.name)
        product_wxs, files_wxs = Path(work) / "product.wxs", Path(work) / "files.wxs"
        product_wxs.write_text(text, encoding="utf-8")
        files_wxs.write_text(fragment, encoding="utf-8")
        building = output.resolve().with_name(output.name + ".building")
        env = dict(os.environ, SOURCE_DATE_EPOCH=str(epoch))
        for command in (["wixl", "--arch", "x86", "-o", str(building), str(product_wxs),
                         str(files_wxs)],
                        ["msibuild", str(building), "-s", "QZ USB-to-UART Driver", publisher,
                         "Intel;1033", "{%s}" % package_code],
                        # wixl drops Execute="rollback": 3410 is 18 (a program the package
                        # installs) + 64 (exit code ignored) + 1280 (rollback) + 2048 (as SYSTEM).
                        ["msibuild", str(building), "-q", "UPDATE `CustomAction` SET `Type` = 3410 "
                         "WHERE `Action` = 'UndoDriverSetup'"]):
            completed = subprocess.run(command, cwd=work, env=env, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, text=True)
            # wixl warns of what WiX knows and it does not; only a failure matters.
            if completed.returncode != 0:
                building.unlink(missing_ok=True)
                print("error: %s failed:\n%s" % (command[0], completed.stdout), file=sys.stderr)
                return 1
        set_summary_times(building, epoch)
        building.replace(output)
    print("installer package %s: product code {%s}, package code {%s}" % (args.version, product,
                                                                         package_code))
    return 0


if __name__ == "__main__":
    sys.exit(main())
