#!/usr/bin/env bash
# The main job: builds the bundle with the release workflow (the sample package, or the maker's
# Drivers folder that build/release remembers), unpacks it into a throwaway 64-bit Windows 10
# Wine prefix, runs the program from the unpacked folder, prints its log in UTF-8 and names the
# zip and the installer package beside it. QZ_KEEP_PREFIX=1 keeps the Wine prefix (and says
# where it is) to look at afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

work=$(mktemp -d)
cleanup() {
  WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true
  if [ "${QZ_KEEP_PREFIX:-}" = 1 ] && [ -d "$work/prefix" ]; then
    echo "== Kept the Wine prefix: WINEPREFIX=$work/prefix (the bundle is in its drive_c/QZ)"
    find "$work" -mindepth 1 -maxdepth 1 ! -name prefix -exec rm -rf {} +
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

echo "== Installing what is missing (Debian packages)"
./scripts/install-deps.sh >"$work/install.log" 2>&1 || { cat "$work/install.log"; exit 1; }

package=$(sed -n 's/^QZ_DRIVER_PACKAGE_DIR:PATH=//p' build/release/CMakeCache.txt 2>/dev/null || true)
if [ -n "$package" ]; then
  echo "== Building the bundle of the maker's package $package (remembered in build/release;"
  echo "   cmake --preset release -DQZ_DRIVER_PACKAGE_DIR= goes back to the sample)"
else
  echo "== Building the bundle of the sample package (sample/Drivers)"
fi
echo "   cmake --workflow --preset release"
if ! cmake --workflow --preset release >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log"
  exit 1
fi
grep -E "is (not )?signed|driver package .*: " "$work/build.log" | sort -u || true
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
for package in build/release/QZ_DriverSetup-*.msi; do
  if [ -e "$package" ]; then echo "== The installer package for fleets: $package"; fi
done
