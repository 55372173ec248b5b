#!/usr/bin/env bash
# Packs the release archive NAME.tar.gz in OUTPUT, and its SHA-256 in NAME.tar.gz.sha256 beside
# it. The archive holds, below the directory TOP, the members listed below (the programs
# stripped: the launcher and launcher-check; launcher-pack, a bash program, as it is) and
# SHA256SUMS of them all. Then the Debian package launcher_VERSION_ARCH.deb, with its .sha256,
# made of the same files at the same release time (pack-deb.sh).
#
# The same sources and launcher give the same archive, byte for byte, on any host: every member's
# time is the release time, owners are 0, modes are set here (whatever the umask, the output
# directory's set-group-ID bit or its default ACL would give), members are in name order, gzip
# writes no name or time, and GZIP and TAR_OPTIONS in the environment are ignored. The release
# time is SOURCE_DATE_EPOCH when it is given, else the time of the last commit of the git
# checkout whose top directory is SOURCE; when neither can be had (an exported source tree, a
# checkout that git refuses to read), packing stops and says so: set SOURCE_DATE_EPOCH.
#
# usage: pack-release.sh --source DIR --launcher FILE --check FILE --pack FILE --strip STRIP
#                        --name NAME --top TOP --version VERSION --processor PROCESSOR
#                        --output DIR

set -euo pipefail
# The archive's bytes are this script's alone: the variables that gzip and tar take options from
# have no say.
unset GZIP TAR_OPTIONS

usage() { sed -n 's/^# \{0,1\}//; /^usage:/,/^$/p' "$0" >&2; exit 2; }
die() { echo "pack-release: $*" >&2; exit 1; }
source_dir='' launcher='' check='' pack='' strip='' name='' top='' version='' processor='' output=''
while (($#)); do
  (($# >= 2)) || usage
  case "$1" in
    --source) source_dir=$2 ;;
    --launcher) launcher=$2 ;;
    --check) check=$2 ;;
    --pack) pack=$2 ;;
    --version) version=$2 ;;
    --processor) processor=$2 ;;
    --strip) strip=$2 ;;
    --name) name=$2 ;;
    --top) top=$2 ;;
    --output) output=$2 ;;
    *) usage ;;
  esac
  shift 2
done
[[ -n $source_dir && -n $launcher && -n $check && -n $pack && -n $strip && -n $name && -n $top &&
   -n $version && -n $processor && -n $output ]] || usage

# The release time, in seconds since 1970.
release_time() {
  local advice="give the release time as SOURCE_DATE_EPOCH (seconds since 1970)"
  if [[ -n ${SOURCE_DATE_EPOCH:-} ]]; then
    [[ $SOURCE_DATE_EPOCH =~ ^[0-9]{1,11}$ ]] ||
      die "SOURCE_DATE_EPOCH is not a time in seconds since 1970: \"$SOURCE_DATE_EPOCH\""
    echo "$SOURCE_DATE_EPOCH"
    return
  fi
  local source_top checkout_top time
  source_top=$(cd "$source_dir" && pwd -P)
  checkout_top=$(git -C "$source_dir" rev-parse --show-toplevel 2>&1) ||
    die "no release time: git cannot read $source_top as a checkout" \
        "(${checkout_top//$'\n'/ }); $advice"
  # A source tree that is no checkout of its own may lie inside another repository, whose
  # commits are not its own.
  [[ $checkout_top == "$source_top" ]] ||
    die "no release time: $source_top is not a checkout of its own but lies inside the" \
        "checkout $checkout_top; $advice"
  { time=$(git -C "$source_dir" log -1 --format=%ct 2>&1) && [[ $time =~ ^[0-9]+$ ]]; } ||
    die "no release time: no last commit in $source_top (${time//$'\n'/ }); $advice"
  echo "$time"
}
epoch=$(release_time)

staging=$output/$name.staging
rm -rf "$staging"
mkdir -p "$staging/$top"
trap 'rm -rf "$staging"' EXIT
dir=$staging/$top
# Not u=rwx,go=rx alone: chmod keeps a directory's set-group-ID bit unless told otherwise, and
# the staging directory inherits it from an output directory that has it.
chmod u=rwx,go=rx,ug-s "$dir"

members=()
add() {  # NAME SOURCE MODE: adds SOURCE as NAME; a compiled program (mode 0755, ELF) is stripped
  if [[ $3 == 0755 && $(head -c4 "$2" | od -An -tx1 | tr -d ' ') == 7f454c46 ]]; then
    "$strip" --strip-all -o "$dir/$1" "$2"
  else
    cp "$2" "$dir/$1"
  fi
  chmod "$3" "$dir/$1"
  members+=("$1")
}
add launcher "$launcher" 0755
add launcher.1 "$source_dir/doc/launcher.1" 0644
add launcher-check "$check" 0755
add launcher-check.1 "$source_dir/doc/launcher-check.1" 0644
add launcher-pack "$pack" 0755
add launcher-pack.1 "$source_dir/doc/launcher-pack.1" 0644
add README.md "$source_dir/README.md" 0644
add init.ini.example "$source_dir/packaging/init.ini.example" 0644
add init.ini.example.txt "$source_dir/packaging/init.ini.example.txt" 0644

mapfile -t members < <(printf '%s\n' "${members[@]}" | LC_ALL=C sort -f)
(cd "$dir" && LC_ALL=C sha256sum "${members[@]}" >SHA256SUMS)
chmod 0644 "$dir/SHA256SUMS"

archive=$name.tar.gz
LC_ALL=C tar --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$epoch" \
  --format=gnu -C "$staging" -cf - "$top" | gzip -n -9 >"$staging/$archive"
mv "$staging/$archive" "$output/$archive"  # whole, or not at all: the staging directory goes
(cd "$output" && sha256sum "$archive" >"$archive.sha256")
echo "$output/$archive"

SOURCE_DATE_EPOCH=$epoch "$(dirname "${BASH_SOURCE[0]}")/pack-deb.sh" --source "$source_dir" \
  --launcher "$launcher" --check "$check" --pack "$pack" --strip "$strip" --version "$version" \
  --processor "$processor" --output "$output"
