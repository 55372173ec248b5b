#!/usr/bin/env bash
# `cmake --install` lays out the launcher, launcher-check and launcher-pack, their manual pages and
# the documentation below the prefix, and the installed programs run.
# usage: install.sh BUILD_DIR LAUNCHER CHECK PACK
set -euo pipefail
build_dir=$1 launcher=$2 check=$3 pack=$4
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >"$prefix.log" 2>&1 ||
  { cat "$prefix.log"; rm -f "$prefix.log"; fail "cmake --install failed"; }
rm -f "$prefix.log"

[[ -x $prefix/bin/launcher ]] || fail "no bin/launcher"
cmp -s "$launcher" "$prefix/bin/launcher" || fail "bin/launcher is not the built launcher"
cmp -s "$check" "$prefix/bin/launcher-check" || fail "bin/launcher-check is not the built one"
cmp -s "$pack" "$prefix/bin/launcher-pack" || fail "bin/launcher-pack is not the built one"
[[ -x $prefix/bin/launcher-pack ]] || fail "bin/launcher-pack is not executable"
installed_programs=("$prefix"/bin/*)
[[ ${installed_programs[*]#"$prefix/bin/"} == "launcher launcher-check launcher-pack" ]] ||
  fail "bin/ holds more than the three programs: ${installed_programs[*]}"
for file in share/man/man1/launcher.1 share/man/man1/launcher-check.1 \
    share/man/man1/launcher-pack.1 \
    share/doc/launcher/README.md \
    share/doc/launcher/init.ini.example share/doc/launcher/init.ini.example.txt \
    share/doc/launcher/examples/demo/app/Main.java \
    share/doc/launcher/examples/javafx/hello/HelloFx.java \
    share/doc/launcher/examples/bundle/app/bundle/app/BundleApp.java; do
  [[ -f $prefix/$file && -s $prefix/$file ]] || fail "no $file"
done
# man finds the installed page by name below the prefix.
for page in launcher launcher-check launcher-pack; do
  LC_ALL=C MANPAGER=cat man -M "$prefix/share/man" "$page" 2>/dev/null | grep -q "^NAME" ||
    fail "man -M PREFIX/share/man $page does not show the page"
done

# The installed launcher finds nothing to start in an empty directory and says so.
expect_not_found "$prefix/bin/launcher" "$prefix/work" "the installed launcher"
expect_check_usage "$prefix/bin/launcher-check" "the installed launcher-check"
help=$("$prefix/bin/launcher-pack" --help) || fail "launcher-pack --help ended with $?"
grep -q '^Usage: launcher-pack --name NAME --main-class CLASS' <<<"$help" ||
  fail "the installed launcher-pack shows no usage"
echo "install: bin/launcher, bin/launcher-check, bin/launcher-pack, their pages in share/man/man1" \
  "and share/doc/launcher"
