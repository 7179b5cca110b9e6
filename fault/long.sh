#!/usr/bin/env bash
# The fault tests at full size: many more power cuts over a longer import, and the hostile
# calendar files at their large sizes (100 MB files and lines, a million properties). Takes a
# few minutes; not part of CI.
#
#   fault/long.sh [BUILD]   (BUILD: a configured build folder with the tests, default build/dev)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/dev}
nice -n 10 cmake --build "$build" -j1 --target tst_powerloss tst_diskfull tst_hostile

echo "== power cuts: 200 appointments, 5000 cuts of each kind =="
VARNEL_POWERCUT_EVENTS=200 VARNEL_POWERCUT_CUTS=5000 VARNEL_POWERCUT_SEED=${VARNEL_POWERCUT_SEED:-$RANDOM} \
  TZ=Europe/Berlin "$build/tests/fault/tst_powerloss"

echo "== write failures =="
TZ=Europe/Berlin "$build/tests/fault/tst_diskfull"

echo "== hostile calendar files at ten times the test-suite size =="
VARNEL_HOSTILE_SCALE=10 TZ=Europe/Berlin "$build/tests/fault/tst_hostile"
