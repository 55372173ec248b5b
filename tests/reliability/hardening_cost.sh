#!/usr/bin/env bash
# What each protection of the hardened build costs: builds the launcher once as shipped and once
# without each protection (LAUNCHER_HARDENING_EXCLUDE), then measures in one run, interleaved in
# random order on every round so that the machine's drift falls on all alike:
#   size     the stripped executable's file size and its text + data + bss
#   start    the median wall time of one launch (launcher, init.ini, a static java that exits)
# A measurement, not a test: nothing is asserted.
# Usage: tests/reliability/hardening_cost.sh [ROUNDS] [WORK_DIR]
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
rounds=${1:-400}
work=${2:-$(mktemp -d)}
mkdir -p "$work"

variants=(shipped pie now "relro;now" stack-protector fortify stack-clash cet
          "pie;relro;now;stack-protector;fortify;stack-clash;cet")
names=()
for variant in "${variants[@]}"; do
  case $variant in
    shipped) name=shipped ;;
    "pie;relro;now;stack-protector;fortify;stack-clash;cet") name=none ;;
    *) name="without-${variant//;/+}" ;;
  esac
  exclude=$([[ $variant == shipped ]] && echo "" || echo "$variant")
  build="$work/build-$name"
  if cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
       "-DLAUNCHER_HARDENING_EXCLUDE=$exclude" >/dev/null &&
     cmake --build "$build" --target launcher >"$build.log" 2>&1; then
    strip -o "$work/$name" "$build/launcher"
    names+=("$name")
  else
    echo "$name: does not build (see $build.log)"
  fi
done

# The application: init.ini names a Java home whose bin/java is a static program that exits.
app="$work/app"
mkdir -p "$app/jdk/bin"
printf 'int main(void) { return 0; }\n' | gcc -O2 -static -x c - -o "$app/jdk/bin/java"
printf '%s\n' "$app/jdk" /opt/modules mod.a,mod.b app.Main >"$app/init.ini"

python3 - "$work" "$app" "$rounds" "${names[@]}" <<'EOF'
import os, random, statistics, subprocess, sys, time

work, app, rounds, names = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4:]
programs = {name: os.path.join(work, name) for name in names}
programs["java-directly"] = os.path.join(app, "jdk/bin/java")
times = {name: [] for name in programs}
devnull = os.open(os.devnull, os.O_RDWR)
os.chdir(app)  # the launcher reads init.ini from its working directory
for _ in range(rounds):
    order = list(programs)
    random.shuffle(order)
    for name in order:
        start = time.perf_counter_ns()
        pid = os.posix_spawn(programs[name], [programs[name]], {"PATH": "/usr/bin:/bin"},
                             file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 0),
                                           (os.POSIX_SPAWN_DUP2, devnull, 1)])
        os.waitpid(pid, 0)
        times[name].append(time.perf_counter_ns() - start)

def quartiles(values):
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]

print(f"{'variant':30} {'file':>7} {'text+data+bss':>14} {'median start':>13} "
      f"{'paired change vs shipped: median (quartiles)':>46}")
for name in programs:
    median = statistics.median(times[name])
    if name == "java-directly":
        size = total = "-"
    else:
        size = os.path.getsize(programs[name])
        fields = subprocess.run(["size", programs[name]], capture_output=True, text=True).stdout
        total = fields.splitlines()[1].split()[3]
    change = "-"
    if "shipped" in times and name != "shipped":
        # Round by round, so that the drift of the machine cancels.
        deltas = [a - b for a, b in zip(times[name], times["shipped"])]
        low, high = quartiles(deltas)
        change = (f"{statistics.median(deltas) / 1000:+.1f} us "
                  f"({low / 1000:+.1f} .. {high / 1000:+.1f})")
    print(f"{name:30} {size:>7} {total:>14} {median / 1000:>10.1f} us {change:>46}")
EOF
