#!/usr/bin/env bash
# The launcher alone: configured with BUILD_TESTING=OFF, with no javac on PATH and GoogleTest and
# zlib made unfindable, the configure succeeds, says the demo and launcher-check are left out, and
# builds the launcher;
# the demo target then says what it misses. (A configure that asks for GoogleTest fails the same
# way, which shows that it really cannot be found.)
# usage: launcher_alone.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A PATH of every program of /usr/bin but javac.
mkdir "$work/bin"
for program in /usr/bin/*; do
  [[ ${program##*/} == javac ]] || ln -s "$program" "$work/bin/${program##*/}"
done
isolated=(env -i "PATH=$work/bin" "HOME=$work")
"${isolated[@]}" sh -c 'command -v javac' && fail "javac is still on the test's PATH"

configure=(cmake -S "$source_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release
           -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON)
"${isolated[@]}" "${configure[@]}" -B "$work/alone" -DBUILD_TESTING=OFF \
  -DCMAKE_DISABLE_FIND_PACKAGE_ZLIB=ON >"$work/configure.log" 2>&1 ||
  { cat "$work/configure.log"; fail "configuring with BUILD_TESTING=OFF failed"; }
grep -qx -- "-- javac not found: the demo application is left out" "$work/configure.log" ||
  { cat "$work/configure.log"; fail "no message that the demo is left out"; }
grep -q "zlib not found (zlib1g-dev): launcher-check, the release archive and the Debian package are left out" \
  "$work/configure.log" || { cat "$work/configure.log"; fail "no message that launcher-check is left out"; }
grep -q "JAVAC:FILEPATH=JAVAC-NOTFOUND" "$work/alone/CMakeCache.txt" ||
  fail "javac was found although it is not on PATH"

"${isolated[@]}" cmake --build "$work/alone" --target launcher -j2 >"$work/build.log" 2>&1 ||
  { cat "$work/build.log"; fail "building the launcher failed"; }
[[ -x $work/alone/launcher ]] || fail "no launcher in the build directory"
# It is the launcher: without java anywhere it says so and ends with 217.
expect_not_found "$work/alone/launcher" "$work/run" "the built launcher"

if "${isolated[@]}" cmake --build "$work/alone" --target demo >"$work/demo.log" 2>&1; then
  fail "the demo target succeeded without a JDK"
fi
grep -q "The demo needs a JDK" "$work/demo.log" || { cat "$work/demo.log"; fail "demo message"; }

if "${isolated[@]}" "${configure[@]}" -B "$work/with-tests" -DBUILD_TESTING=ON \
    >"$work/with-tests.log" 2>&1; then
  fail "a configure with tests found GoogleTest, so the check above proves nothing"
fi
echo "the launcher alone: configured and built without javac, GoogleTest and zlib"
