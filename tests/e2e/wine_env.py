"""Wine prefixes, program folders and log reading for the end-to-end runs."""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

import windows_runner

WINE_ENV = dict(os.environ, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")

# Every folder the package carries, and what each one's files look like, so that a file in a
# system folder tells which package folder it came from.
PACKAGE_FOLDERS = ["xp", "win7_32bit", "win7_64bit\\32bits", "win7_64bit\\64bits", "win8_64bit",
                   "win10"]


def usbser_placeholder(folder):
    return ("QZ test usbser.sys from Drivers\\%s\r\n" % folder).encode("ascii")


def utf16(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def mdmcpq_fixture(folder):
    return utf16("[Version]\r\nSignature=\"$Windows NT$\"\r\n; QZ test copy from Drivers\\%s\r\n"
                 "\r\n[FakeModemCopyFileSection]\r\nusbser.sys,,,0x20\r\n" % folder)


DRIVER_INF = (
    "[Version]\r\n"
    "Signature=\"$Windows NT$\"\r\n"
    "Class=Ports\r\n"
    "ClassGuid={4D36E978-E325-11CE-BFC1-08002BE10318}\r\n"
    "Provider=%QZ%\r\n"
    "DriverVer=01/01/2024,1.2.0.0\r\n"
    "\r\n"
    "[Manufacturer]\r\n"
    "%QZ%=QZ,NTx86,NTamd64\r\n"
    "\r\n"
    "[QZ.NTx86]\r\n"
    "%QZ.Uart%=QZ_Uart,USB\\VID_1A86&PID_E0A1\r\n"
    "\r\n"
    "[QZ.NTamd64]\r\n"
    "%QZ.Uart%=QZ_Uart,USB\\VID_1A86&PID_E0A1\r\n"
    "\r\n"
    "[QZ_Uart]\r\n"
    "include=mdmcpq.inf\r\n"
    "CopyFiles=FakeModemCopyFileSection\r\n"
    "AddReg=QZ_Uart.AddReg\r\n"
    "\r\n"
    "[QZ_Uart.AddReg]\r\n"
    "HKR,,DevLoader,,*ntkern\r\n"
    "HKR,,NTMPDriver,,usbser.sys\r\n"
    "\r\n"
    "[QZ_Uart.Services]\r\n"
    "include=mdmcpq.inf\r\n"
    "AddService=usbser,0x00000002,QZ_Uart_Service\r\n"
    "\r\n"
    "[QZ_Uart_Service]\r\n"
    "ServiceType=1\r\n"
    "StartType=3\r\n"
    "ErrorControl=1\r\n"
    "ServiceBinary=%12%\\usbser.sys\r\n"
    "\r\n"
    "[Strings]\r\n"
    "QZ=\"QZ\"\r\n"
    "QZ.Uart=\"QZ USB to UART\"\r\n").encode("ascii")


def layout_program_folder(folder, drivers=True, logs=True, driver_inf=True):
    """A program folder as it ships: the executable, "Drivers" and "logs" side by side."""
    folder = Path(folder)
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    if logs:
        (folder / "logs").mkdir()
    if drivers:
        root = folder / "Drivers"
        root.mkdir()
        for name in PACKAGE_FOLDERS:
            sub = root.joinpath(*name.split("\\"))
            sub.mkdir(parents=True, exist_ok=True)
            (sub / "usbser.sys").write_bytes(usbser_placeholder(name))
            (sub / "mdmcpq.inf").write_bytes(mdmcpq_fixture(name))
        if driver_inf:
            (root / "QZ_UsbToUartDriver.inf").write_bytes(DRIVER_INF)
    return folder


class Prefix:
    """One Wine prefix: "win32" stands for 32-bit Windows, "win64" for 64-bit Windows."""

    def __init__(self, path, arch):
        self.path = windows_runner.guest_local(path)
        self.arch = arch
        self.env = dict(WINE_ENV, WINEPREFIX=str(self.path), WINEARCH=arch)
        self.serving = False

    @property
    def windows(self):
        return self.path / "drive_c" / "windows"

    def system32_drivers(self):
        """The native driver folder."""
        return self.windows / "system32" / "drivers"

    def syswow64_drivers(self):
        return self.windows / "syswow64" / "drivers"

    def create(self):
        if self.path.exists():
            self.kill()
            shutil.rmtree(self.path)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        template = windows_runner.template(self.arch)
        if template is not None:
            # Under emulation wineboot takes minutes: a copy of the prefix it made once.
            subprocess.run(["cp", "-a", str(template), str(self.path)], check=True, timeout=600)
        else:
            windows_runner.run(["wineboot", "-i"], env=self.env, check=True, timeout=300,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # A real 64-bit Windows has this folder; a fresh prefix does not.
        if self.arch == "win64":
            self.syswow64_drivers().mkdir(parents=True, exist_ok=True)
        windows_runner.run(["wineserver", "-w"], env=self.env, timeout=120)

    def kill(self):
        windows_runner.run(["wineserver", "-k"], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)
        self.serving = False

    def wine(self, arguments, env=None, **options):
        """Runs `wine` with `arguments` in the prefix, `env` its environment (the prefix's by
        default)."""
        if windows_runner.INSIDE and not self.serving and self.path.is_dir():
            # Under emulation a server's start costs seconds: one server stays for the prefix.
            quiet = dict(env=self.env, timeout=60, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
            if windows_runner.run(["wineserver", "-p"], **quiet).returncode == 0:
                # The first program of a new server starts Wine's services, which stay as long
                # as the server and hold their starter's output open: this one has none, so no
                # later run waits for the end of an output that never ends.
                windows_runner.run(["wine", "cmd", "/c", "exit"], **quiet)
            self.serving = True
        return windows_runner.run(["wine"] + [str(a) for a in arguments], env=env or self.env,
                                  **options)

    def set_version(self, version):
        self.wine(["reg", "add", "HKCU\\Software\\Wine", "/v", "Version", "/t", "REG_SZ", "/d",
                   version, "/f"], check=True, timeout=120, stdout=subprocess.DEVNULL,
                  stderr=subprocess.DEVNULL)

    def map_drive(self, letter, folder):
        link = self.path / "dosdevices" / (letter.lower() + ":")
        if link.is_symlink() or link.exists():
            link.unlink()
        link.symlink_to(Path(folder).resolve())

    def system_file_paths(self):
        paths = [self.windows / "inf" / "mdmcpq.inf", self.system32_drivers() / "usbser.sys"]
        if self.arch == "win64":
            paths.append(self.syswow64_drivers() / "usbser.sys")
        return paths

    def fresh_system(self):
        """No mdmcpq.inf and no usbser.sys anywhere, as on a system that never had them."""
        for path in self.system_file_paths():
            if path.exists():
                path.unlink()
        for leftover in (self.windows / "inf").glob("mdmcpq.inf.*"):
            leftover.unlink()

    def staged_infs(self):
        """The INFs staging may add: oemN.inf, or the package INF's own name, which Wine keeps
        when it is free."""
        return sorted(p.name for p in (self.windows / "inf").glob("*.inf")
                      if p.name.lower().startswith("oem") or
                      p.name.lower() == "qz_usbtouartdriver.inf")

    def run(self, program, cwd=None):
        """Runs a Windows path (or a Linux path) of a program; answers its exit code."""
        return self.run_with_arguments(program, [], cwd)

    def run_with_arguments(self, program, arguments, cwd=None):
        return self.run_for_output(program, arguments, cwd)[0]

    def run_for_output(self, program, arguments, cwd=None, debug=None, env=None):
        """(exit code, standard output as text) of a program run in the prefix, `env` added to
        its environment; with `debug` (a WINEDEBUG setting), also Wine's messages on standard
        error."""
        env = dict(self.env, **(env or {}))
        if debug is not None:
            env["WINEDEBUG"] = debug
        completed = self.wine([program] + list(arguments), env=env, cwd=cwd, timeout=120)
        output = completed.stdout.decode("ascii", "replace")
        if debug is None:
            return completed.returncode, output
        return completed.returncode, output, completed.stderr.decode("ascii", "replace")


def windows_path(path):
    """How a program in the prefix names a host path: through drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


FRAME = re.compile(rb"\[(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.(\d{3})\] "
                   rb"\[driver_install_info\] \[info\] ")


def log_records(data):
    """(timestamp text, message bytes) of each record; fails on any byte outside a frame."""
    records = []
    at = 0
    while at < len(data):
        frame = FRAME.match(data, at)
        if frame is None:
            raise AssertionError("no record frame at byte %d: %r" % (at, data[at:at + 80]))
        end = data.find(b"\r\n", frame.end())
        if end < 0:
            raise AssertionError("record at byte %d has no CR LF end" % at)
        stamp = data[at + 1:at + 24].decode("ascii")
        records.append((stamp, data[frame.end():end]))
        at = end + 2
    return records


def gbk(messages):
    return [m.encode("gbk") for m in messages]


def local_stamp(seconds):
    whole = int(seconds)
    return time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(whole)) + ".%03d" % int(
        (seconds - whole) * 1000)
