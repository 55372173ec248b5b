#!/usr/bin/env bash
# Benchmark of launcher-check's reading of the application's classes and module path: builds
# bench/classes_bench.cc as the check ships (RelWithDebInfo, in build/bench) and times it on
#   1. a JavaFX application (a button) with Debian's JavaFX modules, javafx.controls added: the
#      walk goes through JavaFX's own classes;
#   2. the same with only javafx.graphics added: the walk stops at the missing module;
#   3. a hostile class directory: a package of 50,000 files, symbolic links that lead back up,
#      and the main class missing, so nothing but the bounds stops the listing;
#   4. a launcher dropped into /: the class directory is the root of the file system.
#
#   bench/classes.sh [REPEATS]      (default 20; needs javac and Debian's openjfx)
set -euo pipefail

main() {
  local root build repeats openjfx
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
  build=${LAUNCHER_BENCH_BUILD:-$root/build/bench}
  repeats=${1:-20}
  openjfx=/usr/share/openjfx/lib
  command -v javac >/dev/null || { echo "classes.sh: javac is missing" >&2; exit 2; }
  [[ -f $openjfx/javafx.controls.jar ]] || { echo "classes.sh: $openjfx is missing" >&2; exit 2; }

  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF \
    >/dev/null
  cmake --build "$build" --target classes_bench -j2 >/dev/null

  work=$(mktemp -d)  # global: the exit trap removes it
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/src/hello" "$work/app"
  cat >"$work/src/hello/HelloFx.java" <<'JAVA'
package hello;

import javafx.application.Application;
import javafx.scene.Scene;
import javafx.scene.control.Button;
import javafx.stage.Stage;

public class HelloFx extends Application {
  @Override
  public void start(Stage stage) {
    stage.setScene(new Scene(new Button("Hello")));
    stage.show();
  }

  public static void main(String[] args) {
    launch(args);
  }
}
JAVA
  javac --module-path "$openjfx" --add-modules javafx.controls -d "$work/app" \
    "$work/src/hello/HelloFx.java"

  mkdir -p "$work/hostile/app/big" "$work/empty"
  (cd "$work/hostile/app/big" && seq 1 50000 | sed 's/$/.txt/' | xargs touch)
  ln -s "$work/hostile" "$work/hostile/app/up"
  ln -s "$work/hostile/app" "$work/hostile/app/big/again"

  echo "1. JavaFX application, javafx.controls added"
  "$build/classes_bench" "$openjfx" javafx.controls "$work/app" hello.HelloFx "$repeats"
  echo "2. JavaFX application, javafx.graphics added"
  "$build/classes_bench" "$openjfx" javafx.graphics "$work/app" hello.HelloFx "$repeats"
  echo "3. hostile class directory (50,000 files in a package, links back up)"
  "$build/classes_bench" "$work/empty" "" "$work/hostile" app.big.Main "$repeats"
  echo "4. the class directory is /"
  "$build/classes_bench" "$work/empty" "" / Main 3
}

main "$@"
