# What the packaging checks share; sourced by each of them.

fail() { echo "FAIL: $*" >&2; exit 1; }

# expect_not_found LAUNCHER WORK WHAT: runs LAUNCHER in the new empty directory WORK with no java
# anywhere; it must end with 217 and report that java was not found. WHAT names it in a failure.
expect_not_found() {
  local launcher=$1 work=$2 what=$3 status
  mkdir "$work"
  set +e
  (cd "$work" && env -i PATH=/nonexistent "$launcher" 2>"$work/err")
  status=$?
  set -e
  ((status == 217)) || fail "$what ended with $status, not 217"
  grep -qx 'EProcess: Executable not found: "java"' "$work/err" ||
    { cat "$work/err" >&2; fail "$what: its report"; }
}

# expect_check_usage CHECK WHAT: CHECK is launcher-check: --help shows its usage with status 0, and
# an unknown option ends with status 2. WHAT names it in a failure.
expect_check_usage() {
  local check=$1 what=$2 status help
  # Read whole before it is searched: grep -q would stop reading at the first match, and the check,
  # writing on into a closed pipe, would fail the pipeline.
  help=$("$check" --help) || fail "$what: --help ended with $?"
  grep -qx 'Usage: launcher-check \[--timeout=SECONDS\] \[LAUNCHER\]' <<<"$help" ||
    fail "$what: no usage from --help"
  set +e
  "$check" --no-such-option >/dev/null 2>&1
  status=$?
  set -e
  ((status == 2)) || fail "$what ended with $status for an unknown option, not 2"
}
