# Sourced by the native tests: the report of a fault and the run of the
# program under test ($tool).

fail() { echo "FAIL: $*" >&2; exit 1; }

# run_tool <expected exit> <output file> <arguments...>: runs $tool, its
# output in the file, and fails unless it ends with the expected code.
run_tool() {
  local expected=$1 out=$2
  shift 2
  local code=0
  "$tool" "$@" >"$out" 2>&1 || code=$?
  [ "$code" = "$expected" ] || { cat "$out" >&2; fail "exit $code, expected $expected: $*"; }
}
