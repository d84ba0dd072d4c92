"""The full-system guest that runs Windows programs where this machine's kernel runs no 32-bit
x86 code: a Debian 12 root with Wine 8 (32-bit and 64-bit), booted with qemu-system-x86_64.

The image is built once from Debian packages and cached; it is rebuilt when its recipe (the
package list, the suites, the guest's init) changes. Each run boots it with its disk as a
throwaway snapshot, shares the work tree at the host's own path over 9p, and talks to the agent
in it over a port on the host's loopback. Template prefixes live in the image, so a prefix in a
run is a copy on the guest's own disk.
"""

import base64
import contextlib
import ctypes
import fcntl
import hashlib
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
TREE = HERE.parents[1]
INIT = HERE / "guest" / "init.sh"
AGENT = HERE / "guest" / "agent.py"
# Outside the work tree, so that every clone on the machine (CI's too) shares one image.
CACHE = Path(os.environ.get("QZ_WINE_GUEST_CACHE") or
             Path(os.environ.get("XDG_CACHE_HOME") or Path.home() / ".cache") / "qz-wine-guest")

SUITES = ["bookworm", "bookworm-updates", "bookworm-security"]
APT_SOURCES = Path("/etc/apt")


def apt_mirrors(apt=APT_SOURCES, suites=SUITES):
    """The guest's sources, as this machine's own apt configuration names them (one-line and
    deb822 files alike), for the suites the guest is built from: no archive is named here."""
    entries = []
    for path in [apt / "sources.list"] + sorted((apt / "sources.list.d").glob("*.list")):
        if path.is_file():
            for line in path.read_text().splitlines():
                words = line.split("#", 1)[0].split()
                if words[:1] == ["deb"] and words[1:2] and words[1].startswith("["):
                    closing = next((i for i, w in enumerate(words) if w.endswith("]")), len(words))
                    words = words[:1] + words[closing + 1:]
                if len(words) >= 4 and words[0] == "deb":
                    entries.append((words[1], [words[2]], words[3:]))
    for path in sorted((apt / "sources.list.d").glob("*.sources")):
        for stanza in path.read_text().split("\n\n"):
            fields = {}
            for line in stanza.splitlines():
                if ":" in line and not line.startswith(("#", " ")):
                    key, value = line.split(":", 1)
                    fields[key.strip().lower()] = value.split()
            if "deb" in fields.get("types", []) and fields.get("enabled", ["yes"]) != ["no"]:
                for uri in fields.get("uris", []):
                    entries.append((uri, fields.get("suites", []), fields.get("components", [])))
    mirrors = []
    for uri, entry_suites, components in entries:
        for suite in entry_suites:
            line = "deb %s %s %s" % (uri, suite, " ".join(components or ["main"]))
            if suite in suites and line not in mirrors:
                mirrors.append(line)
    return mirrors


MIRRORS = apt_mirrors()
# Wine as on the other machines, the kernel, and what the cases run beside Wine: Python, the
# signing tools, the installer-package tools, the compilers of the planted DLLs and the locale
# definitions a Chinese Windows is made from.
PACKAGES = ["linux-image-amd64", "initramfs-tools", "kmod", "mount", "iproute2", "procps",
            "wine", "wine32:i386", "wine64", "python3", "python3-pefile", "python3-asn1crypto",
            "openssl", "osslsigncode", "wixl", "msitools", "gcc-mingw-w64-i686-posix",
            "gcc-mingw-w64-x86-64-posix", "locales"]
DISK_SIZE = "16G"
MEMORY_MB = 6144
CPUS = 2
AGENT_PORT = 7000

BUILD_TIMEOUT = 3600
PREPARE_TIMEOUT = 1200
BOOT_TIMEOUT = 300


class GuestError(Exception):
    """Said as one `error:` line."""


def root_key():
    recipe = {"suites": SUITES, "mirrors": MIRRORS, "packages": PACKAGES}
    return hashlib.sha256(json.dumps(recipe, sort_keys=True).encode()).hexdigest()


def recipe_key():
    recipe = {"root": root_key(), "disk": DISK_SIZE, "init": INIT.read_text()}
    return hashlib.sha256(json.dumps(recipe, sort_keys=True).encode()).hexdigest()


def image_ready():
    stamp = CACHE / "ready"
    return stamp.exists() and stamp.read_text().strip() == recipe_key()


@contextlib.contextmanager
def locked(path):
    path.parent.mkdir(parents=True, exist_ok=True)
    with open(path, "w") as handle:
        fcntl.flock(handle, fcntl.LOCK_EX)
        yield


def say(text):
    print(text, file=sys.stderr, flush=True)


def build_image():
    """Builds the image unless the cached one is of this recipe. Several runs may ask at once:
    one builds, the others wait for it."""
    with locked(CACHE / ".lock"):
        if image_ready():
            return
        for tool in ("mmdebstrap", "qemu-system-x86_64", "mke2fs"):
            if shutil.which(tool) is None:
                raise GuestError("the Wine guest needs %s (Debian: mmdebstrap, qemu-system-x86, "
                                 "e2fsprogs), and it is not installed" % tool)
        started = time.monotonic()
        say("== Building the Wine guest image in %s (once per recipe)" % CACHE)
        (CACHE / "ready").unlink(missing_ok=True)
        scratch = CACHE / "building"
        shutil.rmtree(scratch, ignore_errors=True)
        scratch.mkdir(parents=True)
        log = CACHE / "build.log"
        with open(log, "wb") as out:
            tarball = debian_root(out, log)
            root = scratch / "root"
            root.mkdir()
            subprocess.run(["tar", "-xpf", str(tarball), "-C", str(root), "--numeric-owner"],
                           check=True, stdout=out, stderr=subprocess.STDOUT, timeout=600)
            shutil.copy(INIT, root / "sbin" / "qz-init")
            (root / "sbin" / "qz-init").chmod(0o755)
            (root / "var" / "lib" / "qz").mkdir(parents=True, exist_ok=True)
            kernels = sorted((root / "boot").glob("vmlinuz-*"))
            initrds = sorted((root / "boot").glob("initrd.img-*"))
            if not kernels or not initrds:
                raise GuestError("the guest's root has no kernel or initramfs (see %s)" % log)
            shutil.copy(kernels[-1], scratch / "vmlinuz")
            shutil.copy(initrds[-1], scratch / "initrd.img")
            image = scratch / "root.img"
            subprocess.run(["truncate", "-s", DISK_SIZE, str(image)], check=True)
            if subprocess.run(["mke2fs", "-q", "-F", "-t", "ext4", "-L", "qzroot", "-d",
                               str(root), str(image)], stdout=out, stderr=subprocess.STDOUT,
                              timeout=1200).returncode != 0:
                raise GuestError("mke2fs could not write the guest's disk (see %s)" % log)
            shutil.rmtree(root)
        console = scratch / "prepare-console.log"
        say("== Making the template prefixes in the guest (wineboot, under emulation)")
        machine = Machine(scratch, mode="prepare", console=console)
        machine.start()
        try:
            machine.process.wait(timeout=PREPARE_TIMEOUT)
        except subprocess.TimeoutExpired:
            machine.stop()
            raise GuestError("the guest did not make its template prefixes within %d s (see %s)"
                             % (PREPARE_TIMEOUT, console)) from None
        text = console.read_text(errors="replace")
        if "qz-template win32 made" not in text or "qz-template win64 made" not in text:
            raise GuestError("the guest could not make its template prefixes (see %s)" % console)
        for name in ("vmlinuz", "initrd.img", "root.img", "prepare-console.log"):
            os.replace(scratch / name, CACHE / name)
        shutil.rmtree(scratch)
        (CACHE / "ready").write_text(recipe_key() + "\n")
        say("== The Wine guest image is ready (%d s)" % (time.monotonic() - started))


def debian_root(out, log):
    """The guest's Debian root as a tarball, made by mmdebstrap and kept while the package list
    is the same (the guest's init is added to it afterwards)."""
    tarball = CACHE / "root.tar"
    stamp = CACHE / "root.key"
    if tarball.exists() and stamp.exists() and stamp.read_text().strip() == root_key():
        return tarball
    stamp.unlink(missing_ok=True)
    building = CACHE / "root.tar.part"
    command = ["mmdebstrap", "--mode=unshare", "--variant=apt", "--architectures=amd64,i386",
               "--include=" + ",".join(PACKAGES),
               "--aptopt=Acquire::Check-Valid-Until \"false\"", "--format=tar",
               SUITES[0], str(building)] + MIRRORS
    if subprocess.run(command, stdout=out, stderr=subprocess.STDOUT,
                      timeout=BUILD_TIMEOUT).returncode != 0:
        building.unlink(missing_ok=True)
        raise GuestError("mmdebstrap could not make the guest's Debian root (see %s)" % log)
    os.replace(building, tarball)
    stamp.write_text(root_key() + "\n")
    return tarball


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def die_with_parent():
    # The guest goes when the run that started it goes, however it ends.
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


class Machine:
    """One booted guest."""

    def __init__(self, folder=CACHE, mode="serve", console=None):
        self.folder = Path(folder)
        self.mode = mode
        self.console = Path(console) if console else None
        self.port = None
        self.process = None

    def command(self):
        if any(c.isspace() for c in str(TREE)):
            raise GuestError("the work tree's path %s has a space, which the guest's kernel "
                             "command line cannot carry" % TREE)
        append = ("root=/dev/vda rw console=ttyS0 panic=1 net.ifnames=0 quiet init=/sbin/qz-init"
                  " qz.mode=%s qz.work=%s qz.agent=%s" % (self.mode, TREE, AGENT))
        command = ["qemu-system-x86_64", "-accel", "tcg,thread=multi", "-smp", str(CPUS),
                   "-m", str(MEMORY_MB), "-nodefaults", "-display", "none", "-no-reboot",
                   "-rtc", "base=utc", "-kernel", str(self.folder / "vmlinuz"),
                   "-initrd", str(self.folder / "initrd.img"), "-append", append,
                   "-drive", "file=%s,format=raw,if=virtio,cache=unsafe" % (
                       self.folder / "root.img"),
                   "-serial", "file:%s" % self.console]
        if self.mode == "serve":
            # The disk is a throwaway snapshot: every run starts from the built image.
            command += ["-snapshot",
                        "-virtfs", "local,path=%s,mount_tag=work,security_model=passthrough,"
                        "id=work" % TREE,
                        "-netdev", "user,id=net,restrict=on,hostfwd=tcp:127.0.0.1:%d-:%d" % (
                            self.port, AGENT_PORT),
                        "-device", "virtio-net-pci,netdev=net,romfile="]
        return command

    def start(self):
        if self.console is None:
            self.console = CACHE / ("console-%d.log" % os.getpid())
        if self.mode == "serve":
            self.port = free_port()
        self.process = subprocess.Popen(self.command(), stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                        preexec_fn=die_with_parent)

    def wait_until_ready(self):
        deadline = time.monotonic() + BOOT_TIMEOUT
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise GuestError("the guest stopped while booting (its console: %s)" %
                                 self.console)
            try:
                if call(self.port, {"ping": True}, timeout=5).get("pong"):
                    return
            except (OSError, ValueError):
                time.sleep(1)
        self.stop()
        raise GuestError("the guest did not answer within %d s of starting (its console: %s)" %
                         (BOOT_TIMEOUT, self.console))

    def stop(self):
        if self.process is None or self.process.poll() is not None:
            return
        self.process.terminate()
        try:
            self.process.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def call(port, request, timeout):
    """The agent's answer to one request; `timeout` bounds the whole exchange."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
        connection.settimeout(timeout)
        connection.sendall(json.dumps(request).encode("utf-8") + b"\n")
        data = b""
        while not data.endswith(b"\n"):
            chunk = connection.recv(1 << 20)
            if not chunk:
                raise ConnectionError("the guest closed the connection without an answer")
            data += chunk
    return json.loads(data)


def run(port, argv, cwd, env, timeout):
    """(exit code, stdout bytes, stderr bytes) of a command run in the guest."""
    try:
        answer = call(port, {"argv": [str(a) for a in argv], "cwd": str(cwd) if cwd else None,
                             "env": env, "timeout": timeout}, timeout + 60)
    except socket.timeout:
        raise GuestError("the guest did not answer within %d s: %s" % (timeout + 60, argv)) \
            from None
    except (OSError, ValueError) as failure:
        raise GuestError("the guest did not answer (%s): %s" % (failure, argv)) from None
    if "error" in answer:
        if answer["error"].startswith("killed"):
            raise subprocess.TimeoutExpired(argv, timeout)
        raise GuestError("the guest could not run %s: %s" % (argv, answer["error"]))
    return (answer["code"], base64.b64decode(answer["stdout"]),
            base64.b64decode(answer["stderr"]))


@contextlib.contextmanager
def running():
    """A booted guest for the duration of the block: its port."""
    build_image()
    machine = Machine()
    machine.start()
    try:
        started = time.monotonic()
        machine.wait_until_ready()
        say("== The Wine guest answered %d s after starting" % (time.monotonic() - started))
        yield machine.port
    finally:
        machine.stop()
    # Kept when the guest failed: the error names it.
    machine.console.unlink(missing_ok=True)


if __name__ == "__main__":
    try:
        if sys.argv[1:] == ["build"]:
            build_image()
        else:
            print("usage: wine_guest.py build", file=sys.stderr)
            sys.exit(2)
    except GuestError as failure:
        print("error: %s" % failure, file=sys.stderr)
        sys.exit(1)
