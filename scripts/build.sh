#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into the
# build folder (QUENFAR8_BUILD_DIR, default build/ of the checkout).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUENFAR8_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" >/dev/null
cmake --build "$build" -j"$(nproc)" "$@"
