"""The installer package for fleets: its tables read back with msiinfo, and install, upgrade,
refusals and uninstall under Wine's msiexec /qn."""

import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import wine_env
from cases.common import CLOSING, NOT_STAGED, STAGED, runs_in
from cases.remover import REMOVAL_DONE
from checks import check

# The package's own reader of compound files; the tests read the summary's values themselves.
sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "cmake"))
import compound_file  # noqa: E402

DISPLAY_NAME = "QZ USB-to-UART Driver"
UPGRADE_CODE = "{6F0B7C52-3C1E-4B8A-9A57-2D4E1A6C9B30}"
# Wine hands an exit code on in eight bits: 1603 (ERROR_INSTALL_FAILURE) arrives as 67. Where
# Windows says 1603 for a program action that failed, Wine says 1627 (ERROR_FUNCTION_FAILED).
INSTALL_FAILED = 1603 & 0xFF
ACTION_FAILED = (1603 & 0xFF, 1627 & 0xFF)
OLDER_VERSION = "1.1.0"
# The summary records a run ends with, before the closing ones.
SUMMARY_SUCCESS = STAGED[-1]
SUMMARY_FAILURE = NOT_STAGED[-1]
REMOVAL_SUCCESS = REMOVAL_DONE[-1]


def msi_name(version):
    return "QZ_DriverSetup-%s.msi" % version


def table(msi, name):
    """The rows of one table as dicts, through msiinfo export (tab-separated, three header
    lines)."""
    # A table of streams (Binary) is also written out as files, into the current folder.
    with tempfile.TemporaryDirectory() as scratch:
        text = subprocess.run(["msiinfo", "export", str(Path(msi).resolve()), name],
                              stdout=subprocess.PIPE, check=True, timeout=60,
                              cwd=scratch).stdout.decode("utf-8")
    lines = text.split("\r\n") if "\r\n" in text else text.split("\n")
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


def summary(msi):
    text = subprocess.run(["msiinfo", "suminfo", str(msi)], stdout=subprocess.PIPE, check=True,
                          timeout=60, env=dict(os.environ, TZ="UTC")).stdout.decode("utf-8")
    return {key: " ".join(value.split()) for key, value in
            (line.split(": ", 1) for line in text.splitlines() if ": " in line)}


def bundle_files(folder):
    return sorted(p.relative_to(folder).as_posix() for p in Path(folder).rglob("*")
                  if p.is_file() and p.relative_to(folder).parts[0] != "logs")


def check_tables(msi, bundle, version, epoch):
    """What the package says of itself: files, folders, actions and their order, properties."""
    epoch_text = " ".join(time.asctime(time.gmtime(epoch)).split())
    files = table(msi, "File")
    directories = {row["Directory"]: row for row in table(msi, "Directory")}

    def path_of(directory):
        row = directories[directory]
        if directory == "INSTALLFOLDER":
            return ""
        parent = path_of(row["Directory_Parent"])
        return parent + row["DefaultDir"] + "/"

    components = {row["Component"]: row for row in table(msi, "Component")}
    installed = sorted(path_of(components[row["Component_"]]["Directory_"]) + row["FileName"]
                       for row in files)
    check(installed == bundle_files(bundle),
          "the package installs %r, the zip holds %r" % (installed, bundle_files(bundle)))
    check(directories["INSTALLFOLDER"]["DefaultDir"] == "QZ_DriverSetup" and
          directories["INSTALLFOLDER"]["Directory_Parent"] == "ProgramFilesFolder",
          "the install folder is %r" % directories["INSTALLFOLDER"])
    created = [directories[row["Directory_"]]["DefaultDir"] for row in table(msi, "CreateFolder")]
    check(created == ["logs"], "folders created empty: %r" % created)

    actions = {row["Action"]: row for row in table(msi, "CustomAction")}
    # 18: a program installed by the package, 1: a DLL from the Binary table; +1024 deferred,
    # +2048 not impersonated (as SYSTEM), +256 rollback, +64 exit code ignored; 51 sets a
    # property (here the folder the check is handed).
    want = {"RunDriverSetup": ("3090", "QZ_DriverSetup.exe"),
            "RunDriverRemove": ("3090", "QZ_DriverRemove.exe"),
            "UndoDriverSetup": ("3410", "QZ_DriverRemove.exe"),
            "CheckPackageStaged": ("3073", "InstallCheck"),
            "CheckPackageStagedData": ("2099", "CheckPackageStaged")}
    for name, (kind, source) in want.items():
        check(name in actions and (actions[name]["Type"], actions[name]["Source"]) == (kind, source),
              "custom action %s is %r, want type %s from %s" % (name, actions.get(name), kind,
                                                                 source))
    check(actions["CheckPackageStaged"]["Target"] == "CheckPackageStaged" and
          actions["CheckPackageStagedData"]["Target"] == "[INSTALLFOLDER]",
          "the check's entry or its data: %r" % actions)
    binaries = [row["Name"] for row in table(msi, "Binary")]
    check(binaries == ["InstallCheck"], "Binary table: %r" % binaries)

    sequence = {row["Action"]: (int(row["Sequence"]), row.get("Condition", ""))
                for row in table(msi, "InstallExecuteSequence")}
    missing = [name for name in want if name not in sequence]
    check(not missing, "custom actions never run: %r" % missing)
    order = lambda *names: [sequence[n][0] for n in names] == sorted(sequence[n][0] for n in names)
    check(order("InstallValidate", "RemoveExistingProducts", "InstallInitialize"),
          "an upgrade does not remove the older release first: %r" % sequence)
    check(order("InstallInitialize", "RunDriverRemove", "RemoveFiles", "InstallFiles",
                "UndoDriverSetup", "RunDriverSetup", "CheckPackageStagedData",
                "CheckPackageStaged", "InstallFinalize"),
          "the actions are out of order: %r" % sorted(sequence.items(), key=lambda i: i[1]))
    check(sequence["RunDriverRemove"][1] == 'REMOVE~="ALL"' and
          all(sequence[n][1] == 'NOT REMOVE~="ALL"'
              for n in ("UndoDriverSetup", "RunDriverSetup", "CheckPackageStaged")),
          "the actions' conditions: %r" % sequence)

    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    for name, value in (("ProductName", DISPLAY_NAME), ("ProductVersion", version),
                        ("Manufacturer", "QZ"), ("UpgradeCode", UPGRADE_CODE), ("ALLUSERS", "1"),
                        ("ARPNOMODIFY", "1"), ("ARPNOREPAIR", "1")):
        check(properties.get(name) == value, "property %s is %r, want %r" % (
            name, properties.get(name), value))
    upgrades = table(msi, "Upgrade")
    conditions = {row["Condition"]: row["Description"] for row in table(msi, "LaunchCondition")}
    check(any(row["ActionProperty"] == "WIX_DOWNGRADE_DETECTED" for row in upgrades) and
          conditions.get("NOT WIX_DOWNGRADE_DETECTED", "").startswith(
              "A newer release of the QZ USB-to-UART Driver is already installed"),
          "a downgrade is not refused with a clear message: %r, %r" % (upgrades, conditions))

    info = summary(msi)
    check(info.get("Template") == "Intel;1033", "not a 32-bit package: %r" % info)
    check(info.get("Created") == epoch_text and info.get("Last saved") == epoch_text,
          "the package's times are not the epoch's (%s): %r" % (epoch_text, info))


class Installer:
    """msiexec in one prefix, and what it leaves there."""

    def __init__(self, prefix, work):
        self.prefix = prefix
        self.work = Path(work)
        self.work.mkdir(parents=True, exist_ok=True)
        files = "Program Files (x86)" if prefix.arch == "win64" else "Program Files"
        self.folder = prefix.path / "drive_c" / files / "QZ_DriverSetup"
        self.runs = 0

    @property
    def log(self):
        return self.folder / "logs" / "QZ_Orvo_Driver_Log.txt"

    def msiexec(self, *arguments):
        """msiexec's exit code and its verbose log's text."""
        self.runs += 1
        log = self.work / ("msiexec-%d.log" % self.runs)
        code = self.prefix.run_with_arguments("msiexec", list(arguments) + [
            "/qn", "/l*v", wine_env.windows_path(log)])
        return code, log.read_bytes().decode("utf-8", "replace") if log.exists() else ""

    def install(self, msi):
        return self.msiexec("/i", wine_env.windows_path(msi))

    def uninstall(self, msi):
        return self.msiexec("/x", wine_env.windows_path(msi))

    def entries(self):
        """The Add/Remove Programs entries of the product: {product code: values}."""
        self.prefix.kill()  # the registry reaches system.reg when the server stops
        text = (self.prefix.path / "system.reg").read_text(encoding="utf-8", errors="replace")
        found = {}
        for key, body in re.findall(r"(?ms)^\[([^\]\n]*\\\\Uninstall\\\\\{[^\]\n]*\})\][^\n]*\n"
                                    r"(.*?)(?=^\[|\Z)", text):
            values = dict(re.findall(r'(?m)^"([^"]+)"=(?:str\(2\):)?"?([^"\n]*)"?$', body))
            if values.get("DisplayName") == DISPLAY_NAME:
                found[key.rsplit("\\\\", 1)[1]] = values
        return found

    def staged(self):
        return [name for name in self.prefix.staged_infs()
                if b"QZ" in (self.prefix.windows / "inf" / name).read_bytes()]

    def clean(self, *msis):
        """No product, no staged package and no installed folder, whatever an earlier run
        left."""
        for msi in msis:
            if msi.exists():
                self.uninstall(msi)
        for name in self.staged():
            (self.prefix.windows / "inf" / name).unlink()
        shutil.rmtree(self.folder, ignore_errors=True)
        self.prefix.fresh_system()


def ends_with(run, last):
    """Whether a run of runs_in ends with `last` and the closing records."""
    return [text for _, text in run[-3:]] == [last] + CLOSING


def check_installed(installer, bundle, version):
    files = bundle_files(installer.folder)
    check(files == bundle_files(bundle), "installed %r, the bundle holds %r" % (
        files, bundle_files(bundle)))
    for name in files:
        check((installer.folder / name).read_bytes() == (Path(bundle) / name).read_bytes(),
              "%s differs from the bundle's" % name)
    check(installer.staged() != [], "the package is not in the driver store")
    entries = installer.entries()
    check(len(entries) == 1, "Add/Remove Programs has %d entries: %r" % (len(entries), entries))
    values = next(iter(entries.values()))
    for name, value in (("DisplayVersion", version), ("Publisher", "QZ"), ("NoModify", None),
                        ("NoRepair", None)):
        got = values.get(name)
        check(got == value if value else got is not None and got.endswith("00000001"),
              "the entry's %s is %r: %r" % (name, got, values))


def refused_uninstall(installer, msi):
    """The remover without a log (exit 1) fails the uninstall: the product stays as it was."""
    kept = installer.log.with_name("kept.txt")
    installer.log.rename(kept)
    installer.log.mkdir()
    try:
        code, text = installer.uninstall(msi)
        check(code in ACTION_FAILED, "the remover without a log did not fail the uninstall: %d"
              % code)
        # Windows' rollback puts back the Add/Remove Programs entry too; Wine's does not.
        check((installer.folder / "QZ_DriverRemove.exe").exists(), "the failed uninstall left "
              "the programs half removed")
        check(installer.staged() != [], "the failed uninstall took the package")
    finally:
        installer.log.rmdir()
        kept.rename(installer.log)


def check_uninstalled(installer, msi):
    code, text = installer.uninstall(msi)
    check(code == 0, "uninstall failed (%d):\n%s" % (code, text[-2000:]))
    check(installer.staged() == [], "the package is still in the driver store: %r" %
          installer.staged())
    check(installer.entries() == {}, "the entry is still there")
    left = sorted(p.relative_to(installer.folder).as_posix() for p in installer.folder.rglob("*"))
    check(left == ["logs", "logs/QZ_Orvo_Driver_Log.txt"], "uninstall left %r" % left)
    check(ends_with(runs_in(installer.log)[-1], REMOVAL_SUCCESS),
          "the remover's run is not the log's last: %r" % runs_in(installer.log)[-1])


def run_build_msi(source, bundle, version, install_check, output, epoch=315532800):
    completed = subprocess.run(
        ["/usr/bin/python3", str(Path(source) / "cmake" / "build_msi.py"), "--bundle", str(bundle),
         "--version", version, "--install-check", str(install_check), "--template",
         str(Path(source) / "msi" / "QZ_DriverSetup.wxs.in"), "--epoch", str(epoch), "--output",
         str(output)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    return completed.returncode, completed.stdout.decode("utf-8", "replace")


def build_msi(source, bundle, version, install_check, output, epoch=315532800):
    code, output_text = run_build_msi(source, bundle, version, install_check, output, epoch)
    check(code == 0, "build_msi.py failed:\n%s" % output_text)
    return output


# A Chinese maker's name as its INF's Provider, and one that GBK cannot hold (Korean).
CHINESE_PROVIDER = "青州科技"
NOT_GBK_PROVIDER = "청주 QZ"


def with_inf_edited(bundle, folder, pattern, replacement, encode=None):
    """A copy of the bundle in `folder` whose package INF (ASCII text) has its one match of
    `pattern` replaced, then written by `encode` (text to bytes; ASCII by default)."""
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(bundle, folder)
    inf = Path(folder) / "Drivers" / "QZ_UsbToUartDriver.inf"
    text, count = re.subn(pattern, replacement, inf.read_bytes().decode("ascii"))
    check(count == 1, "the package INF has no one match of %r" % pattern)
    inf.write_bytes(encode(text) if encode else text.encode("ascii"))
    return Path(folder)


def with_provider(bundle, folder, provider, encoding):
    """A copy of the bundle whose package INF names `provider`: written as a Chinese maker's
    ANSI INF ("gbk") or as UTF-16 with its byte-order mark ("utf-16")."""
    return with_inf_edited(bundle, folder, r'(?m)^QZ\s*=\s*"QZ"', 'QZ="%s"' % provider,
                           (lambda text: text.encode("gbk")) if encoding == "gbk" else
                           (lambda text: b"\xff\xfe" + text.encode("utf-16-le")))


def summary_values(msi):
    """{pid: value} of the package's summary information; strings as their bytes."""
    _, stream = compound_file.stream(Path(msi).read_bytes(), "\x05SummaryInformation")
    section, = struct.unpack_from("<I", stream, 44)
    count, = struct.unpack_from("<I", stream, section + 4)
    values = {}
    for index in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * index)
        kind, = struct.unpack_from("<I", stream, section + offset)
        if kind == 2:  # VT_I2
            values[pid] = struct.unpack_from("<h", stream, section + offset + 4)[0]
        elif kind == 30:  # VT_LPSTR: its length counts the closing NUL
            length, = struct.unpack_from("<I", stream, section + offset + 4)
            values[pid] = bytes(stream[section + offset + 8:section + offset + 8 + length])
    return values


def check_publishers_outside_ascii(source, bundle, install_check, work):
    """A Provider GBK can encode, in an ANSI or a UTF-16 INF, gives a package in code page 936
    whose Manufacturer and summary author are that Provider, the same bytes from two builds;
    one GBK cannot encode gives none, said as a warning."""
    for encoding in ("gbk", "utf-16"):
        copy = with_provider(bundle, Path(work) / ("chinese_" + encoding), CHINESE_PROVIDER,
                             encoding)
        built = []
        for build in ("one", "two"):
            output = Path(work) / ("chinese_%s_%s.msi" % (encoding, build))
            output.unlink(missing_ok=True)
            built.append(build_msi(source, copy, "1.2.0", install_check, output))
        check(built[0].read_bytes() == built[1].read_bytes(),
              "two builds of the %s package differ" % encoding)
        properties = {row["Property"]: row["Value"] for row in table(built[0], "Property")}
        check(properties.get("Manufacturer") == CHINESE_PROVIDER,
              "%s: Manufacturer is %r" % (encoding, properties.get("Manufacturer")))
        summary = summary_values(built[0])
        check(summary.get(1) == 936 and
              summary.get(4) == CHINESE_PROVIDER.encode("gbk") + b"\0",
              "%s: the summary's code page and author are %r, %r" % (
                  encoding, summary.get(1), summary.get(4)))
        # msiinfo exports the code page as the table's name line.
        text = subprocess.run(["msiinfo", "export", str(built[0]), "_ForceCodepage"],
                              stdout=subprocess.PIPE, check=True, timeout=60).stdout
        check(b"936\t_ForceCodepage" in text,
              "%s: the database's code page is not 936: %r" % (encoding, text))

        check_detect_script(source, copy, Path(work) / ("detect_%s.ps1" % encoding))

    copy = with_provider(bundle, Path(work) / "korean", NOT_GBK_PROVIDER, "utf-16")
    output = Path(work) / "korean.msi"
    output.unlink(missing_ok=True)
    code, text = run_build_msi(source, copy, "1.2.0", install_check, output)
    check(code == 3 and "warning: no installer package" in text and NOT_GBK_PROVIDER in text,
          "a Provider GBK cannot encode: exit code %d, said:\n%s" % (code, text))
    check(not output.exists(), "a package was written without its publisher")


def check_detect_script(source, bundle, output):
    """deploy\\detect.ps1 for a Chinese Provider: PowerShell 2.0 reads a script without a
    byte-order mark in the machine's ANSI code page, so the Provider the code compares is
    written as UTF-16 code units, ASCII whatever reads it; only comments may hold other text."""
    completed = subprocess.run(
        ["/usr/bin/python3", str(Path(source) / "cmake" / "write_detect_script.py"),
         str(Path(bundle) / "Drivers"), str(Path(source) / "res" / "deploy" / "detect.ps1.in"),
         str(output)], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    check(completed.returncode == 0, "write_detect_script.py failed:\n%s" %
          completed.stdout.decode("utf-8", "replace"))
    data = output.read_bytes()
    check(data.startswith(b"\xef\xbb\xbf"), "detect.ps1 has no UTF-8 byte-order mark")
    lines = data[3:].split(b"\r\n")
    code = [line for line in lines if not line.lstrip().startswith(b"#")]
    check(all(line.isascii() for line in code), "detect.ps1's code holds more than ASCII")
    assigned = [line for line in code if line.startswith(b"$packageProvider = ")]
    found = re.fullmatch(rb"\$packageProvider = -join \(\[char\[\]\]\(((?:0x[0-9A-F]{4}, )*"
                         rb"0x[0-9A-F]{4})\)\)", assigned[0] if assigned else b"")
    check(found is not None, "detect.ps1 does not set the Provider from its code units: %r" %
          assigned)
    read_back = "".join(chr(int(unit, 16)) for unit in found.group(1).split(b", "))
    check(read_back == CHINESE_PROVIDER, "detect.ps1 reads the Provider as %r" % read_back)


def registry_text(value):
    """A string of Wine's registry files: UTF-16 code units outside ASCII are \\x escapes."""
    return re.sub(r"\\x([0-9a-fA-F]{1,4})|\\(.)",
                  lambda m: chr(int(m.group(1), 16)) if m.group(1) else m.group(2), value)


def chinese_publisher(installer, source, bundle, install_check):
    """Installed on a Chinese Windows (ANSI code page 936), the package of a Chinese maker shows
    its Provider as the Add/Remove Programs publisher."""
    # Written to a pipe, cmd's Chinese text is in the ANSI code page: GBK only where it is 936.
    said = installer.prefix.wine(["cmd", "/c", "chcp"], stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=120).stdout
    check("代码页" in said.decode("gbk", "replace"),
          "the prefix is not a Chinese Windows: chcp says %r" % said)
    copy = with_provider(bundle, installer.work / "chinese_bundle", CHINESE_PROVIDER, "gbk")
    msi = build_msi(source, copy, "1.2.0", install_check, installer.work / "chinese.msi")
    installer.clean(msi)
    code, text = installer.install(msi)
    check(code == 0, "installing the Chinese maker's package failed (%d):\n%s" % (code,
                                                                              text[-2000:]))
    entries = installer.entries()
    check(len(entries) == 1, "Add/Remove Programs has %d entries: %r" % (len(entries), entries))
    publisher = registry_text(next(iter(entries.values())).get("Publisher", ""))
    check(publisher == CHINESE_PROVIDER, "the publisher is %r, want %r" % (publisher,
                                                                         CHINESE_PROVIDER))
    check(ends_with(runs_in(installer.log)[-1], SUMMARY_SUCCESS), "set-up did not succeed")
    check_uninstalled(installer, msi)


def upgrade_and_remove(installer, source, bundle, release_msi, version, install_check):
    """An older release, then this one over it, a refused downgrade, then uninstall."""
    older = build_msi(source, bundle, OLDER_VERSION, install_check,
                      installer.work / msi_name(OLDER_VERSION))
    installer.clean(release_msi, older)
    code, text = installer.install(older)
    check(code == 0, "installing %s failed (%d):\n%s" % (OLDER_VERSION, code, text[-2000:]))
    check_installed(installer, bundle, OLDER_VERSION)
    check(ends_with(runs_in(installer.log)[-1], SUMMARY_SUCCESS), "the first run did not succeed")

    code, text = installer.install(release_msi)
    check(code == 0, "the upgrade failed (%d):\n%s" % (code, text[-2000:]))
    check_installed(installer, bundle, version)
    runs = runs_in(installer.log)
    check(len(runs) == 3 and ends_with(runs[1], REMOVAL_SUCCESS) and
          ends_with(runs[2], SUMMARY_SUCCESS),
          "the upgrade did not remove the older release and then set up: %r" % runs[1:])

    code, text = installer.install(older)
    check(code == INSTALL_FAILED, "a downgrade was not refused: exit code %d" % code)
    # Windows shows the launch condition's message (checked in the tables); Wine only logs that
    # the condition failed.
    check(re.search(r"WIX_DOWNGRADE_DETECTED = \{", text) and
          re.search(r"Action ended [^\n]*: LaunchConditions\. Return value 0\.", text),
          "the downgrade was not refused by its launch condition:\n%s" % text[-2000:])
    check_installed(installer, bundle, version)
    check(len(runs_in(installer.log)) == 3, "the refused downgrade ran a program")
    check_uninstalled(installer, release_msi)


def refused_installs(installer, source, bundle, release_msi, install_check):
    """Set-up without a log (exit 1), and set-up that leaves the store without this release
    (an earlier one staged): each fails the install (1603), which is rolled back: no programs
    and no entry."""
    installer.clean(release_msi)
    blocked = installer.log
    blocked.mkdir(parents=True)  # a folder where the log should be: set-up cannot log
    code, text = installer.install(release_msi)
    check(code in ACTION_FAILED, "set-up without a log did not fail the install: %d" % code)
    check(installer.entries() == {}, "a failed install left an entry")
    check(not (installer.folder / "QZ_DriverSetup.exe").exists(), "a failed install left files")
    installer.clean(release_msi)

    # An earlier release, staged as a zip install of it leaves it: the same INF name and
    # Provider, other bytes. It is not this release, so it must not make the failure below pass.
    earlier = with_inf_edited(bundle, installer.work / "earlier_zip",
                              r"(?m)^DriverVer\s*=[^\r\n]*", "DriverVer=01/01/2023,1.1.0.0")
    (earlier / "logs").mkdir(exist_ok=True)
    check(installer.prefix.run(earlier / "QZ_DriverSetup.exe", cwd=earlier) == 0 and
          ends_with(runs_in(earlier / "logs" / "QZ_Orvo_Driver_Log.txt")[-1], SUMMARY_SUCCESS),
          "the earlier release could not be staged")
    check(installer.staged() != [], "the earlier release is not in the driver store")

    # Wine stages no INF whose catalog is missing: set-up runs and logs the failure. The INF
    # itself reads as before, its Provider too, so it is this package by name and Provider.
    unstageable = with_inf_edited(bundle, installer.work / "unstageable", r"(?m)^\[Version\]\r\n",
                                  "[Version]\r\nCatalogFile=qz_missing.cat\r\n")
    check(not re.search(rb"(?mi)^CatalogFile\s*=\s*(?!qz_missing)",
                        (unstageable / "Drivers" / "QZ_UsbToUartDriver.inf").read_bytes()),
          "the package INF names a catalog of its own")
    msi = build_msi(source, unstageable, "1.2.0", install_check, installer.work / "unstageable.msi")
    code, text = installer.install(msi)
    check(code == INSTALL_FAILED, "an install without the package staged did not fail: %d" % code)
    check("the driver store does not hold the package" in text,
          "the installer's log does not say why the install failed:\n%s" % text[-2000:])
    check(installer.entries() == {}, "the failed install left an entry")
    check(not (installer.folder / "QZ_DriverSetup.exe").exists(), "a failed install left files")
    check(ends_with(runs_in(installer.log)[-1], SUMMARY_FAILURE),
          "set-up's run did not fail: %r" % runs_in(installer.log)[-1])
    installer.clean(release_msi)
