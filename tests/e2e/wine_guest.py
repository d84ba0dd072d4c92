"""The full-system guest that runs Windows programs where this machine's kernel runs no 32-bit
x86 code: a Debian 12 root with Wine 8 (32-bit and 64-bit), booted with qemu-system-x86_64.

The image is built once from Debian packages and cached; it is rebuilt when its recipe (the
package list, the suites, the machine's apt sources and options, the guest's init) changes.
Each run boots it with its disk as a throwaway snapshot, shares the work tree at the host's own
path over virtiofs (whose close-to-open caching gives every open the file as the host, or
another request, last wrote it), and talks to the agent in it over a port on the host's
loopback, with a secret made for the boot. Template prefixes live in the image, so a prefix in a
run is a copy on the guest's own disk.
"""

import base64
import binascii
import contextlib
import ctypes
import fcntl
import hashlib
import json
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
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
VIRTIOFSD = Path("/usr/lib/qemu/virtiofsd")


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


def apt_settings(env=None):
    """The Acquire:: settings apt reads, as `apt-config dump` prints them."""
    try:
        dump = subprocess.run(["apt-config", "dump"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, timeout=60, env=env).stdout
    except (OSError, subprocess.SubprocessError):
        return []
    return [line.rstrip() for line in dump.splitlines()
            if line.startswith("Acquire::") and not line.startswith("Acquire::IndexTargets")]


def apt_options():
    """What this machine's apt configuration sets for fetching beyond apt's own defaults (a
    proxy, the checks it turns off or on), so that the guest's root is fetched as this machine
    fetches. Its other settings (hooks, caches) belong to this machine's own system."""
    with tempfile.TemporaryDirectory() as empty:
        bare = Path(empty) / "apt.conf"
        bare.write_text('Dir::Etc::main "%s/none.conf";\nDir::Etc::parts "%s";\n' % (empty, empty))
        defaults = set(apt_settings(dict(os.environ, APT_CONFIG=str(bare))))
    return [line for line in apt_settings() if line not in defaults]


MIRRORS = apt_mirrors()
APT_OPTIONS = apt_options()
# Wine as on the other machines, the kernel, and what the cases run beside Wine: Python, the
# signing tools, the installer-package tools, the compilers of the planted DLLs and the locale
# definitions a Chinese Windows is made from.
PACKAGES = ["linux-image-amd64", "initramfs-tools", "kmod", "mount", "iproute2", "procps",
            "wine", "wine32:i386", "wine64", "python3", "python3-pefile", "python3-asn1crypto",
            "openssl", "osslsigncode", "wixl", "msitools", "gcc-mingw-w64-i686-posix",
            "gcc-mingw-w64-x86-64-posix", "locales", "ca-certificates"]
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
    recipe = {"suites": SUITES, "mirrors": MIRRORS, "packages": PACKAGES,
              "options": APT_OPTIONS}
    return hashlib.sha256(json.dumps(recipe, sort_keys=True).encode()).hexdigest()


def recipe_key():
    recipe = {"root": root_key(), "disk": DISK_SIZE, "making": MAKE_DISK,
              "init": INIT.read_text()}
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


def tool_path(name):
    """A tool's path, looked for in the system folders too: mke2fs is in /usr/sbin, which a
    normal account's PATH lacks."""
    return shutil.which(name, path=os.pathsep.join(
        [os.environ.get("PATH", ""), "/usr/sbin", "/sbin"]))


# The disk from the root's tarball: its files keep their owners (root's, and the packages' own
# accounts), its device nodes are left to the guest's devtmpfs, the guest's init is added, and
# the kernel and initramfs are copied out beside it.
MAKE_DISK = r"""set -e
tarball=$1 init=$2 scratch=$3 size=$4 mke2fs=$5
root=$scratch/root
mkdir "$root"
tar -xpf "$tarball" -C "$root" --numeric-owner --exclude='./dev/*'
cp "$init" "$root/sbin/qz-init"
chmod 755 "$root/sbin/qz-init"
mkdir -p "$root/var/lib/qz"
kernel=$(ls "$root"/boot/vmlinuz-* | sort | tail -n 1)
initrd=$(ls "$root"/boot/initrd.img-* | sort | tail -n 1)
cp "$kernel" "$scratch/vmlinuz"
cp "$initrd" "$scratch/initrd.img"
truncate -s "$size" "$scratch/root.img"
"$mke2fs" -q -F -t ext4 -L qzroot -d "$root" "$scratch/root.img"
rm -rf "$root"
"""


def as_root_of_the_files():
    """How to run a command as the owner of every file of the guest's root: root as itself; a
    normal account as root of a user namespace with its subordinate ids, where the root's files
    keep the owners they have in its tarball."""
    if os.geteuid() == 0:
        return []
    return ["unshare", "--user", "--map-root-user", "--map-auto"]


def build_image():
    """Builds the image unless the cached one is of this recipe. Several runs may ask at once:
    one builds, the others wait for it."""
    with locked(CACHE / ".lock"):
        if image_ready():
            return
        for tool in ("mmdebstrap", "qemu-system-x86_64", "mke2fs"):
            if tool_path(tool) is None:
                raise GuestError("the Wine guest needs %s (Debian: mmdebstrap, qemu-system-x86, "
                                 "e2fsprogs), and it is not installed" % tool)
        started = time.monotonic()
        say("== Building the Wine guest image in %s (once per recipe)" % CACHE)
        (CACHE / "ready").unlink(missing_ok=True)
        scratch = CACHE / "building"
        if scratch.exists():
            # What a build that died left may belong to the namespace's ids.
            subprocess.run(as_root_of_the_files() + ["rm", "-rf", str(scratch)], timeout=600)
        scratch.mkdir(parents=True)
        log = CACHE / "build.log"
        with open(log, "wb") as out:
            tarball = debian_root(out, log)
            if subprocess.run(as_root_of_the_files() + ["sh", "-c", MAKE_DISK, "make-disk",
                               str(tarball), str(INIT), str(scratch), DISK_SIZE,
                               tool_path("mke2fs")], stdout=out, stderr=subprocess.STDOUT,
                              timeout=1800).returncode != 0:
                raise GuestError("could not make the guest's disk from its root (see %s)" % log)
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


def has_subordinate_ids():
    names = {str(os.geteuid()), pwd.getpwuid(os.geteuid()).pw_name}
    for table in ("/etc/subuid", "/etc/subgid"):
        try:
            lines = Path(table).read_text().splitlines()
        except OSError:
            return False
        if not any(line.split(":", 1)[0] in names for line in lines):
            return False
    return True


def debian_root(out, log):
    """The guest's Debian root as a tarball, made by mmdebstrap and kept while the package list
    is the same (the guest's init is added to it afterwards)."""
    tarball = CACHE / "root.tar"
    stamp = CACHE / "root.key"
    if tarball.exists() and stamp.exists() and stamp.read_text().strip() == root_key():
        return tarball
    stamp.unlink(missing_ok=True)
    if os.geteuid() != 0 and not has_subordinate_ids():
        raise GuestError("mmdebstrap makes the guest's root in a user namespace, for which this "
                         "account needs subordinate user and group ids: sudo usermod "
                         "--add-subuids 100000-165535 --add-subgids 100000-165535 %s" %
                         pwd.getpwuid(os.geteuid()).pw_name)
    building = CACHE / "root.tar.part"
    command = (["mmdebstrap", "--mode=unshare", "--variant=apt", "--architectures=amd64,i386",
                "--include=" + ",".join(PACKAGES), "--format=tar"] +
               ["--aptopt=" + option for option in APT_OPTIONS] +
               [SUITES[0], str(building)] + MIRRORS)
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


def kvm_usable():
    """Whether this process may run a guest with KVM: /dev/kvm there and open to it."""
    try:
        os.close(os.open("/dev/kvm", os.O_RDWR | os.O_CLOEXEC))
        return True
    except OSError:
        return False


def accelerator():
    return "kvm" if kvm_usable() else "tcg"


def describe_accelerator():
    return ("KVM" if accelerator() == "kvm" else
            "TCG emulation, /dev/kvm not usable here")


class Machine:
    """One booted guest."""

    def __init__(self, folder=CACHE, mode="serve", console=None):
        self.folder = Path(folder)
        self.mode = mode
        self.console = Path(console) if console else None
        self.port = None
        self.process = None
        self.share = None
        # Made for this boot, readable by this account only; the guest reads it from QEMU's
        # firmware configuration, never from a command line another user could list.
        self.secret = binascii.hexlify(os.urandom(32)).decode("ascii")
        self.private = None

    def command(self):
        if any(c.isspace() for c in str(TREE)):
            raise GuestError("the work tree's path %s has a space, which the guest's kernel "
                             "command line cannot carry" % TREE)
        append = ("root=/dev/vda rw console=ttyS0 panic=1 net.ifnames=0 quiet init=/sbin/qz-init"
                  " qz.mode=%s qz.work=%s qz.agent=%s" % (self.mode, TREE, AGENT))
        if accelerator() == "kvm":
            accel = ["-accel", "kvm", "-cpu", "host"]
        else:
            accel = ["-accel", "tcg,thread=multi"]
        command = (["qemu-system-x86_64"] + accel +
                   ["-smp", str(CPUS), "-m", str(MEMORY_MB), "-nodefaults", "-display", "none",
                    "-no-reboot", "-rtc", "base=utc", "-kernel", str(self.folder / "vmlinuz"),
                    "-initrd", str(self.folder / "initrd.img"), "-append", append,
                    "-drive", "file=%s,format=raw,if=virtio,cache=unsafe" % (
                        self.folder / "root.img"),
                    "-serial", "file:%s" % self.console])
        if self.mode == "serve":
            # The disk is a throwaway snapshot: every run starts from the built image. virtiofs
            # needs the guest's memory shared with its daemon.
            command += ["-snapshot",
                        "-object", "memory-backend-memfd,id=memory,size=%dM,share=on" % MEMORY_MB,
                        "-numa", "node,memdev=memory",
                        "-chardev", "socket,id=work,path=%s" % (self.private / "work.sock"),
                        "-device", "vhost-user-fs-pci,chardev=work,tag=work",
                        "-fw_cfg", "name=opt/qz/secret,file=%s" % (self.private / "secret"),
                        "-netdev", "user,id=net,restrict=on,hostfwd=tcp:127.0.0.1:%d-:%d" % (
                            self.port, AGENT_PORT),
                        "-device", "virtio-net-pci,netdev=net,romfile="]
        return command

    def share_command(self):
        """virtiofsd for the work tree. It runs as root in a user namespace of its own where this
        account is not root: files the guest makes belong to this account."""
        if not VIRTIOFSD.exists():
            raise GuestError("the Wine guest needs %s (Debian: qemu-system-common), and it is "
                             "not there" % VIRTIOFSD)
        serve = [str(VIRTIOFSD), "--socket-path=%s" % (self.private / "work.sock"),
                 "-o", "source=%s" % TREE, "-o", "cache=auto", "-o", "no_xattr"]
        if os.geteuid() == 0:
            return serve
        for tool in ("newuidmap", "newgidmap"):
            if shutil.which(tool) is None:
                raise GuestError("the Wine guest needs %s (Debian: uidmap) to share the work "
                                 "tree as this account, and it is not installed" % tool)
        # Its lock folder under /run is root's: a private /run in the namespace takes it.
        return (["unshare", "--user", "--map-root-user", "--map-auto", "--mount", "sh", "-c",
                 'mount -t tmpfs qz /run && exec "$@"', "virtiofsd"] + serve)

    def start(self):
        if self.console is None:
            self.console = CACHE / ("console-%d.log" % os.getpid())
        if self.mode == "serve":
            self.port = free_port()
            self.private = Path(tempfile.mkdtemp(prefix="qz-guest-"))
            secret = self.private / "secret"
            with open(os.open(secret, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600), "w") as out:
                out.write(self.secret)
            with open(self.folder / ("share-%d.log" % os.getpid()), "wb") as log:
                self.share = subprocess.Popen(self.share_command(), stdin=subprocess.DEVNULL,
                                              stdout=subprocess.DEVNULL, stderr=log,
                                              preexec_fn=die_with_parent)
            deadline = time.monotonic() + 30
            while not (self.private / "work.sock").exists():
                if self.share.poll() is not None or time.monotonic() > deadline:
                    raise GuestError("virtiofsd could not share the work tree (see %s)" %
                                     (self.folder / ("share-%d.log" % os.getpid())))
                time.sleep(0.05)
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
                if call(self.port, self.secret, {"ping": True}, timeout=5).get("pong"):
                    # QEMU read the secret when it started: the file is no longer needed.
                    (self.private / "secret").unlink(missing_ok=True)
                    return
            except (OSError, ValueError):
                time.sleep(1)
        self.stop()
        raise GuestError("the guest did not answer within %d s of starting (its console: %s)" %
                         (BOOT_TIMEOUT, self.console))

    def stop(self):
        for process in (self.process, self.share):
            if process is None or process.poll() is not None:
                continue
            process.terminate()
            try:
                process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                process.kill()
                process.wait()
        if self.private is not None:
            shutil.rmtree(self.private, ignore_errors=True)


class GuestTimeout(GuestError):
    """A command the guest ended when its time ran out; what it printed until then."""

    def __init__(self, message, stdout, stderr):
        super().__init__(message)
        self.stdout = stdout
        self.stderr = stderr


def exchange(port, secret, request, timeout, on_output=None):
    """The agent's answer lines to one request: output chunks go to `on_output(name, bytes)` as
    they come (or are kept), the last line is answered with what was kept. `timeout` bounds each
    wait for a line."""
    kept = {"stdout": b"", "stderr": b""}
    with socket.create_connection(("127.0.0.1", port), timeout=10) as connection:
        connection.settimeout(timeout)
        connection.sendall(json.dumps(dict(request, secret=secret)).encode("utf-8") + b"\n")
        buffered = b""
        while True:
            while b"\n" not in buffered:
                chunk = connection.recv(1 << 20)
                if not chunk:
                    raise ConnectionError("the guest closed the connection without an answer")
                buffered += chunk
            line, buffered = buffered.split(b"\n", 1)
            message = json.loads(line)
            name = next((n for n in ("stdout", "stderr") if n in message), None)
            if name is None:
                return message, kept
            data = base64.b64decode(message[name])
            kept[name] += data
            if on_output is not None:
                on_output(name, data)


def call(port, secret, request, timeout):
    """The agent's last answer line to a request that prints nothing."""
    return exchange(port, secret, request, timeout)[0]


def run(port, secret, argv, cwd, env, timeout, on_output=None):
    """(exit code, stdout bytes, stderr bytes) of a command run in the guest; `on_output` sees
    each piece of output as the command prints it."""
    request = {"argv": [str(a) for a in argv], "cwd": str(cwd) if cwd else None, "env": env,
               "timeout": timeout}
    try:
        # The agent ends the command when its time is up; this side waits a minute longer for
        # the agent itself, and as long between two pieces of output.
        answer, kept = exchange(port, secret, request, timeout + 60, on_output)
    except socket.timeout:
        raise GuestError("the guest did not answer within %d s: %s" % (timeout + 60, argv)) \
            from None
    except (OSError, ValueError) as failure:
        raise GuestError("the guest did not answer (%s): %s" % (failure, argv)) from None
    if "error" in answer:
        if answer["error"].startswith("killed"):
            raise GuestTimeout("%s did not end within %d s in the guest" % (argv, timeout),
                               kept["stdout"], kept["stderr"])
        raise GuestError("the guest could not run %s: %s" % (argv, answer["error"]))
    return answer["code"], kept["stdout"], kept["stderr"]


@contextlib.contextmanager
def running():
    """A booted guest for the duration of the block: its port and its secret."""
    build_image()
    machine = Machine()
    machine.start()
    try:
        started = time.monotonic()
        machine.wait_until_ready()
        say("== The Wine guest answered %d s after starting" % (time.monotonic() - started))
        yield machine.port, machine.secret
    finally:
        machine.stop()
    # Kept when the guest failed: the error names them.
    machine.console.unlink(missing_ok=True)
    (machine.folder / ("share-%d.log" % os.getpid())).unlink(missing_ok=True)


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
