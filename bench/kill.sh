#!/usr/bin/env bash
# Kills cal2pst at random moments many times and checks every store left behind:
#   bench/kill.sh [KILLS] [FILES] [SEED]   (default 1,000 kills of a 5,000-file import)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh test
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_TESTS=OFF -DVARNEL_BENCH=ON >/dev/null
cmake --build build/bench --target cal2pst pstcheck | grep -E "error|warning" -A3 || true
/usr/bin/python3 tests/cli/kill_test.py "$PWD/build/bench/cli/cal2pst" "$PWD/build/bench/tools/pstcheck/pstcheck" \
  bench/make_calendars.py "${1:-1000}" "${2:-5000}" ${3:+"$3"}
