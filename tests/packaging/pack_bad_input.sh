#!/usr/bin/env bash
# launcher-pack with bad input: each case ends with the status it should (1 for an input that
# cannot be used, 2 for a wrong command line), says what it should, naming the input, and leaves
# nothing behind in the output directory (not even its temporary directory).
# usage: pack_bad_input.sh LAUNCHER_PACK JDK OPENJFX_LIB OPENJFX_JNI
set -euo pipefail
# shellcheck source-path=SCRIPTDIR
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
pack=$1 jdk=$2 openjfx=$3 jni=$4

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A tiny application: hello.Hello, which uses the module of greet.Greet, and hello.Window, which
# uses JavaFX.
mkdir -p "$work/src/greet/greet" "$work/src/hello/hello"
cat >"$work/src/greet/module-info.java" <<'EOF'
module greet { exports greet; }
EOF
cat >"$work/src/greet/greet/Greet.java" <<'EOF'
package greet;
public final class Greet { public static String text() { return "hello"; } }
EOF
cat >"$work/src/hello/hello/Hello.java" <<'EOF'
package hello;
public final class Hello { public static void main(String[] a) { System.out.println(greet.Greet.text()); } }
EOF
cat >"$work/src/hello/hello/Window.java" <<'EOF'
package hello;
public final class Window extends javafx.application.Application {
  @Override public void start(javafx.stage.Stage stage) { stage.show(); }
}
EOF
"$jdk/bin/javac" -d "$work/modules/greet" "$work/src/greet/module-info.java" \
  "$work/src/greet/greet/Greet.java"
"$jdk/bin/javac" --module-path "$work/modules:$openjfx" --add-modules greet,javafx.graphics \
  -d "$work/classes" "$work/src/hello/hello/Hello.java" "$work/src/hello/hello/Window.java"
# The same classes without the JavaFX one.
mkdir -p "$work/plain"
cp -R "$work/classes/." "$work/plain/"
rm "$work/plain/hello/Window.class"

# JDKs that lack what jlink needs: one without jlink, one without its modules (jmods); and one
# without its release file, which names its processor.
for kind in no-jlink no-jmods no-release; do
  mkdir -p "$work/$kind/bin"
  for file in "$jdk"/*; do
    [[ $(basename "$file") == bin || ($kind == no-jmods && $(basename "$file") == jmods) ||
       ($kind == no-release && $(basename "$file") == release) ]] || ln -s "$file" "$work/$kind/"
  done
  for tool in "$jdk"/bin/*; do
    [[ $kind == no-jlink && $(basename "$tool") == jlink ]] || ln -s "$tool" "$work/$kind/bin/"
  done
done
# A PATH without dpkg-deb.
mkdir "$work/path-without-dpkg-deb"
for tool in /usr/bin/* /bin/*; do
  [[ $(basename "$tool") == dpkg-deb || -e $work/path-without-dpkg-deb/$(basename "$tool") ]] ||
    ln -s "$tool" "$work/path-without-dpkg-deb/"
done

printf 'not a picture\n' >"$work/icon.txt"
# A PNG header of 48 by 32 pixels.
printf '\x89PNG\r\n\x1a\n\x00\x00\x00\x0dIHDR\x00\x00\x00\x30\x00\x00\x00\x20\x08\x06\x00\x00\x00' \
  >"$work/wide.png"
mkdir -p "$work/taken/hello" "$work/empty"
echo "a file of the user's" >"$work/taken/hello/notes.txt"
: >"$work/taken/hello-file"

common=(--jdk "$jdk" --javafx-modules "$openjfx" --javafx-natives "$jni")
app=(--name hello --main-class hello.Hello --input "$work/plain" --module-path "$work/modules")
count=0
# expect STATUS PATTERN [env VARIABLE=VALUE...] -- ARGUMENT...: launcher-pack with the
# arguments (and the environment changed as env(1) changes it) ends with STATUS and says PATTERN
# (a fixed string) on standard error; its output directory (--dest, default $work/out) holds
# nothing new.
expect() {
  local status=$1 pattern=$2 environment=()
  shift 2
  while [[ $1 != -- ]]; do environment+=("$1"); shift; done
  shift
  rm -rf "$work/out"
  mkdir "$work/out"
  local before actual=0 dest=$work/out argument previous=
  for argument in "$@"; do
    [[ $previous == --dest ]] && dest=$argument
    previous=$argument
  done
  before=$(ls -A "$dest" 2>&1 || true)
  (cd "$work/out" && env "${environment[@]}" "$pack" "$@") >"$work/stdout" 2>"$work/stderr" ||
    actual=$?
  ((actual == status)) ||
    { cat "$work/stdout" "$work/stderr" >&2; fail "$*: ended with $actual, not $status"; }
  grep -qF -- "$pattern" "$work/stderr" ||
    { cat "$work/stderr" >&2; fail "$*: does not say: $pattern"; }
  [[ $(ls -A "$dest" 2>&1 || true) == "$before" ]] ||
    fail "$*: left behind in $dest: $(ls -A "$dest")"
  count=$((count + 1))
}

# The command line.
expect 2 "--name is missing" -- --main-class hello.Hello --input "$work/plain"
expect 2 "--main-class is missing" -- --name hello --input "$work/plain"
expect 2 "neither --input nor --module-path" -- --name hello --main-class hello.Hello
expect 2 "unknown option: --output" -- "${app[@]}" --output x
expect 2 "--icon needs a value" -- "${app[@]}" --icon
expect 2 "--deb takes no value" -- "${app[@]}" --deb=yes

# The JDK.
expect 1 "the JDK $work/no-jlink has no bin/jlink" -- "${app[@]}" --jdk "$work/no-jlink"
expect 1 "the JDK $work/no-jmods has no jmods/java.base.jmod: jlink needs the JDK's modules" -- \
  "${app[@]}" --jdk "$work/no-jmods"
expect 1 "--jdk $work/nowhere: no such directory" -- "${app[@]}" --jdk "$work/nowhere"
expect 1 "the JDK $work/no-release is for the processor \"\" (its release file)" -- \
  "${app[@]}" --jdk "$work/no-release"

# What is not in the application.
expect 1 "--main-class hello.Nope is not in the application: no hello/Nope.class in --input" -- \
  "${common[@]}" --name hello --main-class hello.Nope --input "$work/plain"
expect 1 "--add-modules no.such.module: no such module in the JDK, JavaFX or --module-path" -- \
  "${common[@]}" "${app[@]}" --add-modules no.such.module
expect 1 "the application's classes need classes that are in no module of the JDK, JavaFX or" \
  -- "${common[@]}" --name hello --main-class hello.Hello --input "$work/plain"
expect 1 "greet.Greet (used by hello.Hello)" -- \
  "${common[@]}" --name hello --main-class hello.Hello --input "$work/plain"
expect 1 "--input $work/nowhere: no such directory" -- \
  "${common[@]}" --name hello --main-class hello.Hello --input "$work/nowhere"
expect 1 "--module-path: $work/nowhere: no such file or directory" -- \
  "${common[@]}" "${app[@]}" --module-path "$work/nowhere"

# JavaFX asked for, or used, but not found; its native libraries missing.
expect 1 "--add-modules javafx.controls: JavaFX was asked for but not found: no JavaFX modules in $work/empty (--javafx-modules" \
  -- "${common[@]}" "${app[@]}" --javafx-modules "$work/empty" --add-modules javafx.controls
expect 1 "the application uses JavaFX, but JavaFX was not found: no JavaFX modules in $work/empty" \
  -- "${common[@]}" --name hello --main-class hello.Window --input "$work/classes" \
  --module-path "$work/modules" --javafx-modules "$work/empty"
# Found only once the runtime is linked: the pack stops half-way and removes what it made.
expect 1 "JavaFX's native library libglass.so is not in $work/empty (--javafx-natives" -- \
  "${common[@]}" --name hello --main-class hello.Window --input "$work/classes" \
  --module-path "$work/modules" --javafx-natives "$work/empty"

# Names: what a desktop entry can hold is escaped (see the full pack), what no file or package
# name can be made of is refused unless one is given, what no desktop entry can hold is refused.
for bad in 'AC/DC' '100% Java' 'Café' "It's" 'say "hi"'; do
  expect 1 "--name \"$bad\": no file and package name can be made of it" -- \
    "${common[@]}" "${app[@]}" --name "$bad"
done
expect 1 "--name holds a control character, which a desktop entry cannot hold" -- \
  "${common[@]}" "${app[@]}" --name $'bell\a'
expect 1 "is not valid UTF-8" -- "${common[@]}" "${app[@]}" --name $'caf\xe9'
expect 1 "--linux-package-name \"My App\": a package name is" -- \
  "${common[@]}" "${app[@]}" --linux-package-name "My App"
expect 1 "--main-class \"hello/Hello\" is no class name" -- \
  "${common[@]}" "${app[@]}" --main-class hello/Hello
expect 1 "--app-version \"v1\": a version starts with a digit" -- \
  "${common[@]}" "${app[@]}" --app-version v1
expect 1 "--training-timeout \"0\": a whole number of seconds" -- \
  "${common[@]}" "${app[@]}" --training-timeout 0
expect 1 "--install-dir \"/usr/local\": /usr/lib or /opt" -- \
  "${common[@]}" "${app[@]}" --install-dir /usr/local

# The icon.
expect 1 "--icon $work/icon.txt is not a PNG image" -- "${common[@]}" "${app[@]}" --icon "$work/icon.txt"
expect 1 "--icon $work/wide.png is 48x32 pixels: an icon is square" -- \
  "${common[@]}" "${app[@]}" --icon "$work/wide.png"
expect 1 "--icon $work/none.png: no such file" -- "${common[@]}" "${app[@]}" --icon "$work/none.png"

# Outputs in the way: a directory that no pack made, and a file; both stay as they were.
expect 1 "$work/taken/hello is in the way and is no earlier output of launcher-pack: left alone" \
  -- "${common[@]}" "${app[@]}" --dest "$work/taken"
[[ $(cat "$work/taken/hello/notes.txt") == "a file of the user's" ]] || fail "the user's file changed"
expect 1 "$work/taken/hello-file is in the way and is no earlier output of launcher-pack" -- \
  "${common[@]}" "${app[@]}" --dest "$work/taken" --linux-package-name hello-file
expect 1 "--dest $work/nowhere: no such directory" -- "${common[@]}" "${app[@]}" --dest "$work/nowhere"
expect 1 "--dest $work/plain lies in --input $work/plain: the outputs would be copied into" -- \
  "${common[@]}" "${app[@]}" --dest "$work/plain"

# The package: dpkg-deb missing, no maintainer.
expect 1 "--deb: dpkg-deb not found (Debian: dpkg)" env PATH="$work/path-without-dpkg-deb" -- \
  "${common[@]}" "${app[@]}" --deb --linux-deb-maintainer "Me <me@example.org>"
expect 1 "--deb: the package needs a maintainer" -- "${common[@]}" "${app[@]}" --deb
expect 1 "--linux-deb-maintainer \"me\": Name <address>" -- \
  "${common[@]}" "${app[@]}" --deb --linux-deb-maintainer me
expect 1 "--deb: --name holds a line break, which a package's field cannot hold" -- \
  "${common[@]}" "${app[@]}" --deb --linux-deb-maintainer "Me <me@example.org>" \
  --name $'two\nlines' --linux-package-name two-lines

echo "launcher-pack: $count cases of bad input, each refused with its message and nothing left behind"
