#!/usr/bin/env bash
# The main job: builds the sample bundle with the release workflow, unpacks it into a throwaway
# 64-bit Windows 10 Wine prefix, runs the program from the unpacked folder, prints its log in
# UTF-8 and names the zip.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

echo "== Installing what is missing (Debian packages)"
./scripts/install-deps.sh >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }

echo "== Building the sample bundle: cmake --workflow --preset release"
if ! cmake --workflow --preset release >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log"
  exit 1
fi
grep -E "is (not )?signed" "$work/build.log" || true
bundle=$(ls build/release/QZ_DriverSetup-*.zip)

echo "== Making a throwaway 64-bit Wine prefix (Windows 10) and unpacking the bundle into it"
python3 - "$work" "$bundle" <<'PY'
import sys, zipfile
from pathlib import Path
sys.path.insert(0, "tests/e2e")
import wine_env
work, bundle = Path(sys.argv[1]), Path(sys.argv[2])
prefix = wine_env.Prefix(work / "prefix", "win64")
prefix.create()
prefix.set_version("win10")
target = prefix.path / "drive_c" / "QZ"
with zipfile.ZipFile(bundle) as archive:
    archive.extractall(target)
folder = target / bundle.stem
print("== Running C:\\QZ\\%s\\QZ_DriverSetup.exe" % bundle.stem)
print("exit code:", prefix.run(folder / "QZ_DriverSetup.exe", cwd=folder))
(work / "log_path").write_text(str(folder / "logs" / "QZ_Orvo_Driver_Log.txt"))
PY

echo "== logs/QZ_Orvo_Driver_Log.txt (GBK, shown as UTF-8)"
iconv -f GBK -t UTF-8 "$(cat "$work/log_path")" | tr -d '\r'
echo "== The bundle: $bundle"
