"""Nothing planted beside the programs runs with their rights System DLLs that are not KnownDLLs,
which the programs or the DLLs they load would look for."""

import shutil
import subprocess
from pathlib import Path

import pki
import wine_env
from cases.common import (
    BANNER, CLOSING, INF_COPIED, INF_EDITED, LOG_NAME, STAGED, SYS_COPIED, SYS_PRESENT, case,
    check, expect_messages)
from cases.modem_inf import helper
from cases.publisher_trust import PUBLISHER_ADDED, signed_package, staging_heading
from cases.devices import DEVICES_INSTALLED, OUR_DEVICE, devices


PLANTED_NAMES = ["crypt32", "wintrust", "setupapi", "newdev", "cfgmgr32"]
# Wine prefers its builtin DLLs; with these set to native first it searches like Windows, the
# program's own folder first.
SEARCH_LIKE_WINDOWS = dict(WINEDLLOVERRIDES="mscoree,mshtml=;%s=n,b" % ",".join(PLANTED_NAMES))


def planted_dll(ctx, machine):
    """The planted DLL built for `machine` (i686 or x86_64), once per test run."""
    built = ctx.work / "planted" / machine / "planted.dll"
    if not built.exists():
        built.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["%s-w64-mingw32-gcc" % machine, "-shared", "-O2", "-o", str(built),
                        str(Path(__file__).resolve().parents[1] / "planted_dll.c")],
                       check=True, timeout=120)
    return built


def plant(ctx, folder, machine):
    for name in PLANTED_NAMES:
        shutil.copy(planted_dll(ctx, machine), folder / (name + ".dll"))


def run_searching_like_windows(ctx, exe, folder):
    return ctx.prefix.run_for_output(exe, [], cwd=folder, env=SEARCH_LIKE_WINDOWS)[0]


def check_nothing_planted_loaded(folder):
    loaded = sorted(p.name for p in folder.glob("*.loaded"))
    check(loaded == [], "planted DLLs were loaded: %r" % loaded)


def planted_dlls_stay_unloaded(ctx, machines):
    """Set-up with a signed catalog (crypt32, wintrust) and a device to install onto (newdev; on
    64-bit Windows through the helper), then the remover, beside DLLs planted for each of
    `machines` in turn: the 32-bit programs' and, on 64-bit Windows, the helper's."""
    ctx.prefix.create()
    try:
        ctx.prefix.set_version("win10")
        # As the program says it: "Windows10 64Bits System \n", "Windows10 32Bits System\n".
        system = "64Bits System " if ctx.prefix.arch == "win64" else "32Bits System"
        authority = pki.Authority(ctx.scratch / ("pki_planted_" + system[:2]), "QZ Planted")
        helper(ctx, "add-root", wine_env.windows_path(authority.ca_der))
        folder = signed_package(ctx, "planted_" + system[:2], authority)
        for round, machine in enumerate(machines):
            helper(ctx, "make-device", OUR_DEVICE)
            plant(ctx, folder, machine)
            (folder / LOG_NAME).unlink(missing_ok=True)
            code = run_searching_like_windows(ctx, folder / "QZ_DriverSetup.exe", folder)
            check_nothing_planted_loaded(folder)
            check(code == 0, "the set-up program's exit code is %d" % code)
            files = [INF_COPIED, SYS_COPIED] if round == 0 else [INF_EDITED, SYS_PRESENT]
            expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 %s\n" % system] +
                            files + staging_heading(PUBLISHER_ADDED if round == 0 else None) +
                            [STAGED[0], DEVICES_INSTALLED, STAGED[1]] + CLOSING)
            ours = devices(ctx, OUR_DEVICE)
            check(len(ours) == round + 1 and all(d[1] == "QZ USB to UART" for d in ours),
                  "our devices: %r" % ours)
        staged = ctx.prefix.staged_infs()
        code = run_searching_like_windows(ctx, folder / "QZ_DriverRemove.exe", folder)
        check_nothing_planted_loaded(folder)
        check(code == 0, "the remover's exit code is %d" % code)
        check(len(ctx.prefix.staged_infs()) == len(staged) - 1,
              "the remover did not take the package out: %r" % ctx.prefix.staged_infs())
    finally:
        ctx.prefix.kill()
    shutil.rmtree(ctx.prefix.path, ignore_errors=True)


@case("own64")
def planted_dlls_are_never_loaded_on_64_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, ["i686", "x86_64"])


@case("own32")
def planted_dlls_are_never_loaded_on_32_bit_windows(ctx):
    planted_dlls_stay_unloaded(ctx, ["i686"])
