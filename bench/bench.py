#!/usr/bin/env python3
"""Start-up cost of the launcher against the floor (see run.sh, which builds what this needs).

Measures, in one run, the launcher (or several builds of it, to compare), the two floor programs
and the direct start of a trivial java, in two scenarios: with a four-line init.ini and without
one. The floor (bench/floor.c) is the launcher's work and nothing else, built twice: on the
system's C library as the launcher is ("floor-libc", the supported floor, which the goals are
measured against) and freestanding, without any C library ("floor").
Times are interleaved in random order on every iteration; the ratio of launch overheads comes
with a bootstrap interval over iterations. Instructions (callgrind, the measured process only),
system calls (strace, the measured process only) and memory while the child sleeps are counted
once each: they do not drift. Finally a long first line in init.ini is read at three sizes.
"""

import argparse
import collections
import os
import random
import re
import shutil
import statistics
import subprocess
import sys
import tempfile

SCENARIOS = [("init", "with init.ini (4 lines)"), ("noinit", "without init.ini (tolerated failure)")]

# The floors: the supported one (on the system's C library), which the goals are measured against,
# and the freestanding one.
FLOOR = "floor-libc"
FREESTANDING = "floor"
FLOORS = (FREESTANDING, FLOOR)

# The goals, as ratios to the supported floor in the same run, and absolute memory limits.
GOAL_TIME_RATIO = 1.10
GOAL_ANONYMOUS_KB = 96
GOAL_PEAK_KB = 1024
GOAL_BIG_LINE_PEAK_RATIO = 2.0
# Two whole copies of the line come to a little more than twice its size (whole pages, and the
# small blocks a value passes through while it grows): that little is allowed.
BIG_LINE_ROUNDING = 0.01


def run(args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kwargs)


class Setup:
    """The temporary application directories."""

    def __init__(self, root, tools, launchers):
        self.root = root
        self.app = os.path.join(root, "app")  # launchers, floor, init.ini, jdk/bin/java (exits)
        self.elsewhere = os.path.join(root, "noinit")  # the working directory without init.ini
        self.sleep_app = os.path.join(root, "sleep")  # the same with a java that sleeps
        self.sleep_elsewhere = os.path.join(root, "sleep-noinit")
        for directory in (self.app, self.elsewhere, self.sleep_app, self.sleep_elsewhere):
            os.makedirs(directory)
        self.java = self.install(tools, "exit0", os.path.join(self.app, "jdk", "bin", "java"))
        self.install(tools, "sleeper", os.path.join(self.sleep_app, "jdk", "bin", "java"))
        self.programs = collections.OrderedDict()
        for floor in FLOORS:
            self.programs[floor] = self.install(tools, floor, os.path.join(self.app, floor))
        for name, path in launchers:
            self.programs[name] = self.install(os.path.dirname(path), os.path.basename(path),
                                               os.path.join(self.app, name))
        for base in (self.app, self.sleep_app):
            self.write_settings(base, os.path.join(base, "jdk"))
        self.path = {"": os.path.join(self.app, "jdk", "bin") + ":/usr/bin:/bin",
                     "sleep": os.path.join(self.sleep_app, "jdk", "bin") + ":/usr/bin:/bin"}

    @staticmethod
    def install(directory, name, target):
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(directory, name), target)
        return target

    @staticmethod
    def write_settings(directory, java_home, first_line=None):
        with open(os.path.join(directory, "init.ini"), "wb") as file:
            file.write(first_line if first_line is not None else java_home.encode())
            file.write(b"\n" + os.path.join(directory, "modules").encode() + b"\ndemo.greeting\nMain\n")

    def directory(self, scenario, sleeping=False):
        if sleeping:
            return self.sleep_app if scenario == "init" else self.sleep_elsewhere
        return self.app if scenario == "init" else self.elsewhere

    def env(self, sleeping=False):
        return {"PATH": self.path["sleep" if sleeping else ""], "LC_ALL": "C"}


def median(values):
    return statistics.median(values)


def quartiles(values):
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]


def time_commands(setup, harness, iterations, warmup, seed):
    """Returns {(program, scenario): [ns per iteration]} and the direct start's list."""
    list_file = os.path.join(setup.root, "commands.txt")
    with open(list_file, "w") as file:
        file.write(f"direct\t{setup.app}\t{setup.java}\n")
        for program, path in setup.programs.items():
            for scenario, _ in SCENARIOS:
                file.write(f"{program}/{scenario}\t{setup.directory(scenario)}\t{path}\n")
    out = run([harness, "time", str(iterations), str(warmup), str(seed), list_file],
              env=setup.env()).stdout
    samples = collections.defaultdict(list)
    for line in out.splitlines():
        name, ns = line.split()
        samples[name].append(int(ns))
    return samples


def bootstrap_ratio(samples, numerator, denominator, direct, rounds, rng):
    """Interval (2.5 %, 97.5 %) of the ratio of overheads, resampling whole iterations."""
    n = len(samples[direct])
    ratios = []
    for _ in range(rounds):
        picks = [rng.randrange(n) for _ in range(n)]
        base = median([samples[direct][i] for i in picks])
        top = median([samples[numerator][i] for i in picks]) - base
        bottom = median([samples[denominator][i] for i in picks]) - base
        if bottom > 0:
            ratios.append(top / bottom)
    ratios.sort()
    if not ratios:
        return float("nan"), float("nan")
    return ratios[int(0.025 * len(ratios))], ratios[int(0.975 * len(ratios)) - 1]


def instructions(setup, program, scenario, work):
    """User-space instructions of the process itself (not its child), from callgrind."""
    out_file = os.path.join(work, "callgrind.out")
    if os.path.exists(out_file):
        os.remove(out_file)
    run(["valgrind", "--tool=callgrind", "--trace-children=no", "--callgrind-out-file=" + out_file,
         program], cwd=setup.directory(scenario), env=setup.env(), stdin=subprocess.DEVNULL)
    with open(out_file) as file:
        for line in file:
            if line.startswith("summary:") or line.startswith("totals:"):
                return int(line.split()[1])
    raise RuntimeError("no callgrind summary for " + program)


def system_calls(setup, program, scenario, work):
    """The system calls of the process itself (strace without -f), as name -> count."""
    out_file = os.path.join(work, "strace.out")
    run(["strace", "-o", out_file, program], cwd=setup.directory(scenario), env=setup.env(),
        stdin=subprocess.DEVNULL)
    counts = collections.Counter()
    with open(out_file) as file:
        for line in file:
            match = re.match(r"([a-z_0-9]+)\(", line)
            if match:
                counts[match.group(1)] += 1
    return counts


def memory(setup, harness, program, scenario):
    out = run([harness, "memory", setup.directory(scenario, sleeping=True), program],
              env=setup.env(sleeping=True)).stdout
    rss, anonymous, private, hwm = (int(v) for v in out.split())
    return {"rss": rss, "anon": anonymous, "private": private, "hwm": hwm}


def stripped_size(path, work):
    target = os.path.join(work, "stripped")
    run(["strip", "-o", target, path])
    return os.path.getsize(target)


def big_line(setup, harness, program, megabytes, work):
    """Runs `program` with a first line of `megabytes` MB; returns seconds, peak kB and status."""
    directory = os.path.join(work, "big")
    os.makedirs(directory, exist_ok=True)
    size = megabytes * 1000 * 1000
    with open(os.path.join(directory, "init.ini"), "wb") as file:
        file.write(b"a" * size + b"\nmodules\ndemo.greeting\nMain\n")
    err_file = os.path.join(directory, "stderr")
    out = run([harness, "peak", directory, program, err_file], env=setup.env()).stdout
    ns, peak_kb, code, signal = (int(v) for v in out.split())
    with open(err_file, "rb") as file:
        head = file.read(200)
    err_size = os.path.getsize(err_file)
    os.remove(err_file)
    reported = head.startswith(b"An unhandled exception occurred at $")
    return {"seconds": ns / 1e9, "peak_kb": peak_kb, "size": size, "code": code,
            "signal": signal, "reported": reported, "err_size": err_size,
            "line2": head.split(b"\n")[1][:60].decode(errors="replace") if b"\n" in head else ""}


def fmt_ratio(value):
    return f"{value:5.2f}" if value == value else "  n/a"


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--tools", required=True,
                        help="directory with harness, floor, floor-libc, exit0, sleeper")
    parser.add_argument("--launcher", action="append", required=True, metavar="NAME=PATH",
                        help="a launcher build to measure (repeatable)")
    parser.add_argument("--iterations", type=int, default=1500)
    parser.add_argument("--warmup", type=int, default=50)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--bootstrap", type=int, default=300)
    parser.add_argument("--big-line-mb", type=int, default=100,
                        help="largest first line of the long-line test, in MB (0: skip the test)")
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory")
    options = parser.parse_args()

    launchers = []
    for entry in options.launcher:
        name, _, path = entry.partition("=")
        launchers.append((name, os.path.abspath(path)) if path else ("launcher", os.path.abspath(name)))
    seed = options.seed if options.seed is not None else random.SystemRandom().randrange(1 << 31)
    harness = os.path.join(options.tools, "harness")
    root = tempfile.mkdtemp(prefix="launcher-bench-")
    try:
        setup = Setup(root, options.tools, launchers)
        names = list(setup.programs)
        print(f"# {options.iterations} iterations (after {options.warmup} warm-up), seed {seed}, "
              f"{len(names) * 2 + 1} commands interleaved in random order", flush=True)
        samples = time_commands(setup, harness, options.iterations, options.warmup, seed)

        work = os.path.join(root, "work")
        os.makedirs(work)
        static = {}
        for program, path in setup.programs.items():
            static[program] = {"size": os.path.getsize(path), "stripped": stripped_size(path, work)}
            for scenario, _ in SCENARIOS:
                static[(program, scenario)] = {
                    "instructions": instructions(setup, path, scenario, work),
                    "syscalls": system_calls(setup, path, scenario, work),
                    "memory": memory(setup, harness, path, scenario),
                }

        rng = random.Random(seed)
        direct = samples["direct"]
        direct_median = median(direct)
        lo, hi = quartiles(direct)
        print(f"\ndirect start of the trivial java: median {direct_median / 1e6:.3f} ms "
              f"(IQR {lo / 1e6:.3f}-{hi / 1e6:.3f})")
        verdicts = []
        for scenario, title in SCENARIOS:
            print(f"\n## {title}")
            header = (f"{'command':<14} {'median ms':>9} {'IQR ms':>13} {'overhead ms':>11} "
                      f"{'x floor':>7} {'95% interval':>13} {'x freest.':>9} {'instructions':>12} "
                      f"{'x floor':>7} {'syscalls':>8} {'anon kB':>7} {'private kB':>10} "
                      f"{'RSS kB':>6} {'peak kB':>7} {'size B':>8} {'stripped':>8}")
            print(header)
            print("-" * len(header))
            overheads = {floor: median(samples[f"{floor}/{scenario}"]) - direct_median
                         for floor in FLOORS}
            floor_instructions = static[(FLOOR, scenario)]["instructions"]
            for program in names:
                key = f"{program}/{scenario}"
                values = samples[key]
                m = median(values)
                q1, q3 = quartiles(values)
                overhead = m - direct_median
                ratio, freestanding_ratio = (
                    overhead / overheads[floor] if overheads[floor] > 0 else float("nan")
                    for floor in (FLOOR, FREESTANDING))
                if program == FLOOR:
                    interval = ""
                else:
                    low, high = bootstrap_ratio(samples, key, f"{FLOOR}/{scenario}", "direct",
                                                options.bootstrap, rng)
                    interval = f"{low:.2f}-{high:.2f}"
                info = static[(program, scenario)]
                count = info["instructions"]
                mem = info["memory"]
                print(f"{program:<14} {m / 1e6:9.3f} {q1 / 1e6:6.3f}-{q3 / 1e6:6.3f} "
                      f"{overhead / 1e6:11.3f} {fmt_ratio(ratio):>7} {interval:>13} "
                      f"{fmt_ratio(freestanding_ratio):>9} {count:12,d} "
                      f"{count / floor_instructions:7.1f} {sum(info['syscalls'].values()):8d} "
                      f"{mem['anon']:7d} {mem['private']:10d} {mem['rss']:6d} {mem['hwm']:7d} "
                      f"{static[program]['size']:8d} {static[program]['stripped']:8d}")
                if program not in FLOORS:
                    verdicts.append((program, scenario, ratio, interval, mem))

        print("\n## system calls of each command (strace, the measured process only)")
        for program in names:
            for scenario, _ in SCENARIOS:
                calls = static[(program, scenario)]["syscalls"]
                listed = " ".join(f"{name}:{n}" for name, n in sorted(calls.items()))
                print(f"{program + '/' + scenario:<22} {listed}")

        big = {}
        if options.big_line_mb > 0:
            sizes = sorted({max(1, options.big_line_mb // 4), max(1, options.big_line_mb // 2),
                            options.big_line_mb})
            print(f"\n## a long first line in init.ini (ends in the failure report)")
            print("(growth: peak resident memory above the launcher's peak in a normal run, per byte"
                  " of the line)")
            print(f"{'command':<14} {'MB':>5} {'seconds':>8} {'ns/byte':>8} {'peak MB':>8} "
                  f"{'peak/size':>9} {'growth':>6} {'exit':>4}  report line 2")
            for program in names:
                if program in FLOORS:
                    continue
                for megabytes in sizes:
                    result = big_line(setup, harness, setup.programs[program], megabytes, work)
                    base_kb = static[(program, "init")]["memory"]["hwm"]
                    result["growth"] = (result["peak_kb"] - base_kb) * 1024 / result["size"]
                    big[(program, megabytes)] = result
                    print(f"{program:<14} {megabytes:5d} {result['seconds']:8.3f} "
                          f"{result['seconds'] * 1e9 / result['size']:8.2f} "
                          f"{result['peak_kb'] / 1000:8.1f} "
                          f"{result['peak_kb'] * 1024 / result['size']:9.3f} "
                          f"{result['growth']:6.4f} "
                          f"{result['code'] if not result['signal'] else 'sig' + str(result['signal']):>4}"
                          f"  {result['line2']}")

        print("\n## goals")
        for program, scenario, ratio, interval, mem in verdicts:
            goals = [
                (f"time x{ratio:.2f} (95 % {interval}) of the supported floor <= {GOAL_TIME_RATIO}",
                 ratio <= GOAL_TIME_RATIO),
                (f"anonymous {mem['anon']} kB <= {GOAL_ANONYMOUS_KB}", mem["anon"] <= GOAL_ANONYMOUS_KB),
                (f"peak RSS {mem['hwm']} kB <= {GOAL_PEAK_KB}", mem["hwm"] <= GOAL_PEAK_KB),
            ]
            text = "; ".join(f"{label} {'met' if ok else 'NOT MET'}" for label, ok in goals)
            print(f"{program}/{scenario}: {text}")
        for program in names:
            runs = [big[key] for key in big if key[0] == program]
            if not runs:
                continue
            largest = max(runs, key=lambda r: r["size"])
            smallest = min(runs, key=lambda r: r["size"])
            linear = (largest["seconds"] / largest["size"]) / (smallest["seconds"] / smallest["size"])
            ok_end = all(r["reported"] and r["code"] == 217 and not r["signal"] for r in runs)
            growth = largest["growth"]
            print(f"{program}/long line: time per byte at {largest['size'] // 10**6} MB is "
                  f"x{linear:.2f} that at {smallest['size'] // 10**6} MB (linear: about 1) "
                  f"{'met' if linear < 1.5 else 'NOT MET'}; memory for the line x{growth:.4f} of "
                  f"its size <= {GOAL_BIG_LINE_PEAK_RATIO:g} (two copies; +{BIG_LINE_ROUNDING:g} "
                  f"for whole pages) "
                  f"{'met' if growth <= GOAL_BIG_LINE_PEAK_RATIO + BIG_LINE_ROUNDING else 'NOT MET'}; "
                  f"failure report and exit 217 {'met' if ok_end else 'NOT MET'}")
    finally:
        if options.keep:
            print(f"\n(kept {root})")
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
