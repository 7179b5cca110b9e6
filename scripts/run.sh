#!/usr/bin/env bash
# Sets up, builds and starts the importer's window. Without a display, imports the project's
# example calendars with the command-line companion instead and says where the new store is.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/deps.sh build
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_TESTS=OFF >/dev/null
cmake --build build/release

program=build/release/app/varnel-importer
if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
  echo
  echo "The importer is built ($program), but this machine has no display to show its window on."
  echo "Importing the example calendars (examples/) with the command-line companion instead:"
  mkdir -p build/examples
  build/release/cli/cal2pst -d build/examples examples
  echo
  echo "The new store is the file named on the \"store:\" line above; open it in Outlook, or read it"
  echo "with pffinfo or readpst. To see the window, run this command again from a desktop session,"
  echo "or on a virtual display: xvfb-run $program"
  exit 0
fi
exec "$program"
