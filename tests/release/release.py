#!/usr/bin/env python3
"""Tests of the release a maker runs: cmake --workflow --preset release.

  release.py --source DIR --work DIR --version X.Y.Z [--wine-work DIR] CASE

Cases, in the order their fixtures chain them:
  workflow          the sample bundle from the source tree: its files, checksums, executable
  bundle_runs       the unpacked bundle runs under Wine (64-bit Windows 10) with a complete log
  reproducible      a second build in another folder gives the same executable and zip bytes
  signed_bundle     a signed build of that copy verifies, runs; a wrong password stops the build
  broken_packages   a table of incomplete driver packages stops the build, no zip made
"""

import argparse
import hashlib
import os
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
import pki  # noqa: E402
import wine_env  # noqa: E402

DEBIAN_PYTHON = "/usr/bin/python3"
PER_RELEASE_FILES = ["xp/mdmcpq.inf", "xp/usbser.sys", "win7_32bit/mdmcpq.inf",
                     "win7_32bit/usbser.sys", "win7_64bit/32bits/mdmcpq.inf",
                     "win7_64bit/64bits/usbser.sys", "win8_64bit/mdmcpq.inf",
                     "win8_64bit/usbser.sys", "win10/mdmcpq.inf", "win10/usbser.sys"]
PROGRAMS = ["QZ_DriverSetup.exe", "QZ_DriverRemove.exe", "QZ_DeviceInstall64.exe"]
# The checks each program's file must pass, beyond the version and the signature.
PROGRAM_CHECKS = {"QZ_DeviceInstall64.exe": ["--x64", "--level", "asInvoker"]}


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


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
    names = {top + "/", top + "/README.txt", top + "/SHA256SUMS", top + "/logs/", top + "/Drivers/"}
    names |= {top + "/" + program for program in PROGRAMS}
    for path in Path(package).rglob("*"):
        relative = path.relative_to(package).as_posix()
        names.add("%s/Drivers/%s%s" % (top, relative, "/" if path.is_dir() else ""))
    return names


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
    for relative in PER_RELEASE_FILES:
        if relative.endswith("usbser.sys"):
            check(b"placeholder" in (folder / "Drivers" / relative).read_bytes(),
                  "%s does not say it is a placeholder" % relative)
    readme = (folder / "README.txt").read_bytes()
    check(readme.startswith(b"\xef\xbb\xbf") and b"\r\n" in readme and b"\n\n" not in readme,
          "README.txt is not UTF-8 with a byte-order mark and CR LF line ends")
    check(args.version.encode() in readme, "README.txt does not name the version")
    for program in PROGRAMS:
        check_executable(folder / program, args.version, signed=False)


def run_bundle_under_wine(args, folder):
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


def case_bundle_runs(args):
    run_bundle_under_wine(args, Path(args.work) / "unpacked" / bundle_name(args.version))


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
    for relative in ("bundle/QZ_DriverSetup.exe", name):
        check((first / relative).read_bytes() == (second / relative).read_bytes(),
              "%s differs between %s and %s" % (relative, first, second))


def case_signed_bundle(args):
    copy = copy_tree(args)
    build = copy / "build" / "release"
    authority = pki.Authority(Path(args.work) / "signing", "QZ Release Test")
    password = "correct horse %d" % os.getpid()
    bundle, password_file = authority.pkcs12(password)
    signing = clean_environment(QZ_SIGN_PKCS12=bundle, QZ_SIGN_PASSWORD_FILE=password_file)
    code, output = run(["cmake", "--workflow", "--preset", "release"], copy, signing)
    check(code == 0, "the signed release failed:\n" + output[-3000:])
    check("is not signed" not in output and password not in output, "the build output is wrong")
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
    check_checksums(folder)
    run_bundle_under_wine(args, folder)
    for stored in build.rglob("*"):
        if stored.is_file() and stored.stat().st_size < 64 << 20:
            check(password.encode() not in stored.read_bytes(), "the password is in %s" % stored)

    wrong = Path(args.work) / "signing" / "wrong_password.txt"
    wrong.write_text("not the password\n")
    for env, reason in ((dict(signing, QZ_SIGN_PASSWORD_FILE=str(wrong)), "signing QZ_DriverSetup.exe failed"),
                        (dict(signing, QZ_SIGN_PKCS12=str(wrong) + ".absent"),
                         "cannot read the PKCS #12 file")):
        code, output = run(["cmake", "--build", "--preset", "release"], copy, env)
        check(code != 0, "the build went on with %s" % reason)
        check(reason in output, "the build does not say %r:\n%s" % (reason, output[-2000:]))
        check("not the password" not in output, "the build printed the password")
        check(zips_in(build) == [], "a bundle is left after a failed signature: %r" % zips_in(build))


def break_package(folder, how):
    drivers = folder / "Drivers"
    if how == "missing":
        (drivers / "win10" / "usbser.sys").unlink()
    elif how == "empty":
        (drivers / "xp" / "mdmcpq.inf").write_bytes(b"")
    elif how == "no_inf":
        (drivers / "QZ_UsbToUartDriver.inf").unlink()
    elif how == "no_catalog":
        inf = drivers / "QZ_UsbToUartDriver.inf"
        inf.write_bytes(inf.read_bytes().replace(
            b"DriverVer=", b"CatalogFile.NTamd64=%CatName%.cat\r\nDriverVer=", 1).replace(
            b"[Strings]\r\n", b"[Strings]\r\nCatName=\"qz_uart\"\r\n", 1))


def case_broken_packages(args):
    source = Path(args.source)
    table = [("missing", "win10/usbser.sys"), ("empty", "xp/mdmcpq.inf"),
             ("no_inf", "QZ_UsbToUartDriver.inf"), ("no_catalog", "qz_uart.cat")]
    for how, named in table:
        folder = Path(args.work) / "broken" / how
        shutil.rmtree(folder, ignore_errors=True)
        shutil.copytree(source / "sample" / "Drivers", folder / "Drivers")
        break_package(folder, how)
        code, output = run(["cmake", "--preset", "release", "-B", str(folder / "build"),
                            "-DQZ_DRIVER_PACKAGE_DIR=%s" % (folder / "Drivers")], source,
                           clean_environment())
        check(code != 0, "%s: the release went on" % how)
        check(named in output, "%s: the error does not name %s:\n%s" % (how, named, output[-2000:]))
        check(not list((folder / "build").rglob("*.zip")), "%s: a zip was made" % how)

    # A maker's package with its catalog, then the catalog gone before the next build.
    folder = Path(args.work) / "broken" / "catalog_removed"
    shutil.rmtree(folder, ignore_errors=True)
    shutil.copytree(source / "sample" / "Drivers", folder / "Drivers")
    break_package(folder, "no_catalog")
    (folder / "Drivers" / "QZ_UART.CAT").write_bytes(b"a catalog")  # any letter case will do
    build = folder / "build"
    steps = [["cmake", "--preset", "release", "-B", str(build),
              "-DQZ_DRIVER_PACKAGE_DIR=%s" % (folder / "Drivers")],
             ["cmake", "--build", str(build)], ["cpack", "-G", "ZIP"]]
    for step in steps:
        code, output = run(step, build if step[0] == "cpack" else source, clean_environment(TZ="UTC"))
        check(code == 0, "%s failed:\n%s" % (" ".join(step), output[-2000:]))
    bundle = bundle_name(args.version, suffix="") + ".zip"
    check(zips_in(build) == [bundle], "zips made: %r" % zips_in(build))
    with zipfile.ZipFile(build / bundle) as archive:
        check(bundle[:-4] + "/Drivers/QZ_UART.CAT" in archive.namelist(), "the catalog is not packed")
    (folder / "Drivers" / "QZ_UART.CAT").unlink()
    code, output = run(["cmake", "--build", str(build)], source, clean_environment())
    check(code != 0 and "qz_uart.cat" in output,
          "the build went on without the catalog:\n" + output[-2000:])
    check(zips_in(build) == [], "the earlier bundle is still there: %r" % zips_in(build))


CASES = {name[5:]: function for name, function in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--wine-work")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
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
