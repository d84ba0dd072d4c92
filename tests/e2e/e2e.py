#!/usr/bin/env python3
"""End-to-end runs of the real QZ_DriverSetup.exe under Wine.

  e2e.py --exe EXE --remove-exe EXE --work DIR setup
                                           make the 32-bit and 64-bit prefixes
  e2e.py --exe EXE --work DIR run CASE     one case
  e2e.py --exe EXE --work DIR teardown     stop their Wine servers
  e2e.py list                              case names and the prefix each needs
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import time
from pathlib import Path

import catalog
import pki
import wine_env
from wine_env import gbk, layout_program_folder, log_records, mdmcpq_fixture, usbser_placeholder

LOG_NAME = Path("logs") / "QZ_Orvo_Driver_Log.txt"

BANNER = ["INFO: 开启日志 >>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>> \n", "当前驱动版本：V1.2.0 \n",
          "INFO: 获取当前操作系统： \n"]
HEADING = ["..........\n", "INFO: 安装 QZ_UsbToUartDriver 驱动 \n", "SUCC: 正在调用驱动预安装函数…… \n"]
STAGED = ["SUCC: 驱动预安装函数运行成功。\n", "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"]
NOT_STAGED = ["FAIL: 驱动预安装函数运行失败：", "FAIL: 预安装失败 \n",
              "FAIL: QZ_UsbToUartDriver 驱动预安装失败！\n"]
CLOSING = ["INFO: 关闭日志\n", "\n"]

INF_COPIED = "SUCC: mdmcpq.inf文件不存在，自动复制\n"
INF_OPEN_FAILED = "FAIL: 无法打开mdmcpq.inf文件\n"
INF_WRITE_FAILED = "FAIL: mdmcpq.inf 写入失败: file write error!!!\n"
INF_EDITED = "SUCC: mdmcpq.inf文件已存在，已编辑\n"
INF_NO_EDIT = "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n"
SYS_COPIED = "SUCC: usbser.sys文件不存在，自动复制\n"
SYS_PRESENT = "Warning: usbser.sys文件已存在，无需复制\n"
SYS_COPY_FAILED = "FAIL: usbser.sys文件复制失败\n"
FRESH_WIN10_64 = BANNER + ["INFO: Windows10 64Bits System \n", INF_COPIED, SYS_COPIED] + HEADING + \
    STAGED + CLOSING

CASES = {}


def case(prefix):
    def register(function):
        CASES[function.__name__] = (prefix, function)
        return function
    return register


class Context:
    def __init__(self, exe, remove_exe, error80_exe, helper, work, prefix_name, case_name=None):
        self.exe = Path(exe).resolve()
        self.remove_exe = Path(remove_exe).resolve() if remove_exe else None
        # The 64-bit device helper is built beside the set-up program.
        self.device_helper = self.exe.parent / "QZ_DeviceInstall64.exe"
        self.error80_exe = Path(error80_exe).resolve() if error80_exe else None
        self.helper = Path(helper).resolve() if helper else None
        self.work = Path(work).resolve()
        if prefix_name in ("own32", "own64"):
            # Devices made in a prefix stay there: such a case makes a prefix of its own.
            self.prefix = wine_env.Prefix(self.work / "own" / case_name,
                                          "win32" if prefix_name == "own32" else "win64")
        else:
            self.prefix = prefixes(self.work)[prefix_name] if prefix_name else None
        # A folder of the case's own: cases that hold different prefixes' locks run at the same
        # time, and two of them laying out one program folder would run in each other's.
        self.scratch = self.work / "cases" / (case_name or "shared")

    def program_folder(self, name, exe=None, **layout):
        folder = layout_program_folder(self.scratch / name, **layout)
        shutil.copy(exe or self.exe, folder / "QZ_DriverSetup.exe")
        if self.remove_exe:
            shutil.copy(self.remove_exe, folder / "QZ_DriverRemove.exe")
        if self.device_helper.exists():
            shutil.copy(self.device_helper, folder / "QZ_DeviceInstall64.exe")
        return folder


def prefixes(work):
    return {"win32": wine_env.Prefix(work / "prefix32", "win32"),
            "win64": wine_env.Prefix(work / "prefix64", "win64")}


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def expect_messages(log_path, expected):
    check(log_path.exists(), "no log file at %s" % log_path)
    actual = [message for _, message in log_records(log_path.read_bytes())]
    wanted = gbk(expected)
    if actual != wanted:
        lines = ["records differ (got / want):"]
        for i in range(max(len(actual), len(wanted))):
            got = actual[i] if i < len(actual) else None
            want = wanted[i] if i < len(wanted) else None
            mark = "  " if got == want else "!!"
            lines.append("%s %r / %r" % (mark, got, want))
        raise AssertionError("\n".join(lines))


def runs_in(log_path):
    """The log's runs, each a list of (stamp, message text), split at the opening record."""
    runs = []
    for stamp, message in log_records(log_path.read_bytes()):
        text = message.decode("gbk")
        if text == BANNER[0] or not runs:
            runs.append([])
        runs[-1].append((stamp, text))
    return runs


def check_runs_do_not_overlap(runs):
    """Each run writes its records only when it closes its log, so the file alone cannot show
    an overlap; the stamps can: a run begins no earlier than the one before it ended."""
    for earlier, later in zip(runs, runs[1:]):
        check(later[0][0] >= earlier[-1][0], "runs overlap: one ended at %s, the next began at %s"
              % (earlier[-1][0], later[0][0]))


def run_program(ctx, folder, cwd=None, program=None):
    code = ctx.prefix.run(program or folder / "QZ_DriverSetup.exe", cwd=cwd or folder)
    return code


# ---------------------------------------------------------------------------------------
# The run, its log and its paths


@case("win64")
def log_frame_and_exact_bytes(ctx):
    """A complete run on a fresh 64-bit Windows 10: every byte of the log, frame included."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
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


# ---------------------------------------------------------------------------------------
# Every release and architecture on a fresh system: records, and which package folder's files
# landed in which system folder. "native" is System32 as a 64-bit program sees it; "wow64" is
# SysWOW64, where a 32-bit program's System32 path leads while redirection is on.

def matrix_row(version, prefix, records, inf_from, native_from, wow64_from=None):
    def run(ctx):
        ctx.prefix.set_version(version)
        ctx.prefix.fresh_system()
        folder = ctx.program_folder("matrix_%s_%s" % (version, prefix))
        check(run_program(ctx, folder) == 0, "exit code is not 0")
        expect_messages(folder / LOG_NAME, BANNER + records + HEADING + STAGED + CLOSING)
        inf = ctx.prefix.windows / "inf" / "mdmcpq.inf"
        landed = {
            "inf": inf,
            "native usbser.sys": ctx.prefix.system32_drivers() / "usbser.sys",
        }
        wanted = {"inf": inf_from and mdmcpq_fixture(inf_from),
                  "native usbser.sys": native_from and usbser_placeholder(native_from)}
        if prefix == "win64":
            landed["wow64 usbser.sys"] = ctx.prefix.syswow64_drivers() / "usbser.sys"
            wanted["wow64 usbser.sys"] = wow64_from and usbser_placeholder(wow64_from)
        for what, path in landed.items():
            got = path.read_bytes() if path.exists() else None
            check(got == wanted[what], "%s: got %r, want %r" % (what, got, wanted[what]))
    run.__name__ = "matrix_%s_%s" % (version, "32" if prefix == "win32" else "64")
    CASES[run.__name__] = (prefix, run)


W7_SYS32_OK = "SUCC: Windows\\System32\\drivers\\usbser.sys文件复制成功\n"
W7_WOW64_OK = "SUCC: Windows\\SysWOW64\\drivers\\usbser.sys文件复制成功\n"

matrix_row("winxp", "win32", ["INFO: WindowsXP 32Bits System\n", INF_COPIED, SYS_COPIED],
           "xp", "xp")
matrix_row("winxp64", "win64", ["INFO: WindowsXP 64Bits System \n", INF_COPIED, SYS_COPIED],
           "xp", None, "xp")
matrix_row("vista", "win32", ["INFO: WindowsVISTA 32Bits System\n"], None, None)
matrix_row("vista", "win64", ["INFO: WindowsVISTA 64Bits System \n"], None, None, None)
matrix_row("win7", "win32", ["INFO: Windows7 32Bits System\n", INF_COPIED, SYS_COPIED],
           "win7_32bit", "win7_32bit")
matrix_row("win7", "win64", ["INFO: Windows7 64Bits System \n", INF_COPIED, W7_SYS32_OK,
                             W7_WOW64_OK],
           "win7_64bit\\32bits", "win7_64bit\\64bits", "win7_64bit\\64bits")
matrix_row("win8", "win32", ["INFO: Windows8 32Bits System\n", INF_COPIED, SYS_COPIED],
           "win8_64bit", "win8_64bit")
matrix_row("win8", "win64", ["INFO: Windows8 64Bits System \n", INF_COPIED, SYS_COPIED],
           "win8_64bit", "win8_64bit", None)
matrix_row("win81", "win32", ["INFO: Windows8.1 32Bits System\n", INF_COPIED, SYS_COPIED],
           "win8_64bit", "win8_64bit")
matrix_row("win81", "win64", ["INFO: Windows8.1 64Bits System \n", INF_COPIED, SYS_COPIED],
           "win8_64bit", "win8_64bit", None)
matrix_row("win10", "win32", ["INFO: Windows10 32Bits System\n", INF_COPIED, SYS_COPIED],
           "win10", "win10")
matrix_row("win10", "win64", ["INFO: Windows10 64Bits System \n", INF_COPIED, SYS_COPIED],
           "win10", None, "win10")
matrix_row("win2k", "win32", ["Warning: before winxp or windows server \n"], None, None)


# ---------------------------------------------------------------------------------------
# The system's own mdmcpq.inf

SECTION = "[FakeModemCopyFileSection]\r\n"
SYSTEM_INF = ("[Version]\r\nSignature=\"$WINDOWS NT$\"\r\nClass=Modem\r\n\r\n" + SECTION +
              "usbser.sys,,,0x20\r\n\r\n[Strings]\r\nx=\"y\"\r\n")


def patch_runs(ctx, name, system_text, expected):
    """Runs the program once per (record, text after) pair against one system mdmcpq.inf."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    system_inf = ctx.prefix.windows / "inf" / "mdmcpq.inf"
    system_inf.write_bytes(wine_env.utf16(system_text))
    (ctx.prefix.syswow64_drivers() / "usbser.sys").write_bytes(b"system's own")
    folder = ctx.program_folder(name)
    records = []
    for record, text_after in expected:
        check(run_program(ctx, folder) == 0, "exit code is not 0")
        check(system_inf.read_bytes() == wine_env.utf16(text_after),
              "mdmcpq.inf after run %d is %r" % (len(records) + 1, system_inf.read_bytes()))
        check(list((ctx.prefix.windows / "inf").glob("mdmcpq.inf.*")) == [],
              "a temporary file was left in the INF folder")
        records += BANNER + ["INFO: Windows10 64Bits System \n", record, SYS_PRESENT] + \
            HEADING + STAGED + CLOSING
    expect_messages(folder / LOG_NAME, records)


def own_leftovers(prefix):
    """Files of the program's beside the system's mdmcpq.inf (Wine's own rfXXXX.tmp aside)."""
    return sorted(p.name for p in (prefix.windows / "inf").glob("mdmcpq.inf.*"))


def helper(ctx, *arguments):
    code, output = ctx.prefix.run_for_output(ctx.helper, list(arguments))
    check(code == 0, "helper %r failed with %d" % (arguments, code))
    return output.split()


def system_inf_needing_the_edit(ctx):
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    system_inf = ctx.prefix.windows / "inf" / "mdmcpq.inf"
    system_inf.write_bytes(wine_env.utf16(SYSTEM_INF))
    (ctx.prefix.syswow64_drivers() / "usbser.sys").write_bytes(b"system's own")
    return system_inf


def one_run(inf_record):
    return BANNER + ["INFO: Windows10 64Bits System \n", inf_record, SYS_PRESENT] + HEADING + \
        STAGED + CLOSING


@case("win64")
def paired_starts_take_turns(ctx):
    """Two instances started together: one edits, the other finds the edit; never a loss."""
    system_inf = system_inf_needing_the_edit(ctx)
    folder = ctx.program_folder("paired")
    edited = wine_env.utf16(SYSTEM_INF.replace(SECTION + "usbser.sys", SECTION + ";usbser.sys"))
    for round_number in range(1, 21):
        system_inf.write_bytes(wine_env.utf16(SYSTEM_INF))
        (folder / LOG_NAME).unlink(missing_ok=True)
        codes = helper(ctx, "pair", wine_env.windows_path(folder / "QZ_DriverSetup.exe"))
        where = "round %d: " % round_number
        check(codes == ["0", "0"], where + "exit codes %r" % codes)
        check(system_inf.exists(), where + "the system's mdmcpq.inf is gone")
        check(system_inf.read_bytes() == edited, where + "mdmcpq.inf is %r" %
              system_inf.read_bytes())
        check(own_leftovers(ctx.prefix) == [], where + "left %r" % own_leftovers(ctx.prefix))
        try:
            expect_messages(folder / LOG_NAME, one_run(INF_EDITED) + one_run(INF_NO_EDIT))
            check_runs_do_not_overlap(runs_in(folder / LOG_NAME))
        except AssertionError as failure:
            raise AssertionError(where + str(failure))


def run_beside_a_lock(ctx, name, command, want):
    """A fresh Windows 10 run started by the helper's `command`, which holds the lock in some
    way; `want` is what the helper must print."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    folder = ctx.program_folder(name)
    result = helper(ctx, command, wine_env.windows_path(folder / "QZ_DriverSetup.exe"))
    check(result == want, "%s: the helper printed %r, want %r" % (command, result, want))
    expect_messages(folder / LOG_NAME, FRESH_WIN10_64)


@case("win64")
def abandoned_lock_is_taken_and_let_go(ctx):
    """The run that held the lock died: the next run takes it, runs whole and lets it go."""
    run_beside_a_lock(ctx, "abandoned_lock", "abandon", ["0", "free"])


@case("win64")
def lock_made_by_another_account_is_waited_for(ctx):
    """A lock whose descriptor grants this account only waiting: the run waits for it."""
    run_beside_a_lock(ctx, "squatted_lock", "squat", ["waited", "0"])


@case("win64")
def patch_keeps_hidden_and_system_attributes(ctx):
    system_inf = system_inf_needing_the_edit(ctx)
    target = "C:\\windows\\inf\\mdmcpq.inf"
    helper(ctx, "setattr", target, "26")
    check(helper(ctx, "getattr", target) == ["0x26"], "the prefix does not keep attribute bits")
    folder = ctx.program_folder("attributes")
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    expect_messages(folder / LOG_NAME, one_run(INF_EDITED))
    check(system_inf.read_bytes() == wine_env.utf16(
        SYSTEM_INF.replace(SECTION + "usbser.sys", SECTION + ";usbser.sys")), "not edited")
    check(helper(ctx, "getattr", target) == ["0x26"],
          "attributes after the edit: %r" % helper(ctx, "getattr", target))
    check(own_leftovers(ctx.prefix) == [], "left %r" % own_leftovers(ctx.prefix))


@case("win64")
def patch_leaves_a_read_only_file_as_it_was(ctx):
    system_inf = system_inf_needing_the_edit(ctx)
    target = "C:\\windows\\inf\\mdmcpq.inf"
    helper(ctx, "setattr", target, "21")
    before = system_inf.read_bytes()
    folder = ctx.program_folder("read_only")
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    expect_messages(folder / LOG_NAME, one_run(INF_WRITE_FAILED))
    check(system_inf.read_bytes() == before, "the read-only file changed")
    check(helper(ctx, "getattr", target) == ["0x21"],
          "attributes after the run: %r" % helper(ctx, "getattr", target))
    check(own_leftovers(ctx.prefix) == [], "left %r" % own_leftovers(ctx.prefix))
    helper(ctx, "setattr", target, "20")


@case("win64")
def patch_removes_what_a_dead_run_left(ctx):
    system_inf = system_inf_needing_the_edit(ctx)
    stale = ["mdmcpq.inf.qzpatch.4000.tmp", "mdmcpq.inf.qzpatch.4000.bak", "mdmcpq.inf.qzpatch.tmp"]
    for name in stale:
        (system_inf.parent / name).write_bytes(b"left by a run that died")
    folder = ctx.program_folder("stale")
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    expect_messages(folder / LOG_NAME, one_run(INF_EDITED))
    check(own_leftovers(ctx.prefix) == [], "left %r" % own_leftovers(ctx.prefix))


def held_open(ctx, share, record):
    """Another process holds the system's file open: reported, untouched, the run goes on."""
    system_inf = system_inf_needing_the_edit(ctx)
    before = system_inf.read_bytes()
    folder = ctx.program_folder("held_" + share)
    codes = helper(ctx, "hold", "C:\\windows\\inf\\mdmcpq.inf", share,
                   wine_env.windows_path(folder / "QZ_DriverSetup.exe"))
    check(codes == ["0"], "exit code %r" % codes)
    check(system_inf.read_bytes() == before, "the held file changed")
    check(own_leftovers(ctx.prefix) == [], "left %r" % own_leftovers(ctx.prefix))
    expect_messages(folder / LOG_NAME, one_run(record))


@case("win64")
def patch_puts_back_what_a_run_killed_mid_swap_left(ctx):
    """Killed between ReplaceFile's move-aside and move-in: the path is empty and the original
    sits under the backup name. The original goes back, is edited, and nothing is left."""
    system_inf = system_inf_needing_the_edit(ctx)
    original = system_inf.read_bytes()
    system_inf.rename(system_inf.parent / "mdmcpq.inf.qzpatch.4000.bak")
    (system_inf.parent / "mdmcpq.inf.qzpatch.4000.tmp").write_bytes(b"half written")
    folder = ctx.program_folder("killed_mid_swap")
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    check(system_inf.read_bytes() == original.replace(
        wine_env.utf16(SECTION)[2:] + "usbser.sys".encode("utf-16-le"),
        wine_env.utf16(SECTION)[2:] + ";usbser.sys".encode("utf-16-le")),
        "mdmcpq.inf is not the system's original, edited: %r" % system_inf.read_bytes())
    expect_messages(folder / LOG_NAME, one_run(INF_EDITED))
    check(own_leftovers(ctx.prefix) == [], "left %r" % own_leftovers(ctx.prefix))


@case("win64")
def patch_of_a_file_held_without_sharing(ctx):
    held_open(ctx, "none", INF_OPEN_FAILED)


@case("win64")
def patch_of_a_file_held_shared_for_reading(ctx):
    held_open(ctx, "read", INF_OPEN_FAILED)


@case("win64")
def patch_of_a_file_held_shared_without_delete(ctx):
    held_open(ctx, "readwrite", INF_WRITE_FAILED)


@case("win64")
def patch_edits_the_system_inf_once(ctx):
    edited = SYSTEM_INF.replace(SECTION + "usbser.sys", SECTION + ";usbser.sys")
    patch_runs(ctx, "patch_once", SYSTEM_INF, [(INF_EDITED, edited), (INF_NO_EDIT, edited)])


@case("win64")
def patch_edits_two_sections_one_per_run(ctx):
    two = SYSTEM_INF + SECTION + "usbser.sys\r\n"
    first = two.replace(SECTION + "usbser.sys", SECTION + ";usbser.sys", 1)
    both = two.replace(SECTION + "usbser.sys", SECTION + ";usbser.sys")
    patch_runs(ctx, "patch_two", two,
               [(INF_EDITED, first), (INF_EDITED, both), (INF_NO_EDIT, both)])


# ---------------------------------------------------------------------------------------
# Staging and whole runs

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


# ---------------------------------------------------------------------------------------
# The package publisher's trust

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
    completed = subprocess.run(["wine", "reg", "query", TRUSTED_PUBLISHER], env=ctx.prefix.env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=120)
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
    folder = ctx.scratch / ("catalog_names_" + decorated)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
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


# ---------------------------------------------------------------------------------------
# The remover. Its cases change which names the prefix's INF folder has free, and ctest runs the
# cases in any order (the slowest of the last run first), so no case counts on a name being taken.

REMOVING = ["INFO: 卸载 QZ_UsbToUartDriver 驱动 \n"]
REMOVAL_DONE = ["SUCC: QZ_UsbToUartDriver 驱动卸载完成！\n"]
NONE_FOUND = "Warning: 未找到已安装的 QZ_UsbToUartDriver 驱动包 \n"
THEIR_INF = wine_env.DRIVER_INF.replace(b"Provider=%QZ%", b"Provider=%Other%").replace(
    b"QZ=\"QZ\"", b"QZ=\"QZ\"\r\nOther=\"Other Maker\"").replace(
    b"VID_1A86&PID_E0A1", b"VID_2B87&PID_0001")


def removal_run(records):
    return BANNER[:2] + REMOVING + records + CLOSING


def inf_folder(ctx):
    return ctx.prefix.windows / "inf"


def with_bytes(ctx, data):
    return sorted(p.name for p in inf_folder(ctx).glob("*.inf") if p.read_bytes() == data)


def free_package_name(ctx):
    """As on a system that never had this package, or one of its file name, staged."""
    for name in ["QZ_UsbToUartDriver.inf"] + with_bytes(ctx, wine_env.DRIVER_INF):
        (inf_folder(ctx) / name).unlink(missing_ok=True)


def stage(ctx, name, data):
    """Stages `data` as an INF named `name`; answers the name it has in the INF folder."""
    source = ctx.scratch / "staging" / name
    source.parent.mkdir(parents=True, exist_ok=True)
    source.write_bytes(data)
    staged = helper(ctx, "stage", wine_env.windows_path(source))
    check(len(staged) == 1, "staging %s answered %r" % (name, staged))
    return staged[0]


def system_file_bytes(ctx):
    return {str(p): p.read_bytes() if p.exists() else None for p in ctx.prefix.system_file_paths()}


@case("win64")
def remover_takes_out_this_package_and_nothing_else(ctx):
    """Another maker's INF of the same file name staged first, then ours: the remover takes out
    ours only, leaves the system's files alone, finds nothing the second time, and set-up
    stages the package again afterwards."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    free_package_name(ctx)
    theirs = stage(ctx, "QZ_UsbToUartDriver.inf", THEIR_INF)
    check(theirs == "QZ_UsbToUartDriver.inf", "their package was staged as %s" % theirs)
    folder = ctx.program_folder("remover")
    check(run_program(ctx, folder) == 0, "set-up exit code is not 0")
    ours = with_bytes(ctx, wine_env.DRIVER_INF)
    check(len(ours) == 1 and ours[0].lower().startswith("oem"), "ours was staged as %r" % ours)
    system_files = system_file_bytes(ctx)
    remover = folder / "QZ_DriverRemove.exe"
    check(run_program(ctx, folder, program=remover) == 0, "remover exit code is not 0")
    check(with_bytes(ctx, wine_env.DRIVER_INF) == [], "ours is still staged")
    check((inf_folder(ctx) / theirs).read_bytes() == THEIR_INF, "their package was removed")
    check(system_file_bytes(ctx) == system_files, "the remover changed a system file")
    check(run_program(ctx, folder, program=remover) == 0, "second remover exit code is not 0")
    check(run_program(ctx, folder) == 0, "second set-up exit code is not 0")
    check(len(with_bytes(ctx, wine_env.DRIVER_INF)) == 1, "set-up did not stage the package again")
    expect_messages(folder / LOG_NAME,
                    FRESH_WIN10_64 +
                    removal_run(["SUCC: 已删除驱动包 %s \n" % ours[0]] + REMOVAL_DONE) +
                    removal_run([NONE_FOUND] + REMOVAL_DONE) +
                    one_run(INF_EDITED))
    (inf_folder(ctx) / theirs).unlink()


@case("win64")
def remover_takes_out_an_earlier_release_by_name_and_provider(ctx):
    """An earlier release of ours (other bytes, same file name and provider) is ours too."""
    ctx.prefix.set_version("win10")
    ctx.prefix.fresh_system()
    free_package_name(ctx)
    earlier = wine_env.DRIVER_INF.replace(b"1.2.0.0", b"1.1.0.0")
    staged = stage(ctx, "QZ_UsbToUartDriver.inf", earlier)
    folder = ctx.program_folder("remover_earlier")
    check(run_program(ctx, folder, program=folder / "QZ_DriverRemove.exe") == 0,
          "remover exit code is not 0")
    check(not (inf_folder(ctx) / staged).exists(), "the earlier release is still staged")
    expect_messages(folder / LOG_NAME,
                    removal_run(["SUCC: 已删除驱动包 %s \n" % staged] + REMOVAL_DONE))


@case("win64")
def setup_and_remover_started_together_take_turns(ctx):
    """Set-up and remover started at once, several times: whole runs, one after the other."""
    ctx.prefix.set_version("win10")
    folder = ctx.program_folder("setup_and_remover")
    for round_number in range(1, 11):
        ctx.prefix.fresh_system()
        codes = helper(ctx, "pair", wine_env.windows_path(folder / "QZ_DriverSetup.exe"),
                       wine_env.windows_path(folder / "QZ_DriverRemove.exe"))
        check(codes == ["0", "0"], "round %d: exit codes %r" % (round_number, codes))
    runs = runs_in(folder / LOG_NAME)
    check(len(runs) == 20, "%d runs in the log, want 20" % len(runs))
    for run in runs:
        messages = [message for _, message in run]
        check(messages[:2] == BANNER[:2] and messages[-2:] == CLOSING and
              messages.count(BANNER[0]) == 1, "a run is not whole: %r" % messages)
        check(messages[2] in (BANNER[2], REMOVING[0]), "a run of neither program: %r" % messages)
    check(sum(run[2][1] == REMOVING[0] for run in runs) == 10, "not ten removals")
    check_runs_do_not_overlap(runs)


# ---------------------------------------------------------------------------------------
# Devices already plugged in

OUR_DEVICE = "USB\\VID_1A86&PID_E0A1"
OTHER_DEVICE = "USB\\VID_0403&PID_6001"
DEVICES_INSTALLED = "INFO: 已为已连接的设备安装驱动 \n"


def devices(ctx, hardware_id):
    """(driver key, description, driver INF) of each present device with the hardware ID."""
    found = []
    code, output = ctx.prefix.run_for_output(ctx.helper, ["devices", hardware_id])
    check(code == 0, "cannot list the devices")
    for line in output.splitlines():
        driver, description, inf = line.split("\t")
        found.append((driver, description, inf))
    return found


def run_with_devices(ctx, folder, record):
    """One fresh Windows 10 run; `record` is the device step's, or None."""
    log = folder / LOG_NAME
    log.unlink(missing_ok=True)
    check(run_program(ctx, folder) == 0, "exit code is not 0")
    bits = "64" if ctx.prefix.arch == "win64" else "32"
    first = "INFO: Windows10 %sBits System%s\n" % (bits, " " if bits == "64" else "")
    messages = [m.decode("gbk") for _, m in log_records(log.read_bytes())]
    want_end = HEADING + ["SUCC: 驱动预安装函数运行成功。\n"] + ([record] if record else []) + \
        ["SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"] + CLOSING
    check(messages[:4] == BANNER + [first] and messages[-len(want_end):] == want_end,
          "the log is %r, want it to end %r" % (messages, want_end))


def devices_get_the_driver(ctx, through_helper):
    ctx.prefix.create()
    try:
        ctx.prefix.set_version("win10")
        helper(ctx, "make-device", OUR_DEVICE)
        helper(ctx, "make-device", OTHER_DEVICE)
        folder = ctx.program_folder("devices")
        if not through_helper:
            # 32-bit Windows installs in the program's own process: the helper is not needed.
            (folder / "QZ_DeviceInstall64.exe").unlink()
        run_with_devices(ctx, folder, DEVICES_INSTALLED)
        ours = devices(ctx, OUR_DEVICE)
        check(len(ours) == 1 and ours[0][0] != "-" and ours[0][1] == "QZ USB to UART",
              "our device after the run: %r" % ours)
        check(devices(ctx, OTHER_DEVICE) == [("-", "-", "-")], "the other device changed")
        # On our staged INF now: the next run has nothing to say about devices.
        run_with_devices(ctx, folder, None)
        if through_helper:
            # Without the helper a 64-bit system cannot install onto a device: the run says so.
            helper(ctx, "make-device", OUR_DEVICE)
            (folder / "QZ_DeviceInstall64.exe").unlink()
            run_with_devices(ctx, folder, "FAIL: 为已连接的设备安装驱动失败，错误码 2 \n")
            check(sum(d[0] == "-" for d in devices(ctx, OUR_DEVICE)) == 1,
                  "a device got the driver without the helper")
            # Another program in the helper's place is not started (ERROR_INVALID_IMAGE_HASH).
            shutil.copy(ctx.helper, folder / "QZ_DeviceInstall64.exe")
            run_with_devices(ctx, folder, "FAIL: 为已连接的设备安装驱动失败，错误码 577 \n")
            check(sum(d[0] == "-" for d in devices(ctx, OUR_DEVICE)) == 1,
                  "a device got the driver through a replaced helper")
    finally:
        ctx.prefix.kill()
    shutil.rmtree(ctx.prefix.path, ignore_errors=True)


@case("own64")
def devices_get_the_driver_through_the_64_bit_helper(ctx):
    devices_get_the_driver(ctx, through_helper=True)


@case("own32")
def devices_get_the_driver_in_process_on_32_bit_windows(ctx):
    devices_get_the_driver(ctx, through_helper=False)


def package_hardware_ids(ctx, decorated):
    """The package's IDs as the program reads them through the Setup API's own parser."""
    folder = ctx.scratch / ("hardware_ids_" + decorated)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    version = "[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=Ports\r\n"
    infs = {
        "decorated": (version + "[Manufacturer]\r\n%Mfg%=QZ,NTx86,NTamd64\r\n"
                      "[QZ.NTx86]\r\n%Dev%=Install,USB\\VID_1A86&PID_0086,USB\\VID_1A86&PID_0087\r\n"
                      "[QZ.NTamd64]\r\n%Dev%=Install,USB\\VID_1A86&PID_0064\r\n"
                      "%Dev%=Install,%OtherId%\r\n"
                      "[Strings]\r\nMfg=\"QZ\"\r\nDev=\"QZ UART\"\r\n"
                      "OtherId=\"USB\\VID_1A86&PID_0065\"\r\n").encode("ascii"),
        "plain_nt": (version + "[Manufacturer]\r\nQZ=QZ,NT\r\n[QZ.NT]\r\n"
                     "Dev=Install,USB\\VID_1A86&PID_00AA\r\n").encode("ascii"),
        "undecorated": (version + "[Manufacturer]\r\nQZ=QZ\r\n[QZ]\r\n"
                        "Dev=Install,USB\\VID_1A86&PID_00BB\r\n").encode("ascii"),
        "rejected": b"\x00\x01 not an INF \xff\xfe\x00",
    }
    wanted = {
        "amd64": {"decorated": ["USB\\VID_1A86&PID_0064", "USB\\VID_1A86&PID_0065"],
                  "plain_nt": ["USB\\VID_1A86&PID_00AA"], "undecorated": [], "rejected": []},
        "x86": {"decorated": ["USB\\VID_1A86&PID_0086", "USB\\VID_1A86&PID_0087"],
                "plain_nt": ["USB\\VID_1A86&PID_00AA"],
                "undecorated": ["USB\\VID_1A86&PID_00BB"], "rejected": []},
    }[decorated]
    for name, data in infs.items():
        (folder / (name + ".inf")).write_bytes(data)
        got = helper(ctx, "hardware-ids", wine_env.windows_path(folder / (name + ".inf")))
        check(got == wanted[name] + ["(end)"], "%s.inf: got %r, want %r" % (name, got, wanted[name]))


@case("win64")
def package_hardware_ids_on_64_bit_windows(ctx):
    package_hardware_ids(ctx, "amd64")


@case("win32")
def package_hardware_ids_on_32_bit_windows(ctx):
    package_hardware_ids(ctx, "x86")


# ---------------------------------------------------------------------------------------
# Nothing planted beside the programs runs with their rights

# System DLLs that are not KnownDLLs, which the programs or the DLLs they load would look for.
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
                        str(Path(__file__).resolve().parent / "planted_dll.c")],
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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe")
    parser.add_argument("--remove-exe")
    parser.add_argument("--error80-exe")
    parser.add_argument("--helper")
    parser.add_argument("--work")
    parser.add_argument("action", choices=["setup", "run", "teardown", "list"])
    parser.add_argument("case", nargs="?")
    args = parser.parse_args()

    if args.action == "list":
        for name, (prefix, _) in CASES.items():
            print("%s %s" % (name, prefix))
        return 0
    work = Path(args.work).resolve()
    if args.action == "setup":
        for prefix in prefixes(work).values():
            prefix.create()
        return 0
    if args.action == "teardown":
        for prefix in prefixes(work).values():
            if prefix.path.exists():
                prefix.kill()
        return 0
    prefix_name, function = CASES[args.case]
    ctx = Context(args.exe, args.remove_exe, args.error80_exe, args.helper, work, prefix_name,
                  args.case)
    try:
        function(ctx)
    except AssertionError as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
