#!/usr/bin/env bash
# Installs what is missing, builds each preset once and runs every test: the host logic under
# GoogleTest, a short fuzz session, then the real executable under Wine and the checks of the
# built file. The Windows runs go natively through Wine, or all through one full-system guest
# where this machine runs no 32-bit x86 code (QZ_WINE_GUEST=1 forces it).
set -euo pipefail
cd "$(dirname "$0")/.."

./scripts/install-deps.sh

cmake --preset host
cmake --build --preset host -j "$(nproc)"
ctest --preset host

# A short bounded fuzz session of the mdmcpq.inf patch (a longer one: cmake/fuzz.cmake).
cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"
ctest --preset fuzz

cmake --preset windows-x86
cmake --build --preset windows-x86 -j "$(nproc)"
python3 tests/e2e/windows_runner.py session -- ctest --preset windows-x86 -j 2
