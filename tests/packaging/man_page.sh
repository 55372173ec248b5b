#!/usr/bin/env bash
# The manual page renders with man(1) into every section it should have, and names each line 2
# of the failure report and each text of java's in the README's tables; launcher-check's page
# renders into its sections and describes each of its exit statuses.
# usage: man_page.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

page=$(LC_ALL=C MANWIDTH=2000 MANPAGER=cat man -l "$source_dir/doc/launcher.1" 2>&1) ||
  fail "man -l failed: $page"
# One line per rendered line, blanks squeezed, none at the ends.
flat=$(sed 's/[[:space:]]\{1,\}/ /g; s/^ //; s/ $//' <<<"$page")

for section in NAME SYNOPSIS DESCRIPTION FILES "EXIT STATUS" DIAGNOSTICS ENVIRONMENT SIGNALS \
    EXAMPLES; do
  grep -qx -- "$section" <<<"$flat" || fail "no section $section"
done
grep -qx -- "launcher - start a Java application from its own directory" <<<"$flat" ||
  fail "NAME line"

# The README's texts: line 2 of the reports, and what java prints, each in backquotes in the
# tables' second column; ellipses and placeholders in capitals are the page's to fill in.
# shellcheck disable=SC2016 # the backquotes are the README's
texts=$(awk -F'|' '/^\| / && NF > 3 { print $3 }' "$source_dir/README.md" |
        grep -o '`[^`]*`' | tr -d '`' | sed 's/ *$//' |
        grep -E '^(EProcess|EOutOfMemory|EAccessViolation|EExternal|Error|Caused by|java\.lang)' | sort -u)
count=$(wc -l <<<"$texts")
((count >= 10)) || fail "only $count texts read from the README: $texts"
while IFS= read -r text; do
  grep -qF -- "$text" <<<"$flat" || fail "the manual page does not say: $text"
done <<<"$texts"
grep -qF -- 'EProcess: Executable not found: "' <<<"$flat" || fail "no Executable not found"
for variable in PATH JDK_JAVA_OPTIONS; do
  grep -qE -- "^$variable( |$)" <<<"$flat" || fail "ENVIRONMENT does not describe $variable"
done

check_page=$(LC_ALL=C MANWIDTH=2000 MANPAGER=cat man -l "$source_dir/doc/launcher-check.1" 2>&1) ||
  fail "man -l launcher-check.1 failed: $check_page"
check_flat=$(sed 's/[[:space:]]\{1,\}/ /g; s/^ //; s/ $//' <<<"$check_page")
for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT EXAMPLES "SEE ALSO"; do
  grep -qx -- "$section" <<<"$check_flat" || fail "launcher-check.1: no section $section"
done
grep -qx -- "launcher-check - tell why the launcher would not start the Java application" \
  <<<"$check_flat" || fail "launcher-check.1: NAME line"
for status in 0 1 2 217; do
  grep -qE -- "^$status( |$)" <<<"$check_flat" || fail "launcher-check.1: exit status $status"
done
grep -qF -- "--timeout=SECONDS" <<<"$check_flat" || fail "launcher-check.1: no --timeout"

# launcher-pack's page: its sections, and every option that --help shows.
pack_page=$(LC_ALL=C MANWIDTH=2000 MANPAGER=cat man -l "$source_dir/doc/launcher-pack.1" 2>&1) ||
  fail "man -l launcher-pack.1 failed: $pack_page"
pack_flat=$(sed 's/[[:space:]]\{1,\}/ /g; s/^ //; s/ $//' <<<"$pack_page")
for section in NAME SYNOPSIS DESCRIPTION OPTIONS START-UP "THE DEBIAN PACKAGE" "EXIT STATUS" \
    ENVIRONMENT EXAMPLES "SEE ALSO"; do
  grep -qx -- "$section" <<<"$pack_flat" || fail "launcher-pack.1: no section $section"
done
grep -qx -- "launcher-pack - pack a Java application into a movable directory and a Debian package" \
  <<<"$pack_flat" || fail "launcher-pack.1: NAME line"
options=$(sed "s/@PROJECT_VERSION@/0/" "$source_dir/packaging/launcher-pack" >"${TMPDIR:-/tmp}/pack.$$" &&
          bash "${TMPDIR:-/tmp}/pack.$$" --help | grep -oE -- '--[a-z][a-z-]+' | sort -u)
rm -f "${TMPDIR:-/tmp}/pack.$$"
(($(wc -l <<<"$options") >= 25)) || fail "launcher-pack --help shows only: $options"
while IFS= read -r option; do
  grep -qE -- "(^| )$option( |$)" <<<"$pack_flat" || fail "launcher-pack.1 does not describe $option"
done <<<"$options"
for status in 0 1 2; do
  grep -qE -- "^$status( |$)" <<<"$pack_flat" || fail "launcher-pack.1: exit status $status"
done
echo "the manual pages: all sections, the $count texts of the README, launcher-check's statuses," \
  "launcher-pack's options"
