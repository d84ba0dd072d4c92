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
import pefile  # noqa: E402
import compound_file  # noqa: E402

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


def file_version(path):
    """The version a PE file's version resource gives it ("1.2.0.0"), which Windows Installer
    compares with an installed file's before it replaces it; None for other files. Without it a
    file counts as unversioned, and an upgrade that installs over the older release would keep
    every older program in place."""
    data = path.read_bytes()
    if not data.startswith(b"MZ"):
        return None
    try:
        image = pefile.PE(data=data, fast_load=True)
        image.parse_data_directories(
            directories=[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    except pefile.PEFormatError:
        return None
    for info in getattr(image, "VS_FIXEDFILEINFO", None) or []:
        return "%d.%d.%d.%d" % (info.FileVersionMS >> 16, info.FileVersionMS & 0xFFFF,
                                info.FileVersionLS >> 16, info.FileVersionLS & 0xFFFF)
    return None


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


VT_I2, VT_LPSTR, VT_FILETIME = 2, 30, 64


def patch_summary(msi, change):
    """Changes the summary's property values in place: `change(stream, {pid: (type, offset of
    the value)})` edits the stream's bytes, which are then written back."""
    data = bytearray(Path(msi).read_bytes())
    offsets, stream = compound_file.stream(data, "\x05SummaryInformation")
    section_offset, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section_offset + 4)
    values = {}
    for index in range(count):
        pid, offset = struct.unpack_from("<II", stream, section_offset + 8 + 8 * index)
        values[pid] = (struct.unpack_from("<I", stream, section_offset + offset)[0],
                       section_offset + offset + 4)
    change(stream, values)
    for o, byte in zip(offsets, stream):
        data[o] = byte
    Path(msi).write_bytes(bytes(data))


# The summary information's creation and last-save times (PIDs 12 and 13), which wixl takes
# from the clock.
def set_summary_times(msi, epoch):
    filetime = (epoch + FILETIME_EPOCH_OFFSET) * 10000000

    def change(stream, values):
        for pid in (12, 13):
            kind, at = values.get(pid, (None, None))
            if kind != VT_FILETIME:
                raise RuntimeError("the summary information of %s has no times to fix" % msi)
            struct.pack_into("<Q", stream, at, filetime)
    patch_summary(msi, change)


# Windows reads the summary's strings in the code page of its PID 1; msibuild writes them as
# UTF-8 under 1252. The author (PID 4) is rewritten in the package's code page, in its own slot:
# that code page never needs more bytes than UTF-8 for the same text.
def set_summary_code_page(msi, code_page, author):
    encoded = author.encode("cp%d" % code_page) + b"\0"

    def change(stream, values):
        kind, at = values.get(1, (None, None))
        author_kind, author_at = values.get(4, (None, None))
        if kind != VT_I2 or author_kind != VT_LPSTR:
            raise RuntimeError("the summary information of %s has no code page or author" % msi)
        room, = struct.unpack_from("<I", stream, author_at)
        if len(encoded) > room:
            raise RuntimeError("the author does not fit the summary of %s" % msi)
        struct.pack_into("<h", stream, at, code_page)
        struct.pack_into("<I", stream, author_at, len(encoded))
        stream[author_at + 4:author_at + 4 + room] = encoded.ljust(room, b"\0")
    patch_summary(msi, change)


def replace_property(msi, work, name, value):
    """Writes the Property table out as an IDT file (UTF-8 text) with `name` set to `value`;
    answers the msibuild command that imports it back."""
    exported = subprocess.run(["msiinfo", "export", str(msi), "Property"], check=True,
                              stdout=subprocess.PIPE, timeout=120).stdout
    lines = exported.decode("utf-8").split("\r\n")
    rows = [line for line in lines[3:] if line.split("\t")[0] == name]
    if len(rows) != 1:
        raise RuntimeError("%s has %d %s properties" % (msi, len(rows), name))
    lines[lines.index(rows[0])] = "%s\t%s" % (name, value)
    # msibuild names the table after the file.
    idt = Path(work) / "Property.idt"
    idt.write_bytes("\r\n".join(lines).encode("utf-8"))
    return ["msibuild", str(msi), "-i", str(idt)]


def code_page_of(publisher):
    """The package's code page for the publisher: None (wixl's default) for ASCII; else 936 where
    GBK holds it (the market's), else the first Windows ANSI code page that does; 0 when none
    does, and no package can carry it."""
    if publisher.isascii():
        return None
    for code_page in (936, 932, 949, 950) + tuple(range(1250, 1259)):
        try:
            publisher.encode("cp%d" % code_page)
        except UnicodeEncodeError:
            continue
        return code_page
    return 0


def main():
    parser = argparse.ArgumentParser()
    for option in ("--bundle", "--version", "--install-check", "--template", "--epoch",
                   "--output"):
        parser.add_argument(option, required=True)
    parser.add_argument("--inf-code-page", type=int, default=936,
                        help="the ANSI code page an INF without a byte-order mark is read in")
    args = parser.parse_args()
    bundle = Path(args.bundle).resolve()
    epoch = int(args.epoch)
    output = Path(args.output)
    if args.inf_code_page not in package.ANSI_CODE_PAGES:
        print("error: %d is not a Windows ANSI code page (%s)" % (
            args.inf_code_page, ", ".join(str(c) for c in package.ANSI_CODE_PAGES)),
            file=sys.stderr)
        return 1
    inf = package.find(bundle / "Drivers", package.PACKAGE_INF)
    # An ANSI INF is read in the code page the maker names: the one of the machines it is for.
    ansi = inf is not None and package.is_ansi(inf)
    publisher = (package.version_value(inf, "Provider", ansi="cp%d" % args.inf_code_page)
                 if inf is not None else "")
    if not publisher:
        print("error: the package's %s has no [Version] Provider to name the publisher"
              % package.PACKAGE_INF, file=sys.stderr)
        return 1
    problem = package.provider_problem(publisher)
    if problem:
        print("error: %s" % problem, file=sys.stderr)
        return 1
    if ansi:
        print("note: %s is ANSI: read in code page %d (QZ_INF_CODE_PAGE)" % (
            package.PACKAGE_INF, args.inf_code_page))
        if not publisher.isascii():
            print("note: Windows reads an ANSI INF in each machine's own ANSI code page, so "
                  "machines whose code page is not %d read another Provider than %r; an INF in "
                  "UTF-16 (with its byte-order mark) names the publisher the same everywhere" % (
                      args.inf_code_page, publisher))
    # wixl 0.101 drops any text outside ASCII, so such a publisher goes in after it, in a code
    # page that holds it. No package rather than one with a wrong publisher.
    code_page = code_page_of(publisher)
    if code_page == 0:
        print("warning: no installer package: no Windows ANSI code page an installer package "
              "can be written in (936, 932, 949, 950, 1250 to 1258) holds the package's "
              "Provider %r; the zip is made as before" % publisher, file=sys.stderr)
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
    # Replaced after wixl when it is not ASCII.
    values = {"PRODUCT_CODE": product, "VERSION": args.version,
              "PUBLISHER": publisher if code_page is None else "QZ_PUBLISHER",
              "LOGS_COMPONENT": code("component", "logs/"),
              "PACKAGE_INF_SHA256": hashlib.sha256(inf.read_bytes()).hexdigest().upper(),
              "INSTALL_CHECK_DLL": check_dll.name}
    text = template
    for key, value in values.items():
        text = text.replace('"@%s@"' % key, quoteattr(value)).replace("@%s@" % key, value)
    fragment = files_fragment(bundle, tree)
    package_code = code("package", content_digest(bundle, tree, [
        text.encode("utf-8"), fragment.encode("utf-8"), publisher.encode("utf-8"),
        check_dll.read_bytes(), Path(__file__).read_bytes()]))

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
        # Each step's command is made when its turn comes: a step may read what the one before
        # it wrote.
        steps = [lambda: ["wixl", "--arch", "x86", "-o", str(building), str(product_wxs),
                          str(files_wxs)],
                 lambda: ["msibuild", str(building), "-s", "QZ USB-to-UART Driver", publisher,
                          "Intel;1033", "{%s}" % package_code],
                 # wixl drops Execute="rollback" and "commit": 3410 is 18 (a program the
                 # package installs) + 64 (exit code ignored) + 1280 (rollback) + 2048 (as
                 # SYSTEM); 3666 the same with 1536 (commit).
                 lambda: ["msibuild", str(building), "-q", "UPDATE `CustomAction` SET `Type` = "
                          "3410 WHERE `Action` = 'UndoDriverSetup'"],
                 lambda: ["msibuild", str(building), "-q", "UPDATE `CustomAction` SET `Type` = "
                          "3666 WHERE `Action` = 'RemoveEarlierReleases'"]]
        # wixl takes no DefaultVersion: each PE file's version goes into the File table after it.
        for relative, (files, _) in sorted(tree.items()):
            for name in files:
                path = "%s/%s" % (relative, name) if relative else name
                version = file_version(bundle / path)
                if version:
                    steps.append(lambda key=identifier("F", path), version=version: [
                        "msibuild", str(building), "-q", "UPDATE `File` SET `Version` = '%s' "
                        "WHERE `File` = '%s'" % (version, key)])
        if code_page is not None:
            force = Path(work) / "_ForceCodepage.idt"
            force.write_bytes(b"\r\n\r\n%d\t_ForceCodepage\r\n" % code_page)
            steps += [lambda: ["msibuild", str(building), "-i", str(force)],
                      # Imported into the database's new code page, the publisher stays whole.
                      lambda: replace_property(building, work, "Manufacturer", publisher)]
        for step in steps:
            command = step()
            completed = subprocess.run(command, cwd=work, env=env, stdout=subprocess.PIPE,
                                       stderr=subprocess.STDOUT, text=True)
            # wixl warns of what WiX knows and it does not; only a failure matters.
            if completed.returncode != 0:
                building.unlink(missing_ok=True)
                print("error: %s failed:\n%s" % (command[0], completed.stdout), file=sys.stderr)
                return 1
        set_summary_times(building, epoch)
        if code_page is not None:
            set_summary_code_page(building, code_page, publisher)
        building.replace(output)
    print("installer package %s: product code {%s}, package code {%s}" % (args.version, product,
                                                                         package_code))
    return 0


if __name__ == "__main__":
    sys.exit(main())
