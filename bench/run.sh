#!/usr/bin/env bash
# Start-up benchmark: builds the launcher in release form and the benchmark's own programs, then
# measures the launcher against the floor (bench.py prints the table).
#
#   bench/run.sh [--iterations N] [--big-line-mb M] [--launcher NAME=PATH ...] [--keep]
#
# Other options are passed to bench.py (see bench.py --help). With --launcher, the given builds
# are measured as well as the one built here, all in the same run. Needs gcc, cmake, ninja,
# python3, valgrind and strace (Debian: g++ cmake ninja-build python3 valgrind strace).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${LAUNCHER_BENCH_BUILD:-$root/build/bench}
tools=$build/bench-tools

for tool in gcc cmake ninja python3 valgrind strace strip; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing" >&2; exit 2; }
done

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
  >/dev/null
cmake --build "$build" --target launcher -j2 >/dev/null

# The freestanding floor and the stand-in javas: no C library, no start files, static. The
# supported floor: the same floor on the system's C library, static-pie like the launcher.
mkdir -p "$tools"
freestanding=(-O2 -static -nostdlib -ffreestanding -fno-pie -no-pie -fno-stack-protector
              -fcf-protection=none -fno-asynchronous-unwind-tables -Wall -Wextra -Werror)
gcc "${freestanding[@]}" -o "$tools/floor" "$root/bench/floor.c"
gcc -O2 -DFLOOR_LIBC -fPIE -static-pie -Wall -Wextra -Werror -o "$tools/floor-libc" \
  "$root/bench/floor.c"
gcc "${freestanding[@]}" -o "$tools/exit0" "$root/bench/exit0.c"
gcc "${freestanding[@]}" -o "$tools/sleeper" "$root/bench/sleeper.c"
gcc -O2 -Wall -Wextra -Werror -o "$tools/harness" "$root/bench/harness.c"

exec python3 "$root/bench/bench.py" --tools "$tools" --launcher "launcher=$build/launcher" "$@"
