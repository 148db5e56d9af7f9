#!/usr/bin/env bash
# Installs what is missing, builds Corvane with its tests and runs every test.
# Extra arguments go to ctest (for example -L unit, or -R Registry).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${CORVANE_BUILD_DIR:-"$root/build"}

bash "$root/scripts/install-deps.sh"
cmake -S "$root" -B "$build" -G Ninja ${CORVANE_CMAKE_ARGS:-}
cmake --build "$build" -j2

export QT_QPA_PLATFORM=offscreen
export XDG_RUNTIME_DIR=${XDG_RUNTIME_DIR:-$(mktemp -d)}
cd "$build"
ctest -j2 --output-on-failure --timeout 600 "$@"
