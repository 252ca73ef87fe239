#!/usr/bin/env bash
# Installs what is missing, then configures and builds everything into the
# build folder (QUENFAR8_BUILD_DIR, default build/ of the checkout).
# With QUENFAR8_TWIN_64=1 the folder gets the 64-bit twin instead: the same
# sources built for 64-bit Windows, for testing on a machine that cannot run
# 32-bit code, never shipped; QUENFAR8_SHIPPED_BUILD_DIR names the 32-bit
# tree whose programs its Build checks look at.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build="${QUENFAR8_BUILD_DIR:-$root/build}"
"$root/scripts/setup.sh"
if [ "${QUENFAR8_TWIN_64:-0}" = 1 ]; then
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake" \
    -DQUENFAR8_TWIN_64=ON -DQUENFAR8_SHIPPED_BUILD_DIR="${QUENFAR8_SHIPPED_BUILD_DIR:-$root/build}" >/dev/null
else
  # OFF said outright: a tree once configured as the twin by mistake (and
  # refused by the size check) comes back to the 32-bit build.
  cmake -S "$root" -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
    -DQUENFAR8_TWIN_64=OFF >/dev/null
fi
cmake --build "$build" -j"$(nproc)" "$@"
