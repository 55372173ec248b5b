#!/usr/bin/env bash
# The launcher's own Debian package, as the release workflow makes it (packaging/pack-deb.sh,
# through pack-release.sh): its name, fields and files, the stripped programs, the manual pages;
# lintian finds no error and no warning; two packs give the same bytes. As root, where the
# package's architecture is the machine's: installed (dpkg -i), its programs run from PATH and
# their manual pages found by man, then purged, leaving nothing behind.
# usage: launcher_deb.sh SOURCE_DIR LAUNCHER CHECK PACK STRIP VERSION PROCESSOR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
source_dir=$1 launcher=$2 check=$3 pack=$4 strip=$5 version=$6 processor=$7

work=$(mktemp -d)
installed=false
finish() {
  if $installed; then dpkg_locked --purge launcher >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap finish EXIT
case $processor in
  x86_64) arch=amd64 ;;
  aarch64) arch=arm64 ;;
  *) fail "no Debian architecture for $processor" ;;
esac
name=launcher_${version}_$arch.deb

pack() {  # OUTPUT UMASK
  mkdir -p "$1"
  (umask "$2" && SOURCE_DATE_EPOCH=1767225600 "$source_dir/packaging/pack-deb.sh" \
     --source "$source_dir" --launcher "$launcher" --check "$check" --pack "$pack" \
     --strip "$strip" --version "$version" --processor "$processor" --output "$1") >/dev/null
}
pack "$work/first" 022
pack "$work/second" 077
deb=$work/first/$name
cmp "$deb" "$work/second/$name" || fail "two packs differ"
(cd "$work/first" && sha256sum --quiet -c "$name.sha256") || fail ".sha256 does not match"
[[ -z $(find "$work/first" -name '.*' ! -name . ) ]] || fail "a temporary directory was left"

[[ $(dpkg-deb --field "$deb" Package Version Architecture | tr '\n' ' ') == \
   "Package: launcher Version: $version Architecture: $arch " ]] ||
  fail "fields: $(dpkg-deb --field "$deb" Package Version Architecture)"
[[ -z $(dpkg-deb --field "$deb" Depends) ]] || fail "the static programs depend on something"
files=$(dpkg-deb --contents "$deb" | awk '{ print $1, $2, $6 }' | grep -v '/$')
expected="-rwxr-xr-x root/root ./usr/bin/launcher
-rwxr-xr-x root/root ./usr/bin/launcher-check
-rwxr-xr-x root/root ./usr/bin/launcher-pack
-rw-r--r-- root/root ./usr/share/doc/launcher/README.md.gz
-rw-r--r-- root/root ./usr/share/doc/launcher/changelog.gz
-rw-r--r-- root/root ./usr/share/doc/launcher/copyright
-rw-r--r-- root/root ./usr/share/doc/launcher/init.ini.example
-rw-r--r-- root/root ./usr/share/doc/launcher/init.ini.example.txt
-rw-r--r-- root/root ./usr/share/lintian/overrides/launcher
-rw-r--r-- root/root ./usr/share/man/man1/launcher-check.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/launcher-pack.1.gz
-rw-r--r-- root/root ./usr/share/man/man1/launcher.1.gz"
[[ $files == "$expected" ]] || fail "files:
$files
expected:
$expected"
dpkg-deb -x "$deb" "$work/root"
for program in launcher launcher-check; do
  readelf -S "$work/root/usr/bin/$program" | grep -qE '\.(symtab|debug_)' &&
    fail "$program is not stripped"
done
cmp -s "$pack" "$work/root/usr/bin/launcher-pack" || fail "launcher-pack is not the built one"
expect_lintian_clean "$deb"

if ((EUID != 0)); then
  echo "launcher deb: not root, so the package is not installed"
  exit 0
fi
if [[ $(dpkg --print-architecture) != "$arch" ]]; then
  echo "launcher deb: a package for $arch is not installed on $(dpkg --print-architecture)"
  exit 0
fi
hold_install_lock
if dpkg-query -W -f='${Status}' launcher 2>/dev/null | grep -q installed; then
  echo "launcher deb: a package named launcher is installed already: it is left alone, not replaced"
  exit 0
fi
snapshot() {  # the files of the package's places on the system that name the launcher
  find /usr/bin /usr/share/man/man1 /usr/share/doc /usr/share/lintian/overrides /var/lib/dpkg/info \
    -xdev -name 'launcher*' 2>/dev/null | sort
}
before=$(snapshot)
installed=true
dpkg_locked -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "dpkg -i failed"; }
for program in launcher launcher-check launcher-pack; do
  [[ $(command -v "$program") == /usr/bin/$program ]] ||
    fail "$program on PATH is $(command -v "$program"), not /usr/bin/$program"
done
expect_not_found /usr/bin/launcher "$work/run" "the installed launcher"
expect_check_usage launcher-check "the installed launcher-check"
help=$(launcher-pack --help) || fail "launcher-pack --help ended with $?"
grep -q '^Usage: launcher-pack --name NAME --main-class CLASS' <<<"$help" ||
  fail "launcher-pack --help shows no usage"
[[ $(launcher-pack --version) == "launcher-pack $version" ]] || fail "launcher-pack --version"
for page in launcher launcher-check launcher-pack; do
  LC_ALL=C MANPAGER=cat man "$page" 2>/dev/null | grep -q "^NAME" || fail "man $page shows no page"
done
dpkg_locked --purge launcher >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log" >&2; fail "purge failed"; }
installed=false
[[ $(snapshot) == "$before" ]] || fail "the purge left: $(comm -13 <(echo "$before") <(snapshot))"
echo "launcher deb: $name, $(stat -c %s "$deb") bytes, the same from two packs, installed and purged"
