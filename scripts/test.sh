#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds everything and runs every test:
#  1. the whole project (engine, application core, application) and its tests;
#  2. the engine alone, without Qt, under AddressSanitizer and UBSan, with its tests and fuzz targets;
#  3. only with --under-load: the window and erase suites three times in a row with every core
#     busy (scripts/test-under-load.sh; it takes several times as long as the rest).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
underLoad=0
if [[ "${1:-}" == "--under-load" ]]; then underLoad=1; fi
"$root/scripts/setup.sh"
jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen

echo "== Full build"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$jobs"
ctest --test-dir "$root/build" -j "$jobs" --output-on-failure --timeout 900

echo "== Engine alone under AddressSanitizer and UBSan"
# Qt is made unfindable here: any find_package(Qt6) on the engine's path fails the configure.
cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DTESSALINE_ONLY=ON -DTESSALINE_SANITIZE=ON -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON --no-warn-unused-cli >/dev/null
qtRefs=$(grep -ihE 'qt6|libqt' "$root/build-asan/CMakeCache.txt" "$root/build-asan/build.ninja" \
  | grep -v CMAKE_DISABLE_FIND_PACKAGE_Qt6 || true)
if [[ -n "$qtRefs" ]]; then
  echo "The engine-only build refers to Qt:" >&2
  echo "$qtRefs" | head >&2
  exit 1
fi
cmake --build "$root/build-asan" -j "$jobs"
# The same settings are compiled into the sanitized programs (Engine/Tests/SanitizerDefaults.cpp).
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1:abort_on_error=1
ctest --test-dir "$root/build-asan" -j "$jobs" --output-on-failure --timeout 1200

if ((underLoad)); then
  echo "== Window and erase suites under load"
  "$root/scripts/test-under-load.sh" "$root/build"
fi
