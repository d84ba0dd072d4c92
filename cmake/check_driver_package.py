#!/usr/bin/python3
"""Checks a driver package before it is packed, for what Windows will check on the machines it
goes to: the files the bundle's programs read from its "Drivers" folder, each present and
non-empty; every usbser.sys a kernel-mode driver for the machine its folder is for; every
mdmcpq.inf an INF the Setup API reads; the package INF's [Version] Provider free of control
characters; and the catalog that the package INF's [Version] names, a signed catalog that lists
the package INF as it is now.

  check_driver_package.py DRIVERS_FOLDER [--sample]

--sample: the sample package kept in the repository, whose usbser.sys and mdmcpq.inf files are
placeholders: they are checked for presence only.

Names are matched without regard to letter case, as Windows does. Every message starts as a
compiler's does: "error:" for a problem that stops the release (the exit code is then 1),
"warning:" for one Windows will prompt or refuse on some machines, "note:" for what was found.
A package whose INF names no catalog, an unsigned catalog and a signer that does not chain to a
root in Debian's CA store (QZ_CATALOG_CA_FILE names another) only warn.

Debian's python3-pefile and python3-asn1crypto read the files: run it with /usr/bin/python3.
"""

import argparse
import codecs
import hashlib
import os
import re
import subprocess
import sys
import unicodedata
from pathlib import Path

import pefile
from asn1crypto import cms, core, x509

PACKAGE_INF = "QZ_UsbToUartDriver.inf"
PER_RELEASE_FILES = [
    "xp/mdmcpq.inf", "xp/usbser.sys",
    "win7_32bit/mdmcpq.inf", "win7_32bit/usbser.sys",
    "win7_64bit/32bits/mdmcpq.inf", "win7_64bit/64bits/usbser.sys",
    "win8_64bit/mdmcpq.inf", "win8_64bit/usbser.sys",
    "win10/mdmcpq.inf", "win10/usbser.sys",
]
# The machines each folder's driver may be built for: the set-up program copies the files of
# win8_64bit and win10 onto both 32-bit and 64-bit Windows.
DRIVER_MACHINES = {
    "xp/usbser.sys": {"i386"},
    "win7_32bit/usbser.sys": {"i386"},
    "win7_64bit/64bits/usbser.sys": {"x64"},
    "win8_64bit/usbser.sys": {"i386", "x64"},
    "win10/usbser.sys": {"i386", "x64"},
}
MACHINE_NAMES = {0x14C: "i386", 0x8664: "x64", 0x200: "ia64", 0xAA64: "arm64"}
IMAGE_SUBSYSTEM_NATIVE = 1
DEBIAN_CA_FILE = "/etc/ssl/certs/ca-certificates.crt"

SIGNED_DATA = "1.2.840.113549.1.7.2"
CERTIFICATE_TRUST_LIST = "1.3.6.1.4.1.311.10.1"
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
HASHES = {"1.3.14.3.2.26": hashlib.sha1, "2.16.840.1.101.3.4.2.1": hashlib.sha256}


# A catalog is a PKCS #7 SignedData whose content is a certificate trust list; asn1crypto knows
# the envelope, these describe the list (Microsoft's CTL and SpcIndirectDataContent).
class AlgorithmIdentifier(core.Sequence):
    _fields = [("algorithm", core.ObjectIdentifier), ("parameters", core.Any, {"optional": True})]


class AttributeValues(core.SetOf):
    _child_spec = core.Any


class Attribute(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("values", AttributeValues)]


class Attributes(core.SetOf):
    _child_spec = Attribute


class TrustedSubject(core.Sequence):
    _fields = [("subject_identifier", core.OctetString),
               ("subject_attributes", Attributes, {"optional": True})]


class TrustedSubjects(core.SequenceOf):
    _child_spec = TrustedSubject


class SubjectUsage(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class CertificateTrustList(core.Sequence):
    _fields = [
        ("version", core.Integer, {"default": 0}),
        ("subject_usage", SubjectUsage),
        ("list_identifier", core.OctetString, {"optional": True}),
        ("sequence_number", core.Integer, {"optional": True}),
        ("this_update", x509.Time),
        ("next_update", x509.Time, {"optional": True}),
        ("subject_algorithm", AlgorithmIdentifier),
        ("trusted_subjects", TrustedSubjects, {"optional": True}),
        ("extensions", core.Any, {"explicit": 0, "optional": True}),
    ]


class DigestInfo(core.Sequence):
    _fields = [("digest_algorithm", AlgorithmIdentifier), ("digest", core.OctetString)]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [("data", SpcAttributeTypeAndOptionalValue), ("message_digest", DigestInfo)]


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


def inf_text(data, ansi="cp1252"):
    """The INF's text; an INF without a byte-order mark is read in the ANSI code page `ansi`, as
    Windows reads it in the machine's."""
    for bom, encoding in ((codecs.BOM_UTF16_LE, "utf-16-le"), (codecs.BOM_UTF16_BE, "utf-16-be"),
                          (codecs.BOM_UTF8, "utf-8")):
        if data.startswith(bom):
            return data[len(bom):].decode(encoding, "replace")
    return data.decode(ansi, "replace")


def sections(text):
    """{lower-case section name: [(key, value)]}, comments and quotes taken off."""
    result = {}
    current = None
    # Only CR and LF end a line: any other break stays in its value, where the Provider check
    # finds it.
    for raw in re.split(r"\r\n|\r|\n", text):
        line = re.sub(r';(?=(?:[^"]*"[^"]*")*[^"]*$).*', "", raw).strip()
        header = re.fullmatch(r"\[([^\]]+)\]", line)
        if header:
            current = result.setdefault(header.group(1).strip().lower(), [])
        elif current is not None and "=" in line:
            key, value = line.split("=", 1)
            current.append((key.strip(), value.strip()))
    return result


def version_entries(inf_path, ansi="cp1252"):
    """[(key, value)] of the INF's [Version] section, %strkey% resolved from its [Strings]."""
    parsed = sections(inf_text(inf_path.read_bytes(), ansi))
    strings = {}
    for name, entries in parsed.items():
        if name == "strings" or name.startswith("strings."):
            for key, value in entries:
                strings.setdefault(key.lower(), value.strip('"'))

    def resolve(value):
        return re.sub(r"%([^%]+)%", lambda m: strings.get(m.group(1).lower(), m.group(0)), value)

    return [(key, resolve(value)) for key, value in parsed.get("version", [])]


def version_value(inf_path, wanted, ansi="cp1252"):
    """The first field of [Version]'s `wanted` entry, resolved; "" when there is none."""
    for key, value in version_entries(inf_path, ansi):
        if key.lower() == wanted.lower():
            return value.split(",")[0].strip().strip('"')
    return ""


# The ANSI code pages of Windows, each a Python codec "cp<number>".
ANSI_CODE_PAGES = (874, 932, 936, 949, 950, 1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258)


def is_ansi(inf_path):
    """Whether Windows reads the INF in the machine's ANSI code page: it has no byte-order mark."""
    data = inf_path.read_bytes()
    return not any(data.startswith(bom) for bom in (codecs.BOM_UTF16_LE, codecs.BOM_UTF16_BE,
                                                    codecs.BOM_UTF8))


def provider_problem(provider):
    """Why the publisher cannot be carried as it is: a control character (a tab, a line break, a
    NUL), at which the installer package's tables would cut it; None when it can."""
    controls = sorted(set(c for c in provider if unicodedata.category(c) in ("Cc", "Zl", "Zp")))
    if not controls:
        return None
    return ("%s's [Version] Provider %r holds %s, which no publisher name can carry" %
            (PACKAGE_INF, provider, ", ".join("U+%04X" % ord(c) for c in controls)))


def driver_version(inf_path):
    """DriverVer's version part ("01/01/2024,1.2.0.0" -> "1.2.0.0"); "" when there is none."""
    for key, value in version_entries(inf_path):
        if key.lower() == "driverver" and "," in value:
            return value.split(",", 1)[1].strip()
    return ""


def named_catalogs(inf_path):
    """The catalog files that [Version]'s CatalogFile entries name, %strkey% resolved."""
    names = []
    for key, value in version_entries(inf_path):
        if key.lower() == "catalogfile" or key.lower().startswith("catalogfile."):
            names.append(value.split(",")[0].strip().strip('"'))
    return sorted(set(name for name in names if name))


def driver_problem(path, relative, notes):
    """A usbser.sys that Windows would not load as the driver of its folder's machines."""
    try:
        image = pefile.PE(str(path), fast_load=True)
    except pefile.PEFormatError:
        return "%s is not a PE image (a placeholder or another kind of file?)" % relative
    machine = MACHINE_NAMES.get(image.FILE_HEADER.Machine, hex(image.FILE_HEADER.Machine))
    if image.OPTIONAL_HEADER.Subsystem != IMAGE_SUBSYSTEM_NATIVE:
        return "%s is not a kernel-mode driver (PE subsystem %d, not native)" % (
            relative, image.OPTIONAL_HEADER.Subsystem)
    wanted = DRIVER_MACHINES[relative]
    if machine not in wanted:
        return "%s is a driver for %s; Windows needs one for %s there" % (
            relative, machine, " or ".join(sorted(wanted)))
    if len(wanted) > 1:
        notes.append("note: %s is a kernel-mode driver for %s" % (relative, machine))
    return None


def modem_inf_problem(path, relative):
    """An mdmcpq.inf the Setup API would not read: UTF-16LE with its byte-order mark, or ANSI."""
    data = path.read_bytes()
    if data.startswith(codecs.BOM_UTF16_LE):
        try:
            text = data[2:].decode("utf-16-le")
        except UnicodeDecodeError:
            return "%s is not valid UTF-16LE text" % relative
    elif data.startswith(codecs.BOM_UTF8) or data.startswith(codecs.BOM_UTF16_BE) or b"\0" in data:
        return "%s is neither UTF-16LE with its byte-order mark nor ANSI text" % relative
    else:
        text = data.decode("cp1252", "replace")
    if "version" not in sections(text):
        return "%s has no [Version] section" % relative
    return None


def catalog_members_digests(catalog):
    """(catalog's signer certificate or None when it carries no signature, [(hash name, digest)]
    of its members) or a reason why the file is no catalog."""
    try:
        info = cms.ContentInfo.load(catalog)
        if info["content_type"].dotted != SIGNED_DATA:
            return None, "it is not a PKCS #7 signed-data message"
        signed = info["content"]
        content = signed["encap_content_info"]
        if content["content_type"].dotted != CERTIFICATE_TRUST_LIST or not content["content"]:
            return None, "its signed content is not a catalog (a certificate trust list)"
        trust_list = content["content"].parse(CertificateTrustList)
        digests = []
        for subject in trust_list["trusted_subjects"] or []:
            for attribute in subject["subject_attributes"] or []:
                if attribute["type"].dotted != SPC_INDIRECT_DATA:
                    continue
                for value in attribute["values"]:
                    message_digest = value.parse(SpcIndirectDataContent)["message_digest"]
                    digests.append((message_digest["digest_algorithm"]["algorithm"].dotted,
                                    message_digest["digest"].native))
        signer = signer_certificate(signed) if len(signed["signer_infos"]) else None
        return (signer, digests, len(signed["signer_infos"]) > 0), None
    except (ValueError, TypeError, KeyError) as failure:
        return None, "it cannot be read as a signed catalog (%s)" % str(failure).splitlines()[0]


def signer_certificate(signed):
    """The certificate of the first signer, when the message carries it."""
    sid = signed["signer_infos"][0]["sid"]
    if sid.name != "issuer_and_serial_number":
        return None
    issuer, serial = sid.chosen["issuer"], sid.chosen["serial_number"].native
    for choice in signed["certificates"] or []:
        certificate = choice.chosen
        if (isinstance(certificate, x509.Certificate) and certificate.issuer == issuer and
                certificate.serial_number == serial):
            return certificate
    return None


def covers(digests, inf_data):
    for algorithm, digest in digests:
        hash_function = HASHES.get(algorithm)
        if hash_function is not None and hash_function(inf_data).digest() == digest:
            return True
    return False


def signer_note(path, name, certificate):
    """One line on who signed the catalog and whether a root Debian trusts vouches for them: a
    note, or a warning."""
    subject = certificate.subject.human_friendly if certificate is not None else "an unknown signer"
    ca_file = os.environ.get("QZ_CATALOG_CA_FILE") or DEBIAN_CA_FILE
    verified = subprocess.run(["osslsigncode", "verify", "-in", str(path), "-CAfile", ca_file,
                               "-ignore-crl"], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=120).returncode == 0
    if verified:
        return "note: %s is signed by %s, which chains to a root in %s" % (name, subject, ca_file)
    return ("warning: %s is signed by %s, which does not chain to a root in %s (a self-signed or "
            "test certificate?): Windows will prompt or refuse on every machine that does not "
            "trust that root" % (name, subject, ca_file))


UNSIGNED_PACKAGE = ("Windows Vista and later (64-bit) will refuse or prompt for an unsigned "
                    "package")


def problems(folder, sample, notes):
    found = []
    if not folder.is_dir():
        return ["the driver package folder %s does not exist" % folder]
    for relative in [PACKAGE_INF] + PER_RELEASE_FILES:
        path = find(folder, relative)
        if path is None or not path.is_file():
            found.append("%s is missing" % relative)
        elif path.stat().st_size == 0:
            found.append("%s is empty" % relative)
        elif sample or relative == PACKAGE_INF:
            continue
        elif relative.endswith("usbser.sys"):
            found.append(driver_problem(path, relative, notes))
        else:
            found.append(modem_inf_problem(path, relative))
    inf = find(folder, PACKAGE_INF)
    if inf is None or not inf.is_file():
        return [problem for problem in found if problem]
    inf_data = inf.read_bytes()
    found.append(provider_problem(version_value(inf, "Provider")))
    catalogs = named_catalogs(inf)
    if not catalogs and not sample:
        notes.append("warning: %s names no catalog (CatalogFile in [Version]): %s" %
                     (PACKAGE_INF, UNSIGNED_PACKAGE))
    for name in catalogs:
        path = find(folder, name) if "/" not in name and "\\" not in name else None
        if path is None or not path.is_file():
            found.append("%s is missing (the catalog %s names)" % (name, PACKAGE_INF))
            continue
        if path.stat().st_size == 0:
            found.append("%s is empty (the catalog %s names)" % (name, PACKAGE_INF))
            continue
        read, reason = catalog_members_digests(path.read_bytes())
        if read is None:
            found.append("%s is not a catalog: %s" % (name, reason))
            continue
        certificate, digests, is_signed = read
        if not covers(digests, inf_data):
            found.append("%s is not covered by %s (was it changed after signing?)" %
                         (PACKAGE_INF, name))
            continue
        if not is_signed:
            notes.append("warning: %s is not signed (a PKCS #7 message without a signature): %s"
                         % (name, UNSIGNED_PACKAGE))
            continue
        notes.append(signer_note(path, name, certificate))
    return [problem for problem in found if problem]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("folder")
    parser.add_argument("--sample", action="store_true")
    args = parser.parse_args()
    folder = Path(args.folder)
    notes = []
    found = problems(folder, args.sample, notes)
    if args.sample:
        print("note: driver package %s: the sample package (its usbser.sys and mdmcpq.inf files "
              "are placeholders, not checked as such)" % folder)
    for note in notes:
        kind, text = note.split(": ", 1)
        print("%s: driver package %s: %s" % (kind, folder, text))
    for problem in found:
        print("error: driver package %s: %s" % (folder, problem), file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
