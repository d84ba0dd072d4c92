#!/usr/bin/env bash
# The main job: builds QZ_DriverSetup.exe and runs it once under a throwaway 64-bit Wine
# prefix (Windows 10) from a sample program folder, then prints the log in UTF-8.
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh >/dev/null
cmake --preset windows-x86 >/dev/null
cmake --build --preset windows-x86 -j "$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT

python3 - "$work" build/windows-x86/QZ_DriverSetup.exe <<'PY'
import shutil, sys
from pathlib import Path
sys.path.insert(0, "tests/e2e")
import wine_env
work, exe = Path(sys.argv[1]), sys.argv[2]
prefix = wine_env.Prefix(work / "prefix", "win64")
prefix.create()
prefix.set_version("win10")
folder = wine_env.layout_program_folder(work / "QZ")
shutil.copy(exe, folder / "QZ_DriverSetup.exe")
print("program folder:", folder)
code = prefix.run(folder / "QZ_DriverSetup.exe")
print("exit code:", code)
PY

echo "---- logs/QZ_Orvo_Driver_Log.txt (GBK, shown as UTF-8) ----"
iconv -f GBK -t UTF-8 "$work/QZ/logs/QZ_Orvo_Driver_Log.txt" | tr -d '\r'
