#!/usr/bin/env bash
# Installs every Debian package the builds, tests and benchmarks need. Safe to run again.
set -euo pipefail

packages=(
  cmake make g++ googletest libgtest-dev libbenchmark-dev
  libspdlog-dev libfmt-dev
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  clang libclang-rt-14-dev
  wine wine64 wine32:i386
  python3 python3-pefile python3-asn1crypto openssl osslsigncode strip-nondeterminism
  wixl msitools locales file
  qemu-system-x86 mmdebstrap e2fsprogs uidmap ca-certificates
  clang-format
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
