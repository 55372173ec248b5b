#!/usr/bin/env python3
"""Start-up of an application packed by launcher-pack against the same application packed by the
JDK's packager (jpackage --type app-image), in one run (see pack.sh, which builds what this needs).

Two applications:
  hello   a module of one class that prints a line and ends;
  javafx  the movable bundle example (examples/bundle: a JavaFX application on the class path and
          a library module of its own), which ends as soon as its first frame has been shown
          (BUNDLE_APP_FIRST_FRAME=exit), on a virtual display of its own (Xvfb).
Each is packed by both tools from the same compiled classes, with the tools' own defaults:
launcher-pack's runtime has its start-up (CDS) archive, and for the JavaFX application a training
run (--training-run) adds the classes it loads to it. Then both packed applications are started in
pairs, in random order within each pair, and the ratio of launcher-pack's time to jpackage's is
reported with a 95 % bootstrap interval, with the time and size of each pack.
"""

import argparse
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

# The goals: launcher-pack's start as a share of jpackage's, as the median of paired ratios.
GOALS = {"hello": 0.60, "javafx": 0.75}

HELLO_MODULE_INFO = "module hello { }\n"
HELLO_MAIN = """package hello;

public final class Main {
  public static void main(String[] args) {
    System.out.println("Hello from a packed module");
  }
}
"""


def run(args, **kwargs):
    return subprocess.run(args, check=True, capture_output=True, text=True, **kwargs)


def timed(args, **kwargs):
    start = time.perf_counter()
    run(args, **kwargs)
    return time.perf_counter() - start


def size_of(path):
    total = 0
    for directory, _, files in os.walk(path):
        for name in files:
            full = os.path.join(directory, name)
            if not os.path.islink(full):
                total += os.path.getsize(full)
    return total


def cds_archives(path):
    """The start-up archives below `path` and their total size."""
    found = []
    for directory, _, files in os.walk(path):
        found += [os.path.join(directory, name) for name in files if name.endswith(".jsa")]
    return found, sum(os.path.getsize(archive) for archive in found)


class Display:
    """A virtual X display of its own (Xvfb), for the JavaFX application."""

    def __init__(self):
        read_end, write_end = os.pipe()
        self.server = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-nolisten", "tcp", "-screen", "0",
             "1280x1024x24"], pass_fds=(write_end,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_end)
        with os.fdopen(read_end) as number:
            self.name = ":" + number.readline().strip()
        if self.name == ":":
            raise SystemExit("pack_bench: Xvfb did not start")

    def close(self):
        self.server.terminate()
        self.server.wait()


class Bench:
    def __init__(self, options):
        self.options = options
        self.work = options.work
        self.jdk = options.jdk
        self.launcher_pack = os.path.join(options.build, "launcher-pack")
        self.javac = os.path.join(self.jdk, "bin", "javac")
        self.jar = os.path.join(self.jdk, "bin", "jar")
        self.jpackage = os.path.join(self.jdk, "bin", "jpackage")
        self.rows = []

    def compile_hello(self):
        source = os.path.join(self.work, "hello-src")
        os.makedirs(os.path.join(source, "hello"))
        with open(os.path.join(source, "module-info.java"), "w") as out:
            out.write(HELLO_MODULE_INFO)
        with open(os.path.join(source, "hello", "Main.java"), "w") as out:
            out.write(HELLO_MAIN)
        classes = os.path.join(self.work, "hello-classes")
        run([self.javac, "-d", classes, os.path.join(source, "module-info.java"),
             os.path.join(source, "hello", "Main.java")])
        modules = os.path.join(self.work, "hello-modules")
        os.makedirs(modules)
        run([self.jar, "--create", "--file", os.path.join(modules, "hello.jar"), "--main-class",
             "hello.Main", "-C", classes, "."])
        return modules

    def compile_javafx(self):
        example = os.path.join(self.options.source, "examples", "bundle")
        words = os.path.join(self.work, "fx-words")
        run([self.javac, "-d", words, os.path.join(example, "words", "module-info.java"),
             os.path.join(example, "words", "bundle", "words", "Words.java")])
        modules = os.path.join(self.work, "fx-modules")
        os.makedirs(modules)
        run([self.jar, "--create", "--file", os.path.join(modules, "bundle.words.jar"), "-C",
             words, "."])
        classes = os.path.join(self.work, "fx-classes")
        run([self.javac, "--module-path", self.options.openjfx + ":" + modules, "--add-modules",
             "javafx.controls,bundle.words", "-d", classes,
             os.path.join(example, "app", "bundle", "app", "BundleApp.java"),
             os.path.join(example, "app", "bundle", "app", "GreetingScene.java")])
        # jpackage takes the classes of a class-path application as a JAR in its input directory.
        jar_input = os.path.join(self.work, "fx-input")
        os.makedirs(jar_input)
        run([self.jar, "--create", "--file", os.path.join(jar_input, "bundle-app.jar"), "-C",
             classes, "."])
        return classes, modules, jar_input

    def pack(self, name, launcher_pack_args, jpackage_args, env):
        ours = os.path.join(self.work, "launcher-pack")
        theirs = os.path.join(self.work, "jpackage")
        os.makedirs(ours, exist_ok=True)
        ours_time = timed([self.launcher_pack, "--name", name, "--jdk", self.jdk, "--dest", ours] +
                          launcher_pack_args, env=env)
        theirs_time = timed([self.jpackage, "--type", "app-image", "--name", name, "--dest",
                             theirs] + jpackage_args, env=env)
        return (os.path.join(ours, name), ours_time), (os.path.join(theirs, name), theirs_time)

    def measure(self, name, ours, theirs, env, expect, iterations):
        """Paired starts: returns the list of (ours, theirs) times in seconds."""
        start_ours = {"args": ["./launcher"], "cwd": ours}
        start_theirs = {"args": [os.path.join(theirs, "bin", name)], "cwd": self.work}
        for start in (start_ours, start_theirs):
            out = run(start["args"], cwd=start["cwd"], env=env).stdout
            if expect not in out:
                raise SystemExit(f"pack_bench: {start['args'][0]} wrote {out!r}, not {expect!r}")
        pairs = []
        for iteration in range(iterations + self.options.warmup):
            order = [("ours", start_ours), ("theirs", start_theirs)]
            random.shuffle(order)
            times = {}
            for who, start in order:
                times[who] = timed(start["args"], cwd=start["cwd"], env=env)
            if iteration >= self.options.warmup:
                pairs.append((times["ours"], times["theirs"]))
        return pairs

    def report(self, name, pairs, ours, theirs):
        ratios = [a / b for a, b in pairs]
        median = statistics.median(ratios)
        resampled = sorted(
            statistics.median(random.choices(ratios, k=len(ratios))) for _ in range(2000))
        low, high = resampled[int(0.025 * len(resampled))], resampled[int(0.975 * len(resampled))]
        ours_ms = statistics.median(a for a, _ in pairs) * 1000
        theirs_ms = statistics.median(b for _, b in pairs) * 1000
        _, ours_cds = cds_archives(ours[0])
        _, theirs_cds = cds_archives(theirs[0])
        self.rows.append({
            "name": name, "iterations": len(pairs), "ours_ms": ours_ms, "theirs_ms": theirs_ms,
            "ratio": median, "low": low, "high": high, "goal": GOALS[name],
            "ours_pack_s": ours[1], "theirs_pack_s": theirs[1],
            "ours_mb": size_of(ours[0]) / 1e6, "theirs_mb": size_of(theirs[0]) / 1e6,
            "ours_cds_mb": ours_cds / 1e6, "theirs_cds_mb": theirs_cds / 1e6})

    def print_table(self):
        print("| application | launcher-pack, median | jpackage, median | x jpackage (95 %) | goal "
              "| pack time: launcher-pack / jpackage | size: launcher-pack (of it CDS) / "
              "jpackage |")
        print("|---|---|---|---|---|---|---|")
        for row in self.rows:
            met = "met" if row["high"] <= row["goal"] else (
                "not met" if row["low"] > row["goal"] else "undecided")
            print(f"| {row['name']} ({row['iterations']} pairs) | {row['ours_ms']:.0f} ms | "
                  f"{row['theirs_ms']:.0f} ms | {row['ratio']:.2f} ({row['low']:.2f}-"
                  f"{row['high']:.2f}) | <= {row['goal']:.2f}: {met} | "
                  f"{row['ours_pack_s']:.1f} s / {row['theirs_pack_s']:.1f} s | "
                  f"{row['ours_mb']:.1f} MB ({row['ours_cds_mb']:.1f} MB) / "
                  f"{row['theirs_mb']:.1f} MB |")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--source", required=True, help="the project's source directory")
    parser.add_argument("--build", required=True,
                        help="a build directory with launcher, launcher-check and launcher-pack")
    parser.add_argument("--jdk", required=True, help="the JDK both tools use")
    parser.add_argument("--openjfx", default="/usr/share/openjfx/lib")
    parser.add_argument("--iterations", type=int, default=40, help="pairs for hello")
    parser.add_argument("--fx-iterations", type=int, default=20, help="pairs for javafx")
    parser.add_argument("--warmup", type=int, default=3, help="pairs run first and not counted")
    parser.add_argument("--only", choices=["hello", "javafx"], help="one application alone")
    parser.add_argument("--keep", action="store_true", help="keep the work directory")
    options = parser.parse_args()

    for tool in ("Xvfb",) if options.only != "hello" else ():
        if shutil.which(tool) is None:
            raise SystemExit(f"pack_bench: {tool} is missing (Debian: xvfb)")
    options.work = tempfile.mkdtemp(prefix="pack-bench-")
    bench = Bench(options)
    display = None
    # The packed applications need no Java on PATH; the tools get the JDK named.
    env = {"PATH": "/usr/bin:/bin", "HOME": options.work, "LC_ALL": "C.UTF-8"}
    try:
        if options.only in (None, "hello"):
            modules = bench.compile_hello()
            ours, theirs = bench.pack(
                "hello", ["--main-class", "hello.Main", "--module-path", modules],
                ["--module-path", modules, "--module", "hello/hello.Main"], env)
            pairs = bench.measure("hello", ours[0], theirs[0], env, "Hello from a packed module",
                                  options.iterations)
            bench.report("hello", pairs, ours, theirs)
        if options.only in (None, "javafx"):
            display = Display()
            fx_env = dict(env, DISPLAY=display.name)
            classes, modules, jar_input = bench.compile_javafx()
            ours, theirs = bench.pack(
                "javafx",
                ["--main-class", "bundle.app.BundleApp", "--input", classes, "--module-path",
                 modules, "--javafx-modules", options.openjfx, "--training-run"],
                ["--input", jar_input, "--main-jar", "bundle-app.jar", "--main-class",
                 "bundle.app.BundleApp", "--module-path", options.openjfx + ":" + modules,
                 "--add-modules", "javafx.controls,bundle.words"], fx_env)
            pairs = bench.measure("javafx", ours[0], theirs[0],
                                  dict(fx_env, BUNDLE_APP_FIRST_FRAME="exit"),
                                  "BundleApp showed its first frame", options.fx_iterations)
            bench.report("javafx", pairs, ours, theirs)
        bench.print_table()
    except subprocess.CalledProcessError as error:
        sys.stderr.write(f"pack_bench: {' '.join(error.cmd)} ended with {error.returncode}:\n"
                         f"{error.stdout}{error.stderr}")
        return 1
    finally:
        if display is not None:
            display.close()
        if options.keep:
            print(f"(kept {options.work})")
        else:
            shutil.rmtree(options.work, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
