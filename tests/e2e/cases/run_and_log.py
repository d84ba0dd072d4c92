"""The run, its log and its paths"""

import os
import shutil
import time

import wine_env
from wine_env import gbk, log_records, usbser_placeholder
from cases.common import (
    BANNER, CLOSING, HEADING, INF_COPIED, INF_EDITED, LOG_NAME, STAGED, SYS_COPIED,
    SYS_PRESENT, case, check, expect_messages, run_program)


def machine_answer(ctx):
    """IsWow64Process2's answer in this prefix, and the architecture the programs take."""
    code, output = ctx.prefix.run_for_output(ctx.helper, ["architecture"])
    check(code == 0, "helper architecture failed with %d" % code)
    return output.split()


@case("win64")
def log_frame_and_exact_bytes(ctx):
    """A complete run on a fresh 64-bit Windows 10: every byte of the log, frame included. Wine
    has IsWow64Process2, so the run takes the machine from it: x64, and the log is as ever."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    answer = machine_answer(ctx)
    check(answer == ["IsWow64Process2", "014c", "8664", "amd64"],
          "machine answer %r, want IsWow64Process2 014c 8664 amd64" % answer)
    folder = ctx.program_folder("frame")
    before = time.time()
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    after = time.time()
    data = (folder / LOG_NAME).read_bytes()
    records = log_records(data)
    messages = BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED, SYS_COPIED] + HEADING + \
        STAGED + CLOSING
    check(len(records) == len(messages), "%d records, want %d" % (len(records), len(messages)))
    # The whole file, rebuilt from the stamps it holds and the expected messages.
    rebuilt = b"".join(b"[" + stamp.encode() + b"] [driver_install_info] [info] " + m + b"\r\n"
                       for (stamp, _), m in zip(records, gbk(messages)))
    check(data == rebuilt, "log bytes differ from the expected records")
    check(data.startswith(b"[") and b"\xbf\xaa\xc6\xf4\xc8\xd5\xd6\xbe" in data,
          "banner is not GBK")  # 开启日志
    stamps = [stamp for stamp, _ in records]
    check(stamps == sorted(stamps), "stamps go backwards")
    check(wine_env.local_stamp(before - 1) <= stamps[0] and stamps[-1] <= wine_env.local_stamp(after + 1),
          "stamps %s..%s are not local time of the run" % (stamps[0], stamps[-1]))


@case("win32")
def machine_on_32_bit_windows(ctx):
    """IsWow64Process2 under 32-bit Wine names the machine x86, as GetNativeSystemInfo does."""
    ctx.prefix.set_version("win10")
    answer = machine_answer(ctx)
    check(answer == ["IsWow64Process2", "0000", "014c", "x86"],
          "machine answer %r, want IsWow64Process2 0000 014c x86" % answer)


@case("win64")
def two_starts_append(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    folder = ctx.program_folder("two_starts")
    for _ in range(2):
        check(run_program(ctx, folder) == 0, "exit code is not 0")
    first = BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED, SYS_COPIED] + HEADING + \
        STAGED + CLOSING
    # The first start copied the package's mdmcpq.inf, whose usbser.sys line is not yet
    # commented out: the second start edits it.
    second = BANNER + ["INFO: Windows10 64Bits System \n", INF_EDITED, SYS_PRESENT] + \
        HEADING + STAGED + CLOSING
    expect_messages(folder / LOG_NAME, first + second)


@case("win64")
def started_from_another_directory(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    folder = ctx.program_folder("other_cwd")
    elsewhere = ctx.scratch / "other_cwd_elsewhere"
    shutil.rmtree(elsewhere, ignore_errors=True)
    (elsewhere / "logs").mkdir(parents=True)
    (elsewhere / "Drivers").mkdir()
    check(run_program(ctx, folder, cwd=elsewhere) == 0, "exit code is not 0")
    check(list((elsewhere / "logs").iterdir()) == [], "log written under the current directory")
    expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED,
                                                 SYS_COPIED] + HEADING + STAGED + CLOSING)
    check((ctx.prefix.syswow64_drivers() / "usbser.sys").read_bytes() ==
          usbser_placeholder("win10"), "driver not taken from the program's own folder")


@case("win64")
def program_at_drive_root(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    folder = ctx.program_folder("drive_root")
    ctx.prefix.map_drive("d", folder)
    try:
        check(run_program(ctx, folder, program="D:\\QZ_DriverSetup.exe") == 0, "exit code is not 0")
    finally:
        (ctx.prefix.path / "dosdevices" / "d:").unlink()
    expect_messages(folder / LOG_NAME, BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED,
                                                 SYS_COPIED] + HEADING + STAGED + CLOSING)


@case("win64")
def missing_logs_folder(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    staged_before = ctx.prefix.staged_infs()
    folder = ctx.program_folder("no_logs", logs=False)
    check(run_program(ctx, folder) == 1, "exit code is not 1")
    check(not (folder / "logs").exists(), "the logs folder was created")
    check(sorted(p.name for p in folder.iterdir()) ==
          ["Drivers", "QZ_DeviceInstall64.exe", "QZ_DriverRemove.exe", "QZ_DriverSetup.exe"],
          "something was written beside the program")
    check(run_program(ctx, folder, program=folder / "QZ_DriverRemove.exe") == 1,
          "the remover's exit code is not 1")
    check(not (folder / "logs").exists(), "the remover created the logs folder")
    check(ctx.prefix.staged_infs() == staged_before, "the remover changed the driver store")
    check(not any(p.exists() for p in ctx.prefix.system_file_paths()),
          "a system file changed without a log")
    check(ctx.prefix.staged_infs() == staged_before, "the driver store changed without a log")


def log_through_a_link(ctx, name, link):
    """`link(folder, target)` plants a link at the log's path or in the logs folder's place that
    leads to the system's `target` file: neither program writes anything, anywhere."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    staged_before = ctx.prefix.staged_infs()
    target = ctx.prefix.windows / "win.ini"
    before = target.read_bytes()
    folder = ctx.program_folder(name)
    link(folder, target)
    for program in ("QZ_DriverSetup.exe", "QZ_DriverRemove.exe"):
        check(run_program(ctx, folder, program=folder / program) == 1,
              "%s's exit code is not 1" % program)
    check(target.read_bytes() == before, "the system file behind the link was written")
    check(not (target.parent / LOG_NAME.name).exists(), "a log was made in the system folder")
    check(not any(p.exists() for p in ctx.prefix.system_file_paths()),
          "a system file changed without a log")
    check(ctx.prefix.staged_infs() == staged_before, "the driver store changed without a log")


@case("win64")
def log_hard_linked_to_a_system_file_is_not_written(ctx):
    def hard_link(folder, target):
        os.link(target, folder / LOG_NAME)
    log_through_a_link(ctx, "hard_linked_log", hard_link)


@case("win64")
def logs_folder_linked_to_a_system_folder_is_not_written(ctx):
    def linked_folder(folder, target):
        (folder / "logs").rmdir()
        (folder / "logs").symlink_to(target.parent, target_is_directory=True)
    log_through_a_link(ctx, "linked_logs_folder", linked_folder)
