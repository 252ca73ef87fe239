# Sourced by test.sh and demo.sh: builds the shipped 32-bit tree and picks
# the tree whose programs run under wine here.
#
# Where the kernel runs no 32-bit code (so wine's 32-bit half cannot start),
# the 32-bit programs are still built, and the Build checks look at them;
# what runs under wine is their 64-bit twin, built from the same sources
# into build-twin64/ beside build/ and run under wine64. It says so first.

# Builds the native release tool into build-linux/ (QUENFAR8_NATIVE_BUILD_DIR)
# with the host's compiler; its cross-check packs with the Windows program
# of the tree named as the tree to run.
build_native_tree() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export QUENFAR8_NATIVE_BUILD_DIR="${QUENFAR8_NATIVE_BUILD_DIR:-$root/build-linux}"
  cmake -S "$root" -B "$QUENFAR8_NATIVE_BUILD_DIR" -DQUENFAR8_WINDOWS_BUILD_DIR="$QUENFAR8_BUILD_DIR" >/dev/null
  cmake --build "$QUENFAR8_NATIVE_BUILD_DIR" -j"$(nproc)"
  build_arm64_tree
}

# Cross-builds the native release tool for arm64 into build-linux-arm64/
# (QUENFAR8_ARM64_BUILD_DIR). Its tests run it under qemu-user, with the
# native tree's stand-ins of the patch tools and its program for the
# identical-feed check.
build_arm64_tree() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export QUENFAR8_ARM64_BUILD_DIR="${QUENFAR8_ARM64_BUILD_DIR:-$root/build-linux-arm64}"
  cmake -S "$root" -B "$QUENFAR8_ARM64_BUILD_DIR" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-aarch64-linux.cmake" \
    -DQUENFAR8_HOST_TOOLS_DIR="$QUENFAR8_NATIVE_BUILD_DIR/tools" \
    -DQUENFAR8_HOST_RELEASE_TOOL="$QUENFAR8_NATIVE_BUILD_DIR/quenfar8-release" >/dev/null
  cmake --build "$QUENFAR8_ARM64_BUILD_DIR" -j"$(nproc)"
}

# Builds, then sets QUENFAR8_BUILD_DIR to the tree to run.
build_trees_for_this_machine() {
  local root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  export QUENFAR8_BUILD_DIR="${QUENFAR8_BUILD_DIR:-$root/build}"
  "$root/scripts/build.sh"
  if wine --version </dev/null >/dev/null 2>&1; then
    build_native_tree
    return 0
  fi
  echo "This machine runs no 32-bit code, so wine cannot start the shipped 32-bit programs here."
  echo "The Build checks look at the 32-bit programs in $QUENFAR8_BUILD_DIR; every program under"
  echo "wine is their 64-bit twin, built from the same sources, run under wine64."
  export QUENFAR8_SHIPPED_BUILD_DIR="$QUENFAR8_BUILD_DIR"
  export QUENFAR8_BUILD_DIR="${QUENFAR8_TWIN_BUILD_DIR:-$root/build-twin64}"
  QUENFAR8_TWIN_64=1 "$root/scripts/build.sh"
  build_native_tree
}
