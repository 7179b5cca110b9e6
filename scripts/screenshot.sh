#!/usr/bin/env bash
# Takes a picture of the importer's window on a virtual display: scripts/screenshot.sh OUT.png
# Needs xvfb, xauth and imagemagick, and a build made by scripts/run.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-docs/main-window.png}
program=${PROGRAM:-build/release/app/varnel-importer}

xvfb-run -a -s "-screen 0 800x600x24 -dpi 96" bash -c '
  "$1" & pid=$!
  sleep 2
  import -window "Varnel vCalendar/iCalendar Importer (.vcs/.ics)" "$2"
  kill $pid' _ "$program" "$out"
echo "wrote $out"
