#!/usr/bin/env python3
"""The main job's run: unpacks the bundle into a throwaway 64-bit Windows 10 prefix, runs
QZ_DriverSetup.exe from the unpacked folder and prints its log (GBK) as UTF-8.

  run_bundle.py BUNDLE_ZIP WORK_DIR
"""

import os
import shutil
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "e2e"))
import wine_env  # noqa: E402
import windows_runner  # noqa: E402


def main(bundle, work):
    forwarded = windows_runner.forward_script(sys.argv)
    if forwarded is not None:
        return forwarded
    prefix = wine_env.Prefix(work / "prefix", "win64")
    print("== Making a throwaway 64-bit Wine prefix (Windows 10) and unpacking the bundle into it",
          flush=True)
    prefix.create()
    try:
        prefix.set_version("win10")
        target = prefix.path / "drive_c" / "QZ"
        with zipfile.ZipFile(bundle) as archive:
            archive.extractall(target)
        folder = target / bundle.stem
        print("== Running C:\\QZ\\%s\\QZ_DriverSetup.exe" % bundle.stem)
        print("exit code:", prefix.run(folder / "QZ_DriverSetup.exe", cwd=folder))
        print("== logs/QZ_Orvo_Driver_Log.txt (GBK, shown as UTF-8)")
        log = folder / "logs" / "QZ_Orvo_Driver_Log.txt"
        text = log.read_bytes().decode("gbk", "replace") if log.exists() else "(no log)\n"
        sys.stdout.write(text.replace("\r", ""))
    finally:
        prefix.kill()
        if os.environ.get("QZ_KEEP_PREFIX") == "1":
            where = ("WINEPREFIX=%s (the bundle is in its drive_c/QZ)" % prefix.path
                     if not windows_runner.INSIDE else
                     "none: the prefix was on the guest's throwaway disk")
            print("== Kept the Wine prefix: %s" % where)
        else:
            shutil.rmtree(prefix.path, ignore_errors=True)
    return 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    sys.exit(main(Path(sys.argv[1]).resolve(), Path(sys.argv[2]).resolve()))
