# shellcheck shell=bash
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

# entry_value FILE KEY: the value of KEY in the group [Desktop Entry] of the desktop entry FILE
# (- for standard input), as written (escapes and quotes kept).
entry_value() {
  awk -v key="$2" '
    /^\[/ { in_group = ($0 == "[Desktop Entry]") }
    in_group && index($0, key "=") == 1 { print substr($0, length(key) + 2); exit }
  ' "$1"
}

# expect_lintian_clean DEB: lintian finds no error and no warning in the package (overridden
# tags do not count); what it printed is shown on failure.
expect_lintian_clean() {
  command -v lintian >/dev/null || fail "lintian is not installed (.ci/setup test installs it)"
  local out status=0
  out=$(lintian --fail-on error,warning "$1" 2>&1) || status=$?
  if ((status != 0)) || grep -qE '^[EW]: ' <<<"$out"; then
    echo "$out" >&2
    fail "lintian: errors or warnings in $(basename "$1") (exit status $status)"
  fi
}

# hold_install_lock: takes the lock that the tests which install packages share, and holds it
# until the test ends, so that two such tests (of this or another checkout) never install, use or
# purge their packages at the same time; waits up to 15 minutes for it.
hold_install_lock() {
  exec {install_lock}>>/tmp/launcher-tests-dpkg.lock
  flock -w 900 "$install_lock" || fail "the lock /tmp/launcher-tests-dpkg.lock stayed taken"
}

# dpkg_locked ARGUMENT...: dpkg, waiting up to 10 minutes while another program (apt, say) holds
# dpkg's own lock.
dpkg_locked() {
  local status err=${TMPDIR:-/tmp}/dpkg.$$.err
  for _ in $(seq 60); do
    status=0
    dpkg "$@" 2>"$err" || status=$?
    if ((status != 0)) && grep -q 'dpkg frontend lock\|dpkg status database is locked' "$err"; then
      sleep 10
      continue
    fi
    cat "$err" >&2
    rm -f "$err"
    return "$status"
  done
  fail "dpkg stayed locked by another program"
}
