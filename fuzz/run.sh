#!/usr/bin/env bash
# Builds a fuzz target with clang and runs it for a bounded time, starting from its committed
# corpus (left unchanged: new inputs go to a temporary directory). TARGET is settings (the settings
# reader, corpus fuzz/corpus, the default) or classes (launcher-check's readers of class files and
# JARs, corpus fuzz/corpus-classes).
# Usage: fuzz/run.sh BUILD_DIR [SECONDS] [RUNS] [TARGET]
# Ends non-zero when the fuzzer finds a failure; the input that failed is kept in BUILD_DIR.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run.sh BUILD_DIR [SECONDS] [RUNS] [TARGET]}
seconds=${2:-60}
runs=${3:-5000000}
target=${4:-settings}
case $target in
  settings) corpus=$here/corpus; max_len=4096; options=(-dict="$here/settings.dict") ;;
  classes) corpus=$here/corpus-classes; max_len=16384; options=() ;;
  *) echo "run.sh: no fuzz target $target (settings or classes)" >&2; exit 2 ;;
esac

clangxx=$(command -v clang++ || true)
if [[ -z $clangxx ]]; then
  echo "SKIPPED: clang++ is not installed (Debian packages clang and libclang-rt-14-dev)"
  exit 0
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$clangxx" >/dev/null
cmake --build "$build" --target "${target}_fuzz"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/new"
export TMPDIR=$work  # the target's own working directory goes there too, even after a crash
echo "corpus: $(find "$corpus" -type f | wc -l) committed inputs"
"$build/${target}_fuzz" -max_total_time="$seconds" -runs="$runs" -max_len="$max_len" -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/failure-$target-" \
  "${options[@]}" "$work/new" "$corpus"
echo "new inputs this run: $(find "$work/new" -type f | wc -l)"
