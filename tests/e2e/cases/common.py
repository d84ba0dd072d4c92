"""What the end-to-end cases share: the records they expect, the registry mark, the checks."""

import shutil
from pathlib import Path

from wine_env import gbk, log_records

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


def case(prefix):
    """Marks a function as a case run in the prefix named `prefix` ("win32", "win64"; "own32",
    "own64" for a prefix of the case's own)."""
    def mark(function):
        function.prefix = prefix
        return function
    return mark


def empty_folder(ctx, name):
    """A folder of the case's own, emptied of what an earlier run left."""
    folder = ctx.scratch / name
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    return folder
