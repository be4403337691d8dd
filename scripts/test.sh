#!/usr/bin/env bash
# Installs what the tests need and runs every test: the C++ suite (GoogleTest through
# ctest) and the Python suite (pytest against the installed package).
#   scripts/test.sh          debug build of the C++ tests, then the Python tests
#   scripts/test.sh --asan   the C++ tests under AddressSanitizer + UBSan as well
set -euo pipefail
cd "$(dirname "$0")/.."

asan=0
[ "${1:-}" = "--asan" ] && asan=1

if [ ! -f /usr/include/gtest/gtest.h ] || ! command -v ninja >/dev/null; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq libgtest-dev ninja-build cmake >/dev/null
fi

python3 -m pip install -q --upgrade pip >/dev/null 2>&1 || true
python3 -m pip install -q ".[test]"

cmake --preset dev
cmake --build --preset dev
ctest --preset dev -j2

if [ "$asan" = 1 ]; then
  cmake --preset asan
  cmake --build --preset asan
  ctest --preset asan -j2
fi

python3 -m pytest -q tests/python
