#!/usr/bin/env bash
# Sets up, builds and starts the importer's window.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_TESTS=OFF >/dev/null
cmake --build build/release

program=build/release/app/varnel-importer
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo
  echo "The importer is built ($program), but this machine has no display to show its window on."
  echo "Run this command again from a desktop session, or show the window on a virtual display:"
  echo "  xvfb-run $program"
  exit 0
fi
exec "$program"
