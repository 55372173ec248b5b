#!/usr/bin/env bash
# The release archive: its name, its members and their modes, owners and times, the stripped
# launcher and launcher-check, launcher-pack, SHA256SUMS and the archive's own .sha256, and the
# Debian package packed beside it (launcher_deb.sh tests that package itself). Two packs give the same
# bytes from different directories, at different times, under different umasks, into an output
# directory with the set-group-ID bit and with GZIP and TAR_OPTIONS in the environment. The release
# time is the last commit's of a checkout of its own, or SOURCE_DATE_EPOCH; packing stops when
# neither can be had.
# usage: release_archive.sh SOURCE_DIR LAUNCHER CHECK PACK STRIP VERSION PROCESSOR
set -euo pipefail
source_dir=$1 launcher=$2 check=$3 pack=$4 strip=$5 version=$6 processor=$7
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=launcher-$version-linux-$processor
top=launcher-$version

# The release time of SOURCE_DIR: SOURCE_DATE_EPOCH, else its last commit's; a source tree that
# has neither is packed with a time of the test's own.
if [[ -z ${SOURCE_DATE_EPOCH:-} && $(git -C "$source_dir" rev-parse --show-toplevel 2>/dev/null) \
      == "$(cd "$source_dir" && pwd -P)" ]]; then
  expected_epoch=$(git -C "$source_dir" log -1 --format=%ct)
else
  export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-1600000000}
  expected_epoch=$SOURCE_DATE_EPOCH
fi

pack() {  # SOURCE OUTPUT UMASK [ENV ARGUMENT...]: packs SOURCE into OUTPUT, the environment changed
  local source=$1 output=$2 mask=$3          # as env(1) changes it (VARIABLE=VALUE, -u VARIABLE)
  shift 3
  mkdir -p "$output"
  (umask "$mask" && cd "$output" && env "$@" "$source_dir/packaging/pack-release.sh" \
    --source "$source" --launcher "$launcher" --check "$check" --pack "$pack" --strip "$strip" \
    --name "$name" --top "$top" --version "$version" --processor "$processor" \
    --output "$output") >/dev/null
}
pack "$source_dir" "$work/first" 022
sleep 1.1  # a second later, so that any time taken from the clock would differ
mkdir -p "$work/second"
chmod g+s "$work/second"  # inherited by the directories made below it
pack "$source_dir" "$work/second/deeper" 077 GZIP=--rsyncable TAR_OPTIONS=--mode=go+w
[[ $(stat -c %A "$work/second/deeper") == d*s* ]] || fail "the output directory is not set-group-ID"

archive=$work/first/$name.tar.gz
[[ -f $archive ]] || fail "no $name.tar.gz"
cmp "$archive" "$work/second/deeper/$name.tar.gz" || fail "two packs differ"
(cd "$work/first" && sha256sum --quiet -c "$name.tar.gz.sha256") || fail ".sha256 does not match"
[[ $(cut -d' ' -f3 "$archive.sha256") == "$name.tar.gz" ]] || fail ".sha256 names another file"
gzip -t "$archive" || fail "not a gzip file"
[[ $(od -An -tx1 -j4 -N4 "$archive" | tr -d ' ') == 00000000 ]] || fail "gzip wrote a time"
[[ -z $(find "$work/first" -mindepth 1 -name '*staging*' -o -mindepth 1 -name '.*') ]] ||
  fail "the staging directory was left behind"
debs=("$work/first/launcher_${version}_"*.deb)
[[ -f ${debs[0]} && -f ${debs[0]}.sha256 ]] || fail "no Debian package beside the archive"
cmp "${debs[0]}" "$work/second/deeper/$(basename "${debs[0]}")" || fail "two packs differ in the package"

# The members, their modes and owners (tar tv: mode owner/group size date time name).
listing=$(TZ=UTC tar -tvzf "$archive" --full-time | awk '{ print $1, $2, $4 " " $5, $6 }')
when=$(TZ=UTC date -d "@$expected_epoch" '+%F %T')
expected="drwxr-xr-x 0/0 $when $top/
-rw-r--r-- 0/0 $when $top/README.md
-rw-r--r-- 0/0 $when $top/SHA256SUMS
-rw-r--r-- 0/0 $when $top/init.ini.example
-rw-r--r-- 0/0 $when $top/init.ini.example.txt
-rwxr-xr-x 0/0 $when $top/launcher
-rwxr-xr-x 0/0 $when $top/launcher-check
-rw-r--r-- 0/0 $when $top/launcher-check.1
-rwxr-xr-x 0/0 $when $top/launcher-pack
-rw-r--r-- 0/0 $when $top/launcher-pack.1
-rw-r--r-- 0/0 $when $top/launcher.1"
[[ $listing == "$expected" ]] || fail "members:
$listing
expected:
$expected"

tar -xzf "$archive" -C "$work"
dir=$work/$top
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[[ $(cut -d' ' -f3 "$dir/SHA256SUMS" | sort | tr '\n' ' ') == \
   "README.md init.ini.example init.ini.example.txt launcher launcher-check launcher-check.1 launcher-pack launcher-pack.1 launcher.1 " ]] ||
  fail "SHA256SUMS lists: $(cut -d' ' -f3 "$dir/SHA256SUMS")"
cmp -s "$source_dir/doc/launcher.1" "$dir/launcher.1" || fail "launcher.1 differs from doc/"
cmp -s "$source_dir/doc/launcher-check.1" "$dir/launcher-check.1" ||
  fail "launcher-check.1 differs from doc/"
cmp -s "$source_dir/README.md" "$dir/README.md" || fail "README.md differs"
cmp -s "$source_dir/doc/launcher-pack.1" "$dir/launcher-pack.1" ||
  fail "launcher-pack.1 differs from doc/"
cmp -s "$pack" "$dir/launcher-pack" || fail "launcher-pack is not the built one"
[[ $(wc -l <"$dir/init.ini.example") == 4 ]] || fail "init.ini.example has not four lines"
for program in launcher launcher-check; do
  readelf -S "$dir/$program" | grep -qE '\.(symtab|debug_)' && fail "$program is not stripped"
  readelf -n "$dir/$program" | grep -q "Build ID" || fail "$program lost its build ID"
done
# The packed launcher is the built one, stripped: it behaves like it.
expect_not_found "$dir/launcher" "$work/run" "the packed launcher"
expect_check_usage "$dir/launcher-check" "the packed launcher-check"
# The release time, from source trees of the packed files: a checkout of its own committed at a
# known time gives that time; the same files inside another repository, outside any, or in a
# checkout that git refuses to read (owned by another user) give none, and packing stops unless
# SOURCE_DATE_EPOCH is given.
make_tree() {  # DIR: the files the archive is made of, below DIR
  mkdir -p "$1/doc" "$1/packaging"
  cp "$source_dir/README.md" "$1/"
  cp "$source_dir/doc/launcher.1" "$source_dir/doc/launcher-check.1" \
    "$source_dir/doc/launcher-pack.1" "$1/doc/"
  cp "$source_dir/packaging/init.ini.example" "$source_dir/packaging/init.ini.example.txt" \
    "$1/packaging/"
  cp -R "$source_dir/packaging/debian" "$1/packaging/"
}
commit() {  # DIR TIME: commits everything in DIR, as of TIME
  git -C "$1" add -A
  GIT_COMMITTER_DATE="@$2 +0000" git -C "$1" -c user.name=test -c user.email=test@localhost \
    commit -q --date="@$2 +0000" -m "at $2"
}
expect_refused() {  # SOURCE WHAT PATTERN [ENV ARGUMENT...]: packing stops, saying PATTERN
  local source=$1 what=$2 pattern=$3 status=0
  shift 3
  rm -rf "$work/refused"
  pack "$source" "$work/refused" 022 "$@" 2>"$work/refused.err" || status=$?
  ((status == 1)) || fail "$what: packing ended with $status, not 1"
  grep -q -- "$pattern" "$work/refused.err" ||
    { cat "$work/refused.err" >&2; fail "$what: the message does not say \"$pattern\""; }
  [[ ! -e $work/refused/$name.tar.gz ]] || fail "$what: an archive was packed all the same"
}
time_of() {  # ARCHIVE: the time of its members, in seconds since 1970
  TZ=UTC date -d "$(TZ=UTC tar -tvzf "$1" --full-time | awk 'NR == 1 { print $4 " " $5 }')" +%s
}
asks_for_time="no release time: .*give the release time as SOURCE_DATE_EPOCH"
commit_time=1500000000

make_tree "$work/checkout"
git init -q "$work/checkout"
commit "$work/checkout" "$commit_time"
pack "$work/checkout" "$work/from-checkout" 022 -u SOURCE_DATE_EPOCH
[[ $(time_of "$work/from-checkout/$name.tar.gz") == "$commit_time" ]] ||
  fail "a checkout of its own: the time is not its last commit's"

make_tree "$work/outer/vendor/launcher"
git init -q "$work/outer"
commit "$work/outer" 1400000000
expect_refused "$work/outer/vendor/launcher" "a source tree inside another repository" \
  "$asks_for_time" -u SOURCE_DATE_EPOCH
pack "$work/outer/vendor/launcher" "$work/given-time" 022 SOURCE_DATE_EPOCH="$commit_time"
cmp "$work/from-checkout/$name.tar.gz" "$work/given-time/$name.tar.gz" ||
  fail "SOURCE_DATE_EPOCH of the commit's time does not give the checkout's archive"

make_tree "$work/plain"
expect_refused "$work/plain" "a source tree outside any repository" "$asks_for_time" \
  -u SOURCE_DATE_EPOCH
expect_refused "$work/plain" "a malformed SOURCE_DATE_EPOCH" \
  'SOURCE_DATE_EPOCH is not a time in seconds since 1970: "yesterday"' SOURCE_DATE_EPOCH=yesterday

if ((EUID == 0)); then
  chown -R 65534:65534 "$work/checkout"
  expect_refused "$work/checkout" "a checkout owned by another user" \
    "no release time: git cannot read .*dubious ownership.*SOURCE_DATE_EPOCH" -u SOURCE_DATE_EPOCH
else
  echo "release archive: not run as root, so no checkout of another user is tried"
fi

echo "release archive: $name.tar.gz, $(stat -c %s "$archive") bytes, the same from two packs"
