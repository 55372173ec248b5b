#!/usr/bin/env bash
# `cmake --install` lays out the launcher, its manual page and its documentation below the
# prefix, and the installed launcher runs.
# usage: install.sh BUILD_DIR LAUNCHER
set -euo pipefail
build_dir=$1 launcher=$2
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >"$prefix.log" 2>&1 ||
  { cat "$prefix.log"; rm -f "$prefix.log"; fail "cmake --install failed"; }
rm -f "$prefix.log"

[[ -x $prefix/bin/launcher ]] || fail "no bin/launcher"
cmp -s "$launcher" "$prefix/bin/launcher" || fail "bin/launcher is not the built launcher"
[[ $(ls "$prefix/bin") == launcher ]] || fail "bin/ holds more than the launcher: $(ls "$prefix/bin")"
for file in share/man/man1/launcher.1 share/doc/launcher/README.md \
    share/doc/launcher/init.ini.example share/doc/launcher/init.ini.example.txt \
    share/doc/launcher/examples/demo/app/Main.java \
    share/doc/launcher/examples/javafx/hello/HelloFx.java \
    share/doc/launcher/examples/bundle/app/bundle/app/BundleApp.java; do
  [[ -f $prefix/$file && -s $prefix/$file ]] || fail "no $file"
done
[[ -x $prefix/share/doc/launcher/examples/bundle/make-bundle.sh ]] ||
  fail "share/doc/launcher/examples/bundle/make-bundle.sh is not executable"
# man finds the installed page by name below the prefix.
LC_ALL=C MANPAGER=cat man -M "$prefix/share/man" launcher 2>/dev/null | grep -q "^NAME" ||
  fail "man -M PREFIX/share/man launcher does not show the page"

# The installed launcher finds nothing to start in an empty directory and says so.
expect_not_found "$prefix/bin/launcher" "$prefix/work" "the installed launcher"
echo "install: bin/launcher, share/man/man1/launcher.1 and share/doc/launcher"
