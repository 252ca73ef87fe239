#!/usr/bin/env bash
# A shipped executable is a static 32-bit program: machine i386, PE32, a
# Unicode entry, and an import table that names Windows system DLLs only
# (no compiler runtime DLLs). The updater is a GUI program with wWinMain,
# the release tool a console program with wmain.
#   pe_check.sh <objdump> <exe> [gui|console]
set -u
objdump=$1
exe=$2
kind=${3:-gui}
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

header=$("$objdump" -f "$exe")
private=$("$objdump" -p "$exe")
symbols=$("$objdump" -t "$exe")

grep -q 'file format pei-i386' <<<"$header" || fail "not a PE file for i386"
grep -q 'architecture: i386' <<<"$header" || fail "machine is not i386"
grep -qE '^Magic[[:space:]]+010b' <<<"$private" || fail "not PE32 (magic 010b)"
if [ "$kind" = gui ]; then
  grep -qE '^Subsystem[[:space:]]+00000002' <<<"$private" || fail "subsystem is not Windows GUI"
  grep -q '_wWinMain@16' <<<"$symbols" || fail "no Unicode entry wWinMain"
  grep -q ' _WinMain@16' <<<"$symbols" && fail "an ANSI WinMain is linked"
else
  grep -qE '^Subsystem[[:space:]]+00000003' <<<"$private" || fail "subsystem is not Windows console"
  grep -q ' _wmain$' <<<"$symbols" || fail "no Unicode entry wmain"
fi

allowed='^(kernel32|user32|gdi32|comctl32|shell32|bcrypt|winhttp|msvcrt|advapi32)\.dll$'
dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$private")
[ -n "$dlls" ] || fail "no imports found"
for dll in $dlls; do
  lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
  grep -qE "$allowed" <<<"$lower" || fail "imports $dll, which is not a Windows system DLL"
done
echo "imports: $(tr '\n' ' ' <<<"$dlls")"
exit "$failures"
