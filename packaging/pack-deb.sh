#!/usr/bin/env bash
# Packs the launcher's own Debian package, OUTPUT/launcher_VERSION_ARCH.deb, and its SHA-256 in
# launcher_VERSION_ARCH.deb.sha256 beside it. It installs
#
#   /usr/bin/launcher, /usr/bin/launcher-check   stripped (static PIEs: they need no library)
#   /usr/bin/launcher-pack                       the packer (bash)
#   /usr/share/man/man1/*.1.gz                   their manual pages
#   /usr/share/doc/launcher/                     copyright, changelog, the README, init.ini.example
#
# The same sources and programs give the same bytes on any host: every file's time is the release
# time (SOURCE_DATE_EPOCH, which the caller gives: pack-release.sh's), owners are 0, modes are set
# here, and the compressors write no name or time and use one thread.
#
# usage: pack-deb.sh --source DIR --launcher FILE --check FILE --pack FILE --strip STRIP
#                    --version VERSION --processor PROCESSOR --output DIR
set -euo pipefail
unset GZIP

usage() { sed -n 's/^# \{0,1\}//; /^usage:/,/^$/p' "$0" >&2; exit 2; }
die() { echo "pack-deb: $*" >&2; exit 1; }
source_dir='' launcher='' check='' pack='' strip='' version='' processor='' output=''
while (($#)); do
  (($# >= 2)) || usage
  case "$1" in
    --source) source_dir=$2 ;;
    --launcher) launcher=$2 ;;
    --check) check=$2 ;;
    --pack) pack=$2 ;;
    --strip) strip=$2 ;;
    --version) version=$2 ;;
    --processor) processor=$2 ;;
    --output) output=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[[ -n $source_dir && -n $launcher && -n $check && -n $pack && -n $strip && -n $version &&
   -n $processor && -n $output ]] || usage
[[ ${SOURCE_DATE_EPOCH:-} =~ ^[0-9]{1,11}$ ]] ||
  die "SOURCE_DATE_EPOCH is not a time in seconds since 1970: \"${SOURCE_DATE_EPOCH:-}\""
command -v dpkg-deb >/dev/null || die "dpkg-deb not found (Debian: dpkg)"
case $processor in
  x86_64) arch=amd64 ;;
  aarch64) arch=arm64 ;;
  *) die "no Debian architecture for the processor $processor" ;;
esac

name=launcher_${version}_$arch.deb
work=$(mktemp -d "$output/.$name.XXXXXX")
trap 'rm -rf "$work"' EXIT
root=$work/root
doc=$root/usr/share/doc/launcher
mkdir -p "$root/DEBIAN" "$root/usr/bin" "$root/usr/share/man/man1" "$doc" \
  "$root/usr/share/lintian/overrides"

"$strip" --strip-all -o "$root/usr/bin/launcher" "$launcher"
"$strip" --strip-all -o "$root/usr/bin/launcher-check" "$check"
cp "$pack" "$root/usr/bin/launcher-pack"
for page in launcher launcher-check launcher-pack; do
  gzip -n -9 <"$source_dir/doc/$page.1" >"$root/usr/share/man/man1/$page.1.gz"
done
gzip -n -9 <"$source_dir/README.md" >"$doc/README.md.gz"
cp "$source_dir/packaging/init.ini.example" "$source_dir/packaging/init.ini.example.txt" "$doc/"
cp "$source_dir/packaging/debian/copyright" "$doc/copyright"
{
  echo "launcher ($version) unstable; urgency=medium"
  echo
  echo "  * Version $version."
  echo
  echo " -- $(sed -n 's/^Maintainer: //p' "$source_dir/packaging/debian/control")  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")"
} | gzip -n -9 >"$doc/changelog.gz"
cp "$source_dir/packaging/debian/lintian-overrides" "$root/usr/share/lintian/overrides/launcher"

size=$(du -sk --apparent-size "$root/usr" | cut -f1)
sed "s/@VERSION@/$version/; s/@ARCH@/$arch/; /^Architecture:/a Installed-Size: $size" \
  "$source_dir/packaging/debian/control" >"$root/DEBIAN/control"
(cd "$root" && find usr -type f -print0 | LC_ALL=C sort -z | xargs -0 md5sum) >"$root/DEBIAN/md5sums"

find "$root" -type d -exec chmod u=rwx,go=rx,ug-s {} +  # and no set-group-ID bit, which a directory inherits
chmod 0755 "$root/usr/bin/"*
find "$root" -type f ! -path "$root/usr/bin/*" -exec chmod 0644 {} +
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
dpkg-deb --root-owner-group -Zxz --threads-max=1 --build "$root" "$work/$name" >/dev/null
mv "$work/$name" "$output/$name"
(cd "$output" && sha256sum "$name" >"$name.sha256")
echo "$output/$name"
