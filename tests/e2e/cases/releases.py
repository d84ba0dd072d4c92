"""Every release and architecture on a fresh system: records, and which package folder's files
landed in which system folder. "native" is System32 as a 64-bit program sees it; "wow64" is
SysWOW64, where a 32-bit program's System32 path leads while redirection is on."""

from wine_env import mdmcpq_fixture, usbser_placeholder
from cases.common import (
    BANNER, CLOSING, HEADING, INF_COPIED, LOG_NAME, STAGED, SYS_COPIED, case, check,
    expect_messages, run_program)


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
    # Registered as the decorated cases are: a marked function of this module.
    globals()[run.__name__] = case(prefix)(run)


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
