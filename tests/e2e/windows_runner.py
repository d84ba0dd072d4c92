#!/usr/bin/env python3
"""How Windows programs run on this machine: the one place that decides, and every Wine call.

Natively through Wine where this machine runs 32-bit x86 code; otherwise (or with
QZ_WINE_GUEST=1) in the full-system guest of wine_guest.py. In the guest, the scripts that drive
Wine run there whole, because the prefixes they look into live on the guest's own disk.

  windows_runner.py way                  says how, in one line (exit 3: no way here)
  windows_runner.py session -- CMD ...   runs CMD with one guest for all of it, when one is needed
  windows_runner.py guest -- CMD ...     runs CMD where Windows programs run (in the session's
                                         guest, or one of its own), its output shown as it comes
"""

import atexit
import contextlib
import functools
import os
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
from pathlib import Path

import wine_guest
from wine_guest import GuestError

FORCED = os.environ.get("QZ_WINE_GUEST") == "1"
INSIDE = os.environ.get("QZ_INSIDE_WINE_GUEST") == "1"
PORT_VARIABLE = "QZ_WINE_GUEST_PORT"
# The agent answers only to the run that booted the guest. Other accounts cannot read a
# process's environment.
SECRET_VARIABLE = "QZ_WINE_GUEST_SECRET"
# Time-outs only stop a hung run; under full-system emulation a Windows program takes several
# times as long as natively.
TIME_FACTOR = 5 if INSIDE else 1
GUEST_HOME = Path("/var/lib/qz/local")
GUEST_TEMPLATES = Path("/var/lib/qz/templates")
# What a command run in the guest takes of this side's environment: the rest (PATH, HOME, an
# interpreter's own settings) belongs to this machine.
PASSED_ON = ("WINE", "QZ_", "LANG", "LC_", "TZ", "SOURCE_DATE_EPOCH", "CI")


def tiny_i386_program():
    """A static 32-bit x86 Linux program that only exits with 0."""
    base = 0x08048000
    code = bytes.fromhex("b801000000" "31db" "cd80")  # exit(0) through int 0x80
    size = 52 + 32 + len(code)
    header = (b"\x7fELF\x01\x01\x01" + bytes(9) +
              struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0))
    segment = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
    return header + segment + code


def runs_32_bit_code():
    with tempfile.TemporaryDirectory() as scratch:
        program = Path(scratch) / "probe"
        program.write_bytes(tiny_i386_program())
        program.chmod(0o755)
        try:
            return subprocess.run([str(program)], timeout=30).returncode == 0
        except OSError:
            return False


@functools.lru_cache(maxsize=None)
def way():
    """"inside" (this is the guest), "guest" or "native": asked once a process."""
    if INSIDE:
        return "inside"
    if FORCED or os.environ.get(PORT_VARIABLE) or not runs_32_bit_code():
        return "guest"
    return "native"


def describe(chosen):
    if chosen == "native":
        return "Windows programs run natively through Wine: this machine runs 32-bit x86 code"
    if chosen == "inside":
        return "Windows programs run through Wine in this guest"
    why = "QZ_WINE_GUEST=1" if FORCED else "this machine runs no 32-bit x86 code"
    return ("Windows programs run through Wine in a full-system QEMU guest (%s; %s; image in %s)"
            % (why, wine_guest.describe_accelerator(), wine_guest.CACHE))


def passed_on(env):
    return {k: v for k, v in (env or os.environ).items()
            if k.startswith(PASSED_ON) and k != SECRET_VARIABLE}


def guest():
    """The port and the secret of the run's guest; a process started outside a session boots
    one of its own, which goes when the process ends."""
    if not os.environ.get(PORT_VARIABLE):
        private = contextlib.ExitStack()
        atexit.register(private.close)
        port, secret = private.enter_context(wine_guest.running())
        os.environ[PORT_VARIABLE] = str(port)
        os.environ[SECRET_VARIABLE] = secret
    return int(os.environ[PORT_VARIABLE]), os.environ.get(SECRET_VARIABLE, "")


def run(argv, env=None, cwd=None, timeout=120, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        check=False):
    """Runs a Wine command (wine, wineboot, wineserver, msiexec through wine, ...) where Windows
    programs run; answers a CompletedProcess as subprocess.run would."""
    if way() != "guest":
        return subprocess.run(argv, env=env, cwd=cwd, timeout=timeout * TIME_FACTOR,
                              stdout=stdout, stderr=stderr, check=check)
    port, secret = guest()
    try:
        code, out, err = wine_guest.run(port, secret, argv, cwd, passed_on(env), timeout)
    except wine_guest.GuestTimeout as ended:
        raise subprocess.TimeoutExpired(argv, timeout, output=ended.stdout,
                                        stderr=ended.stderr) from None
    completed = subprocess.CompletedProcess(argv, code,
                                            out if stdout == subprocess.PIPE else None,
                                            err if stderr == subprocess.PIPE else None)
    if check:
        completed.check_returncode()
    return completed


def relay_output(name, data):
    """Shows a piece of a guest command's output as it is printed there: a command that hangs,
    or is killed, has shown what it had."""
    stream = sys.stdout if name == "stdout" else sys.stderr
    stream.buffer.write(data)
    stream.flush()


def forward_script(argv, timeout=3600):
    """In the guest's run, a script that drives Wine and looks into prefixes runs in the guest:
    its exit code, its output relayed here. None where this process is the place to run it."""
    if way() != "guest":
        return None
    script = [str(Path(argv[0]).resolve())] + list(argv[1:])

    try:
        port, secret = guest()
        return wine_guest.run(port, secret, ["python3"] + script, os.getcwd(), passed_on(None),
                              timeout, relay_output)[0]
    except GuestError as failure:
        print("error: %s" % failure, flush=True)
        return 1


def guest_local(path):
    """Where a work-tree folder of Wine's (a prefix, or the Wine runs' folder that holds
    prefixes and program folders side by side) lives: in the guest, on its own disk, since a
    prefix over 9p is several times slower and a hard link cannot cross file systems."""
    path = Path(path).resolve()
    if not INSIDE or path.is_relative_to(GUEST_HOME):
        return path
    return GUEST_HOME / path.relative_to("/")


def template(arch):
    """In the guest, the prefix made when the image was built, to copy; elsewhere None."""
    folder = GUEST_TEMPLATES / arch
    return folder if INSIDE and folder.is_dir() else None


def session(command):
    chosen = way()
    print("== " + describe(chosen), flush=True)
    if chosen != "guest" or os.environ.get(PORT_VARIABLE):
        return subprocess.run(command).returncode
    def stop(_signum, _frame):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGHUP, stop)
    with wine_guest.running() as (port, secret):
        child = subprocess.Popen(command, start_new_session=True,
                                 env=dict(os.environ, **{PORT_VARIABLE: str(port),
                                                         SECRET_VARIABLE: secret}))
        try:
            return child.wait()
        except KeyboardInterrupt:
            # Interrupted: the command ends first, with all it started, then the guest.
            end_group(child)
            return 130


def in_guest(command, timeout=3600):
    if way() != "guest":
        return subprocess.run(command).returncode
    port, secret = guest()

    return wine_guest.run(port, secret, command, os.getcwd(), passed_on(None), timeout,
                          relay_output)[0]


def end_group(child):
    """Ends the process group `child` leads: an interrupt first, then a kill for what is left."""
    def signal_group(number):
        try:
            os.killpg(child.pid, number)
        except ProcessLookupError:
            pass

    signal_group(signal.SIGINT)
    try:
        child.wait(timeout=30)
    except subprocess.TimeoutExpired:
        pass
    # A build under a shell loop may outlive the shell that started it.
    signal_group(signal.SIGKILL)
    child.wait()


def main(argv):
    try:
        if argv[:1] == ["way"]:
            chosen = way()
            print(describe(chosen))
            if chosen == "guest":
                needed = ["qemu-system-x86_64"]
                if not wine_guest.image_ready():
                    needed.append("mmdebstrap")
                missing = [tool for tool in needed if not shutil.which(tool)]
                if missing:
                    print("error: no way to run Windows programs here: this machine runs no "
                          "32-bit x86 code, and %s, which the guest needs, is not installed" %
                          " and ".join(missing))
                    return 3
            return 0
        if argv[:2] and argv[0] == "session" and argv[1] == "--" and len(argv) > 2:
            return session(argv[2:])
        if argv[:2] and argv[0] == "guest" and argv[1] == "--" and len(argv) > 2:
            return in_guest(argv[2:])
    except GuestError as failure:
        print("error: %s" % failure, flush=True)
        return 1
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
