#!/usr/bin/env bash
# Makes the committed seed inputs of the classes fuzz target (fuzz/corpus-classes) with the JDK's
# javac and jar: a class file with a main method, a module descriptor with the attributes jar adds
# (ModulePackages, ModuleMainClass), and a small modular JAR deflated and stored.
# Usage: fuzz/make-classes-corpus.sh   (needs javac and jar on PATH; replaces the seeds)
set -euo pipefail

main() {
  local here corpus
  here=$(cd "$(dirname "$0")" && pwd)
  corpus=$here/corpus-classes
  work=$(mktemp -d)  # global: the exit trap removes it
  trap 'rm -rf "$work"' EXIT

  mkdir -p "$work/src/app" "$work/classes" "$work/unpacked"
  cat >"$work/src/module-info.java" <<'JAVA'
module app.core {
  requires java.sql;
  requires static java.desktop;
  exports app;
  uses java.sql.Driver;
  provides java.lang.Runnable with app.Main;
}
JAVA
  cat >"$work/src/app/Main.java" <<'JAVA'
package app;

public class Main implements Runnable {
  static class Inner {}

  public void run() {}

  public static void main(String[] args) {
    Runnable r = () -> System.out.println(new Inner() + java.sql.Types.class.getName());
    r.run();
  }
}
JAVA
  javac -d "$work/classes" "$work/src/module-info.java" "$work/src/app/Main.java"
  jar --create --file "$work/app.jar" --main-class app.Main -C "$work/classes" .
  jar --create --no-compress --file "$work/stored.jar" -C "$work/classes" app/Main.class
  (cd "$work/unpacked" && jar --extract --file "$work/app.jar" module-info.class)

  mkdir -p "$corpus"
  rm -f "$corpus"/*
  cp "$work/classes/app/Main.class" "$corpus/main.class"
  cp "$work/unpacked/module-info.class" "$corpus/module-info.class"
  cp "$work/app.jar" "$corpus/app.jar"
  cp "$work/stored.jar" "$corpus/stored.jar"
  echo "make-classes-corpus: $(find "$corpus" -type f | wc -l) seeds in $corpus"
}

main "$@"
