"""The installer package for fleets: its tables read back with msiinfo, and install, upgrade,
refusals and uninstall under Wine's msiexec /qn."""

import os
import re
import shutil
import subprocess
import tempfile
import time
from pathlib import Path

import wine_env
from cases.common import CLOSING, NOT_STAGED, STAGED, runs_in
from cases.remover import REMOVAL_DONE
from checks import check

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


def check_publisher_outside_ascii(source, bundle, install_check, work):
    """A Provider outside ASCII (here GBK, as an ANSI INF of a Chinese maker holds it) cannot be
    written by wixl: no package, said as a warning, rather than one without its publisher."""
    copy = Path(work) / "chinese_provider"
    shutil.rmtree(copy, ignore_errors=True)
    shutil.copytree(bundle, copy)
    inf = copy / "Drivers" / "QZ_UsbToUartDriver.inf"
    inf.write_bytes(re.sub(rb'(?m)^QZ\s*=\s*"QZ"', 'QZ="青州科技"'.encode("gbk"), inf.read_bytes()))
    output = Path(work) / "chinese_provider.msi"
    output.unlink(missing_ok=True)
    code, text = run_build_msi(source, copy, "1.2.0", install_check, output)
    check(code == 3 and "warning: no installer package" in text and "青州科技" in text,
          "a Provider outside ASCII: exit code %d, said:\n%s" % (code, text))
    check(not output.exists(), "a package was written without its publisher")


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
    """Set-up without a log (exit 1), and set-up that leaves the store without the package: each
    fails the install (1603), which is rolled back: no programs and no entry."""
    installer.clean(release_msi)
    blocked = installer.log
    blocked.mkdir(parents=True)  # a folder where the log should be: set-up cannot log
    code, text = installer.install(release_msi)
    check(code in ACTION_FAILED, "set-up without a log did not fail the install: %d" % code)
    check(installer.entries() == {}, "a failed install left an entry")
    check(not (installer.folder / "QZ_DriverSetup.exe").exists(), "a failed install left files")
    installer.clean(release_msi)

    # Wine stages no INF whose signature line names no Windows: set-up runs and logs the failure.
    unstageable = installer.work / "unstageable"
    shutil.rmtree(unstageable, ignore_errors=True)
    shutil.copytree(bundle, unstageable)
    inf = unstageable / "Drivers" / "QZ_UsbToUartDriver.inf"
    inf.write_bytes(inf.read_bytes().replace(b'Signature="$Windows NT$"', b'Signature="$None$"'))
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
