"""Nothing planted beside the programs runs with their rights: DLLs named as system DLLs that are
not KnownDLLs, which the programs or the system DLLs they call look for."""

import os
import shutil
import subprocess
from pathlib import Path

import pki
import wine_env
from cases.common import (
    BANNER, CLOSING, INF_COPIED, INF_EDITED, LOG_NAME, NOT_STAGED, STAGED, SYS_COPIED,
    SYS_PRESENT, case, check, expect_messages)
from cases.modem_inf import helper
from cases.publisher_trust import (
    CATALOG_UNVERIFIED, PUBLISHER_ADDED, signed_package, staging_heading, with_catalog)
from cases.devices import DEVICES_INSTALLED, OUR_DEVICE, devices


# What Wine's loader trace (WINEDEBUG=+loaddll) shows the programs, and the system DLLs they
# call, loading once the program runs: setupapi and newdev, the trust step's crypt32, wintrust,
# bcrypt, rsaenh and cryptnet, and uxtheme; with what Windows' own setupapi, newdev and crypt32
# load beside them: msasn1, cryptsp, cfgmgr32, devobj and drvstore. Wine loads KnownDLLs
# late too (ole32, combase, shell32, shlwapi, shcore), searching the program's folder first.
# Before the program runs, Wine's own user32 and kernel32 bring version, win32u, zlib1, ucrtbase
# and kernelbase; Windows binds a KnownDLL's imports from the system folder, and under Wine a
# planted copy of one of these ends the process before any program code runs.
PLANTED_NAMES = ["setupapi", "newdev", "crypt32", "wintrust", "bcrypt", "rsaenh", "cryptnet",
                 "uxtheme", "msasn1", "cryptsp", "cfgmgr32", "devobj", "drvstore", "ole32",
                 "combase", "shell32", "shlwapi", "shcore"]


def search_like_windows(names):
    """Wine prefers its builtin DLLs; with these set to native first it searches like Windows,
    the program's own folder first."""
    return dict(WINEDLLOVERRIDES="mscoree,mshtml=;%s=n,b" % ",".join(names))


def planted_dll(ctx, machine):
    """The planted DLL built for `machine` (i686 or x86_64), once per test run."""
    built = ctx.work / "planted" / machine / "planted.dll"
    if not built.exists():
        built.parent.mkdir(parents=True, exist_ok=True)
        partial = built.with_name("planted.%d.part" % os.getpid())
        subprocess.run(["%s-w64-mingw32-gcc" % machine, "-shared", "-O2", "-o", str(partial),
                        str(Path(__file__).resolve().parents[1] / "planted_dll.c")],
                       check=True, timeout=120)
        partial.replace(built)
    return built


def plant(ctx, folder, machine, names=PLANTED_NAMES):
    for name in names:
        shutil.copy(planted_dll(ctx, machine), folder / (name + ".dll"))


def check_nothing_planted_loaded(folder):
    loaded = sorted(p.name for p in folder.glob("*.loaded"))
    for leftover in folder.glob("*.loaded"):
        leftover.unlink()
    check(loaded == [], "planted DLLs were loaded: %r" % loaded)


# The trust step's paths: what the INF names, what lies beside it, the trust record of the first
# run (None: none), and whether the package is staged (Wine's Setup API refuses a package whose
# named catalog is missing).
def no_catalog(ctx, name, _authority):
    return ctx.program_folder(name)


def missing_catalog(ctx, name, _authority):
    folder = ctx.program_folder(name)
    inf = folder / "Drivers" / "QZ_UsbToUartDriver.inf"
    inf.write_bytes(with_catalog(wine_env.DRIVER_INF, "CatalogFile=qz_uart.cat"))
    return folder


def unverified_catalog(ctx, name, _authority):
    stranger = pki.Authority(ctx.scratch / ("pki_" + name), "QZ Planted Stranger")
    return signed_package(ctx, name, stranger)


def trusted_catalog(ctx, name, authority):
    return signed_package(ctx, name, authority)


TRUST_PATHS = {
    "no_catalog": (no_catalog, None, True),
    "missing_catalog": (missing_catalog, CATALOG_UNVERIFIED, False),
    "unverified_catalog": (unverified_catalog, CATALOG_UNVERIFIED, True),
    "trusted_catalog": (trusted_catalog, PUBLISHER_ADDED, True),
}


def planted_dlls_stay_unloaded(ctx, path):
    """Set-up along one path through the trust step, with a device to install onto (newdev; on
    64-bit Windows through the helper), then the remover, beside DLLs planted for each machine
    whose programs run there in turn: the 32-bit programs' and, on 64-bit Windows, the
    helper's."""
    make_folder, trust_record, stages = TRUST_PATHS[path]
    machines = ["i686", "x86_64"] if ctx.prefix.arch == "win64" else ["i686"]
    ctx.prefix.create()
    try:
        ctx.prefix.set_version("win10")
        # As the program says it: "Windows10 64Bits System \n", "Windows10 32Bits System\n".
        system = "64Bits System " if ctx.prefix.arch == "win64" else "32Bits System"
        authority = pki.Authority(ctx.scratch / "pki_planted", "QZ Planted")
        helper(ctx, "add-root", wine_env.windows_path(authority.ca_der))
        folder = make_folder(ctx, "planted_" + path, authority)
        for round, machine in enumerate(machines):
            helper(ctx, "make-device", OUR_DEVICE)
            plant(ctx, folder, machine)
            (folder / LOG_NAME).unlink(missing_ok=True)
            code = ctx.prefix.run_for_output(folder / "QZ_DriverSetup.exe", [], cwd=folder,
                                             env=search_like_windows(PLANTED_NAMES))[0]
            check_nothing_planted_loaded(folder)
            check(code == 0, "the set-up program's exit code is %d" % code)
            files = [INF_COPIED, SYS_COPIED] if round == 0 else [INF_EDITED, SYS_PRESENT]
            # A publisher trusted once is not added again.
            record = None if trust_record == PUBLISHER_ADDED and round > 0 else trust_record
            outcome = [STAGED[0], DEVICES_INSTALLED, STAGED[1]] if stages else NOT_STAGED
            expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 %s\n" % system] +
                            files + staging_heading(record) + outcome + CLOSING)
            ours = devices(ctx, OUR_DEVICE)
            want = "QZ USB to UART" if stages else "-"
            check(len(ours) == round + 1 and all(d[1] == want for d in ours),
                  "our devices: %r" % ours)
        staged = ctx.prefix.staged_infs()
        code = ctx.prefix.run_for_output(folder / "QZ_DriverRemove.exe", [], cwd=folder,
                                         env=search_like_windows(PLANTED_NAMES))[0]
        check_nothing_planted_loaded(folder)
        check(code == 0, "the remover's exit code is %d" % code)
        check(len(ctx.prefix.staged_infs()) == len(staged) - (1 if stages else 0),
              "the remover did not take the package out: %r" % ctx.prefix.staged_infs())
    finally:
        ctx.prefix.kill()
    shutil.rmtree(ctx.prefix.path, ignore_errors=True)


@case("own64")
def planted_dlls_beside_a_package_without_a_catalog_on_64_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "no_catalog")


@case("own64")
def planted_dlls_beside_a_package_whose_catalog_is_missing_on_64_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "missing_catalog")


@case("own64")
def planted_dlls_beside_a_package_whose_catalog_does_not_verify_on_64_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "unverified_catalog")


@case("own64")
def planted_dlls_beside_a_package_signed_under_a_trusted_root_on_64_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "trusted_catalog")


@case("own32")
def planted_dlls_beside_a_package_without_a_catalog_on_32_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "no_catalog")


@case("own32")
def planted_dlls_beside_a_package_whose_catalog_is_missing_on_32_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "missing_catalog")


@case("own32")
def planted_dlls_beside_a_package_whose_catalog_does_not_verify_on_32_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "unverified_catalog")


@case("own32")
def planted_dlls_beside_a_package_signed_under_a_trusted_root_on_32_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, "trusted_catalog")


# Each layer alone, in the e2e helper that links the programs' loader: a DLL no system DLL the
# helper imports would load, planted beside it.
LAYER_DLL = "cfgmgr32"


def layer(ctx, name, command):
    """(exit code, what the helper said, the planted DLLs loaded) of one load beside a planted
    DLL, with Wine searching like Windows."""
    folder = ctx.scratch / ("layer_" + name)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    shutil.copy(ctx.helper, folder / "qz_e2e_helper.exe")
    plant(ctx, folder, "i686", [LAYER_DLL])
    code, output = ctx.prefix.run_for_output(folder / "qz_e2e_helper.exe",
                                             [command, LAYER_DLL + ".dll"], cwd=folder,
                                             env=search_like_windows([LAYER_DLL]))
    return code, output.split(), sorted(p.name for p in folder.glob("*.loaded"))


@case("win64")
def each_loader_layer_alone_keeps_a_planted_dll_out(ctx):
    # Without either layer the planted DLL is what loads: the case can see one.
    code, _, loaded = layer(ctx, "unprotected", "load-by-name")
    check(code == 99 and loaded == [LAYER_DLL + ".dll.loaded"],
          "a load by name beside the planted DLL gave %d, %r: the case cannot see a planted "
          "load" % (code, loaded))
    for name, command in (("full_path", "load-by-full-path"), ("confined", "load-confined")):
        code, said, loaded = layer(ctx, name, command)
        check(loaded == [] and code == 0 and said == ["loaded"],
              "%s: exit code %d, said %r, planted DLLs loaded: %r" % (command, code, said, loaded))
