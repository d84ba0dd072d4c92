"""The system's own mdmcpq.inf"""

import wine_env
from cases.common import (
    BANNER, CLOSING, FRESH_WIN10_64, HEADING, INF_EDITED, INF_NO_EDIT, INF_OPEN_FAILED,
    INF_WRITE_FAILED, LOG_NAME, STAGED, SYS_PRESENT, case, check, check_runs_do_not_overlap,
    expect_messages, run_program, runs_in)


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
