# Sourced by the scripts that run Windows programs: the build tree's own
# 32-bit wine prefix, booted once, with a font link that draws Hangul, and a
# persistent wineserver.
#
# Why a persistent server started here: when the first wine process of a
# prefix is a test, wine's background services inherit the test runner's
# pipes and CTest waits for them for ever. Started detached with every
# stream redirected, the server and services hold nothing of ours, and each
# later wine process starts in tens of milliseconds instead of seconds.

# QUENFAR8_WINEPREFIX names a prefix made elsewhere (the guest of
# scripts/vm32/ keeps one in its image).
export WINEPREFIX="${QUENFAR8_WINEPREFIX:-$QUENFAR8_BUILD_DIR/wineprefix}"
export WINEDEBUG=-all
export QUENFAR8_BUILD_DIR

# True when the build tree is a 64-bit twin (QUENFAR8_TWIN_64): a build of
# the same sources for a machine that cannot run 32-bit code, never shipped.
build_tree_is_twin_64() {
  grep -qx 'QUENFAR8_TWIN_64:BOOL=ON' "$1/CMakeCache.txt" 2>/dev/null
}

# A twin tree's prefix is 64-bit and its programs run under wine64 (through
# the shims in wine64-shim/, for scripts and tests that call wine by name);
# every other tree's prefix is 32-bit.
if build_tree_is_twin_64 "$QUENFAR8_BUILD_DIR"; then
  export WINEARCH=win64
  export WINELOADER=/usr/lib/wine/wine64
  case ":$PATH:" in
    *":$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-shim:"*) ;;
    *) PATH="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/wine64-shim:$PATH" ;;
  esac
  export PATH
else
  export WINEARCH=win32
fi

wine_prefix_ready() {
  [ -f "$WINEPREFIX/.quenfar8-prefix-2" ]
}

# Ends the script with a plain message when wine's 32-bit half cannot run
# here. A kernel that runs 64-bit user code only (IA-32 emulation off)
# refuses every 32-bit Linux program with "Exec format error", wine's loader
# among them, and the prefix boot would otherwise fail with a bare exit
# code 126 and its reason hidden in wineboot.log.
require_32bit_wine() {
  [ "$WINEARCH" = win64 ] && return 0
  local said
  if said=$(wine --version </dev/null 2>&1); then
    return 0
  fi
  echo "wine cannot start 32-bit programs on this machine: $said" >&2
  if dmesg 2>/dev/null | grep -qi 'ia-32 emulation off\|32-bit emulation disabled'; then
    echo "This kernel runs 64-bit user code only (IA-32 emulation is off), so no 32-bit program, and no" >&2
    echo "test of the 32-bit Windows programs, can run here; use a machine whose kernel runs 32-bit code." >&2
  fi
  exit 1
}

# Boots the prefix and adds the font links, once per build tree (and again
# when this file's prefix version changes).
prepare_wine_prefix() {
  require_32bit_wine
  if ! wine_prefix_ready; then
    mkdir -p "$WINEPREFIX"
    wineboot -i </dev/null >"$QUENFAR8_BUILD_DIR/wineboot.log" 2>&1
    local key='HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink'
    local face
    for face in "Tahoma" "MS Shell Dlg" "MS Shell Dlg 2" "Microsoft Sans Serif" "System" "Segoe UI"; do
      wine reg add "$key" /v "$face" /t REG_MULTI_SZ /d 'NanumGothic.ttf,NanumGothic' /f \
        </dev/null >>"$QUENFAR8_BUILD_DIR/wineboot.log" 2>&1
    done
    # Xvfb runs no window manager: let wine draw captions and frames itself,
    # so that screenshots show the window as a player sees it.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /t REG_SZ /d N /f \
      </dev/null >>"$QUENFAR8_BUILD_DIR/wineboot.log" 2>&1
    wineserver -w
    touch "$WINEPREFIX/.quenfar8-prefix-2"
  fi
  # This wine does not load the fonts that fonts-wine puts in its own data
  # folder, and without Marlett the caption buttons draw as the letters
  # "0 1 r": the prefix gets its own copy.
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  if [ ! -f "$fonts/marlett.ttf" ] && [ -f /usr/share/wine/fonts/marlett.ttf ]; then
    mkdir -p "$fonts"
    cp /usr/share/wine/fonts/marlett.ttf "$fonts/"
  fi
}

start_wineserver() {
  setsid wineserver -p </dev/null >/dev/null 2>&1 &
  # Wait until the server answers, so the first test does not start it.
  wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true
  start_desktop_keeper
}

# Wine ends its desktop process about a second after the last program with
# a window ends, and the next program that makes a window starts a new one
# that inherits its standard error: from a test, CTest's pipe, which CTest
# then waits on for as long as other tests keep the desktop in use. A
# hidden window held for the whole session, by a program started detached,
# keeps one desktop process that holds nothing of CTest's.
start_desktop_keeper() {
  local keeper="$QUENFAR8_BUILD_DIR/tools/desktop_keeper.exe"
  local ready="$QUENFAR8_BUILD_DIR/desktop-keeper.ready"
  [ -f "$keeper" ] || return 0
  rm -f "$ready"
  setsid wine "$keeper" "$(printf 'Z:%s' "$ready" | tr / '\\')" </dev/null >/dev/null 2>&1 &
  local _
  for _ in $(seq 1 600); do
    [ -f "$ready" ] && return 0
    sleep 0.05
  done
  echo "the desktop keeper did not start" >&2
}

stop_wineserver() {
  wineserver -k </dev/null >/dev/null 2>&1 || true
}

# Prepares the prefix and keeps a wineserver running until the calling
# script exits.
enter_wine_session() {
  prepare_wine_prefix
  start_wineserver
  trap stop_wineserver EXIT
}

# kill_when_held <file> <mark> <command...>: runs the command (a wine
# program) in a session of its own, so that the kill reaches it and nothing
# else, and kills it once file holds at least mark bytes. Prints the bytes
# the file holds then (0 when it holds none), read once the size has stayed
# the same for a second: wine counts a killed process as ended a moment
# before its last write is done.
kill_when_held() {
  local file=$1 mark=$2 runner held last steady=0
  shift 2
  # Its output goes to stderr: stdout is what the caller reads the count from.
  setsid "$@" >&2 &
  runner=$!
  while kill -0 "$runner" 2>/dev/null; do
    held=$(stat -c %s "$file" 2>/dev/null || echo 0)
    [ "$held" -lt "$mark" ] || break
    sleep 0.005
  done
  kill -9 -- -"$runner" 2>/dev/null || true
  wait "$runner" 2>/dev/null || true
  last=$(stat -c %s "$file" 2>/dev/null || echo 0)
  while [ "$steady" -lt 10 ]; do
    sleep 0.1
    held=$(stat -c %s "$file" 2>/dev/null || echo 0)
    if [ "$held" = "$last" ]; then steady=$((steady + 1)); else steady=0; last=$held; fi
  done
  echo "$last"
}
