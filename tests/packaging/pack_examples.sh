#!/usr/bin/env bash
# launcher-pack on the project's own examples, and its training runs that do not happen or fail:
#   - the demo (a console program: Main on the class path, its module demo.greeting), packed with a
#     training run asked for where there is no display and no xvfb-run: the pack goes on without
#     one and says so; the program runs from its directory, its desktop entry opens a terminal
#     (it has no window), launcher-check finds no problem, and its runtime holds no JavaFX, maps
#     the plain archive without a word and starts with the Java options given;
#   - the JavaFX example (hello.HelloFx on the class path), whose training run fails (a display
#     that does not exist): the pack says so and keeps the plain archive, which the runtime maps
#     without a word; the example shows its window, and its entry's StartupWMClass is its main
#     class (a successful training run: pack_app.sh and the bundle);
#   - an application whose library is a plain JAR (an automatic module, which jlink cannot link)
#     in a directory whose path holds a blank: the JAR goes to modules/, its module is added, and
#     the application runs.
# usage: pack_examples.sh LAUNCHER_PACK JDK OPENJFX_LIB OPENJFX_JNI SOURCE_DIR
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
pack=$1 jdk=$2 openjfx=$3 jni=$4 source_dir=$5

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
common=(--jdk "$jdk" --javafx-modules "$openjfx" --javafx-natives "$jni")

# expect_plain_archive APP: the runtime maps its archive (-Xshare:on) without a word, and the
# archive's class list is the JDK's alone (no class of JavaFX or of the application).
expect_plain_archive() {
  local out
  out=$(cd "$1" && runtime/bin/java -Xshare:on -Xlog:cds=warning -version 2>&1) ||
    fail "$1: -Xshare:on: $out"
  grep -q '\[warning\]' <<<"$out" && fail "$1: the JVM warned: $out"
  grep -qE '^(javafx|demo|hello)/' "$1/runtime/lib/classlist" &&
    fail "$1: the class list holds classes of a training run"
  true
}

# The demo, with a training run asked for, but no display and no xvfb-run on PATH.
"$jdk/bin/javac" -d "$work/demo/modules/demo.greeting" \
  "$source_dir/examples/demo/greeting/module-info.java" \
  "$source_dir/examples/demo/greeting/demo/greeting/Greeting.java"
"$jdk/bin/javac" --module-path "$work/demo/modules" --add-modules demo.greeting \
  -d "$work/demo/classes" "$source_dir/examples/demo/app/Main.java"
mkdir "$work/bin" "$work/out"
for tool in /usr/bin/* /bin/*; do
  [[ $(basename "$tool") == xvfb-run || -e $work/bin/$(basename "$tool") ]] || ln -s "$tool" "$work/bin/"
done
out=$(env -u DISPLAY -u WAYLAND_DISPLAY PATH="$work/bin" "$pack" "${common[@]}" --name "Demo" \
        --main-class Main --input "$work/demo/classes" --module-path "$work/demo/modules" \
        --training-run --java-options -Dpack.first=stored --java-options=-Dpack.second=too \
        --dest "$work/out" 2>&1) || fail "the demo's pack failed: $out"
grep -qF "no training run: there is no display and no xvfb-run (Debian: xvfb)" <<<"$out" ||
  fail "the pack does not say that there is no training run: $out"
demo=$work/out/demo
[[ $(cat "$demo/init.ini") == $'runtime\nmodules\ndemo.greeting,java.base\nMain' ]] ||
  fail "the demo's init.ini: $(cat "$demo/init.ini")"
ran=$(cd "$demo" && env -i PATH=/usr/bin:/bin ./launcher 2>&1) || fail "the demo: $ran"
[[ $ran == "Hello, launcher, from module demo.greeting!"$'\n'"Class path: $demo//" ]] ||
  fail "the demo printed: $ran"
[[ $(entry_value "$demo/demo.desktop" Terminal) == true && \
   -z $(entry_value "$demo/demo.desktop" StartupWMClass) ]] ||
  fail "the demo's entry does not open a terminal: $(cat "$demo/demo.desktop")"
desktop-file-validate "$demo/demo.desktop" || fail "the demo's entry is not valid"
grep -q 'javafx\|java.desktop' "$demo/runtime/release" && fail "the demo's runtime holds windows"
check_out=$(cd "$demo" && env -i PATH=/usr/bin:/bin ./launcher-check) ||
  fail "launcher-check found a problem in the demo: $check_out"
expect_plain_archive "$demo"
settings=$("$demo/runtime/bin/java" -XshowSettings:properties -version 2>&1)
{ grep -qx ' *pack.first = stored' <<<"$settings" && grep -qx ' *pack.second = too' <<<"$settings"; } ||
  fail "the runtime does not start with the Java options given: $settings"

# The JavaFX example: a training run that fails.
"$jdk/bin/javac" --module-path "$openjfx" --add-modules javafx.controls -d "$work/fx/classes" \
  "$source_dir/examples/javafx/hello/HelloFx.java"
fx=(--name "Hello FX" --main-class hello.HelloFx --input "$work/fx/classes" --training-run
    --training-timeout 60 --dest "$work/out")
out=$(DISPLAY=:nowhere "$pack" "${common[@]}" "${fx[@]}" --java-options -Dpack.fx=yes 2>&1) ||
  fail "the failed training run failed the pack: $out"
grep -qE "the training run failed \(exit status [0-9]+\); the start-up archive holds the JDK's default classes only" \
  <<<"$out" || fail "the pack does not say that the training run failed: $out"
grep -qF "Unable to open DISPLAY" <<<"$out" || fail "the pack does not show what the run wrote: $out"
hello=$work/out/hello-fx
expect_plain_archive "$hello"
settings=$("$hello/runtime/bin/java" -XshowSettings:properties -version 2>&1)
{ grep -qx ' *pack.fx = yes' <<<"$settings" && grep -qx ' *java.library.path = ' <<<"$settings"; } ||
  fail "JavaFX's runtime does not start with an empty java.library.path and the option given"
[[ $(entry_value "$hello/hello-fx.desktop" StartupWMClass) == hello.HelloFx ]] ||
  fail "StartupWMClass is not hello.HelloFx"
ran=$(cd "$hello" && env -i PATH=/usr/bin:/bin xvfb-run -a ./launcher 2>&1) || fail "HelloFx: $ran"
[[ $ran == 'HelloFx showed a window with the label "Hello from JavaFX"' ]] ||
  fail "HelloFx printed: $ran"

# A plain JAR as the application's library, in a directory whose path holds a blank (which java
# names as %20).
mkdir -p "$work/plain/src/lib" "$work/plain/src/app"
echo 'package lib; public class Lib { public static String text() { return "from a plain JAR"; } }' \
  >"$work/plain/src/lib/Lib.java"
echo 'package app; public class Main { public static void main(String[] a) { System.out.println(lib.Lib.text()); } }' \
  >"$work/plain/src/app/Main.java"
"$jdk/bin/javac" -d "$work/plain/lib" "$work/plain/src/lib/Lib.java"
mkdir "$work/plain/jar dir"
"$jdk/bin/jar" --create --file "$work/plain/jar dir/text-lib.jar" -C "$work/plain/lib" .
"$jdk/bin/javac" -cp "$work/plain/jar dir/text-lib.jar" -d "$work/plain/classes" "$work/plain/src/app/Main.java"
out=$("$pack" "${common[@]}" --name plain --main-class app.Main --input "$work/plain/classes" \
        --module-path "$work/plain/jar dir/text-lib.jar" --dest "$work/out" 2>&1) || fail "the plain JAR's pack: $out"
[[ $(ls "$work/out/plain/modules") == text-lib.jar && \
   $(sed -n 3p "$work/out/plain/init.ini") == java.base,text.lib ]] ||
  fail "the plain JAR is not in modules/ and line 3: $(ls "$work/out/plain/modules"), $(cat "$work/out/plain/init.ini")"
ran=$(cd "$work/out/plain" && env -i PATH=/usr/bin:/bin ./launcher 2>&1) || fail "the plain JAR's application: $ran"
[[ $ran == "from a plain JAR" ]] || fail "the plain JAR's application printed: $ran"
echo "pack examples: the demo without a training run, the JavaFX example after a failed one, a" \
  "plain JAR"
