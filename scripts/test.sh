#!/usr/bin/env bash
# Sets up, builds and runs every test: once as shipped, then the Windows build's tests under wine
# (with cal2pst.exe end to end against this round's cal2pst), once under AddressSanitizer and
# UndefinedBehaviorSanitizer, then the fuzz targets for a short while. Stops at the first failing
# round.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh test

run_round() {
  local name=$1; shift
  local dir=build/test-$name
  echo "== $name build =="
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_WERROR=ON "$@" >/dev/null
  cmake --build "$dir"
  echo "== $name tests =="
  ctest --test-dir "$dir" --output-on-failure -j2
}

run_round plain
# The core without Qt, for Windows: cross-built with mingw-w64, tested under wine.
echo "== windows build and tests (wine) =="
scripts/windows.sh --test --linux-build build/test-plain
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_round sanitize -DVARNEL_SANITIZE=ON

echo "== fuzz targets: seeds, then 25 s each =="
fault/fuzz.sh --seconds 25 --build build/test-fuzz --jobs "$(nproc)" --fresh --seed 1
