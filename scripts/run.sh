#!/usr/bin/env bash
# Installs what is missing, builds Corvane and starts it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-"$root/build"}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja ${CORVANE_CMAKE_ARGS:-}
cmake --build "$build" -j2 --target corvane
exec "$build/app/corvane" "$@"
