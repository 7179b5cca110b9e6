#!/usr/bin/env bash
# Builds and runs the calendar reading benchmark: bench/calendar.sh [FILES] [EVENTS]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh build
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_TESTS=OFF -DVARNEL_BENCH=ON >/dev/null
cmake --build build/bench --target calendar_bench | grep -E "error|warning" -A3 || true
TZ=Europe/Berlin build/bench/bench/calendar_bench "$@"
