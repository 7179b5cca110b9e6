#!/usr/bin/env bash
# The import benchmark: bench/import.sh [SIZES...]  (default 1000 10000 100000)
# Generated workloads live in build/bench-work and are kept for the next run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_TESTS=OFF -DVARNEL_BENCH=ON >/dev/null
cmake --build build/bench --target cal2pst parse_only | grep -E "error|warning" -A3 || true
cc -O2 -shared -fPIC -o build/bench/slow_flush.so bench/slow_flush.c -ldl
TZ=Europe/Berlin python3 bench/import_bench.py build/bench build/bench-work "$@" --corpus ../shared/corpus \
  --slow-disk "$PWD/build/bench/slow_flush.so"
