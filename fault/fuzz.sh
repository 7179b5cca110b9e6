#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, ASan+UBSan) and runs each one: its seeds replayed once,
# then fuzzing for a while. Stops with an error at the first finding; the input that found it is
# left in BUILD/fuzz-artifacts/.
#
#   fault/fuzz.sh [--seconds N] [--build DIR] [--jobs N]
#     --seconds N   fuzzing time per target (default 3600, an hour; CI passes 25; 0 replays the seeds only)
#     --build DIR   build folder (default build/fuzz)
#     --jobs N      build jobs (default 1)
#     --fresh       start from the seeds alone, forgetting inputs earlier runs found
#     --seed N      libFuzzer's random seed (default: a new one each run); with a fixed seed a run
#                   tries the same inputs in the same order, as far as its time reaches
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=3600
build=build/fuzz
jobs=1
fresh=0
seed=0
while [[ $# -gt 0 ]]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --jobs) jobs=$2; shift 2 ;;
    --fresh) fresh=1; shift ;;
    --seed) seed=$2; shift 2 ;;
    *) echo "usage: $0 [--seconds N] [--build DIR] [--jobs N] [--fresh] [--seed N]" >&2; exit 2 ;;
  esac
done

cxx=$(command -v clang++-14 || true)
if [[ -z "$cxx" ]]; then
  echo "clang++-14 is missing (Debian packages clang-14 libclang-rt-14-dev)" >&2
  exit 1
fi
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVARNEL_WERROR=ON -DVARNEL_FUZZ=ON \
      -DCMAKE_CXX_COMPILER="$cxx" >/dev/null
nice -n 10 cmake --build "$build" -j"$jobs"

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/fault/lsan.supp
mkdir -p "$build/fuzz-artifacts"
status=0
while IFS='|' read -r target options seeds; do
  [[ -n "$target" ]] || continue
  name=$(basename "$target")
  work="$build/fuzz-corpus/$name"  # new inputs go here, never into the seed folders
  [[ $fresh -eq 0 ]] || rm -rf "$work"
  mkdir -p "$work"
  dirs=("$work")
  for s in $seeds; do
    if [[ -d "$s" ]]; then dirs+=("$s"); else echo "$name: seed folder $s is absent; skipped"; fi
  done
  # shellcheck disable=SC2086
  common=($options -timeout=20 -rss_limit_mb=2048 -seed="$seed" -artifact_prefix="$build/fuzz-artifacts/$name-")
  echo "== $name: seeds =="
  start=$(date +%s)
  if ! "$target" "${common[@]}" -runs=0 "${dirs[@]}" >"$build/fuzz-artifacts/$name-replay.log" 2>&1; then
    tail -40 "$build/fuzz-artifacts/$name-replay.log"
    echo "$name: a seed failed" >&2
    status=1
    continue
  fi
  grep -E "INITED|Done" "$build/fuzz-artifacts/$name-replay.log" | tail -2
  if [[ "$seconds" -gt 0 ]]; then
    echo "== $name: fuzzing for $seconds s =="
    if ! "$target" "${common[@]}" -max_total_time="$seconds" -print_final_stats=1 "${dirs[@]}" \
         >"$build/fuzz-artifacts/$name-run.log" 2>&1; then
      tail -60 "$build/fuzz-artifacts/$name-run.log"
      echo "$name: found a fault; the input is in $build/fuzz-artifacts/" >&2
      status=1
      continue
    fi
    grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$build/fuzz-artifacts/$name-run.log" || true
  fi
  echo "$name: $(( $(date +%s) - start )) s"
done <"$build/fuzz-targets.txt"
exit $status
