"""The installer package for fleets: its tables read back with msiinfo, and install, upgrade,
refusals and uninstall under Wine's msiexec /qn."""

import hashlib
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
# What each run is, by its first record after the banner.
SETUP_RUN = "INFO: 获取当前操作系统： \n"
REMOVAL_RUN = "INFO: 卸载 QZ_UsbToUartDriver 驱动 \n"
ROLLED_BACK_RUN = "INFO: 安装已回滚，删除本次安装预安装的 QZ_UsbToUartDriver 驱动包 \n"
EARLIER_RELEASES_RUN = "INFO: 升级已完成，删除旧版本的 QZ_UsbToUartDriver 驱动包 \n"
PACKAGE_INF = Path("Drivers") / "QZ_UsbToUartDriver.inf"


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

    # Installed over an older release, a program replaces the older one only when the package
    # says it is newer.
    versions = {row["FileName"]: row["Version"] for row in files}
    for program in ("QZ_DriverSetup.exe", "QZ_DriverRemove.exe", "QZ_DeviceInstall64.exe"):
        check(versions.get(program) == version + ".0", "%s has the version %r in the File table"
              % (program, versions.get(program)))
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
    # +2048 not impersonated (as SYSTEM), +256 rollback, +512 commit, +64 exit code ignored; 51
    # sets a property (here the folder the check is handed). An immediate action is 1 or 1+2048.
    want = {"FindStagedRelease": ("2049", "InstallCheck", "FindStagedRelease"),
            "RunDriverSetup": ("3090", "QZ_DriverSetup.exe", ""),
            "RunDriverRemove": ("3090", "QZ_DriverRemove.exe", ""),
            "UndoDriverSetup": ("3410", "QZ_DriverRemove.exe", "/this-release"),
            "CheckPackageStaged": ("3073", "InstallCheck", "CheckPackageStaged"),
            "CheckPackageStagedData": ("2099", "CheckPackageStaged", "[INSTALLFOLDER]"),
            "EnsurePackageStaged": ("3073", "InstallCheck", "EnsurePackageStaged"),
            "EnsurePackageStagedData": ("2099", "EnsurePackageStaged", "[INSTALLFOLDER]"),
            "RemoveEarlierReleases": ("3666", "QZ_DriverRemove.exe", "/earlier-releases")}
    for name, (kind, source, target) in want.items():
        got = actions.get(name)
        check(got is not None and (got["Type"], got["Source"], got["Target"]) ==
              (kind, source, target),
              "custom action %s is %r, want type %s from %s with %r" % (name, got, kind, source,
                                                                      target))
    binaries = [row["Name"] for row in table(msi, "Binary")]
    check(binaries == ["InstallCheck"], "Binary table: %r" % binaries)

    sequence = {row["Action"]: (int(row["Sequence"]), row.get("Condition", ""))
                for row in table(msi, "InstallExecuteSequence")}
    missing = [name for name in want if name not in sequence]
    check(not missing, "custom actions never run: %r" % missing)
    order = lambda *names: [sequence[n][0] for n in names] == sorted(sequence[n][0] for n in names)
    # What is staged is looked at before anything changes; the older release goes only after
    # this one is installed, staged and checked, inside the same transaction, so a failed
    # upgrade never touched it, and before this one registers; the earlier releases leave the
    # driver store once it commits.
    check(order("InstallValidate", "FindStagedRelease", "InstallInitialize", "RunDriverRemove",
                "RemoveFiles", "InstallFiles", "UndoDriverSetup", "RunDriverSetup",
                "CheckPackageStagedData", "CheckPackageStaged", "InstallExecute",
                "RemoveExistingProducts", "EnsurePackageStagedData", "EnsurePackageStaged",
                "RemoveEarlierReleases", "RegisterProduct", "PublishProduct", "InstallFinalize"),
          "the actions are out of order: %r" % sorted(sequence.items(), key=lambda i: i[1]))
    conditions = {"FindStagedRelease": 'NOT REMOVE~="ALL"',
                  # An upgrade's removal of the older release leaves the driver store alone.
                  "RunDriverRemove": 'REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE',
                  # Taken back only when this install staged it.
                  "UndoDriverSetup": 'NOT REMOVE~="ALL" AND NOT QZ_RELEASE_WAS_STAGED',
                  "RunDriverSetup": 'NOT REMOVE~="ALL"',
                  "CheckPackageStaged": 'NOT REMOVE~="ALL"',
                  "EnsurePackageStaged": 'NOT REMOVE~="ALL" AND WIX_UPGRADE_DETECTED',
                  "RemoveEarlierReleases": 'NOT REMOVE~="ALL" AND WIX_UPGRADE_DETECTED'}
    for name, condition in conditions.items():
        check(sequence[name][1] == condition, "%s runs on %r, want %r" % (
            name, sequence[name][1], condition))
    upgrades = table(msi, "Upgrade")
    check(any(row["ActionProperty"] == "WIX_UPGRADE_DETECTED" and row["VersionMax"] == version
              for row in upgrades), "no older release is detected as WIX_UPGRADE_DETECTED: %r"
          % upgrades)

    properties = {row["Property"]: row["Value"] for row in table(msi, "Property")}
    for name, value in (("ProductName", DISPLAY_NAME), ("ProductVersion", version),
                        ("Manufacturer", "QZ"), ("UpgradeCode", UPGRADE_CODE), ("ALLUSERS", "1"),
                        ("ARPNOMODIFY", "1"), ("ARPNOREPAIR", "1"),
                        ("QZ_PACKAGE_INF_SHA256", hashlib.sha256(
                            (Path(bundle) / "Drivers" / "QZ_UsbToUartDriver.inf").read_bytes())
                         .hexdigest().upper())):
        check(properties.get(name) == value, "property %s is %r, want %r" % (
            name, properties.get(name), value))
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

    def staged_bytes(self):
        """The package's staged INFs, as a sorted list of their bytes."""
        return sorted((self.prefix.windows / "inf" / name).read_bytes() for name in self.staged())

    def run_installed(self, program, *arguments):
        """A program of the installed folder, run by its Windows path as the package runs it."""
        drive_c = self.prefix.path / "drive_c"
        path = "C:\\" + str((self.folder / program).relative_to(drive_c)).replace("/", "\\")
        return self.prefix.run_with_arguments(path, list(arguments))

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


def kinds(runs):
    """What each run of runs_in was, by the record after its banner."""
    return [run[2][1] if len(run) > 2 else None for run in runs]


def earlier_release(bundle, folder):
    """A copy of the bundle as an earlier release: the same INF name and Provider, another
    DriverVer, so other bytes."""
    return with_inf_edited(bundle, folder, r"(?m)^DriverVer\s*=[^\r\n]*",
                           "DriverVer=01/01/2023,1.1.0.0")


def unstageable_release(bundle, folder):
    """A copy of the bundle that Wine will not stage (its catalog is missing), though its INF
    reads as before, Provider too: this package by name and Provider."""
    copy = with_inf_edited(bundle, folder, r"(?m)^\[Version\]\r\n",
                           "[Version]\r\nCatalogFile=qz_missing.cat\r\n")
    check(not re.search(rb"(?mi)^CatalogFile\s*=\s*(?!qz_missing)",
                        (copy / PACKAGE_INF).read_bytes()),
          "the package INF names a catalog of its own")
    return copy


def ends_with(run, last):
    """Whether a run of runs_in ends with `last` and the closing records."""
    return [text for _, text in run[-3:]] == [last] + CLOSING


def check_installed(installer, bundle, version, publisher="QZ"):
    """The installed folder is the bundle's, this release of its package is staged, and
    Add/Remove Programs has one entry for it."""
    files = bundle_files(installer.folder)
    check(files == bundle_files(bundle), "installed %r, the bundle holds %r" % (
        files, bundle_files(bundle)))
    for name in files:
        check((installer.folder / name).read_bytes() == (Path(bundle) / name).read_bytes(),
              "%s differs from the bundle's" % name)
    check((Path(bundle) / PACKAGE_INF).read_bytes() in installer.staged_bytes(),
          "this release's package is not in the driver store")
    entries = installer.entries()
    check(len(entries) == 1, "Add/Remove Programs has %d entries: %r" % (len(entries), entries))
    values = next(iter(entries.values()))
    for name, value in (("DisplayVersion", version), ("Publisher", publisher), ("NoModify", None),
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


def run_build_msi(source, bundle, version, install_check, output, epoch=315532800, extra=()):
    completed = subprocess.run(
        ["/usr/bin/python3", str(Path(source) / "cmake" / "build_msi.py"), "--bundle", str(bundle),
         "--version", version, "--install-check", str(install_check), "--template",
         str(Path(source) / "msi" / "QZ_DriverSetup.wxs.in"), "--epoch", str(epoch), "--output",
         str(output)] + list(extra), stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
        timeout=300)
    return completed.returncode, completed.stdout.decode("utf-8", "replace")


def build_msi(source, bundle, version, install_check, output, epoch=315532800):
    code, output_text = run_build_msi(source, bundle, version, install_check, output, epoch)
    check(code == 0, "build_msi.py failed:\n%s" % output_text)
    return output


# A Chinese maker's name as its INF's Provider, and one that GBK cannot hold (Korean).
CHINESE_PROVIDER = "青州科技"
KOREAN_PROVIDER = "청주 QZ"


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
    """A copy of the bundle whose package INF names `provider`: an ANSI INF in the Python codec
    `encoding` ("gbk", "cp1252"), or "utf-16", with its byte-order mark."""
    quoted = provider.replace("\\", "\\\\")
    return with_inf_edited(bundle, folder, r'(?m)^QZ\s*=\s*"QZ"', 'QZ="%s"' % quoted,
                           (lambda text: b"\xff\xfe" + text.encode("utf-16-le"))
                           if encoding == "utf-16" else (lambda text: text.encode(encoding)))


def summary_code_page(msi):
    """The summary information's code page, as libmagic reads it (file(1)), which shares no code
    with the build."""
    said = subprocess.run(["file", "-b", str(msi)], stdout=subprocess.PIPE, check=True,
                          timeout=60).stdout.decode("utf-8", "replace")
    found = re.search(r"Code page: (\d+)", said)
    return int(found.group(1)) if found else None


def summary_author(msi):
    """The summary's author as msiinfo suminfo prints it: its bytes, in the summary's code page."""
    said = subprocess.run(["msiinfo", "suminfo", str(msi)], stdout=subprocess.PIPE, check=True,
                          timeout=60).stdout
    found = re.search(rb"(?m)^Author: (.*)$", said)
    return found.group(1) if found else None


# Providers as makers write them: the INF's text (the Python codec of an ANSI INF, or UTF-16),
# QZ_INF_CODE_PAGE, then what the build makes of it: its exit code, the package's code page
# (None: wixl's own, 1252), Manufacturer and author, and what the build says.
PROVIDERS = [
    # name, provider, INF encoding, --inf-code-page, exit code, code page, Manufacturer, said
    ("ascii", "QZ Ltd", "ascii", None, 0, None, "QZ Ltd", ["note: QZ_UsbToUartDriver.inf is ANSI: "
                                                           "read in code page 936"]),
    ("chinese_ansi", CHINESE_PROVIDER, "gbk", None, 0, 936, CHINESE_PROVIDER,
     ["read in code page 936", "each machine's own ANSI code page"]),
    ("chinese_utf16", CHINESE_PROVIDER, "utf-16", None, 0, 936, CHINESE_PROVIDER, []),
    ("japanese_in_gbk", "ソニー株式会社", "utf-16", None, 0, 936, "ソニー株式会社", []),
    # Half-width katakana are not in GBK: Shift JIS holds them.
    ("japanese_beyond_gbk", "ｿﾆｰ株式会社", "utf-16", None, 0, 932, "ｿﾆｰ株式会社", []),
    ("korean", KOREAN_PROVIDER, "utf-16", None, 0, 949, KOREAN_PROVIDER, []),
    ("polish", "Łódź Sp. z o.o.", "utf-16", None, 0, 1250, "Łódź Sp. z o.o.", []),
    # A Western maker's ANSI INF read as the market's GBK, then in the code page it names.
    ("western_read_as_gbk", "Müller GmbH", "cp1252", None, 0, 936, "M黮ler GmbH",
     ["read in code page 936", "each machine's own ANSI code page"]),
    ("western_read_as_1252", "Müller GmbH", "cp1252", 1252, 0, 936, "Müller GmbH",
     ["read in code page 1252", "each machine's own ANSI code page"]),
    ("tab", "QZ\tLtd", "ascii", None, 1, None, None, ["error: ", "U+0009"]),
    ("line_break", "QZ\u2028Ltd", "utf-16", None, 1, None, None, ["error: ", "U+2028"]),
    ("emoji", "QZ 🚀", "utf-16", None, 3, None, None, ["warning: no installer package", "QZ 🚀"]),
]


def check_publishers(source, bundle, install_check, work):
    """Each maker's Provider gives a package whose code page holds it, with it as Manufacturer
    and author, or the error or warning that says why there is none; detect.ps1 reads it the
    same way. The same inputs make the same bytes."""
    for name, provider, encoding, inf_code_page, exit_code, code_page, manufacturer, said in \
            PROVIDERS:
        copy = with_provider(bundle, Path(work) / ("provider_" + name), provider, encoding)
        output = Path(work) / ("provider_%s.msi" % name)
        output.unlink(missing_ok=True)
        extra = ["--inf-code-page", str(inf_code_page)] if inf_code_page else []
        code, text = run_build_msi(source, copy, "1.2.0", install_check, output, extra=extra)
        check(code == exit_code, "%s: build_msi.py exited with %d, want %d:\n%s" % (
            name, code, exit_code, text))
        for words in said:
            check(words in text, "%s: the build does not say %r:\n%s" % (name, words, text))
        if exit_code != 0:
            check(not output.exists(), "%s: a package was written: %s" % (name, text))
            continue
        if encoding != "utf-16" and provider.isascii():
            check("each machine's own" not in text, "%s: an ASCII Provider got the ANSI note" % name)
        properties = {row["Property"]: row["Value"] for row in table(output, "Property")}
        check(properties.get("Manufacturer") == manufacturer,
              "%s: Manufacturer is %r, want %r" % (name, properties.get("Manufacturer"),
                                                   manufacturer))
        check(summary_code_page(output) == (code_page or 1252),
              "%s: the summary's code page is %r, want %r" % (name, summary_code_page(output),
                                                              code_page or 1252))
        author = summary_author(output)
        check(author == manufacturer.encode("cp%d" % (code_page or 1252)),
              "%s: the summary's author is %r" % (name, author))
        forced = subprocess.run(["msiinfo", "export", str(output), "_ForceCodepage"],
                                stdout=subprocess.PIPE, check=True, timeout=60).stdout
        check(code_page is None or b"%d\t_ForceCodepage" % code_page in forced,
              "%s: the database's code page is not %r: %r" % (name, code_page, forced))
        check_detect_script(source, copy, Path(work) / ("detect_%s.ps1" % name), manufacturer,
                            inf_code_page)
    again = Path(work) / "provider_korean_again.msi"
    again.unlink(missing_ok=True)
    build_msi(source, Path(work) / "provider_korean", "1.2.0", install_check, again)
    check(again.read_bytes() == (Path(work) / "provider_korean.msi").read_bytes(),
          "two builds of the Korean maker's package differ")


def check_detect_script(source, bundle, output, provider, inf_code_page=None):
    """deploy\\detect.ps1 for the Provider: PowerShell 2.0 reads a script without a byte-order
    mark in the machine's ANSI code page, so a Provider outside ASCII is written as UTF-16 code
    units, ASCII whatever reads it; only comments may hold other text."""
    extra = ["--inf-code-page", str(inf_code_page)] if inf_code_page else []
    completed = subprocess.run(
        ["/usr/bin/python3", str(Path(source) / "cmake" / "write_detect_script.py"),
         str(Path(bundle) / "Drivers"), str(Path(source) / "res" / "deploy" / "detect.ps1.in"),
         str(output)] + extra, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120)
    check(completed.returncode == 0, "write_detect_script.py failed:\n%s" %
          completed.stdout.decode("utf-8", "replace"))
    data = output.read_bytes()
    check(data.startswith(b"\xef\xbb\xbf"), "detect.ps1 has no UTF-8 byte-order mark")
    lines = data[3:].split(b"\r\n")
    code = [line for line in lines if not line.lstrip().startswith(b"#")]
    check(all(line.isascii() for line in code), "detect.ps1's code holds more than ASCII")
    assigned = [line for line in code if line.startswith(b"$packageProvider = ")]
    if provider.isascii():
        check(assigned == [b"$packageProvider = '%s'" % provider.encode("ascii")],
              "detect.ps1 sets the Provider as %r" % assigned)
        return
    found = re.fullmatch(rb"\$packageProvider = -join \(\[char\[\]\]\(((?:0x[0-9A-F]{4}, )*"
                         rb"0x[0-9A-F]{4})\)\)", assigned[0] if assigned else b"")
    check(found is not None, "detect.ps1 does not set the Provider from its code units: %r" %
          assigned)
    units = b"".join(int(unit, 16).to_bytes(2, "little") for unit in found.group(1).split(b", "))
    read_back = units.decode("utf-16-le")
    check(read_back == provider, "detect.ps1 reads the Provider as %r, want %r" % (read_back,
                                                                                 provider))


def registry_text(value):
    """A string of Wine's registry files: UTF-16 code units outside ASCII are \\x escapes."""
    return re.sub(r"\\x([0-9a-fA-F]{1,4})|\\(.)",
                  lambda m: chr(int(m.group(1), 16)) if m.group(1) else m.group(2), value)


# What cmd's chcp says, in the language of Windows of each ANSI code page.
CODE_PAGE_WORDS = {936: "代码页", 949: "코드 페이지"}


def publisher_shown(installer, source, bundle, install_check, provider, encoding, code_page):
    """Installed on a Windows whose ANSI code page is `code_page`, a maker's package shows its
    Provider as the Add/Remove Programs publisher."""
    # Written to a pipe, cmd's text is in the ANSI code page: that language only where it is it.
    said = installer.prefix.wine(["cmd", "/c", "chcp"], stdout=subprocess.PIPE,
                                 stderr=subprocess.DEVNULL, timeout=120).stdout
    check(CODE_PAGE_WORDS[code_page] in said.decode("cp%d" % code_page, "replace"),
          "the prefix is not a Windows of code page %d: chcp says %r" % (code_page, said))
    copy = with_provider(bundle, installer.work / "maker_bundle", provider, encoding)
    msi = build_msi(source, copy, "1.2.0", install_check, installer.work / "maker.msi")
    installer.clean(msi)
    code, text = installer.install(msi)
    check(code == 0, "installing the maker's package failed (%d):\n%s" % (code, text[-2000:]))
    entries = installer.entries()
    check(len(entries) == 1, "Add/Remove Programs has %d entries: %r" % (len(entries), entries))
    publisher = registry_text(next(iter(entries.values())).get("Publisher", ""))
    check(publisher == provider, "the publisher is %r, want %r" % (publisher, provider))
    check(ends_with(runs_in(installer.log)[-1], SUMMARY_SUCCESS), "set-up did not succeed")
    check_uninstalled(installer, msi)


def upgrade_and_remove(installer, source, bundle, release_msi, version, install_check):
    """An earlier release, then this one over it: installed, staged and checked before the
    earlier one goes, whose package leaves the driver store once the upgrade commits; a refused
    downgrade; then uninstall."""
    older_bundle = earlier_release(bundle, installer.work / "older_bundle")
    older = build_msi(source, older_bundle, OLDER_VERSION, install_check,
                      installer.work / msi_name(OLDER_VERSION))
    installer.clean(release_msi, older)
    code, text = installer.install(older)
    check(code == 0, "installing %s failed (%d):\n%s" % (OLDER_VERSION, code, text[-2000:]))
    check_installed(installer, older_bundle, OLDER_VERSION)
    check(ends_with(runs_in(installer.log)[-1], SUMMARY_SUCCESS), "the first run did not succeed")
    # Not staged before: a failure would take back what set-up staged.
    check("QZ_DriverSetup: this release is not staged yet" in text and
          re.search(r"Action start [^\n]*: UndoDriverSetup\.", text),
          "the first install did not find its release unstaged:\n%s" % text[-3000:])

    code, text = installer.install(release_msi)
    check(code == 0, "the upgrade failed (%d):\n%s" % (code, text[-2000:]))
    check_installed(installer, bundle, version)
    check(installer.staged_bytes() == [(Path(bundle) / PACKAGE_INF).read_bytes()],
          "the earlier release is still staged after the upgrade")
    runs = runs_in(installer.log)[1:]
    # This release is set up while the earlier one is still installed, and the commit takes the
    # earlier release out. Wine removes the earlier release without UPGRADINGPRODUCTCODE, so its
    # remover takes every release out, and EnsurePackageStaged sets this one up again (on
    # Windows neither runs).
    check(kinds(runs) == [SETUP_RUN, REMOVAL_RUN, SETUP_RUN, EARLIER_RELEASES_RUN] and
          ends_with(runs[0], SUMMARY_SUCCESS) and ends_with(runs[2], SUMMARY_SUCCESS) and
          ends_with(runs[3], REMOVAL_SUCCESS),
          "the upgrade's runs: %r" % runs)
    check("QZ_DriverSetup: the older release's removal took this release out" in text,
          "EnsurePackageStaged did not say why set-up ran again:\n%s" % text[-3000:])

    code, text = installer.install(older)
    check(code == INSTALL_FAILED, "a downgrade was not refused: exit code %d" % code)
    # Windows shows the launch condition's message (checked in the tables); Wine only logs that
    # the condition failed.
    check(re.search(r"WIX_DOWNGRADE_DETECTED = \{", text) and
          re.search(r"Action ended [^\n]*: LaunchConditions\. Return value 0\.", text),
          "the downgrade was not refused by its launch condition:\n%s" % text[-2000:])
    check_installed(installer, bundle, version)
    check(len(runs_in(installer.log)) == 5, "the refused downgrade ran a program")
    check_uninstalled(installer, release_msi)


def failed_upgrade(installer, source, bundle, release_msi, version, install_check):
    """This release installed and staged, then a newer one whose staging fails: the upgrade
    fails (1603) before the installed release is touched, whose package stays in the driver
    store and whose entry stays in Add/Remove Programs."""
    broken = build_msi(source, unstageable_release(bundle, installer.work / "broken_bundle"),
                       "1.2.99", install_check, installer.work / msi_name("1.2.99"))
    installer.clean(release_msi, broken)
    code, text = installer.install(release_msi)
    check(code == 0, "installing %s failed (%d):\n%s" % (version, code, text[-2000:]))
    check_installed(installer, bundle, version)
    staged = installer.staged_bytes()
    entries = installer.entries()

    code, text = installer.install(broken)
    check(code == INSTALL_FAILED, "the broken upgrade did not fail: %d" % code)
    check("the driver store does not hold the package" in text,
          "the installer's log does not say why the upgrade failed:\n%s" % text[-2000:])
    check(installer.staged_bytes() == staged, "the failed upgrade changed the driver store")
    check(installer.entries() == entries, "the failed upgrade took the installed release's entry")
    check(kinds(runs_in(installer.log)[-1:]) == [SETUP_RUN] and
          ends_with(runs_in(installer.log)[-1], SUMMARY_FAILURE),
          "the failed upgrade's runs: %r" % runs_in(installer.log)[1:])
    # Wine's rollback deletes the files the failed release wrote over the installed ones, where
    # Windows puts the installed release's back; what that leaves is not checked here.


def actions_run_alone(installer, bundle, earlier):
    """Wine's rollback deletes the installed files before it comes to UndoDriverSetup, so the
    installed remover it should run is gone: each driver-store command of the package's rollback
    and commit actions runs here alone, as the package would run it, with this release and an
    earlier one staged."""
    this_inf = (Path(bundle) / PACKAGE_INF).read_bytes()
    earlier_inf = (Path(earlier) / PACKAGE_INF).read_bytes()

    def removed_by(argument, kind, left):
        check(installer.run_installed("QZ_DriverRemove.exe", argument) == 0,
              "QZ_DriverRemove.exe %s failed" % argument)
        check(installer.staged_bytes() == left, "QZ_DriverRemove.exe %s left %r" % (
            argument, installer.staged_bytes()))
        last = runs_in(installer.log)[-1]
        check(kinds([last]) == [kind] and ends_with(last, REMOVAL_SUCCESS),
              "QZ_DriverRemove.exe %s said %r" % (argument, last))

    removed_by("/this-release", ROLLED_BACK_RUN, [])
    # The earlier release first, under its own file name: Wine reports an oemN.inf's original
    # name as oemN.inf, so only a release staged under the package INF's name is this package
    # by name and Provider there; this release is one by its bytes.
    check(installer.prefix.run(earlier / "QZ_DriverSetup.exe", cwd=earlier) == 0,
          "the earlier release's set-up failed")
    check(installer.run_installed("QZ_DriverSetup.exe") == 0, "set-up failed")
    check(installer.staged_bytes() == sorted([this_inf, earlier_inf]),
          "this release and the earlier one are not both staged")
    removed_by("/this-release", ROLLED_BACK_RUN, [earlier_inf])
    check(installer.run_installed("QZ_DriverSetup.exe") == 0, "set-up failed")
    removed_by("/earlier-releases", EARLIER_RELEASES_RUN, [this_inf])
    check(installer.run_installed("QZ_DriverRemove.exe", "/all") == 87,
          "the remover took an argument it does not know")


def refused_installs(installer, source, bundle, release_msi, install_check):
    """Set-up without a log (exit 1), and set-up that leaves the store without this release
    (an earlier one staged): each fails the install (1603), which is rolled back: no programs,
    no entry, and the earlier release still staged."""
    installer.clean(release_msi)
    blocked = installer.log
    blocked.mkdir(parents=True)  # a folder where the log should be: set-up cannot log
    code, text = installer.install(release_msi)
    check(code in ACTION_FAILED, "set-up without a log did not fail the install: %d" % code)
    check(installer.entries() == {}, "a failed install left an entry")
    check(not (installer.folder / "QZ_DriverSetup.exe").exists(), "a failed install left files")
    installer.clean(release_msi)

    # An earlier release, staged as a zip install of it leaves it. It is not this release, so
    # it must not make the failure below pass, and the failure must leave it staged.
    earlier = earlier_release(bundle, installer.work / "earlier_zip")
    (earlier / "logs").mkdir(exist_ok=True)
    check(installer.prefix.run(earlier / "QZ_DriverSetup.exe", cwd=earlier) == 0 and
          ends_with(runs_in(earlier / "logs" / "QZ_Orvo_Driver_Log.txt")[-1], SUMMARY_SUCCESS),
          "the earlier release could not be staged")
    staged = installer.staged_bytes()
    check(staged == [(earlier / PACKAGE_INF).read_bytes()],
          "the earlier release is not in the driver store")

    msi = build_msi(source, unstageable_release(bundle, installer.work / "unstageable"), "1.2.0",
                    install_check, installer.work / "unstageable.msi")
    code, text = installer.install(msi)
    check(code == INSTALL_FAILED, "an install without the package staged did not fail: %d" % code)
    check("the driver store does not hold the package" in text,
          "the installer's log does not say why the install failed:\n%s" % text[-2000:])
    check(installer.entries() == {}, "the failed install left an entry")
    check(not (installer.folder / "QZ_DriverSetup.exe").exists(), "a failed install left files")
    check(ends_with(runs_in(installer.log)[-1], SUMMARY_FAILURE),
          "set-up's run did not fail: %r" % runs_in(installer.log)[-1])
    check(installer.staged_bytes() == staged, "the failed install changed the driver store")
    installer.clean(release_msi)
    return earlier


def install_over_its_own_staging(installer, bundle, release_msi, version):
    """This release staged from its zip, then installed from the package: the package finds it
    staged, so its rollback would leave it there."""
    zip_copy = Path(installer.work) / "own_zip"
    shutil.rmtree(zip_copy, ignore_errors=True)
    shutil.copytree(bundle, zip_copy)
    (zip_copy / "logs").mkdir(exist_ok=True)
    check(installer.prefix.run(zip_copy / "QZ_DriverSetup.exe", cwd=zip_copy) == 0,
          "the release's own set-up failed")
    code, text = installer.install(release_msi)
    check(code == 0, "install failed (%d):\n%s" % (code, text[-2000:]))
    check_installed(installer, bundle, version)
    check("QZ_DriverSetup: this release is staged already" in text and
          not re.search(r"Action start [^\n]*: UndoDriverSetup\.", text),
          "the install did not leave a staging it did not make out of its rollback:\n%s" %
          text[-3000:])
    check(ends_with(runs_in(installer.log)[-1], SUMMARY_SUCCESS),
          "set-up's run under the installer did not succeed")
