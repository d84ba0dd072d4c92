#!/usr/bin/env bash
# The main job: builds the bundle with the release workflow (the sample package, or the maker's
# Drivers folder that build/release remembers), unpacks it into a throwaway 64-bit Windows 10
# Wine prefix, runs the program from the unpacked folder, prints its log in UTF-8 and names the
# zip and the installer package beside it. Windows programs run natively through Wine, or in the
# full-system guest where this machine runs no 32-bit x86 code (QZ_WINE_GUEST=1 forces it).
# QZ_KEEP_PREFIX=1 keeps the Wine prefix (and says where it is) to look at afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."

mkdir -p build
work=$(mktemp -d "$PWD/build/run.XXXXXX")
cleanup() {
  if [ "${QZ_KEEP_PREFIX:-}" = 1 ] && [ -d "$work/prefix" ]; then
    find "$work" -mindepth 1 -maxdepth 1 ! -name prefix -exec rm -rf {} +
  else
    rm -rf "$work"
  fi
}
trap cleanup EXIT

made() {
  local list=""
  for file in build/release/QZ_DriverSetup-*.zip build/release/QZ_DriverSetup-*.msi; do
    if [ -e "$file" ]; then list="$list${list:+ and }$file"; fi
  done
  echo "${list:-nothing}"
}

echo "== Installing what is missing (Debian packages)"
if ! ./scripts/install-deps.sh >"$work/install.log" 2>&1; then
  cp "$work/install.log" build/install-deps.log
  echo "   some packages could not be installed (build/install-deps.log); going on with what is here"
fi

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

if ! python3 tests/e2e/windows_runner.py way >"$work/way" 2>&1; then
  echo "$(grep '^error: ' "$work/way" || tail -n 1 "$work/way"); made all the same: $(made)"
  exit 1
fi
echo "== $(cat "$work/way")"
if ! python3 scripts/run_bundle.py "$bundle" "$work"; then
  echo "error: the run under Wine failed; made all the same: $(made)"
  exit 1
fi
echo "== The bundle: $bundle"
for package in build/release/QZ_DriverSetup-*.msi; do
  if [ -e "$package" ]; then echo "== The installer package for fleets: $package"; fi
done
