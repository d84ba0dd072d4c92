"""The package publisher's trust"""

import re
import ssl
import subprocess
from pathlib import Path

import catalog
import pki
import wine_env
from cases.common import (
    BANNER, CLOSING, HEADING, INF_COPIED, INF_EDITED, LOG_NAME, STAGED, SYS_COPIED, SYS_PRESENT,
    case, check, empty_folder, expect_messages, run_program)
from cases.modem_inf import helper


PUBLISHER_ADDED = "INFO: 已将驱动发布者证书添加到受信任的发布者 \n"
CATALOG_UNVERIFIED = "Warning: 驱动目录文件签名无法验证，Windows 可能拒绝或提示安装 \n"
TRUSTED_PUBLISHER = "HKLM\\Software\\Microsoft\\SystemCertificates\\TrustedPublisher\\Certificates"


def with_catalog(inf_text, entry):
    return inf_text.replace(b"DriverVer=", entry.encode("ascii") + b"\r\nDriverVer=", 1)


def signed_package(ctx, name, authority, with_root=False, by_ca=False, lists_inf=True):
    """A program folder whose INF names a catalog beside it, signed by `authority`. The catalog
    lists a driver file and then the INF as it is (or, without `lists_inf`, an earlier INF)."""
    folder = ctx.program_folder(name)
    drivers = folder / "Drivers"
    inf = with_catalog(wine_env.DRIVER_INF, "CatalogFile=qz_uart.cat")
    (drivers / "QZ_UsbToUartDriver.inf").write_bytes(inf)
    listed = inf if lists_inf else inf.replace(b"1.2.0.0", b"1.1.0.0")
    unsigned = ctx.scratch / (name + "_unsigned.cat")
    unsigned.write_bytes(catalog.unsigned_catalog(members=[
        catalog.member_of((drivers / "win10" / "usbser.sys").read_bytes()),
        catalog.member_of(listed, "sha1")]))
    authority.sign(unsigned, drivers / "qz_uart.cat", with_root, by_ca)
    return folder


def trusted_publishers(ctx):
    """SHA-1 thumbprints of the local machine's TrustedPublisher certificates."""
    completed = ctx.prefix.wine(["reg", "query", TRUSTED_PUBLISHER], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=120)
    text = completed.stdout.decode("ascii", "replace")
    return sorted(t.upper() for t in re.findall(r"\\([0-9A-Fa-f]{40})\s*$", text, re.M))


def staging_heading(trust_record):
    return HEADING[:2] + ([trust_record] if trust_record else []) + HEADING[2:]


@case("win64")
def publisher_of_a_verified_catalog_is_trusted_once(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    authority = pki.Authority(ctx.scratch / "pki_trusted", "QZ Trusted Test")
    helper(ctx, "add-root", wine_env.windows_path(authority.ca_der))
    before = trusted_publishers(ctx)
    folder = signed_package(ctx, "trusted_publisher", authority)
    for _ in range(2):
        check(run_program(ctx, folder) == 0, "exit code is not 0")
    first = BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED, SYS_COPIED] + \
        staging_heading(PUBLISHER_ADDED) + STAGED + CLOSING
    second = BANNER + ["INFO: Windows10 64Bits System \n", INF_EDITED, SYS_PRESENT] + \
        staging_heading(None) + STAGED + CLOSING
    expect_messages(folder / LOG_NAME, first + second)
    added = sorted(set(trusted_publishers(ctx)) - set(before))
    check(added == [authority.signer_thumbprint()],
          "TrustedPublisher gained %r, want only the signer %s" % (added,
                                                                    authority.signer_thumbprint()))


# A root of Debian's CA store, which every native machine here has (ca-certificates) and Wine's
# crypt32 reads as the machine's roots.
PUBLIC_ROOT = Path("/etc/ssl/certs/ISRG_Root_X1.pem")


@case("win64")
def public_roots_are_trusted_as_on_a_native_machine(ctx):
    """A publicly signed catalog is judged by the same roots wherever Windows programs run."""
    check(PUBLIC_ROOT.is_file(), "%s is missing: Windows programs here trust no public root "
          "(Debian: ca-certificates)" % PUBLIC_ROOT)
    der = ctx.scratch / "public_root.der"
    der.parent.mkdir(parents=True, exist_ok=True)
    der.write_bytes(ssl.PEM_cert_to_DER_cert(PUBLIC_ROOT.read_text()))
    said = helper(ctx, "chain-trust", wine_env.windows_path(der))
    check(said == ["trusted"], "the public root is not trusted: %r" % said)


def publisher_not_trusted(ctx, name, record, usage="code_signing", root_trusted=False,
                          with_root=False, by_ca=False, lists_inf=True):
    """A signed catalog whose signer must not join Trusted Publishers; `record` is the trust
    step's record, or None."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    authority = pki.Authority(ctx.scratch / ("pki_" + name), "QZ %s Test" % name, usage)
    if root_trusted:
        helper(ctx, "add-root", wine_env.windows_path(authority.ca_der))
    before = trusted_publishers(ctx)
    folder = signed_package(ctx, name, authority, with_root, by_ca, lists_inf)
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED,
                                                 SYS_COPIED] +
                    staging_heading(record) + STAGED + CLOSING)
    check(trusted_publishers(ctx) == before, "TrustedPublisher changed")


@case("win64")
def publisher_under_an_untrusted_root_is_not_trusted(ctx):
    publisher_not_trusted(ctx, "untrusted_root", CATALOG_UNVERIFIED, with_root=True)


@case("win64")
def publisher_without_a_chain_to_any_root_is_not_trusted(ctx):
    publisher_not_trusted(ctx, "no_chain", CATALOG_UNVERIFIED)


@case("win64")
def publisher_without_the_code_signing_usage_is_not_trusted(ctx):
    publisher_not_trusted(ctx, "server_auth", CATALOG_UNVERIFIED, usage="server_auth",
                          root_trusted=True)


@case("win64")
def publisher_of_a_catalog_that_does_not_list_the_inf_is_not_trusted(ctx):
    publisher_not_trusted(ctx, "not_listed", CATALOG_UNVERIFIED, root_trusted=True,
                          lists_inf=False)


@case("win64")
def hardware_programme_signer_is_left_to_windows(ctx):
    publisher_not_trusted(ctx, "hardware", None, usage="hardware_programme", root_trusted=True)


@case("win64")
def certificate_authority_as_signer_is_not_trusted(ctx):
    publisher_not_trusted(ctx, "ca_signer", CATALOG_UNVERIFIED, root_trusted=True, by_ca=True)


@case("win64")
def only_an_unseen_window_station_makes_setup_non_interactive(ctx):
    """Wine's Setup API notes the switch among its own messages: nowhere else to see it."""
    ctx.prefix.set_version("win10")
    folder = ctx.program_folder("window_stations")
    switched = "SetupSetNonInteractiveMode 1"
    ctx.prefix.fresh_system()
    code, _, messages = ctx.prefix.run_for_output(folder / "QZ_DriverSetup.exe", [], folder,
                                                  debug="-all,fixme+setupapi")
    check(code == 0, "exit code is not 0")
    check(switched not in messages, "switched on a visible window station")
    ctx.prefix.fresh_system()
    code, output, messages = ctx.prefix.run_for_output(
        ctx.helper, ["unseen", wine_env.windows_path(folder / "QZ_DriverSetup.exe")],
        debug="-all,fixme+setupapi")
    check(code == 0 and output.split() == ["0"], "unseen run: %d %r" % (code, output))
    check(switched in messages, "not switched on an unseen window station")
    one = BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED, SYS_COPIED] + HEADING + \
        STAGED + CLOSING
    expect_messages(folder / LOG_NAME, one + one)


def catalog_names(ctx, decorated):
    """The catalog name the program resolves, over INFs the Setup API parses itself."""
    folder = empty_folder(ctx, "catalog_names_" + decorated)
    version = "[Version]\r\nSignature=\"$Windows NT$\"\r\n"
    infs = {
        "plain": (version + "CatalogFile=plain.cat\r\n").encode("ascii"),
        "strkey": (version + "CatalogFile=%MFGFILENAME%.cat\r\n[Strings]\r\n"
                   "MFGFILENAME=\"qz_from_strings\"\r\n").encode("ascii"),
        "decorated": (version + "CatalogFile=plain.cat\r\nCatalogFile.NTx86=x86.cat\r\n"
                      "CatalogFile.NTamd64=amd64.cat\r\n").encode("ascii"),
        "utf16": wine_env.utf16(version + "CatalogFile=wide.cat\r\n"),
        "none": (version + "Class=Ports\r\n").encode("ascii"),
        "rejected": b"\x00\x01 not an INF \xff\xfe\x00",
    }
    wanted = {"plain": "plain.cat", "strkey": "qz_from_strings.cat", "decorated": decorated,
              "utf16": "wide.cat", "none": "(none)", "rejected": "(none)"}
    for name, data in infs.items():
        (folder / (name + ".inf")).write_bytes(data)
        got = helper(ctx, "catalog-name", wine_env.windows_path(folder / (name + ".inf")))
        check(got == [wanted[name]], "%s.inf: got %r, want %r" % (name, got, wanted[name]))


@case("win64")
def catalog_names_on_64_bit_windows(ctx):
    catalog_names(ctx, "amd64.cat")


@case("win32")
def catalog_names_on_32_bit_windows(ctx):
    catalog_names(ctx, "x86.cat")
