#!/usr/bin/env bash
# Runs the window and erase test suites several times in a row with every core busy, to show
# that they hold on a loaded machine. The load is this script's own: one busy loop per core at
# the lowest priority (nice 19), each ended by `timeout` after LOAD_SECONDS even if this script
# is killed, and stopped by the script when the runs end.
#   scripts/test-under-load.sh [BUILD_FOLDER]      (default: build, already built)
#   ROUNDS (default 3), LOAD_SECONDS (default 3600), JOBS (ctest -j, default 4),
#   SUITES (ctest label regex, default the Window* and erase suites).
# Not part of scripts/test.sh's default run (it takes several times as long); run it with
# scripts/test.sh --under-load, or alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
rounds=${ROUNDS:-3}
loadSeconds=${LOAD_SECONDS:-3600}
jobs=${JOBS:-4}
suites=${SUITES:-'^(app/Window.*|app/EraseCore|engine/CardPrep)$'}
export QT_QPA_PLATFORM=offscreen

if [[ ! -f "$build/CTestTestfile.cmake" ]]; then
  echo "No test build in $build: build the project first." >&2
  exit 2
fi

loaders=()
stopLoad() {
  local pid
  for pid in "${loaders[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${loaders[@]}"; do wait "$pid" 2>/dev/null || true; done
  loaders=()
}
trap stopLoad EXIT INT TERM

cores=$(nproc)
echo "== Load: $cores busy loops at nice 19, at most ${loadSeconds} s"
for ((i = 0; i < cores; ++i)); do
  nice -n 19 timeout "$loadSeconds" bash -c 'while :; do :; done' &
  loaders+=("$!")
done

failed=0
for ((round = 1; round <= rounds; ++round)); do
  echo "== Round $round of $rounds: suites $suites"
  if ! ctest --test-dir "$build" -L "$suites" -j "$jobs" --no-tests=error --output-on-failure --timeout 900; then
    failed=1
    echo "== Round $round failed" >&2
  fi
done
stopLoad
if ((failed)); then
  echo "== Some runs under load failed" >&2
  exit 1
fi
echo "== All $rounds rounds passed under load"
