"""Staging and whole runs"""

import time

import wine_env
from cases.common import (
    BANNER, CLOSING, HEADING, INF_COPIED, INF_EDITED, INF_NO_EDIT, LOG_NAME, NOT_STAGED,
    STAGED, SYS_COPIED, SYS_COPY_FAILED, SYS_PRESENT, case, check, expect_messages, run_program)
from cases.modem_inf import SECTION, SYSTEM_INF


@case("win64")
def system_with_everything_and_package_staged(ctx):
    """The fourteen records: both files present, mdmcpq.inf already edited, error 80."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    edited = SYSTEM_INF.replace(SECTION + "usbser.sys", SECTION + ";usbser.sys")
    (ctx.prefix.windows / "inf" / "mdmcpq.inf").write_bytes(wine_env.utf16(edited))
    (ctx.prefix.syswow64_drivers() / "usbser.sys").write_bytes(b"system's own")
    folder = ctx.program_folder("everything", exe=ctx.error80_exe)
    one_run = BANNER + ["INFO: Windows10 64Bits System \n", INF_NO_EDIT, SYS_PRESENT] + \
        HEADING + ["FAIL: 驱动预安装函数运行失败：", "FAIL: 驱动已经存在。 \n",
                   "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"] + CLOSING
    check(len(one_run) == 14, "the golden run has 14 records")
    for _ in range(2):
        check(run_program(ctx, folder) == 0, "exit code is not 0")
    expect_messages(folder / LOG_NAME, one_run + one_run)
    check((ctx.prefix.syswow64_drivers() / "usbser.sys").read_bytes() == b"system's own",
          "an existing usbser.sys was replaced")


@case("win64")
def staging_error_read_before_the_first_record(ctx):
    folder = ctx.program_folder("error80_first_record", exe=ctx.error80_exe)
    code = ctx.prefix.run_with_arguments(folder / "QZ_DriverSetup.exe", ["--stage-only"],
                                         cwd=folder)
    check(code == 1, "staging result %d, want 1 (error 80 means already staged)" % code)
    expect_messages(folder / LOG_NAME, ["FAIL: 驱动预安装函数运行失败：", "FAIL: 驱动已经存在。 \n"])


def no_driver_files(ctx, name, empty_folder):
    """Every copy fails; the failed INF copy still edits the system's file, and the failed
    driver copy is a failure, since no usbser.sys is there either."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    system_inf = ctx.prefix.windows / "inf" / "mdmcpq.inf"
    system_inf.write_bytes(wine_env.utf16(SYSTEM_INF))
    folder = ctx.program_folder(name, drivers=False)
    if empty_folder:
        (folder / "Drivers").mkdir()
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 64Bits System \n", INF_EDITED,
                                                 SYS_COPY_FAILED] + HEADING + NOT_STAGED + CLOSING)
    check(not (ctx.prefix.syswow64_drivers() / "usbser.sys").exists(), "usbser.sys appeared")


@case("win64")
def empty_drivers_folder(ctx):
    no_driver_files(ctx, "empty_drivers", empty_folder=True)


@case("win64")
def missing_drivers_folder(ctx):
    no_driver_files(ctx, "missing_drivers", empty_folder=False)


@case("win64")
def driver_copy_into_a_missing_drivers_folder_is_a_failure(ctx):
    """A fresh 64-bit prefix has no syswow64\\drivers: the copy fails and nothing is there."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    drivers = ctx.prefix.syswow64_drivers()
    drivers.rmdir()
    try:
        folder = ctx.program_folder("no_drivers_folder")
        check(run_program(ctx, folder) == 0, "exit code is not 0")
        expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED,
                                                     SYS_COPY_FAILED] + HEADING + STAGED + CLOSING)
        check(not drivers.exists(), "the drivers folder was created")
    finally:
        drivers.mkdir(exist_ok=True)


@case("win64")
def package_inf_is_staged_and_restaging_succeeds(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    folder = ctx.program_folder("staging")
    # Content no earlier run staged, so the new copy in the store can be told apart.
    token = ("; staged by run %f\r\n" % time.time()).encode("ascii")
    package_inf = folder / "Drivers" / "QZ_UsbToUartDriver.inf"
    package_inf.write_bytes(package_inf.read_bytes() + token)
    before = set(ctx.prefix.staged_infs())
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    new = sorted(set(ctx.prefix.staged_infs()) - before)
    check(len(new) == 1, "staged files added: %r" % new)
    check((ctx.prefix.windows / "inf" / new[0]).read_bytes() == package_inf.read_bytes(),
          "the staged copy differs from the package INF")
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    check(set(ctx.prefix.staged_infs()) - before == set(new), "the second run staged again")
    one_run = BANNER + ["INFO: Windows10 64Bits System \n"]
    expect_messages(folder / LOG_NAME,
                    one_run + [INF_COPIED, SYS_COPIED] + HEADING + STAGED + CLOSING +
                    one_run + [INF_EDITED, SYS_PRESENT] + HEADING + STAGED + CLOSING)


@case("win64")
def missing_package_inf(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    folder = ctx.program_folder("no_package_inf", driver_inf=False)
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED,
                                                 SYS_COPIED] + HEADING + NOT_STAGED + CLOSING)
