#!/usr/bin/env bash
# Sets up a Debian 12 machine, builds the application and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/setup.sh"
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j "$(nproc)" --target brindlecove
exec "$root/build/App/brindlecove" "$@"
