#!/usr/bin/env bash
# Start-up of applications packed by launcher-pack against the same applications packed by the
# JDK's packager, jpackage: builds the launcher, launcher-check and launcher-pack as they ship (in
# build/bench), then pack_bench.py packs a hello module and the JavaFX bundle example with both
# tools and starts them in interleaved pairs (see pack_bench.py --help).
#
#   bench/pack.sh [--iterations N] [--fx-iterations N] [--only hello|javafx] [--keep]
#
# Needs a JDK with jlink and jpackage, Debian's openjfx and libopenjfx-jni, Xvfb and python3
# (.ci/setup test installs them); about five minutes.
set -euo pipefail

main() {
  local root build javac jdk
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=${LAUNCHER_BENCH_BUILD:-$root/build/bench}
  for tool in cmake ninja python3 javac Xvfb; do
    command -v "$tool" >/dev/null || { echo "pack.sh: $tool is missing" >&2; exit 2; }
  done
  javac=$(readlink -f "$(command -v javac)")
  jdk=${javac%/bin/javac}
  [[ -x $jdk/bin/jpackage ]] || { echo "pack.sh: $jdk has no jpackage" >&2; exit 2; }

  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    >/dev/null
  cmake --build "$build" --target launcher launcher-check -j2 >/dev/null
  exec python3 "$root/bench/pack_bench.py" --source "$root" --build "$build" --jdk "$jdk" "$@"
}

main "$@"
