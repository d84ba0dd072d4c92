#!/usr/bin/env python3
"""End-to-end runs of the real QZ_DriverSetup.exe under Wine.

  e2e.py --exe EXE --work DIR setup        make the 32-bit and 64-bit prefixes
  e2e.py --exe EXE --work DIR run CASE     one case
  e2e.py --exe EXE --work DIR teardown     stop their Wine servers
  e2e.py list                              case names and the prefix each needs
"""

import argparse
import shutil
import sys
import time
from pathlib import Path

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
INF_EDITED = "SUCC: mdmcpq.inf文件已存在，已编辑\n"
INF_NO_EDIT = "Warning: mdmcpq.inf文件已存在，并可用，无需编辑\n"
SYS_COPIED = "SUCC: usbser.sys文件不存在，自动复制\n"
SYS_PRESENT = "Warning: usbser.sys文件已存在，无需复制\n"

CASES = {}


def case(prefix):
    def register(function):
        CASES[function.__name__] = (prefix, function)
        return function
    return register


class Context:
    def __init__(self, exe, work, prefix_name):
        self.exe = Path(exe).resolve()
        self.work = Path(work).resolve()
        self.prefix = prefixes(self.work)[prefix_name] if prefix_name else None
        self.scratch = self.work / "cases"

    def program_folder(self, name, **layout):
        folder = layout_program_folder(self.scratch / name, **layout)
        shutil.copy(self.exe, folder / "QZ_DriverSetup.exe")
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
    check(sorted(p.name for p in folder.iterdir()) == ["Drivers", "QZ_DriverSetup.exe"],
          "something was written beside the program")
    check(not any(p.exists() for p in ctx.prefix.system_file_paths()),
          "a system file changed without a log")
    check(ctx.prefix.staged_infs() == staged_before, "the driver store changed without a log")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe")
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
    ctx = Context(args.exe, work, prefix_name)
    try:
        function(ctx)
    except AssertionError as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
