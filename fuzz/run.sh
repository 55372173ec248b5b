#!/usr/bin/env bash
# Builds the settings reader's fuzz target with clang and runs it for a bounded time, starting
# from the committed corpus (fuzz/corpus, left unchanged: new inputs go to a temporary directory).
# Usage: fuzz/run.sh BUILD_DIR [SECONDS] [RUNS]
# Ends non-zero when the fuzzer finds a failure; the input that failed is kept in BUILD_DIR.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:?usage: run.sh BUILD_DIR [SECONDS] [RUNS]}
seconds=${2:-60}
runs=${3:-5000000}

clangxx=$(command -v clang++ || true)
if [[ -z $clangxx ]]; then
  echo "SKIPPED: clang++ is not installed (Debian packages clang and libclang-rt-14-dev)"
  exit 0
fi

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER="$clangxx" >/dev/null
cmake --build "$build"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/new"
export TMPDIR=$work  # the target's own working directory goes there too, even after a crash
echo "corpus: $(find "$here/corpus" -type f | wc -l) committed inputs"
"$build/settings_fuzz" -max_total_time="$seconds" -runs="$runs" -max_len=4096 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/failure-" \
  -dict="$here/settings.dict" \
  "$work/new" "$here/corpus"
echo "new inputs this run: $(find "$work/new" -type f | wc -l)"
