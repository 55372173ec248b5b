#!/usr/bin/env bash
# The release archive: its name, its members and their modes, owners and times, the stripped
# launcher and launcher-check, SHA256SUMS and the archive's own .sha256; two packs from different
# directories, at different times and under different umasks, give the same bytes.
# usage: release_archive.sh SOURCE_DIR LAUNCHER CHECK STRIP VERSION PROCESSOR
set -euo pipefail
source_dir=$1 launcher=$2 check=$3 strip=$4 version=$5 processor=$6
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=launcher-$version-linux-$processor
top=launcher-$version
pack() {  # OUTPUT UMASK
  mkdir -p "$1"
  (umask "$2" && cd "$1" && "$source_dir/packaging/pack-release.sh" --source "$source_dir" \
    --launcher "$launcher" --check "$check" --strip "$strip" --name "$name" --top "$top" \
    --output "$1") >/dev/null
}
pack "$work/first" 022
sleep 1.1  # a second later, so that any time taken from the clock would differ
pack "$work/second/deeper" 077

archive=$work/first/$name.tar.gz
[[ -f $archive ]] || fail "no $name.tar.gz"
cmp "$archive" "$work/second/deeper/$name.tar.gz" || fail "two packs differ"
(cd "$work/first" && sha256sum --quiet -c "$name.tar.gz.sha256") || fail ".sha256 does not match"
[[ $(cut -d' ' -f3 "$archive.sha256") == "$name.tar.gz" ]] || fail ".sha256 names another file"
gzip -t "$archive" || fail "not a gzip file"
[[ $(od -An -tx1 -j4 -N4 "$archive" | tr -d ' ') == 00000000 ]] || fail "gzip wrote a time"
ls "$work/first" | grep -q staging && fail "the staging directory was left behind"

# The members, their modes and owners (tar tv: mode owner/group size date time name).
expected_epoch=${SOURCE_DATE_EPOCH:-}
if [[ -z $expected_epoch ]] && git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
  expected_epoch=$(git -C "$source_dir" log -1 --format=%ct)
elif [[ -z $expected_epoch ]]; then
  expected_epoch=$(stat -c %Y "$source_dir/CMakeLists.txt")
fi
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
-rw-r--r-- 0/0 $when $top/launcher.1"
[[ $listing == "$expected" ]] || fail "members:
$listing
expected:
$expected"

tar -xzf "$archive" -C "$work"
dir=$work/$top
(cd "$dir" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
[[ $(cut -d' ' -f3 "$dir/SHA256SUMS" | sort | tr '\n' ' ') == \
   "README.md init.ini.example init.ini.example.txt launcher launcher-check launcher-check.1 launcher.1 " ]] ||
  fail "SHA256SUMS lists: $(cut -d' ' -f3 "$dir/SHA256SUMS")"
cmp -s "$source_dir/doc/launcher.1" "$dir/launcher.1" || fail "launcher.1 differs from doc/"
cmp -s "$source_dir/doc/launcher-check.1" "$dir/launcher-check.1" ||
  fail "launcher-check.1 differs from doc/"
cmp -s "$source_dir/README.md" "$dir/README.md" || fail "README.md differs"
[[ $(wc -l <"$dir/init.ini.example") == 4 ]] || fail "init.ini.example has not four lines"
for program in launcher launcher-check; do
  readelf -S "$dir/$program" | grep -qE '\.(symtab|debug_)' && fail "$program is not stripped"
  readelf -n "$dir/$program" | grep -q "Build ID" || fail "$program lost its build ID"
done
# The packed launcher is the built one, stripped: it behaves like it.
expect_not_found "$dir/launcher" "$work/run" "the packed launcher"
expect_check_usage "$dir/launcher-check" "the packed launcher-check"
echo "release archive: $name.tar.gz, $(stat -c %s "$archive") bytes, the same from two packs"
