#!/usr/bin/env bash
# Builds the benchmark and prints the add-folder figures: bench/addfolder.sh [WORKDIR]
set -euo pipefail
cd "$(dirname "$0")/.."
work=${1:-$(mktemp -d)}
scripts/deps.sh build
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_TESTS=OFF -DVARNEL_BENCH=ON >/dev/null
cmake --build build/bench --target addfolder_bench | grep -E "error|warning" -A3 || true
if [[ ! -d "$work/tree" ]]; then
  echo "making a tree of 100,000 files in 10,000 folders in $work/tree" >&2
  python3 bench/make_tree.py "$work/tree" 100000 10000
fi
QT_QPA_PLATFORM=offscreen build/bench/bench/addfolder_bench "$work/tree"
