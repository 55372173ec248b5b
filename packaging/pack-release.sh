#!/usr/bin/env bash
# Packs the release archive NAME.tar.gz in OUTPUT, and its SHA-256 in NAME.tar.gz.sha256 beside
# it. The archive holds, below the directory TOP: the stripped launcher and launcher-check, their
# manual pages, the README, an example init.ini with its commentary, and SHA256SUMS of those
# seven.
#
# The same sources and launcher give the same archive, byte for byte: every member's time is
# SOURCE_DATE_EPOCH (from the environment, else the time of the last commit, else that of
# CMakeLists.txt), owners are 0, modes are set here, members are in name order, and gzip writes
# no name or time.
#
# usage: pack-release.sh --source DIR --launcher FILE --check FILE --strip STRIP --name NAME
#                        --top TOP --output DIR
set -euo pipefail

usage() { sed -n 's/^# \{0,1\}//; /^usage:/,/^$/p' "$0" >&2; exit 2; }
source_dir= launcher= check= strip= name= top= output=
while (($#)); do
  (($# >= 2)) || usage
  case "$1" in
    --source) source_dir=$2 ;;
    --launcher) launcher=$2 ;;
    --check) check=$2 ;;
    --strip) strip=$2 ;;
    --name) name=$2 ;;
    --top) top=$2 ;;
    --output) output=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[[ -n $source_dir && -n $launcher && -n $check && -n $strip && -n $name && -n $top && -n $output ]] ||
  usage

if [[ -z ${SOURCE_DATE_EPOCH:-} ]]; then
  if git -C "$source_dir" rev-parse --git-dir >/dev/null 2>&1; then
    SOURCE_DATE_EPOCH=$(git -C "$source_dir" log -1 --format=%ct)
  else
    SOURCE_DATE_EPOCH=$(stat -c %Y "$source_dir/CMakeLists.txt")
  fi
fi

staging=$output/$name.staging
rm -rf "$staging"
mkdir -p "$staging/$top"
trap 'rm -rf "$staging"' EXIT
dir=$staging/$top

"$strip" --strip-all -o "$dir/launcher" "$launcher"
"$strip" --strip-all -o "$dir/launcher-check" "$check"
cp "$source_dir/doc/launcher.1" "$dir/launcher.1"
cp "$source_dir/doc/launcher-check.1" "$dir/launcher-check.1"
cp "$source_dir/README.md" "$dir/README.md"
cp "$source_dir/packaging/init.ini.example" "$dir/init.ini.example"
cp "$source_dir/packaging/init.ini.example.txt" "$dir/init.ini.example.txt"
chmod 0755 "$staging/$top" "$dir/launcher" "$dir/launcher-check"
chmod 0644 "$dir/launcher.1" "$dir/launcher-check.1" "$dir/README.md" "$dir/init.ini.example" \
  "$dir/init.ini.example.txt"
(cd "$dir" && LC_ALL=C sha256sum init.ini.example init.ini.example.txt launcher launcher-check \
  launcher-check.1 launcher.1 README.md >SHA256SUMS)
chmod 0644 "$dir/SHA256SUMS"

archive=$name.tar.gz
LC_ALL=C tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH" \
  --format=gnu -C "$staging" -cf - "$top" | gzip -n -9 >"$output/$archive.part"
mv "$output/$archive.part" "$output/$archive"
(cd "$output" && sha256sum "$archive" >"$archive.sha256")
echo "$output/$archive"
