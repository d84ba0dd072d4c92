"""The remover. Its cases change which names the prefix's INF folder has free, and ctest runs the
cases in any order (the slowest of the last run first), so no case counts on a name being taken."""

import wine_env
from cases.common import (
    BANNER, CLOSING, FRESH_WIN10_64, INF_EDITED, LOG_NAME, case, check,
    check_runs_do_not_overlap, expect_messages, run_program, runs_in)
from cases.modem_inf import helper, one_run


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
