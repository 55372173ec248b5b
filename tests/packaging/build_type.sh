#!/usr/bin/env bash
# The build type of a configure: one that names none builds what ships (RelWithDebInfo, so that
# `cmake -S . -B build && cmake --build build && ctest` builds and tests the shipped form); one
# that names it empty keeps no build type; one that names a type keeps it.
# usage: build_type.sh SOURCE_DIR
set -euo pipefail
source_dir=$1
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
expect_build_type() {  # EXPECTED CMAKE-ARGUMENT...: configures, then compares the cached type
  local expected=$1 got
  shift
  rm -rf "$work/build"
  env -u CMAKE_BUILD_TYPE cmake -S "$source_dir" -B "$work/build" -G Ninja -DBUILD_TESTING=OFF \
    "$@" >"$work/configure.log" 2>&1 || { cat "$work/configure.log"; fail "configure $*"; }
  got=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$work/build/CMakeCache.txt")
  [[ $got == "$expected" ]] ||
    fail "configured with ${*:-no build type named}: build type \"$got\", not \"$expected\""
}
expect_build_type RelWithDebInfo
expect_build_type "" -DCMAKE_BUILD_TYPE=
expect_build_type Debug -DCMAKE_BUILD_TYPE=Debug
echo "build types: none named gives RelWithDebInfo, an empty one and a named one are kept"
