#!/usr/bin/env bash
# `cmake --install` lays out the launcher and launcher-check, their manual pages and the
# documentation below the prefix, and the installed programs run.
# usage: install.sh BUILD_DIR LAUNCHER CHECK
set -euo pipefail
build_dir=$1 launcher=$2 check=$3
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >"$prefix.log" 2>&1 ||
  { cat "$prefix.log"; rm -f "$prefix.log"; fail "cmake --install failed"; }
rm -f "$prefix.log"

[[ -x $prefix/bin/launcher ]] || fail "no bin/launcher"
cmp -s "$launcher" "$prefix/bin/launcher" || fail "bin/launcher is not the built launcher"
cmp -s "$check" "$prefix/bin/launcher-check" || fail "bin/launcher-check is not the built one"
[[ $(ls "$prefix/bin" | tr '\n' ' ') == "launcher launcher-check " ]] ||
  fail "bin/ holds more than the launcher and launcher-check: $(ls "$prefix/bin")"
for file in share/man/man1/launcher.1 share/man/man1/launcher-check.1 \
    share/doc/launcher/README.md \
    share/doc/launcher/init.ini.example share/doc/launcher/init.ini.example.txt \
    share/doc/launcher/examples/demo/app/Main.java \
    share/doc/launcher/examples/javafx/hello/HelloFx.java \
    share/doc/launcher/examples/bundle/app/bundle/app/BundleApp.java; do
  [[ -f $prefix/$file && -s $prefix/$file ]] || fail "no $file"
done
[[ -x $prefix/share/doc/launcher/examples/bundle/make-bundle.sh ]] ||
  fail "share/doc/launcher/examples/bundle/make-bundle.sh is not executable"
# man finds the installed page by name below the prefix.
for page in launcher launcher-check; do
  LC_ALL=C MANPAGER=cat man -M "$prefix/share/man" "$page" 2>/dev/null | grep -q "^NAME" ||
    fail "man -M PREFIX/share/man $page does not show the page"
done

# The installed launcher finds nothing to start in an empty directory and says so.
expect_not_found "$prefix/bin/launcher" "$prefix/work" "the installed launcher"
expect_check_usage "$prefix/bin/launcher-check" "the installed launcher-check"
echo "install: bin/launcher, bin/launcher-check, their pages in share/man/man1 and share/doc/launcher"
