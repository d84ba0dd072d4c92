#!/usr/bin/env python3
"""Tests of the release a maker runs: cmake --workflow --preset release.

  release.py --source DIR --work DIR --version X.Y.Z [--wine-work DIR] [--folder DIR] CASE

Cases, in the order their fixtures chain them:
  workflow          the sample bundle from the source tree: its files, checksums, executable
  bundle_runs       the unpacked bundle runs under Wine (64-bit Windows 10) with a complete log
  reproducible      a second build in another folder gives the same executable and zip bytes
  signed_bundle     a signed build of that copy verifies, runs, and matches a signed build of the
                    source tree byte for byte; a wrong password stops the build
  broken_packages   a maker's package builds; a table of broken ones stops the build, no zip
  catalog_signers   SHA-1 and SHA-256 catalogs pass; the signer line warns of an untrusted root
  zip_normalised    the same files created in another order pack into the same zip
  msi_tables        the installer package beside the zip: its files, actions and properties
  msi_win10_64      under Wine's msiexec on 64-bit Windows 10: an older release, the upgrade to
                    this one, a refused downgrade, uninstall
  msi_win7_32       on 32-bit Windows 7: installs that must fail and roll back, install, an
                    uninstall that must fail, uninstall
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
import catalog  # noqa: E402
import installer  # noqa: E402
from checks import Failure, check  # noqa: E402
import pki  # noqa: E402
import wine_env  # noqa: E402
import windows_runner  # noqa: E402

DEBIAN_PYTHON = "/usr/bin/python3"
PER_RELEASE_FILES = ["xp/mdmcpq.inf", "xp/usbser.sys", "win7_32bit/mdmcpq.inf",
                     "win7_32bit/usbser.sys", "win7_64bit/32bits/mdmcpq.inf",
                     "win7_64bit/64bits/usbser.sys", "win8_64bit/mdmcpq.inf",
                     "win8_64bit/usbser.sys", "win10/mdmcpq.inf", "win10/usbser.sys"]
PROGRAMS = ["QZ_DriverSetup.exe", "QZ_DriverRemove.exe", "QZ_DeviceInstall64.exe"]
INSTALL_CHECK = "QZ_InstallCheck.dll"
DEPLOY_SCRIPTS = ["install.cmd", "uninstall.cmd", "detect.ps1"]
# The checks each program's file must pass, beyond the version and the signature.
PROGRAM_CHECKS = {"QZ_DeviceInstall64.exe": ["--x64", "--level", "asInvoker"]}


def clean_environment(**extra):
    """The build's environment without signing settings or a fixed epoch, plus `extra`."""
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("QZ_SIGN_") and k != "SOURCE_DATE_EPOCH"}
    env.update({k: str(v) for k, v in extra.items()})
    return env


def run(command, cwd, env, timeout=900):
    completed = subprocess.run(command, cwd=cwd, env=env, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, timeout=timeout)
    return completed.returncode, completed.stdout.decode("utf-8", "replace")


def commit_epoch(source):
    """The epoch the release takes when the environment gives none: the commit's time."""
    completed = subprocess.run(["git", "log", "-1", "--format=%ct"], cwd=source,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    text = completed.stdout.strip()
    return int(text) if completed.returncode == 0 and text.isdigit() else 315532800


def bundle_name(version, suffix="-sample"):
    return "QZ_DriverSetup-%s-win32%s" % (version, suffix)


def zips_in(folder):
    return sorted(p.name for p in Path(folder).glob("*.zip"))


def unpack(zip_path, into):
    shutil.rmtree(into, ignore_errors=True)
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(into)


def check_executable(exe, version, signed):
    for script, arguments in (("check_executable.py", ["--version", version,
                                                       "--signed" if signed else "--unsigned"] +
                               PROGRAM_CHECKS.get(Path(exe).name, [])),
                              ("check_xp_imports.py",
                               [str(HERE.parent / "windows" / "xp_import_allowlist.txt")])):
        code, output = run([DEBIAN_PYTHON, str(HERE.parent / "windows" / script), str(exe)] +
                           arguments, cwd=HERE, env=os.environ)
        check(code == 0, "%s on %s:\n%s" % (script, exe, output))


def expected_entries(top, package):
    names = {top + "/", top + "/README.txt", top + "/SHA256SUMS", top + "/logs/", top + "/Drivers/",
             top + "/deploy/"}
    names |= {top + "/deploy/" + script for script in DEPLOY_SCRIPTS}
    names |= {top + "/" + program for program in PROGRAMS}
    for path in Path(package).rglob("*"):
        relative = path.relative_to(package).as_posix()
        names.add("%s/Drivers/%s%s" % (top, relative, "/" if path.is_dir() else ""))
    return names


def check_helper_digest(folder):
    """The set-up program starts only the helper whose SHA-256 it carries: the shipped one."""
    digest = hashlib.sha256((folder / "QZ_DeviceInstall64.exe").read_bytes()).digest()
    check(digest in (folder / "QZ_DriverSetup.exe").read_bytes(),
          "QZ_DriverSetup.exe does not carry the digest of the QZ_DeviceInstall64.exe beside it")


def check_checksums(folder):
    """SHA256SUMS names every shipped file but itself, each with its hash."""
    lines = (folder / "SHA256SUMS").read_text().splitlines()
    listed = {}
    for line in lines:
        digest, name = line.split("  ", 1)
        listed[name] = digest
    shipped = sorted(p.relative_to(folder).as_posix() for p in folder.rglob("*")
                     if p.is_file() and p.name != "SHA256SUMS")
    check(sorted(listed) == shipped, "SHA256SUMS lists %r, shipped %r" % (sorted(listed), shipped))
    check(list(listed) == sorted(listed), "SHA256SUMS is not sorted")
    for name, digest in listed.items():
        check(hashlib.sha256((folder / name).read_bytes()).hexdigest() == digest,
              "SHA256SUMS is wrong for %s" % name)


def case_workflow(args):
    """The one command on the sample package: one zip with exactly what ships."""
    source = Path(args.source)
    build = source / "build" / "release"
    code, output = run(["cmake", "--workflow", "--preset", "release"], source, clean_environment())
    check(code == 0, "the release workflow failed:\n" + output[-3000:])
    for program in PROGRAMS:
        check(output.count(program + " is not signed") == 1,
              "the build does not say once that %s is unsigned" % program)
    top = bundle_name(args.version)
    check(zips_in(build) == [top + ".zip"], "zips made: %r" % zips_in(build))
    msis = sorted(p.relative_to(build).as_posix() for p in build.rglob("*.msi"))
    check(msis == [installer.msi_name(args.version)], "installer packages made: %r" % msis)
    check(output.count(installer.msi_name(args.version) + " is not signed") == 1,
          "the build does not say once that the installer package is unsigned")
    with zipfile.ZipFile(build / (top + ".zip")) as archive:
        infos = archive.infolist()
    names = {info.filename for info in infos}
    want = expected_entries(top, source / "sample" / "Drivers")
    check(names - {top + "/"} == want - {top + "/"},
          "zip entries differ: extra %r, missing %r" % (sorted(names - want), sorted(want - names)))
    epoch = time.gmtime(commit_epoch(source))
    stamp = epoch[:5] + (epoch.tm_sec - epoch.tm_sec % 2,)
    check(all(info.date_time == stamp for info in infos),
          "entry times are not the commit's: %r" % sorted({i.date_time for i in infos}))
    unpacked = Path(args.work) / "unpacked"
    unpack(build / (top + ".zip"), unpacked)
    folder = unpacked / top
    check(list((folder / "logs").iterdir()) == [], "logs is not empty")
    check_checksums(folder)
    check_helper_digest(folder)
    for relative in PER_RELEASE_FILES:
        if relative.endswith("usbser.sys"):
            check(b"placeholder" in (folder / "Drivers" / relative).read_bytes(),
                  "%s does not say it is a placeholder" % relative)
    readme = (folder / "README.txt").read_bytes()
    check(readme.startswith(b"\xef\xbb\xbf") and b"\r\n" in readme and b"\n\n" not in readme,
          "README.txt is not UTF-8 with a byte-order mark and CR LF line ends")
    check(args.version.encode() in readme, "README.txt does not name the version")
    detect = (folder / "deploy" / "detect.ps1").read_bytes()
    check(b"$releaseVersion = [Version]'1.2.0.0'" in detect and
          b"$packageProvider = 'QZ'" in detect and b"@QZ_" not in detect,
          "detect.ps1 does not carry the sample package's Provider and DriverVer")
    # Windows 7's PowerShell 2.0 has none of these; the DISM and CIM modules came with Windows 8.
    newer = [word for word in (b"Get-WindowsDriver", b"Get-CimInstance", b"Get-PnpDevice",
                               b"ConvertFrom-Json", b"::new(", b"[ordered]", b" -in ", b" -notin ",
                               b"using namespace", b"Import-Module")
             if word.lower() in detect.lower()]
    check(not newer, "detect.ps1 uses what PowerShell 2.0 lacks: %r" % newer)
    for script in DEPLOY_SCRIPTS:
        data = (folder / "deploy" / script).read_bytes()
        check(b"\r\n" in data and b"\n" not in data.replace(b"\r\n", b""),
              "deploy\\%s does not have CR LF line ends" % script)
    for program in PROGRAMS:
        check_executable(folder / program, args.version, signed=False)
    # Later cases rebuild the source tree's release: the installer tests take copies.
    kept = kept_release(args)
    shutil.rmtree(kept, ignore_errors=True)
    kept.mkdir(parents=True)
    for built in (build / installer.msi_name(args.version), build / "msi" / INSTALL_CHECK):
        shutil.copy2(built, kept / built.name)
    unpack(build / (top + ".zip"), kept / "unpacked")


def kept_release(args):
    return Path(args.work) / "release_msi"


def kept_bundle(args):
    """The zip's files, apart from the bundle the Wine runs write their logs into."""
    return kept_release(args) / "unpacked" / bundle_name(args.version)


def run_bundle_under_wine(args, folder):
    forwarded = windows_runner.forward_script(
        [__file__, "--source", args.source, "--work", args.work, "--version", args.version,
         "--wine-work", args.wine_work, "--folder", str(folder), "bundle_runs"])
    if forwarded is not None:
        check(forwarded == 0, "the bundle's run under Wine in the guest failed")
        return
    prefix = wine_env.Prefix(Path(args.wine_work) / "prefix64", "win64")
    prefix.set_version("win10")
    prefix.fresh_system()
    log = folder / "logs" / "QZ_Orvo_Driver_Log.txt"
    if log.exists():
        log.unlink()
    check(prefix.run(folder / "QZ_DriverSetup.exe", cwd=folder) == 0, "exit code is not 0")
    messages = [m for _, m in wine_env.log_records(log.read_bytes())]
    version_record = ("当前驱动版本：V%s \n" % args.version).encode("gbk")
    check(messages[1] == version_record, "the log's version record is %r, want %r" %
          (messages[1], version_record))
    want = wine_env.gbk(["INFO: Windows10 64Bits System \n", "SUCC: mdmcpq.inf文件不存在，自动复制\n",
                         "SUCC: usbser.sys文件不存在，自动复制\n", "..........\n",
                         "INFO: 安装 QZ_UsbToUartDriver 驱动 \n", "SUCC: 正在调用驱动预安装函数…… \n",
                         "SUCC: 驱动预安装函数运行成功。\n",
                         "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n", "INFO: 关闭日志\n", "\n"])
    check(messages[3:] == want, "the bundle's run logged %r" % messages)
    check((prefix.syswow64_drivers() / "usbser.sys").read_bytes() ==
          (folder / "Drivers" / "win10" / "usbser.sys").read_bytes(),
          "usbser.sys did not come from the bundle")
    check_deploy_scripts(prefix, folder, log)


def check_deploy_scripts(prefix, folder, log):
    """deploy/install.cmd and deploy/uninstall.cmd run the programs from a local bundle and pass
    their exit codes on: each run is appended to the log, whole."""
    def script(name):
        return prefix.run_with_arguments("cmd", ["/c", wine_env.windows_path(folder / "deploy" /
                                                                          name)], cwd=folder)

    closing = wine_env.gbk(["INFO: 关闭日志\n", "\n"])
    for name, record in (("install.cmd", "SUCC: QZ_UsbToUartDriver 驱动预安装完成！\n"),
                         ("uninstall.cmd", "SUCC: QZ_UsbToUartDriver 驱动卸载完成！\n")):
        before = len(wine_env.log_records(log.read_bytes()))
        check(script(name) == 0, "%s did not pass on exit code 0" % name)
        messages = [m for _, m in wine_env.log_records(log.read_bytes())]
        check(len(messages) > before and messages[-3:] == wine_env.gbk([record]) + closing,
              "%s: the run it started logged %r" % (name, messages[before:]))
    (folder / "logs").rename(folder / "logs.kept")
    try:
        check(script("install.cmd") == 1, "install.cmd did not pass on exit code 1")
    finally:
        (folder / "logs.kept").rename(folder / "logs")


def case_bundle_runs(args):
    run_bundle_under_wine(args, Path(args.folder) if args.folder else
                          Path(args.work) / "unpacked" / bundle_name(args.version))


def copy_sources(source, target):
    """The working tree's files (tracked, and new ones not ignored), without build output."""
    shutil.rmtree(target, ignore_errors=True)
    listed = subprocess.run(["git", "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
                            cwd=source, stdout=subprocess.PIPE, check=True).stdout
    for name in filter(None, listed.decode("utf-8").split("\0")):
        origin = Path(source) / name
        if origin.is_file():
            (target / name).parent.mkdir(parents=True, exist_ok=True)
            shutil.copy2(origin, target / name)


def copy_tree(args):
    return Path(args.work) / "copy" / "another" / "folder" / "src"


def case_reproducible(args):
    source = Path(args.source)
    copy = copy_tree(args)
    copy_sources(source, copy)
    code, output = run(["cmake", "--workflow", "--preset", "release"], copy,
                       clean_environment(SOURCE_DATE_EPOCH=commit_epoch(source)))
    check(code == 0, "the release workflow failed in the copy:\n" + output[-3000:])
    name = bundle_name(args.version) + ".zip"
    first, second = source / "build" / "release", copy / "build" / "release"
    for relative in ("bundle/QZ_DriverSetup.exe", name, installer.msi_name(args.version)):
        check((first / relative).read_bytes() == (second / relative).read_bytes(),
              "%s differs between %s and %s" % (relative, first, second))


def case_signed_bundle(args):
    copy = copy_tree(args)
    build = copy / "build" / "release"
    authority = pki.Authority(Path(args.work) / "signing", "QZ Release Test")
    password = "correct horse %d" % os.getpid()
    bundle, password_file = authority.pkcs12(password)
    signing = clean_environment(QZ_SIGN_PKCS12=bundle, QZ_SIGN_PASSWORD_FILE=password_file,
                                SOURCE_DATE_EPOCH=commit_epoch(args.source))
    code, output = run(["cmake", "--workflow", "--preset", "release"], copy, signing)
    check(code == 0, "the signed release failed:\n" + output[-3000:])
    check("is not signed" not in output and password not in output,
          "the build output is wrong:\n" + output[-3000:])
    # The same commit signed with the same certificate in another folder: the same bytes.
    source_build = Path(args.source) / "build" / "release"
    code, output = run(["cmake", "--workflow", "--preset", "release"], args.source, signing)
    check(code == 0, "the signed release of the source tree failed:\n" + output[-3000:])
    for relative in (["bundle/" + program for program in PROGRAMS] +
                     [bundle_name(args.version) + ".zip", installer.msi_name(args.version)]):
        check((source_build / relative).read_bytes() == (build / relative).read_bytes(),
              "signed %s differs between two folders" % relative)
    code, output = run(["cmake", "--workflow", "--preset", "release"], args.source,
                       clean_environment())
    check(code == 0, "the unsigned release of the source tree failed:\n" + output[-3000:])
    name = bundle_name(args.version)
    unpacked = Path(args.work) / "signed_unpacked"
    unpack(build / (name + ".zip"), unpacked)
    folder = unpacked / name
    for program in PROGRAMS:
        exe = folder / program
        code, output = run(["osslsigncode", "verify", "-CAfile", str(authority.ca_pem), "-in",
                            str(exe)], copy, os.environ, timeout=120)
        check(code == 0, "osslsigncode verify of %s failed:\n%s" % (program, output))
        check_executable(exe, args.version, signed=True)
    for signed in (build / installer.msi_name(args.version), build / "msi" / INSTALL_CHECK):
        code, output = run(["osslsigncode", "verify", "-CAfile", str(authority.ca_pem), "-in",
                            str(signed)], copy, os.environ, timeout=120)
        check(code == 0 and "Signature verification: ok" in output,
              "osslsigncode verify of %s failed:\n%s" % (signed.name, output))
    check_checksums(folder)
    check_helper_digest(folder)
    run_bundle_under_wine(args, folder)
    for stored in build.rglob("*"):
        if stored.is_file() and stored.stat().st_size < 64 << 20:
            check(password.encode() not in stored.read_bytes(), "the password is in %s" % stored)

    wrong = Path(args.work) / "signing" / "wrong_password.txt"
    wrong.write_text("not the password\n")
    # The helper is signed first: the set-up program is built with the signed helper's digest.
    for env, reason in ((dict(signing, QZ_SIGN_PASSWORD_FILE=str(wrong)),
                         "signing QZ_DeviceInstall64.exe failed"),
                        (dict(signing, QZ_SIGN_PKCS12=str(wrong) + ".absent"),
                         "cannot read the PKCS #12 file")):
        code, output = run(["cmake", "--build", "--preset", "release"], copy, env)
        check(code != 0, "the build went on with %s" % reason)
        check(reason in output, "the build does not say %r:\n%s" % (reason, output[-2000:]))
        check("not the password" not in output, "the build printed the password")
        check(zips_in(build) == [], "a bundle is left after a failed signature: %r" % zips_in(build))


def tiny_drivers(work):
    """Kernel-mode images (native subsystem) for i386 and x64, and a user-mode (console) i386
    image that is no driver, made with the cross compilers."""
    folder = Path(work) / "drivers"
    folder.mkdir(parents=True, exist_ok=True)
    source = folder / "driver.c"
    source.write_text("int DriverEntry(void* object, void* path) "
                      "{ (void)object; (void)path; return 0; }\n")
    images = {}
    for name, compiler, entry, subsystem in (
            ("i386", "i686-w64-mingw32-gcc", "_DriverEntry", "native"),
            ("x64", "x86_64-w64-mingw32-gcc", "DriverEntry", "native"),
            ("i386-user-mode", "i686-w64-mingw32-gcc", "_DriverEntry", "console")):
        image = folder / ("%s.sys" % name)
        subprocess.run([compiler, "-nostdlib", "-Wl,--subsystem," + subsystem, "-e", entry, "-o",
                        str(image), str(source)], check=True, timeout=120)
        images[name] = image.read_bytes()
    return images


DRIVER_MACHINE = {"xp": "i386", "win7_32bit": "i386", "win7_64bit/64bits": "x64",
                  "win8_64bit": "x64", "win10": "i386"}


def sign_catalog(drivers, authority, algorithm="sha256", inf_data=None):
    """qz_uart.cat beside the INF, signed. As real catalogs do, it lists the driver files too,
    ahead of the INF's bytes (or `inf_data`)."""
    data = inf_data if inf_data is not None else (drivers / "QZ_UsbToUartDriver.inf").read_bytes()
    members = [catalog.member_of((drivers / sub / "usbser.sys").read_bytes(), algorithm)
               for sub in ("win7_64bit/64bits", "win10")]
    members.append(catalog.member_of(data, algorithm))
    unsigned = drivers.parent / "unsigned.cat"
    unsigned.write_bytes(catalog.unsigned_catalog(members=members))
    (drivers / "qz_uart.cat").unlink(missing_ok=True)
    authority.sign(unsigned, drivers / "qz_uart.cat")
    unsigned.unlink()


def maker_package(source, folder, images, authority, algorithm="sha256"):
    """A package as a maker ships it: real driver images, and the INF covered by a signed
    catalog that its [Version] names."""
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(source / "sample" / "Drivers", folder / "Drivers")
    drivers = folder / "Drivers"
    for sub, machine in DRIVER_MACHINE.items():
        (drivers / sub / "usbser.sys").write_bytes(images[machine])
    inf = drivers / "QZ_UsbToUartDriver.inf"
    inf.write_bytes(inf.read_bytes().replace(b"DriverVer=", b"CatalogFile=qz_uart.cat\r\nDriverVer=", 1))
    sign_catalog(drivers, authority, algorithm)
    return drivers


def break_package(drivers, how, authority, images):
    inf = drivers / "QZ_UsbToUartDriver.inf"
    if how == "missing":
        (drivers / "win10" / "usbser.sys").unlink()
    elif how == "empty":
        (drivers / "xp" / "mdmcpq.inf").write_bytes(b"")
    elif how == "no_inf":
        inf.unlink()
    elif how == "no_catalog":
        (drivers / "qz_uart.cat").unlink()
    elif how == "empty_catalog":
        (drivers / "qz_uart.cat").write_bytes(b"")
    elif how == "text_driver":
        (drivers / "win10" / "usbser.sys").write_bytes(b"QZ placeholder, not a driver\r\n")
    elif how == "user_mode_driver":
        (drivers / "win7_32bit" / "usbser.sys").write_bytes(images["i386-user-mode"])
    elif how == "x64_driver_in_xp":
        (drivers / "xp" / "usbser.sys").write_bytes((drivers / "win8_64bit" / "usbser.sys").read_bytes())
    elif how == "utf8_mdmcpq_without_version":
        (drivers / "win8_64bit" / "mdmcpq.inf").write_bytes(
            b"\xef\xbb\xbf[FakeModemCopyFileSection]\r\nusbser.sys,,,0x20\r\n")
    elif how == "catalog_of_another_file":
        sign_catalog(drivers, authority, inf_data=b"another package's INF\r\n")
    elif how == "inf_changed_after_signing":
        inf.write_bytes(inf.read_bytes().replace(b"1.2.0.0", b"1.2.0.1"))
    elif how == "provider_with_a_tab":
        # Signed as it is: the Provider alone is what is wrong.
        inf.write_bytes(re.sub(rb'(?m)^QZ\s*=\s*"QZ"', b'QZ="QZ\tLtd"', inf.read_bytes()))
        sign_catalog(drivers, authority)
    elif how == "no_catalog_named":
        inf.write_bytes(inf.read_bytes().replace(b"CatalogFile=qz_uart.cat\r\n", b""))
        (drivers / "qz_uart.cat").unlink()
    elif how == "catalog_not_signed":
        (drivers / "qz_uart.cat").write_bytes(catalog.unsigned_catalog(
            members=[catalog.member_of(inf.read_bytes())]))
    else:
        raise ValueError(how)


NOT_COVERED = "QZ_UsbToUartDriver.inf is not covered by qz_uart.cat (was it changed after signing?)"


def check_package(drivers, env=None, sample=False):
    return run([DEBIAN_PYTHON, str(Path(__file__).resolve().parents[2] / "cmake" /
                                   "check_driver_package.py"), str(drivers)] +
               (["--sample"] if sample else []), HERE, env or clean_environment(), timeout=300)


def build_and_pack(source, build, drivers):
    """Configure, build and pack the release of `drivers` in `build`; each step's output."""
    outputs = []
    for step in (["cmake", "--preset", "release", "-B", str(build),
                  "-DQZ_DRIVER_PACKAGE_DIR=%s" % drivers],
                 ["cmake", "--build", str(build)], ["cpack", "-G", "ZIP"]):
        code, output = run(step, build if step[0] == "cpack" else source,
                           clean_environment(TZ="UTC"))
        check(code == 0, "%s failed:\n%s" % (" ".join(step), output[-2000:]))
        outputs.append(output)
    return outputs


def case_broken_packages(args):
    """A maker's good package builds and packs, saying who signed its catalog; each broken one
    stops the configure that follows, naming the file, and leaves no zip behind, not even an
    earlier one."""
    source = Path(args.source)
    work = Path(args.work) / "broken"
    images = tiny_drivers(work)
    authority = pki.Authority(work / "pki", "QZ Package Test")
    good = maker_package(source, work / "good", images, authority)
    build = work / "build"
    shutil.rmtree(build, ignore_errors=True)
    bundle = bundle_name(args.version, suffix="") + ".zip"
    outputs = build_and_pack(source, build, good)
    check(zips_in(build) == [bundle], "zips made: %r" % zips_in(build))
    check(re.search(r"warning: driver package [^\n]*: qz_uart\.cat is signed by [^\n]*"
                    r"QZ Package Test Publisher[^\n]*"
                    r"does not chain to a root", outputs[0]) is not None,
          "configure does not warn of the test signer:\n" + outputs[0][-2000:])
    check("the sample package" not in outputs[0], "a maker's package is called the sample")

    table = [("missing", "win10/usbser.sys is missing"), ("empty", "xp/mdmcpq.inf is empty"),
             ("no_inf", "QZ_UsbToUartDriver.inf is missing"),
             ("no_catalog", "qz_uart.cat is missing"), ("empty_catalog", "qz_uart.cat is empty"),
             ("text_driver", "win10/usbser.sys is not a PE image"),
             ("user_mode_driver", "win7_32bit/usbser.sys is not a kernel-mode driver"),
             ("x64_driver_in_xp", "xp/usbser.sys is a driver for x64"),
             ("utf8_mdmcpq_without_version", "win8_64bit/mdmcpq.inf is neither"),
             ("catalog_of_another_file", NOT_COVERED),
             ("inf_changed_after_signing", NOT_COVERED),
             ("provider_with_a_tab", "QZ_UsbToUartDriver.inf's [Version] Provider 'QZ\\tLtd' "
                                     "holds U+0009")]
    for how, named in table:
        drivers = work / how / "Drivers"
        shutil.rmtree(drivers.parent, ignore_errors=True)
        shutil.copytree(good, drivers)
        break_package(drivers, how, authority, images)
        # An earlier build's zip must not outlive a release that failed.
        (build / bundle).write_bytes(b"an earlier bundle")
        code, output = run(["cmake", "--preset", "release", "-B", str(build),
                            "-DQZ_DRIVER_PACKAGE_DIR=%s" % drivers], source, clean_environment())
        check(code != 0, "%s: the release went on" % how)
        check(re.search(r"(?m)^error: driver package [^\n]*: " + re.escape(named), output),
              "%s: no error line says %r:\n%s" % (how, named, output[-2000:]))
        check(zips_in(build) == [], "%s: a zip is left: %r" % (how, zips_in(build)))

    # Every per-release file is looked for.
    for relative in PER_RELEASE_FILES:
        drivers = work / "each" / "Drivers"
        shutil.rmtree(drivers.parent, ignore_errors=True)
        shutil.copytree(good, drivers)
        (drivers / relative).unlink()
        code, output = check_package(drivers)
        check(code != 0 and "%s is missing" % relative in output,
              "without %s the check says:\n%s" % (relative, output))

    # The catalog gone between two builds of the good package: the build stops, no zip is left.
    build_and_pack(source, build, good)
    (good / "qz_uart.cat").unlink()
    code, output = run(["cmake", "--build", str(build)], source, clean_environment())
    check(code != 0 and "qz_uart.cat is missing" in output,
          "the build went on without the catalog:\n" + output[-2000:])
    check(zips_in(build) == [], "the earlier bundle is still there: %r" % zips_in(build))


def case_catalog_signers(args):
    """SHA-1 and SHA-256 catalogs both pass; the signer line warns only when the signer does not
    chain to a trusted root (here: the throwaway CA, trusted or not through QZ_CATALOG_CA_FILE)."""
    source = Path(args.source)
    work = Path(args.work) / "signers"
    images = tiny_drivers(work)
    authority = pki.Authority(work / "pki", "QZ Signer Test")
    for algorithm in ("sha1", "sha256"):
        drivers = maker_package(source, work / algorithm, images, authority, algorithm)
        code, output = check_package(drivers)
        check(code == 0, "%s catalog refused:\n%s" % (algorithm, output))
        check(re.search(r"warning: driver package [^\n]*: qz_uart\.cat is signed by [^\n]*"
                        r"QZ Signer Test Publisher",
                        output) is not None,
              "%s: no warning for an untrusted signer:\n%s" % (algorithm, output))
        code, output = check_package(drivers, clean_environment(
            QZ_CATALOG_CA_FILE=authority.ca_pem))
        check(code == 0 and "warning" not in output and "which chains to a root" in output,
              "%s: a trusted signer is not said to chain:\n%s" % (algorithm, output))
        check("win10/usbser.sys is a kernel-mode driver for i386" in output and
              "win8_64bit/usbser.sys is a kernel-mode driver for x64" in output,
              "the check does not say which drivers it found:\n%s" % output)
    # Windows prompts for or refuses these on some machines; a maker may still ship them to a lab.
    unsigned = "Windows Vista and later (64-bit) will refuse or prompt for an unsigned package"
    for how, said in (("no_catalog_named", "QZ_UsbToUartDriver.inf names no catalog"),
                      ("catalog_not_signed", "qz_uart.cat is not signed")):
        drivers = work / how / "Drivers"
        shutil.rmtree(drivers.parent, ignore_errors=True)
        shutil.copytree(work / "sha256" / "Drivers", drivers)
        break_package(drivers, how, authority, images)
        code, output = check_package(drivers)
        check(code == 0 and re.search(r"(?m)^warning: driver package [^\n]*: %s[^\n]*%s" %
                                      (re.escape(said), re.escape(unsigned)), output),
              "%s: no warning, or the release stopped:\n%s" % (how, output))
    code, output = check_package(source / "sample" / "Drivers", sample=True)
    check(code == 0 and "the sample package" in output, "the sample:\n%s" % output)
    code, output = check_package(source / "sample" / "Drivers")
    check(code != 0 and "xp/usbser.sys is not a PE image" in output,
          "the sample's placeholders pass as drivers:\n%s" % output)


def case_zip_normalised(args):
    """The same files, created in another order with other permissions, pack into one zip."""
    work = Path(args.work) / "normalise"
    shutil.rmtree(work, ignore_errors=True)
    files = {"b/README.txt": b"read me\r\n", "a/Drivers/win10/usbser.sys": b"driver",
             "a/Drivers/QZ_UsbToUartDriver.inf": b"[Version]\r\n", "b/logs/.keep": b""}
    zips = []
    for tree, order, mode in (("one", sorted(files), 0o644), ("two", sorted(files, reverse=True),
                                                                0o664)):
        root = work / tree / "QZ"
        for name in order:
            path = root / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(files[name])
            path.chmod(mode)
            time.sleep(0.01)
        packed = work / (tree + ".zip")
        subprocess.run(["cmake", "-E", "tar", "cf", str(packed), "--format=zip", "QZ"],
                       cwd=root.parent, check=True, timeout=120)
        zips.append(packed)
    check(zips[0].read_bytes() != zips[1].read_bytes(), "the two zips are already the same")
    for packed in zips:
        code, output = run(["cmake", "-DCPACK_PACKAGE_FILES=%s" % packed, "-P",
                            str(Path(args.source) / "cmake" / "normalize_zip.cmake")], work,
                           clean_environment(SOURCE_DATE_EPOCH=commit_epoch(args.source)))
        check(code == 0, "normalising failed:\n" + output)
    check(zips[0].read_bytes() == zips[1].read_bytes(), "the normalised zips differ")


def case_msi_tables(args):
    installer.check_tables(kept_release(args) / installer.msi_name(args.version),
                           kept_bundle(args), args.version, commit_epoch(args.source))
    installer.check_publishers(args.source, kept_bundle(args), kept_release(args) / INSTALL_CHECK,
                               args.work)


def msi_installer(args, name, arch, version):
    prefix = wine_env.Prefix(Path(args.wine_work) / name, arch)
    prefix.set_version(version)
    return installer.Installer(prefix, Path(args.work) / ("msi_" + version + "_" + arch))


def case_msi_win10_64(args):
    kept = kept_release(args)
    installer.upgrade_and_remove(msi_installer(args, "prefix64", "win64", "win10"), args.source,
                                 kept_bundle(args), kept / installer.msi_name(args.version), args.version,
                                 kept / INSTALL_CHECK)


def case_msi_win7_32(args):
    kept = kept_release(args)
    bundle = kept_bundle(args)
    msi = kept / installer.msi_name(args.version)
    place = msi_installer(args, "prefix32", "win32", "win7")
    earlier = installer.refused_installs(place, args.source, bundle, msi, kept / INSTALL_CHECK)
    installer.install_over_its_own_staging(place, bundle, msi, args.version)
    installer.actions_run_alone(place, bundle, earlier)
    installer.refused_uninstall(place, msi)
    installer.check_uninstalled(place, msi)


def windows_in_locale(locales, name):
    """The environment under which Wine is a Windows of the Unix locale `name` ("zh_CN": ANSI
    code page 936), compiled into the folder `locales`."""
    if not (locales / (name + ".UTF-8")).is_dir():
        locales.mkdir(parents=True, exist_ok=True)
        subprocess.run(["localedef", "-i", name, "-f", "UTF-8", str(locales / (name + ".UTF-8"))],
                       stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    check((locales / (name + ".UTF-8")).is_dir(), "localedef made no %s.UTF-8 locale (Debian's "
          "locales package)" % name)
    return {"LOCPATH": str(locales), "LANG": name + ".UTF-8", "LC_ALL": name + ".UTF-8"}


def in_fresh_prefix(args, name, work, run, locale=None):
    """`run(installer)` in a 64-bit Windows 10 prefix of its own, removed afterwards."""
    prefix = wine_env.Prefix(Path(args.wine_work) / name, "win64")
    if locale:
        # Before its first program: every process of the prefix, its services too, has it.
        prefix.env.update(windows_in_locale(windows_runner.guest_local(
            Path(args.wine_work) / "locale"), locale))
    prefix.create()
    try:
        prefix.set_version("win10")
        run(installer.Installer(prefix, Path(args.work) / work))
    finally:
        prefix.kill()
        shutil.rmtree(prefix.path, ignore_errors=True)


def case_msi_failed_upgrade_win10_64(args):
    kept = kept_release(args)
    in_fresh_prefix(args, "prefix64_failed_upgrade", "msi_failed_upgrade", lambda place: (
        installer.failed_upgrade(place, args.source, kept_bundle(args),
                                 kept / installer.msi_name(args.version), args.version,
                                 kept / INSTALL_CHECK)))


def case_msi_chinese_win10_64(args):
    in_fresh_prefix(args, "prefix64_zh_CN", "msi_chinese", lambda place: installer.publisher_shown(
        place, args.source, kept_bundle(args), kept_release(args) / INSTALL_CHECK,
        installer.CHINESE_PROVIDER, "gbk", 936), locale="zh_CN")


def case_msi_korean_win10_64(args):
    in_fresh_prefix(args, "prefix64_ko_KR", "msi_korean", lambda place: installer.publisher_shown(
        place, args.source, kept_bundle(args), kept_release(args) / INSTALL_CHECK,
        installer.KOREAN_PROVIDER, "utf-16", 949), locale="ko_KR")


WINE_CASES = {"msi_win10_64", "msi_win7_32", "msi_failed_upgrade_win10_64", "msi_chinese_win10_64",
              "msi_korean_win10_64"}
CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--wine-work")
    parser.add_argument("--folder", help="bundle_runs: the unpacked bundle to run")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    if args.case in WINE_CASES:
        # Where Windows programs run in a guest, these cases run there whole: they look into
        # the prefixes, which live on the guest's disk.
        forwarded = windows_runner.forward_script(sys.argv)
        if forwarded is not None:
            return forwarded
    Path(args.work).mkdir(parents=True, exist_ok=True)
    try:
        CASES[args.case](args)
    except Failure as failure:
        print("FAIL %s: %s" % (args.case, failure))
        return 1
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
